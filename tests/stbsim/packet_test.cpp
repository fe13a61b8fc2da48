// The packet-protocol boot loader, driven byte by byte.
#include <gtest/gtest.h>

#include "tests/stbsim/device_harness.h"
#include "tools/stbsim/lzma_decode.h"
#include "tools/stbsim/sim_util.h"

namespace stbsim::testing {
namespace {

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = uint8_t((i * 7 + seed) ^ (i >> 5));
    }
    return b;
}

// Sends `data` as numbered pieces of 1024 bytes and expects each acknowledged; the last one
// with status 3.
void SendPieces(DeviceHarness& h, const Bytes& data) {
    uint32_t number = 1;
    for (size_t at = 0; at < data.size(); at += 1024, ++number) {
        size_t n = std::min<size_t>(1024, data.size() - at);
        Bytes piece(data.begin() + at, data.begin() + at + n);
        auto reply = ParsePackets(h.Send(NumberPacket(1, h.serial(), number, piece)));
        ASSERT_EQ(reply.size(), 1u);
        bool last = at + n == data.size();
        EXPECT_EQ(StatusOf(reply[0]), std::make_pair(uint8_t(last ? 3 : 0), last ? 0u : number));
    }
}

TEST(PacketDevice, HandshakeEchoesTheLineAndInvertsTheBanner) {
    DeviceHarness h("gen30");
    h.Handshake();
    EXPECT_EQ(h.Count("handshake"), 1);
    // Stray bytes between packets are dropped without an echo; a renewed comtest still works.
    EXPECT_TRUE(h.Send("xyz\r").empty());
    h.Handshake();
    // A comtest line cut short by a failed echo and ended by the tool's carriage return.
    for (const char* fragment : {"c\r", "co\r", "comtest \r"}) {
        h.Send(fragment);
        h.Handshake();
    }
}

TEST(PacketDevice, VersionAndChunkReplies) {
    DeviceHarness h("RDX01");
    h.Handshake();
    auto version = h.Command("version\r");
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(version[0].type, 1);
    EXPECT_EQ(version[0].serial, 1u);
    ASSERT_EQ(version[0].data.size(), 8u);
    EXPECT_EQ(ReadBe32(version[0].data.data() + 4), 0x30u);

    auto chunk = h.Command("chunk\r");
    ASSERT_EQ(chunk.size(), 1u);
    const Bytes& d = chunk[0].data;
    ASSERT_EQ(d.size(), 4u + 2 + 4 * 128);
    EXPECT_EQ(d[4], 3);  // flash type: 1 MiB
    EXPECT_EQ(ReadBe32(d.data() + 6), kBootLoaderId);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data() + 6 + 32)), "RDX01BL_100203");
    EXPECT_EQ(ReadBe32(d.data() + 6 + 128), 0x01FE0100u);
    EXPECT_EQ(ReadBe32(d.data() + 6 + 3 * 128), 0x04FB0100u);
    EXPECT_EQ(ReadBe32(d.data() + 6 + 3 * 128 + 8), 0u);  // the last chunk
}

TEST(PacketDevice, ResentCommandIsAnsweredAgainNotExecutedTwice) {
    DeviceHarness h("gen30");
    ASSERT_EQ(StatusOf(h.Command("address 0\r")[0]), std::make_pair(uint8_t(0), 0u));
    auto first = h.Command("move 3808428048 16384\r");
    ASSERT_EQ(first.size(), 1u);
    // The acknowledgement was lost: the tool sends the same serial again with retry 1.
    auto again = ParsePackets(h.Send(CommandPacket("move 3808428048 16384\r", h.serial(), 1)));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].data, first[0].data);
    EXPECT_EQ(again[0].serial, h.serial());
    EXPECT_EQ(h.Count("move"), 1);
    EXPECT_EQ(h.Count("repeat"), 1);
    EXPECT_TRUE(h.device().Violations().empty());
}

TEST(PacketDevice, FailureCodesOfTheFlashCommands) {
    struct Case {
        std::vector<std::string> lines;
        uint32_t code;
    } cases[] = {
        {{"transfer 100\r"}, kStbAddressNotInit},
        {{"address 524288\r"}, kStbAddressOverflow},
        {{"address 0\r", "move 1234 0\r"}, kStbChunkNotFound},
        {{"address 0\r", "burn\r"}, kStbNothingToBurn},
        {{"address 0\r", "transfer 524289\r"}, kStbNoBuffer},
        {{"address x\r"}, kStbBadParameter},
        {{"dump 0 524289\r"}, kStbAddressOverflow},
        {{"frobnicate\r"}, kCommandNotRecognised},
    };
    for (const Case& c : cases) {
        DeviceHarness h("gen30");
        std::vector<WirePacket> reply;
        for (const std::string& line : c.lines) {
            reply = h.Command(line);
        }
        ASSERT_EQ(reply.size(), 1u) << c.lines.back();
        EXPECT_EQ(StatusOf(reply[0]), std::make_pair(uint8_t(1), c.code)) << c.lines.back();
    }
}

