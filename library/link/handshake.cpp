// The comtest handshake. The boot loader echoes the comtest line character by character, then
// answers the banner either unchanged (protocol 2.0) or with every byte inverted (3.0).
#include <cstdio>
#include <cstring>

#include "library/link/upgrade.h"
#include "platform/clock.h"

namespace {

constexpr char kBanner[] = "@VOR PROTOCOL 3.0+";
constexpr int kAttempts = 200;
constexpr int kProgressEvery = 5;
constexpr unsigned kPauseMs = 100;
constexpr unsigned kEchoLimitMs = 50;     // per echoed character of the command
constexpr unsigned kBannerLimitMs = 200;  // for the whole banner answer

bool IsInverted(const unsigned char* echo, const char* banner, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (echo[i] != static_cast<unsigned char>(255 - static_cast<unsigned char>(banner[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int UpgComTest(int* version, UpgProgressFn progress, UpgCancelFn cancel) {
    char banner[256] = {};
    std::strcpy(banner, kBanner);
    const int bannerLength = static_cast<int>(std::strlen(banner));
    char command[256] = {};
    const int commandLength = std::snprintf(command, sizeof command, "comtest %d\r", bannerLength);
    unsigned char echo[128];

    ComPurge();
    int result = UPG_ERR_NO_TARGET;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (cancel() == 1) {
            result = UPG_ERR_CANCELLED;
            break;
        }
        if (progress != nullptr && attempt % kProgressEvery == 0)
            progress(attempt);
        PlatformSleep(kPauseMs);
        ComPurge();
        if (ComWriteEchoed(reinterpret_cast<const unsigned char*>(command), commandLength,
                           kEchoLimitMs) != 0) {
            ComWriteByte('\r');  // the boot loader drops the partial line
            continue;
        }
        if (ComWrite(reinterpret_cast<const unsigned char*>(banner), bannerLength) < bannerLength) {
            continue;
        }
        std::memset(echo, 0, sizeof echo);
        if (ComReadExact(echo, bannerLength, kBannerLimitMs) != 0)
            continue;
        echo[bannerLength] = 0;
        if (std::strcmp(reinterpret_cast<const char*>(echo), banner) == 0) {
            *version = UPG_PROTOCOL_LEGACY;
            result = UPG_OK;
            break;
        }
        if (IsInverted(echo, banner, static_cast<size_t>(bannerLength))) {
            *version = UPG_PROTOCOL_PACKET;
            result = UPG_OK;
            break;
        }
    }
    return result;
}
