// upgrade-cli from end to end, as a user runs it: the built program as a child process, the
// simulated STB on a pseudo-terminal, and what both show afterwards (the program's output and
// exit status, the simulator's flash and event log).
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/edition.h"
#include "platform/paths.h"
#include "tests/cli/cli_process.h"
#include "tests/support/pty_pair.h"
#include "tools/stbsim/stbsim.h"

namespace {

using stbsim::Bytes;
using stbsim::StbSimOptions;
using stbsim::StbSimServer;

constexpr unsigned kRunMs = 60000;

class CliEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.Create("cli-e2e-")); }

    StbSimServer& StartSim(StbSimOptions options = {}) {
        m_sim = std::make_unique<StbSimServer>(std::move(options));
        std::string error;
        EXPECT_TRUE(m_sim->Start(&error)) << error;
        m_initialFlash = m_sim->Flash();
        return *m_sim;
    }

    std::string WriteFile(const std::string& name, const std::string& contents) {
        const std::string path = m_dir.File(name);
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        return WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The global options for the simulator: its device, and settings of the test's own.
    std::vector<std::string> Args(std::vector<std::string> command) {
        std::vector<std::string> args = {"--device", m_sim->SlavePath(), "--config",
                                         WriteFile("settings.ini", "[Config]\r\n")};
        args.insert(args.end(), command.begin(), command.end());
        return args;
    }

    // This edition's way to write the whole firmware file.
    static std::vector<std::string> UpgradeCommand(const std::string& file) {
        if constexpr (kEdition200) {
            return {"upgrade", "--image", file};
        } else {
            return {"upgrade", file};
        }
    }
    static const char* DownloadStep() {
        return kEdition200 ? "Download All Chunk" : "Download Chunk:maincodeR1";
    }

    Bytes FirmwareFor(const StbSimOptions& options) {
        return stbsim::BuildFirmware(options.profile, true);
    }

    // Kinds of events, and command lines, that change the STB.
    std::vector<std::string> WritingEvents() const {
        std::vector<std::string> found;
        for (const stbsim::SimEvent& e : m_sim->Events()) {
            const bool writes = e.kind == "transfer" || e.kind == "move" || e.kind == "burn" ||
                                e.kind == "reboot" ||
                                (e.kind == "command" && e.text != "version" && e.text != "chunk");
            if (writes) {
                found.push_back(e.kind + " " + e.text);
            }
        }
        return found;
    }

    // Waits until the simulator has logged an event of `kind`.
    bool WaitForEvent(const std::string& kind, unsigned timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            for (const stbsim::SimEvent& e : m_sim->Events()) {
                if (e.kind == kind) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    PlatformPrivateDir m_dir;
    std::unique_ptr<StbSimServer> m_sim;
    Bytes m_initialFlash;
};

TEST_F(CliEndToEnd, InfoShowsTheStb) {
    StartSim();
    const CliResult r = RunCliProgram(Args({"info"}), kRunMs);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* part : {"Sync to serial port..\n", " Protocol version: 3.0\n",
                             "Boot loader version: RDX01BL_100203\n",
                             "Flash size: 1048576 bytes (1 MiB)\n", "maincodeR1", "userdb"}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    }
    EXPECT_EQ(r.out.find("You are running 5817B series") != std::string::npos, kEdition201);
    EXPECT_TRUE(WritingEvents().empty());
    EXPECT_EQ(r.err, "");
}

TEST_F(CliEndToEnd, UpgradeWritesTheFirmware) {
    StbSimOptions options;
    StartSim(options);
    const Bytes firmware = FirmwareFor(options);
    const CliResult r = RunCliProgram(Args(UpgradeCommand(WriteFile("fw.bin", firmware))), kRunMs);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Burn Flash, DO NOT power off!\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("Upgrade Success!\n")) << r.out;
    EXPECT_TRUE(m_sim->Violations().empty());

    // Every chunk that the firmware replaces now holds the firmware's bytes: in edition 2.0.1
    // the boot loader (the file's is newer) and the main code, the others moved as they were;
    // in edition 2.0.0 the whole image.
    const Bytes flash = m_sim->Flash();
    for (const stbsim::FlashChunk& chunk : stbsim::WalkFlash(firmware)) {
        const bool replaced = kEdition200 || chunk.id == 0xE3000010 || chunk.id == 0x01FE0100;
        const Bytes& expected = replaced ? firmware : m_initialFlash;
        const uint32_t end = chunk.offset + chunk.Slot();
        ASSERT_LE(end, flash.size());
        EXPECT_TRUE(std::equal(flash.begin() + chunk.offset, flash.begin() + end,
                               expected.begin() + chunk.offset,
                               expected.begin() + std::min<size_t>(end, expected.size())))
            << "chunk 0x" << std::hex << chunk.id;
    }
}