TEST(PacketDevice, TransferMoveBurnWritesWhatWasSent) {
    StbTiming timing;
    timing.burnStepMs = 10;
    timing.burnKiBPerStep = 8;
    DeviceHarness h("gen30", {}, timing);
    Bytes flash = h.device().Flash();
    Bytes boot(flash.begin(), flash.begin() + 0x4000);
    Bytes main = Pattern(0x8000, 3);

    ASSERT_EQ(StatusOf(h.Command("address 0\r")[0]).first, 0);
    ASSERT_EQ(StatusOf(h.Command("move 3808428048 16384\r")[0]).first, 0);
    ASSERT_EQ(StatusOf(h.Command("transfer 32768\r")[0]).first, 0);
    SendPieces(h, main);
    auto burn = h.Command("burn\r");
    ASSERT_EQ(StatusOf(burn[0]), std::make_pair(uint8_t(0), 0u));

    // Progress: a "B" report with the KiB burnt and a busy status per step, then status 3.
    auto reports = ParsePackets(h.Wait(1000));
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[0].type, 1);
    EXPECT_EQ(std::string(reports[0].data.begin() + 4, reports[0].data.begin() + 9), "B0008");
    EXPECT_EQ(StatusOf(reports[1]).first, 2);
    EXPECT_EQ(StatusOf(reports.back()).first, 3);
    for (const WirePacket& p : reports) {
        EXPECT_EQ(p.serial, h.serial());
    }
    Bytes expected = boot;
    expected.insert(expected.end(), main.begin(), main.end());
    Bytes now = h.device().Flash();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), now.begin()));
    EXPECT_EQ(now[expected.size()], flash[expected.size()]);  // beyond staging: untouched

    // Asking again for the burn's outcome under its serial gives status 3, nothing new.
    auto asked = ParsePackets(h.Send(CommandPacket("burn\r", h.serial(), 1)));
    EXPECT_EQ(StatusOf(asked.back()).first, 3);
    EXPECT_EQ(h.Count("burn"), 1);
    EXPECT_EQ(StatusOf(h.Command("reboot\r")[0]).first, 0);
    EXPECT_EQ(h.device().RebootCount(), 1u);
    EXPECT_TRUE(h.device().Violations().empty());
}

TEST(PacketDevice, LostAcknowledgementIsAnsweredToTheRequest) {
    DeviceHarness h("gen30");
    h.Command("address 0\r");
    h.Command("transfer 2500\r");
    Bytes data = Pattern(2500, 9);
    h.Send(NumberPacket(1, h.serial(), 1, Bytes(data.begin(), data.begin() + 1024)));
    // Asking about packet 1 (held) and packet 2 (not yet there).
    EXPECT_EQ(StatusOf(ParsePackets(h.Send(NumberPacket(2, h.serial(), 1)))[0]),
              std::make_pair(uint8_t(0), 1u));
    EXPECT_EQ(StatusOf(ParsePackets(h.Send(NumberPacket(2, h.serial(), 2)))[0]),
              std::make_pair(uint8_t(0), 1u));
    // A duplicate of packet 1 is not appended twice.
    h.Send(NumberPacket(1, h.serial(), 1, Bytes(data.begin(), data.begin() + 1024)));
    h.Send(NumberPacket(1, h.serial(), 2, Bytes(data.begin() + 1024, data.begin() + 2048)));
    auto last = ParsePackets(
        h.Send(NumberPacket(1, h.serial(), 3, Bytes(data.begin() + 2048, data.end()))));
    EXPECT_EQ(StatusOf(last[0]).first, 3);
    ASSERT_EQ(h.Count("transfer"), 1);
    for (const SimEvent& e : h.device().Events()) {
        if (e.kind == "transfer") {
            EXPECT_EQ(e.length, 2500u);
            EXPECT_EQ(e.sha256, Sha256Hex(data));
        }
    }
}

TEST(PacketDevice, CompressedTransferIsDecodedAndItsLengthsChecked) {
    Bytes data = Pattern(5000, 1);
    Bytes packed;
    ASSERT_TRUE(EncodeLzmaAlone(data, &packed));
    {
        DeviceHarness h("gen30");
        h.Command("address 0\r");
        auto ok = h.Command("transfer -z 5000 " + std::to_string(packed.size()) + "\r");
        ASSERT_EQ(StatusOf(ok[0]).first, 0);
        SendPieces(h, packed);
        EXPECT_TRUE(h.device().Violations().empty());
        h.Command("burn\r");
        h.Wait(1000);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), h.device().Flash().begin()));
    }
    {
        // The announced uncompressed length is wrong: the STB refuses the stream.
        DeviceHarness h("gen30");
        h.Command("address 0\r");
        h.Command("transfer -z 4999 " + std::to_string(packed.size()) + "\r");
        uint32_t number = 1;
        Bytes reply;
        for (size_t at = 0; at < packed.size(); at += 1024, ++number) {
            Bytes piece(packed.begin() + at, packed.begin() + std::min(packed.size(), at + 1024));
            reply = h.Send(NumberPacket(1, h.serial(), number, piece));
        }
        EXPECT_EQ(StatusOf(ParsePackets(reply)[0]), std::make_pair(uint8_t(1), kStbBadParameter));
        EXPECT_EQ(h.device().Violations().size(), 1u);
    }
}

