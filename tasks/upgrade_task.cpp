#include "tasks/upgrade_task.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "library/link/upgrade.h"
#include "platform/clock.h"
#include "platform/edition.h"
#include "platform/ini.h"
#include "tasks/connect_task.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"

namespace {

constexpr uint32_t kLargestFlash = 0x200000;  // also the size of the dump buffer
constexpr uint32_t kHeaderTail = 112;         // header bytes after the first 16
constexpr unsigned kPauseBeforeChunkMs = 100;
constexpr unsigned kPauseAfterChunkMs = 500;
constexpr unsigned kPauseAfterImageMs = 1000;
constexpr unsigned char kFill = 0xFF;

void PutBe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// A chunk's slot: `next`, or 16 + length for the last chunk. 64-bit, so that a hostile
// length cannot wrap.
uint64_t SlotOf(const ChunkInfo& chunk) {
    return chunk.next != 0 ? chunk.next : 16ull + chunk.length;
}

// The chunk's name, at most its 16 bytes.
std::string NameOf(const ChunkInfo& chunk) {
    size_t length = 0;
    while (length < sizeof chunk.name && chunk.name[length] != '\0') {
        ++length;
    }
    return std::string(chunk.name, length);
}

void PostStatus(const std::string& text) {
    PostTaskText(text.c_str(), 1);
}

// Closes the file on every way out.
class InputFile {
  public:
    explicit InputFile(const std::string& path) : m_file(std::fopen(path.c_str(), "rb")) {}
    ~InputFile() { Close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    bool IsOpen() const { return m_file != nullptr; }
    // The file's length, or -1.
    long long Length() {
        if (std::fseek(m_file, 0, SEEK_END) != 0) {
            return -1;
        }
        return std::ftell(m_file);
    }
    // Reads exactly `count` bytes from `offset`.
    bool ReadAt(long long offset, unsigned char* out, size_t count) {
        if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) {
            return false;
        }
        return std::fread(out, 1, count, m_file) == count;
    }
    void Close() {
        if (m_file != nullptr) {
            std::fclose(m_file);
            m_file = nullptr;
        }
    }

