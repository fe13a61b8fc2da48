// The dump of flash contents into the caller's buffer. The packet protocol pulls the data
// packet by packet, asking for each by number. The oldest legacy loaders (below 0x20) send the
// whole flash as one stream; later ones send numbered blocks that the tool answers one by one.
// Erased blocks travel in short form and are expanded to 0xFF here.
#include <cstdio>
#include <cstring>

#include "library/commands/commands.h"
#include "library/link/bytes.h"
#include "library/link/state.h"

namespace {

constexpr unsigned kDumpLimitMs = 1000;
constexpr unsigned kPacketLimitMs = 2000;
constexpr int kProvisionalTotal = 0x200000;
constexpr unsigned kRawLengthLimitMs = 1000;
constexpr unsigned kRawByteLimitMs = 500;
constexpr unsigned kRawCheckLimitMs = 1000;
constexpr unsigned kRawHeaderLimitMs = 1000;
constexpr unsigned kRawHeaderCheckLimitMs[2] = {1000, 2000};
constexpr unsigned kRawBodyStartLimitMs = 1000;
constexpr unsigned kRawBodyRestLimitMs = 2000;
constexpr unsigned kRawBodyCheckLimitMs = 1000;
constexpr int kRawProgressEvery = 1024;
// Block headers carry their own checks from this version on; the total is read up to 0x20.
constexpr int kHeaderChecksFrom = 0x21;
constexpr uint32_t kBlockSize = 1024;
constexpr char kBlankMarker[8] = {'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K'};
constexpr uint32_t kBlankForm = sizeof kBlankMarker + 4;

int Percent(int64_t part, int64_t whole) {
    return static_cast<int>(part * 100 / whole);
}

// A length from the STB that the buffer cannot take.
bool TotalFits(int64_t total, int capacity) {
    return total >= 0 && total <= capacity;
}

enum class DumpStep { kGoOn, kFailed, kEnd };

// One reply of the packet dump. *result is set for kEnd.
DumpStep TakeDumpPacket(const Packet& packet, unsigned char* buffer, int capacity, int* length,
                        int* received, uint32_t* number, int* result) {
    uint8_t status = 0;
    uint32_t value = 0;
    if (ReadStatusReply(packet, &status, &value)) {
        if (status == STATUS_FAILED) {
            *result = value != 0 ? static_cast<int>(value) : UPG_ERR_DUMP;
            return DumpStep::kEnd;
        }
        if (status == STATUS_FINISHED) {
            *result = UPG_STB_DUMP_INCOMPLETE;
            return DumpStep::kEnd;
        }
        return DumpStep::kFailed;
    }
    if (packet.type != PACKET_DATA || packet.length < 4)
        return DumpStep::kFailed;
    uint32_t n = ReadBe32(packet.data);
    if (*number == 0 && n == 0) {
        if (packet.length < 8)
            return DumpStep::kFailed;
        uint32_t total = ReadBe32(packet.data + 4);
        if (total == 0 || !TotalFits(total, capacity)) {
            *result = total == 0 ? UPG_ERR_GENERIC : UPG_ERR_DUMP_LENGTH;
            return DumpStep::kEnd;
        }
        *length = static_cast<int>(total);
        *number = 1;
        return DumpStep::kGoOn;
    }
    if (*number == 0 || n != *number)
        return DumpStep::kFailed;
    uint32_t piece = packet.length - 4;
    if (!TotalFits(int64_t{*received} + piece, capacity)) {
        *result = UPG_ERR_DUMP_LENGTH;
        return DumpStep::kEnd;
    }
    std::memcpy(buffer + *received, packet.data + 4, piece);
    *received += static_cast<int>(piece);
    ++*number;
    return DumpStep::kGoOn;
}

// Reads a 4-byte big-endian number within the limit.
bool ReadNumber(unsigned limitMs, uint32_t* value) {
    unsigned char bytes[4];
    if (ComReadExact(bytes, 4, limitMs) != 0)
        return false;
    *value = ReadBe32(bytes);
    return true;
}

// The block header's check: the CRC of the number's bytes, least significant first.
uint32_t HeaderCheck(uint32_t value) {
    unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return Crc32Update(0xFFFFFFFFu, bytes, 4);
}

enum class Header { kGood, kBad, kSilent, kWriteFailed };

// Asks for a block header and reads its number and length, with their checks from 0x21 on.
Header ReadBlockHeader(uint32_t* number, uint32_t* length) {
    if (ComWriteByte('H') != 1)
        return Header::kWriteFailed;
    if (!ReadNumber(kRawHeaderLimitMs, number) || !ReadNumber(kRawHeaderLimitMs, length)) {
        return Header::kSilent;
    }
    if (LegacyProtocolVersion() < kHeaderChecksFrom)
        return Header::kGood;
    uint32_t checks[2];
    if (!ReadNumber(kRawHeaderCheckLimitMs[0], &checks[0]) ||
        !ReadNumber(kRawHeaderCheckLimitMs[1], &checks[1])) {
        return Header::kSilent;
    }
    bool match = checks[0] == HeaderCheck(*number) && checks[1] == HeaderCheck(*length);
    if (ComWriteByte(match ? 'G' : 'H') != 1)
        return Header::kWriteFailed;
    return match ? Header::kGood : Header::kBad;
}

// Reads a block body of `length` bytes (at most kBlockSize) into `block`: either the blank form
// ("BLANKPCK" and its CRC) or the contents followed by their CRC. True for a good block, whose
// contents `block` then holds. A block shorter than the blank form is read by its own length.
bool ReadBlockBody(uint32_t length, unsigned char* block) {
    unsigned char body[kBlockSize + 4] = {};
    uint32_t plain = length + 4;
    uint32_t first = plain < kBlankForm ? plain : kBlankForm;
    if (ComReadExact(body, static_cast<int>(first), kRawBodyStartLimitMs) != 0)
        return false;
    if (std::memcmp(body, kBlankMarker, first < 8 ? first : 8) == 0) {
        // The blank form, or the start of it: a block of erased flash.
        if (first < kBlankForm && ComReadExact(body + first, static_cast<int>(kBlankForm - first),
                                               kRawBodyCheckLimitMs) != 0) {
            return false;
        }
        if (ReadBe32(body + 8) != Crc32Update(0xFFFFFFFFu, body, 8))
            return false;
        std::memset(block, 0xFF, length);
        return true;
    }
    uint32_t dataRest = length > first ? length - first : 0;
    if (ComReadExact(body + first, static_cast<int>(dataRest), kRawBodyRestLimitMs) != 0)
        return false;
    uint32_t have = first + dataRest;
    if (ComReadExact(body + have, static_cast<int>(plain - have), kRawBodyCheckLimitMs) != 0) {
        return false;
    }
    if (ReadBe32(body + length) != Crc32Update(0xFFFFFFFFu, body, static_cast<int>(length))) {
        return false;
    }
    std::memcpy(block, body, length);
    return true;
}

// The tool's answer to a block: the letter, the block number and the CRC of those five bytes.
bool AnswerBlock(char letter, uint32_t number) {
    unsigned char answer[9];
    answer[0] = static_cast<unsigned char>(letter);
    WriteBe32(answer + 1, number);
    WriteBe32(answer + 5, Crc32Update(0xFFFFFFFFu, answer, 5));
    return ComWrite(answer, 9) == 9;
}

}  // namespace

