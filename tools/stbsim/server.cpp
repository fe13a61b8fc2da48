// The front of the simulator: a pseudo-terminal (or a given device) and a thread that moves
// bytes between it and the device state machine, at line rate when pacing is asked for.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tools/stbsim/stbsim.h"

namespace stbsim {
namespace {

constexpr int kMaxPollMs = 50;
constexpr size_t kReadChunk = 4096;
constexpr double kRxBurstBytes = 64;  // what a UART's receive FIFO takes at once
constexpr size_t kPacedSlice = 2048;  // longer paced replies leave in slices of this size

uint64_t NowUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

speed_t SpeedFor(unsigned baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return B0;
    }
}

void MakeRaw(int fd, unsigned baud, unsigned bitsPerByte) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (bitsPerByte == 11) {
        t.c_cflag |= PARENB;  // 8E1
    }
    if (speed_t s = SpeedFor(baud); s != B0) {
        cfsetispeed(&t, s);
        cfsetospeed(&t, s);
    }
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

uint64_t SimNowMs() {
    return NowUs() / 1000;
}

StbProfile StbSimOptions::DefaultProfile() {
    StbProfile p;
    BuiltinProfile("RDX01", &p);
    return p;
}

StbSimServer::StbSimServer(StbSimOptions options) : m_options(std::move(options)) {}

StbSimServer::~StbSimServer() {
    Stop();
}

bool StbSimServer::Start(std::string* error) {
    if (m_running.load() || m_device) {
        *error = "the simulator was started already";
        return false;
    }
    if (!ValidateProfile(m_options.profile, error)) {
        return false;
    }
    uint32_t flashSize = FlashSizeForType(m_options.profile.flashType);
    if (!m_options.flash.empty() && m_options.flash.size() != flashSize) {
        *error = "the flash contents hold " + std::to_string(m_options.flash.size()) +
                 " bytes; the profile's flash holds " + std::to_string(flashSize);
        return false;
    }
    if (m_options.devicePath.empty()) {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0 || ptsname(m_fd) == nullptr) {
            *error = Errno("cannot create a pseudo-terminal");
            Stop();
            return false;
        }
        m_slavePath = ptsname(m_fd);
        // Holding the slave open keeps the master readable while the tool has the port closed.
        m_slaveFd = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_slaveFd < 0) {
            *error = Errno("cannot open " + m_slavePath);
            Stop();
            return false;
        }
        MakeRaw(m_slaveFd, m_options.baud, m_options.bitsPerByte);
    } else {
        m_slavePath = m_options.devicePath;
        m_fd = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) {
            *error = Errno("cannot open " + m_slavePath);
            return false;
        }
        MakeRaw(m_fd, m_options.baud, m_options.bitsPerByte);
    }
    if (pipe(m_wakeFd) != 0) {
        *error = Errno("cannot create a pipe");
        Stop();
        return false;
    }
    if (!m_options.eventsOut.empty()) {
        std::ofstream truncate(m_options.eventsOut, std::ios::trunc);
        if (!truncate) {
            *error = "cannot write " + m_options.eventsOut;
            Stop();
            return false;
        }
    }
    m_device = std::make_unique<StbDevice>(m_options.profile, m_options.faults, m_options.timing,
                                           m_options.flash);
    m_stop = false;
    m_running = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void StbSimServer::Stop() {
    m_stop = true;
    if (m_wakeFd[1] >= 0) {
        [[maybe_unused]] ssize_t n = write(m_wakeFd[1], "x", 1);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_device) {
        std::lock_guard<std::mutex> lock(m_mutex);
        FlushEvents();
        SaveFlash();
    }
    for (int* fd : {&m_fd, &m_slaveFd, &m_wakeFd[0], &m_wakeFd[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    m_running = false;
}

Bytes StbSimServer::Flash() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device ? m_device->Flash() : Bytes{};
}

std::vector<SimEvent> StbSimServer::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device ? m_device->Events() : std::vector<SimEvent>{};
}

std::vector<std::string> StbSimServer::Violations() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device ? m_device->Violations() : std::vector<std::string>{};
}

unsigned StbSimServer::RebootCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device ? m_device->RebootCount() : 0;
}

