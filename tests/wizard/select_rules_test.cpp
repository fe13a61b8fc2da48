#include "wizard/select_rules.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/edition.h"
#include "platform/paths.h"
#include "tools/stbsim/profile.h"

namespace {

using stbsim::Bytes;
using stbsim::ChunkSpec;
using stbsim::StbProfile;

constexpr uint32_t kBoot = 0xE3000010;
constexpr uint32_t kMain = 0x01FE0100;                             // kind 2 in edition 2.0.1
constexpr uint32_t kLogo = kEdition200 ? 0x02FD0100 : 0x08F70100;  // kind 2 or 3
constexpr uint32_t kUserDb = 0x04FB0100;

// A small STB: boot loader 0x4000, main code 0x8000, logo 0x2000, user database last.
StbProfile Stb(const std::string& bootVersion = "RDX01BL_100203",
               const std::string& mainName = "maincodeR1") {
    StbProfile p;
    p.flashType = 1;
    p.chunks = {
        {kBoot, "bootloader", bootVersion, "", 0x2700, 0x4000},
        {kMain, mainName, "1.0.3", "RDX01", 0x6000, 0x8000},
        {kLogo, "logo", "1", "", 0x1100, 0x2000},
        {kUserDb, "userdb", "1", "", 0x370, 0},
    };
    p.chunks[3].crcMode = ChunkSpec::Crc::kNone;
    return p;
}

// The chunk table the STB reports: its headers as they stand in its flash.
ChunkTable TableOf(const StbProfile& profile) {
    const Bytes flash = stbsim::BuildFlash(profile);
    Bytes payload = {profile.flashType, 0};
    for (const stbsim::FlashChunk& c : stbsim::WalkFlash(flash)) {
        payload.insert(payload.end(), flash.begin() + c.offset,
                       flash.begin() + c.offset + stbsim::kChunkHeaderSize);
    }
    ChunkTable table{};
    EXPECT_EQ(ParseChunkTable(payload.data(), static_cast<unsigned>(payload.size()), &table), 0);
    return table;
}

class SelectRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Create("select-rules-"));
        Connect(Stb());
    }
    // What a connect leaves: the table and the boot loader's version text.
    void Connect(const StbProfile& stb) {
        m_table = TableOf(stb);
        std::memset(m_context.bootVersion, 0, sizeof m_context.bootVersion);
        const char* version = m_table.entries[0].version;
        std::memcpy(m_context.bootVersion, version, strnlen(version, 15));
    }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string path = m_dir.File(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string Image(const StbProfile& profile, bool newerBootLoader = false) {
        return Write("image" + std::to_string(m_images++) + ".bin",
                     stbsim::BuildFirmware(profile, newerBootLoader));
    }
    SelectOutcome Choose(int itemData, const std::string& path) {
        return SelectFileRules(m_context, m_table, itemData, path);
    }
    const FileRecord& Record(int chunk) { return *m_context.ChunkRecord(chunk); }

    PlatformPrivateDir m_dir;
    CUpgradeContext m_context;
    ChunkTable m_table{};
    int m_images = 0;
};

std::string SizeText(uint32_t id, uint32_t room) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Select bin File chunk size large than Slave chunk size \n Chunk 0x%08X \n "
                  "Chunk size: 0x%08X",
                  id, room);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Firmware family

TEST(FirmwareFamily, DetectedFromTheBootVersionAndTheSecondChunksName) {
    const std::string cant = "We can\xB4t auto detect firmware.";
    struct Case {
        const char* bootVersion;
        const char* mainName;
        uint32_t count;
        std::string messageStart;
        std::string row;
    } cases[] = {
        {"RDX01BL_100203", "anything", 4, "You are running 5817B series", "VOR 5817B firmware"},
        {"RDX03BL_100203", "maincodeC", 4, "You are running 5817C series", "VOR 5817C firmware"},
        {"RDX03BL_100203", "maincodeBxyz", 4, "You are running 5817B DVR series",
         "VOR 5817B DVR firmware"},
        {"RDX03BL_100203", "maincodeb", 4, cant, "VOR 5817 firmware"},
        // A table of one chunk has no second name; the stale entry behind it is not read.
        {"RDX03BL_100203", "maincodeC", 1, cant, "VOR 5817 firmware"},
        {"RDX02BL_100203", "maincodeC", 4, "You are running incompatible firmware.", ""},
        {"rdx01", "maincodeC", 4, "You are running incompatible firmware.", ""},
    };
    for (const Case& c : cases) {
        ChunkTable table = TableOf(Stb(c.bootVersion, c.mainName));
        table.count = c.count;
        FirmwareFamily family = DetectFirmwareFamily(table);
        EXPECT_EQ(family.message.substr(0, c.messageStart.size()), c.messageStart)
            << c.bootVersion << " " << c.mainName;
        EXPECT_EQ(family.rowText, c.row) << c.bootVersion << " " << c.mainName;
        EXPECT_EQ(family.compatible, !c.row.empty());
    }
    EXPECT_EQ(DetectFirmwareFamily(TableOf(Stb("RDX02"))).message,
              "You are running incompatible firmware.\r\nYou can\xB4t update your STB with this "
              "tool.");
}

