// Whole runs of the upgrade library against the simulated STB of each protocol generation,
// clean and with faults on the line.
#include <gtest/gtest.h>

#include "tests/integration/sim_session.h"

namespace integration {
namespace {

using stbsim::StbSimOptions;

struct Generation {
    const char* profile;
    int version;  // the protocol version the session settles on
};

class EveryGeneration : public ::testing::TestWithParam<Generation> {};

// Chunks 1 (main code) and 3 (user database) are sent, 0 and 2 moved.
const std::vector<bool> kSendMainAndDatabase = {false, true, false, true};

void ExpectNoViolations(SimSession& s) {
    for (const std::string& v : s.sim().Violations()) {
        ADD_FAILURE() << "protocol violation: " << v;
    }
}

TEST_P(EveryGeneration, ConnectUpgradeAndReboot) {
    StbSimOptions options = OptionsFor(GetParam().profile);
    SimSession s(options);
    ASSERT_EQ(s.Connect(), 0);
    EXPECT_EQ(s.version(), GetParam().version);
    ASSERT_EQ(s.table().count, 4u);
    EXPECT_EQ(s.table().flashSize, 0x80000u);
    EXPECT_EQ(s.table().entries[0].id, CHUNK_ID_BOOTLOADER);
    EXPECT_STREQ(s.table().entries[0].version, "RDX01BL_100203");
    EXPECT_EQ(s.table().entries[3].next, 0u);

    Bytes image = stbsim::BuildFirmware(options.profile, false), expected;
    ASSERT_EQ(s.Upgrade(image, kSendMainAndDatabase, &expected), 0);
    s.Close();
    s.sim().Stop();
    EXPECT_TRUE(s.sim().Flash() == expected) << "the flash differs from what was sent";
    EXPECT_EQ(s.sim().RebootCount(), 1u);
    ExpectNoViolations(s);
    int transfers = 0, moves = 0;
    for (const stbsim::SimEvent& e : s.sim().Events()) {
        transfers += e.kind == "transfer";
        moves += e.kind == "move";
    }
    EXPECT_EQ(transfers, 2);
    EXPECT_EQ(moves, 2);
}

TEST_P(EveryGeneration, DumpReturnsExactlyTheFlash) {
    SimSession s(OptionsFor(GetParam().profile));
    ASSERT_EQ(s.Connect(), 0);
    Bytes whole;
    ASSERT_EQ(s.Dump(0, 0, &whole), 0);
    EXPECT_TRUE(whole == s.sim().Flash()) << "whole dump of " << whole.size() << " bytes differs";
    if (GetParam().version >= 0x20) {
        // One chunk: its slot without the header (the oldest loaders only dump everything).
        int start = 0, size = 0;
        ASSERT_EQ(GetChunkSpan(&s.table(), 1, &start, &size), 1);
        Bytes chunk;
        ASSERT_EQ(s.Dump(unsigned(start), unsigned(size), &chunk), 0);
        Bytes flash = s.sim().Flash();
        EXPECT_TRUE(chunk == Bytes(flash.begin() + start, flash.begin() + start + size));
        // Last blocks shorter than the blank form: data, and erased flash.
        for (auto [from, count] : {std::pair{0u, 1030u}, std::pair{0xE000u, 1028u}}) {
            Bytes piece;
            ASSERT_EQ(s.Dump(from, count, &piece), 0) << from;
            EXPECT_TRUE(piece == Bytes(flash.begin() + from, flash.begin() + from + count)) << from;
        }
    }
    ExpectNoViolations(s);
}

INSTANTIATE_TEST_SUITE_P(Sim, EveryGeneration,
                         ::testing::Values(Generation{"gen30", 0x30}, Generation{"gen21", 0x21},
                                           Generation{"gen20", 0x20}, Generation{"oldest", 0x10}),
                         [](const auto& info) { return std::string(info.param.profile); });

TEST(PacketRun, EncodedTransfersLandExactlyEvenWhenLongerThanTheData) {
    StbSimOptions options = OptionsFor("gen30");
    SimSession s(options);
    ASSERT_EQ(s.Connect(), 0);
    Bytes image = stbsim::BuildFirmware(options.profile, false);
    // The user database slot filled with noise that no encoder can shrink: its encoded form is a
    // little longer than the data, still well inside the room of twice the data, and is sent.
    uint64_t x = 12345;
    uint32_t dbOffset = 0x4000 + 0x8000 + 0x2000;
    for (size_t i = dbOffset + 16; i < image.size(); ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        image[i] = uint8_t(x >> 56);
    }
    Bytes expected;
    ASSERT_EQ(s.Upgrade(image, kSendMainAndDatabase, &expected), 0);
    s.Close();
    s.sim().Stop();
    EXPECT_TRUE(s.sim().Flash() == expected);
    std::vector<std::string> kinds;
    for (const stbsim::SimEvent& e : s.sim().Events()) {
        if (e.kind == "transfer") {
            kinds.push_back(e.text);
        }
    }
    if (EncoderPresent()) {
        EXPECT_EQ(kinds, (std::vector<std::string>{"compressed", "compressed"}));
    } else {
        EXPECT_EQ(kinds, (std::vector<std::string>{"plain", "plain"}));
    }
    ExpectNoViolations(s);
}

// A few percent of the packets lost or damaged in both directions, and noise before replies:
// the library's retries must still bring every byte across, both ways.
TEST(FaultyLine, PacketRunSurvivesLostAndDamagedPackets) {
    StbSimOptions options = OptionsFor("gen30");
    options.faults.seed = 11;
    options.faults.dropRx = options.faults.dropTx = 0.03;
    options.faults.corruptRx = options.faults.corruptTx = 0.03;
    options.faults.noise = 0.05;
    SimSession s(options);
    ASSERT_EQ(s.Connect(), 0);
    Bytes image = stbsim::BuildFirmware(options.profile, false), expected;
    ASSERT_EQ(s.Upgrade(image, kSendMainAndDatabase, &expected), 0);
    EXPECT_TRUE(s.sim().Flash() == expected) << "the flash differs from what was sent";
    ASSERT_EQ(s.Connect(), 0);
    uint32_t chain = 0x4000 + 0x8000 + 0x2000 + 0x380;
    Bytes dumped;
    ASSERT_EQ(s.Dump(0, chain, &dumped), 0);
    Bytes flash = s.sim().Flash();
    EXPECT_TRUE(dumped == Bytes(flash.begin(), flash.begin() + chain));
    int faults = 0;
    for (const stbsim::SimEvent& e : s.sim().Events()) {
        faults += e.kind == "fault";
    }
    EXPECT_GT(faults, 5) << "the faults did not happen";
    ExpectNoViolations(s);
}

TEST(FaultyLine, LegacyRunSurvivesDamagedBlocks) {
    StbSimOptions options = OptionsFor("gen21");
    options.faults.seed = 5;
    options.faults.corruptRx = 0.05;  // transfer blocks: answered "E", sent again
    options.faults.corruptTx = 0.05;  // dump blocks: answered "E", sent again
    options.faults.blockError = 0.03;
    SimSession s(options);
    ASSERT_EQ(s.Connect(), 0);
    Bytes image = stbsim::BuildFirmware(options.profile, false), expected;
    ASSERT_EQ(s.Upgrade(image, kSendMainAndDatabase, &expected), 0);
    EXPECT_TRUE(s.sim().Flash() == expected);
    ASSERT_EQ(s.Connect(), 0);
    Bytes dumped;
    ASSERT_EQ(s.Dump(0, 0, &dumped), 0);
    EXPECT_TRUE(dumped == s.sim().Flash());
    ExpectNoViolations(s);
}

}  // namespace
}  // namespace integration

namespace integration {
namespace {

// Hostile replies: lengths beyond the tool's buffers and more chunks than its table holds are
// refused with an error, never copied.
TEST(HostileStb, OversizedRepliesAndTooManyChunksAreRefused) {
    for (const char* profile : {"gen30", "gen21"}) {
        stbsim::StbSimOptions many = OptionsFor(profile);
        many.faults.tooManyChunks = true;
        SimSession a(many);
        EXPECT_NE(a.Connect(), 0) << profile;
        EXPECT_LE(a.table().count, unsigned(CHUNK_TABLE_CAPACITY)) << profile;

        stbsim::StbSimOptions big = OptionsFor(profile);
        big.faults.oversizedLength = true;
        SimSession b(big);
        EXPECT_NE(b.Connect(), 0) << profile;
        UpgSetProtocolVersion(std::string(profile) == "gen30" ? 0x30 : 0x21);
        Bytes dumped;
        EXPECT_NE(b.Dump(0, 0, &dumped), 0) << profile;
    }
}

}  // namespace
}  // namespace integration
