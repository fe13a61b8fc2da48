#include "library/link/state.h"

#include <atomic>

namespace {
// Written on the interface thread before a worker starts and read on the worker; atomics keep
// that hand-over well defined without locks.
std::atomic<UpgLogCallback> g_logCallback{nullptr};
std::atomic<int> g_protocolVersion{0};
std::atomic<int> g_legacyProtocolVersion{UPG_PROTOCOL_LEGACY};
}  // namespace

void UpgSetLogCallback(UpgLogCallback callback) {
    g_logCallback = callback;
}

UpgLogCallback LibraryLogCallback() {
    return g_logCallback;
}

void UpgSetProtocolVersion(int version) {
    g_protocolVersion = version;
    g_legacyProtocolVersion = version;
}

int LibraryProtocolVersion() {
    return g_protocolVersion;
}

int LegacyProtocolVersion() {
    return g_legacyProtocolVersion;
}
