// A fixture for task tests: a private directory that holds the settings file, a test window
// registered as the main window that collects the posted messages, and the process-wide values
// put back to their start values around each test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_channel.h"
#include "platform/paths.h"
#include "tasks/upgrade_context.h"

class TaskTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Takes messages until one numbered `last` arrived (it is the final element), or fails the
    // test when none comes within `timeoutMs`.
    std::vector<PostedMessage> CollectUntil(unsigned last, unsigned timeoutMs = 60000);
    // Every message still queued, without waiting.
    std::vector<PostedMessage> CollectQueued();

    // The texts of the messages numbered `number`, in order.
    static std::vector<std::string> Texts(const std::vector<PostedMessage>& messages,
                                          unsigned number);
    // The first message numbered `number`, or null.
    static const PostedMessage* Find(const std::vector<PostedMessage>& messages, unsigned number);

    // Writes a file into the private directory and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& path) const;
    std::string SettingsPath() const { return m_dir.File("Upgrade.ini"); }

    PlatformPrivateDir m_dir;
    PlatformMessageQueue m_window;
    std::unique_ptr<PlatformMainWindowScope> m_scope;
};
