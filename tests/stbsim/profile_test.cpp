// Profiles, their files, and the flash and firmware images they yield.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tools/stbsim/profile.h"

namespace stbsim {
namespace {

std::string WriteTemp(const std::string& name, const std::string& text) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

// Every chunk of a chain: the id rule, the CRC, the next chain link.
void ExpectSoundChain(const Bytes& image, size_t chunks) {
    size_t offset = 0, n = 0;
    for (;;) {
        ASSERT_LE(offset + 128, image.size());
        const uint8_t* h = image.data() + offset;
        uint32_t id = ReadBe32(h), length = ReadBe32(h + 4), next = ReadBe32(h + 8),
                 crc = ReadBe32(h + 12);
        if (n > 0) {
            EXPECT_EQ(((id >> 24) + ((id >> 16) & 0xFF)), 0xFFu) << std::hex << id;
        }
        if (crc != kNoCrc) {
            EXPECT_EQ(Crc32(h + 16, length), crc) << std::hex << id;
        }
        ++n;
        if (next == 0) {
            EXPECT_EQ(offset + 16 + length, image.size());
            break;
        }
        EXPECT_LE(length, next - 16);
        offset += next;
    }
    EXPECT_EQ(n, chunks);
}

TEST(Profile, BuiltinsAreValidAndYieldSoundImages) {
    for (const std::string& name : BuiltinProfileNames()) {
        StbProfile p;
        ASSERT_TRUE(BuiltinProfile(name, &p)) << name;
        std::string error;
        EXPECT_TRUE(ValidateProfile(p, &error)) << name << ": " << error;
        Bytes flash = BuildFlash(p);
        EXPECT_EQ(flash.size(), FlashSizeForType(p.flashType));
        EXPECT_EQ(WalkFlash(flash).size(), p.chunks.size());
        ExpectSoundChain(BuildFirmware(p, false), p.chunks.size());
        ExpectSoundChain(BuildFirmware(p, true), p.chunks.size());
    }
}

TEST(Profile, FirmwareCarriesNewContentsAndOptionallyANewerBootLoader) {
    StbProfile p;
    ASSERT_TRUE(BuiltinProfile("RDX01", &p));
    Bytes flash = BuildFlash(p), same = BuildFirmware(p, false), newer = BuildFirmware(p, true);
    uint32_t boot = p.chunks[0].next;
    EXPECT_TRUE(std::equal(same.begin(), same.begin() + boot, flash.begin()));
    EXPECT_FALSE(std::equal(same.begin() + boot, same.begin() + 2 * boot, flash.begin() + boot));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(newer.data() + 32)), "RDX01BL_100204");
}

TEST(Profile, FileIsReadAndCheckedAndBadFilesAreRefused) {
    std::string good =
        WriteTemp("good.profile",
                  "# a 2.1 box\n"
                  "generation = 2.1\nversion = 0x22\nflash-type = 1\n"
                  "[chunk]\nid = 0xE3000010\nname = bootloader\nversion = RDX01BL_100000\n"
                  "length = 0x1000\nnext = 0x2000\n"
                  "[chunk]\nid = 0x01FE0100\nname = maincodeR1\nlength = 0x200\nnext = 0\n"
                  "crc = none\n");
    StbProfile p;
    std::string error;
    ASSERT_TRUE(LoadProfileFile(good, &p, &error)) << error;
    EXPECT_EQ(p.generation, StbGeneration::kLegacy21);
    EXPECT_EQ(p.version, 0x22u);
    ASSERT_EQ(p.chunks.size(), 2u);
    EXPECT_EQ(p.chunks[1].crcMode, ChunkSpec::Crc::kNone);

    const char* bad[] = {
        "generation = 4.0\n[chunk]\nid = 1\nnext = 0\n",                      // unknown generation
        "flash-type = 0\n[chunk]\nid = 1\nnext = 0\n",                        // no flash size
        "[chunk]\nid = 1\nlength = 0x100\nnext = 0x80\n[chunk]\nnext = 0\n",  // length past slot
        "[chunk]\nid = 1\nnext = 0x100000\n[chunk]\nnext = 0\n",              // past a 1 MiB flash
        "[chunk]\nid = 1\nname = a-name-much-too-long\nnext = 0\n",           // text too long
        "[chunk]\nid = one\n",                                                // not a number
        "",                                                                   // no chunks
    };
    for (const char* text : bad) {
        std::string path = WriteTemp("bad.profile", text);
        EXPECT_FALSE(LoadProfileFile(path, &p, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(LoadProfileFile(::testing::TempDir() + "missing.profile", &p, &error));
}

TEST(Profile, CrcAndSha256CheckValues) {
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x0376E6E7u);
    EXPECT_EQ(Crc32(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("BLANKPCK"), 8), 0x8FA51470u);
    EXPECT_EQ(Sha256Hex(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>("abc"), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding spills into a second block.
    const char* two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(two), 56),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace stbsim
