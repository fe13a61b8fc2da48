// What a simulated STB is: its boot loader's protocol generation, the version it reports, its
// flash type and the chain of chunks in its flash. Profiles come built in or from a small
// key = value text file (see LoadProfileFile), and a profile yields the flash contents that the
// STB starts with and a firmware image file that fits it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stbsim/sim_bytes.h"

namespace stbsim {

enum class StbGeneration {
    kPacket30,  // packet protocol; the comtest banner comes back inverted
    kLegacy21,  // legacy raw protocol; "version -r" carries the 0xB700 + version marker
    kLegacy20,  // legacy raw protocol without the marker
    kOldest,    // oldest legacy loader: "dump" sends the whole flash as one stream
};

// "3.0", "2.1", "2.0" or "oldest"; false for any other text.
bool ParseGeneration(const std::string& text, StbGeneration* generation);
const char* GenerationName(StbGeneration generation);
inline bool IsPacketGeneration(StbGeneration g) {
    return g == StbGeneration::kPacket30;
}

inline constexpr uint32_t kNoCrc = 0x4E435243;  // the text NCRC: a chunk without a CRC
inline constexpr uint32_t kBootLoaderId = 0xE3000010;
inline constexpr uint32_t kChunkHeaderSize = 128;

// One chunk of the flash chain. `length` counts the header bytes after the first 16 and the
// payload (so the payload is length - 112 bytes); `next` is the slot size, 0 for the last chunk.
struct ChunkSpec {
    uint32_t id = 0;
    std::string name;
    std::string version;
    std::string extra;
    uint32_t length = 112;
    uint32_t next = 0;
    enum class Crc { kComputed, kNone, kFixed } crcMode = Crc::kComputed;
    uint32_t crc = 0;  // used when crcMode is kFixed
};

struct StbProfile {
    std::string name;
    StbGeneration generation = StbGeneration::kPacket30;
    // The version the boot loader reports: the "version" reply under the packet protocol, the
    // marker's low byte (0xB700 + version) for 2.1. The other generations report none.
    uint32_t version = 0x30;
    uint8_t flashType = 3;   // flash type code; it fixes the flash size
    uint8_t secondByte = 0;  // the chunk reply's second byte, passed on unchanged
    uint32_t seed = 1;       // seeds the generated chunk payloads
    std::vector<ChunkSpec> chunks;
};

// Flash size for a flash type code: 512 KiB, 1 MiB or 2 MiB; 0 for an unknown code.
uint32_t FlashSizeForType(uint8_t code);

// The built-in profiles: "RDX01" (the default: a 3.0 STB of the RDX01 family with a boot
// loader, a main code chunk of kind 2, a logo and a user database, 1 MiB flash), and one small
// STB per generation: "gen30", "gen21", "gen20", "oldest" (512 KiB flash each).
std::vector<std::string> BuiltinProfileNames();
bool BuiltinProfile(const std::string& name, StbProfile* profile);

// Reads a profile file. Format, one setting per line, '#' starts a comment:
//   generation = 3.0            (3.0, 2.1, 2.0 or oldest)
//   version = 0x30              flash-type = 3        second-byte = 0        seed = 1
//   [chunk]                     (each [chunk] line starts a chunk; its keys follow)
//   id = 0xE3000010   name = bootloader   version = RDX01BL_100203   extra =
//   length = 0x7F70   next = 0x10000      crc = computed | none | 0x12345678
// Numbers are decimal or 0x hexadecimal. On failure returns false with a message in *error.
bool LoadProfileFile(const std::string& path, StbProfile* profile, std::string* error);

// Loads NAME as a built-in profile, or else as a file path.
bool LoadProfile(const std::string& nameOrPath, StbProfile* profile, std::string* error);

// Checks what the simulator relies on: a known flash type, 1 to 16 chunks, texts of at most
// 15 characters, length at least 112, every slot within the flash. False with *error.
bool ValidateProfile(const StbProfile& profile, std::string* error);

// The chain of a profile as bytes: each chunk's 128-byte header (0xFF after each text and from
// offset 64), its payload generated from the profile's seed and `variant`, 0xFF up to the slot.
// Variant 0 is the factory flash; variant 1 the contents of a firmware file.
Bytes BuildChain(const StbProfile& profile, uint32_t variant);

// The flash the STB starts with: the chain at offset 0, 0xFF to the end of the flash.
Bytes BuildFlash(const StbProfile& profile);

// A firmware image file for the profile: the chain with new payloads (variant 1). With
// `newerBootLoader` the boot loader chunk carries a newer version (its last digit raised) and
// new contents; otherwise it is the STB's own boot loader chunk.
Bytes BuildFirmware(const StbProfile& profile, bool newerBootLoader);

// A header as found in flash: the chain walk below returns these.
struct FlashChunk {
    uint32_t offset = 0;  // of the header in flash
    uint32_t id = 0, length = 0, next = 0, crc = 0;
    uint32_t Slot() const { return next != 0 ? next : 16 + length; }
};

// Walks the chain in `flash` from offset 0: up to `limit` chunks, stopping after the chunk whose
// next is 0, at an erased header (id 0xFFFFFFFF) or at a header that runs past the flash.
std::vector<FlashChunk> WalkFlash(const Bytes& flash, size_t limit = 16);

}  // namespace stbsim
