// What upgrade-cli needs of the operating system beyond the platform layer: whether an output
// stream is a terminal, and the interrupt signals turned into calls on a thread of their own.
// The POSIX implementation lives in cli/posix/.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

// True when standard output (stream 1) or standard error (stream 2) is a terminal.
bool ConsoleIsTerminal(int stream);

// Turns SIGINT, SIGTERM and SIGHUP into calls of `onSignal(signalNumber)` on a watcher thread,
// so that nothing but the watcher ever sees them and no work happens in a signal handler. The
// signals are blocked in the calling thread, and so in every thread it starts afterwards:
// Start must run on the main thread before any other thread exists. SIGPIPE is ignored, so
// that a closed output pipe ends no burn. Programs started later inherit the blocked signals.
class ConsoleSignalWatch {
  public:
    ConsoleSignalWatch() = default;
    ~ConsoleSignalWatch() { Stop(); }
    ConsoleSignalWatch(const ConsoleSignalWatch&) = delete;
    ConsoleSignalWatch& operator=(const ConsoleSignalWatch&) = delete;

    // False when the signals cannot be blocked (nothing is started then).
    bool Start(std::function<void(int)> onSignal);
    // Ends the watcher thread (within about 100 ms). The signals stay blocked.
    void Stop();

  private:
    void Run();
    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
