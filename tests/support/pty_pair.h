// A pseudo-terminal pair for tests: the code under test opens the slave path as its serial
// device, the test (or a peer thread) talks on the master side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    // Opens a new pair. The slave is held open (raw) for the pair's life, so that the master
    // side keeps working while the code under test closes and reopens the device.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0; }
    int master() const { return m_master; }
    // The pair's own descriptor of the slave (for reading back line settings).
    int slaveFd() const { return m_slaveHold; }
    const std::string& slavePath() const { return m_slavePath; }

    // Writes all bytes to the master in one write (as a line delivers a reply back to back).
    bool Write(const std::vector<uint8_t>& bytes) const;
    bool Write(const std::string& text) const;
    // Reads exactly `count` bytes from the master within `timeoutMs`; fewer on time-out.
    std::vector<uint8_t> Read(size_t count, unsigned timeoutMs) const;
    // Reads whatever arrives until `quietMs` pass without a byte (or `totalMs` in all).
    std::vector<uint8_t> ReadUntilQuiet(unsigned quietMs, unsigned totalMs = 5000) const;

  private:
    int m_master = -1;
    int m_slaveHold = -1;
    std::string m_slavePath;
};

std::vector<uint8_t> Bytes(const std::string& text);
std::string HexDump(const std::vector<uint8_t>& bytes);
