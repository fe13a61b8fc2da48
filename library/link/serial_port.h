// The library's one serial port. Upper layers reach it through the Com... functions of
// upgrade.h; this class is internal to the library.
#pragma once

#include "platform/serial_device.h"

class SerialPort {
  public:
    // Opens port number `port` (1 for COM1) through its device name. 1 on success, 0 on failure
    // (the reason is kept for ComLastOpenError). An open port is closed first.
    int Open(int port, int baud, int parity, int stopBits);
    // Always 1.
    int Close();
    // Bytes written, 0 on failure or when the bytes were not taken within count + 100 ms.
    int Write(const unsigned char* data, int count);
    // Bytes waiting in the input queue; 0 when closed.
    int BytesAvailable();
    // Reads at most `max` of the queued bytes without waiting; 0 when nothing waits.
    int Read(unsigned char* buffer, int max);
    // 1 when exactly `count` bytes were read within `limitMs`, else 0. Nothing is consumed until
    // all of them are queued.
    int ReadExact(unsigned char* buffer, int count, unsigned limitMs);
    int PurgeRx();
    int PurgeTx();
    // PurgeRx, or PurgeTx only when PurgeRx failed.
    int Purge();
    bool IsOpen() const { return m_open; }
    // One polling step: waits up to `ms`, ending early when input arrives.
    void WaitForInput(unsigned ms);

  private:
    SerialDevice m_device;
    bool m_open = false;
};

// The process's instance.
SerialPort& TheSerialPort();

// One polling step on the process's port (see SerialPort::WaitForInput).
void ComWaitForInput(unsigned ms);