TEST(FirmwareFamily, RowsOfThePage) {
    ChunkTable table = TableOf(Stb());
    table.entries[2].masked = 1;
    std::vector<std::string> upgrade;
    for (const SelectRow& row : BuildSelectRows(table, 0)) {
        upgrade.push_back(row.text + "=" + std::to_string(row.itemData));
    }
    std::vector<std::string> dump;
    for (const SelectRow& row : BuildSelectRows(table, 1)) {
        dump.push_back(row.text + "=" + std::to_string(row.itemData));
    }
    if constexpr (kEdition201) {
        EXPECT_EQ(upgrade, std::vector<std::string>{"VOR 5817B firmware=-1"});
        EXPECT_TRUE(BuildSelectRows(TableOf(Stb("RDX02")), 0).empty());
    } else {
        EXPECT_EQ(upgrade, (std::vector<std::string>{"All Chunk=-1", "All Chunk(No BootLoader)=-2",
                                                     "bootloader=0", "maincodeR1=1", "userdb=3"}));
        EXPECT_EQ(dump, (std::vector<std::string>{"All Chunk=-1", "bootloader=0", "maincodeR1=1",
                                                  "userdb=3"}));
    }
}

// ---------------------------------------------------------------------------------------------
// Edition 2.0.1: the firmware row

class FirmwareRowTest : public SelectRulesTest {
  protected:
    void SetUp() override {
        if constexpr (kEdition200) {
            GTEST_SKIP() << "edition 2.0.0 has no firmware row";
        }
        SelectRulesTest::SetUp();
    }
};

TEST_F(FirmwareRowTest, AcceptedImageIsSpreadOverTheChunkRecords) {
    const std::string image = Image(Stb());
    SelectOutcome outcome = Choose(-1, image);
    ASSERT_TRUE(outcome.accepted) << outcome.message;
    EXPECT_EQ(outcome.message, "");
    EXPECT_TRUE(m_context.files[0].path.empty());
    // Equal boot loader: not written. Main code: taken from the image. Logo (kind 3) taken.
    // User database (kind 0): passed the tests, not written.
    const struct {
        bool taken;
        int offset;
        int length;
    } expected[] = {{false, 0, 0}, {true, 0x4000, 0x8000}, {true, 0xC000, 0x2000}, {false, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Record(i).path, expected[i].taken ? image : "") << i;
        EXPECT_EQ(Record(i).fileOffset, expected[i].offset) << i;
        EXPECT_EQ(Record(i).length, expected[i].length) << i;
        EXPECT_EQ(Record(i).fromImage, expected[i].taken ? 1 : 0) << i;
    }
    EXPECT_TRUE(AnyFileChosen(m_context, m_table));
    ClearItemRecord(m_context, m_table, -1);
    EXPECT_FALSE(AnyFileChosen(m_context, m_table));
}

TEST_F(FirmwareRowTest, ANewerBootLoaderIsWrittenToo) {
    const std::string image = Image(Stb(), true);
    ASSERT_TRUE(Choose(-1, image).accepted);
    EXPECT_EQ(Record(0).path, image);
    EXPECT_EQ(Record(0).length, 0x4000);
    // An older boot loader of the same family is left as it is, like an equal one.
    Connect(Stb("RDX01BL_100204"));
    ASSERT_TRUE(Choose(-1, Image(Stb())).accepted);
    EXPECT_EQ(Record(0).path, "");
}

