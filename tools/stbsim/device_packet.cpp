// The packet protocol from the boot loader's side: "HEAD" frames with header and data CRCs,
// command packets with serial numbers (a resent serial is answered again, never executed
// twice), status and data replies, the numbered transfer and the requested dump.
#include <algorithm>
#include <climits>

#include "tools/stbsim/device.h"
#include "tools/stbsim/lzma_decode.h"
#include "tools/stbsim/sim_util.h"

namespace stbsim {
namespace {

constexpr size_t kHeaderSize = 19;
constexpr size_t kMaxData = 2044;  // what the tool's packet record holds besides the CRC
constexpr uint32_t kPiece = 1024;
constexpr const char kMagic[] = "HEAD";
constexpr size_t kOversizedData = 3000;

enum : uint8_t { kCommand = 0, kData = 1, kRequest = 2, kStatus = 3 };

std::string Num(uint64_t v) {
    return std::to_string(v);
}

bool AllErased(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Framing.

void StbDevice::PacketByte(uint8_t b, uint64_t now) {
    if (m_rx.empty()) {
        if (b == 'H') {
            m_rx.push_back(b);
        } else {
            PacketModeText(b, now);
        }
        return;
    }
    m_rx.push_back(b);
    size_t n = m_rx.size();
    if (n <= 4) {
        if (b != uint8_t(kMagic[n - 1])) {
            m_rx.clear();
            if (b == 'H') {
                m_rx.push_back(b);
            }
        }
        return;
    }
    if (n == kHeaderSize) {
        uint32_t length = ReadBe32(&m_rx[11]);
        bool headerOk = Crc32(&m_rx[4], 11) == ReadBe32(&m_rx[15]);
        if (!headerOk || length > kMaxData) {
            Log({now, headerOk ? "violation" : "damaged",
                 headerOk ? "packet announces " + Num(length) + " data bytes" : "header CRC"});
            // Hunt again from the byte after the magic: a real header may start inside.
            Bytes rest(m_rx.begin() + 4, m_rx.end());
            m_rx.clear();
            for (uint8_t r : rest) {
                PacketByte(r, now);
            }
        }
        return;
    }
    if (n > kHeaderSize && n == kHeaderSize + ReadBe32(&m_rx[11]) + 4) {
        PacketComplete(now);
    }
}

void StbDevice::PacketComplete(uint64_t now) {
    Bytes frame = std::move(m_rx);
    m_rx.clear();
    if (m_dice.Roll(m_faults.dropRx)) {
        Fault("drop-rx type " + Num(frame[4]) + " serial " + Num(ReadBe32(&frame[6])), now);
        return;
    }
    if (m_dice.Roll(m_faults.corruptRx)) {
        size_t at = 4 + m_dice.Below(frame.size() - 4);
        frame[at] ^= uint8_t(1u << m_dice.Below(8));
        Fault("corrupt-rx byte " + Num(at), now);
    }
    uint32_t length = ReadBe32(&frame[11]);
    const uint8_t* data = frame.data() + kHeaderSize;
    if (Crc32(&frame[4], 11) != ReadBe32(&frame[15]) ||
        Crc32(data, length) != ReadBe32(data + length)) {
        Log({now, "damaged", "packet CRC"});
        return;
    }
    if (frame[5] != 0) {
        Violation("the tool set the blank flag", now);
    }
    HandlePacket(frame[4], ReadBe32(&frame[6]), frame[10], Bytes(data, data + length), now);
}

void StbDevice::SendPacket(uint8_t type, uint8_t blank, uint32_t serial, uint8_t retry,
                           const Bytes& data, uint64_t now, size_t wireDataLength) {
    Bytes frame(kHeaderSize);
    std::copy(kMagic, kMagic + 4, frame.begin());
    frame[4] = type;
    frame[5] = blank;
    WriteBe32(&frame[6], serial);
    frame[10] = retry;
    WriteBe32(&frame[11], uint32_t(data.size()));
    WriteBe32(&frame[15], Crc32(&frame[4], 11));
    size_t wire = std::min(wireDataLength, data.size());
    frame.insert(frame.end(), data.begin(), data.begin() + wire);
    AppendBe32(frame, Crc32(data.data(), wire));
    std::string what = "type " + Num(type) + " serial " + Num(serial);
    if (m_dice.Roll(m_faults.dropTx)) {
        Fault("drop-tx " + what, now);
        return;
    }
    if (m_dice.Roll(m_faults.corruptTx)) {
        size_t at = m_dice.Below(frame.size());
        frame[at] ^= uint8_t(1u << m_dice.Below(8));
        Fault("corrupt-tx " + what + " byte " + Num(at), now);
    }
    if (m_dice.Roll(m_faults.noise)) {
        Bytes noise(1 + m_dice.Below(8));
        for (uint8_t& c : noise) {
            c = uint8_t(m_dice.Below(256));
            if (c == 'H') {
                c = 'h';
            }
        }
        frame.insert(frame.begin(), noise.begin(), noise.end());
        Fault("noise " + Num(noise.size()) + " bytes before " + what, now);
    }
    Queue(std::move(frame), now);
}

void StbDevice::SendStatus(uint8_t status, uint32_t value, uint32_t serial, uint8_t retry,
                           uint64_t now) {
    Bytes data{status};
    AppendBe32(data, value);
    SendPacket(kStatus, 0, serial, retry, data, now);
}

// ---------------------------------------------------------------------------------------------
// Packets and commands.

void StbDevice::HandlePacket(uint8_t type, uint32_t serial, uint8_t retry, const Bytes& data,
                             uint64_t now) {
    m_burn.repeatsLeft = 0;
    switch (type) {
        case kCommand:
            HandleCommand(std::string(data.begin(), data.end()), serial, retry, now);
            return;
        case kData:
            if (!m_transfer.active || serial != m_transfer.serial || data.size() < 4) {
                Violation("data packet of serial " + Num(serial) + " outside a transfer", now);
                return;
            }
            TransferData(ReadBe32(data.data()), data.data() + 4, data.size() - 4, retry, now);
            return;
        case kRequest:
            if (data.size() != 4) {
                Violation("request packet of " + Num(data.size()) + " bytes", now);
            } else if (m_transfer.active && serial == m_transfer.serial) {
                TransferRequest(ReadBe32(data.data()), retry, now);
            } else if (m_dump.active && serial == m_dump.serial) {
                DumpRequest(ReadBe32(data.data()), retry, now);
            } else {
                Violation("request packet of serial " + Num(serial) + " outside a transfer or dump",
                          now);
            }
            return;
        case kStatus:
            if (data.size() == 5 && data[0] == 4) {
                CancelSessions("cancelled by the tool", now);
            } else {
                Violation("status packet from the tool that is not a cancel", now);
            }
            return;
        default:
            Violation("packet of unknown type " + Num(type), now);
    }
}

void StbDevice::HandleCommand(const std::string& line, uint32_t serial, uint8_t retry,
                              uint64_t now) {
    std::string text = line;
    if (text.empty() || text.back() != '\r') {
        Violation("command packet without a carriage return", now);
    } else {
        text.pop_back();
    }
    if (m_haveLast && serial == m_lastSerial) {
        if (text == m_lastLine) {
            Log({now, "repeat", text, serial});
            if (m_lastWasBurn) {
                SendBurnState(serial, retry, now, false);
            } else {
                SendPacket(m_lastReplyType, 0, serial, retry, m_lastReplyData, now);
            }
            return;
        }
        Violation("serial " + Num(serial) + " reused for another command", now);
    }
    ExecutePacketCommand(text, serial, retry, now);
}

void StbDevice::ExecutePacketCommand(const std::string& text, uint32_t serial, uint8_t retry,
                                     uint64_t now) {
    Log({now, "command", text, serial});
    if (m_burn.active && !m_burn.done) {
        Violation("command while the flash is being burnt", now);
    }
    CancelSessions("abandoned by a new command", now);
    std::vector<std::string> w = SplitWords(text);
    std::string word = w.empty() ? "" : w[0];
    uint32_t result = FailCode(word);
    bool dataReply = false;
    bool reboot = false;
    Bytes data(4, 0);  // a data reply: packet number 0, then the payload
    uint32_t a = 0, b = 0;
    m_lastWasBurn = false;
    if (result != 0) {
        Fault("fail " + word + " with " + Num(result), now);
    } else if (word == "version" && w.size() == 1) {
        AppendBe32(data, m_profile.version);
        dataReply = true;
    } else if (word == "chunk" && w.size() == 1) {
        Bytes table = ChunkTablePayload();
        data.insert(data.end(), table.begin(), table.end());
        dataReply = true;
    } else if (word == "address" && w.size() == 2) {
        result = ParseUnsigned(w[1], &a) ? SetAddress(a) : kStbBadParameter;
    } else if (word == "move" && w.size() == 3) {
        result =
            ParseUnsigned(w[1], &a) && ParseUnsigned(w[2], &b) ? Move(a, b, now) : kStbBadParameter;
    } else if (word == "transfer") {
        result = StartPacketTransfer(w, serial);
    } else if (word == "burn" && w.size() == 1) {
        result = StartBurn(now);
        if (result == 0) {
            m_burn.serial = serial;
            m_burn.retry = retry;
            m_lastWasBurn = true;
        }
    } else if (word == "reboot" && w.size() == 1) {
        reboot = true;
    } else if (word == "dump") {
        result = ParseDumpRange(w, &a, &b);
        if (result == 0) {
            m_dump = PacketDump{true, serial, a, b, 0};
        }
    } else {
        Violation("unknown command '" + text + "'", now);
        result = kCommandNotRecognised;
    }
    if (dataReply && m_faults.oversizedLength) {
        data.resize(kOversizedData, 0);
    }
    m_haveLast = true;
    m_lastSerial = serial;
    m_lastLine = text;
    m_lastReplyType = dataReply ? kData : kStatus;
    if (!dataReply) {
        data = {uint8_t(result == 0 ? 0 : 1)};
        AppendBe32(data, result);
    }
    m_lastReplyData = data;
    SendPacket(m_lastReplyType, 0, serial, retry, data, now);
    if (reboot) {
        Reboot(now);
    }
}

// "transfer N" or "transfer -z U C": U bytes for staging, of which C travel (LZMA when -z).
uint32_t StbDevice::StartPacketTransfer(const std::vector<std::string>& w, uint32_t serial) {
    uint32_t raw = 0, wire = 0;
    bool compressed = w.size() == 4 && w[1] == "-z";
    if (compressed ? !ParseUnsigned(w[2], &raw) || !ParseUnsigned(w[3], &wire)
                   : w.size() != 2 || !ParseUnsigned(w[1], &raw)) {
        return kStbBadParameter;
    }
    if (!compressed) {
        wire = raw;
    }
    if (uint32_t code = CheckStaging(raw); code != 0) {
        return code;
    }
    if (wire > 2 * m_flash.size() || (raw == 0) != (wire == 0)) {
        return kStbNoBuffer;
    }
    m_transfer = PacketTransfer{};
    m_transfer.active = true;
    m_transfer.compressed = compressed;
    m_transfer.serial = serial;
    m_transfer.rawLength = raw;
    m_transfer.wireLength = wire;
    m_transfer.stagingMark = m_staging.size();
    if (wire == 0) {
        FinishPacketTransfer(m_lastNow);
    }
    return 0;
}

void StbDevice::TransferData(uint32_t number, const uint8_t* piece, size_t count, uint8_t retry,
                             uint64_t now) {
    PacketTransfer& t = m_transfer;
    if (t.complete) {
        SendStatus(t.failCode ? 1 : 3, t.failCode, t.serial, retry, now);
        return;
    }
    if (number != t.nextPacket) {
        if (number > t.nextPacket) {
            Violation("data packet " + Num(number) + " while " + Num(t.nextPacket) + " is due",
                      now);
        }
        // Already held (a lost acknowledgement), or a gap: name what we have.
        SendStatus(0, number < t.nextPacket ? number : t.nextPacket - 1, t.serial, retry, now);
        return;
    }
    size_t remaining = t.wireLength - t.wire.size();
    if (count != std::min<size_t>(kPiece, remaining)) {
        Violation("data packet " + Num(number) + " carries " + Num(count) + " bytes", now);
    }
    if (count > remaining) {
        t.complete = true;
        t.failCode = kStbNoBuffer;
        m_staging.resize(t.stagingMark);
        SendStatus(1, t.failCode, t.serial, retry, now);
        return;
    }
    t.wire.insert(t.wire.end(), piece, piece + count);
    ++t.nextPacket;
    if (t.wire.size() == t.wireLength) {
        FinishPacketTransfer(now);
    } else {
        SendStatus(0, number, t.serial, retry, now);
    }
}

// The tool asks whether a packet arrived: status 0 with its number if so, else with the number
// of the last packet held, so that the tool sends it again.
void StbDevice::TransferRequest(uint32_t number, uint8_t retry, uint64_t now) {
    PacketTransfer& t = m_transfer;
    if (t.complete) {
        SendStatus(t.failCode ? 1 : 3, t.failCode, t.serial, retry, now);
        return;
    }
    SendStatus(0, number < t.nextPacket ? number : t.nextPacket - 1, t.serial, retry, now);
}

void StbDevice::FinishPacketTransfer(uint64_t now) {
    PacketTransfer& t = m_transfer;
    t.complete = true;
    Bytes data;
    if (t.compressed) {
        std::string problem;
        if (!DecodeLzmaAlone(t.wire, t.rawLength, &data, &problem)) {
            Violation("transfer -z: " + problem, now);
            t.failCode = kStbBadParameter;
            SendStatus(1, t.failCode, t.serial, 0, now);
            return;
        }
        if (!problem.empty()) {
            Violation("transfer -z: " + problem, now);
        }
    } else {
        data = t.wire;
    }
    m_staging.insert(m_staging.end(), data.begin(), data.end());
    SimEvent e{now, "transfer", t.compressed ? "compressed" : "plain", t.serial};
    e.length = t.rawLength;
    e.wireLength = t.wireLength;
    e.sha256 = Sha256Hex(data);
    Log(e);
    SendStatus(3, 0, t.serial, 0, now);
}

// ---------------------------------------------------------------------------------------------
// Dump: packet 0 announces the size; packet n carries flash bytes (n-1) * 1024 on, erased
// pieces as blank packets (only the packet number travels).
void StbDevice::DumpRequest(uint32_t number, uint8_t retry, uint64_t now) {
    PacketDump& d = m_dump;
    Bytes data;
    AppendBe32(data, number);
    if (number == 0) {
        AppendBe32(data, m_faults.oversizedLength ? 0x400000 : d.size);
        SendPacket(kData, 0, d.serial, retry, data, now);
        return;
    }
    if (m_faults.dumpEndAfter >= 0 && number > uint32_t(m_faults.dumpEndAfter)) {
        Fault("dump ends early before packet " + Num(number), now);
        SendStatus(3, 0, d.serial, retry, now);
        return;
    }
    uint64_t offset = uint64_t(number - 1) * kPiece;
    if (offset >= d.size) {
        Violation("dump packet " + Num(number) + " lies beyond the dump", now);
        SendStatus(1, kStbBadParameter, d.serial, retry, now);
        return;
    }
    uint32_t piece = uint32_t(std::min<uint64_t>(kPiece, d.size - offset));
    const uint8_t* p = m_flash.data() + d.start + offset;
    data.insert(data.end(), p, p + piece);
    bool blank = AllErased(p, piece);
    SendPacket(kData, blank ? 1 : 0, d.serial, retry, data, now, blank ? 4 : SIZE_MAX);
    if (offset + piece == d.size && d.packetsSent++ == 0) {
        SimEvent e{now, "dump", "packet", d.serial, d.start, d.size};
        e.sha256 = Sha256Hex(m_flash.data() + d.start, d.size);
        Log(e);
    }
}

void StbDevice::CancelSessions(const std::string& why, uint64_t now) {
    if (m_transfer.active && !m_transfer.complete) {
        m_staging.resize(m_transfer.stagingMark);
        Log({now, "cancel", "transfer " + why});
    }
    if (m_dump.active && why != "abandoned by a new command") {
        Log({now, "cancel", "dump " + why});
    }
    m_transfer = PacketTransfer{};
    m_dump = PacketDump{};
}

void StbDevice::SendBurnState(uint32_t serial, uint8_t retry, uint64_t now, bool asReport) {
    if (m_burn.failed) {
        if (asReport) {
            Bytes data(4, 0);
            Append(data, "E0000\r\n");
            if (Packet()) {
                SendPacket(kData, 0, serial, retry, data, now);
            } else {
                Bytes text(data.begin() + 4, data.end());
                text.push_back(0);
                text.push_back(0);  // "E" and 8 more bytes
                Queue(text, now);
            }
        } else {
            SendStatus(1, kBurnFailed, serial, retry, now);
        }
    } else if (m_burn.done) {
        if (Packet()) {
            SendStatus(3, 0, serial, retry, now);
        } else {
            Queue({'F'}, now);
        }
    } else {
        SendStatus(2, 0, serial, retry, now);
    }
}

}  // namespace stbsim
