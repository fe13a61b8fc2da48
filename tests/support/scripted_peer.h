// A scripted STB on the master side of a pseudo-terminal: a thread that runs a list of steps
// (expect these bytes, answer those, echo, wait) and records everything it received. Build the
// script, Start() it, run the code under test, then Finish() and check Error().
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"

class ScriptedPeer {
  public:
    explicit ScriptedPeer(const PtyPair& pty) : m_pty(pty) {}
    ~ScriptedPeer();

    // Read exactly these bytes within the limit; anything else fails the script.
    ScriptedPeer& Expect(const std::vector<uint8_t>& bytes, unsigned timeoutMs = 3000);
    ScriptedPeer& Expect(const std::string& text, unsigned timeoutMs = 3000);
    // Read `count` bytes within the limit, whatever they are.
    ScriptedPeer& Skip(size_t count, unsigned timeoutMs = 3000);
    // Write these bytes in one write.
    ScriptedPeer& Send(const std::vector<uint8_t>& bytes);
    ScriptedPeer& Send(const std::string& text);
    // Read each of these bytes and echo it back as it comes, as the legacy boot loader does.
    ScriptedPeer& Echo(const std::string& text, unsigned timeoutMs = 3000);
    ScriptedPeer& Pause(unsigned ms);
    // A step of the test's own; it returns false (and may set a message) to fail the script.
    ScriptedPeer& Do(std::function<bool(const PtyPair&, std::string& error)> step);

    void Start();
    // Waits for the script to end (at most timeoutMs), then keeps draining for `drainMs` so
    // that Received() holds what the code under test sent afterwards. Returns true when every
    // step passed.
    bool Finish(unsigned drainMs = 50);
    std::string Error() const;
    // Every byte the peer read, in order.
    std::vector<uint8_t> Received() const;

  private:
    using Step = std::function<bool(std::string& error)>;
    std::vector<uint8_t> ReadRecorded(size_t count, unsigned timeoutMs);
    void Run();

    const PtyPair& m_pty;
    std::vector<Step> m_steps;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_received;
    std::string m_error;
    std::atomic<bool> m_done{false};
};