TEST_F(FirmwareRowTest, RefusedFiles) {
    StbProfile noLogo = Stb();
    noLogo.chunks.erase(noLogo.chunks.begin() + 2);
    StbProfile otherName = Stb("RDX01BL_100203", "maincodeR2");
    StbProfile otherFamily = Stb("RDX03BL_100203");
    StbProfile bigMain = Stb();
    bigMain.chunks[1].next = 0x9000;
    StbProfile bigLast = Stb();
    bigLast.chunks[3].length = 0x371;
    StbProfile bigBoot = Stb();
    bigBoot.chunks[0].next = 0x5000;
    Bytes notAnImage(4096, 0x42);
    struct Case {
        const char* what;
        std::string path;
        std::string message;
    } cases[] = {
        {"not an image", Write("junk.bin", notAnImage), kTextWrongFirmware},
        {"lacks a chunk", Image(noLogo), kTextWrongFirmware},
        {"main code of another name", Image(otherName), kTextWrongFirmware},
        {"boot loader of another family", Image(otherFamily), kTextBootLoaderIncompatible},
        {"main code over its slot", Image(bigMain), SizeText(kMain, 0x8000)},
        {"last chunk over length + 16", Image(bigLast), SizeText(kUserDb, 0x380)},
        {"newer boot loader over its slot", Image(bigBoot, true), SizeText(kBoot, 0x4000)},
        {"empty file", Write("empty.bin", {}), ""},
    };
    // An earlier accepted choice stays as it was through every refusal.
    const std::string good = Image(Stb());
    ASSERT_TRUE(Choose(-1, good).accepted);
    for (const Case& c : cases) {
        SelectOutcome outcome = Choose(-1, c.path);
        EXPECT_FALSE(outcome.accepted) << c.what;
        EXPECT_EQ(outcome.message, c.message) << c.what;
        EXPECT_EQ(Record(1).path, good) << c.what;
        EXPECT_EQ(Record(1).fileOffset, 0x4000) << c.what;
        EXPECT_EQ(Record(2).length, 0x2000) << c.what;
    }
    SelectOutcome missing = Choose(-1, m_dir.File("no-such-file.bin"));
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.message.find("no-such-file.bin"), std::string::npos);
    // Only the firmware row takes a file.
    EXPECT_EQ(Choose(1, good).accepted, false);
}

TEST_F(FirmwareRowTest, ShortMainCodeNamesAreNotCompared) {
    Connect(Stb("RDX01BL_100203", "maincode"));  // 8 characters
    ASSERT_TRUE(Choose(-1, Image(Stb("RDX01BL_100203", "mainXXXX"))).accepted);
}

TEST_F(FirmwareRowTest, ATableWithMoreChunksThanRecordsIsRefused) {
    StbProfile many = Stb();
    many.flashType = 5;
    many.chunks[3].next = 0x400;
    for (uint32_t i = 0; many.chunks.size() < 16; ++i) {
        ChunkSpec extra{0x03FC0100 + i * 0x100, "extra", "1", "", 0x200, 0x400};
        many.chunks.push_back(extra);
    }
    many.chunks.back().next = 0;
    Connect(many);
    ASSERT_EQ(m_table.count, 16u);
    SelectOutcome outcome = Choose(-1, Image(many));
    EXPECT_FALSE(outcome.accepted);
    EXPECT_NE(outcome.message.find("at most 15"), std::string::npos) << outcome.message;
    for (const FileRecord& record : m_context.files) {
        EXPECT_TRUE(record.path.empty());
    }
}

// ---------------------------------------------------------------------------------------------
// Edition 2.0.0: whole-image rows, a chunk from an image, a bare chunk file

class ChunkRowTest : public SelectRulesTest {
  protected:
    void SetUp() override {
        if constexpr (kEdition201) {
            GTEST_SKIP() << "edition 2.0.1 has no chunk rows";
        }
        SelectRulesTest::SetUp();
    }
};

TEST_F(ChunkRowTest, WholeImageRowsTakeTheFileAsItIs) {
    const std::string image = Image(Stb());
    ASSERT_TRUE(Choose(-1, image).accepted);
    EXPECT_EQ(m_context.files[kRecordAllChunks].path, image);
    ASSERT_TRUE(Choose(-2, image).accepted);
    EXPECT_EQ(m_context.files[kRecordAllChunksNoBootLoader].path, image);
}

