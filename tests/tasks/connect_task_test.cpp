#include <cstring>

#include "library/link/serial_port.h"
#include "tasks/connect_task.h"
#include "tests/tasks/sim_fixture.h"

namespace {

using ConnectTaskTest = SimTaskTest;

TEST_F(ConnectTaskTest, FillsTheChunkTableAndMarksTheMaskedChunk) {
    StartSim("gen30");
    CUpgradeContext* context = GetContext();
    context->ParseChunkMask("1FE0100,12345678,");
    ASSERT_EQ(StartConnectTask(), 1);
    std::vector<PostedMessage> messages = CollectUntil(WM_CONNECT_DONE);
    ASSERT_TRUE(WaitForWorker(10000));
    ASSERT_EQ(messages.back().wParam, 1u);

    std::vector<std::string> expected = {"Open Serial Port..", "Sync to serial port..",
                                         "Get Client protocol version  & chunk"};
    if (kEdition201) {
        expected.insert(expected.begin(), "Please power on your STB.");
    }
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS), expected);
    EXPECT_EQ(context->protocolVersion, 0x30);
    EXPECT_STREQ(context->bootVersion, "RDX01BL_100203");
    ASSERT_EQ(g_chunkTable.count, 4u);
    const uint32_t ids[] = {0xE3000010, 0x01FE0100, 0x02FD0100, 0x04FB0100};
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(g_chunkTable.entries[i].id, ids[i]) << i;
        EXPECT_EQ(g_chunkTable.entries[i].masked, i == 1 ? 1 : 0) << i;
    }
    EXPECT_FALSE(TheSerialPort().IsOpen());
    EXPECT_EQ(context->taskState.load(), TASK_IDLE);
}

TEST_F(ConnectTaskTest, ProtocolVersionOfEachGeneration) {
    struct Case {
        const char* profile;
        int transferFormat2;
        int expected;
    } cases[] = {{"gen21", 1, 0x21}, {"gen20", 1, 0x20}, {"gen20", 0, 0x10}};
    for (const Case& c : cases) {
        StartSim(c.profile);
        GetContext()->transferFormat2 = c.transferFormat2;
        UpgSetProtocolVersion(0);
        EXPECT_TRUE(Connect()) << c.profile;
        EXPECT_EQ(GetContext()->protocolVersion, c.expected) << c.profile;
        EXPECT_EQ(g_chunkTable.count, 4u) << c.profile;
        EXPECT_STREQ(GetContext()->bootVersion, "RDX01BL_100203") << c.profile;
        CollectQueued();
        m_sim->Stop();
        EXPECT_EQ(m_sim->Violations(), std::vector<std::string>()) << c.profile;
    }
}

TEST_F(ConnectTaskTest, AFailedQueryReportsItsCodeAndKeepsTheBootVersion) {
    stbsim::StbFaults faults;
    faults.failCodes["chunk"] = 0x10000;
    StartSim("gen30", faults);
    std::strcpy(GetContext()->bootVersion, "earlier");
    ASSERT_EQ(StartConnectTask(), 1);
    std::vector<PostedMessage> messages = CollectUntil(WM_CONNECT_DONE);
    ASSERT_TRUE(WaitForWorker(10000));
    EXPECT_EQ(messages.back().wParam, 0u);
    std::vector<std::string> log = Texts(messages, WM_TASK_LOG);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "STB check command line parameter error!\r\n");
    EXPECT_STREQ(GetContext()->bootVersion, "earlier");
    EXPECT_FALSE(TheSerialPort().IsOpen());
}

}  // namespace
