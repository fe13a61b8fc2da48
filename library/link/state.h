// The library's process-wide state that the layers inside the library share: the log callback
// and the protocol version with the legacy module's copy. Internal to the library.
#pragma once

#include "library/link/upgrade.h"

// The current log callback, or null.
UpgLogCallback LibraryLogCallback();

// Sends one line to the log callback, when one is set.
template <typename... Args>
void LibraryLog(int level, const char* format, Args... args) {
    if (UpgLogCallback callback = LibraryLogCallback())
        callback(level, format, args...);
}

// The stored protocol version (0 until UpgSetProtocolVersion).
int LibraryProtocolVersion();
// The legacy module's copy (0x20 until UpgSetProtocolVersion); the legacy dump picks its
// variant by it.
int LegacyProtocolVersion();

// The dispatch rule of every flash operation: the stored version, compared unsigned, at or
// above 0x30 selects the packet protocol, anything below the legacy protocol.
inline bool UsePacketProtocol() {
    return static_cast<unsigned>(LibraryProtocolVersion()) >=
           static_cast<unsigned>(UPG_PROTOCOL_PACKET);
}
