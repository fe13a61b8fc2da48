#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/link/serial_port.h"
#include "tasks/upgrade_task.h"
#include "tests/tasks/sim_fixture.h"

namespace {

using stbsim::Bytes;

class UpgradeTaskTest : public SimTaskTest {
  protected:
    // Connects to a gen30 STB (four chunks: boot loader 0x4000, main code 0x8000, logo 0x2000,
    // user database last) and keeps its factory flash.
    void ConnectTo(const stbsim::StbFaults& faults = {}) {
        ASSERT_TRUE(stbsim::BuiltinProfile("gen30", &m_profile));
        StartSim("gen30", faults);
        m_flash = m_sim->Flash();
        ASSERT_TRUE(Connect());
        ASSERT_EQ(g_chunkTable.count, 4u);
    }
    // Runs the upgrade or dump task to its end and returns its messages.
    std::vector<PostedMessage> Run() {
        EXPECT_EQ(StartUpgradeTask(), 1);
        std::vector<PostedMessage> messages = CollectUntil(WM_UPGRADE_DONE, 120000);
        EXPECT_TRUE(WaitForWorker(10000));
        EXPECT_FALSE(TheSerialPort().IsOpen());
        return messages;
    }
    // The flash commands the STB executed, in order ("transfer" stands for either form).
    std::vector<std::string> FlashCommands() const {
        std::vector<std::string> commands;
        for (const stbsim::SimEvent& e : m_sim->Events()) {
            if (e.kind != "command") {
                continue;
            }
            const std::string word = e.text.substr(0, e.text.find(' '));
            if (word == "transfer") {
                commands.push_back(word);
            } else if (word == "address" || word == "move" || word == "burn" || word == "reboot") {
                commands.push_back(e.text);
            }
        }
        return commands;
    }
    static std::string Str(const Bytes& bytes, size_t from, size_t count) {
        return std::string(bytes.begin() + static_cast<long>(from),
                           bytes.begin() + static_cast<long>(from + count));
    }
    stbsim::StbProfile m_profile;
    Bytes m_flash;
};

TEST_F(UpgradeTaskTest, ChunkModeSendsEachSelectedSlotAsBuiltAndMovesTheOthers) {
    ConnectTo();
    const Bytes firmware = stbsim::BuildFirmware(m_profile, false);
    const std::string image = WriteFile("firmware.bin", Str(firmware, 0, firmware.size()));
    const std::string userdb(0x200, '\x5A');
    const std::string bare = WriteFile("user.udf", userdb);
    *GetContext()->ChunkRecord(1) = FileRecord{image, 0x4000, 0x8000, 1};
    *GetContext()->ChunkRecord(3) = FileRecord{bare, 0, 0x200, 0};

    std::vector<PostedMessage> messages = Run();
    ASSERT_EQ(messages.back().wParam, 0u) << Texts(messages, WM_TASK_LOG).back();
    EXPECT_EQ(messages.back().lParam, 0);

    EXPECT_EQ(FlashCommands(),
              (std::vector<std::string>{"address 0", "move 3808428048 16384", "transfer",
                                        "move 50135296 8192", "transfer", "burn", "reboot"}));
    EXPECT_EQ(g_burnTotal, 0x8000 + 0x200 + 0x8000 + 0x380);
    // The flash now holds the boot loader and logo as they were, the main code from the
    // image, and the user database behind the STB's own header, 0xFF up to its slot.
    Bytes expected = m_flash;
    std::copy(firmware.begin() + 0x4000, firmware.begin() + 0xC000, expected.begin() + 0x4000);
    std::fill(expected.begin() + 0xE000 + 128, expected.begin() + 0xE380, 0xFF);
    std::copy(userdb.begin(), userdb.end(), expected.begin() + 0xE000 + 128);
    EXPECT_TRUE(m_sim->Flash() == expected);

    std::vector<std::string> status = Texts(messages, WM_TASK_STATUS);
    const std::vector<std::string> tail = {
        "Send Address..",  "Move Chunk:bootloader", "Download Chunk:maincodeR1",
        "Move Chunk:logo", "Download Chunk:userdb", "Burn Flash, DO NOT power off!"};
    std::vector<std::string> expectedTail = tail;
    if (kEdition201) {
        expectedTail.push_back("Rebooting");
    }
    ASSERT_GE(status.size(), expectedTail.size());
    EXPECT_EQ(std::vector<std::string>(status.end() - static_cast<long>(expectedTail.size()),
                                       status.end()),
              expectedTail);
    EXPECT_NE(Find(messages, WM_BURN_BEGIN), nullptr);
}

TEST_F(UpgradeTaskTest, WholeImageModes) {
    struct Case {
        int record;
        unsigned address;  // where the image's bytes land; edition 2.0.0's second whole-image
                           // row leaves the boot loader's slot out
    };
    std::vector<Case> cases = {{kRecordAllChunks, 0}};
    if (kEdition200) {
        cases.push_back({kRecordAllChunksNoBootLoader, 0x4000});
    }
    for (const Case& c : cases) {
        ConnectTo();
        CollectQueued();
        const Bytes firmware = stbsim::BuildFirmware(m_profile, true);
        CUpgradeContext* context = GetContext();
        for (FileRecord& record : context->files) {
            record = FileRecord();
        }
        context->files[c.record].path = WriteFile("all.bin", Str(firmware, 0, firmware.size()));
        std::vector<PostedMessage> messages = Run();
        ASSERT_EQ(messages.back().wParam, 0u) << c.record;
        EXPECT_EQ(FlashCommands(), (std::vector<std::string>{"address " + std::to_string(c.address),
                                                             "transfer", "burn", "reboot"}))
            << c.record;
        EXPECT_EQ(g_burnTotal, static_cast<int>(firmware.size() - c.address));
        Bytes expected = m_flash;
        std::copy(firmware.begin() + c.address, firmware.end(), expected.begin() + c.address);
        EXPECT_TRUE(m_sim->Flash() == expected) << c.record;
        m_sim->Stop();
    }
}

TEST_F(UpgradeTaskTest, AnImageLargerThanTheFlashIsRefusedUnsent) {
    g_chunkTable.count = 1;
    g_chunkTable.flashSize = 0x100;
    g_chunkTable.entries[0].next = 0x80;
    const std::string image = WriteFile("all.bin", std::string(0x101, '\x22'));
    EXPECT_EQ(DownloadWholeImage(image, 1), UPG_STB_NO_BUFFER);
    EXPECT_EQ(DownloadWholeImage(image, 0),
              UPG_STB_NO_BUFFER);  // 0x81 bytes from 0x80: past the flash
    EXPECT_EQ(DownloadWholeImage(WriteFile("short.bin", std::string(0x80, 'x')), 0),
              UPG_ERR_READ_FILE_DATA);  // nothing after the boot loader's slot
    EXPECT_EQ(DownloadWholeImage(m_dir.File("missing.bin"), 1), UPG_ERR_FILE_NOT_OPEN);
}

TEST_F(UpgradeTaskTest, AMoveRefusedByTheStbStopsBeforeTheBurn) {
    stbsim::StbFaults faults;
    faults.failCodes["move"] = 0x10003;
    ConnectTo(faults);
    const Bytes firmware = stbsim::BuildFirmware(m_profile, false);
    *GetContext()->ChunkRecord(1) =
        FileRecord{WriteFile("firmware.bin", Str(firmware, 0, firmware.size())), 0x4000, 0x8000, 1};

    std::vector<PostedMessage> messages = Run();
    EXPECT_EQ(messages.back().wParam, 1u);
    EXPECT_EQ(FlashCommands(), (std::vector<std::string>{"address 0", "move 3808428048 16384"}));
    EXPECT_EQ(Texts(messages, WM_TASK_LOG).back(), "STB chunk not found!\r\n");
    EXPECT_EQ(Find(messages, WM_BURN_BEGIN), nullptr);
    EXPECT_TRUE(m_sim->Flash() == m_flash);
}

TEST_F(UpgradeTaskTest, AFailedBurnStillReboots) {
    stbsim::StbFaults faults;
    faults.burnError = true;
    ConnectTo(faults);
    const Bytes firmware = stbsim::BuildFirmware(m_profile, false);
    *GetContext()->ChunkRecord(1) =
        FileRecord{WriteFile("firmware.bin", Str(firmware, 0, firmware.size())), 0x4000, 0x8000, 1};

    std::vector<PostedMessage> messages = Run();
    EXPECT_EQ(messages.back().wParam, 1u);
    std::vector<std::string> commands = FlashCommands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands.back(), "reboot");
    EXPECT_EQ(m_sim->RebootCount(), 1u);
    std::vector<std::string> status = Texts(messages, WM_TASK_STATUS);
    EXPECT_EQ(status.back(), kEdition201 ? "Rebooting" : "Burn Flash, DO NOT power off!");
}