int CmdDump(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
            UpgCancelFn cancel, unsigned start, unsigned size) {
    char line[256];
    std::snprintf(line, sizeof line, "dump %u %u\r", start, size);
    int result = ExecCommand(line, kDumpLimitMs, nullptr);
    if (result != UPG_OK)
        return result;

    *length = kProvisionalTotal;
    int received = 0;
    uint32_t number = 0;
    unsigned failures = 0;
    while (received < *length) {
        if (CancelRequested(cancel)) {
            SendStatusPacket(STATUS_CANCEL, 0);
            return UPG_ERR_CANCELLED;
        }
        if (failures > 0)
            ComPurgeTx();
        if (SendRequestPacket(number) != UPG_OK)
            return UPG_ERR_SEND_PACKET;
        Packet packet;
        DumpStep step = DumpStep::kFailed;
        if (ReceivePacket(&packet, kPacketLimitMs) == UPG_OK && packet.serial == CommandSerial()) {
            uint32_t wanted = number;
            step = TakeDumpPacket(packet, buffer, capacity, length, &received, &number, &result);
            if (step == DumpStep::kEnd)
                return result;
            if (step == DumpStep::kGoOn && wanted > 0) {
                EndFailureStreak(&failures);
                ReportProgress(progress, Percent(received, *length));
            }
        }
        if (step == DumpStep::kFailed) {
            ++failures;
            LogPacketFailure("dump", failures, number);
        }
    }
    return UPG_OK;
}

