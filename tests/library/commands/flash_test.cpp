// Address, move, burn and reboot in both protocols.
#include "platform/edition.h"
#include "tests/library/commands/command_fixture.h"

namespace {

using Wire = std::vector<uint8_t>;

// A burn report in a data packet: the letter, then its tail.
Wire Report(uint32_t serial, const std::string& text) {
    return StbData(serial, 1, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

using FlashTest = CommandTest;

TEST_F(FlashTest, CommandLinesCarryTheirNumbersInDecimal) {
    struct Case {
        const char* line;
        int (*call)();
    };
    const Case cases[] = {
        {"address 0\r", [] { return UpgSetAddress(0); }},
        {"address 4294967295\r", [] { return UpgSetAddress(0xFFFFFFFFu); }},
        {"move 33423616 65536\r", [] { return UpgMove(0x01FE0100, 0x10000); }},
        {"reboot\r", [] { return UpgReboot(); }},
    };
    for (const Case& c : cases) {
        uint32_t s = NextSerial();
        ScriptedPeer peer(pty);
        peer.Expect(ToolCommand(s, 0, c.line)).Send(StbStatus(s, 0, 0));
        EXPECT_EQ(UPG_OK, Run(peer, c.call)) << c.line;
    }
}

TEST_F(FlashTest, BurnReportsAndOutcomes) {
    struct Case {
        const char* what;
        int total;
        std::vector<Wire> (*stream)(uint32_t serial);
        std::vector<int> progress;
        int result;
    };
    const Case cases[] = {
        {"busy, half, complete",
         1048576,
         [](uint32_t s) {
             return std::vector<Wire>{StbStatus(s, 2, 0), Report(s, "B0512xx"), StbStatus(s, 3, 0)};
         },
         {50, 100},
         UPG_OK},
        {"more than the total shows 100, then finished",
         1024,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s, "B0003"), Report(s, "F")};
         },
         {100, 100},
         UPG_OK},
        {"a total of 0 shows 100",
         0,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s, "B0001"), Report(s, "F")};
         },
         {100, 100},
         UPG_OK},
        {"digits up to the first non-digit",
         102400,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s, "B25\r\n"), Report(s, "F")};
         },
         {25, 100},
         UPG_OK},
        {"a report cut short after one digit reads that digit alone",
         10240,
         [](uint32_t s) {
             // Packet 56's data CRC begins with the byte '0': read past the report, it would
             // count as a second digit.
             return std::vector<Wire>{StbData(s, 56, {'B', '5'}), Report(s, "F")};
         },
         {50, 100},
         UPG_OK},
        {"a negative total shows 0",
         -1,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s, "B0512"), Report(s, "F")};
         },
         {0, 100},
         UPG_OK},
        {"an old serial's reports are not this burn's",
         1024,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s - 1, "E"), Report(s, "F")};
         },
         {100},
         UPG_OK},
        {"burn failed",
         1024,
         [](uint32_t s) {
             return std::vector<Wire>{Report(s, "B0000"), Report(s, "E1234567")};
         },
         {0},
         UPG_ERR_BURN},
        {"the STB's code",
         1024,
         [](uint32_t s) { return std::vector<Wire>{StbStatus(s, 1, UPG_STB_NOTHING_TO_BURN)}; },
         {},
         UPG_STB_NOTHING_TO_BURN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeenProgress().clear();
        uint32_t s = NextSerial();
        ScriptedPeer peer(pty);
        peer.Expect(ToolCommand(s, 0, "burn\r")).Send(StbStatus(s, 0, 0));
        for (const Wire& w : c.stream(s))
            peer.Send(w);
        int total = c.total;
        EXPECT_EQ(c.result, Run(peer, [&] { return UpgBurn(total, RecordProgress); }));
        EXPECT_EQ(c.progress, SeenProgress());
    }
}

TEST_F(FlashTest, BurnCommandFailureEndsBeforeWaiting) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "burn\r")).Send(StbStatus(s, 1, UPG_STB_ADDRESS_NOT_INIT));
    EXPECT_EQ(UPG_STB_ADDRESS_NOT_INIT, Run(peer, [] { return UpgBurn(100, RecordProgress); }));
    EXPECT_TRUE(SeenProgress().empty());
}

using LegacyFlashTest = LegacyTest;

TEST_F(LegacyFlashTest, Burn) {
    struct Case {
        const char* what;
        std::string stream;
        std::vector<int> progress;
        int result;
    };
    const Case cases[] = {
        {"half, then finished", std::string("OB0256\r\nF"), {50, 100}, UPG_OK},
        {"noise between reports is skipped", std::string("O\r\nxB0512\r\n..F"), {100, 100}, UPG_OK},
        {"failed", std::string("OE12345678"), {}, UPG_ERR_BURN},
        {"refused", std::string("N"), {}, UPG_ERR_TARGET_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeenProgress().clear();
        ScriptedPeer peer(pty);
        peer.Echo("burn\r").Send(c.stream);
        EXPECT_EQ(c.result, Run(peer, [] { return UpgBurn(524288, RecordProgress); }));
        EXPECT_EQ(c.progress, SeenProgress());
    }
}

TEST_F(LegacyFlashTest, RebootWaitsForNothingAfterItsEcho) {
    ScriptedPeer peer(pty);
    peer.Echo("reboot\r");  // and no acknowledgement: one awaited would time out
    EXPECT_EQ(UPG_OK, Run(peer, [] { return UpgReboot(); }));
}