// A Cancel that comes once nothing can be stopped any more (here as the burn begins) does not
// turn a finished upgrade into a cancelled one: the outcome is reported as it is.
TEST_F(UpgradeTaskTest, ACancelTooLateToStopAnythingLeavesTheOutcomeToShow) {
    stbsim::StbFaults faults;
    faults.replyDelayMs = 50;  // the burn's answer leaves well after the burn begins
    ConnectTo(faults);
    const Bytes firmware = stbsim::BuildFirmware(m_profile, false);
    *GetContext()->ChunkRecord(1) =
        FileRecord{WriteFile("firmware.bin", Str(firmware, 0, firmware.size())), 0x4000, 0x8000, 1};

    ASSERT_EQ(StartUpgradeTask(), 1);
    std::vector<PostedMessage> before = CollectUntil(WM_BURN_BEGIN, 120000);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(before.back().message, WM_BURN_BEGIN);
    g_cancelRequested = 1;
    std::vector<PostedMessage> after = CollectUntil(WM_UPGRADE_DONE, 120000);
    EXPECT_TRUE(WaitForWorker(10000));
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back().message, WM_UPGRADE_DONE);
    EXPECT_EQ(after.back().wParam, 0u);
    EXPECT_EQ(after.back().lParam, 0);
    EXPECT_EQ(m_sim->RebootCount(), 1u);
}

