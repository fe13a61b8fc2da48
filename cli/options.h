// The command line of upgrade-cli: what the user asked for, read from argv without touching the
// serial port, the settings file or the STB. Scripts rely on this interface, so it stays fixed:
//
//   upgrade-cli [--device PATH | --port N] [--baud N] [--parity none|odd|even|mark|space]
//               [--config FILE] COMMAND ...
//
// Commands: "info"; edition 2.0.1 "upgrade FIRMWARE"; edition 2.0.0 "upgrade --image FILE",
// "upgrade --image-no-boot FILE", "upgrade --chunk ID_OR_NAME=FILE ...", "dump FILE",
// "dump --chunk ID_OR_NAME=FILE ...". "--version" and "--help" stand alone.
#pragma once

#include <string>
#include <vector>

enum class CliCommand {
    kNone,     // --help or --version: nothing to do on the line
    kInfo,     // connect and print what the STB reports
    kUpgrade,  // write firmware
    kDump,     // read flash back (edition 2.0.0)
};

// What an upgrade or dump writes or reads, as the select page's rows name it.
enum class CliTarget {
    kFirmware,           // edition 2.0.1: one firmware file spread over the chunks
    kImage,              // edition 2.0.0: "All Chunk" (also the whole-flash dump)
    kImageNoBootLoader,  // edition 2.0.0: "All Chunk(No BootLoader)"
    kChunks,             // edition 2.0.0: one file per named chunk
};

// One "ID_OR_NAME=FILE" pair, as the user wrote it.
struct CliChunkFile {
    std::string chunk;  // a chunk id in hexadecimal (0x optional) or a chunk's name
    std::string file;
};

struct CliOptions {
    bool help = false;
    bool version = false;
    std::string device;  // --device: the path that the port stands for in this run
    int port = 0;        // --port: 0 when not given
    int baud = 0;        // --baud: 0 when not given
    int parity = -1;     // --parity as a parity code; -1 when not given
    std::string config;  // --config: the settings file to read; empty: beside the program
    CliCommand command = CliCommand::kNone;
    CliTarget target = CliTarget::kFirmware;
    std::string file;                  // kFirmware, kImage, kImageNoBootLoader, whole dump
    std::vector<CliChunkFile> chunks;  // kChunks
};

struct CliParseResult {
    bool ok = false;
    CliOptions options;
    std::string error;  // why the command line is not usable (ok false)
};

// Reads the arguments after the program name. A command that this edition does not have is an
// error, as is a missing, repeated or unknown option and a value out of range. Options take
// their value as the next argument or after '='.
CliParseResult ParseCommandLine(const std::vector<std::string>& args);

// The usage text for this edition, ending in a line break.
std::string UsageText();
// "upgrade-cli <edition> (upgrade library <version>)", ending in a line break.
std::string VersionText();

// The parity code for "none", "odd", "even", "mark" or "space"; -1 for any other text.
int ParseParityName(const std::string& name);
// The name of parity code `code`, or "?" for an unknown code.
const char* ParityName(int code);
