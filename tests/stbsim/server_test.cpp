// The simulator on a real pseudo-terminal: what a test of another layer sees.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "tests/stbsim/device_harness.h"
#include "tools/stbsim/stbsim.h"

namespace stbsim::testing {
namespace {

class Port {
  public:
    explicit Port(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~Port() { close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    void Write(const Bytes& b) { ASSERT_EQ(write(m_fd, b.data(), b.size()), ssize_t(b.size())); }
    // Reads exactly n bytes within limitMs; returns what came.
    Bytes Read(size_t n, int limitMs) {
        Bytes got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                uint8_t buf[4096];
                ssize_t k = read(m_fd, buf, std::min(sizeof buf, n - got.size()));
                if (k > 0) {
                    got.insert(got.end(), buf, buf + k);
                }
            }
        }
        return got;
    }

  private:
    int m_fd;
};

void Handshake(Port& port) {
    for (char c : std::string("comtest 18\r")) {
        port.Write({uint8_t(c)});
        ASSERT_EQ(port.Read(1, 1000), Bytes{uint8_t(c)});
    }
    port.Write(Text("@VOR PROTOCOL 3.0+"));
    Bytes banner = port.Read(18, 1000);
    ASSERT_EQ(banner.size(), 18u);
    EXPECT_EQ(banner[0], 0xFF - '@');
}

TEST(StbSimServer, ServesAPacketStbOnAPseudoTerminal) {
    std::string dir = ::testing::TempDir();
    StbSimOptions options;
    options.flashOut = dir + "stbsim-flash.bin";
    options.eventsOut = dir + "stbsim-events.jsonl";
    StbSimServer sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    {
        Port port(sim.SlavePath());
        ASSERT_TRUE(port.ok());
        Handshake(port);
        port.Write(CommandPacket("reboot\r", 1));
        auto reply = ParsePackets(port.Read(28, 1000));
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(StatusOf(reply[0]).first, 0);
    }
    // The port closed and opened again: the simulator still answers.
    {
        Port port(sim.SlavePath());
        Handshake(port);
    }
    sim.Stop();
    EXPECT_EQ(sim.RebootCount(), 1u);
    std::ifstream flash(options.flashOut, std::ios::binary);
    Bytes saved((std::istreambuf_iterator<char>(flash)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, sim.Flash());
    std::ifstream events(options.eventsOut);
    std::string line;
    std::getline(events, line);
    EXPECT_EQ(line.rfind("{\"t\":", 0), 0u) << line;
    EXPECT_NE(line.find("\"kind\":\"handshake\""), std::string::npos) << line;
}

TEST(StbSimServer, PacingHoldsBytesToTheLineRate) {
    StbSimOptions options;
    BuiltinProfile("oldest", &options.profile);
    options.baud = 115200;
    options.bitsPerByte = 10;  // 11520 bytes a second
    StbSimServer sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Port port(sim.SlavePath());
    auto start = std::chrono::steady_clock::now();
    for (char c : std::string("version -r\r")) {
        port.Write({uint8_t(c)});
        ASSERT_EQ(port.Read(1, 1000), Bytes{uint8_t(c)});
    }
    Bytes reply = port.Read(2 + 2 + 4 * 128 + 4 - 2, 2000);
    EXPECT_EQ(reply.size(), 2u + 2 + 4 * 128 + 4 - 2);  // length, table, CRC
    auto elapsed = std::chrono::steady_clock::now() - start;
    // 11 + 520 bytes at 11520 bytes a second cannot take less than 46 ms.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 46);
}

TEST(StbSimServer, RefusesAFlashOfTheWrongSize) {
    StbSimOptions options;
    options.flash.assign(1000, 0xFF);
    StbSimServer sim(options);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("1000"), std::string::npos) << error;
}

}  // namespace
}  // namespace stbsim::testing
