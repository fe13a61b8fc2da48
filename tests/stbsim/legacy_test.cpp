// The legacy boot loaders (2.1, 2.0 and the oldest), driven byte by byte.
#include <gtest/gtest.h>

#include "tests/stbsim/device_harness.h"

namespace stbsim::testing {
namespace {

Bytes Block(const Bytes& piece) {
    Bytes b = piece;
    AppendBe32(b, Crc32(piece));
    return b;
}

// The tool's answer to a dump block: the letter, the block number, their CRC.
Bytes BlockAnswer(char letter, uint32_t block) {
    Bytes answer = {uint8_t(letter)};
    AppendBe32(answer, block);
    AppendBe32(answer, Crc32(answer));
    return answer;
}

TEST(LegacyDevice, HandshakeEchoesTheBannerUnchanged) {
    for (const char* name : {"gen21", "gen20", "oldest"}) {
        DeviceHarness h(name);
        EXPECT_TRUE(h.RawLine("comtest 18\r").empty()) << name;
        EXPECT_EQ(h.Send("@VOR PROTOCOL 3.0+"), Text("@VOR PROTOCOL 3.0+")) << name;
    }
}

// A handshake whose echo failed leaves fragments: the tool's carriage return ends a partial
// line, and a banner may have landed in the line. The next comtest still synchronises.
TEST(LegacyDevice, HandshakeRecoversFromBrokenLines) {
    DeviceHarness h("gen21");
    EXPECT_EQ(h.RawLine("comt\r"), Text("E"));
    EXPECT_EQ(h.Send("@VOR PROTOCOL 3.0+"), Text("@VOR PROTOCOL 3.0+"));  // echoed as text
    EXPECT_TRUE(h.RawLine("comtest 18\r").empty());
    EXPECT_EQ(h.Send("@VOR PROTOCOL 3.0+"), Text("@VOR PROTOCOL 3.0+"));
    EXPECT_EQ(h.Count("handshake"), 1);
    EXPECT_TRUE(h.device().Violations().empty());
}

TEST(LegacyDevice, VersionReplyCarriesTheMarkerFrom21On) {
    struct Case {
        const char* profile;
        bool marker;
    } cases[] = {{"gen21", true}, {"gen20", false}, {"oldest", false}};
    for (const Case& c : cases) {
        DeviceHarness h(c.profile);
        Bytes reply = h.RawLine("version -r\r");
        size_t at = 0;
        if (c.marker) {
            ASSERT_GE(reply.size(), 2u);
            EXPECT_EQ(ReadBe16(reply.data()), 0xB721) << c.profile;
            at = 2;
        }
        ASSERT_GE(reply.size(), at + 2);
        uint16_t n = ReadBe16(reply.data() + at);
        EXPECT_EQ(n, 2 + 4 * 128) << c.profile;
        ASSERT_EQ(reply.size(), at + 2 + n + 4) << c.profile;
        const uint8_t* table = reply.data() + at + 2;
        EXPECT_EQ(Crc32(table, n), ReadBe32(table + n));
        EXPECT_EQ(table[0], 1);  // 512 KiB flash
        EXPECT_EQ(ReadBe32(table + 2), kBootLoaderId);
    }
}

TEST(LegacyDevice, TransferBlocksBurnAndReboot) {
    StbTiming timing;
    timing.burnKiBPerStep = 1;
    DeviceHarness h("gen21", {}, timing);
    EXPECT_EQ(h.RawLine("address 0\r"), Text("O"));
    EXPECT_EQ(h.RawLine("transferraw 1500\r"), Text("O"));
    Bytes data(1500);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(i * 13);
    }
    Bytes first = Block(Bytes(data.begin(), data.begin() + 1024));
    Bytes damaged = first;
    damaged[5] ^= 1;
    EXPECT_EQ(h.Send(damaged), Text("E"));
    EXPECT_EQ(h.Send(first), Text("O"));
    EXPECT_EQ(h.Send(Block(Bytes(data.begin() + 1024, data.end()))), Text("O"));
    EXPECT_EQ(h.RawLine("burn\r"), Text("O"));
    Bytes reports = h.Wait(1000);
    EXPECT_EQ(reports, Text("B0001\r\nB0001\r\nF"));  // 1024 of 1500 bytes, then all (1 KiB)
    EXPECT_TRUE(std::equal(data.begin(), data.end(), h.device().Flash().begin()));
    // Reboot has no answer beyond its echo.
    EXPECT_TRUE(h.RawLine("reboot\r").empty());
    EXPECT_EQ(h.device().RebootCount(), 1u);
    EXPECT_TRUE(h.device().Violations().empty());
}

TEST(LegacyDevice, RejectedCommandsAnswerE) {
    StbFaults f;
    f.failCodes["move"] = 0x10003;
    DeviceHarness h("gen20", f);
    EXPECT_EQ(h.RawLine("transferraw 10\r"), Text("E"));  // no address yet
    EXPECT_EQ(h.RawLine("address 0\r"), Text("O"));
    EXPECT_EQ(h.RawLine("move 3808428048 16384\r"), Text("E"));
    EXPECT_EQ(h.RawLine("burn\r"), Text("E"));  // nothing to burn
}

// Block dump of one 2.1 block that holds data and one erased block: header with its checks,
// "G", body, answer.
TEST(LegacyDevice, BlockDumpWithHeaderChecks) {
    DeviceHarness h("gen21");
    const Bytes& flash = h.device().Flash();
    uint32_t start = 0xE000;                              // user database, then erased flash
    EXPECT_TRUE(h.RawLine("dump 57344 2048\r").empty());  // 2.1 with a size: no total
    Bytes got;
    for (uint32_t block = 0; block < 2; ++block) {
        Bytes header = h.Send("H");
        ASSERT_EQ(header.size(), 16u);
        EXPECT_EQ(ReadBe32(header.data()), block);
        EXPECT_EQ(ReadBe32(header.data() + 4), 1024u);
        uint8_t le[4] = {uint8_t(block), 0, 0, 0};
        EXPECT_EQ(ReadBe32(header.data() + 8), Crc32(le, 4));
        if (block == 0) {
            EXPECT_TRUE(h.Send("H").empty());  // header refused: nothing until asked again
            EXPECT_EQ(h.Send("H").size(), 16u);
        }
        Bytes body = h.Send("G");
        if (block == 1) {
            ASSERT_EQ(body.size(), 12u);
            EXPECT_EQ(std::string(body.begin(), body.begin() + 8), "BLANKPCK");
            EXPECT_EQ(ReadBe32(body.data() + 8), 0x8FA51470u);
            body.assign(1024, 0xFF);
        } else {
            ASSERT_EQ(body.size(), 1028u);
            EXPECT_EQ(Crc32(body.data(), 1024), ReadBe32(body.data() + 1024));
            body.resize(1024);
        }
        got.insert(got.end(), body.begin(), body.end());
        EXPECT_TRUE(h.Send(BlockAnswer('O', block)).empty());
    }
    EXPECT_EQ(got, Bytes(flash.begin() + start, flash.begin() + start + 2048));
    EXPECT_EQ(h.Count("dump"), 1);
    EXPECT_TRUE(h.device().Violations().empty());
}

TEST(LegacyDevice, BlockDumpOf20SendsTheTotalAndNoChecks) {
    DeviceHarness h("gen20");
    Bytes total = h.RawLine("dump 0 1024\r");
    ASSERT_EQ(total.size(), 4u);
    EXPECT_EQ(ReadBe32(total.data()), 1024u);
    Bytes block = h.Send("H");
    ASSERT_EQ(block.size(), 8u + 1024 + 4);  // number, length, body, CRC
    // An "E" answer brings the same block again.
    h.Send(BlockAnswer('E', 0));
    EXPECT_EQ(h.Send("H"), block);
}

TEST(LegacyDevice, OldestLoaderSendsTheWholeFlashAsOneStream) {
    DeviceHarness h("oldest");
    Bytes length = h.RawLine("dump\r");
    ASSERT_EQ(length.size(), 4u);
    EXPECT_EQ(ReadBe32(length.data()), 0x80000u);
    Bytes stream = h.Send("O");
    ASSERT_EQ(stream.size(), 0x80000u + 4);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end() - 4, h.device().Flash().begin()));
    EXPECT_EQ(Crc32(stream.data(), 0x80000), ReadBe32(stream.data() + 0x80000));
    EXPECT_EQ(h.RawLine("dump 0 0\r"), Text("E"));  // no block dump in the oldest loaders
}

}  // namespace
}  // namespace stbsim::testing
