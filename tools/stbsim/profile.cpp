#include "tools/stbsim/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace stbsim {
namespace {

constexpr uint32_t kHeaderTail = kChunkHeaderSize - 16;  // header bytes counted in `length`

// A chain of four chunks like every STB of the family carries: boot loader, main code (kind 2),
// logo and user database (no CRC, last in the chain).
std::vector<ChunkSpec> FamilyChain(uint32_t bootSlot, uint32_t mainSlot, uint32_t logoSlot,
                                   uint32_t dbLength) {
    std::vector<ChunkSpec> chain(4);
    chain[0] = {kBootLoaderId,           "bootloader", "RDX01BL_100203", "",
                bootSlot * 5 / 8 - 0x90, bootSlot};
    chain[1] = {0x01FE0100, "maincodeR1", "1.0.3", "RDX01", mainSlot * 4 / 5 + 0x230, mainSlot};
    chain[2] = {0x02FD0100, "logo", "1", "", logoSlot / 2 + 0x170, logoSlot};
    chain[3] = {0x04FB0100, "userdb", "1", "", dbLength, 0};
    chain[3].crcMode = ChunkSpec::Crc::kNone;
    return chain;
}

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Payload bytes that look like firmware: short runs and copies of a few byte values, so that
// LZMA has something to find and the blocks are not blank.
void FillPayload(uint8_t* out, size_t count, uint64_t seed) {
    uint64_t state = seed;
    size_t i = 0;
    while (i < count) {
        uint64_t r = SplitMix(state);
        size_t run = 1 + (r & 15);
        uint8_t value = uint8_t((r >> 8) & 0x3F);
        if ((r >> 16) & 1) {
            value = uint8_t(r >> 24);
        }
        for (size_t k = 0; k < run && i < count; ++k, ++i) {
            out[i] = value;
        }
    }
}

void PutText(uint8_t* field, const std::string& text) {
    size_t n = std::min<size_t>(text.size(), 15);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

// Raises the last digit of a version text, carrying into the digits before it.
std::string NewerVersion(std::string version) {
    for (size_t i = version.size(); i-- > 0;) {
        char& c = version[i];
        if (c >= '0' && c < '9') {
            ++c;
            return version;
        }
        if (c == '9') {
            c = '0';
            continue;
        }
        break;
    }
    return version + "1";
}

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull || text[0] == '-') {
        return false;
    }
    *value = uint32_t(v);
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return "";
    }
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool SetProfileKey(StbProfile& p, const std::string& key, const std::string& value) {
    uint32_t n = 0;
    if (key == "generation") {
        return ParseGeneration(value, &p.generation);
    }
    if (key == "name") {
        p.name = value;
        return true;
    }
    if (!ParseNumber(value, &n)) {
        return false;
    }
    if (key == "version") {
        p.version = n;
    } else if (key == "flash-type" && n <= 255) {
        p.flashType = uint8_t(n);
    } else if (key == "second-byte" && n <= 255) {
        p.secondByte = uint8_t(n);
    } else if (key == "seed") {
        p.seed = n;
    } else {
        return false;
    }
    return true;
}

