// Address, move, burn and reboot in both protocols. The burn is a command followed by a stream
// of progress reports ("B" with the KiB burnt, "F" finished, "E" failed) that ends with its
// outcome.
#include <cstdio>
#include <cstring>

#include "library/commands/commands.h"
#include "library/link/bytes.h"
#include "library/link/state.h"
#include "platform/clock.h"
#include "platform/edition.h"

namespace {

constexpr unsigned kAddressLimitMs = 1000;
constexpr unsigned kMoveLimitMs = 10000;
constexpr unsigned kBurnLimitMs = 2000;
constexpr unsigned kRebootLimitMs = 1000;
// The packet burn waits in windows of this; five windows without a busy status ask again.
constexpr unsigned kBurnWindowMs = 10000;
constexpr int kBurnEvents = 5;
// Edition 2.0.0 never asks again; it gives up once the burn has run this long in all.
constexpr uint32_t kBurnGiveUpMs = 10u * 60u * 1000u;
constexpr unsigned kRawBurnAckLimitMs = 1000;
// The legacy burn: silence this long ends it; a report's tail must follow within a second.
constexpr unsigned kRawBurnSilenceMs = 30000;
constexpr unsigned kRawReportLimitMs = 1000;
constexpr int kRawProgressTail = 6;
constexpr int kRawErrorTail = 8;

enum class BurnStep { kGoOn, kBusy, kDone, kFailed };

// One packet of the burn's stream. *result is set for kDone and kFailed.
BurnStep ReadBurnPacket(const Packet& packet, int total, UpgProgressFn progress, int* result) {
    uint8_t status = 0;
    uint32_t value = 0;
    if (ReadStatusReply(packet, &status, &value)) {
        if (status == STATUS_FINISHED) {
            ReportProgress(progress, 100);
            *result = UPG_OK;
            return BurnStep::kDone;
        }
        if (status == STATUS_FAILED) {
            *result = value != 0 ? static_cast<int>(value) : UPG_ERR_BURN;
            return BurnStep::kFailed;
        }
        return status == STATUS_BUSY ? BurnStep::kBusy : BurnStep::kGoOn;
    }
    if (packet.type != PACKET_DATA || packet.length < 5)
        return BurnStep::kGoOn;
    const unsigned char* payload = packet.data + 4;
    switch (payload[0]) {
        case 'B': {
            // The four digits. The record holds the data CRC right after the data, so a report
            // shorter than its digits is read only as far as it goes.
            unsigned char digits[4] = {};
            uint32_t after = packet.length - 5;
            std::memcpy(digits, payload + 1, after < sizeof digits ? after : sizeof digits);
            ReportProgress(progress, BurnPercent(digits, total));
            return BurnStep::kGoOn;
        }
        case 'F':
            ReportProgress(progress, 100);
            *result = UPG_OK;
            return BurnStep::kDone;
        case 'E':
            *result = UPG_ERR_BURN;
            return BurnStep::kFailed;
        default:
            return BurnStep::kGoOn;
    }
}

// Waits one window for a packet of the burn's serial: silence, a damaged packet or another
// command's packet go on like an unknown report.
BurnStep AwaitBurnPacket(int total, UpgProgressFn progress, int* result) {
    Packet packet;
    if (ReceivePacket(&packet, kBurnWindowMs) != UPG_OK || packet.serial != CommandSerial()) {
        return BurnStep::kGoOn;
    }
    return ReadBurnPacket(packet, total, progress, result);
}

// Waits for the burn's outcome; five events in a row without a busy status ask again.
int AwaitBurn(int total, UpgProgressFn progress) {
    int result = UPG_OK;
    for (int events = 0; events < kBurnEvents; ++events) {
        BurnStep step = AwaitBurnPacket(total, progress, &result);
        if (step == BurnStep::kDone || step == BurnStep::kFailed)
            return result;
        if (step == BurnStep::kBusy)
            events = -1;
    }
    result = ExecCommandQuiet("burn\r", kBurnLimitMs, nullptr);
    if (result == UPG_OK)
        ReportProgress(progress, 100);
    return result;
}

// Edition 2.0.0: waits window after window for the outcome, up to the give-up limit.
int AwaitBurn200(int total, UpgProgressFn progress) {
    uint32_t start = PlatformTickCount();
    while (PlatformTicksSince(start) < kBurnGiveUpMs) {
        int result = UPG_OK;
        BurnStep step = AwaitBurnPacket(total, progress, &result);
        if (step == BurnStep::kDone || step == BurnStep::kFailed)
            return result;
    }
    return UPG_ERR_TIMEOUT;
}

}  // namespace

