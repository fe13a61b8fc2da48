#include "platform/message_channel.h"

#include <chrono>
#include <utility>

namespace {

// The registry lock is held while a post runs, so that removing a window waits for any post in
// progress: after PlatformSetMainWindow(nullptr) returns, nobody touches the old window.
std::mutex g_registryMutex;
PlatformMainWindow* g_mainWindow = nullptr;

}  // namespace

void PlatformSetMainWindow(PlatformMainWindow* window) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_mainWindow = window;
}

bool PlatformHasMainWindow() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_mainWindow != nullptr;
}

bool PlatformPostToMainWindow(PostedMessage message) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (g_mainWindow == nullptr) {
        return false;
    }
    return g_mainWindow->Post(std::move(message));
}

bool PlatformMessageQueue::Post(PostedMessage message) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(message));
    }
    m_arrived.notify_one();
    return true;
}

bool PlatformMessageQueue::Take(PostedMessage* out, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return !m_queue.empty(); })) {
        return false;
    }
    *out = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

size_t PlatformMessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}