TEST_F(CliEndToEnd, RefusedFileWritesNothing) {
    StbSimOptions options;
    StartSim(options);
    const Bytes firmware = FirmwareFor(options);
    const std::string half(firmware.begin(), firmware.begin() + firmware.size() / 2);
    struct Case {
        std::vector<std::string> command;
        std::string message;  // how the output ends
    };
    std::vector<Case> cases;
    if constexpr (kEdition200) {
        // The logo's slot is 0x20000 bytes: a bare file must leave room for the header.
        cases = {
            {{"upgrade", "--chunk", "logo=" + WriteFile("big.m2v", std::string(0x20000, 'L'))},
             "Select File large than Slave chunk size \n Chunk size: 0x00020000\n"},
            {{"upgrade", "--image", WriteFile("empty.bin", "")}, ": the file is empty\n"},
            {{"upgrade", "--chunk", "maincodeR1=" + m_dir.File("missing.bin")},
             "missing.bin can not be opened.\n"},
        };
    } else {
        cases = {
            {{"upgrade", WriteFile("half.bin", half)}, "Wrong firmware\n"},
            {{"upgrade", WriteFile("empty.bin", "")}, ": the file is empty\n"},
            {{"upgrade", WriteFile("noise.bin", std::string(4096, '\x5A'))}, "Wrong firmware\n"},
        };
    }
    for (const Case& c : cases) {
        const CliResult r = RunCliProgram(Args(c.command), kRunMs);
        EXPECT_EQ(r.exitCode, 3) << c.command.back() << "\n" << r.out << r.err;
        EXPECT_TRUE(r.out.ends_with(c.message)) << c.command.back() << "\n" << r.out;
    }
    EXPECT_EQ(WritingEvents(), std::vector<std::string>{});
    EXPECT_EQ(m_sim->Flash(), m_initialFlash);
}

TEST_F(CliEndToEnd, StbFailureEndsWithItsText) {
    const struct {
        const char* command;
        uint32_t code;
        const char* text;
    } cases[] = {
        {"address", 0x10001, "STB set address  overflow!\n"},
        {"burn", 0x10004, "STB nothing can burn!\n"},
    };
    for (const auto& c : cases) {
        StbSimOptions options;
        options.faults.failCodes[c.command] = c.code;
        StartSim(options);
        const Bytes firmware = FirmwareFor(options);
        const CliResult r =
            RunCliProgram(Args(UpgradeCommand(WriteFile("fw.bin", firmware))), kRunMs);
        EXPECT_EQ(r.exitCode, 1) << c.command << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.text), std::string::npos) << c.command << "\n" << r.out;
        EXPECT_TRUE(r.out.ends_with("Upgrade Error\n")) << r.out;
        m_sim->Stop();
    }
}

TEST_F(CliEndToEnd, InterruptDuringTransferCancelsIt) {
    StbSimOptions options;
    options.baud = 115200;  // a real line's pace: the transfer lasts long past the signal
    StartSim(options);
    const Bytes firmware = FirmwareFor(options);
    CliProcess cli(Args(UpgradeCommand(WriteFile("fw.bin", firmware))));
    ASSERT_TRUE(cli.WaitForOutput(DownloadStep(), kRunMs));
    cli.Signal(SIGINT);
    const CliResult r = cli.Finish(kRunMs);
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("User canceled the operate"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("SIGINT: cancelling"), std::string::npos) << r.err;
    // The library told the STB with a status-4 packet, which ends the transfer there.
    EXPECT_TRUE(WaitForEvent("cancel", 5000));
    EXPECT_EQ(m_sim->Flash(), m_initialFlash);
}

TEST_F(CliEndToEnd, TerminateDuringHandshakeCancelsIt) {
    PtyPair silent;  // a line on which no STB ever answers
    ASSERT_TRUE(silent.ok());
    CliProcess cli({"--device", silent.slavePath(), "--config",
                    WriteFile("settings.ini", "[Config]\r\n"), "info"});
    ASSERT_TRUE(cli.WaitForOutput("Sync to serial port..\n", kRunMs));
    cli.Signal(SIGTERM);
    const CliResult r = cli.Finish(kRunMs);
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("User canceled the operate"), std::string::npos) << r.out;
}

