// The rules of the select page without any user interface: the firmware family that the STB's
// chunk table shows, the rows the page offers, and the checks of a chosen file, which fill the
// context's file records. The Qt page and the command line both use them; they only add the
// widgets, the file chooser and the message boxes.
//
// Texts are 8-bit in the Windows-1252 code page (the acute accent of "can\xB4t" is byte 0xB4);
// a Qt caller converts them with QString::fromLatin1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/link/upgrade.h"
#include "tasks/upgrade_context.h"

// What the chunk table says about the STB's firmware (edition 2.0.1), from the first characters
// of chunk 0's version and chunk 1's name (an empty name when the table has fewer than two
// chunks).
struct FirmwareFamily {
    bool compatible = false;  // false: no row is offered and Next stays disabled
    std::string message;      // the text for the page's message box
    std::string rowText;      // the firmware row's text; empty when not compatible
};
FirmwareFamily DetectFirmwareFamily(const ChunkTable& table);

// One row of the page's list. itemData -1 is the whole-image row (edition 2.0.1: the firmware
// row; edition 2.0.0: "All Chunk"), -2 edition 2.0.0's "All Chunk(No BootLoader)", i >= 0 chunk
// i of the table.
struct SelectRow {
    std::string text;
    int itemData = 0;
};
// The rows for the table and operation (0 upgrade, 1 dump). Edition 2.0.1: the firmware row, or
// none for incompatible firmware. Edition 2.0.0: "All Chunk", "All Chunk(No BootLoader)" (upgrade
// only), then every chunk that is not masked and has a record, by its name.
std::vector<SelectRow> BuildSelectRows(const ChunkTable& table, int operation);

// The file record that the row with `itemData` stands for (item data + kChunkRecordBase), or -1
// when there is no such record.
int RecordForItem(int itemData);

// The outcome of a check: whether the file was accepted, and the message to show (empty: no
// message).
struct SelectOutcome {
    bool accepted = false;
    std::string message;
};

// The texts the checks show.
inline constexpr const char* kTextWrongFirmware = "Wrong firmware";
inline constexpr const char* kTextBootLoaderIncompatible = "Bootloader version not compatible.";
inline constexpr const char* kTextChunkNotFound = "could not find corresponding chunk.";
inline constexpr const char* kTextSelectFileFirst = "Please select file first!";

// Checks the file at `path`, chosen for the row with `itemData`, and on acceptance fills the
// records in `context` (for an upgrade: path, fileOffset, length, fromImage of every chunk the
// file is written to). A refused file leaves every record as it was. For the dump operation
// the path is stored for the row as it is. For an upgrade:
//   edition 2.0.1: only the firmware row takes a file; the file must be a sound firmware image
//     holding every chunk of the table, of the STB's family, each chunk within the STB's room
//     for it; it is spread over the chunk records (records 0 and those of chunks it does not
//     take end empty).
//   edition 2.0.0: a whole-image row takes the file as it is; a chunk row takes a firmware image
//     holding that chunk, or a bare chunk file that fits the chunk's room with the header built
//     in front.
// A file that cannot be opened is refused with a message; an empty file without one.
SelectOutcome SelectFileRules(CUpgradeContext& context, const ChunkTable& table, int itemData,
                              const std::string& path);

// The row's record emptied (path, fileOffset, length, fromImage); for edition 2.0.1's firmware
// row, which spreads its file over the chunk records, those are emptied too.
void ClearItemRecord(CUpgradeContext& context, const ChunkTable& table, int itemData);

// True when any of the records the page can fill (0 .. count, edition 2.0.0: 0 .. count + 1)
// names a file.
bool AnyFileChosen(const CUpgradeContext& context, const ChunkTable& table);

// The file chooser's default extension and filter ("Name(*.ext)|*.ext|...All File(*.*)|*.*|")
// for a chunk id; 0 stands for a whole-image row.
void ChooseFileFilter(uint32_t chunkId, std::string* extension, std::string* filter);
