// The simulated STB boot loader as a state machine with no I/O of its own: bytes from the line
// go in through Receive, reply bytes come out through TakeReply, and time passes through the
// `nowMs` arguments (any monotonic millisecond count). A front (see stbsim.h) puts it on a
// pseudo-terminal; tests can drive it directly.
//
// The device answers both protocol generations as its profile says, keeps a flash model
// (staging from the address sent; transfers and moves append; burn writes staging into the
// flash), records every exchange in an event log and notes every protocol rule that the tool
// breaks as a violation. Not thread-safe: one caller at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "tools/stbsim/faults.h"
#include "tools/stbsim/profile.h"
#include "tools/stbsim/sim_bytes.h"

namespace stbsim {

// One entry of the event log. Kinds: "handshake", "command" (a command line executed),
// "repeat" (a resent command answered again, not executed), "transfer" (length, sha256 of the
// data after decoding; wireLength is what travelled), "move", "burn" (address, length, sha256
// of what was written), "reboot", "dump", "cancel", "fault" (an injected fault), "damaged" (a
// packet from the tool failed its checks) and "violation" (a protocol rule broken).
struct SimEvent {
    SimEvent() = default;
    SimEvent(uint64_t t, std::string k, std::string x = {}, uint32_t s = 0, uint64_t a = 0,
             uint64_t n = 0)
        : timeMs(t), kind(std::move(k)), text(std::move(x)), serial(s), address(a), length(n) {}

    uint64_t timeMs = 0;
    std::string kind;
    std::string text;  // the command line without "\r", a fault's or violation's description
    uint32_t serial = 0;
    uint64_t address = 0;
    uint64_t length = 0;
    uint64_t wireLength = 0;
    std::string sha256;
    std::string Json() const;  // one JSON object, no line break
};

// Time constants of the simulated boot loader, in milliseconds.
struct StbTiming {
    unsigned burnStepMs = 5;         // one "B" report (and busy status) per step
    unsigned burnKiBPerStep = 64;    // flash written per step
    unsigned bannerTimeoutMs = 300;  // a banner that stops arriving is dropped
    unsigned outcomeRepeatMs = 300;  // the burn's outcome is said again until the next command
    unsigned outcomeRepeats = 4;
};

class StbDevice {
  public:
    // `flash` empty: the profile's factory flash. Otherwise its size must equal the profile's
    // flash size (callers check it with FlashSizeForType).
    StbDevice(const StbProfile& profile, const StbFaults& faults, const StbTiming& timing = {},
              Bytes flash = {});

    // Bytes from the tool, in line order.
    void Receive(const uint8_t* data, size_t count, uint64_t nowMs);
    // Runs the timers (burn progress, banner time-out, repeated burn outcome) up to nowMs.
    void Advance(uint64_t nowMs);
    // The next reply that is due by nowMs (the front writes each in one piece); false if none.
    bool TakeReply(uint64_t nowMs, Bytes* reply);
    // When the next reply or timer falls due; UINT64_MAX when nothing waits.
    uint64_t NextDeadline() const;

    const Bytes& Flash() const { return m_flash; }
    const std::vector<SimEvent>& Events() const { return m_events; }
    std::vector<std::string> Violations() const;
    unsigned RebootCount() const { return m_reboots; }
    const StbProfile& Profile() const { return m_profile; }

  private:
    enum class Phase {
        kLine,            // text: command lines (legacy: every byte echoed)
        kBanner,          // the comtest banner's bytes
        kRawTransfer,     // legacy data blocks
        kRawDumpWaitO,    // whole dump: the tool's "O" before the stream
        kRawBlockWaitH,   // block dump: header request
        kRawBlockWaitG,   // block dump (2.1): "G" or "H" after the header checks
        kRawBlockAnswer,  // block dump: the tool's 9-byte answer
        kRawBurning,      // legacy burn in progress: input is ignored
    };
    struct Burn {
        bool active = false, done = false, failed = false;
        uint32_t serial = 0, retry = 0;
        uint64_t written = 0, nextMs = 0;
        unsigned repeatsLeft = 0;
    };
    struct PacketTransfer {
        bool active = false, complete = false, compressed = false;
        uint32_t serial = 0, rawLength = 0, wireLength = 0, nextPacket = 1, failCode = 0;
        size_t stagingMark = 0;
        Bytes wire;
    };
    struct PacketDump {
        bool active = false;
        uint32_t serial = 0, start = 0, size = 0, packetsSent = 0;
    };
    struct RawSession {  // legacy transfer and dumps
        RawSession() = default;
        RawSession(uint32_t t, uint32_t s) : total(t), start(s) {}
        uint32_t total = 0, done = 0, block = 0, start = 0;
        Bytes buffer;
    };

