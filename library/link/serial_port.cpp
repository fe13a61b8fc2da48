#include "library/link/serial_port.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

#include "library/link/upgrade.h"
#include "platform/clock.h"

namespace {

constexpr int kMaxPortNumber = 32;
// A write may take as long as its byte count in ms, plus this.
constexpr unsigned kWriteSlackMs = 100;

// Overrides set by the settings file or by tests; guarded because the interface thread may set
// them while no task runs and the worker reads them at open.
std::mutex g_deviceNamesMutex;
std::array<std::string, kMaxPortNumber + 1> g_deviceNames;

// Written by the worker at open, read by the interface after the task has reported.
std::atomic<ComOpenError> g_lastOpenError{COM_OPEN_OK};
std::atomic<int> g_lastOpenErrno{0};

ComOpenError ToComOpenError(SerialOpenFailure f) {
    switch (f) {
        case SerialOpenFailure::kNone:
            return COM_OPEN_OK;
        case SerialOpenFailure::kNoDevice:
            return COM_OPEN_NO_DEVICE;
        case SerialOpenFailure::kNoPermission:
            return COM_OPEN_NO_PERMISSION;
        case SerialOpenFailure::kInUse:
            return COM_OPEN_IN_USE;
        case SerialOpenFailure::kSettings:
            break;
    }
    return COM_OPEN_SETTINGS;
}

}  // namespace

std::string ComDeviceName(int port) {
    if (port >= 1 && port <= kMaxPortNumber) {
        std::lock_guard<std::mutex> lock(g_deviceNamesMutex);
        if (!g_deviceNames[port].empty())
            return g_deviceNames[port];
    }
    if (port >= 1 && port <= 8)
        return "/dev/ttyUSB" + std::to_string(port - 1);
    if (port >= 9 && port <= 16)
        return "/dev/ttyACM" + std::to_string(port - 9);
    if (port >= 17 && port <= 32)
        return "/dev/ttyS" + std::to_string(port - 17);
    return {};
}

void ComSetDeviceName(int port, const std::string& path) {
    if (port < 1 || port > kMaxPortNumber)
        return;
    std::lock_guard<std::mutex> lock(g_deviceNamesMutex);
    g_deviceNames[port] = path;
}

ComOpenError ComLastOpenError(void) {
    return g_lastOpenError;
}

int ComLastOpenErrno(void) {
    return g_lastOpenErrno;
}

SerialPort& TheSerialPort() {
    // Destroyed at exit, which closes the device.
    static SerialPort port;
    return port;
}

int SerialPort::Open(int port, int baud, int parity, int stopBits) {
    if (m_open)
        Close();
    SerialLineSettings settings{baud, parity, stopBits};
    SerialOpenFailure failure = SerialOpenFailure::kNone;
    int err = 0;
    if (!m_device.Open(ComDeviceName(port), settings, &failure, &err)) {
        g_lastOpenError = ToComOpenError(failure);
        g_lastOpenErrno = err;
        return 0;
    }
    g_lastOpenError = COM_OPEN_OK;
    g_lastOpenErrno = 0;
    m_open = true;
    return 1;
}

int SerialPort::Close() {
    if (!m_open)
        return 1;
    // Closed even when the device has vanished (an unplugged adapter): on Linux the descriptor
    // would otherwise leak.
    m_device.Close();
    m_open = false;
    return 1;
}

int SerialPort::Write(const unsigned char* data, int count) {
    if (!m_open || count <= 0)
        return 0;
    return m_device.Write(data, count, static_cast<unsigned>(count) + kWriteSlackMs);
}

int SerialPort::BytesAvailable() {
    return m_open ? m_device.BytesQueued() : 0;
}

int SerialPort::Read(unsigned char* buffer, int max) {
    if (!m_open || max <= 0)
        return 0;
    int queued = m_device.BytesQueued();
    if (queued <= 0)
        return 0;
    return m_device.Read(buffer, queued < max ? queued : max);
}

int SerialPort::ReadExact(unsigned char* buffer, int count, unsigned limitMs) {
    uint32_t start = PlatformTickCount();
    // The queue is looked at once before the clock is: with a 1 ms limit the tick may turn
    // between the two readings, and bytes that are already there must not be missed.
    int queued = BytesAvailable();
    if (queued >= count)
        return Read(buffer, count) == count ? 1 : 0;
    while (PlatformTicksSince(start) < limitMs) {
        queued = BytesAvailable();
        if (queued >= count)
            return Read(buffer, count) == count ? 1 : 0;
        if (queued == 0) {
            WaitForInput(1);
        } else {
            PlatformSleep(1);  // a partial arrival: poll() would report it at once
        }
    }
    return count == 0 ? 1 : 0;
}

// Polling in 1 ms steps; with nothing queued the step ends as soon as input lands.
void SerialPort::WaitForInput(unsigned ms) {
    if (m_open) {
        m_device.WaitForInput(ms);
    } else {
        PlatformSleep(ms);
    }
}

void ComWaitForInput(unsigned ms) {
    TheSerialPort().WaitForInput(ms);
}

int SerialPort::PurgeRx() {
    return m_device.PurgeInput() ? 1 : 0;
}

int SerialPort::PurgeTx() {
    return m_device.PurgeOutput() ? 1 : 0;
}

int SerialPort::Purge() {
    return (PurgeRx() || PurgeTx()) ? 1 : 0;
}

// --- module functions ---------------------------------------------------------------------

int ComOpen(int port, int baud, int parity, int stopBits) {
    return TheSerialPort().Open(port, baud, parity, stopBits) ? UPG_OK : UPG_ERR_CONNECT_PORT;
}

int ComClose(void) {
    TheSerialPort().Close();
    return UPG_OK;
}

int ComRead(unsigned char* buffer, int max) {
    return TheSerialPort().Read(buffer, max);
}

int ComReadExact(unsigned char* buffer, int count, unsigned limitMs) {
    return TheSerialPort().ReadExact(buffer, count, limitMs) ? 0 : 1;
}

int ComWrite(const unsigned char* data, int count) {
    return TheSerialPort().Write(data, count);
}

int ComWriteByte(int value) {
    unsigned char byte = static_cast<unsigned char>(value);
    return TheSerialPort().Write(&byte, 1);
}

int ComWriteEchoed(const unsigned char* data, int count, unsigned limitMs) {
    for (int i = 0; i < count; ++i) {
        if (ComWriteByte(data[i]) == 0)
            return UPG_ERR_SEND_DATA;
        unsigned char echo = 0;
        if (ComReadExact(&echo, 1, limitMs) != 0)
            return UPG_ERR_READ_DATA;
        if (echo != data[i])
            return UPG_ERR_ECHO_MISMATCH;
    }
    return UPG_OK;
}

int ComPurge(void) {
    return TheSerialPort().Purge() ? 0 : 1;
}

int ComPurgeTx(void) {
    return TheSerialPort().PurgeTx() ? 0 : 1;
}
