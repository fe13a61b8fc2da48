#include "cli/console.h"

#include <csignal>
#include <ctime>

#include <pthread.h>
#include <unistd.h>

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

bool ConsoleIsTerminal(int stream) {
    return isatty(stream == 1 ? 1 : 2) == 1;
}

bool ConsoleSignalWatch::Start(std::function<void(int)> onSignal) {
    if (m_thread.joinable()) {
        return true;
    }
    sigset_t set = WatchedSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    m_onSignal = std::move(onSignal);
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ConsoleSignalWatch::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        m_thread.join();
    }
}

void ConsoleSignalWatch::Run() {
    const sigset_t set = WatchedSignals();
    // A short wait, so that Stop is noticed without a signal of our own.
    const timespec wait = {0, 100 * 1000 * 1000};
    while (!m_stop) {
        const int signal = sigtimedwait(&set, nullptr, &wait);
        if (signal > 0) {
            m_onSignal(signal);
        }
    }
}