int BurnPercent(const unsigned char* digits, int total) {
    if (total == 0)
        return 100;
    int kib = 0;
    for (int i = 0; i < 4 && digits[i] >= '0' && digits[i] <= '9'; ++i) {
        kib = kib * 10 + (digits[i] - '0');
    }
    // At most 9999 KiB: the product stays within 32 bits.
    int percent = kib * 1024 * 100 / total;
    return percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}

int CmdAddress(unsigned address) {
    char line[256];
    std::snprintf(line, sizeof line, "address %u\r", address);
    return ExecCommand(line, kAddressLimitMs, nullptr);
}

int RawAddress(unsigned address) {
    char line[256];
    std::snprintf(line, sizeof line, "address %u\r", address);
    return RawCommand(line, kAddressLimitMs);
}

int CmdMove(unsigned first, unsigned second) {
    char line[256];
    std::snprintf(line, sizeof line, "move %u %u\r", first, second);
    return ExecCommand(line, kMoveLimitMs, nullptr);
}

int RawMove(unsigned first, unsigned second) {
    char line[256];
    std::snprintf(line, sizeof line, "move %u %u\r", first, second);
    return RawCommand(line, kMoveLimitMs);
}

int CmdBurn(int total, UpgProgressFn progress) {
    int result = ExecCommand("burn\r", kBurnLimitMs, nullptr);
    if (result != UPG_OK)
        return result;
    if constexpr (kEdition200)
        return AwaitBurn200(total, progress);
    return AwaitBurn(total, progress);
}

int RawBurn(int total, UpgProgressFn progress) {
    int result = RawCommand("burn\r", kRawBurnAckLimitMs);
    if (result != UPG_OK)
        return result;
    for (;;) {
        unsigned char letter = 0;
        if (ComReadExact(&letter, 1, kRawBurnSilenceMs) != 0)
            return UPG_ERR_TIMEOUT;
        unsigned char tail[kRawErrorTail];
        if (letter == 'B') {
            if (ComReadExact(tail, kRawProgressTail, kRawReportLimitMs) != 0) {
                return UPG_ERR_TIMEOUT;
            }
            ReportProgress(progress, BurnPercent(tail, total));
        } else if (letter == 'F') {
            ReportProgress(progress, 100);
            return UPG_OK;
        } else if (letter == 'E') {
            if (ComReadExact(tail, kRawErrorTail, kRawReportLimitMs) != 0)
                return UPG_ERR_TIMEOUT;
            return UPG_ERR_BURN;
        }
    }
}

int CmdReboot() {
    return ExecCommand("reboot\r", kRebootLimitMs, nullptr);
}

int RawReboot() {
    return RawSendLine("reboot\r", false);
}

int UpgSetAddress(unsigned address) {
    return UsePacketProtocol() ? CmdAddress(address) : RawAddress(address);
}

int UpgMove(unsigned first, unsigned second) {
    return UsePacketProtocol() ? CmdMove(first, second) : RawMove(first, second);
}

int UpgBurn(int total, UpgProgressFn progress) {
    return UsePacketProtocol() ? CmdBurn(total, progress) : RawBurn(total, progress);
}

int UpgReboot() {
    return UsePacketProtocol() ? CmdReboot() : RawReboot();
}
