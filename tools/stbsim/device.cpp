// The device's common parts: the text line and the comtest handshake, the flash model, the
// output queue and the event log. Packet and legacy commands live in device_packet.cpp and
// device_legacy.cpp.
#include "tools/stbsim/device.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "tools/stbsim/sim_util.h"

namespace stbsim {
namespace {

constexpr size_t kMaxLine = 255;
const std::string kComtest = "comtest ";

}  // namespace

std::string SimEvent::Json() const {
    std::string j = "{\"t\":" + std::to_string(timeMs) + ",\"kind\":\"" + JsonEscape(kind) + "\"";
    if (!text.empty()) {
        j += ",\"text\":\"" + JsonEscape(text) + "\"";
    }
    if (serial != 0) {
        j += ",\"serial\":" + std::to_string(serial);
    }
    if (kind == "burn" || kind == "move" || kind == "dump") {
        j += ",\"address\":" + std::to_string(address);
    }
    if (kind == "transfer" || kind == "burn" || kind == "move" || kind == "dump") {
        j += ",\"length\":" + std::to_string(length);
    }
    if (kind == "transfer") {
        j += ",\"wireLength\":" + std::to_string(wireLength);
    }
    if (!sha256.empty()) {
        j += ",\"sha256\":\"" + sha256 + "\"";
    }
    return j + "}";
}

StbDevice::StbDevice(const StbProfile& profile, const StbFaults& faults, const StbTiming& timing,
                     Bytes flash)
    : m_profile(profile),
      m_faults(faults),
      m_timing(timing),
      m_dice(faults.seed),
      m_flash(flash.empty() ? BuildFlash(profile) : std::move(flash)) {}

void StbDevice::Receive(const uint8_t* data, size_t count, uint64_t nowMs) {
    m_lastNow = nowMs;
    Advance(nowMs);
    for (size_t i = 0; i < count; ++i) {
        if (m_phase == Phase::kBanner) {
            BannerByte(data[i], nowMs);
        } else if (Packet()) {
            PacketByte(data[i], nowMs);
        } else {
            RawByte(data[i], nowMs);
        }
    }
}

void StbDevice::Advance(uint64_t nowMs) {
    m_lastNow = std::max(m_lastNow, nowMs);
    if (m_phase == Phase::kBanner && nowMs - m_bannerLastMs > m_timing.bannerTimeoutMs) {
        Log({0, "damaged", "comtest banner incomplete, dropped"});
        m_phase = Phase::kLine;
    }
    while (m_burn.active && !m_burn.done && nowMs >= m_burn.nextMs) {
        BurnStep(m_burn.nextMs);
        m_burn.nextMs += m_timing.burnStepMs;
    }
    while (m_burn.done && m_burn.repeatsLeft > 0 && nowMs >= m_burn.nextMs) {
        --m_burn.repeatsLeft;
        m_burn.nextMs += m_timing.outcomeRepeatMs;
        SendBurnState(m_burn.serial, uint8_t(m_burn.retry), nowMs, true);
    }
}

bool StbDevice::TakeReply(uint64_t nowMs, Bytes* reply) {
    if (m_out.empty() || m_out.front().dueMs > nowMs) {
        return false;
    }
    *reply = std::move(m_out.front().bytes);
    m_out.pop_front();
    return true;
}

uint64_t StbDevice::NextDeadline() const {
    uint64_t t = UINT64_MAX;
    if (!m_out.empty()) {
        t = m_out.front().dueMs;
    }
    if (m_phase == Phase::kBanner) {
        t = std::min<uint64_t>(t, m_bannerLastMs + m_timing.bannerTimeoutMs + 1);
    }
    if (m_burn.active && (!m_burn.done || m_burn.repeatsLeft > 0)) {
        t = std::min(t, m_burn.nextMs);
    }
    return t;
}

std::vector<std::string> StbDevice::Violations() const {
    std::vector<std::string> texts;
    for (const SimEvent& e : m_events) {
        if (e.kind == "violation") {
            texts.push_back(e.text);
        }
    }
    return texts;
}

// ---------------------------------------------------------------------------------------------
// The text line and the handshake.

// Legacy boot loaders echo every byte of a command line and run it at the carriage return.
void StbDevice::LineByte(uint8_t b, uint64_t now) {
    Queue({b}, now, false);
    if (b == '\n') {
        return;
    }
    if (b != '\r') {
        if (m_line.size() >= kMaxLine) {
            Violation("command line longer than 255 characters", now);
            m_line.clear();
        }
        m_line.push_back(char(b));
        return;
    }
    std::string line = std::move(m_line);
    m_line.clear();
    if (line.empty()) {
        return;
    }
    // The handshake may follow the remains of a broken line: the boot loader resynchronises
    // on the last "comtest " in the line.
    if (size_t at = line.rfind(kComtest); at != std::string::npos) {
        if (!StartBanner(line.substr(at), now)) {
            Queue({'E'}, now);
        }
        return;
    }
    ExecuteRawCommand(line, now);
}

// The packet boot loader listens between packets for a renewed "comtest N\r" and echoes its
// characters; any other stray byte is dropped without an echo.
void StbDevice::PacketModeText(uint8_t b, uint64_t now) {
    if (b == '\r') {
        std::string line = std::move(m_line);
        m_line.clear();
        if (!line.empty()) {
            Queue({b}, now, false);
            StartBanner(line, now);
        }
        return;
    }
    std::string candidate = m_line + char(b);
    bool fits = candidate.size() <= kComtest.size()
                    ? kComtest.compare(0, candidate.size(), candidate) == 0
                    : std::isdigit(b) && candidate.size() <= kComtest.size() + 3;
    if (fits) {
        m_line = std::move(candidate);
        Queue({b}, now, false);
    } else {
        m_line.clear();
    }
}

bool StbDevice::StartBanner(const std::string& line, uint64_t now) {
    uint32_t n = 0;
    // A fragment shorter than "comtest " (a line cut by a failed echo) is dropped like any
    // other damaged comtest line.
    if (line.size() <= kComtest.size() || line.compare(0, kComtest.size(), kComtest) != 0 ||
        !ParseUnsigned(line.substr(kComtest.size()), &n) || n == 0 || n > 255) {
        // The tool ends a line whose echo failed with a bare carriage return: not a fault.
        Log({now, "damaged", "comtest line '" + line + "' dropped"});
        return false;
    }
    m_phase = Phase::kBanner;
    m_bannerWanted = n;
    m_banner.clear();
    m_bannerLastMs = now;
    return true;
}

// The banner comes back whole: inverted from a packet boot loader, unchanged from a legacy one.
void StbDevice::BannerByte(uint8_t b, uint64_t now) {
    m_banner.push_back(b);
    m_bannerLastMs = now;
    if (m_banner.size() < m_bannerWanted) {
        return;
    }
    Bytes reply = m_banner;
    if (Packet()) {
        for (uint8_t& c : reply) {
            c = uint8_t(0xFF - c);
        }
    }
    m_phase = Phase::kLine;
    m_burn.repeatsLeft = 0;
    Log({now, "handshake", std::string(m_banner.begin(), m_banner.end())});
    Queue(std::move(reply), now);
}

// ---------------------------------------------------------------------------------------------
// The flash model.

uint32_t StbDevice::SetAddress(uint32_t address) {
    if (address >= m_flash.size()) {
        return kStbAddressOverflow;
    }
    m_addressSet = true;
    m_address = address;
    m_staging.clear();
    return 0;
}

uint32_t StbDevice::CheckStaging(uint64_t extra) const {
    if (!m_addressSet) {
        return kStbAddressNotInit;
    }
    if (m_address + m_staging.size() + extra > m_flash.size()) {
        return kStbNoBuffer;
    }
    return 0;
}

// A move appends the chunk's slot as it stands in flash now, so that an unchanged chunk keeps
// its place in the new chain.
uint32_t StbDevice::Move(uint32_t id, uint32_t value, uint64_t now) {
    if (!m_addressSet) {
        return kStbAddressNotInit;
    }
    for (const FlashChunk& c : WalkFlash(m_flash)) {
        if (c.id != id) {
            continue;
        }
        if (uint32_t code = CheckStaging(c.Slot()); code != 0) {
            return code;
        }
        if (value != 0 && value != c.next) {
            Violation("move " + std::to_string(id) + " with " + std::to_string(value) +
                          ", the chunk's next is " + std::to_string(c.next),
                      now);
        }
        SimEvent e{now, "move", "move " + std::to_string(id) + " " + std::to_string(value)};
        e.address = c.offset;
        e.length = c.Slot();
        e.sha256 = Sha256Hex(m_flash.data() + c.offset, c.Slot());
        m_staging.insert(m_staging.end(), m_flash.begin() + c.offset,
                         m_flash.begin() + c.offset + c.Slot());
        Log(e);
        return 0;
    }
    return kStbChunkNotFound;
}

uint32_t StbDevice::StartBurn(uint64_t now) {
    if (!m_addressSet) {
        return kStbAddressNotInit;
    }
    if (m_staging.empty()) {
        return kStbNothingToBurn;
    }
    m_burn = Burn{};
    m_burn.active = true;
    m_burn.nextMs = now + m_timing.burnStepMs;
    return 0;
}

// One step of the burn: write the next piece of staging into the flash and report progress as
// "B" with the KiB written so far in four digits; at the end "F" (legacy) or status 3.
void StbDevice::BurnStep(uint64_t now) {
    uint64_t total = m_staging.size();
    if (m_faults.burnError && m_burn.written >= total / 2) {
        m_burn.done = m_burn.failed = true;
        Fault("burn fails after " + std::to_string(m_burn.written) + " bytes", now);
        SendBurnState(m_burn.serial, uint8_t(m_burn.retry), now, true);
        m_burn.repeatsLeft = Packet() ? m_timing.outcomeRepeats : 0;
        m_burn.nextMs = now + m_timing.outcomeRepeatMs;
        m_addressSet = false;
        if (!Packet()) {
            m_phase = Phase::kLine;
        }
        return;
    }
    uint64_t piece =
        std::min<uint64_t>(uint64_t(m_timing.burnKiBPerStep) * 1024, total - m_burn.written);
    if (m_faults.burnError) {
        piece = std::min(piece, total / 2 - m_burn.written);  // stop at the point of failure
    }
    std::copy(m_staging.begin() + m_burn.written, m_staging.begin() + m_burn.written + piece,
              m_flash.begin() + m_address + m_burn.written);
    m_burn.written += piece;
    char report[16];
    std::snprintf(report, sizeof report, "B%04u\r\n",
                  unsigned(std::min<uint64_t>(m_burn.written / 1024, 9999)));
    Bytes text(report, report + 7);
    if (Packet()) {
        Bytes data(4, 0);
        data.insert(data.end(), text.begin(), text.end());
        SendPacket(1, 0, m_burn.serial, uint8_t(m_burn.retry), data, now);
        SendStatus(2, 0, m_burn.serial, uint8_t(m_burn.retry), now);
    } else {
        Queue(text, now);
    }
    if (m_burn.written < total) {
        return;
    }
    m_burn.done = true;
    SimEvent e{now, "burn", "", m_burn.serial, m_address, total};
    e.sha256 = Sha256Hex(m_staging);
    Log(e);
    m_staging.clear();
    m_addressSet = false;
    if (!Packet()) {
        m_phase = Phase::kLine;
    }
    SendBurnState(m_burn.serial, uint8_t(m_burn.retry), now, true);
    m_burn.repeatsLeft = Packet() ? m_timing.outcomeRepeats : 0;
    m_burn.nextMs = now + m_timing.outcomeRepeatMs;
}

void StbDevice::Reboot(uint64_t now) {
    if (m_burn.active && !m_burn.done) {
        Violation("reboot while the flash is being burnt", now);
    }
    ++m_reboots;
    Log({now, "reboot"});
    CancelSessions("reboot", now);
    m_burn = Burn{};
    m_addressSet = false;
    m_staging.clear();
    m_phase = Phase::kLine;
    m_line.clear();
}

uint32_t StbDevice::ParseDumpRange(const std::vector<std::string>& args, uint32_t* start,
                                   uint32_t* size) {
    if (args.size() != 3 || !ParseUnsigned(args[1], start) || !ParseUnsigned(args[2], size)) {
        return kStbBadParameter;
    }
    if (*start >= m_flash.size() || *size > m_flash.size() - *start) {
        return kStbAddressOverflow;
    }
    if (*size == 0) {
        *size = uint32_t(m_flash.size() - *start);
    }
    return 0;
}

// The chunk table as the boot loader reports it: flash type, second byte, then the 128-byte
// header of each chunk found in flash, at most 15 (what one packet or the legacy table holds).
Bytes StbDevice::ChunkTablePayload() const {
    Bytes table{m_profile.flashType, m_profile.secondByte};
    std::vector<FlashChunk> chunks = WalkFlash(m_flash, 15);
    size_t records = m_faults.tooManyChunks ? 17 : chunks.size();
    for (size_t i = 0; i < records && !chunks.empty(); ++i) {
        const FlashChunk& c = chunks[i % chunks.size()];
        table.insert(table.end(), m_flash.begin() + c.offset,
                     m_flash.begin() + c.offset + kChunkHeaderSize);
    }
    return table;
}

// ---------------------------------------------------------------------------------------------
// Output and the log.

// Replies leave in order; a reply delay never lets a later byte overtake an earlier one.
void StbDevice::Queue(Bytes bytes, uint64_t now, bool isReply) {
    uint64_t due = now + (isReply ? m_faults.replyDelayMs : 0);
    if (!m_out.empty()) {
        due = std::max(due, m_out.back().dueMs);
    }
    m_out.push_back({due, std::move(bytes)});
}

void StbDevice::Log(SimEvent e) {
    if (e.timeMs == 0) {
        e.timeMs = m_lastNow;
    }
    m_events.push_back(std::move(e));
}

void StbDevice::Violation(const std::string& text, uint64_t now) {
    Log({now, "violation", text});
}

void StbDevice::Fault(const std::string& text, uint64_t now) {
    Log({now, "fault", text});
}

uint32_t StbDevice::FailCode(const std::string& word) const {
    auto it = m_faults.failCodes.find(word);
    return it == m_faults.failCodes.end() ? 0 : it->second;
}

}  // namespace stbsim
