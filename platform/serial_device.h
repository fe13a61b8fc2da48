// A serial device opened by path: raw 8-bit line, the caller's baud rate and parity, no flow
// control, opened exclusively. Reads never block; writes wait for the bytes to be taken with a
// limit. This is the operating-system side only: it knows nothing of boot loaders.
#pragma once

#include <string>

struct SerialLineSettings {
    int baud = 115200;  // any rate; passed to the driver unchanged
    int parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space; checking on when not 0
    int stopBits = 1;   // 1 gives one stop bit, every other value two
};

enum class SerialOpenFailure {
    kNone,
    kNoDevice,      // the path names no device
    kNoPermission,  // the user may not open it (not in the device's group)
    kInUse,         // another program holds it
    kSettings,      // not a serial device, or it refused the line settings
};

class SerialDevice {
  public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens and configures `path`. On failure returns false and sets *failure and *sysErrno
    // (the operating system's error number where there is one); the device stays closed.
    bool Open(const std::string& path, const SerialLineSettings& settings,
              SerialOpenFailure* failure, int* sysErrno);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Writes all `count` bytes, waiting at most `limitMs` for the driver to take them. Returns
    // `count`, or 0 on failure or time-out.
    int Write(const unsigned char* data, int count, unsigned limitMs);
    // Bytes waiting in the input queue; 0 when closed or on failure.
    int BytesQueued();
    // Reads at most `max` of the bytes already queued; never waits. Returns the count read.
    int Read(unsigned char* buffer, int max);
    // Waits up to `ms` for input to arrive; returns early when it does.
    void WaitForInput(unsigned ms);
    // Discard the input or the output queue. False on failure (also when closed).
    bool PurgeInput();
    bool PurgeOutput();

  private:
    int m_fd = -1;
};
