// The chunk table and the firmware image rules. A chunk is a 128-byte big-endian header (id,
// length, next, crc, then three 16-byte texts) followed by its payload; an image file is the
// same chain of chunks as the flash, byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "library/link/bytes.h"
#include "library/link/upgrade.h"
#include "platform/edition.h"

namespace {

constexpr uint32_t kTextOffsets[3] = {16, 32, 48};
constexpr uint32_t kTextSize = 16;
constexpr uint32_t kCrcReadStep = 1024;

// Flash size by flash type code; codes past the table give 0.
uint32_t FlashSizeOf(unsigned code) {
    constexpr uint32_t k512K = 0x80000, k1M = 0x100000, k2M = 0x200000;
    static constexpr uint32_t kSizes[] = {0,   k512K, k512K, k1M, k1M, k2M, k2M, k512K, k1M,
                                          k1M, k512K, k1M,   k2M, k1M, k2M, k2M, k2M};
    return code < sizeof kSizes / sizeof kSizes[0] ? kSizes[code] : 0;
}

// Copies a header text up to and including its NUL; a text that fills all 16 bytes is cut to
// 15 characters so that it always ends within its field. The bytes after the NUL keep what
// `out` held.
void CopyText(char* out, const unsigned char* text) {
    for (uint32_t i = 0; i < kTextSize; ++i) {
        if (i == kTextSize - 1) {
            out[i] = '\0';
            return;
        }
        out[i] = static_cast<char>(text[i]);
        if (text[i] == 0)
            return;
    }
}

// The chunks that the boot loader keeps no CRC for.
bool CarriesNoCrc(uint32_t id) {
    if constexpr (kEdition200) {
        uint32_t prefix = id >> 16;
        return prefix == (CHUNK_ID_NO_SLOT >> 16) || prefix == (CHUNK_ID_BOOTLOADER >> 16);
    }
    return id == CHUNK_ID_NO_SLOT || id == CHUNK_ID_BOOTLOADER;
}

// A chunk's place in flash or in a file: `next` bytes, or 16 + `length` for the last chunk.
uint64_t SlotOf(uint32_t length, uint32_t next) {
    return next != 0 ? next : 16 + static_cast<uint64_t>(length);
}

struct ImageChunk {
    uint64_t pos;
    uint32_t id;
    uint32_t length;
    uint32_t next;
    unsigned char header[CHUNK_HEADER_SIZE];
};

// An open image file, closed on every way out.
class ImageFile {
  public:
    explicit ImageFile(const char* path) : m_file(std::fopen(path, "rb")) {
        if (m_file != nullptr && std::fseek(m_file, 0, SEEK_END) == 0) {
            long size = std::ftell(m_file);
            if (size >= 0)
                m_size = static_cast<uint64_t>(size);
        }
    }
    ~ImageFile() {
        if (m_file != nullptr)
            std::fclose(m_file);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool ok() const { return m_file != nullptr; }
    uint64_t size() const { return m_size; }
    bool ReadAt(uint64_t pos, unsigned char* out, size_t count) {
        if (pos > static_cast<uint64_t>(std::numeric_limits<long>::max()))
            return false;
        if (std::fseek(m_file, static_cast<long>(pos), SEEK_SET) != 0)
            return false;
        return std::fread(out, 1, count, m_file) == count;
    }

  private:
    std::FILE* m_file;
    uint64_t m_size = 0;
};

// The CRC of `length` bytes from `pos`, read a step at a time; false on a short read.
bool ContentCrc(ImageFile& file, uint64_t pos, uint32_t length, uint32_t* crc) {
    unsigned char step[kCrcReadStep];
    uint32_t value = 0xFFFFFFFFu;
    while (length > 0) {
        uint32_t n = length < kCrcReadStep ? length : kCrcReadStep;
        if (!file.ReadAt(pos, step, n))
            return false;
        value = Crc32Update(value, step, static_cast<int>(n));
        pos += n;
        length -= n;
    }
    *crc = value;
    return true;
}

// Checks one chunk against the chain rules and its CRC.
bool ChunkIsSound(ImageFile& file, const ImageChunk& chunk, int index) {
    uint32_t top = chunk.id >> 24;
    uint32_t second = (chunk.id >> 16) & 0xFF;
    if (index > 0 && top + second != 0xFF)
        return false;
    if (chunk.next > CHUNK_MAX_NEXT)
        return false;
    uint64_t occupied = 16 + static_cast<uint64_t>(chunk.length);
    if (chunk.next != 0 && occupied > chunk.next)
        return false;
    bool inFile = chunk.pos + occupied <= file.size();
    // The last chunk must lie within the file even without a CRC: its slot is what a caller
    // reads from the file and sends.
    if (chunk.next == 0 && !inFile)
        return false;
    uint32_t crc = ReadBe32(chunk.header + 12);
    if (crc == CHUNK_NO_CRC)
        return true;
    if (!inFile)
        return false;
    uint32_t actual = 0;
    return ContentCrc(file, chunk.pos + 16, chunk.length, &actual) && actual == crc;
}

// Walks the chain of the image at `path`, handing each sound chunk to `visit` in order. Returns
// the number of chunks when the chain is sound up to a chunk whose `next` is 0, else -1.
template <typename Visit>
int WalkImage(const char* path, Visit visit) {
    if (path == nullptr || path[0] == '\0')
        return -1;
    ImageFile file(path);
    if (!file.ok())
        return -1;
    Crc32InitTable();
    ImageChunk chunk{};
    for (int index = 0;; ++index) {
        if (chunk.pos + CHUNK_HEADER_SIZE > file.size())
            return -1;
        if (!file.ReadAt(chunk.pos, chunk.header, CHUNK_HEADER_SIZE))
            return -1;
        chunk.id = ReadBe32(chunk.header);
        chunk.length = ReadBe32(chunk.header + 4);
        chunk.next = ReadBe32(chunk.header + 8);
        if (!ChunkIsSound(file, chunk, index))
            return -1;
        visit(chunk);
        if (chunk.next == 0)
            return index + 1;
        chunk.pos += chunk.next;
    }
}

// A 16-byte header text for the caller, always NUL-terminated within its 16 bytes.
void TakeText(char* out, const unsigned char* text) {
    std::memcpy(out, text, kTextSize);
    if (std::memchr(out, 0, kTextSize) == nullptr)
        out[kTextSize - 1] = '\0';
}

bool SameChunk(uint32_t id, uint32_t wanted) {
    if constexpr (kEdition200)
        return id == wanted;
    return (id | 1u) == (wanted | 1u);
}

}  // namespace

int ParseChunkTable(const unsigned char* payload, unsigned length, ChunkTable* table) {
    table->count = 0;
    if (payload == nullptr || length < 2)
        return UPG_ERR_UNRECOGNISED_REPLY;
    unsigned count = (length - 2) / CHUNK_HEADER_SIZE;
    if (count > static_cast<unsigned>(CHUNK_TABLE_CAPACITY))
        return UPG_ERR_UNRECOGNISED_REPLY;

    table->flashSize = FlashSizeOf(payload[0]);
    table->secondByte = payload[1];
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char* header = payload + 2 + CHUNK_HEADER_SIZE * i;
        ChunkInfo& entry = table->entries[i];
        std::memset(&entry, 0xFF, sizeof entry);
        entry.id = ReadBe32(header);
        entry.length = ReadBe32(header + 4);
        entry.next = ReadBe32(header + 8);
        entry.crc = CarriesNoCrc(entry.id) ? CHUNK_NO_CRC : ReadBe32(header + 12);
        CopyText(entry.name, header + kTextOffsets[0]);
        CopyText(entry.version, header + kTextOffsets[1]);
        CopyText(entry.extra, header + kTextOffsets[2]);
        entry.selected = 0;
        entry.masked = 0;
    }
    table->count = count;
    return UPG_OK;
}

