// The version and chunk queries in both protocols.
#include <cstring>

#include "tests/library/commands/command_fixture.h"

namespace {

// A chunk table in the STB's format: flash type code, second byte, one header per id.
std::vector<uint8_t> TablePayload(std::initializer_list<uint32_t> ids) {
    std::vector<uint8_t> payload = {5, 0};
    for (uint32_t id : ids) {
        std::vector<uint8_t> header(CHUNK_HEADER_SIZE, 0xFF);
        std::vector<uint8_t> numbers = Concat({Be32(id), Be32(0x70), Be32(0), Be32(0x12345678)});
        std::copy(numbers.begin(), numbers.end(), header.begin());
        std::memcpy(header.data() + 16, "name", 5);
        payload.insert(payload.end(), header.begin(), header.end());
    }
    return payload;
}

std::vector<uint8_t> Be16(uint32_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> Check(const std::vector<uint8_t>& bytes) {
    return Be32(WireCrc(bytes.data(), bytes.size()));
}

// A table that a failed query must leave as it was.
ChunkTable Untouched() {
    ChunkTable table;
    std::memset(&table, 0, sizeof table);
    table.count = 7;
    return table;
}

}  // namespace

using QueryTest = CommandTest;

TEST_F(QueryTest, VersionThenChunks) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "version\r"))
        .Send(StbData(s, 1, {0, 0, 0, 0x30}))
        .Expect(ToolCommand(s + 1, 0, "chunk\r"))
        .Send(StbData(s + 1, 1, TablePayload({CHUNK_ID_BOOTLOADER, 0x01FE0100, 0x03FC0100})));
    int version = 0;
    ChunkTable table = Untouched();
    EXPECT_EQ(UPG_OK, Run(peer, [&] { return UpgGetVersionAndChunks(&version, &table); }));
    EXPECT_EQ(0x30, version);
    ASSERT_EQ(3u, table.count);
    EXPECT_EQ(0x200000u, table.flashSize);
    EXPECT_EQ(0x01FE0100u, table.entries[1].id);
    EXPECT_EQ(0x12345678u, table.entries[1].crc);
    EXPECT_STREQ("name", table.entries[2].name);
}

TEST_F(QueryTest, AFailedVersionSendsNoChunkQuery) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "version\r")).Send(StbStatus(s, 1, UPG_STB_BAD_PARAMETER));
    int version = 0;
    ChunkTable table = Untouched();
    EXPECT_EQ(UPG_STB_BAD_PARAMETER,
              Run(peer, [&] { return UpgGetVersionAndChunks(&version, &table); }));
    EXPECT_EQ(7u, table.count);
    EXPECT_EQ(ToolCommand(s, 0, "version\r"), peer.Received());
}

TEST_F(QueryTest, RepliesTooShortForWhatTheyMustCarry) {
    // A version reply without its four version bytes, a chunk reply without the table's first
    // two bytes: refused, not read from the reply buffer's zeros.
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "version\r"))
        .Send(StbData(s, 1, {}))
        .Expect(ToolCommand(s + 1, 0, "chunk\r"))
        .Send(StbData(s + 1, 1, {5}));
    int version = -1;
    ChunkTable table = Untouched();
    EXPECT_EQ(UPG_ERR_UNRECOGNISED_REPLY, Run(peer, [&] {
                  int first = CmdVersion(&version);
                  EXPECT_EQ(UPG_ERR_UNRECOGNISED_REPLY, first);
                  return CmdChunk(&table);
              }));
    EXPECT_EQ(-1, version);
    EXPECT_EQ(0u, table.count);
}

using LegacyQueryTest = LegacyTest;

TEST_F(LegacyQueryTest, VersionReplyWithAndWithoutMarker) {
    std::vector<uint8_t> table = TablePayload({CHUNK_ID_BOOTLOADER});  // 130 bytes
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        int result;
        int version;
        uint32_t count;
    };
    const Case cases[] = {
        {"marker 0xB721", Concat({{0xB7, 0x21, 0x00, 0x82}, table, Check(table)}), UPG_OK, 0x21, 1},
        {"no marker", Concat({{0x00, 0x82}, table, Check(table)}), UPG_OK, 0, 1},
        {"wrong check", Concat({{0x00, 0x82}, table, Be32(0)}), UPG_ERR_READ_DATA, 0, 7},
        {"no check", Concat({{0xB7, 0x22, 0x00, 0x82}, table}), UPG_ERR_TIMEOUT, 0x22, 7},
        {"0xB720 is a length beyond the buffer", Concat({{0xB7, 0x20}, table}),
         UPG_ERR_UNRECOGNISED_REPLY, 0, 7},
        {"2049 table bytes", Concat({Be16(2049), table}), UPG_ERR_UNRECOGNISED_REPLY, 0, 7},
        {"nothing", {}, UPG_ERR_TIMEOUT, -1, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer(pty);
        peer.Echo("version -r\r").Send(c.reply);
        int version = -1;
        ChunkTable result = Untouched();
        EXPECT_EQ(c.result, Run(peer, [&] { return UpgGetVersionAndChunks(&version, &result); }));
        EXPECT_EQ(c.version, version);
        EXPECT_EQ(c.count, result.count);
        ComPurge();
    }
}

TEST_F(LegacyQueryTest, TheLargestTableFitsTheBuffer) {
    std::vector<uint8_t> table = TablePayload({});
    table.resize(2048, 0);  // 15 records and a partial one
    ScriptedPeer peer(pty);
    peer.Echo("version -r\r").Send(Concat({Be16(2048), table, Check(table)}));
    int version = -1;
    ChunkTable result = Untouched();
    EXPECT_EQ(UPG_OK, Run(peer, [&] { return RawVersion(&version, &result); }));
    EXPECT_EQ(15u, result.count);
}