bool SetChunkKey(ChunkSpec& c, const std::string& key, const std::string& value) {
    if (key == "name") {
        c.name = value;
    } else if (key == "version") {
        c.version = value;
    } else if (key == "extra") {
        c.extra = value;
    } else if (key == "crc") {
        if (value == "computed") {
            c.crcMode = ChunkSpec::Crc::kComputed;
        } else if (value == "none") {
            c.crcMode = ChunkSpec::Crc::kNone;
        } else {
            c.crcMode = ChunkSpec::Crc::kFixed;
            return ParseNumber(value, &c.crc);
        }
    } else if (key == "id") {
        return ParseNumber(value, &c.id);
    } else if (key == "length") {
        return ParseNumber(value, &c.length);
    } else if (key == "next") {
        return ParseNumber(value, &c.next);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseGeneration(const std::string& text, StbGeneration* generation) {
    if (text == "3.0") {
        *generation = StbGeneration::kPacket30;
    } else if (text == "2.1") {
        *generation = StbGeneration::kLegacy21;
    } else if (text == "2.0") {
        *generation = StbGeneration::kLegacy20;
    } else if (text == "oldest") {
        *generation = StbGeneration::kOldest;
    } else {
        return false;
    }
    return true;
}

const char* GenerationName(StbGeneration generation) {
    switch (generation) {
        case StbGeneration::kPacket30:
            return "3.0";
        case StbGeneration::kLegacy21:
            return "2.1";
        case StbGeneration::kLegacy20:
            return "2.0";
        case StbGeneration::kOldest:
            return "oldest";
    }
    return "?";
}

uint32_t FlashSizeForType(uint8_t code) {
    switch (code) {
        case 1:
        case 2:
        case 7:
        case 10:
            return 0x80000;
        case 3:
        case 4:
        case 8:
        case 9:
        case 11:
        case 13:
            return 0x100000;
        case 5:
        case 6:
        case 12:
        case 14:
        case 15:
        case 16:
            return 0x200000;
        default:
            return 0;
    }
}

std::vector<std::string> BuiltinProfileNames() {
    return {"RDX01", "gen30", "gen21", "gen20", "oldest"};
}

bool BuiltinProfile(const std::string& name, StbProfile* profile) {
    StbProfile p;
    p.name = name;
    if (name == "RDX01") {
        p.flashType = 3;
        p.chunks = FamilyChain(0x10000, 0xC0000, 0x20000, 0x2F70);
        *profile = p;
        return true;
    }
    p.flashType = 1;
    p.chunks = FamilyChain(0x4000, 0x8000, 0x2000, 0x370);
    if (name == "gen30") {
        p.generation = StbGeneration::kPacket30;
        p.version = 0x30;
    } else if (name == "gen21") {
        p.generation = StbGeneration::kLegacy21;
        p.version = 0x21;
    } else if (name == "gen20") {
        p.generation = StbGeneration::kLegacy20;
        p.version = 0;
    } else if (name == "oldest") {
        p.generation = StbGeneration::kOldest;
        p.version = 0;
    } else {
        return false;
    }
    *profile = p;
    return true;
}

bool LoadProfileFile(const std::string& path, StbProfile* profile, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open profile file " + path;
        return false;
    }
    StbProfile p;
    p.name = path;
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string line = Trim(raw.substr(0, raw.find('#')));
        if (line.empty()) {
            continue;
        }
        if (line == "[chunk]") {
            p.chunks.emplace_back();
            continue;
        }
        size_t eq = line.find('=');
        bool ok = eq != std::string::npos;
        if (ok) {
            std::string key = Trim(line.substr(0, eq));
            std::string value = Trim(line.substr(eq + 1));
            ok = p.chunks.empty() ? SetProfileKey(p, key, value)
                                  : SetChunkKey(p.chunks.back(), key, value);
        }
        if (!ok) {
            *error = path + ":" + std::to_string(lineNumber) + ": bad setting '" + line + "'";
            return false;
        }
    }
    if (!ValidateProfile(p, error)) {
        *error = path + ": " + *error;
        return false;
    }
    *profile = p;
    return true;
}

bool LoadProfile(const std::string& nameOrPath, StbProfile* profile, std::string* error) {
    if (BuiltinProfile(nameOrPath, profile)) {
        return true;
    }
    return LoadProfileFile(nameOrPath, profile, error);
}

