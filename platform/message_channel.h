// Posting messages to the program's main window. A main window is anything that can take a
// posted message (a number, wParam, lParam and, for some messages, a text) and deliver it on its
// own thread, in posting order: the wizard's sheet posts into the Qt event loop, the command
// line keeps a blocking queue that its main thread drains. The user interface registers its
// window once it exists and removes it before it goes; a post before that or after it finds no
// window and does nothing.
//
// Texts travel inside the message and belong to it: whoever handles a message owns its text and
// frees it by letting the message go, and messages still queued when a window goes away are
// freed with the window. Nothing is ever freed twice or leaked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// One posted message. Movable, so that a window can re-post it (to a page) unchanged.
struct PostedMessage {
    unsigned message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::string text;  // the message's text block; empty for messages without one
};

// The receiving side: implemented by the sheet (Qt) and by the command line's queue.
class PlatformMainWindow {
  public:
    virtual ~PlatformMainWindow() = default;
    // Takes `message` and queues it for delivery on the window's own thread, after every message
    // posted to it before. Called from any thread while the channel holds its registry lock, so
    // it must return quickly and must not post to the main window itself. Returns false when the
    // window refuses the message (it is then freed).
    virtual bool Post(PostedMessage message) = 0;
};

// Makes `window` the main window; null removes the current one. When this returns, no post to
// the previous window is still running, so the caller may destroy it at once.
void PlatformSetMainWindow(PlatformMainWindow* window);
// True while a main window is registered.
bool PlatformHasMainWindow();
// Hands `message` to the main window's Post. Returns false, and frees the message, when no main
// window is registered or the window refused it. Callable from any thread.
bool PlatformPostToMainWindow(PostedMessage message);

// Registers a window for the lifetime of this object (and removes it in the destructor).
class PlatformMainWindowScope {
  public:
    explicit PlatformMainWindowScope(PlatformMainWindow* window) { PlatformSetMainWindow(window); }
    ~PlatformMainWindowScope() { PlatformSetMainWindow(nullptr); }
    PlatformMainWindowScope(const PlatformMainWindowScope&) = delete;
    PlatformMainWindowScope& operator=(const PlatformMainWindowScope&) = delete;
};

// A main window that is a plain blocking queue: posts from any thread are appended, and the
// owning thread takes them in posting order. The command line's main loop and the tests use it.
// Messages still queued when it is destroyed are freed with it.
class PlatformMessageQueue : public PlatformMainWindow {
  public:
    PlatformMessageQueue() = default;
    PlatformMessageQueue(const PlatformMessageQueue&) = delete;
    PlatformMessageQueue& operator=(const PlatformMessageQueue&) = delete;

    bool Post(PostedMessage message) override;
    // Waits up to `timeoutMs` for a message and moves the oldest one into *out. Returns false
    // (leaving *out alone) when none came in time.
    bool Take(PostedMessage* out, unsigned timeoutMs);
    // The number of messages waiting.
    size_t Size() const;

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<PostedMessage> m_queue;
};
