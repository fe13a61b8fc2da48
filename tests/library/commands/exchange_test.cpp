// The command exchange: counters, attempts, reply checks and log lines of the three packet
// procedures, and the legacy send step.
#include "platform/edition.h"
#include "tests/library/commands/command_fixture.h"

namespace {

using Wire = std::vector<uint8_t>;
using Replies = std::vector<Wire> (*)(uint32_t serial);

std::string ErrorLine(int code, const char* line) {
    char text[256] = "";
    UpgGetErrorText(code, text);
    return std::string("\r\n->Error:") + text + " in execute command:" + line + " Retry.";
}

// Expects `line` once per reply, as a new command and then as its resends, and answers each.
void ExpectAttempts(ScriptedPeer& peer, uint32_t serial, const char* line,
                    const std::vector<Wire>& replies) {
    for (size_t i = 0; i < replies.size(); ++i) {
        peer.Expect(ToolCommand(serial, static_cast<uint8_t>(i), line)).Send(replies[i]);
    }
}

}  // namespace

using ExchangeTest = CommandTest;

TEST_F(ExchangeTest, ResendKeepsTheSerialAndCountsRetriesANewCommandStartsAgain) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "address 5\r"))  // unanswered: the tool waits out its limit
        .Expect(ToolCommand(s, 1, "address 5\r"))
        .Send(StbStatus(s, 0, 0))
        .Expect(ToolCommand(s + 1, 0, "address 6\r"))
        .Send(StbStatus(s + 1, 0, 0));
    EXPECT_EQ(UPG_OK, Run(peer, [] { return CmdAddress(5) == UPG_OK ? CmdAddress(6) : -1; }));
    EXPECT_EQ(s + 1, CommandSerial());
    EXPECT_EQ(0, CommandRetry());
    // The lost reply's error line, then "OK" once the retry succeeded; nothing for the second.
    EXPECT_EQ(ErrorLine(UPG_ERR_NO_PACKET, "address 5\r") + "OK", LogText());
    for (const LoggedLine& line : CollectedLog())
        EXPECT_EQ(0, line.level);
}

TEST_F(ExchangeTest, CommandAttemptsRepliesAndLogLines) {
    struct Case {
        const char* what;
        Replies replies;  // by attempt, each sent at once
        int result;
        std::string log;
    };
    const std::string unrecognised = ErrorLine(UPG_ERR_PACKET_UNRECOGNISED, "reboot\r");
    const Case cases[] = {
        {"done at once", [](uint32_t s) { return std::vector<Wire>{StbStatus(s, 0, 0)}; }, UPG_OK,
         ""},
        {"busy counts as done", [](uint32_t s) { return std::vector<Wire>{StbStatus(s, 2, 0)}; },
         UPG_OK, ""},
        {"previous serial, short status, then finished",
         [](uint32_t s) {
             return std::vector<Wire>{StbStatus(s - 1, 0, 0),
                                      EncodeWire({3, 0, s, 0, {0, 0, 0, 0}}), StbStatus(s, 3, 0)};
         },
         UPG_OK, unrecognised + ".OK"},
        {"an STB failure code ends at once",
         [](uint32_t s) { return std::vector<Wire>{StbStatus(s, 1, UPG_STB_CHUNK_NOT_FOUND)}; },
         UPG_STB_CHUNK_NOT_FOUND, ""},
        {"a small failure value is retried, then returned",
         [](uint32_t s) { return std::vector<Wire>(5, StbStatus(s, 1, UPG_ERR_CRC)); }, UPG_ERR_CRC,
         ErrorLine(UPG_ERR_CRC, "reboot\r") + "...."},
        {"a failure value of 0 is no success",
         [](uint32_t s) { return std::vector<Wire>(5, StbStatus(s, 1, 0)); }, UPG_ERR_GENERIC,
         ErrorLine(UPG_ERR_GENERIC, "reboot\r") + "...."},
        {"a data reply is no answer",
         [](uint32_t s) {
             return std::vector<Wire>(5, StbData(s, 0, {1, 2, 3}));
         },
         UPG_ERR_PACKET_UNRECOGNISED, unrecognised + "...."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CollectedLog().clear();
        uint32_t s = NextSerial();
        std::vector<Wire> replies = c.replies(s);
        ScriptedPeer peer(pty);
        ExpectAttempts(peer, s, "reboot\r", replies);
        EXPECT_EQ(c.result, Run(peer, [] { return CmdReboot(); }));
        EXPECT_EQ(c.log, LogText());
        // No attempt beyond the script's.
        EXPECT_EQ(replies.size() * ToolCommand(s, 0, "reboot\r").size(), peer.Received().size());
    }
}

TEST_F(ExchangeTest, QueryOnExecutedWithoutDataAsksUnderANewSerialEachTime) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    for (uint32_t i = 0; i < 5; ++i) {
        peer.Expect(ToolCommand(s + i, 0, "version\r")).Send(StbStatus(s + i, 3, 0));
    }
    int version = -1;
    int expected = kEdition200 ? UPG_ERR_PACKET_UNRECOGNISED : UPG_COMMAND_EXECUTED;
    EXPECT_EQ(expected, Run(peer, [&] { return CmdVersion(&version); }));
    EXPECT_EQ(-1, version);
    EXPECT_EQ("", LogText());
}

TEST_F(ExchangeTest, QueryAnsweredOnlyByStatusZeroNeverSucceeds) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    ExpectAttempts(peer, s, "version\r", std::vector<Wire>(5, StbStatus(s, 0, 0)));
    int version = -1;
    EXPECT_EQ(UPG_ERR_PACKET_UNRECOGNISED, Run(peer, [&] { return CmdVersion(&version); }));
    EXPECT_EQ(ErrorLine(UPG_ERR_PACKET_UNRECOGNISED, "version\r") + "....", LogText());
}

TEST_F(ExchangeTest, QueryStopsAtAnStbFailureCode) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "chunk\r")).Send(StbStatus(s, 1, UPG_STB_NO_BUFFER));
    ChunkTable table{};
    EXPECT_EQ(UPG_STB_NO_BUFFER, Run(peer, [&] { return CmdChunk(&table); }));
    EXPECT_EQ("", LogText());
}

using LegacyExchangeTest = LegacyTest;

TEST_F(LegacyExchangeTest, AWrongEchoEndsTheLineAtOnce) {
    ScriptedPeer peer(pty);
    peer.Echo("addr").Expect("e").Send("x");
    EXPECT_EQ(UPG_ERR_SEND_COMMAND, Run(peer, [] { return RawAddress(7); }));
    EXPECT_EQ(Bytes("addre"), peer.Received());  // nothing after the failing byte
}

TEST_F(LegacyExchangeTest, Acknowledgements) {
    struct Case {
        const char* answer;
        int result;
    };
    const Case cases[] = {{"O", UPG_OK}, {"X", UPG_ERR_TARGET_FAILED}, {"", UPG_ERR_TIMEOUT}};
    for (const Case& c : cases) {
        ScriptedPeer peer(pty);
        peer.Echo("address 1\r").Send(c.answer);
        EXPECT_EQ(c.result, Run(peer, [] { return RawAddress(1); })) << c.answer;
    }
}