bool ValidateProfile(const StbProfile& p, std::string* error) {
    uint32_t flashSize = FlashSizeForType(p.flashType);
    if (flashSize == 0) {
        *error = "unknown flash type " + std::to_string(p.flashType);
        return false;
    }
    if (p.chunks.empty() || p.chunks.size() > 16) {
        *error = "a profile needs 1 to 16 chunks";
        return false;
    }
    if (p.generation == StbGeneration::kLegacy21 && (p.version < 0x21 || p.version > 0xFF)) {
        *error = "a 2.1 boot loader reports a version from 0x21 to 0xFF";
        return false;
    }
    uint64_t offset = 0;
    for (size_t i = 0; i < p.chunks.size(); ++i) {
        const ChunkSpec& c = p.chunks[i];
        std::string which = "chunk " + std::to_string(i) + ": ";
        bool last = i + 1 == p.chunks.size();
        if (c.name.size() > 15 || c.version.size() > 15 || c.extra.size() > 15) {
            *error = which + "texts hold at most 15 characters";
            return false;
        }
        if (c.length < kHeaderTail || (c.next != 0 && c.length > c.next - 16) ||
            (c.next == 0) != last) {
            *error =
                which + "length must be at least 112 and fit the slot; only the last next is 0";
            return false;
        }
        offset += c.next != 0 ? c.next : 16 + uint64_t(c.length);
        if (offset > flashSize) {
            *error = which + "the chain runs past the flash";
            return false;
        }
    }
    return true;
}

Bytes BuildChain(const StbProfile& p, uint32_t variant) {
    Bytes chain;
    for (const ChunkSpec& c : p.chunks) {
        uint32_t slot = c.next != 0 ? c.next : 16 + c.length;
        Bytes bytes(slot, 0xFF);
        uint8_t* h = bytes.data();
        WriteBe32(h, c.id);
        WriteBe32(h + 4, c.length);
        WriteBe32(h + 8, c.next);
        PutText(h + 16, c.name);
        PutText(h + 32, c.version);
        PutText(h + 48, c.extra);
        uint64_t seed = (uint64_t(p.seed) << 32) ^ (uint64_t(variant) << 56) ^ c.id;
        FillPayload(h + kChunkHeaderSize, c.length - kHeaderTail, seed);
        uint32_t crc = c.crcMode == ChunkSpec::Crc::kNone    ? kNoCrc
                       : c.crcMode == ChunkSpec::Crc::kFixed ? c.crc
                                                             : Crc32(h + 16, c.length);
        WriteBe32(h + 12, crc);
        chain.insert(chain.end(), bytes.begin(), bytes.end());
    }
    return chain;
}

Bytes BuildFlash(const StbProfile& p) {
    Bytes flash = BuildChain(p, 0);
    flash.resize(FlashSizeForType(p.flashType), 0xFF);
    return flash;
}

Bytes BuildFirmware(const StbProfile& p, bool newerBootLoader) {
    StbProfile image = p;
    if (newerBootLoader) {
        for (ChunkSpec& c : image.chunks) {
            if (c.id == kBootLoaderId) {
                c.version = NewerVersion(c.version);
            }
        }
    }
    Bytes firmware = BuildChain(image, 1);
    if (!newerBootLoader) {
        // The STB's own boot loader: its chunk comes from the factory chain unchanged.
        Bytes factory = BuildChain(p, 0);
        uint32_t offset = 0;
        for (const ChunkSpec& c : p.chunks) {
            uint32_t slot = c.next != 0 ? c.next : 16 + c.length;
            if (c.id == kBootLoaderId) {
                std::copy(factory.begin() + offset, factory.begin() + offset + slot,
                          firmware.begin() + offset);
            }
            offset += slot;
        }
    }
    return firmware;
}

std::vector<FlashChunk> WalkFlash(const Bytes& flash, size_t limit) {
    std::vector<FlashChunk> chunks;
    uint64_t offset = 0;
    while (chunks.size() < limit && offset + kChunkHeaderSize <= flash.size()) {
        const uint8_t* h = flash.data() + offset;
        FlashChunk c;
        c.offset = uint32_t(offset);
        c.id = ReadBe32(h);
        c.length = ReadBe32(h + 4);
        c.next = ReadBe32(h + 8);
        c.crc = ReadBe32(h + 12);
        if (c.id == 0xFFFFFFFFu || offset + c.Slot() > flash.size()) {
            break;
        }
        chunks.push_back(c);
        if (c.next == 0) {
            break;
        }
        offset += c.next;
    }
    return chunks;
}

}  // namespace stbsim