// One pass: timers, then output, then input. With pacing, a reply is written when its last byte
// would have arrived on a real line (long replies in slices of kPacedSlice bytes, each when it
// would have arrived), and input is taken no faster than the line carries it.
void StbSimServer::Run() {
    uint64_t lastInputMs = SimNowMs();
    m_rxLastUs = NowUs();
    bool pacing = m_options.baud > 0;
    double bytesPerUs = pacing ? double(m_options.baud) / m_options.bitsPerByte / 1e6 : 0;
    auto lineTimeUs = [&](size_t bytes) { return uint64_t(double(bytes) / bytesPerUs); };
    while (!m_stop.load()) {
        uint64_t nowUs = NowUs();
        uint64_t now = nowUs / 1000;
        uint64_t deadline;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_device->Advance(now);
            if (m_pendingOut.empty() && m_device->TakeReply(now, &m_pendingOut) && pacing) {
                m_txFreeUs = std::max(nowUs, m_txFreeUs) +
                             lineTimeUs(std::min(m_pendingOut.size(), kPacedSlice));
            }
            deadline = m_device->NextDeadline();
            FlushEvents();
            if (m_device->RebootCount() != m_rebootsSaved) {
                m_rebootsSaved = m_device->RebootCount();
                SaveFlash();
            }
        }
        bool writeDue = !m_pendingOut.empty() && (!pacing || nowUs >= m_txFreeUs);
        if (writeDue) {
            size_t slice =
                pacing ? std::min(m_pendingOut.size(), kPacedSlice) : m_pendingOut.size();
            ssize_t n = write(m_fd, m_pendingOut.data(), slice);
            if (n > 0) {
                m_pendingOut.erase(m_pendingOut.begin(), m_pendingOut.begin() + n);
                if (pacing && !m_pendingOut.empty()) {
                    m_txFreeUs += lineTimeUs(std::min(m_pendingOut.size(), kPacedSlice));
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
        }
        if (pacing) {
            m_rxCredit =
                std::min(kRxBurstBytes, m_rxCredit + double(nowUs - m_rxLastUs) * bytesPerUs);
            m_rxLastUs = nowUs;
        }
        bool mayRead = !pacing || m_rxCredit >= 1;
        int timeout = kMaxPollMs;
        if (deadline != UINT64_MAX) {
            timeout = int(std::min<uint64_t>(kMaxPollMs, deadline > now ? deadline - now : 0));
        }
        if (pacing && (!mayRead || !m_pendingOut.empty())) {
            timeout = std::min(timeout, 1);
        }
        if (m_options.idleTimeoutMs > 0 && now - lastInputMs > m_options.idleTimeoutMs) {
            break;
        }
        short wantOut = (!m_pendingOut.empty() && (!pacing || writeDue)) ? POLLOUT : 0;
        pollfd fds[2] = {{m_fd, short((mayRead ? POLLIN : 0) | wantOut), 0},
                         {m_wakeFd[0], POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            break;
        }
        if (!(fds[0].revents & POLLIN)) {
            continue;
        }
        size_t want = pacing ? size_t(m_rxCredit) : kReadChunk;
        uint8_t buffer[kReadChunk];
        ssize_t n = read(m_fd, buffer, std::min(want, kReadChunk));
        if (n > 0) {
            if (pacing) {
                m_rxCredit -= double(n);
            }
            lastInputMs = SimNowMs();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_device->Receive(buffer, size_t(n), lastInputMs);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR && errno != EIO)) {
            break;
        }
    }
    m_running = false;
}

void StbSimServer::FlushEvents() {
    const std::vector<SimEvent>& events = m_device->Events();
    if (m_options.eventsOut.empty() || m_eventsWritten == events.size()) {
        return;
    }
    std::ofstream out(m_options.eventsOut, std::ios::app);
    for (; m_eventsWritten < events.size(); ++m_eventsWritten) {
        out << events[m_eventsWritten].Json() << '\n';
    }
}

void StbSimServer::SaveFlash() {
    if (m_options.flashOut.empty()) {
        return;
    }
    const Bytes& flash = m_device->Flash();
    std::ofstream out(m_options.flashOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()), std::streamsize(flash.size()));
}

}  // namespace stbsim
