#include "wizard/select_rules.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/edition.h"

namespace {

// The STB's room for a chunk: its slot, or 16 + length for the last chunk.
uint64_t RoomOf(const ChunkInfo& chunk) {
    return chunk.next != 0 ? chunk.next : 16ull + chunk.length;
}

// The first `count` characters of a 16-byte text field equal `prefix` (which has `count`).
bool StartsWith(const char* field, const char* prefix, size_t count) {
    return std::strncmp(field, prefix, count) == 0;
}

size_t FieldLength(const char* field) {
    size_t length = 0;
    while (length < 16 && field[length] != '\0') {
        ++length;
    }
    return length;
}

std::string Format(const char* format, uint32_t a) {
    char text[160];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

std::string Format(const char* format, uint32_t a, uint32_t b) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

SelectOutcome Refuse(std::string message) {
    return SelectOutcome{false, std::move(message)};
}

std::string ChunkSizeText(uint32_t id, uint64_t room) {
    return Format(
        "Select bin File chunk size large than Slave chunk size \n Chunk 0x%08X \n Chunk size: "
        "0x%08X",
        id, static_cast<uint32_t>(room));
}

std::string NoRecordText() {
    return Format("The STB has more chunks than this tool can write (at most %u).",
                  static_cast<uint32_t>(kChunksWithRecords));
}

// The file's length in bytes, or -1 when it cannot be opened.
long long FileLength(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return -1;
    }
    return static_cast<long long>(in.tellg());
}

// Edition 2.0.1: the firmware row. The whole file is checked first and the records are written
// only when every chunk passed, so that a refused file leaves the earlier choice intact.
SelectOutcome CheckFirmwareFile(CUpgradeContext& context, const ChunkTable& table,
                                const std::string& path) {
    if (table.count > static_cast<uint32_t>(kChunksWithRecords)) {
        return Refuse(NoRecordText());
    }
    FileRecord records[kFileRecordCount];
    for (uint32_t i = 0; i < table.count; ++i) {
        const ChunkInfo& chunk = table.entries[i];
        char text[16];
        std::memset(text, 0xFF, sizeof text);
        int offset = 0;
        int size = 0;
        if (FindChunkInImage(path.c_str(), chunk.id, &offset, &size, text) != 1) {
            return Refuse(kTextWrongFirmware);
        }
        FileRecord& record = records[i];
        record.fileOffset = offset;
        record.length = size;
        const uint64_t room = RoomOf(chunk);
        const bool tooLarge = size < 0 || static_cast<uint64_t>(size) > room;
        const int kind = GetChunkKind(chunk.id);
        if (kind == 1) {
            if (std::memcmp(text, context.bootVersion, 8) != 0) {
                return Refuse(kTextBootLoaderIncompatible);
            }
            // The file's boot loader is written only when it is newer than the STB's.
            if (std::memcmp(context.bootVersion + 8, text + 8, 6) >= 0) {
                continue;
            }
            if (tooLarge) {
                return Refuse(ChunkSizeText(chunk.id, room));
            }
        } else {
            const size_t nameLength = FieldLength(chunk.name);
            if (kind == 2 && nameLength >= 9 && std::memcmp(text, chunk.name, nameLength) != 0) {
                return Refuse(kTextWrongFirmware);
            }
            if (tooLarge) {
                return Refuse(ChunkSizeText(chunk.id, room));
            }
            if (kind == 0) {
                continue;  // passed, but not written
            }
        }
        record.path = path;
        record.fromImage = 1;
    }
    context.files[kRecordAllChunks] = FileRecord();
    for (uint32_t i = 0; i < table.count; ++i) {
        FileRecord taken = records[i].path.empty() ? FileRecord() : records[i];
        *context.ChunkRecord(static_cast<int>(i)) = taken;
    }
    return SelectOutcome{true, ""};
}

// Edition 2.0.0: a chunk row takes the chunk out of a firmware image, or a bare chunk file.
SelectOutcome CheckChunkFile(CUpgradeContext& context, const ChunkTable& table, int index,
                             const std::string& path, long long fileLength) {
    FileRecord* target = context.ChunkRecord(index);
    if (target == nullptr || index < 0 || static_cast<uint32_t>(index) >= table.count) {
        return Refuse(NoRecordText());
    }
    const ChunkInfo& chunk = table.entries[index];
    const uint64_t room = RoomOf(chunk);
    if (CheckImageChain(path.c_str()) == 1) {
        char text[16];
        std::memset(text, 0xFF, sizeof text);
        int offset = 0;
        int size = 0;
        if (FindChunkInImage(path.c_str(), chunk.id, &offset, &size, text) != 1) {
            return Refuse(kTextChunkNotFound);
        }
        if (size < 0 || static_cast<uint64_t>(size) > room) {
            return Refuse(
                Format("Select bin File chunk size large than Slave chunk size \n Chunk size: "
                       "0x%08X",
                       static_cast<uint32_t>(room)));
        }
        if (std::memcmp(text, context.bootVersion, 8) != 0) {
            return Refuse(kTextBootLoaderIncompatible);
        }
        *target = FileRecord{path, offset, size, 1};
        return SelectOutcome{true, ""};
    }
    // A bare file gets the 128-byte header built in front, except a boot loader file.
    const uint64_t length = static_cast<uint64_t>(fileLength);
    const uint64_t withHeader = GetChunkKind(chunk.id) == 1 ? length : length + CHUNK_HEADER_SIZE;
    if (withHeader > room || fileLength > 0x7FFFFFFF) {
        return Refuse(Format("Select File large than Slave chunk size \n Chunk size: 0x%08X",
                             static_cast<uint32_t>(room)));
    }
    *target = FileRecord{path, 0, static_cast<int>(fileLength), 0};
    return SelectOutcome{true, ""};
}

}  // namespace