int RawDumpAll(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
               UpgCancelFn cancel) {
    int result = RawSendLine("dump\r", true);
    if (result != UPG_OK)
        return result;
    uint32_t total = 0;
    if (!ReadNumber(kRawLengthLimitMs, &total))
        return UPG_ERR_TIMEOUT;
    *length = static_cast<int>(total);
    if (!TotalFits(*length, capacity))
        return UPG_ERR_DUMP_LENGTH;
    if (ComWriteByte('O') != 1)
        return UPG_ERR_TARGET_FAILED;
    for (int i = 0; i < *length; ++i) {
        if (CancelRequested(cancel))
            return UPG_ERR_CANCELLED;
        if (ComReadExact(buffer + i, 1, kRawByteLimitMs) != 0)
            return UPG_ERR_TIMEOUT;
        if (i % kRawProgressEvery == 0 || i + 1 == *length) {
            ReportProgress(progress, Percent(i + 1, *length));
        }
    }
    uint32_t check = 0;
    // A missing check still leaves a good dump; a wrong one does not.
    if (!ReadNumber(kRawCheckLimitMs, &check))
        return UPG_OK;
    return check == Crc32Update(0xFFFFFFFFu, buffer, *length) ? UPG_OK : UPG_ERR_READ_DATA;
}

int RawDumpBlocks(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
                  UpgCancelFn cancel, unsigned start, unsigned size) {
    char line[256];
    std::snprintf(line, sizeof line, "dump %u %u\r", start, size);
    int result = RawSendLine(line, true);
    if (result != UPG_OK)
        return result;
    int64_t total = size;
    if (size == 0 || LegacyProtocolVersion() <= UPG_PROTOCOL_LEGACY) {
        uint32_t announced = 0;
        if (!ReadNumber(kRawLengthLimitMs, &announced))
            return UPG_ERR_TIMEOUT;
        total = static_cast<int32_t>(announced);
    }
    if (!TotalFits(total, capacity))
        return UPG_ERR_DUMP_LENGTH;
    *length = static_cast<int>(total);

    int received = 0;
    unsigned char block[kBlockSize];
    while (received < *length) {
        if (CancelRequested(cancel))
            return UPG_ERR_CANCELLED;
        uint32_t number = 0;
        uint32_t blockLength = 0;
        Header header = ReadBlockHeader(&number, &blockLength);
        if (header == Header::kWriteFailed)
            return UPG_ERR_SEND_DATA;
        if (header == Header::kSilent)
            return UPG_ERR_TIMEOUT;
        if (header == Header::kBad)
            continue;
        // A block must fit the block buffer and its place in the destination.
        if (blockLength > kBlockSize ||
            uint64_t{number} * kBlockSize + blockLength > static_cast<uint64_t>(capacity)) {
            return UPG_ERR_DUMP_LENGTH;
        }
        bool good = ReadBlockBody(blockLength, block);
        if (good) {
            std::memcpy(buffer + uint64_t{number} * kBlockSize, block, blockLength);
            received += static_cast<int>(blockLength);
            ReportProgress(progress, Percent(received, *length));
        }
        if (!AnswerBlock(good ? 'O' : 'E', number))
            return UPG_ERR_SEND_DATA;
    }
    return UPG_OK;
}

int RawDump(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
            UpgCancelFn cancel, unsigned start, unsigned size) {
    if (LegacyProtocolVersion() < UPG_PROTOCOL_LEGACY) {
        return RawDumpAll(buffer, capacity, length, progress, cancel);
    }
    return RawDumpBlocks(buffer, capacity, length, progress, cancel, start, size);
}

int UpgDump(unsigned char* buffer, int* length, UpgProgressFn progress, UpgCancelFn cancel,
            unsigned start, unsigned size) {
    if (UsePacketProtocol()) {
        return CmdDump(buffer, UPG_DUMP_CAPACITY, length, progress, cancel, start, size);
    }
    return RawDump(buffer, UPG_DUMP_CAPACITY, length, progress, cancel, start, size);
}
