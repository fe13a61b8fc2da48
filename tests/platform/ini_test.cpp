#include "platform/ini.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class IniTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Create("ini-test-"));
        m_path = m_dir.File("Upgrade.ini");
    }
    // The names in the directory, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(m_dir.Path().c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    PlatformPrivateDir m_dir;
    std::string m_path;
};

const char* const kSample =
    "; settings\r\n"
    "[config]\r\n"
    "PORT = 5\r\n"
    "Baud=57600abc\r\n"
    "Parity=\r\n"
    "Neg = -3\r\n"
    "Big=99999999999\r\n"
    "Text = \"  quoted  \"\r\n"
    "Plain =  spaced value  \r\n"
    "\r\n"
    "[Other]\r\n"
    "Port=9\r\n";

TEST_F(IniTest, ReadsValuesWithoutRegardToCase) {
    WriteFile(m_path, kSample);
    IniFile file;
    ASSERT_TRUE(file.Load(m_path));
    struct Case {
        const char* section;
        const char* key;
        int expected;
    } cases[] = {
        {"Config", "Port", 5},   {"CONFIG", "port", 5},     {"Config", "Baud", 57600},
        {"Config", "Parity", 0}, {"Config", "Neg", -3},     {"Config", "Big", 2147483647},
        {"Config", "Text", 0},   {"Config", "Missing", 77}, {"Other", "Port", 9},
        {"Nowhere", "Port", 77},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file.GetInt(c.section, c.key, 77), c.expected) << c.section << "/" << c.key;
    }
    EXPECT_EQ(file.GetString("Config", "Text", "d"), "  quoted  ");
    EXPECT_EQ(file.GetString("Config", "Plain", "d"), "spaced value");
    EXPECT_EQ(file.GetString("Config", "Parity", "d"), "");
    EXPECT_EQ(file.GetString("Config", "None", "d"), "d");
}

TEST_F(IniTest, MissingFileGivesDefaults) {
    IniFile file;
    EXPECT_FALSE(file.Load(m_path));
    EXPECT_EQ(file.GetInt("Config", "Port", 1), 1);
    EXPECT_EQ(IniReadString(m_path, "Config", "ChunkMask", ""), "");
    EXPECT_EQ(IniReadInt(m_path, "Config", "Baud", 115200), 115200);
}

TEST_F(IniTest, WritingChangesOnlyTheLineConcerned) {
    WriteFile(m_path, kSample);
    ASSERT_TRUE(IniWriteString(m_path, "CONFIG", "port", "7"));
    ASSERT_TRUE(IniWriteString(m_path, "Config", "Stop", "1"));
    std::string expected = kSample;
    expected.replace(expected.find("PORT = 5"), 8, "port=7");
    expected.replace(expected.find("\r\n\r\n[Other]"), 0, "\r\nStop=1");
    EXPECT_EQ(ReadFile(m_path), expected);
}

TEST_F(IniTest, WritingCreatesFileSectionAndKey) {
    ASSERT_TRUE(IniWriteString(m_path, "Config", "Port", "1"));
    ASSERT_TRUE(IniWriteString(m_path, "Config", "Baud", "115200"));
    EXPECT_EQ(ReadFile(m_path), "[Config]\nPort=1\nBaud=115200\n");

    WriteFile(m_path, "[Ports]\nCOM1=/dev/ttyS0");  // no line ending at the end
    ASSERT_TRUE(IniWriteString(m_path, "Config", "Port", "2"));
    EXPECT_EQ(ReadFile(m_path), "[Ports]\nCOM1=/dev/ttyS0\n[Config]\nPort=2\n");
    ASSERT_TRUE(IniWriteString(m_path, "Ports", "COM2", "/dev/ttyS1"));
    EXPECT_EQ(ReadFile(m_path), "[Ports]\nCOM1=/dev/ttyS0\nCOM2=/dev/ttyS1\n[Config]\nPort=2\n");
}

TEST_F(IniTest, ReadOnlyFileIsLeftAlone) {
    WriteFile(m_path, "[Config]\nPort=3\n");
    ASSERT_EQ(chmod(m_path.c_str(), 0444), 0);
    EXPECT_FALSE(IniWriteString(m_path, "Config", "Port", "4"));
    EXPECT_EQ(ReadFile(m_path), "[Config]\nPort=3\n");
    chmod(m_path.c_str(), 0644);
}

TEST_F(IniTest, SaveReplacesTheFileWholeAndKeepsModeAndLink) {
    std::string real = m_dir.File("real.ini");
    WriteFile(real, "[Config]\nWarningLevel=0\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink(real.c_str(), m_path.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(real.c_str(), &before), 0);

    ASSERT_TRUE(IniWriteString(m_path, "Config", "Port", "6"));

    struct stat link;
    ASSERT_EQ(lstat(m_path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    struct stat after;
    ASSERT_EQ(stat(real.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file was renamed over the old one
    EXPECT_EQ(ReadFile(real), "[Config]\nWarningLevel=0\nPort=6\n");
    // No temporary file is left beside it.
    EXPECT_EQ(Names(), (std::vector<std::string>{"Upgrade.ini", "real.ini"}));
}

}  // namespace
