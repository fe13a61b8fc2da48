// Millisecond ticks and sleeping. The tick counter is unsigned 32-bit and wraps; an elapsed time
// is always the unsigned difference of two readings, which stays right across the wrap.
#pragma once

#include <cstdint>

// Milliseconds from an arbitrary start, monotonic, wrapping at 2^32.
uint32_t PlatformTickCount();
// Sleeps at least `ms` milliseconds.
void PlatformSleep(unsigned ms);
// Milliseconds since `start` (a PlatformTickCount value), correct across the wrap.
inline uint32_t PlatformTicksSince(uint32_t start) {
    return PlatformTickCount() - start;
}
