#include <string>
#include <vector>

#include "library/link/state.h"
#include "library/link/upgrade.h"
#include "tests/support/port_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

const std::string kBanner = "@VOR PROTOCOL 3.0+";
const std::string kCommand = "comtest 18\r";

std::string Inverted(const std::string& text) {
    std::string out;
    for (char c : text)
        out += static_cast<char>(255 - static_cast<unsigned char>(c));
    return out;
}

int g_cancelAfter = -1;  // cancel from this poll on; -1 never
int g_polls = 0;
int CancelPoll() {
    return (g_cancelAfter >= 0 && g_polls++ >= g_cancelAfter) ? 1 : 0;
}

std::vector<int> g_progress;
void RecordProgress(int value) {
    g_progress.push_back(value);
}

class HandshakeTest : public PortTest {
  protected:
    void SetUp() override {
        PortTest::SetUp();
        g_cancelAfter = -1;
        g_polls = 0;
        g_progress.clear();
    }
    // Runs the handshake against `peer`'s script, which must end in a synchronisation; returns
    // the protocol version found.
    int SyncWith(ScriptedPeer& peer) {
        peer.Start();
        int version = -1;
        EXPECT_EQ(UpgComTest(&version, RecordProgress, CancelPoll), UPG_OK);
        EXPECT_TRUE(peer.Finish()) << peer.Error();
        return version;
    }
};

TEST_F(HandshakeTest, BannerEchoedUnchangedSelectsTheLegacyProtocol) {
    ScriptedPeer peer(pty);
    peer.Echo(kCommand).Expect(kBanner).Send(kBanner);
    EXPECT_EQ(SyncWith(peer), 0x20);
    EXPECT_EQ(g_progress, std::vector<int>{0});
}

TEST_F(HandshakeTest, InvertedBannerSelectsThePacketProtocol) {
    ScriptedPeer peer(pty);
    peer.Echo(kCommand).Expect(kBanner).Send(Inverted(kBanner));
    EXPECT_EQ(SyncWith(peer), 0x30);
}

TEST_F(HandshakeTest, AnEchoThatIsNeitherCountsAsAFailedAttempt) {
    std::string wrong = Inverted(kBanner);
    wrong[5] = 'x';
    ScriptedPeer peer(pty);
    peer.Echo(kCommand).Expect(kBanner).Send(wrong);
    peer.Echo(kCommand).Expect(kBanner).Send(Inverted(kBanner));
    EXPECT_EQ(SyncWith(peer), 0x30);
}

TEST_F(HandshakeTest, AWrongCommandEchoIsFollowedByACarriageReturn) {
    ScriptedPeer peer(pty);
    peer.Echo("comt").Expect("e").Send("?").Expect("\r");
    peer.Echo(kCommand).Expect(kBanner).Send(kBanner);
    EXPECT_EQ(SyncWith(peer), 0x20);
}

TEST_F(HandshakeTest, CancelOnTheFirstAttemptSendsNothing) {
    g_cancelAfter = 0;
    int version = 77;
    EXPECT_EQ(UpgComTest(&version, RecordProgress, CancelPoll), UPG_ERR_CANCELLED);
    EXPECT_EQ(version, 77);
    EXPECT_TRUE(g_progress.empty());
    EXPECT_TRUE(pty.ReadUntilQuiet(150).empty());
}

// The one slow test: 200 attempts of about 150 ms with no STB on the line.
TEST_F(HandshakeTest, NoAnswerEndsAfter200AttemptsWithProgressEveryFifth) {
    int version = 77;
    EXPECT_EQ(UpgComTest(&version, RecordProgress, CancelPoll), UPG_ERR_NO_TARGET);
    EXPECT_EQ(version, 77);
    std::vector<int> expected;
    for (int i = 0; i < 200; i += 5)
        expected.push_back(i);
    EXPECT_EQ(g_progress, expected);
    // Each attempt sent the first command character, then a carriage return.
    std::vector<uint8_t> sent = pty.ReadUntilQuiet(50, 2000);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], 'c');
    EXPECT_EQ(sent[1], '\r');
}

TEST(Dispatch, VersionsFromPacketBoundaryUseThePacketProtocol) {
    struct Case {
        int version;
        bool packet;
    } cases[] = {{0, false}, {0x20, false}, {0x2F, false}, {0x30, true}, {0x31, true}, {-1, true}};
    for (const Case& c : cases) {
        UpgSetProtocolVersion(c.version);
        EXPECT_EQ(UsePacketProtocol(), c.packet) << c.version;
        EXPECT_EQ(LegacyProtocolVersion(), c.version);
    }
    UpgSetProtocolVersion(0);
}

}  // namespace