TEST(PacketDevice, DumpSendsErasedPiecesAsBlankPackets) {
    DeviceHarness h("gen30");
    const Bytes& flash = h.device().Flash();
    uint32_t start = 0xE000, size = 0x1000;  // the user database's end, then erased flash
    ASSERT_EQ(
        StatusOf(h.Command("dump " + std::to_string(start) + " " + std::to_string(size) + "\r")[0])
            .first,
        0);
    auto first = ParsePackets(h.Send(NumberPacket(2, h.serial(), 0)));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(ReadBe32(first[0].data.data() + 4), size);
    Bytes got;
    int blanks = 0;
    for (uint32_t n = 1; n <= size / 1024; ++n) {
        auto p = ParsePackets(h.Send(NumberPacket(2, h.serial(), n)));
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(ReadBe32(p[0].data.data()), n);
        blanks += p[0].blank;
        got.insert(got.end(), p[0].data.begin() + 4, p[0].data.end());
    }
    EXPECT_EQ(got, Bytes(flash.begin() + start, flash.begin() + start + size));
    EXPECT_GE(blanks, 2);
    EXPECT_EQ(h.Count("dump"), 1);
}

TEST(PacketDevice, DamagedPacketsAreDroppedAndTheHuntGoesOn) {
    DeviceHarness h("gen30");
    Bytes bad = CommandPacket("address 0\r", 1);
    bad[8] ^= 0x40;  // the serial: header CRC fails
    Bytes badData = CommandPacket("address 0\r", 1);
    badData[20] ^= 0x01;  // data CRC fails
    Bytes stream = Text("HHEA");
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), badData.begin(), badData.end());
    Bytes good = CommandPacket("address 0\r", 1);
    stream.insert(stream.end(), good.begin(), good.end());
    auto reply = ParsePackets(h.Send(stream));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(StatusOf(reply[0]), std::make_pair(uint8_t(0), 0u));
    EXPECT_EQ(h.Count("damaged"), 2);
    EXPECT_EQ(h.Count("command"), 1);
}

TEST(PacketDevice, InjectedFaultsAreRepeatableBySeed) {
    auto run = [](uint64_t seed) {
        StbFaults f;
        f.seed = seed;
        f.dropTx = 0.3;
        f.corruptTx = 0.2;
        f.noise = 0.2;
        DeviceHarness h("gen30", f);
        Bytes all;
        for (int i = 0; i < 20; ++i) {
            Bytes r = h.Send(CommandPacket("version\r", uint32_t(i + 1)));
            all.insert(all.end(), r.begin(), r.end());
        }
        return std::make_pair(all, h.Count("fault"));
    };
    auto a = run(5), b = run(5), c = run(6);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.first, c.first);
    EXPECT_GT(a.second, 3);
}

TEST(PacketDevice, ChosenFailuresAndEarlyDumpEnd) {
    StbFaults f;
    f.failCodes["address"] = 0x10001;
    f.dumpEndAfter = 1;
    DeviceHarness h("gen30", f);
    EXPECT_EQ(StatusOf(h.Command("address 0\r")[0]), std::make_pair(uint8_t(1), 0x10001u));
    h.Command("dump 0 4096\r");
    h.Send(NumberPacket(2, h.serial(), 0));
    EXPECT_EQ(ParsePackets(h.Send(NumberPacket(2, h.serial(), 1)))[0].type, 1);
    EXPECT_EQ(StatusOf(ParsePackets(h.Send(NumberPacket(2, h.serial(), 2)))[0]).first, 3);

    StbFaults burnFault;
    burnFault.burnError = true;
    DeviceHarness b("gen30", burnFault);
    b.Command("address 0\r");
    b.Command("move 3808428048 16384\r");
    b.Command("burn\r");
    auto reports = ParsePackets(b.Wait(1000));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().type, 1);
    EXPECT_EQ(reports.back().data[4], 'E');
    // Asked again, the STB names the failure.
    auto asked = ParsePackets(b.Send(CommandPacket("burn\r", b.serial(), 1)));
    EXPECT_EQ(StatusOf(asked.back()), std::make_pair(uint8_t(1), kBurnFailed));
}

TEST(PacketDevice, MalformedRepliesForRobustnessTests) {
    StbFaults f;
    f.tooManyChunks = true;
    DeviceHarness many("gen30", f);
    EXPECT_EQ(many.Command("chunk\r")[0].length, 4u + 2 + 17 * 128);
    f = {};
    f.oversizedLength = true;
    DeviceHarness big("gen30", f);
    EXPECT_GT(big.Command("version\r")[0].length, 2044u);
}

}  // namespace
}  // namespace stbsim::testing
