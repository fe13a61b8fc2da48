// What upgrade-cli prints: texts made safe for a terminal, the log's lines, the info report, the
// progress line and the chunk names of the command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/chunk_choice.h"
#include "cli/console_text.h"
#include "cli/progress.h"
#include "platform/edition.h"

namespace {

void SetText(char (&field)[16], const char* text) {
    std::memset(field, 0xFF, sizeof field);
    std::strncpy(field, text, 15);
    field[std::strlen(text) < 15 ? std::strlen(text) : 15] = '\0';
}

ChunkInfo Entry(uint32_t id, const char* name, const char* version, uint32_t length, uint32_t next,
                uint32_t crc) {
    ChunkInfo c{};
    c.id = id;
    c.length = length;
    c.next = next;
    c.crc = crc;
    SetText(c.name, name);
    SetText(c.version, version);
    SetText(c.extra, "");
    return c;
}

// A small table like an RDX01 box: boot loader, main code, logo, user database.
ChunkTable Table() {
    ChunkTable t{};
    t.flashSize = 0x100000;
    t.count = 4;
    t.entries[0] = Entry(0xE3000010, "bootloader", "RDX01BL_100203", 0x9F70, 0x10000, CHUNK_NO_CRC);
    t.entries[1] = Entry(0x01FE0100, "maincodeR1", "1.0.3", 0x99BC9, 0xC0000, 0x9F1454E8);
    t.entries[2] = Entry(0x02FD0100, "logo", "1", 0x10170, 0x20000, 0x56CD223A);
    t.entries[3] = Entry(0x04FB0100, "userdb", "1", 0x2F70, 0, CHUNK_NO_CRC);
    return t;
}

TEST(CliText, TerminalTextKeepsLinesAndDefusesControls) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"Rebooting", "Rebooting"},
        {"\r\n->Warning:download packet:3 Error! Retry.",
         "\n->Warning:download packet:3 Error! Retry."},
        {"Time out when read data!\r\n", "Time out when read data!\n"},
        {"a\rb", "a\\x0Db"},              // a lone CR would overwrite the line
        {"\x1b[2Jlogo", "\\x1B[2Jlogo"},  // a chunk name may not drive the terminal
        {"We can\xB4t auto detect", "We can\xC2\xB4t auto detect"},  // Latin-1 to UTF-8
        {std::string("x\0y", 3), "x\\x00y"},
        {"\x9B"
         "31m",
         "\\x9B31m"},  // C1 controls too
        {"tab\tkept", "tab\tkept"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalText(c.in), c.out) << c.in;
    }
}

// The wizard's two logs: the connect page ends each status text with a line break, the process
// page begins each but the first with one; log texts are appended as they are on both.
TEST(CliText, StatusAndLogTextsJoinAsTheWizardsLogsShowThem) {
    struct Case {
        LogText::Page page;
        const char* expected;
    } cases[] = {
        {LogText::Page::kConnect,
         "Please power on your STB.\n"
         "Open Serial Port..\n"
         "Can not connect serial port!\n"
         ".OK\n->Warning:dump packet:1 Error! Retry.Sync to serial port..\n"
         "Upgrade Error\n"
         "tail\n"},
        {LogText::Page::kProcess,
         "Please power on your STB.\n"
         "Open Serial Port..Can not connect serial port!\n"
         ".OK\n->Warning:dump packet:1 Error! Retry.\n"
         "Sync to serial port..\n"
         "Upgrade Error\n"
         "tail\n"},
    };
    for (const Case& c : cases) {
        LogText log;
        std::string out = log.Line("Title");  // a line of the program's own before the task
        log.Begin(c.page);
        out += log.Status("Please power on your STB.");
        out += log.Status("Open Serial Port..");
        out += log.Log("Can not connect serial port!\r\n");
        out += log.Log(".");
        out += log.Log("OK");
        out += log.Log("\r\n->Warning:dump packet:1 Error! Retry.");
        out += log.Status("Sync to serial port..");
        out += log.Finish();
        out += log.Line("Upgrade Error");
        out += log.Log("tail");
        out += log.Finish();
        out += log.Finish();  // nothing more: the line is closed
        EXPECT_EQ(out, std::string("Title\n") + c.expected) << static_cast<int>(c.page);
    }
    // A task's first text starts a line of its own; the process page's second status after a
    // log text that ended its line leaves a blank line, as the wizard's log does.
    LogText log;
    log.Begin(LogText::Page::kProcess);
    std::string out = log.Log("->open");
    log.Begin(LogText::Page::kProcess);
    out += log.Status("Send Address..");
    out += log.Log("Time out when read data!\r\n");
    out += log.Status("Rebooting");
    out += log.Finish();
    EXPECT_EQ(out, "->open\nSend Address..Time out when read data!\n\nRebooting\n");
}

TEST(CliText, TitleAsTheSheetShowsIt) {
    const std::string banner = TitleBanner();
    EXPECT_EQ(FormatTitle(0x30), banner + " Protocol version: 3.0");
    EXPECT_EQ(FormatTitle(0x21), banner + " Protocol version: 2.1");
    EXPECT_EQ(FormatTitle(0), banner);
}

TEST(CliText, InfoReportsTheTable) {
    ChunkTable table = Table();
    table.entries[2].masked = 1;
    const std::string info = FormatInfo(table, 0x30, "RDX01BL_100203");
    for (const char* part :
         {" Protocol version: 3.0\n", "Boot loader version: RDX01BL_100203\n",
          "Flash size: 1048576 bytes (1 MiB)\n",
          "0      0xE3000010  bootloader       RDX01BL_100203   0x00009F70  0x00010000  none",
          "2      0x02FD0100  logo             1                0x00010170  0x00020000  "
          "0x56CD223A  yes\n",
          "3      0x04FB0100  userdb"}) {
        EXPECT_NE(info.find(part), std::string::npos) << part << "\nin\n" << info;
    }
    EXPECT_EQ(info.find("You are running 5817B series") != std::string::npos, kEdition201) << info;
    EXPECT_EQ(FormatFlashSize(0), "unknown");
    EXPECT_EQ(FormatFlashSize(0x80000), "524288 bytes (512 KiB)");
}