TEST_F(UpgradeTaskTest, DataLargerThanTheSlotAreRefusedUnsent) {
    ConnectTo();
    const std::string tooLarge(0x2000 - 128 + 1, '\x11');  // header + data one byte over
    *GetContext()->ChunkRecord(2) =
        FileRecord{WriteFile("logo.m2v", tooLarge), 0, static_cast<int>(tooLarge.size()), 0};
    std::vector<PostedMessage> messages = Run();
    EXPECT_EQ(messages.back().wParam, 1u);
    EXPECT_EQ(Texts(messages, WM_TASK_LOG).back(), "STB not enough buffer!\r\n");
    EXPECT_EQ(FlashCommands(), (std::vector<std::string>{"address 0", "move 3808428048 16384",
                                                         "move 33423616 32768"}));
}

TEST_F(UpgradeTaskTest, DumpsEqualTheFlash) {
    ConnectTo();
    CUpgradeContext* context = GetContext();
    context->operation = 1;
    const std::string whole = m_dir.File("flash.bin");
    context->files[kRecordAllChunks].path = whole;
    std::vector<PostedMessage> messages = Run();
    ASSERT_EQ(messages.back().wParam, 0u);
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS).back(), "Dump All Chunk");
    EXPECT_EQ(ReadFile(whole), Str(m_flash, 0, m_flash.size()));

    context->files[kRecordAllChunks].path.clear();
    const std::string main = m_dir.File("main.bin");
    const std::string boot = m_dir.File("boot.abs");
    context->ChunkRecord(0)->path = boot;
    context->ChunkRecord(1)->path = main;
    messages = Run();
    ASSERT_EQ(messages.back().wParam, 0u);
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS).back(), "Dump Chunk: maincodeR1 ");
    EXPECT_EQ(ReadFile(boot), Str(m_flash, 0, 0x4000));  // the boot loader whole
    EXPECT_EQ(ReadFile(main), Str(m_flash, 0x4000 + 128, 0x8000 - 128));
}

