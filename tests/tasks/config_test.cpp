#include <sys/stat.h>

#include <vector>

#include "platform/edition.h"
#include "tasks/config.h"
#include "tests/tasks/task_fixture.h"

namespace {

using ConfigTest = TaskTest;

TEST_F(ConfigTest, DefaultsWithoutAFileAndTheFileWrittenOnClose) {
    CUpgradeContext* context = GetContext();
    context->InitContext();
    EXPECT_EQ(g_comPort, 1);
    EXPECT_EQ(g_comBaud, 115200);
    EXPECT_EQ(g_comParity, 2);
    EXPECT_EQ(context->warningLevel, kEdition200 ? 0 : 1);
    EXPECT_EQ(context->transferFormat2, 1);
    EXPECT_EQ(context->maskCount, 0);
    g_comPort = 4;
    context->CloseContext();
    EXPECT_EQ(ReadFile(SettingsPath()), "[Config]\nPort=4\nBaud=115200\nParity=2\n");
}

TEST_F(ConfigTest, ReadsEveryKeyAndSavingKeepsTheOtherLines) {
    const std::string original =
        "; my settings\r\n"
        "[config]\r\n"
        "port=5\r\n"
        "WarningLevel=3\r\n"
        "Baud=57600\r\n"
        "TransferFormat2=0\r\n"
        "ChunkMask=1FE0100,8F70100,\r\n"
        "\r\n"
        "[Ports]\r\n"
        "COM5=/dev/serial/by-id/usb-stb\r\n";
    WriteFile("Upgrade.ini", original);
    CUpgradeContext* context = GetContext();
    context->InitContext();
    EXPECT_EQ(g_comPort, 5);
    EXPECT_EQ(g_comBaud, 57600);
    EXPECT_EQ(g_comParity, 2);  // missing: the default stays
    EXPECT_EQ(context->warningLevel, 3);
    EXPECT_EQ(context->transferFormat2, 0);
    ASSERT_EQ(context->maskCount, 2);
    EXPECT_EQ(context->maskIds[0], 0x01FE0100u);
    EXPECT_EQ(context->maskIds[1], 0x08F70100u);
    EXPECT_EQ(ComDeviceName(5), "/dev/serial/by-id/usb-stb");

    g_comPort = 6;
    g_comParity = 1;
    context->CloseContext();
    std::string expected = original;
    expected.replace(expected.find("port=5"), 6, "Port=6");
    expected.replace(expected.find("\r\n\r\n[Ports]"), 0, "\r\nParity=1");
    EXPECT_EQ(ReadFile(SettingsPath()), expected);
}

TEST_F(ConfigTest, ValuesThatAreNotNumbersReadAsTheirLeadingDigits) {
    WriteFile("Upgrade.ini", "[Config]\nPort=12abc\nBaud=fast\nParity= 1 \n");
    GetContext()->LoadConfig();
    EXPECT_EQ(g_comPort, 12);
    EXPECT_EQ(g_comBaud, 0);
    EXPECT_EQ(g_comParity, 1);
}

TEST_F(ConfigTest, ChunkMaskElements) {
    struct Case {
        const char* text;
        std::vector<uint32_t> ids;
    } cases[] = {
        {"1FE0100,8F70100,", {0x01FE0100, 0x08F70100}},
        {"1FE0100", {}},
        {",,0x3FC0100,", {0, 0, 0x03FC0100}},
        {"", {}},
        {" 04fb0100,zz,1FE0100", {0x04FB0100, 0}},
        {"123456789,-1,", {0xFFFFFFFF, 0xFFFFFFFF}},
        {"-2,+10,--3,", {0xFFFFFFFE, 0x10, 0}},
        {"1,2,3,4,5,6,7,8,9,A,B,C,D,E,F,10,11,12,",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF, 0x10}},
    };
    CUpgradeContext* context = GetContext();
    for (const Case& c : cases) {
        context->ParseChunkMask(c.text);
        std::vector<uint32_t> ids(context->maskIds, context->maskIds + context->maskCount);
        EXPECT_EQ(ids, c.ids) << '"' << c.text << '"';
    }
}

TEST_F(ConfigTest, AnUnreadableOrReadOnlySettingsFileIsLeftAsItWas) {
    const std::string path = WriteFile("Upgrade.ini", "[Config]\nPort=3\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    GetContext()->LoadConfig();
    g_comPort = 9;
    GetContext()->SaveConfig();
    EXPECT_EQ(ReadFile(path), "[Config]\nPort=3\n");
    chmod(path.c_str(), 0644);
}

TEST_F(ConfigTest, ModuleDirectoryEndsWithASeparator) {
    const std::string directory = GetModuleDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '/');
    SetConfigDirectory("");
    EXPECT_EQ(GetConfigPath(), directory + "Upgrade.ini");
    SetConfigDirectory(m_dir.Path());
    EXPECT_EQ(GetConfigPath(), m_dir.File("Upgrade.ini"));
}

}  // namespace
