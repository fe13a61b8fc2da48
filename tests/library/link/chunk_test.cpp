#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "library/link/bytes.h"
#include "library/link/upgrade.h"
#include "platform/edition.h"
#include "platform/paths.h"

namespace {

using Bytes = std::vector<unsigned char>;

// One chunk of a fixture image. `next` of kAutoNext is the chunk's own size (16 + length),
// rounded up to `pad`; the last chunk of an image gets 0 unless stated.
constexpr uint32_t kAutoNext = 0xFFFFFFFF;
struct FixtureChunk {
    uint32_t id;
    uint32_t payload = 0;  // bytes after the 128-byte header
    uint32_t next = kAutoNext;
    bool withCrc = true;
    std::string name = "";
    std::string version = "";
};

Bytes Header(uint32_t id, uint32_t length, uint32_t next, uint32_t crc, const std::string& name,
             const std::string& version) {
    Bytes h(CHUNK_HEADER_SIZE, 0xFF);
    WriteBe32(h.data(), id);
    WriteBe32(h.data() + 4, length);
    WriteBe32(h.data() + 8, next);
    WriteBe32(h.data() + 12, crc);
    std::memcpy(h.data() + 16, name.c_str(), std::min<size_t>(name.size() + 1, 16));
    std::memcpy(h.data() + 32, version.c_str(), std::min<size_t>(version.size() + 1, 16));
    return h;
}

// The chain as an image: each chunk's payload is a counting pattern, its CRC right (or NCRC),
// its slot padded with 0xFF to `next`.
Bytes BuildImage(const std::vector<FixtureChunk>& chunks) {
    Crc32InitTable();
    Bytes image;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const FixtureChunk& c = chunks[i];
        uint32_t length = CHUNK_HEADER_SIZE - 16 + c.payload;
        uint32_t next = c.next;
        if (next == kAutoNext)
            next = i + 1 == chunks.size() ? 0 : 16 + length + 32;
        Bytes chunk = Header(c.id, length, next, 0, c.name, c.version);
        for (uint32_t b = 0; b < c.payload; ++b)
            chunk.push_back(static_cast<unsigned char>(b * 7));
        uint32_t crc =
            c.withCrc ? Crc32Update(0xFFFFFFFFu, chunk.data() + 16, length) : CHUNK_NO_CRC;
        WriteBe32(chunk.data() + 12, crc);
        if (next > chunk.size())
            chunk.resize(next, 0xFF);
        image.insert(image.end(), chunk.begin(), chunk.end());
    }
    return image;
}

class ImageTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.Create("chunk-test-")); }
    std::string Write(const Bytes& image) {
        std::string path = m_dir.File("image.bin");
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
        return path;
    }
    struct Found {
        int result;
        int offset;
        int size;
        std::string text;
    };
    Found Find(const std::string& path, uint32_t wanted) {
        Found f{0, -1, -1, ""};
        char text[16];
        std::memset(text, 'x', sizeof text);
        f.result = FindChunkInImage(path.c_str(), wanted, &f.offset, &f.size, text);
        if (f.result == 1) {
            EXPECT_NE(nullptr, std::memchr(text, 0, sizeof text));
            f.text = text;
        }
        return f;
    }
    PlatformPrivateDir m_dir;
};

// Boot loader, a kind-2 chunk, 0x04FB0100 without CRC, and a last chunk with `next` 0.
std::vector<FixtureChunk> SoundChain() {
    return {
        {CHUNK_ID_BOOTLOADER, 200, kAutoNext, true, "boot", "B1.07"},
        {0x01FE0100, 1500, 0x1000, true, "main", "M2.00"},
        {CHUNK_ID_NO_SLOT, 40, 0x400, false, "conf", "C1"},
        {0x03FC0100, 3000, 0, true, "last", "L9"},
    };
}

}  // namespace