int GetChunkKind(uint32_t id) {
    static constexpr uint32_t kKinds[] = {0xE300, 0x01FE, 0x08F7, 0x03FC};
    static constexpr uint32_t kKinds200[] = {0xE300, 0x02FD, 0x03FC, 0x04FB};
    const uint32_t* kinds = kEdition200 ? kKinds200 : kKinds;
    for (int i = 0; i < 4; ++i) {
        if ((id >> 16) == kinds[i])
            return i + 1;
    }
    return 0;
}

int FindChunkInImage(const char* path, uint32_t wanted, int* fileOffset, int* size, char* text) {
    if (text == nullptr)
        return 0;
    if constexpr (kEdition200)
        text[0] = '\0';
    bool found = false;
    bool fits = true;
    int chunks = WalkImage(path, [&](const ImageChunk& chunk) {
        if constexpr (kEdition200) {
            if (chunk.id == CHUNK_ID_BOOTLOADER)
                TakeText(text, chunk.header + kTextOffsets[1]);
        }
        if (!SameChunk(chunk.id, wanted))
            return;
        if constexpr (kEdition201) {
            int field = chunk.id == CHUNK_ID_BOOTLOADER ? 1 : 0;
            TakeText(text, chunk.header + kTextOffsets[field]);
        }
        // The last chunk's slot is 16 + length, not its `next` of 0.
        uint64_t slot = chunk.id == CHUNK_ID_NO_SLOT ? 16 + static_cast<uint64_t>(chunk.length)
                                                     : SlotOf(chunk.length, chunk.next);
        uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int>::max());
        fits = chunk.pos <= limit && slot <= limit;
        *fileOffset = static_cast<int>(chunk.pos);
        *size = static_cast<int>(slot);
        found = true;
    });
    return chunks > 0 && found && fits ? 1 : 0;
}