    // device.cpp: the line, the handshake, the flash model, the output queue, the log.
    void LineByte(uint8_t b, uint64_t now);
    void PacketModeText(uint8_t b, uint64_t now);
    bool StartBanner(const std::string& line, uint64_t now);
    void BannerByte(uint8_t b, uint64_t now);
    void Queue(Bytes bytes, uint64_t now, bool isReply = true);
    void Log(SimEvent e);
    void Violation(const std::string& text, uint64_t now);
    void Fault(const std::string& text, uint64_t now);
    uint32_t FailCode(const std::string& word) const;
    uint32_t SetAddress(uint32_t address);
    uint32_t CheckStaging(uint64_t extra) const;
    uint32_t Move(uint32_t id, uint32_t value, uint64_t now);
    uint32_t StartBurn(uint64_t now);
    void BurnStep(uint64_t now);
    void Reboot(uint64_t now);
    uint32_t ParseDumpRange(const std::vector<std::string>& args, uint32_t* start, uint32_t* size);
    Bytes ChunkTablePayload() const;

    // device_packet.cpp: packet framing and the packet-protocol commands.
    void PacketByte(uint8_t b, uint64_t now);
    void PacketComplete(uint64_t now);
    void HandlePacket(uint8_t type, uint32_t serial, uint8_t retry, const Bytes& data,
                      uint64_t now);
    void HandleCommand(const std::string& line, uint32_t serial, uint8_t retry, uint64_t now);
    void ExecutePacketCommand(const std::string& line, uint32_t serial, uint8_t retry,
                              uint64_t now);
    uint32_t StartPacketTransfer(const std::vector<std::string>& args, uint32_t serial);
    void TransferData(uint32_t number, const uint8_t* piece, size_t count, uint8_t retry,
                      uint64_t now);
    void TransferRequest(uint32_t number, uint8_t retry, uint64_t now);
    void FinishPacketTransfer(uint64_t now);
    void DumpRequest(uint32_t number, uint8_t retry, uint64_t now);
    void CancelSessions(const std::string& why, uint64_t now);
    void SendPacket(uint8_t type, uint8_t blank, uint32_t serial, uint8_t retry, const Bytes& data,
                    uint64_t now, size_t wireDataLength = SIZE_MAX);
    void SendStatus(uint8_t status, uint32_t value, uint32_t serial, uint8_t retry, uint64_t now);
    // asReport: a repeated outcome (status 3 or "E"); else the answer to a resent "burn".
    void SendBurnState(uint32_t serial, uint8_t retry, uint64_t now, bool asReport);

    // device_legacy.cpp: the legacy raw commands.
    void ExecuteRawCommand(const std::string& line, uint64_t now);
    void RawByte(uint8_t b, uint64_t now);
    void RawTransferByte(uint8_t b, uint64_t now);
    void RawVersion(uint64_t now);
    void RawDumpStart(const std::vector<std::string>& args, uint64_t now);
    void RawSendWholeDump(uint64_t now);
    void RawSendBlockHeader(uint64_t now);
    void RawSendBlockBody(uint64_t now);
    void RawBlockAnswer(uint64_t now);

    bool Packet() const { return IsPacketGeneration(m_profile.generation); }

    StbProfile m_profile;
    StbFaults m_faults;
    StbTiming m_timing;
    FaultDice m_dice;
    Bytes m_flash;

    Phase m_phase = Phase::kLine;
    std::string m_line;
    Bytes m_banner;
    size_t m_bannerWanted = 0;
    uint64_t m_bannerLastMs = 0;

    bool m_addressSet = false;
    uint32_t m_address = 0;
    Bytes m_staging;
    Burn m_burn;
    unsigned m_reboots = 0;

    // Packet protocol: the frame being assembled, the last command and its reply.
    Bytes m_rx;
    bool m_haveLast = false;
    uint32_t m_lastSerial = 0;
    std::string m_lastLine;
    Bytes m_lastReplyData;
    uint8_t m_lastReplyType = 3;
    bool m_lastWasBurn = false;
    PacketTransfer m_transfer;
    PacketDump m_dump;

    RawSession m_raw;

    struct Pending {
        uint64_t dueMs;
        Bytes bytes;
    };
    std::deque<Pending> m_out;
    std::vector<SimEvent> m_events;
    uint64_t m_lastNow = 0;
};

}  // namespace stbsim
