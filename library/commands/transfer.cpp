// The transfer of one block of image data: numbered data packets of up to 1024 bytes, each
// acknowledged by a status packet, with asking after a failure; or, under the legacy protocol,
// raw blocks each followed by its CRC and answered by one byte.
#include <climits>
#include <cstdio>

#include "library/commands/commands.h"
#include "library/link/bytes.h"
#include "library/link/state.h"

namespace {

constexpr unsigned kTransferLimitMs = 1000;
constexpr unsigned kAckLimitMs = 1500;
constexpr unsigned kRawAckLimitMs = 1000;
constexpr unsigned kRawBlockLimitMs = 10000;
constexpr int kRawBlockAttempts = 5;

// Sends `length` bytes in numbered packets after the transfer line was accepted.
int SendPackets(const unsigned char* data, uint32_t length, UpgProgressFn progress,
                UpgCancelFn cancel) {
    uint32_t sent = 0;
    uint32_t number = 1;
    unsigned failures = 0;
    bool asking = false;
    while (sent < length) {
        if (CancelRequested(cancel)) {
            SendStatusPacket(STATUS_CANCEL, 0);
            return UPG_ERR_CANCELLED;
        }
        if (failures > 0)
            ComPurgeTx();
        uint32_t piece = length - sent < TRANSFER_PIECE ? length - sent : TRANSFER_PIECE;
        int sendResult =
            asking ? SendRequestPacket(number) : SendDataPacket(number, data + sent, piece);
        if (sendResult != UPG_OK)
            return UPG_ERR_SEND_PACKET;

        Packet reply;
        uint8_t status = 0;
        uint32_t value = 0;
        bool answered = ReceivePacket(&reply, kAckLimitMs) == UPG_OK &&
                        reply.serial == CommandSerial() && ReadStatusReply(reply, &status, &value);
        if (answered && status == STATUS_DONE) {
            asking = false;
            if (value == number) {
                sent += piece;
                ++number;
                // Below 2^32 / 100 bytes the product stays within 32 bits.
                ReportProgress(progress, static_cast<int>(uint64_t{sent} * 100 / length));
            }
            EndFailureStreak(&failures);
            continue;
        }
        if (answered && status == STATUS_FINISHED) {
            ReportProgress(progress, 100);
            return UPG_OK;
        }
        if (answered && status == STATUS_FAILED && value >= STB_FAILURE_BASE) {
            return static_cast<int>(value);
        }
        asking = true;
        ++failures;
        LogPacketFailure("download", failures, number);
    }
    return UPG_OK;
}

}  // namespace

int CmdTransfer(unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel) {
    if (length < 0)
        return UPG_ERR_GENERIC;
    int sendLength = length;
    char line[256];
    // The caller's buffer has room for twice the data: an encoded form up to that size is sent
    // as it is, even when it came out longer than the data.
    int room = length <= INT_MAX / 2 ? 2 * length : length;
    if (CompressData(data, length, &sendLength, room) == UPG_OK) {
        std::snprintf(line, sizeof line, "transfer -z %d %d\r", length, sendLength);
    } else {
        sendLength = length;
        std::snprintf(line, sizeof line, "transfer %d\r", length);
    }
    int result = ExecCommand(line, kTransferLimitMs, nullptr);
    if (result != UPG_OK)
        return result;
    return SendPackets(data, static_cast<uint32_t>(sendLength), progress, cancel);
}

int RawTransfer(const unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel) {
    if (length < 0)
        return UPG_ERR_GENERIC;
    char line[256];
    std::snprintf(line, sizeof line, "transferraw %d\r", length);
    int result = RawCommand(line, kRawAckLimitMs);
    if (result != UPG_OK)
        return result;

    int sent = 0;
    int failures = 0;
    while (sent < length && failures < kRawBlockAttempts) {
        if (CancelRequested(cancel))
            return UPG_ERR_CANCELLED;
        int piece = length - sent < TRANSFER_PIECE ? length - sent : TRANSFER_PIECE;
        unsigned char check[4];
        WriteBe32(check, Crc32Update(0xFFFFFFFFu, data + sent, piece));
        if (ComWrite(data + sent, piece) != piece || ComWrite(check, 4) != 4) {
            return UPG_ERR_SEND_DATA;
        }
        unsigned char answer = 0;
        if (ComReadExact(&answer, 1, kRawBlockLimitMs) != 0)
            return UPG_ERR_TIMEOUT;
        if (answer == 'O') {
            sent += piece;
            failures = 0;
            ReportProgress(progress, static_cast<int>(int64_t{sent} * 100 / length));
        } else if (answer == 'E') {
            ++failures;
        } else {
            return UPG_ERR_UNRECOGNISED_REPLY;
        }
    }
    return failures >= kRawBlockAttempts ? UPG_ERR_RETRIES : UPG_OK;
}

int UpgTransfer(unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel) {
    if (UsePacketProtocol())
        return CmdTransfer(data, length, progress, cancel);
    return RawTransfer(data, length, progress, cancel);
}
