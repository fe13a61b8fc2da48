// The command line of upgrade-cli: what is accepted in each edition, and what is a usage error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "library/link/upgrade.h"
#include "platform/edition.h"

namespace {

CliParseResult Parse(const std::vector<std::string>& args) {
    return ParseCommandLine(args);
}

TEST(CliOptions, GlobalOptionsInBothSpellings) {
    CliParseResult r = Parse(
        {"--device", "/dev/ttyUSB3", "--baud=57600", "--parity", "odd", "--config=my.ini", "info"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.device, "/dev/ttyUSB3");
    EXPECT_EQ(r.options.port, 0);
    EXPECT_EQ(r.options.baud, 57600);
    EXPECT_EQ(r.options.parity, COM_PARITY_ODD);
    EXPECT_EQ(r.options.config, "my.ini");
    EXPECT_EQ(r.options.command, CliCommand::kInfo);

    r = Parse({"--port", "32", "info"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.port, 32);
    EXPECT_EQ(r.options.baud, 0);     // not given: the settings file's value stays
    EXPECT_EQ(r.options.parity, -1);  // likewise
}

TEST(CliOptions, ParityNamesAndCodes) {
    const struct {
        const char* name;
        int code;
    } cases[] = {{"none", COM_PARITY_NONE},
                 {"odd", COM_PARITY_ODD},
                 {"even", COM_PARITY_EVEN},
                 {"mark", COM_PARITY_MARK},
                 {"space", COM_PARITY_SPACE}};
    for (const auto& c : cases) {
        EXPECT_EQ(ParseParityName(c.name), c.code) << c.name;
        EXPECT_STREQ(ParityName(c.code), c.name);
    }
    EXPECT_EQ(ParseParityName("EVEN"), -1);
    EXPECT_EQ(ParseParityName("2"), -1);
}

TEST(CliOptions, HelpAndVersionStandAlone) {
    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_TRUE(Parse({"--version"}).options.version);
    EXPECT_FALSE(Parse({"--help", "info"}).ok);
    EXPECT_FALSE(Parse({"--version=1"}).ok);
    const std::string version = VersionText();
    EXPECT_NE(version.find(kEditionText), std::string::npos) << version;
    EXPECT_NE(version.find(UpgGetLibraryVersion()), std::string::npos) << version;
}

TEST(CliOptions, UsageErrorsOfEveryEdition) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--bogus", "info"},
        {"--device"},
        {"--device", "", "info"},
        {"--device", "/dev/a", "--port", "2", "info"},
        {"--port", "0", "info"},
        {"--port", "33", "info"},
        {"--port", "-1", "info"},
        {"--port", "1x", "info"},
        {"--baud", "0", "info"},
        {"--baud", "99999999999", "info"},
        {"--baud", "1", "--baud", "2", "info"},
        {"--parity", "sometimes", "info"},
        {"info", "extra"},
        {"info", "--baud", "9600"},  // options come before the command
        {"upgrade"},
    };
    for (const auto& args : cases) {
        const CliParseResult r = Parse(args);
        std::string joined;
        for (const std::string& a : args) {
            joined += "[" + a + "]";
        }
        EXPECT_FALSE(r.ok) << joined;
        EXPECT_FALSE(r.error.empty()) << joined;
    }
}

TEST(CliOptions, CommandsOfThisEdition) {
    if constexpr (kEdition201) {
        CliParseResult r = Parse({"upgrade", "fw.bin"});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.command, CliCommand::kUpgrade);
        EXPECT_EQ(r.options.target, CliTarget::kFirmware);
        EXPECT_EQ(r.options.file, "fw.bin");
        // The 2.0.0 commands are usage errors here.
        for (const auto& args :
             std::vector<std::vector<std::string>>{{"dump", "flash.bin"},
                                                   {"upgrade", "--image", "a.bin"},
                                                   {"upgrade", "--image-no-boot", "a.bin"},
                                                   {"upgrade", "--chunk", "logo=a.m2v"},
                                                   {"upgrade", "fw.bin", "more.bin"}}) {
            EXPECT_FALSE(Parse(args).ok) << args[0] << " " << args[1];
        }
    } else {
        CliParseResult r = Parse({"upgrade", "--image-no-boot", "img.abs"});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.target, CliTarget::kImageNoBootLoader);
        EXPECT_EQ(r.options.file, "img.abs");

        r = Parse({"upgrade", "--chunk", "logo=l.m2v", "0x04FB0100=u.udf", "--chunk=e3000010=b"});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.target, CliTarget::kChunks);
        ASSERT_EQ(r.options.chunks.size(), 3u);
        EXPECT_EQ(r.options.chunks[0].chunk, "logo");
        EXPECT_EQ(r.options.chunks[0].file, "l.m2v");
        EXPECT_EQ(r.options.chunks[1].chunk, "0x04FB0100");
        EXPECT_EQ(r.options.chunks[2].file, "b");

        r = Parse({"dump", "flash.bin"});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.command, CliCommand::kDump);
        EXPECT_EQ(r.options.target, CliTarget::kImage);

        r = Parse({"dump", "--chunk", "maincode=m.bin"});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.target, CliTarget::kChunks);

        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"upgrade", "fw.bin"},  // 2.0.1's form
                 {"upgrade", "--image", "a", "--image-no-boot", "b"},
                 {"upgrade", "--image", "a", "--chunk", "logo=b"},
                 {"upgrade", "--chunk", "logo"},
                 {"upgrade", "--chunk", "=file"},
                 {"upgrade", "--chunk", "logo="},
                 {"upgrade", "--chunk", "logo=a", "logo=b"},
                 {"dump"},
                 {"dump", "a", "b"},
                 {"dump", "a", "--chunk", "logo=b"},
                 {"dump", "--image", "a"}}) {
            EXPECT_FALSE(Parse(args).ok) << args[0] << " " << args[1];
        }
    }
}

TEST(CliOptions, UsageNamesOnlyThisEditionsCommands) {
    const std::string usage = UsageText();
    EXPECT_NE(usage.find("info"), std::string::npos);
    EXPECT_EQ(usage.find("dump FILE") != std::string::npos, kEdition200) << usage;
    EXPECT_EQ(usage.find("upgrade FIRMWARE") != std::string::npos, kEdition201) << usage;
}

}  // namespace