TEST_F(ChunkRowTest, AChunkFromAnImage) {
    const std::string image = Image(Stb());
    ASSERT_TRUE(Choose(2, image).accepted);
    EXPECT_EQ(Record(2).path, image);
    EXPECT_EQ(Record(2).fileOffset, 0xC000);
    EXPECT_EQ(Record(2).length, 0x2000);
    EXPECT_EQ(Record(2).fromImage, 1);

    StbProfile noLogo = Stb();
    noLogo.chunks.erase(noLogo.chunks.begin() + 2);
    StbProfile bigLogo = Stb();
    bigLogo.chunks[2].next = 0x2100;
    struct Case {
        const char* what;
        std::string path;
        std::string message;
    } cases[] = {
        {"lacks the chunk", Image(noLogo), kTextChunkNotFound},
        {"over the slot", Image(bigLogo),
         "Select bin File chunk size large than Slave chunk size \n Chunk size: 0x00002000"},
        {"another family", Image(Stb("RDX03BL_100203")), kTextBootLoaderIncompatible},
    };
    for (const Case& c : cases) {
        SelectOutcome outcome = Choose(2, c.path);
        EXPECT_FALSE(outcome.accepted) << c.what;
        EXPECT_EQ(outcome.message, c.message) << c.what;
        EXPECT_EQ(Record(2).path, image) << c.what;  // the earlier choice stays
    }
}

TEST_F(ChunkRowTest, ABareChunkFileMustFitWithItsHeader) {
    const std::string tooLargeText = "Select File large than Slave chunk size \n Chunk size: ";
    struct Case {
        int chunk;
        size_t length;
        bool accepted;
        std::string message;
    } cases[] = {
        {2, 0x2000 - 128, true, ""},
        {2, 0x2000 - 127, false, tooLargeText + "0x00002000"},
        {3, 0x380 - 128, true, ""},  // the last chunk's room is its length + 16
        {3, 0x380 - 127, false, tooLargeText + "0x00000380"},
        {0, 0x4000, true, ""},  // a boot loader file gets no header in front
        {0, 0x4001, false, tooLargeText + "0x00004000"},
    };
    for (const Case& c : cases) {
        const std::string path = Write("bare.bin", Bytes(c.length, 0x33));
        SelectOutcome outcome = Choose(c.chunk, path);
        EXPECT_EQ(outcome.accepted, c.accepted) << c.chunk << " " << c.length;
        EXPECT_EQ(outcome.message, c.message) << c.chunk << " " << c.length;
        if (c.accepted) {
            EXPECT_EQ(Record(c.chunk).length, static_cast<int>(c.length));
            EXPECT_EQ(Record(c.chunk).fromImage, 0);
            EXPECT_EQ(Record(c.chunk).fileOffset, 0);
        }
    }
}

TEST_F(ChunkRowTest, ADumpStoresTheTargetForAnyRow) {
    m_context.operation = 1;
    const std::string target = m_dir.File("does-not-exist-yet.bin");
    ASSERT_TRUE(Choose(-1, target).accepted);
    EXPECT_EQ(m_context.files[kRecordAllChunks].path, target);
    ASSERT_TRUE(Choose(1, target).accepted);
    EXPECT_EQ(Record(1).path, target);
}

TEST(FileFilter, ByChunkId) {
    struct Case {
        uint32_t id;
        const char* extension;
        const char* filter;
    } cases[] = {
        {0x02FD0200, "m2v", "Logo file(*.m2v)|*.m2v|"},
        {0x03FC0100, "ddf", "default db(*.ddf)|*.ddf|"},
        {0x04FB0100, "udf", "user db(*.udf)|*.udf|"},
        {0xE3000010, "abs", "ABS File(*.abs)|*.abs|"},
        {0x01FE0100, "bin", "other file(*.bin)|*.bin|"},
        {0, kEdition200 ? "abs" : "bin",
         kEdition200 ? "ABS File(*.abs)|*.abs|" : "other file(*.bin)|*.bin|"},
    };
    for (const Case& c : cases) {
        std::string extension;
        std::string filter;
        ChooseFileFilter(c.id, &extension, &filter);
        EXPECT_EQ(extension, c.extension);
        EXPECT_EQ(filter, std::string(c.filter) + "All File(*.*)|*.*|");
    }
}

}  // namespace
