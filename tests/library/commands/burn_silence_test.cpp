// The packet burn when the STB falls silent: after five empty windows of 10 s the tool asks
// again under the burn's serial number (edition 2.0.0 keeps waiting without asking). Slow by
// nature: about 50 s.
#include "platform/edition.h"
#include "tests/library/commands/command_fixture.h"

using BurnSilenceTest = CommandTest;

TEST_F(BurnSilenceTest, FiveSilentWindowsAskAgain) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "burn\r")).Send(StbStatus(s, 0, 0));
    if constexpr (kEdition200) {
        // Past one window nothing is asked; a late outcome still counts.
        peer.Pause(12000).Send(StbStatus(s, 3, 0));
    } else {
        // A progress report counts as one of the five events.
        peer.Send(StbData(s, 1, {'B', '0', '0', '0', '1'}))
            .Expect(ToolCommand(s, 1, "burn\r"), 60000)
            .Send(StbStatus(s, 2, 0));
    }
    EXPECT_EQ(UPG_OK, Run(peer, [] { return UpgBurn(2048, RecordProgress); }));
    std::vector<int> expected = kEdition200 ? std::vector<int>{100} : std::vector<int>{50, 100};
    EXPECT_EQ(expected, SeenProgress());
    EXPECT_EQ("", LogText());  // the renewed question is quiet
}
