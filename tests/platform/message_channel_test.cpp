#include "platform/message_channel.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A window that delivers on a thread of its own, as the Qt sheet does through its event loop.
class CountingWindow : public PlatformMainWindow {
  public:
    bool Post(PostedMessage message) override {
        m_queue.Post(std::move(message));
        return true;
    }
    PlatformMessageQueue m_queue;
};

PostedMessage Text(unsigned number, const std::string& text) {
    PostedMessage message;
    message.message = number;
    message.text = text;
    return message;
}

TEST(MessageChannel, NoWindowBeforeRegistrationNorAfterRemoval) {
    EXPECT_FALSE(PlatformHasMainWindow());
    EXPECT_FALSE(PlatformPostToMainWindow(Text(1, "dropped")));
    PlatformMessageQueue queue;
    {
        PlatformMainWindowScope scope(&queue);
        EXPECT_TRUE(PlatformHasMainWindow());
        EXPECT_TRUE(PlatformPostToMainWindow(Text(2, "kept")));
    }
    EXPECT_FALSE(PlatformHasMainWindow());
    EXPECT_FALSE(PlatformPostToMainWindow(Text(3, "dropped")));
    ASSERT_EQ(queue.Size(), 1u);
    PostedMessage message;
    ASSERT_TRUE(queue.Take(&message, 0));
    EXPECT_EQ(message.message, 2u);
    EXPECT_EQ(message.text, "kept");
    EXPECT_FALSE(queue.Take(&message, 10));
}

TEST(MessageChannel, MessagesArriveInPostingOrderAcrossThreads) {
    PlatformMessageQueue queue;
    PlatformMainWindowScope scope(&queue);
    constexpr int kCount = 2000;
    std::thread worker([] {
        for (int i = 0; i < kCount; ++i) {
            PostedMessage message;
            message.message = 7;
            message.wParam = static_cast<uintptr_t>(i);
            message.lParam = -i;
            message.text = std::to_string(i);
            PlatformPostToMainWindow(std::move(message));
        }
    });
    for (int i = 0; i < kCount; ++i) {
        PostedMessage message;
        ASSERT_TRUE(queue.Take(&message, 5000));
        ASSERT_EQ(message.wParam, static_cast<uintptr_t>(i));
        ASSERT_EQ(message.lParam, -i);
        ASSERT_EQ(message.text, std::to_string(i));
    }
    worker.join();
}

// A window removed while a worker still posts: the removal waits for a post in progress, and
// after it the window may go at once with messages still queued (the sanitizer build shows any
// use after free or leak).
TEST(MessageChannel, WindowCanGoWhilePostsRunAndQueuedMessagesAreFreed) {
    for (int round = 0; round < 20; ++round) {
        auto* window = new CountingWindow;
        PlatformSetMainWindow(window);
        std::atomic<bool> stop{false};
        std::thread worker([&stop] {
            while (!stop.load()) {
                PlatformPostToMainWindow(Text(9, std::string(300, 'x')));
            }
        });
        PostedMessage message;
        ASSERT_TRUE(window->m_queue.Take(&message, 5000));
        PlatformSetMainWindow(nullptr);
        delete window;
        stop = true;
        worker.join();
    }
    EXPECT_FALSE(PlatformHasMainWindow());
}

}  // namespace