int CheckImageChain(const char* path) {
    int chunks = WalkImage(path, [](const ImageChunk&) {});
    return chunks >= 2 ? 1 : 0;
}

void EncodeChunkHeader(const ChunkInfo* entry, unsigned char* out) {
    std::memset(out, 0xFF, CHUNK_HEADER_SIZE);
    WriteBe32(out, entry->id);
    WriteBe32(out + 4, entry->length);
    WriteBe32(out + 8, entry->next);
    WriteBe32(out + 12, entry->crc);
    std::memcpy(out + kTextOffsets[0], entry->name, kTextSize);
    std::memcpy(out + kTextOffsets[1], entry->version, kTextSize);
    std::memcpy(out + kTextOffsets[2], entry->extra, kTextSize);
}

void OverlayChunkHeader(const ChunkInfo* entry, unsigned char* out) {
    WriteBe32(out, entry->id);
    WriteBe32(out + 4, entry->length);
    WriteBe32(out + 8, entry->next);
    WriteBe32(out + 12, entry->crc);
    const char* texts[3] = {entry->name, entry->version, entry->extra};
    for (int t = 0; t < 3; ++t) {
        for (uint32_t i = 0; i < kTextSize; ++i) {
            out[kTextOffsets[t] + i] = static_cast<unsigned char>(texts[t][i]);
            if (texts[t][i] == '\0')
                break;
        }
    }
}

int GetChunkSpan(const ChunkTable* table, unsigned index, int* start, int* size) {
    if (index >= table->count || index >= static_cast<unsigned>(CHUNK_TABLE_CAPACITY))
        return 0;
    uint64_t offset = 0;
    for (unsigned i = 0; i < index; ++i) {
        offset += SlotOf(table->entries[i].length, table->entries[i].next);
    }
    const ChunkInfo& entry = table->entries[index];
    uint64_t slot = SlotOf(entry.length, entry.next);
    if (entry.id != CHUNK_ID_BOOTLOADER) {
        // The dump covers the payload without the header.
        if (slot < CHUNK_HEADER_SIZE)
            return 0;
        offset += CHUNK_HEADER_SIZE;
        slot -= CHUNK_HEADER_SIZE;
    }
    uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int>::max());
    if (offset > limit || slot > limit)
        return 0;
    *start = static_cast<int>(offset);
    *size = static_cast<int>(slot);
    return 1;
}
