#include "tests/tasks/task_fixture.h"

#include <fstream>
#include <sstream>

#include "tasks/config.h"

namespace {
constexpr int kPortCount = 32;
}

void TaskTest::SetUp() {
    ASSERT_TRUE(m_dir.Create("tasks-test-"));
    SetConfigDirectory(m_dir.Path());
    g_comPort = 1;
    g_comBaud = 115200;
    g_comParity = COM_PARITY_EVEN;
    g_cancelRequested = 0;
    g_burnTotal = 0;
    g_chunkTable = ChunkTable{};
    UpgSetProtocolVersion(0);
    for (int port = 1; port <= kPortCount; ++port) {
        ComSetDeviceName(port, "");
    }
    m_scope = std::make_unique<PlatformMainWindowScope>(&m_window);
}

void TaskTest::TearDown() {
    EXPECT_TRUE(WaitForWorker(60000));
    GetContext()->CloseContext();
    m_scope.reset();
    SetConfigDirectory("");
    for (int port = 1; port <= kPortCount; ++port) {
        ComSetDeviceName(port, "");
    }
}

std::vector<PostedMessage> TaskTest::CollectUntil(unsigned last, unsigned timeoutMs) {
    std::vector<PostedMessage> messages;
    PostedMessage message;
    while (m_window.Take(&message, timeoutMs)) {
        const unsigned number = message.message;
        messages.push_back(std::move(message));
        if (number == last) {
            return messages;
        }
    }
    ADD_FAILURE() << "message " << last << " did not arrive; " << messages.size() << " others did";
    return messages;
}

std::vector<PostedMessage> TaskTest::CollectQueued() {
    std::vector<PostedMessage> messages;
    PostedMessage message;
    while (m_window.Take(&message, 0)) {
        messages.push_back(std::move(message));
    }
    return messages;
}

std::vector<std::string> TaskTest::Texts(const std::vector<PostedMessage>& messages,
                                         unsigned number) {
    std::vector<std::string> texts;
    for (const PostedMessage& message : messages) {
        if (message.message == number) {
            texts.push_back(message.text);
        }
    }
    return texts;
}

const PostedMessage* TaskTest::Find(const std::vector<PostedMessage>& messages, unsigned number) {
    for (const PostedMessage& message : messages) {
        if (message.message == number) {
            return &message;
        }
    }
    return nullptr;
}

std::string TaskTest::WriteFile(const std::string& name, const std::string& bytes) const {
    const std::string path = m_dir.File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return path;
}

std::string TaskTest::ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
