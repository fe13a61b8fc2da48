#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPair::PtyPair() {
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
        close(fd);
        return;
    }
    char name[128] = {};
    if (ptsname_r(fd, name, sizeof name) != 0) {
        close(fd);
        return;
    }
    m_slaveHold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveHold < 0) {
        close(fd);
        return;
    }
    termios tio{};
    tcgetattr(m_slaveHold, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slaveHold, TCSANOW, &tio);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_master = fd;
    m_slavePath = name;
}

PtyPair::~PtyPair() {
    if (m_master >= 0)
        close(m_master);
    if (m_slaveHold >= 0)
        close(m_slaveHold);
}

bool PtyPair::Write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (MsLeft(deadline) == 0)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return true;
}

bool PtyPair::Write(const std::string& text) const {
    return Write(Bytes(text));
}

std::vector<uint8_t> PtyPair::Read(size_t count, unsigned timeoutMs) const {
    std::vector<uint8_t> out;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        uint8_t buf[4096];
        size_t want = count - out.size() < sizeof buf ? count - out.size() : sizeof buf;
        ssize_t n = ::read(m_master, buf, want);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        int left = MsLeft(deadline);
        if (left == 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        // EIO while no slave is open: keep waiting in small steps.
        if (poll(&p, 1, left < 5 ? left : 5) > 0 && (p.revents & POLLHUP))
            usleep(1000);
    }
    return out;
}

std::vector<uint8_t> PtyPair::ReadUntilQuiet(unsigned quietMs, unsigned totalMs) const {
    std::vector<uint8_t> out;
    auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    auto quietUntil = Clock::now() + std::chrono::milliseconds(quietMs);
    while (MsLeft(deadline) > 0 && MsLeft(quietUntil) > 0) {
        uint8_t buf[4096];
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            quietUntil = Clock::now() + std::chrono::milliseconds(quietMs);
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        poll(&p, 1, 2);
    }
    return out;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string HexDump(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}
