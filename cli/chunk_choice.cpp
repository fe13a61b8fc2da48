#include "cli/chunk_choice.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/edition.h"
#include "wizard/select_rules.h"

namespace {

// Hexadecimal digits, at most 8 of them, after an optional "0x".
bool ParseChunkId(const std::string& text, uint32_t* id) {
    size_t start = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
    if (text.size() == start || text.size() - start > 8) {
        return false;
    }
    uint32_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    *id = value;
    return true;
}

bool HasHexPrefix(const std::string& text) {
    return text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
}

// Every chunk index whose id (byName false) or name (byName true) matches.
std::vector<int> Matches(const ChunkTable& table, const std::string& text, bool byName) {
    std::vector<int> found;
    uint32_t id = 0;
    if (!byName && !ParseChunkId(text, &id)) {
        return found;
    }
    for (uint32_t i = 0; i < table.count && i < CHUNK_TABLE_CAPACITY; ++i) {
        const ChunkInfo& c = table.entries[i];
        const bool match = byName ? text == std::string(c.name, strnlen(c.name, 16)) : c.id == id;
        if (match) {
            found.push_back(static_cast<int>(i));
        }
    }
    return found;
}

bool OfferedRow(const std::vector<SelectRow>& rows, int itemData) {
    for (const SelectRow& row : rows) {
        if (row.itemData == itemData) {
            return true;
        }
    }
    return false;
}

// The rows the command line's files go to, with their files.
bool PickRows(const CliOptions& options, const ChunkTable& table, int operation,
              std::vector<std::pair<int, std::string>>* picks, std::string* error) {
    switch (options.target) {
        case CliTarget::kFirmware:
        case CliTarget::kImage:
            picks->push_back({-1, options.file});
            return true;
        case CliTarget::kImageNoBootLoader:
            picks->push_back({-2, options.file});
            return true;
        case CliTarget::kChunks:
            break;
    }
    const std::vector<SelectRow> rows = BuildSelectRows(table, operation);
    for (const CliChunkFile& pair : options.chunks) {
        const int index = ResolveChunk(table, pair.chunk, error);
        if (index < 0) {
            return false;
        }
        for (const auto& earlier : *picks) {
            if (earlier.first == index) {
                *error = "chunk " + std::to_string(index) + " is named twice";
                return false;
            }
        }
        if (!OfferedRow(rows, index)) {
            *error = "chunk '" + pair.chunk + "' cannot be chosen (it is masked by the " +
                     "settings' ChunkMask, or has no file record)";
            return false;
        }
        picks->push_back({index, pair.file});
    }
    return true;
}

}  // namespace

int ResolveChunk(const ChunkTable& table, const std::string& text, std::string* error) {
    std::vector<int> found;
    if (HasHexPrefix(text)) {
        found = Matches(table, text, false);
    } else {
        found = Matches(table, text, true);
        if (found.empty()) {
            found = Matches(table, text, false);
        }
    }
    if (found.size() == 1) {
        return found[0];
    }
    if (found.empty()) {
        *error = "the STB has no chunk '" + text + "'";
    } else {
        *error =
            "the STB has several chunks '" + text + "'; the command line cannot tell them apart";
    }
    return -1;
}

Choice ChooseFiles(const CliOptions& options, CUpgradeContext& context, const ChunkTable& table) {
    Choice choice;
    context.operation = options.command == CliCommand::kDump ? 1 : 0;
    context.ResetFileRecords();
    if constexpr (kEdition201) {
        const FirmwareFamily family = DetectFirmwareFamily(table);
        choice.notice = family.message;
        if (!family.compatible) {
            choice.message = "No firmware can be chosen for this STB.";
            return choice;
        }
    }
    std::vector<std::pair<int, std::string>> picks;
    if (!PickRows(options, table, context.operation, &picks, &choice.message)) {
        choice.result = ChoiceResult::kUsage;
        return choice;
    }
    for (const auto& [itemData, path] : picks) {
        const SelectOutcome outcome = SelectFileRules(context, table, itemData, path);
        if (!outcome.accepted) {
            choice.message =
                outcome.message.empty() ? path + ": the file is empty" : outcome.message;
            return choice;
        }
    }
    if (!AnyFileChosen(context, table)) {
        choice.message = kTextSelectFileFirst;
        return choice;
    }
    choice.result = ChoiceResult::kAccepted;
    return choice;
}