TEST_F(CliEndToEnd, InterruptDuringTheBurnDoesNotStopIt) {
    StbSimOptions options;
    options.timing.burnStepMs = 150;  // about 2.4 s for the whole flash
    StartSim(options);
    const Bytes firmware = FirmwareFor(options);
    CliProcess cli(Args(UpgradeCommand(WriteFile("fw.bin", firmware))));
    ASSERT_TRUE(cli.WaitForOutput("Burn Flash, DO NOT power off!", kRunMs));
    cli.Signal(SIGINT);
    const CliResult r = cli.Finish(kRunMs);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot be interrupted"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.ends_with("Upgrade Success!\n")) << r.out;
    EXPECT_EQ(m_sim->RebootCount(), 1u);
    EXPECT_NE(m_sim->Flash(), m_initialFlash);
}

TEST_F(CliEndToEnd, DumpEqualsTheFlash) {
    if constexpr (kEdition201) {
        GTEST_SKIP() << "edition 2.0.1 has no dump";
    }
    StartSim();
    const std::string whole = m_dir.File("flash.bin");
    CliResult r = RunCliProgram(Args({"dump", whole}), kRunMs);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(r.out.ends_with("Dump Success!\n")) << r.out;
    EXPECT_EQ(ReadFile(whole), std::string(m_initialFlash.begin(), m_initialFlash.end()));

    // A chunk by name and one by id: their payloads (the boot loader whole).
    const std::string logo = m_dir.File("logo.m2v"), boot = m_dir.File("boot.abs");
    r = RunCliProgram(Args({"dump", "--chunk", "logo=" + logo, "E3000010=" + boot}), kRunMs);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<stbsim::FlashChunk> chunks = stbsim::WalkFlash(m_initialFlash);
    ASSERT_GE(chunks.size(), 3u);
    const auto flashText = [&](uint32_t from, uint32_t size) {
        return std::string(m_initialFlash.begin() + from, m_initialFlash.begin() + from + size);
    };
    EXPECT_EQ(ReadFile(boot), flashText(0, chunks[0].Slot()));
    EXPECT_EQ(ReadFile(logo), flashText(chunks[2].offset + 128, chunks[2].Slot() - 128));
}

TEST_F(CliEndToEnd, ChunkTheStbDoesNotOfferIsAUsageError) {
    if constexpr (kEdition201) {
        GTEST_SKIP() << "edition 2.0.1 names no chunks";
    }
    StartSim();
    // The logo is masked by the settings, so the select page would not list it.
    const std::string settings = WriteFile("masked.ini", "[Config]\r\nChunkMask=0x02FD0100,\r\n");
    const std::string file = m_dir.File("out.bin");
    for (const char* chunk : {"nosuch", "logo", "0x02FD0100"}) {
        const CliResult r = RunCliProgram({"--device", m_sim->SlavePath(), "--config", settings,
                                           "dump", "--chunk", std::string(chunk) + "=" + file},
                                          kRunMs);
        EXPECT_EQ(r.exitCode, 2) << chunk << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(chunk), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(WritingEvents(), std::vector<std::string>{});
}

TEST_F(CliEndToEnd, UsageErrorsTouchNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"flash"},
        {"--port", "99", "info"},
        {"--parity", "2", "info"},
        {kEdition200 ? "upgrade" : "dump", "file.bin"},
        {"--config", m_dir.File("missing.ini"), "info"},
    };
    for (const auto& args : cases) {
        const CliResult r = RunCliProgram(args, kRunMs);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]) << "\n" << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("upgrade-cli: ")) << r.err;
    }
    CliResult r = RunCliProgram({"--version"}, kRunMs);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find(kEditionText), 12u) << r.out;
    r = RunCliProgram({"--help"}, kRunMs);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.starts_with("Usage: upgrade-cli")) << r.out;
}

TEST_F(CliEndToEnd, SettingsFileIsReadAndNeverWritten) {
    StartSim();
    // The port comes from the settings file and stands for the simulator's device there.
    const std::string settings =
        "[Config]\r\nPort=7\r\nBaud=57600\r\n[Ports]\r\nCOM7=" + m_sim->SlavePath() + "\r\n";
    const std::string path = WriteFile("Upgrade.ini", settings);
    const CliResult r = RunCliProgram({"--config", path, "--parity", "none", "info"}, kRunMs);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(path), settings);
}

TEST_F(CliEndToEnd, MissingDeviceIsNamed) {
    const CliResult r = RunCliProgram({"--device", m_dir.File("ttyNone"), "--config",
                                       WriteFile("settings.ini", "[Config]\r\n"), "info"},
                                      kRunMs);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Can not connect serial port!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ttyNone: no such device"), std::string::npos) << r.err;
}

}  // namespace
