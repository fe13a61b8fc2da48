#include "cli/options.h"

#include <climits>
#include <cstddef>

#include "library/link/upgrade.h"
#include "platform/edition.h"

namespace {

// The highest port number that has a device of its own (COM17..COM32 are /dev/ttyS0..15).
constexpr int kHighestPort = 32;

struct ParityEntry {
    const char* name;
    int code;
};
constexpr ParityEntry kParities[] = {
    {"none", COM_PARITY_NONE}, {"odd", COM_PARITY_ODD},     {"even", COM_PARITY_EVEN},
    {"mark", COM_PARITY_MARK}, {"space", COM_PARITY_SPACE},
};

// Decimal digits only, 1..max; false for anything else (signs, blanks, overflow).
bool ParseCount(const std::string& text, int max, int* out) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > max) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

// Walks the arguments; an option's value is the text after '=' or the next argument.
class ArgReader {
  public:
    explicit ArgReader(const std::vector<std::string>& args) : m_args(args) {}

    bool Done() const { return m_next >= m_args.size(); }
    const std::string& Peek() const { return m_args[m_next]; }
    std::string Take() { return m_args[m_next++]; }

    // Splits "--name=value" into name and value; a word without '=' has no inline value.
    static void Split(const std::string& word, std::string* name, std::string* value,
                      bool* hasValue) {
        size_t eq = word.find('=');
        *hasValue = word.rfind("--", 0) == 0 && eq != std::string::npos;
        *name = *hasValue ? word.substr(0, eq) : word;
        *value = *hasValue ? word.substr(eq + 1) : std::string();
    }

    // The value of option `name`: the inline one, else the next argument.
    bool Value(const std::string& name, bool hasInline, const std::string& inlineValue,
               std::string* out, std::string* error) {
        if (hasInline) {
            *out = inlineValue;
        } else if (Done()) {
            *error = "option " + name + " needs a value";
            return false;
        } else {
            *out = Take();
        }
        if (out->empty()) {
            *error = "option " + name + " needs a value";
            return false;
        }
        return true;
    }

  private:
    const std::vector<std::string>& m_args;
    size_t m_next = 0;
};

bool IsOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

bool ParseGlobalOption(ArgReader& reader, CliOptions* o, std::string* error) {
    std::string name, inlineValue, value;
    bool hasInline = false;
    ArgReader::Split(reader.Take(), &name, &inlineValue, &hasInline);
    if (name == "--help" || name == "--version") {
        if (hasInline) {
            *error = "option " + name + " takes no value";
            return false;
        }
        (name == "--help" ? o->help : o->version) = true;
        return true;
    }
    const bool known = name == "--device" || name == "--port" || name == "--baud" ||
                       name == "--parity" || name == "--config";
    if (!known) {
        *error = "unknown option " + name;
        return false;
    }
    if (!reader.Value(name, hasInline, inlineValue, &value, error)) {
        return false;
    }
    auto once = [&](bool given) {
        if (given) {
            *error = "option " + name + " given twice";
        }
        return !given;
    };
    if (name == "--device") {
        if (!once(!o->device.empty()))
            return false;
        o->device = value;
    } else if (name == "--port") {
        if (!once(o->port != 0))
            return false;
        if (!ParseCount(value, kHighestPort, &o->port)) {
            *error = "--port takes a port number from 1 to 32, not '" + value + "'";
            return false;
        }
    } else if (name == "--baud") {
        if (!once(o->baud != 0))
            return false;
        if (!ParseCount(value, INT_MAX, &o->baud)) {
            *error = "--baud takes a positive number of bits per second, not '" + value + "'";
            return false;
        }
    } else if (name == "--parity") {
        if (!once(o->parity >= 0))
            return false;
        o->parity = ParseParityName(value);
        if (o->parity < 0) {
            *error = "--parity takes none, odd, even, mark or space, not '" + value + "'";
            return false;
        }
    } else {
        if (!once(!o->config.empty()))
            return false;
        o->config = value;
    }
    return true;
}

bool ParseChunkPair(const std::string& text, CliChunkFile* out, std::string* error) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
        *error = "--chunk takes ID_OR_NAME=FILE, not '" + text + "'";
        return false;
    }
    out->chunk = text.substr(0, eq);
    out->file = text.substr(eq + 1);
    return true;
}

// The words after "upgrade" or "dump" in edition 2.0.0.
bool ParseTargets200(ArgReader& reader, bool upgrade, CliOptions* o, std::string* error) {
    const char* command = upgrade ? "upgrade" : "dump";
    bool haveTarget = false;
    while (!reader.Done()) {
        std::string name, inlineValue, value;
        bool hasInline = false;
        ArgReader::Split(reader.Take(), &name, &inlineValue, &hasInline);
        if (!IsOption(name)) {
            if (upgrade || haveTarget) {
                *error = "unexpected argument '" + name + "' after " + command;
                return false;
            }
            o->target = CliTarget::kImage;
            o->file = name;
            haveTarget = true;
            continue;
        }
        const bool image = upgrade && (name == "--image" || name == "--image-no-boot");
        if (!image && name != "--chunk") {
            *error = "unknown option " + name + " for " + command;
            return false;
        }
        const CliTarget target = name == "--chunk"   ? CliTarget::kChunks
                                 : name == "--image" ? CliTarget::kImage
                                                     : CliTarget::kImageNoBootLoader;
        if (haveTarget && !(target == CliTarget::kChunks && o->target == target)) {
            *error = "give one of a whole image or chunk files to " + std::string(command);
            return false;
        }
        if (!reader.Value(name, hasInline, inlineValue, &value, error)) {
            return false;
        }
        o->target = target;
        haveTarget = true;
        if (target != CliTarget::kChunks) {
            o->file = value;
            continue;
        }
        // "--chunk A=F B=G ...": every following pair belongs to it.
        for (;;) {
            CliChunkFile pair;
            if (!ParseChunkPair(value, &pair, error)) {
                return false;
            }
            for (const CliChunkFile& earlier : o->chunks) {
                if (earlier.chunk == pair.chunk) {
                    *error = "chunk '" + pair.chunk + "' given twice";
                    return false;
                }
            }
            o->chunks.push_back(pair);
            if (reader.Done() || IsOption(reader.Peek())) {
                break;
            }
            value = reader.Take();
        }
    }
    if (!haveTarget) {
        *error = upgrade ? "upgrade needs --image FILE, --image-no-boot FILE or --chunk ID=FILE"
                         : "dump needs FILE or --chunk ID=FILE";
        return false;
    }
    return true;
}

