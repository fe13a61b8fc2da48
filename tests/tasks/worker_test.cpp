#include <string>

#include "library/link/serial_port.h"
#include "tasks/connect_task.h"
#include "tasks/notify.h"
#include "tests/support/pty_pair.h"
#include "tests/tasks/task_fixture.h"

namespace {

// A line with no STB on it: the handshake keeps trying until it is cancelled.
class WorkerTest : public TaskTest {
  protected:
    void SetUp() override {
        TaskTest::SetUp();
        ASSERT_TRUE(m_pty.ok());
        ComSetDeviceName(3, m_pty.slavePath());
        g_comPort = 3;
    }
    // Waits until the handshake has begun.
    std::vector<PostedMessage> UntilSync() {
        std::vector<PostedMessage> messages;
        while (true) {
            std::vector<PostedMessage> some = CollectUntil(WM_TASK_STATUS, 10000);
            if (some.empty() || some.back().message != WM_TASK_STATUS) {
                return messages;
            }
            for (PostedMessage& m : some) {
                messages.push_back(std::move(m));
            }
            if (messages.back().text == "Sync to serial port..") {
                return messages;
            }
        }
    }
    PtyPair m_pty;
};

TEST_F(WorkerTest, OneWorkerAtATimeAndCancelDuringTheHandshake) {
    ASSERT_EQ(StartConnectTask(), 1);
    EXPECT_EQ(StartConnectTask(), 0);  // claimed before the worker runs
    EXPECT_EQ(StartUpgradeTask(), 0);
    EXPECT_EQ(GetContext()->taskState.load(), TASK_CONNECTING);
    std::vector<PostedMessage> messages = UntilSync();
    ASSERT_FALSE(messages.empty());
    g_cancelRequested = 1;
    for (PostedMessage& m : CollectUntil(WM_CONNECT_DONE)) {
        messages.push_back(std::move(m));
    }
    ASSERT_TRUE(WaitForWorker(10000));
    std::vector<std::string> status = Texts(messages, WM_TASK_STATUS);
    std::vector<std::string> expected = {"Open Serial Port..", "Sync to serial port.."};
    if (kEdition201) {
        expected.insert(expected.begin(), "Please power on your STB.");
    }
    EXPECT_EQ(status, expected);
    EXPECT_EQ(Texts(messages, WM_TASK_LOG),
              std::vector<std::string>{"User canceled the operate\r\n"});
    EXPECT_EQ(messages.back().wParam, 0u);
    EXPECT_FALSE(TheSerialPort().IsOpen());
    EXPECT_EQ(GetContext()->taskState.load(), TASK_IDLE);
    EXPECT_EQ(GetContext()->protocolVersion, 0);
    // A new request runs the whole task again.
    ASSERT_EQ(StartConnectTask(), 1);
    messages = UntilSync();
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS), expected);
    g_cancelRequested = 1;
    CollectUntil(WM_CONNECT_DONE);
}

TEST_F(WorkerTest, ClosingStopsARunningWorkerAndSavesTheSettings) {
    GetContext()->InitContext();
    ASSERT_EQ(StartConnectTask(), 1);
    UntilSync();
    g_comPort = 3;
    GetContext()->CloseContext();  // asks the worker to stop and waits for it
    EXPECT_EQ(ReadFile(SettingsPath()), "[Config]\nPort=3\nBaud=115200\nParity=2\n");
    EXPECT_TRUE(WaitForWorker(0));
    EXPECT_FALSE(TheSerialPort().IsOpen());
}

TEST_F(WorkerTest, APortThatDoesNotExist) {
    ComSetDeviceName(3, m_dir.File("no-such-tty"));
    ConnectThreadProc(nullptr);
    std::vector<PostedMessage> messages = CollectQueued();
    ASSERT_FALSE(messages.empty());
    std::vector<std::string> expected = {"Open Serial Port.."};
    if (kEdition201) {
        expected.insert(expected.begin(), "Please power on your STB.");
    }
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS), expected);
    EXPECT_EQ(Texts(messages, WM_TASK_LOG),
              std::vector<std::string>{"Can not connect serial port!\r\n"});
    EXPECT_EQ(messages.back().message, WM_CONNECT_DONE);
    EXPECT_EQ(messages.back().wParam, 0u);
    EXPECT_EQ(GetContext()->taskState.load(), TASK_IDLE);
}

}  // namespace
