// The legacy raw protocol from the boot loader's side: echoed command lines answered by single
// bytes ("O" or "E"), data blocks with their CRC-32, the burn's "B"/"F"/"E" reports, and the
// two dumps (the oldest loaders' whole stream, and the numbered blocks with "H"/"G" and the
// tool's 9-byte answers).
#include <algorithm>

#include "tools/stbsim/device.h"
#include "tools/stbsim/sim_util.h"

namespace stbsim {
namespace {

constexpr uint32_t kBlock = 1024;
constexpr const char kBlank[] = "BLANKPCK";
constexpr uint32_t kOversizedTable = 4096;  // beyond the tool's 2048-byte table buffer
constexpr uint32_t kOversizedDump = 0x400000;

// Header checks of the block dump: the CRC of the number's four bytes, least significant first.
uint32_t CrcLittleEndian(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return Crc32(b, 4);
}

}  // namespace

void StbDevice::RawByte(uint8_t b, uint64_t now) {
    switch (m_phase) {
        case Phase::kLine:
        case Phase::kBanner:
            LineByte(b, now);
            return;
        case Phase::kRawTransfer:
            RawTransferByte(b, now);
            return;
        case Phase::kRawDumpWaitO:
            if (b != 'O') {
                Violation("whole dump: expected \"O\" before the stream", now);
                m_phase = Phase::kLine;
                return;
            }
            RawSendWholeDump(now);
            return;
        case Phase::kRawBlockWaitH:
            if (b == 'H') {
                RawSendBlockHeader(now);
            } else {
                Violation("block dump: expected \"H\"", now);
            }
            return;
        case Phase::kRawBlockWaitG:
            if (b == 'G') {
                RawSendBlockBody(now);
            } else if (b == 'H') {
                m_phase = Phase::kRawBlockWaitH;  // header refused: the tool asks for it again
            } else {
                Violation("block dump: expected \"G\" or \"H\"", now);
            }
            return;
        case Phase::kRawBlockAnswer:
            m_raw.buffer.push_back(b);
            if (m_raw.buffer.size() == 9) {
                RawBlockAnswer(now);
            }
            return;
        case Phase::kRawBurning:
            Violation("byte from the tool during the burn", now);
            return;
    }
}

void StbDevice::ExecuteRawCommand(const std::string& line, uint64_t now) {
    Log({now, "command", line});
    std::vector<std::string> w = SplitWords(line);
    std::string word = w.empty() ? "" : w[0];
    if (uint32_t code = FailCode(word); code != 0) {
        Fault("fail " + word + " with \"E\"", now);
        if (word != "reboot") {
            Queue({'E'}, now);
        }
        return;
    }
    uint32_t a = 0, b = 0, result = 0;
    if (word == "version" && w.size() == 2 && w[1] == "-r") {
        RawVersion(now);
        return;
    }
    if (word == "reboot" && w.size() == 1) {
        Reboot(now);  // no answer: the boot loader restarts at once
        return;
    }
    if (word == "dump") {
        RawDumpStart(w, now);
        return;
    }
    if (word == "address" && w.size() == 2) {
        result = ParseUnsigned(w[1], &a) ? SetAddress(a) : kStbBadParameter;
    } else if (word == "move" && w.size() == 3) {
        result =
            ParseUnsigned(w[1], &a) && ParseUnsigned(w[2], &b) ? Move(a, b, now) : kStbBadParameter;
    } else if (word == "transferraw" && w.size() == 2) {
        result = ParseUnsigned(w[1], &a) ? CheckStaging(a) : kStbBadParameter;
        if (result == 0) {
            m_raw = RawSession(a, uint32_t(m_staging.size()));
            m_phase = a > 0 ? Phase::kRawTransfer : Phase::kLine;
        }
    } else if (word == "burn" && w.size() == 1) {
        result = StartBurn(now);
        if (result == 0) {
            m_phase = Phase::kRawBurning;
        }
    } else {
        // Not a violation: the tool ends a line whose echo failed with a bare carriage return,
        // which leaves the boot loader a fragment.
        Log({now, "damaged", "unknown command '" + line + "'"});
        result = kCommandNotRecognised;
    }
    Queue({uint8_t(result == 0 ? 'O' : 'E')}, now);
}

// "version -r": [0xB700 + version, 2.1 only] length, table, CRC of the table.
void StbDevice::RawVersion(uint64_t now) {
    Bytes table = ChunkTablePayload();
    if (m_faults.oversizedLength) {
        table.resize(kOversizedTable, 0xFF);
    }
    Bytes reply;
    if (m_profile.generation == StbGeneration::kLegacy21) {
        AppendBe16(reply, uint16_t(0xB700 + m_profile.version));
    }
    AppendBe16(reply, uint16_t(table.size()));
    reply.insert(reply.end(), table.begin(), table.end());
    AppendBe32(reply, Crc32(table));
    Queue(std::move(reply), now);
}

void StbDevice::RawTransferByte(uint8_t b, uint64_t now) {
    m_raw.buffer.push_back(b);
    uint32_t piece = std::min(kBlock, m_raw.total - m_raw.done);
    if (m_raw.buffer.size() < piece + 4) {
        return;
    }
    Bytes block = std::move(m_raw.buffer);
    m_raw.buffer.clear();
    if (m_dice.Roll(m_faults.corruptRx)) {
        block[m_dice.Below(block.size())] ^= 0x10;
        Fault("corrupt-rx transfer block at " + std::to_string(m_raw.done), now);
    }
    bool good = Crc32(block.data(), piece) == ReadBe32(block.data() + piece);
    if (!good) {
        Log({now, "damaged", "transfer block CRC"});
    } else if (m_dice.Roll(m_faults.blockError)) {
        Fault("block at " + std::to_string(m_raw.done) + " answered \"E\"", now);
        good = false;
    }
    if (!good) {
        Queue({'E'}, now);
        return;
    }
    m_staging.insert(m_staging.end(), block.begin(), block.begin() + piece);
    m_raw.done += piece;
    Queue({'O'}, now);
    if (m_raw.done == m_raw.total) {
        SimEvent e{now, "transfer", "raw"};
        e.length = e.wireLength = m_raw.total;
        e.sha256 = Sha256Hex(m_staging.data() + m_raw.start, m_raw.total);
        Log(e);
        m_phase = Phase::kLine;
    }
}

// "dump" sends the whole flash as one stream; "dump S N" the numbered blocks (not known to the
// oldest loaders). The block dump's total goes first from a 2.0 loader, or when N is 0.
void StbDevice::RawDumpStart(const std::vector<std::string>& w, uint64_t now) {
    if (w.size() == 1) {
        Bytes reply;
        AppendBe32(reply, m_faults.oversizedLength ? kOversizedDump : uint32_t(m_flash.size()));
        Queue(std::move(reply), now);
        m_phase = Phase::kRawDumpWaitO;
        return;
    }
    uint32_t start = 0, size = 0;
    uint32_t result = m_profile.generation == StbGeneration::kOldest
                          ? kCommandNotRecognised
                          : ParseDumpRange(w, &start, &size);
    if (result != 0) {
        Queue({'E'}, now);
        return;
    }
    m_raw = RawSession(size, start);
    if (m_profile.generation == StbGeneration::kLegacy20 || w[2] == "0") {
        Bytes total;
        AppendBe32(total, m_faults.oversizedLength ? kOversizedDump : size);
        Queue(std::move(total), now);
    }
    m_phase = Phase::kRawBlockWaitH;
}

void StbDevice::RawSendWholeDump(uint64_t now) {
    Bytes stream = m_flash;
    bool early =
        m_faults.dumpEndAfter >= 0 && size_t(m_faults.dumpEndAfter) * kBlock < stream.size();
    if (early) {
        stream.resize(size_t(m_faults.dumpEndAfter) * kBlock);
        Fault("whole dump ends after " + std::to_string(stream.size()) + " bytes", now);
    } else {
        AppendBe32(stream, Crc32(m_flash));
        SimEvent e{now, "dump", "stream", 0, 0, m_flash.size()};
        e.sha256 = Sha256Hex(m_flash);
        Log(e);
    }
    Queue(std::move(stream), now);
    m_phase = Phase::kLine;
}

void StbDevice::RawSendBlockHeader(uint64_t now) {
    if (m_faults.dumpEndAfter >= 0 && m_raw.block >= uint32_t(m_faults.dumpEndAfter)) {
        Fault("block dump falls silent before block " + std::to_string(m_raw.block), now);
        m_phase = Phase::kLine;
        return;
    }
    uint32_t length = std::min(kBlock, m_raw.total - m_raw.block * kBlock);
    uint32_t announced = m_faults.oversizedLength ? 4 * kBlock : length;
    Bytes header;
    AppendBe32(header, m_raw.block);
    AppendBe32(header, announced);
    if (m_profile.generation == StbGeneration::kLegacy21) {
        AppendBe32(header, CrcLittleEndian(m_raw.block));
        AppendBe32(header, CrcLittleEndian(announced));
        Queue(std::move(header), now);
        m_phase = Phase::kRawBlockWaitG;
        return;
    }
    Queue(std::move(header), now);
    RawSendBlockBody(now);
}

void StbDevice::RawSendBlockBody(uint64_t now) {
    uint32_t length = std::min(kBlock, m_raw.total - m_raw.block * kBlock);
    const uint8_t* p = m_flash.data() + m_raw.start + m_raw.block * kBlock;
    Bytes body;
    if (std::all_of(p, p + length, [](uint8_t c) { return c == 0xFF; })) {
        Append(body, kBlank);
        AppendBe32(body, Crc32(reinterpret_cast<const uint8_t*>(kBlank), 8));
    } else {
        body.assign(p, p + length);
        AppendBe32(body, Crc32(p, length));
        if (m_dice.Roll(m_faults.corruptTx)) {
            body[m_dice.Below(length)] ^= 0x01;
            Fault("corrupt-tx dump block " + std::to_string(m_raw.block), now);
        }
    }
    Queue(std::move(body), now);
    m_raw.buffer.clear();
    m_phase = Phase::kRawBlockAnswer;
}

// The tool's answer: "O" or "E", the block number, the CRC of those five bytes.
void StbDevice::RawBlockAnswer(uint64_t now) {
    const Bytes& a = m_raw.buffer;
    bool sound = Crc32(a.data(), 5) == ReadBe32(a.data() + 5) &&
                 ReadBe32(a.data() + 1) == m_raw.block && (a[0] == 'O' || a[0] == 'E');
    if (!sound) {
        Violation("block dump: malformed answer to block " + std::to_string(m_raw.block), now);
    }
    m_phase = Phase::kRawBlockWaitH;
    if (!sound || a[0] != 'O') {
        return;  // the same block again on the next "H"
    }
    uint32_t length = std::min(kBlock, m_raw.total - m_raw.block * kBlock);
    m_raw.done += length;
    ++m_raw.block;
    if (m_raw.done >= m_raw.total) {
        SimEvent e{now, "dump", "blocks", 0, m_raw.start, m_raw.total};
        e.sha256 = Sha256Hex(m_flash.data() + m_raw.start, m_raw.total);
        Log(e);
        m_phase = Phase::kLine;
    }
}

}  // namespace stbsim