FirmwareFamily DetectFirmwareFamily(const ChunkTable& table) {
    static const char kEmpty[16] = {};
    const char* version = table.count >= 1 ? table.entries[0].version : kEmpty;
    const char* name = table.count >= 2 ? table.entries[1].name : kEmpty;
    if (StartsWith(version, "RDX01", 5)) {
        return {true, "You are running 5817B series", "VOR 5817B firmware"};
    }
    if (StartsWith(version, "RDX03", 5)) {
        if (StartsWith(name, "maincodeC", 9)) {
            return {true, "You are running 5817C series", "VOR 5817C firmware"};
        }
        if (StartsWith(name, "maincodeB", 9)) {
            return {true, "You are running 5817B DVR series", "VOR 5817B DVR firmware"};
        }
        return {true,
                "We can\xB4t auto detect firmware.\r\nProbably you are running 5817C series "
                "but\r\nif you press menu and you have DVR Management option\r\nyou are running "
                "5817B DVR series otherwise\r\nyou are running 5817C series",
                "VOR 5817 firmware"};
    }
    return {false,
            "You are running incompatible firmware.\r\nYou can\xB4t update your STB with this "
            "tool.",
            ""};
}

std::vector<SelectRow> BuildSelectRows(const ChunkTable& table, int operation) {
    std::vector<SelectRow> rows;
    if constexpr (kEdition201) {
        FirmwareFamily family = DetectFirmwareFamily(table);
        if (family.compatible) {
            rows.push_back({family.rowText, -1});
        }
        (void)operation;
    } else {
        rows.push_back({"All Chunk", -1});
        if (operation == 0) {
            rows.push_back({"All Chunk(No BootLoader)", -2});
        }
        for (uint32_t i = 0; i < table.count && i < static_cast<uint32_t>(kChunksWithRecords);
             ++i) {
            const ChunkInfo& chunk = table.entries[i];
            if (chunk.masked == 0) {
                rows.push_back(
                    {std::string(chunk.name, FieldLength(chunk.name)), static_cast<int>(i)});
            }
        }
    }
    return rows;
}

int RecordForItem(int itemData) {
    const int record = itemData + kChunkRecordBase;
    return (record < 0 || record >= kFileRecordCount) ? -1 : record;
}

SelectOutcome SelectFileRules(CUpgradeContext& context, const ChunkTable& table, int itemData,
                              const std::string& path) {
    const int record = RecordForItem(itemData);
    if (record < 0) {
        return Refuse(NoRecordText());
    }
    if (context.operation != 0) {
        context.files[record] = FileRecord{path, 0, 0, 0};  // a dump's target
        return SelectOutcome{true, ""};
    }
    const long long length = FileLength(path);
    if (length < 0) {
        return Refuse(path + " can not be opened.");
    }
    if (length == 0) {
        return Refuse("");
    }
    if constexpr (kEdition201) {
        if (itemData >= 0) {
            return Refuse("");  // only the firmware row takes a file
        }
        return CheckFirmwareFile(context, table, path);
    } else {
        if (itemData < 0) {
            context.files[record] = FileRecord{path, 0, 0, 0};  // a whole image, sent as it is
            return SelectOutcome{true, ""};
        }
        return CheckChunkFile(context, table, itemData, path, length);
    }
}

void ClearItemRecord(CUpgradeContext& context, const ChunkTable& table, int itemData) {
    const int record = RecordForItem(itemData);
    if (record >= 0) {
        context.files[record] = FileRecord();
    }
    if (kEdition201 && itemData == -1) {
        for (uint32_t i = 0; i < table.count; ++i) {
            if (FileRecord* chunkRecord = context.ChunkRecord(static_cast<int>(i))) {
                *chunkRecord = FileRecord();
            }
        }
    }
}

bool AnyFileChosen(const CUpgradeContext& context, const ChunkTable& table) {
    int last = static_cast<int>(table.count) + kChunkRecordBase - 1;
    if (last > kFileRecordCount - 1) {
        last = kFileRecordCount - 1;
    }
    for (int i = 0; i <= last; ++i) {
        if (!context.files[i].path.empty()) {
            return true;
        }
    }
    return false;
}

void ChooseFileFilter(uint32_t chunkId, std::string* extension, std::string* filter) {
    if (chunkId == 0x02FD0100 || chunkId == 0x02FD0200 || chunkId == 0x02FD0300) {
        *extension = "m2v";
        *filter = "Logo file(*.m2v)|*.m2v|";
    } else if (chunkId == 0x03FC0100) {
        *extension = "ddf";
        *filter = "default db(*.ddf)|*.ddf|";
    } else if (chunkId == CHUNK_ID_NO_SLOT) {
        *extension = "udf";
        *filter = "user db(*.udf)|*.udf|";
    } else if (chunkId == CHUNK_ID_BOOTLOADER || (kEdition200 && chunkId == 0)) {
        *extension = "abs";
        *filter = "ABS File(*.abs)|*.abs|";
    } else {
        *extension = "bin";
        *filter = "other file(*.bin)|*.bin|";
    }
    *filter += "All File(*.*)|*.*|";
}
