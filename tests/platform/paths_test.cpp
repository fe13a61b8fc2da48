#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Sets TMPDIR for one test and puts the old value back.
class TmpDirOverride {
  public:
    explicit TmpDirOverride(const char* value) {
        if (const char* old = std::getenv("TMPDIR")) {
            m_had = true;
            m_old = old;
        }
        if (value) {
            setenv("TMPDIR", value, 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    ~TmpDirOverride() {
        if (m_had) {
            setenv("TMPDIR", m_old.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

  private:
    bool m_had = false;
    std::string m_old;
};

}  // namespace

TEST(PathsTest, ProgramDirectoryHoldsThisTestProgram) {
    std::string dir = PlatformProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ('/', dir.front());
    EXPECT_TRUE(Exists(PlatformJoinPath(dir, "platform_paths_test")));
}

TEST(PathsTest, TemporaryDirectoryComesFromTmpdirElseTmp) {
    {
        TmpDirOverride set("/var/tmp");
        EXPECT_EQ("/var/tmp", PlatformTempDirectory());
    }
    {
        TmpDirOverride empty("");
        EXPECT_EQ("/tmp", PlatformTempDirectory());
    }
    {
        TmpDirOverride unset(nullptr);
        EXPECT_EQ("/tmp", PlatformTempDirectory());
    }
}

TEST(PathsTest, JoinUsesOneSeparator) {
    EXPECT_EQ("a/b", PlatformJoinPath("a", "b"));
    EXPECT_EQ("a/b", PlatformJoinPath("a/", "b"));
    EXPECT_EQ("b", PlatformJoinPath("", "b"));
}

TEST(PathsTest, PrivateDirIsOwnerOnlyAndRemovesItselfAndItsFiles) {
    char base[] = "/tmp/paths-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(base));
    TmpDirOverride set(base);
    std::string path;
    {
        PlatformPrivateDir dir;
        ASSERT_TRUE(dir.Create("upg-"));
        path = dir.Path();
        EXPECT_EQ(0u, path.rfind(std::string(base) + "/upg-", 0));
        struct stat info {};
        ASSERT_EQ(0, stat(path.c_str(), &info));
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(0700u, info.st_mode & 0777u);
        std::ofstream(dir.File("temp.in")) << "x";
        std::ofstream(dir.File("temp.7z")) << "y";
        EXPECT_TRUE(Exists(dir.File("temp.in")));
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(0, rmdir(base));  // nothing else was left behind
}

TEST(PathsTest, PrivateDirFailsCleanlyWhenTheTemporaryDirectoryIsMissing) {
    TmpDirOverride set("/nonexistent-dir-for-paths-test");
    PlatformPrivateDir dir;
    EXPECT_FALSE(dir.Create("upg-"));
    EXPECT_TRUE(dir.Path().empty());
}
