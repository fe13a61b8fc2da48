#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "library/link/serial_port.h"
#include "library/link/upgrade.h"
#include "platform/clock.h"
#include "tests/support/port_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

using SerialPortTest = PortTest;

TEST_F(SerialPortTest, ReadExactOfNothingSucceedsAtOnceAndConsumesNothing) {
    ASSERT_TRUE(pty.Write("xy"));
    PlatformSleep(20);
    unsigned char buffer[4] = {};
    uint32_t start = PlatformTickCount();
    EXPECT_EQ(ComReadExact(buffer, 0, 500), 0);
    EXPECT_LT(PlatformTicksSince(start), 100u);
    EXPECT_EQ(ComReadExact(buffer, 2, 200), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "xy");
}

TEST_F(SerialPortTest, ReadExactTakesOnlyWhatWasAskedAndLeavesTheRest) {
    ASSERT_TRUE(pty.Write("abcdef"));
    unsigned char buffer[8] = {};
    ASSERT_EQ(ComReadExact(buffer, 4, 500), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
    ASSERT_EQ(ComReadExact(buffer, 2, 500), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "ef");
}

TEST_F(SerialPortTest, PartialArrivalFailsAndStaysQueued) {
    ASSERT_TRUE(pty.Write("abc"));
    unsigned char buffer[8] = {};
    EXPECT_EQ(ComReadExact(buffer, 4, 100), 1);
    ASSERT_TRUE(pty.Write("d"));
    ASSERT_EQ(ComReadExact(buffer, 4, 500), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
}

TEST_F(SerialPortTest, ComReadTakesWhatIsQueuedWithoutWaiting) {
    unsigned char buffer[8] = {};
    EXPECT_EQ(ComRead(buffer, 8), 0);
    ASSERT_TRUE(pty.Write("abc"));
    PlatformSleep(20);
    EXPECT_EQ(ComRead(buffer, 2), 2);
    EXPECT_EQ(ComRead(buffer, 8), 1);
    EXPECT_EQ(buffer[0], 'c');
}

TEST_F(SerialPortTest, WriteEchoedStopsAfterTheWrongEcho) {
    ScriptedPeer peer(pty);
    peer.Echo("1").Expect("2").Send("X");
    peer.Start();
    const unsigned char data[] = {'1', '2', '3', '4', '5'};
    EXPECT_EQ(ComWriteEchoed(data, 5, 200), UPG_ERR_ECHO_MISMATCH);
    ASSERT_TRUE(peer.Finish(100)) << peer.Error();
    EXPECT_EQ(peer.Received(), Bytes("12"));
}

TEST_F(SerialPortTest, WriteEchoedWithoutEchoIsAReadError) {
    const unsigned char data[] = {'a', 'b'};
    EXPECT_EQ(ComWriteEchoed(data, 2, 30), UPG_ERR_READ_DATA);
    EXPECT_EQ(pty.ReadUntilQuiet(50), Bytes("a"));
    EXPECT_EQ(ComWriteEchoed(data, 0, 30), UPG_OK);
}

TEST_F(SerialPortTest, PurgeDiscardsUnreadInput) {
    ASSERT_TRUE(pty.Write("stale"));
    PlatformSleep(20);
    EXPECT_EQ(ComPurge(), 0);
    unsigned char buffer[8];
    EXPECT_EQ(ComRead(buffer, 8), 0);
}

TEST_F(SerialPortTest, ASecondOpenOfTheSameDeviceIsRefusedAsInUse) {
    SerialDevice other;
    SerialOpenFailure failure = SerialOpenFailure::kNone;
    int err = 0;
    EXPECT_FALSE(other.Open(pty.slavePath(), SerialLineSettings{}, &failure, &err));
    EXPECT_EQ(failure, SerialOpenFailure::kInUse);
}

TEST(SerialPortClosed, OperationsOnAClosedPortFail) {
    ComClose();
    EXPECT_EQ(ComClose(), UPG_OK);
    unsigned char buffer[4];
    EXPECT_EQ(ComWrite(buffer, 4), 0);
    EXPECT_EQ(ComRead(buffer, 4), 0);
    EXPECT_EQ(ComReadExact(buffer, 1, 5), 1);
    EXPECT_EQ(ComPurge(), 1);
    EXPECT_EQ(ComPurgeTx(), 1);
}

TEST(SerialPortOpen, AMissingDeviceIsCode2WithItsReason) {
    ComSetDeviceName(3, "/dev/no-such-serial-device");
    EXPECT_EQ(ComOpen(3, 115200, 0, 1), UPG_ERR_CONNECT_PORT);
    EXPECT_EQ(ComLastOpenError(), COM_OPEN_NO_DEVICE);
    ComSetDeviceName(3, "");
    ComSetDeviceName(3, "/dev/null");  // not a serial device
    EXPECT_EQ(ComOpen(3, 115200, 0, 1), UPG_ERR_CONNECT_PORT);
    EXPECT_EQ(ComLastOpenError(), COM_OPEN_SETTINGS);
    ComSetDeviceName(3, "");
}

TEST(SerialPortOpen, PortNumbersMapToDevices) {
    struct Case {
        int port;
        const char* device;
    } cases[] = {{1, "/dev/ttyUSB0"},
                 {8, "/dev/ttyUSB7"},
                 {9, "/dev/ttyACM0"},
                 {16, "/dev/ttyACM7"},
                 {17, "/dev/ttyS0"},
                 {32, "/dev/ttyS15"},
                 {0, ""},
                 {33, ""}};
    for (const Case& c : cases)
        EXPECT_EQ(ComDeviceName(c.port), c.device) << c.port;
    ComSetDeviceName(5, "/dev/ttyAMA0");
    EXPECT_EQ(ComDeviceName(5), "/dev/ttyAMA0");
    ComSetDeviceName(5, "");
    EXPECT_EQ(ComDeviceName(5), "/dev/ttyUSB4");
}

TEST(SerialPortOpen, ParityCodesAndRatesTheLineCannotTakeAreRefused) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ComSetDeviceName(2, pty.slavePath());
    struct Case {
        int baud;
        int parity;
    } cases[] = {{115200, 5}, {115200, -1}, {0, 0}, {-9600, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(ComOpen(2, c.baud, c.parity, 1), UPG_ERR_CONNECT_PORT)
            << c.baud << " " << c.parity;
        EXPECT_EQ(ComLastOpenError(), COM_OPEN_SETTINGS);
    }
    EXPECT_EQ(ComOpen(2, 115200, 4, 1), UPG_OK);  // the device itself is fine
    ComClose();
    ComSetDeviceName(2, "");
}

// The line settings as the driver holds them after an open.
struct LineCase {
    int parity;
    int stopBits;
    tcflag_t parityFlags;
    bool twoStopBits;
    bool inputCheck;
};

class SerialLineSettingsTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(SerialLineSettingsTest, OpenAppliesParityAndStopBits) {
    const LineCase& c = GetParam();
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ComSetDeviceName(2, pty.slavePath());
    ASSERT_EQ(ComOpen(2, 57600, c.parity, c.stopBits), UPG_OK);
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &tio), 0);
    ComClose();
    ComSetDeviceName(2, "");
    // A pseudo-terminal's driver always clears PARENB; the odd and stick bits stay as set.
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), c.parityFlags & ~static_cast<tcflag_t>(PARENB));
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((tio.c_iflag & INPCK) != 0, c.inputCheck);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
}

INSTANTIATE_TEST_SUITE_P(Codes, SerialLineSettingsTest,
                         ::testing::Values(LineCase{0, 1, 0, false, false},
                                           LineCase{1, 1, PARENB | PARODD, false, true},
                                           LineCase{2, 0, PARENB, true, true},
                                           LineCase{3, 2, PARENB | PARODD | CMSPAR, true, true},
                                           LineCase{4, 7, PARENB | CMSPAR, true, true}));

}  // namespace