TEST(ChunkTableTest, ParsesHeadersFlashSizeAndTexts) {
    Bytes payload = {5, 0x42};
    Bytes a = Header(0x01FE0100, 0x1234, 0x10000, 0xAABBCCDD, "abc", "0123456789ABCDEF");
    a[48] = 'x';
    a[49] = 0;
    Bytes b = Header(CHUNK_ID_BOOTLOADER, 0x70, 0x8000, 0x11111111, "boot", "v1");
    Bytes c = Header(CHUNK_ID_NO_SLOT, 0x70, 0, 0x22222222, "c", "");
    for (const Bytes* h : {&a, &b, &c})
        payload.insert(payload.end(), h->begin(), h->end());
    payload.resize(payload.size() + 100, 0);  // a trailing partial record

    ChunkTable table;
    std::memset(&table, 0xAB, sizeof table);
    ASSERT_EQ(UPG_OK,
              ParseChunkTable(payload.data(), static_cast<unsigned>(payload.size()), &table));
    EXPECT_EQ(0x200000u, table.flashSize);
    EXPECT_EQ(0x42u, table.secondByte);
    ASSERT_EQ(3u, table.count);
    const ChunkInfo& e = table.entries[0];
    EXPECT_EQ(0x01FE0100u, e.id);
    EXPECT_EQ(0x1234u, e.length);
    EXPECT_EQ(0x10000u, e.next);
    EXPECT_EQ(0xAABBCCDDu, e.crc);
    EXPECT_EQ(0, e.selected);
    EXPECT_EQ(0, e.masked);
    // Three characters, the NUL, then 0xFF.
    EXPECT_EQ(0, std::memcmp(e.name, "abc\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16));
    // A text filling all 16 bytes is cut to 15 characters.
    EXPECT_STREQ("0123456789ABCDE", e.version);
    EXPECT_STREQ("x", e.extra);
    // The two chunks without a CRC, whatever the STB sent.
    EXPECT_EQ(CHUNK_NO_CRC, table.entries[1].crc);
    EXPECT_EQ(CHUNK_NO_CRC, table.entries[2].crc);

    unsigned char out[CHUNK_HEADER_SIZE];
    EncodeChunkHeader(&e, out);
    EXPECT_EQ(0x01FE0100u, ReadBe32(out));
    EXPECT_EQ(0xAABBCCDDu, ReadBe32(out + 12));
    EXPECT_EQ(0, std::memcmp(out + 16, e.name, 16));  // the 0xFF after the NUL passed on
    EXPECT_EQ(0, std::memcmp(out + 32, "0123456789ABCDE", 16));
    for (size_t i = 64; i < CHUNK_HEADER_SIZE; ++i)
        ASSERT_EQ(0xFF, out[i]) << i;
}

TEST(ChunkTableTest, EditionDecidesWhichIdsCarryNoCrc) {
    // Same prefix as the two special ids, other low bits.
    Bytes payload = {0, 0};
    for (uint32_t id : {0x04FB0200u, 0xE3000020u, 0x01FE0100u}) {
        Bytes h = Header(id, 0x70, 0, 0x12345678, "n", "v");
        payload.insert(payload.end(), h.begin(), h.end());
    }
    ChunkTable table{};
    ASSERT_EQ(UPG_OK,
              ParseChunkTable(payload.data(), static_cast<unsigned>(payload.size()), &table));
    uint32_t prefixCrc = kEdition200 ? CHUNK_NO_CRC : 0x12345678u;
    EXPECT_EQ(prefixCrc, table.entries[0].crc);
    EXPECT_EQ(prefixCrc, table.entries[1].crc);
    EXPECT_EQ(0x12345678u, table.entries[2].crc);
}

TEST(ChunkTableTest, FlashTypeCodes) {
    struct Case {
        unsigned char code;
        uint32_t size;
    };
    const Case cases[] = {{0, 0},         {1, 0x80000},   {2, 0x80000},   {3, 0x100000},
                          {4, 0x100000},  {5, 0x200000},  {6, 0x200000},  {7, 0x80000},
                          {8, 0x100000},  {9, 0x100000},  {10, 0x80000},  {11, 0x100000},
                          {12, 0x200000}, {13, 0x100000}, {14, 0x200000}, {15, 0x200000},
                          {16, 0x200000}, {17, 0},        {255, 0}};
    for (const Case& c : cases) {
        unsigned char payload[2] = {c.code, 0};
        ChunkTable table{};
        ASSERT_EQ(UPG_OK, ParseChunkTable(payload, 2, &table));
        EXPECT_EQ(c.size, table.flashSize) << int(c.code);
        EXPECT_EQ(0u, table.count);
    }
}

TEST(ChunkTableTest, RefusesPayloadsTheTableCannotHold) {
    Bytes payload(2 + CHUNK_HEADER_SIZE * 17, 0);
    ChunkTable table{};
    table.count = 5;
    EXPECT_EQ(UPG_ERR_UNRECOGNISED_REPLY, ParseChunkTable(payload.data(), 1, &table));
    EXPECT_EQ(0u, table.count);
    table.count = 5;
    EXPECT_EQ(UPG_ERR_UNRECOGNISED_REPLY,
              ParseChunkTable(payload.data(), static_cast<unsigned>(payload.size()), &table));
    EXPECT_EQ(0u, table.count);
    // Sixteen records fit exactly.
    EXPECT_EQ(UPG_OK, ParseChunkTable(payload.data(), 2 + CHUNK_HEADER_SIZE * 16, &table));
    EXPECT_EQ(16u, table.count);
}

TEST(ChunkTableTest, KindsByIdPrefix) {
    struct Case {
        uint32_t id;
        int kind;
        int kind200;
    };
    const Case cases[] = {
        {0xE3000010, 1, 1}, {0xE300FFFF, 1, 1}, {0x01FE0100, 2, 0}, {0x02FD0100, 0, 2},
        {0x08F70100, 3, 0}, {0x03FC0100, 4, 3}, {0x04FB0100, 0, 4}, {0x01FF0100, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kEdition200 ? c.kind200 : c.kind, GetChunkKind(c.id)) << std::hex << c.id;
    }
}

TEST(ChunkTableTest, OverlayKeepsBytesAfterEachTextAndPastTheTexts) {
    ChunkInfo entry;
    std::memset(&entry, 0xFF, sizeof entry);
    entry.id = 0xE3000010;
    entry.length = 0x7F70;
    entry.next = 0x8000;
    entry.crc = CHUNK_NO_CRC;
    std::strcpy(entry.name, "boot");
    std::strcpy(entry.version, "B1.07");
    std::strcpy(entry.extra, "");
    unsigned char out[CHUNK_HEADER_SIZE];
    std::memset(out, 0x5A, sizeof out);
    OverlayChunkHeader(&entry, out);
    EXPECT_EQ(0xE3000010u, ReadBe32(out));
    EXPECT_EQ(0x7F70u, ReadBe32(out + 4));
    EXPECT_EQ(0x8000u, ReadBe32(out + 8));
    EXPECT_EQ(CHUNK_NO_CRC, ReadBe32(out + 12));
    EXPECT_EQ(0, std::memcmp(out + 16, "boot\0\x5A", 6));
    EXPECT_EQ(0, std::memcmp(out + 32, "B1.07\0\x5A", 7));
    EXPECT_EQ(0, std::memcmp(out + 48, "\0\x5A", 2));
    for (size_t i = 64; i < CHUNK_HEADER_SIZE; ++i)
        ASSERT_EQ(0x5A, out[i]) << i;
}

TEST(ChunkTableTest, SpanOfAnEntry) {
    ChunkTable table{};
    table.count = 4;
    table.entries[0] = {CHUNK_ID_BOOTLOADER, 0xFFF0, 0x10000, 0, {}, {}, {}, 0, 0};
    table.entries[1] = {0x01FE0100, 0x100, 0x20000, 0, {}, {}, {}, 0, 0};
    table.entries[2] = {0x03FC0100, 0x100, 0x8000, 0, {}, {}, {}, 0, 0};
    table.entries[3] = {0x08F70100, 0x1F0, 0, 0, {}, {}, {}, 0, 0};
    struct Case {
        unsigned index;
        int result, start, size;
    };
    const Case cases[] = {
        {0, 1, 0, 0x10000},             // the boot loader chunk whole, header included
        {2, 1, 0x30080, 0x7F80},        // payload only
        {3, 1, 0x38080, 0x200 - 0x80},  // the last chunk's slot is 16 + length
        {4, 0, -1, -1},
    };
    for (const Case& c : cases) {
        int start = -1, size = -1;
        EXPECT_EQ(c.result, GetChunkSpan(&table, c.index, &start, &size)) << c.index;
        EXPECT_EQ(c.start, start) << c.index;
        EXPECT_EQ(c.size, size) << c.index;
    }
    // A hostile table: a slot shorter than a header, or offsets past the int range.
    table.entries[1].next = 0x40;
    int start = -1, size = -1;
    EXPECT_EQ(0, GetChunkSpan(&table, 1, &start, &size));
    table.entries[1].next = 0xFFFFFFF0;
    EXPECT_EQ(0, GetChunkSpan(&table, 2, &start, &size));
}

TEST_F(ImageTest, FindsEachChunkOfASoundChain) {
    Bytes image = BuildImage(SoundChain());
    std::string path = Write(image);
    const uint32_t bootSlot = 16 + 112 + 200 + 32;
    struct Case {
        uint32_t wanted;
        int offset;
        int size;
        const char* text;
    };
    const Case cases[] = {
        {CHUNK_ID_BOOTLOADER, 0, bootSlot, "B1.07"},  // the boot loader's version
        {0x01FE0100, bootSlot, 0x1000, "main"},
        {CHUNK_ID_NO_SLOT, bootSlot + 0x1000, 16 + 112 + 40, "conf"},  // 16 + length
        {0x03FC0100, bootSlot + 0x1400, 16 + 112 + 3000, "last"},      // last: 16 + length
    };
    for (const Case& c : cases) {
        Found f = Find(path, c.wanted);
        ASSERT_EQ(1, f.result) << std::hex << c.wanted;
        EXPECT_EQ(c.offset, f.offset) << std::hex << c.wanted;
        EXPECT_EQ(c.size, f.size) << std::hex << c.wanted;
        if constexpr (kEdition200) {
            EXPECT_EQ("B1.07", f.text);  // always the boot loader's version
        } else {
            EXPECT_EQ(c.text, f.text);
        }
    }
    // The last chunk's reported slot ends exactly at the end of the file.
    EXPECT_EQ(image.size(), size_t(bootSlot + 0x1400 + 16 + 112 + 3000));
    EXPECT_EQ(0, Find(path, 0x08F70100).result);
    EXPECT_EQ(kEdition200 ? 0 : 1, Find(path, 0x01FE0101).result);  // bit 0 ignored in 2.0.1
    EXPECT_EQ(1, CheckImageChain(path.c_str()));
}

TEST_F(ImageTest, AnyBrokenChunkRefusesTheWholeImage) {
    struct Case {
        const char* what;
        std::vector<FixtureChunk> chain;
        size_t cut = 0;  // bytes cut off the end of the file
        long flip = -1;  // offset of a payload byte to change
    };
    const Case cases[] = {
        {"second id fails the id rule", {{CHUNK_ID_BOOTLOADER}, {0x01FF0100, 10}}},
        {"next beyond 2 MiB", {{CHUNK_ID_BOOTLOADER, 0, 0x200010}, {0x01FE0100}}},
        {"length beyond next - 16", {{CHUNK_ID_BOOTLOADER, 100, 200}, {0x01FE0100}}},
        {"next below 16", {{CHUNK_ID_BOOTLOADER, 0, 8}, {0x01FE0100}}},
        {"wrong CRC", {{CHUNK_ID_BOOTLOADER, 10}, {0x01FE0100, 300}}, 0, 0x0F0},
        {"truncated last chunk", {{CHUNK_ID_BOOTLOADER, 10}, {0x01FE0100, 300}}, 1},
        {"truncated last chunk without CRC",
         {{CHUNK_ID_BOOTLOADER, 10}, {0x01FE0100, 300, kAutoNext, false}},
         1},
        {"chain runs past the end", {{CHUNK_ID_BOOTLOADER, 10}, {0x01FE0100, 10, 0x400}}},
    };
    for (const Case& c : cases) {
        Bytes image = BuildImage(c.chain);
        image.resize(image.size() - c.cut);
        if (c.flip >= 0)
            image[c.flip] ^= 1;
        std::string path = Write(image);
        EXPECT_EQ(0, Find(path, CHUNK_ID_BOOTLOADER).result) << c.what;
        EXPECT_EQ(0, CheckImageChain(path.c_str())) << c.what;
    }
    EXPECT_EQ(0, Find(m_dir.File("missing.bin"), CHUNK_ID_BOOTLOADER).result);
    EXPECT_EQ(0, Find("", CHUNK_ID_BOOTLOADER).result);
    int offset = 0, size = 0;
    EXPECT_EQ(0, FindChunkInImage(Write(BuildImage(SoundChain())).c_str(), CHUNK_ID_BOOTLOADER,
                                  &offset, &size, nullptr));
}

TEST_F(ImageTest, AChunkWithoutCrcIsNotRead) {
    // Its payload differs from what any CRC would say; the walk does not look at it.
    std::vector<FixtureChunk> chain = {
        {CHUNK_ID_BOOTLOADER, 0}, {0x01FE0100, 500, 0x400, false}, {0x03FC0100, 10}};
    Bytes image = BuildImage(chain);
    image[CHUNK_HEADER_SIZE + 0x100 + 200] ^= 0xFF;
    EXPECT_EQ(1, Find(Write(image), 0x03FC0100).result);
}

TEST_F(ImageTest, ChainCheckWantsMoreThanOneChunk) {
    EXPECT_EQ(0, CheckImageChain(Write(BuildImage({{CHUNK_ID_BOOTLOADER, 10}})).c_str()));
    EXPECT_EQ(1, CheckImageChain(
                     Write(BuildImage({{CHUNK_ID_BOOTLOADER, 10}, {0x01FE0100, 10}})).c_str()));
}