  private:
    std::FILE* m_file;
};

// A zeroed buffer, or false when there is no memory for it.
bool Allocate(std::vector<unsigned char>* buffer, size_t size) {
    try {
        buffer->assign(size, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

int RunDump(const CUpgradeContext& context) {
    const FileRecord& whole = context.files[kRecordAllChunks];
    if (!whole.path.empty()) {
        return DumpAllChunks(whole.path);
    }
    // Every chosen chunk is dumped even when an earlier one failed; the first failure is the
    // task's result, so that a missing file is never reported as success. After a cancel each
    // following dump is still started and ends at its first poll, so that a cancel that came
    // between two dumps is reported, not taken for a whole run.
    int result = 0;
    for (uint32_t i = 0; i < g_chunkTable.count; ++i) {
        const FileRecord* record = context.ChunkRecord(static_cast<int>(i));
        if (record == nullptr || record->path.empty()) {
            continue;
        }
        int status = DumpOneChunk(static_cast<int>(i), record->path);
        if (result == 0) {
            result = status;
        }
    }
    return result;
}

int Burn(CUpgradeContext& context) {
    OnLibraryProgress(0);
    PostTaskText("Burn Flash, DO NOT power off!", 1);
    // The state turns first, so that a close request that follows the message is refused.
    context.taskState = TASK_BURNING;
    PostTaskMessage(WM_BURN_BEGIN, 0, 0);
    int result = UpgBurn(g_burnTotal, OnLibraryProgress);
    UpgReboot();  // also after a failed burn, so that the STB restarts
    if constexpr (kEdition201) {
        PostTaskText("Rebooting", 1);
    }
    return result;
}

int RunUpgrade(CUpgradeContext& context) {
    g_burnTotal = 0;
    const bool withoutBootLoader =
        kEdition200 && !context.files[kRecordAllChunksNoBootLoader].path.empty();
    const FileRecord& image = withoutBootLoader ? context.files[kRecordAllChunksNoBootLoader]
                                                : context.files[kRecordAllChunks];
    const bool wholeImage = !image.path.empty();
    if (withoutBootLoader && g_chunkTable.count == 0) {
        return UPG_STB_CHUNK_NOT_FOUND;  // no boot loader slot to leave out
    }
    const unsigned address = withoutBootLoader ? g_chunkTable.entries[0].next : 0;

    PostTaskText("Send Address..", 1);
    int result = UpgSetAddress(address);
    if (result == 0) {
        if (wholeImage) {
            result = DownloadWholeImage(image.path, withoutBootLoader ? 0 : 1);
            PlatformSleep(kPauseAfterImageMs);
        } else {
            result = DownloadChunks();
        }
    }
    if (result == 0) {
        result = Burn(context);
    }
    return result;
}

}  // namespace

unsigned UpgradeThreadProc(void* /*parameter*/) {
    Crc32InitTable();
    CUpgradeContext* context = GetContext();
    context->taskState = TASK_UPGRADING;

    int result = OpenAndSync();
    if (result == 0) {
        result = context->operation != 0 ? RunDump(*context) : RunUpgrade(*context);
    }
    if (result != 0) {
        PostErrorText(result);
    }
    // Reported as cancelled only when the cancel is what ended it: a Cancel that came too late
    // to stop anything (the last transfer was done, or the burn ran) leaves the outcome to show.
    bool cancelled = g_cancelRequested != 0 && result == UPG_ERR_CANCELLED;
    PostTaskMessage(WM_UPGRADE_DONE, result != 0 ? 1 : 0, cancelled ? 1 : 0);
    ComClose();  // before the state turns idle: a task started next opens the port anew
    context->taskState = TASK_IDLE;
    return 1;
}

int DownloadWholeImage(const std::string& file, int withBootLoader) {
    PostTaskText("Download All Chunk", 1);
    InputFile input(file);
    if (!input.IsOpen()) {
        return UPG_ERR_FILE_NOT_OPEN;
    }
    long long n = input.Length();
    long long offset = 0;
    if (withBootLoader == 0) {
        if (g_chunkTable.count == 0) {
            return UPG_STB_CHUNK_NOT_FOUND;
        }
        offset = g_chunkTable.entries[0].next;
    }
    if (n <= offset) {
        return UPG_ERR_READ_FILE_DATA;  // nothing to send after the boot loader's slot
    }
    n -= offset;
    const uint32_t flash = g_chunkTable.flashSize;
    if ((flash != 0 && static_cast<unsigned long long>(offset + n) > flash) ||
        n > static_cast<long long>(kLargestFlash)) {
        return UPG_STB_NO_BUFFER;  // larger than the STB's flash: never sent cut
    }
    g_burnTotal = static_cast<int>(n);
    std::vector<unsigned char> buffer;
    // Twice the data: the packet transfer may compress the data in place.
    if (!Allocate(&buffer, 2 * static_cast<size_t>(n))) {
        return UPG_ERR_MALLOC_2;
    }
    if (!input.ReadAt(offset, buffer.data(), static_cast<size_t>(n))) {
        return UPG_ERR_READ_FILE_DATA;
    }
    input.Close();
    return UpgTransfer(buffer.data(), static_cast<int>(n), OnLibraryProgress, IsCancelRequested);
}

int DownloadChunks() {
    CUpgradeContext* context = GetContext();
    g_burnTotal = 0;
    for (uint32_t i = 0; i < g_chunkTable.count; ++i) {
        ChunkInfo& chunk = g_chunkTable.entries[i];
        const FileRecord* record = context->ChunkRecord(static_cast<int>(i));
        chunk.selected = (record != nullptr && !record->path.empty()) ? 1 : 0;
        if (chunk.selected) {
            g_burnTotal += record->length;
        }
    }
    for (uint32_t i = 0; i < g_chunkTable.count; ++i) {
        const ChunkInfo& chunk = g_chunkTable.entries[i];
        int result;
        if (chunk.selected) {
            PostStatus("Download Chunk:" + NameOf(chunk));
            result = DownloadOneChunk(static_cast<int>(i));
            PlatformSleep(kPauseAfterChunkMs);
        } else {
            const unsigned value = chunk.id == CHUNK_ID_NO_SLOT ? 0 : chunk.next;
            PostStatus("Move Chunk:" + NameOf(chunk));
            result = UpgMove(chunk.id, value);
        }
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

int DownloadOneChunk(int index) {
    CUpgradeContext* context = GetContext();
    const FileRecord* record = context->ChunkRecord(index);
    if (index < 0 || static_cast<uint32_t>(index) >= g_chunkTable.count || record == nullptr) {
        return UPG_ERR_FILE_NOT_OPEN;
    }
    const ChunkInfo& chunk = g_chunkTable.entries[index];
    const uint64_t slot = SlotOf(chunk);
    g_burnTotal += static_cast<int>(slot);

    const int kind = GetChunkKind(chunk.id);
    const bool buildHeader = record->fromImage == 0 && kind != 1;
    const bool setLengthAndCrc = buildHeader && chunk.crc != CHUNK_NO_CRC;
    const uint64_t dataAt = buildHeader ? CHUNK_HEADER_SIZE : 0;
    if (record->length < 0 || record->fileOffset < 0) {
        return UPG_ERR_READ_FILE_DATA;
    }
    // The data (with the header built in front) must fit the slot: nothing is ever sent cut,
    // and every header write below stays inside the buffer.
    if (slot < CHUNK_HEADER_SIZE || slot > CHUNK_MAX_NEXT ||
        dataAt + static_cast<uint64_t>(record->length) > slot) {
        return UPG_STB_NO_BUFFER;
    }
    std::vector<unsigned char> buffer;
    // Twice the slot: the packet transfer may compress the data in place.
    if (!Allocate(&buffer, 2 * static_cast<size_t>(slot))) {
        return UPG_ERR_MALLOC_2;
    }
    std::fill(buffer.begin(), buffer.begin() + static_cast<long>(slot), kFill);

    InputFile input(record->path);
    if (!input.IsOpen()) {
        return UPG_ERR_FILE_NOT_OPEN;
    }
    if (buildHeader) {
        EncodeChunkHeader(&chunk, buffer.data());
    }
    if (!input.ReadAt(record->fileOffset, buffer.data() + dataAt,
                      static_cast<size_t>(record->length))) {
        return UPG_ERR_READ_FILE_DATA;
    }
    input.Close();

    if (record->fromImage != 0) {
        PutBe32(buffer.data() + 8, chunk.next);  // the STB's own slot for it
    } else if (kind == 1) {
        OverlayChunkHeader(&chunk, buffer.data());
    }
    if (setLengthAndCrc) {
        const uint32_t covered = static_cast<uint32_t>(record->length) + kHeaderTail;
        PutBe32(buffer.data() + 4, covered);
        PutBe32(buffer.data() + 12,
                Crc32Update(0xFFFFFFFFu, buffer.data() + 16, static_cast<int>(covered)));
    }
    PlatformSleep(kPauseBeforeChunkMs);
    return UpgTransfer(buffer.data(), static_cast<int>(slot), OnLibraryProgress, IsCancelRequested);
}

int DumpAllChunks(const std::string& file) {
    PostTaskText("Dump All Chunk", 1);
    return DumpToFile(file, 0, 0);
}

int DumpOneChunk(int index, const std::string& file) {
    if (index < 0 || static_cast<uint32_t>(index) >= g_chunkTable.count) {
        return UPG_STB_CHUNK_NOT_FOUND;
    }
    PostStatus("Dump Chunk: " + NameOf(g_chunkTable.entries[index]) + " ");
    int start = 0;
    int size = 0;
    if (GetChunkSpan(&g_chunkTable, static_cast<unsigned>(index), &start, &size) != 1) {
        return UPG_STB_CHUNK_NOT_FOUND;
    }
    if (start < 0 || size <= 0) {
        return UPG_ERR_DUMP_LENGTH;
    }
    return DumpToFile(file, static_cast<unsigned>(start), static_cast<unsigned>(size));
}

int DumpToFile(const std::string& file, unsigned start, unsigned size) {
    if (size > kLargestFlash) {
        return UPG_ERR_DUMP_LENGTH;
    }
    std::vector<unsigned char> buffer;
    if (!Allocate(&buffer, kLargestFlash)) {
        return UPG_ERR_MALLOC_2;
    }
    int length = 0;
    int result = UpgDump(buffer.data(), &length, OnLibraryProgress, IsCancelRequested, start, size);
    if (result != 0 || length <= 0) {
        return result;  // a dump without data writes no file
    }
    if (static_cast<unsigned>(length) > kLargestFlash) {
        return UPG_ERR_DUMP_LENGTH;
    }
    switch (PlatformReplaceFile(file, buffer.data(), static_cast<size_t>(length))) {
        case ReplaceFileResult::kOk:
            return 0;
        case ReplaceFileResult::kCannotCreate:
            return UPG_ERR_FILE_NOT_OPEN;
        case ReplaceFileResult::kCannotWrite:
            break;
    }
    return UPG_ERR_WRITE_FILE_DATA;
}