// A main window that asks for a cancel, on the worker's own thread, as soon as the first
// chunk dump has delivered all its data: the cancel falls between two dumps.
class CancelAfterFirstDump : public PlatformMessageQueue {
  public:
    bool Post(PostedMessage message) override {
        if (message.message == WM_TASK_STATUS && message.text.starts_with("Dump Chunk:")) {
            ++m_dumps;
        }
        if (m_dumps == 1 && message.message == WM_TASK_PROGRESS && message.wParam == 100) {
            g_cancelRequested = 1;
        }
        return PlatformMessageQueue::Post(std::move(message));
    }

  private:
    int m_dumps = 0;
};

TEST_F(UpgradeTaskTest, ACancelBetweenChunkDumpsStillStartsTheNextAndIsReported) {
    ConnectTo();
    CancelAfterFirstDump window;
    m_scope.reset();  // the old scope's end would unregister the new window
    m_scope = std::make_unique<PlatformMainWindowScope>(&window);
    CUpgradeContext* context = GetContext();
    context->operation = 1;
    const std::string boot = m_dir.File("boot.abs");
    const std::string main = m_dir.File("main.bin");
    context->ChunkRecord(0)->path = boot;
    context->ChunkRecord(1)->path = main;

    ASSERT_EQ(StartUpgradeTask(), 1);
    std::vector<PostedMessage> messages;
    PostedMessage message;
    while (window.Take(&message, 120000)) {
        messages.push_back(std::move(message));
        if (messages.back().message == WM_UPGRADE_DONE) {
            break;
        }
    }
    ASSERT_TRUE(WaitForWorker(10000));
    m_scope.reset();
    m_scope = std::make_unique<PlatformMainWindowScope>(&m_window);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, WM_UPGRADE_DONE);
    EXPECT_EQ(messages.back().wParam, 1u);
    EXPECT_EQ(messages.back().lParam, 1);
    EXPECT_EQ(Texts(messages, WM_TASK_STATUS).back(), "Dump Chunk: maincodeR1 ");
    EXPECT_EQ(Texts(messages, WM_TASK_LOG).back(), "User canceled the operate\r\n");
    EXPECT_EQ(ReadFile(boot), Str(m_flash, 0, 0x4000));
    EXPECT_FALSE(std::ifstream(main).good());
    // The status-4 packet is on the line when the task ends; the STB reads it a little later.
    std::vector<std::string> cancels;
    for (int wait = 0; wait < 500 && cancels.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const stbsim::SimEvent& e : m_sim->Events()) {
            if (e.kind == "cancel") {
                cancels.push_back(e.text);
            }
        }
    }
    EXPECT_EQ(cancels, std::vector<std::string>{"dump cancelled by the tool"});
}

TEST_F(UpgradeTaskTest, AFailedDumpLeavesAnExistingFileAsItWas) {
    stbsim::StbFaults faults;
    faults.dumpEndAfter = 2;
    ConnectTo(faults);
    CUpgradeContext* context = GetContext();
    context->operation = 1;
    const std::string target = WriteFile("flash.bin", "my earlier dump");
    context->files[kRecordAllChunks].path = target;
    std::vector<PostedMessage> messages = Run();
    EXPECT_EQ(messages.back().wParam, 1u);
    EXPECT_EQ(ReadFile(target), "my earlier dump");
    EXPECT_EQ(Texts(messages, WM_TASK_LOG).back(), "STB not dump all data!\r\n");
}

}  // namespace
