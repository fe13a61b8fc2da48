#include "tests/support/scripted_peer.h"

#include <unistd.h>

ScriptedPeer::~ScriptedPeer() {
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<uint8_t> ScriptedPeer::ReadRecorded(size_t count, unsigned timeoutMs) {
    std::vector<uint8_t> got = m_pty.Read(count, timeoutMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.insert(m_received.end(), got.begin(), got.end());
    return got;
}

ScriptedPeer& ScriptedPeer::Expect(const std::vector<uint8_t>& bytes, unsigned timeoutMs) {
    m_steps.push_back([this, bytes, timeoutMs](std::string& error) {
        std::vector<uint8_t> got = ReadRecorded(bytes.size(), timeoutMs);
        if (got == bytes)
            return true;
        error = "expected [" + HexDump(bytes) + "] got [" + HexDump(got) + "]";
        return false;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Expect(const std::string& text, unsigned timeoutMs) {
    return Expect(Bytes(text), timeoutMs);
}

ScriptedPeer& ScriptedPeer::Skip(size_t count, unsigned timeoutMs) {
    m_steps.push_back([this, count, timeoutMs](std::string& error) {
        std::vector<uint8_t> got = ReadRecorded(count, timeoutMs);
        if (got.size() == count)
            return true;
        error = "expected " + std::to_string(count) + " bytes, got " + std::to_string(got.size());
        return false;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Send(const std::vector<uint8_t>& bytes) {
    m_steps.push_back([this, bytes](std::string& error) {
        if (m_pty.Write(bytes))
            return true;
        error = "write to the master failed";
        return false;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Send(const std::string& text) {
    return Send(Bytes(text));
}

ScriptedPeer& ScriptedPeer::Echo(const std::string& text, unsigned timeoutMs) {
    m_steps.push_back([this, text, timeoutMs](std::string& error) {
        for (char c : text) {
            std::vector<uint8_t> got = ReadRecorded(1, timeoutMs);
            if (got.size() != 1 || got[0] != static_cast<uint8_t>(c)) {
                error = "echo: expected " + HexDump({static_cast<uint8_t>(c)}) + " got [" +
                        HexDump(got) + "]";
                return false;
            }
            m_pty.Write(got);
        }
        return true;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Pause(unsigned ms) {
    m_steps.push_back([ms](std::string&) {
        usleep(ms * 1000u);
        return true;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Do(std::function<bool(const PtyPair&, std::string& error)> step) {
    m_steps.push_back([this, step](std::string& error) { return step(m_pty, error); });
    return *this;
}

void ScriptedPeer::Start() {
    m_thread = std::thread([this] { Run(); });
}

void ScriptedPeer::Run() {
    for (size_t i = 0; i < m_steps.size(); ++i) {
        std::string error;
        if (!m_steps[i](error)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_error = "step " + std::to_string(i + 1) + ": " + error;
            break;
        }
    }
    m_done = true;
}

bool ScriptedPeer::Finish(unsigned drainMs) {
    if (m_thread.joinable())
        m_thread.join();
    if (drainMs > 0) {
        std::vector<uint8_t> rest = m_pty.ReadUntilQuiet(drainMs, drainMs * 4);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.insert(m_received.end(), rest.begin(), rest.end());
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.empty();
}

std::string ScriptedPeer::Error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

std::vector<uint8_t> ScriptedPeer::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}