bool ParseUpgrade201(ArgReader& reader, CliOptions* o, std::string* error) {
    if (reader.Done()) {
        *error = "upgrade needs a FIRMWARE file";
        return false;
    }
    std::string word = reader.Take();
    if (IsOption(word)) {
        *error = "option " + word.substr(0, word.find('=')) +
                 " is not in edition 2.0.1; use: upgrade FIRMWARE";
        return false;
    }
    if (!reader.Done()) {
        *error = "unexpected argument '" + reader.Peek() + "' after upgrade FIRMWARE";
        return false;
    }
    o->target = CliTarget::kFirmware;
    o->file = word;
    return true;
}

bool ParseCommand(ArgReader& reader, CliOptions* o, std::string* error) {
    const std::string command = reader.Take();
    if (command == "info") {
        o->command = CliCommand::kInfo;
        if (!reader.Done()) {
            *error = "unexpected argument '" + reader.Peek() + "' after info";
            return false;
        }
        return true;
    }
    if (command == "upgrade") {
        o->command = CliCommand::kUpgrade;
        if constexpr (kEdition200) {
            if (!reader.Done() && !IsOption(reader.Peek())) {
                *error =
                    "edition 2.0.0 has no 'upgrade FIRMWARE'; use --image, "
                    "--image-no-boot or --chunk";
                return false;
            }
            return ParseTargets200(reader, true, o, error);
        } else {
            return ParseUpgrade201(reader, o, error);
        }
    }
    if (command == "dump") {
        o->command = CliCommand::kDump;
        if constexpr (kEdition200) {
            return ParseTargets200(reader, false, o, error);
        } else {
            *error = "edition 2.0.1 has no dump command";
            return false;
        }
    }
    *error = "unknown command '" + command + "'";
    return false;
}

}  // namespace

CliParseResult ParseCommandLine(const std::vector<std::string>& args) {
    CliParseResult result;
    CliOptions& o = result.options;
    ArgReader reader(args);
    while (!reader.Done() && IsOption(reader.Peek())) {
        if (!ParseGlobalOption(reader, &o, &result.error)) {
            return result;
        }
    }
    if (!o.device.empty() && o.port != 0) {
        result.error = "give either --device or --port, not both";
        return result;
    }
    if (o.help || o.version) {
        if (!reader.Done()) {
            result.error = "--help and --version take no command";
            return result;
        }
        result.ok = true;
        return result;
    }
    if (reader.Done()) {
        result.error = "no command given";
        return result;
    }
    result.ok = ParseCommand(reader, &o, &result.error);
    return result;
}

std::string UsageText() {
    std::string text =
        "Usage: upgrade-cli [--device PATH | --port N] [--baud N]\n"
        "                   [--parity none|odd|even|mark|space] [--config FILE] COMMAND ...\n"
        "\n"
        "Commands:\n"
        "  info                          connect and show the STB's boot loader and chunks\n";
    if constexpr (kEdition200) {
        text +=
            "  upgrade --image FILE          write a whole image (\"All Chunk\")\n"
            "  upgrade --image-no-boot FILE  write a whole image without the boot loader\n"
            "  upgrade --chunk ID_OR_NAME=FILE ...\n"
            "                                write single chunks\n"
            "  dump FILE                     read the whole flash into FILE\n"
            "  dump --chunk ID_OR_NAME=FILE ...\n"
            "                                read single chunks\n"
            "  A chunk is named by its id in hexadecimal (0x optional) or by its name.\n";
    } else {
        text += "  upgrade FIRMWARE              check a firmware file and write it\n";
    }
    text +=
        "\n"
        "Options:\n"
        "  --device PATH   the serial device (default: the settings file's port)\n"
        "  --port N        the port number COMn, 1 to 32\n"
        "  --baud N        bits per second (default 115200)\n"
        "  --parity P      none, odd, even (default), mark or space\n"
        "  --config FILE   the settings file (default: Upgrade.ini beside the program)\n"
        "  --version       show the edition and the library version\n"
        "  --help          show this text\n"
        "\n"
        "Exit status: 0 success, 1 the task failed, 2 usage error, 3 the file was refused,\n"
        "4 cancelled (SIGINT or SIGTERM).\n";
    return text;
}

std::string VersionText() {
    return std::string("upgrade-cli ") + kEditionText + " (upgrade library " +
           UpgGetLibraryVersion() + ")\n";
}

int ParseParityName(const std::string& name) {
    for (const ParityEntry& entry : kParities) {
        if (name == entry.name) {
            return entry.code;
        }
    }
    return -1;
}

const char* ParityName(int code) {
    for (const ParityEntry& entry : kParities) {
        if (code == entry.code) {
            return entry.name;
        }
    }
    return "?";
}
