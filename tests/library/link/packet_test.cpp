#include <cstring>
#include <string>
#include <vector>

#include "library/link/bytes.h"
#include "library/link/packet.h"
#include "library/link/upgrade.h"
#include "tests/support/port_fixture.h"

namespace {

uint32_t Crc(const std::vector<uint8_t>& bytes) {
    return Crc32Update(0xFFFFFFFFu, bytes.data(), static_cast<int>(bytes.size()));
}

void AppendBe32(std::vector<uint8_t>& out, uint32_t v) {
    unsigned char b[4];
    WriteBe32(b, v);
    out.insert(out.end(), b, b + 4);
}

// A packet as the STB puts it on the line; `onLine` is the data actually sent (for a blank packet
// only its first four bytes).
std::vector<uint8_t> WirePacket(uint8_t type, uint8_t blank, uint32_t serial, uint32_t length,
                                const std::vector<uint8_t>& onLine) {
    std::vector<uint8_t> out = {'H', 'E', 'A', 'D', type, blank};
    AppendBe32(out, serial);
    out.push_back(0);
    AppendBe32(out, length);
    AppendBe32(out, Crc32Update(0xFFFFFFFFu, out.data() + 4, 11));
    out.insert(out.end(), onLine.begin(), onLine.end());
    AppendBe32(out, Crc(onLine));
    return out;
}

TEST(Crc32, CheckValues) {
    Crc32InitTable();
    EXPECT_EQ(Crc(Bytes("123456789")), 0x0376E6E7u);
    EXPECT_EQ(Crc(Bytes("abc")), 0x9B73448Cu);
    EXPECT_EQ(Crc({}), 0xFFFFFFFFu);
    // Chained calls give the same register as one call.
    std::vector<uint8_t> a = Bytes("1234"), b = Bytes("56789");
    EXPECT_EQ(Crc32Update(Crc(a), b.data(), 5), 0x0376E6E7u);
}

TEST(PacketHeader, MatchesTheExampleBytes) {
    Crc32InitTable();
    Packet p{};
    p.type = 0;
    p.serial = 1;
    p.length = 8;
    unsigned char header[PACKET_HEADER_SIZE];
    EncodePacketHeader(p, header);
    std::vector<uint8_t> expected = {0x48, 0x45, 0x41, 0x44, 0, 0,    0,    0,    0,   1,
                                     0,    0,    0,    0,    8, 0xF5, 0x52, 0xFE, 0xE9};
    EXPECT_EQ(std::vector<uint8_t>(header, header + PACKET_HEADER_SIZE), expected);
}

using PacketTest = PortTest;

TEST_F(PacketTest, SendWritesHeaderDataAndDataCrc) {
    Packet p{};
    p.type = 2;
    p.serial = 7;
    p.retry = 1;
    p.length = 3;
    std::memcpy(p.data, "xyz", 3);
    ASSERT_EQ(SendPacket(p), UPG_OK);
    std::vector<uint8_t> wire = pty.Read(19 + 3 + 4, 500);
    std::vector<uint8_t> expected = WirePacket(2, 0, 7, 3, Bytes("xyz"));
    expected[10] = 1;  // retry
    WriteBe32(expected.data() + 15, Crc32Update(0xFFFFFFFFu, expected.data() + 4, 11));
    EXPECT_EQ(wire, expected);

    Packet empty{};
    ASSERT_EQ(SendPacket(empty), UPG_OK);
    std::vector<uint8_t> tail = pty.Read(23, 500);
    ASSERT_EQ(tail.size(), 23u);
    EXPECT_EQ(std::vector<uint8_t>(tail.begin() + 19, tail.end()),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(PacketTest, TheHuntFindsTheMagicAfterStrayBytesAndFalseStarts) {
    for (const std::string& prefix : {std::string("noise\r\n"), std::string("HH"),
                                      std::string("HEH"), std::string("HEAHEA"), std::string("")}) {
        std::vector<uint8_t> line = Bytes(prefix);
        // The prefix already holds the first letters of the magic where it ends in them.
        std::vector<uint8_t> packet = WirePacket(3, 0, 9, 4, Bytes("abcd"));
        line.insert(line.end(), packet.begin(), packet.end());
        ASSERT_TRUE(pty.Write(line));
        Packet p{};
        ASSERT_EQ(ReceivePacket(&p, 500), UPG_OK) << prefix;
        EXPECT_EQ(p.type, 3);
        EXPECT_EQ(p.serial, 9u);
        EXPECT_EQ(p.length, 4u);
        EXPECT_EQ(std::memcmp(p.data, "abcd", 4), 0);
    }
}

TEST_F(PacketTest, ABlankDataPacketIsRebuiltWith0xFF) {
    ASSERT_TRUE(pty.Write(WirePacket(1, 1, 4, 1028, {0, 0, 0, 5})));
    Packet p{};
    ASSERT_EQ(ReceivePacket(&p, 500), UPG_OK);
    EXPECT_EQ(p.length, 1028u);
    EXPECT_EQ(p.blank, 1);
    EXPECT_EQ(ReadBe32(p.data), 5u);
    for (int i = 4; i < 1028; ++i)
        ASSERT_EQ(p.data[i], 0xFF) << i;
}

TEST_F(PacketTest, ADamagedHeaderCrcIsRefusedAndTheNextPacketStillArrives) {
    std::vector<uint8_t> bad = WirePacket(0, 0, 1, 2, Bytes("ok"));
    bad[17] ^= 0x01;
    std::vector<uint8_t> line = bad;
    std::vector<uint8_t> good = WirePacket(0, 0, 2, 2, Bytes("ok"));
    line.insert(line.end(), good.begin(), good.end());
    ASSERT_TRUE(pty.Write(line));
    Packet p{};
    EXPECT_EQ(ReceivePacket(&p, 500), UPG_ERR_HEAD_CRC);
    ASSERT_EQ(ReceivePacket(&p, 500), UPG_OK);
    EXPECT_EQ(p.serial, 2u);
    ASSERT_EQ(CollectedLog().size(), 1u);
    EXPECT_EQ(CollectedLog()[0].text, "\r\n->Error:Check packet head CRC error!");
    EXPECT_EQ(CollectedLog()[0].level, 0);
}

TEST_F(PacketTest, ADamagedDataCrcIsCode31) {
    std::vector<uint8_t> bad = WirePacket(0, 0, 1, 2, Bytes("ok"));
    bad.back() ^= 0x80;
    ASSERT_TRUE(pty.Write(bad));
    Packet p{};
    EXPECT_EQ(ReceivePacket(&p, 500), UPG_ERR_DATA_CRC);
    EXPECT_EQ(CollectedLog().back().text, "\r\n->Error:Check packet data CRC error!");
}

TEST_F(PacketTest, LengthsTheRecordCannotHoldAreRefusedBeforeReading) {
    struct Case {
        uint8_t type, blank;
        uint32_t length;
    } cases[] = {{0, 0, 2045}, {1, 0, 0xFFFFFFF0u}, {1, 1, 3}, {1, 1, 4096}};
    for (const Case& c : cases) {
        std::vector<uint8_t> line = WirePacket(c.type, c.blank, 1, c.length, Bytes("abcd"));
        std::vector<uint8_t> good = WirePacket(0, 0, 2, 1, Bytes("z"));
        line.insert(line.end(), good.begin(), good.end());
        ASSERT_TRUE(pty.Write(line));
        Packet p{};
        EXPECT_EQ(ReceivePacket(&p, 500), UPG_ERR_RECEIVE_HEAD) << c.length;
        ASSERT_EQ(ReceivePacket(&p, 500), UPG_OK) << c.length;
        EXPECT_EQ(p.serial, 2u);
    }
}

TEST_F(PacketTest, NothingOnTheLineIsCode27WithoutALogLine) {
    Packet p{};
    EXPECT_EQ(ReceivePacket(&p, 50), UPG_ERR_NO_PACKET);
    EXPECT_TRUE(CollectedLog().empty());
}

TEST_F(PacketTest, AHeaderCutShortIsCode28) {
    std::vector<uint8_t> cut = WirePacket(0, 0, 1, 0, {});
    cut.resize(10);
    ASSERT_TRUE(pty.Write(cut));
    Packet p{};
    EXPECT_EQ(ReceivePacket(&p, 200), UPG_ERR_RECEIVE_HEAD);
    EXPECT_EQ(CollectedLog().back().text, "\r\n->Error:Receive packet head error!");
}

}  // namespace
