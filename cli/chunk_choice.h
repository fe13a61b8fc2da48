// Putting the command line's files into the context's file records, exactly as the select page
// does with the user's choices: the same rows, the same checks, the same refusal texts.
#pragma once

#include <string>

#include "cli/options.h"
#include "library/link/upgrade.h"
#include "tasks/upgrade_context.h"

// The index of the chunk that `text` names in `table`: "0x" and hexadecimal digits name an
// id; otherwise a chunk whose name is exactly `text`; otherwise hexadecimal digits alone name
// an id. Returns -1 with *error when no chunk, or more than one, fits.
int ResolveChunk(const ChunkTable& table, const std::string& text, std::string* error);

// What became of the choice.
enum class ChoiceResult {
    kAccepted,  // the records are filled; the task can start
    kUsage,     // the command line names no row of this STB (message says why)
    kRefused,   // the select rules refused a file (message holds their text)
};

struct Choice {
    ChoiceResult result = ChoiceResult::kRefused;
    std::string notice;   // what the page shows whatever is chosen (the firmware family)
    std::string message;  // why the choice was refused
};

// Sets the operation, empties the records (as the page does when it is shown) and offers the
// command's files to the select rules for the rows they stand for. Edition 2.0.1 first finds
// the firmware family: for incompatible firmware there is no row, and the file is refused.
Choice ChooseFiles(const CliOptions& options, CUpgradeContext& context, const ChunkTable& table);