TEST(CliText, InfoSurvivesAHostileTable) {
    ChunkTable table = Table();
    std::memset(table.entries[1].name, 'A', 16);  // no terminator at all
    table.entries[2].name[0] = '\x1b';
    std::string info = FormatInfo(table, 0x30, "RDX01BL_100203");
    EXPECT_NE(info.find("AAAAAAAAAAAAAAAA "), std::string::npos) << info;
    EXPECT_EQ(info.find('\x1b'), std::string::npos);
    table.count = 1000;  // more than the table holds: no entry is printed, nothing is read
    info = FormatChunkTable(table);
    EXPECT_EQ(info.find("bootloader"), std::string::npos) << info;
}

TEST(CliChunks, NamesAndIdsOfTheCommandLine) {
    ChunkTable table = Table();
    table.entries[3].id = 0x00000ABC;
    SetText(table.entries[3].name, "abc");  // a name that reads as hexadecimal
    const struct {
        const char* text;
        int index;
    } cases[] = {
        {"logo", 2}, {"0x02FD0100", 2},   {"02fd0100", 2},   {"0XE3000010", 0},
        {"abc", 3},  {"0xabc", 3},        {"bootloade", -1}, {"LOGO", -1},
        {"0x", -1},  {"0x123456789", -1}, {"0xE300001", -1},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(ResolveChunk(table, c.text, &error), c.index) << c.text;
        EXPECT_EQ(error.empty(), c.index >= 0) << c.text << ": " << error;
    }
    SetText(table.entries[2].name, "userdb");
    SetText(table.entries[3].name, "userdb");
    std::string error;
    EXPECT_EQ(ResolveChunk(table, "userdb", &error), -1);
    EXPECT_NE(error.find("several"), std::string::npos) << error;
}

TEST(CliProgress, LineShowsStepPercentAndRate) {
    EXPECT_EQ(FormatProgressLine("Download Chunk:logo", 50, 11520, 79),
              "[##########          ]  50%    11520 B/s  Download Chunk:logo");
    EXPECT_EQ(FormatProgressLine("Sync to serial port..", 0, -1, 79),
              "[                    ]   0%  Sync to serial port..");
    EXPECT_EQ(FormatProgressLine("x", 250, -1, 79), "[####################] 100%  x");
    const std::string cut = FormatProgressLine("Dump Chunk: \xE9t\xE9 ", 5, -1, 33);
    EXPECT_EQ(cut, "[#                   ]   5%  Dump");
    EXPECT_EQ(FormatProgressLine("Dump Chunk: \xE9t\xE9", 5, -1, 36),
              "[#                   ]   5%  Dump Ch");
    EXPECT_EQ(FormatProgressLine("\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9", 0, -1, 31),
              "[                    ]   0%  \xC3\xA9\xC3\xA9");
}

TEST(CliProgress, RateFromThePlannedBytes) {
    ProgressLine line(
        {{"Download Chunk:maincodeR1", 0xC0000}, {"Burn Flash, DO NOT power off!", 1000}});
    EXPECT_FALSE(line.Visible());
    line.Step("Move Chunk:bootloader", 0);  // not planned: no rate
    line.Percent(40, 1000);
    EXPECT_EQ(line.Render(79).find("B/s"), std::string::npos);
    // The clock starts with the step's first percentage, not with its status text: the task
    // pauses and compresses in between.
    line.Step("Download Chunk:maincodeR1", 1000);
    line.Percent(0, 4000);
    line.Percent(50, 6000);  // 0x60000 bytes in 2 s
    EXPECT_NE(line.Render(79).find(" 196608 B/s"), std::string::npos) << line.Render(79);
    line.Step("Burn Flash, DO NOT power off!", 7000);
    line.Percent(20, 7000);
    line.Percent(100, 7400);  // 800 bytes in 0.4 s
    EXPECT_NE(line.Render(79).find("   2000 B/s"), std::string::npos) << line.Render(79);
}

TEST(CliProgress, PlanFollowsTheRecords) {
    const ChunkTable table = Table();
    CUpgradeContext context;
    context.operation = 0;
    FileRecord* main = context.ChunkRecord(1);
    FileRecord* userdb = context.ChunkRecord(3);
    ASSERT_NE(main, nullptr);
    ASSERT_NE(userdb, nullptr);
    main->path = "fw.bin";
    main->length = 0xC0000;
    userdb->path = "fw.bin";
    userdb->length = 0x2F80;
    std::vector<StepSize> plan = PlanStepSizes(context, table);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].status, "Download Chunk:maincodeR1");
    EXPECT_EQ(plan[0].bytes, 0xC0000u);
    EXPECT_EQ(plan[1].status, "Download Chunk:userdb");
    EXPECT_EQ(plan[1].bytes, 0x2F70u + 16);  // the last chunk's slot
    EXPECT_EQ(plan[2].status, "Burn Flash, DO NOT power off!");
    EXPECT_EQ(plan[2].bytes, 0xC0000u + 0xC0000 + 0x2F80 + 0x2F80);

    context.operation = 1;
    plan = PlanStepSizes(context, table);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].status, "Dump Chunk: maincodeR1 ");
    EXPECT_EQ(plan[0].bytes, 0xC0000u - 128);
}

}  // namespace
