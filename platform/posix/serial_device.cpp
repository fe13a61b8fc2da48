// The serial device over Linux termios. termios2 with BOTHER passes any baud rate through
// unchanged; <asm/termbits.h> cannot be mixed with <termios.h>, so this file uses the ioctls
// directly.
#include "platform/serial_device.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/clock.h"

namespace {

SerialOpenFailure FailureFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return SerialOpenFailure::kNoDevice;
        case EACCES:
        case EPERM:
            return SerialOpenFailure::kNoPermission;
        case EBUSY:
        case EWOULDBLOCK:
            return SerialOpenFailure::kInUse;
        default:
            return SerialOpenFailure::kSettings;
    }
}

tcflag_t ParityFlags(int parity) {
    switch (parity) {
        case 1:
            return PARENB | PARODD;
        case 2:
            return PARENB;
        case 3:
            return PARENB | PARODD | CMSPAR;  // mark: the parity bit is always 1
        case 4:
            return PARENB | CMSPAR;  // space: the parity bit is always 0
        default:
            return 0;
    }
}

bool ApplyLineSettings(int fd, const SerialLineSettings& s) {
    // A parity code or rate the line cannot take is refused, as a driver refuses such a
    // device-control block, rather than opening the line some other way.
    if (s.parity < 0 || s.parity > 4 || s.baud <= 0) {
        errno = EINVAL;
        return false;
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_iflag = (s.parity != 0) ? INPCK : 0;  // raw; no XON/XOFF, no CR/LF mapping
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL | ParityFlags(s.parity);  // CLOCAL: modem lines ignored
    if (s.stopBits != 1)
        tio.c_cflag |= CSTOPB;
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(s.baud);
    tio.c_ospeed = static_cast<speed_t>(s.baud);
    for (auto& c : tio.c_cc)
        c = 0;  // VMIN 0, VTIME 0: a read returns what is there
    return ioctl(fd, TCSETS2, &tio) == 0;
}

// DTR and RTS off, and the driver's low-latency mode on. A pseudo-terminal has neither, and a
// driver without them is no error.
void ApplyOptionalLineControl(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIC, &lines);
    struct serial_struct serial {};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        (void)ioctl(fd, TIOCSSERIAL, &serial);
    }
}

}  // namespace

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& path, const SerialLineSettings& settings,
                        SerialOpenFailure* failure, int* sysErrno) {
    Close();
    auto fail = [&](int err, SerialOpenFailure kind, int fd) {
        if (fd >= 0)
            ::close(fd);
        *failure = kind;
        *sysErrno = err;
        return false;
    };
    if (path.empty())
        return fail(ENOENT, SerialOpenFailure::kNoDevice, -1);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        return fail(err, FailureFromErrno(err), -1);
    }
    // TIOCEXCL refuses later opens by other users but not by root; the advisory lock refuses
    // every program that takes it too, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        return fail(err, err == EWOULDBLOCK ? SerialOpenFailure::kInUse : FailureFromErrno(err),
                    fd);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        int err = errno;
        return fail(err, SerialOpenFailure::kSettings, fd);
    }
    if (!ApplyLineSettings(fd, settings)) {
        int err = errno;
        return fail(err, SerialOpenFailure::kSettings, fd);
    }
    ApplyOptionalLineControl(fd);
    m_fd = fd;
    *failure = SerialOpenFailure::kNone;
    *sysErrno = 0;
    return true;
}

void SerialDevice::Close() {
    if (m_fd < 0)
        return;
    (void)ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);  // also releases the lock
    m_fd = -1;
}

int SerialDevice::Write(const unsigned char* data, int count, unsigned limitMs) {
    if (m_fd < 0 || count < 0)
        return 0;
    uint32_t start = PlatformTickCount();
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return 0;
        uint32_t elapsed = PlatformTicksSince(start);
        if (elapsed >= limitMs)
            return 0;
        pollfd p{m_fd, POLLOUT, 0};
        (void)poll(&p, 1, static_cast<int>(limitMs - elapsed));
    }
    return done;
}

int SerialDevice::BytesQueued() {
    if (m_fd < 0)
        return 0;
    int n = 0;
    if (ioctl(m_fd, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return n;
}

int SerialDevice::Read(unsigned char* buffer, int max) {
    if (m_fd < 0 || max <= 0)
        return 0;
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, static_cast<size_t>(max));
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : 0;
}

void SerialDevice::WaitForInput(unsigned ms) {
    if (m_fd < 0) {
        PlatformSleep(ms);
        return;
    }
    pollfd p{m_fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(ms));
    // A hung-up or broken descriptor reports at once; sleep so that callers keep their pace.
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        PlatformSleep(ms);
}

bool SerialDevice::PurgeInput() {
    return m_fd >= 0 && ioctl(m_fd, TCFLSH, TCIFLUSH) == 0;
}

bool SerialDevice::PurgeOutput() {
    return m_fd >= 0 && ioctl(m_fd, TCFLSH, TCOFLUSH) == 0;
}
