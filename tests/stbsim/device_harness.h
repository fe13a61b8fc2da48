// Drives a StbDevice directly: bytes in, reply bytes out, time advanced by hand. Packets are
// built and parsed here with the test's own framing, so that the device is checked against a
// reading of the wire that is not its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/stbsim/device.h"

namespace stbsim::testing {

struct WirePacket {
    uint8_t type = 0;
    uint8_t blank = 0;
    uint32_t serial = 0;
    uint32_t length = 0;  // as announced
    Bytes data;           // blank packets expanded to 0xFF after the packet number
};

Bytes MakePacket(uint8_t type, uint32_t serial, uint8_t retry, const Bytes& data);
Bytes CommandPacket(const std::string& line, uint32_t serial, uint8_t retry = 0);
Bytes NumberPacket(uint8_t type, uint32_t serial, uint32_t number, const Bytes& piece = {});
// Parses the packets in `wire`; fails the test on stray bytes or a bad CRC.
std::vector<WirePacket> ParsePackets(const Bytes& wire);
// Status byte and value of a status packet.
std::pair<uint8_t, uint32_t> StatusOf(const WirePacket& p);
Bytes Text(const std::string& s);

class DeviceHarness {
  public:
    explicit DeviceHarness(const std::string& profileName, StbFaults faults = {},
                           StbTiming timing = {});

    // Feeds bytes at the current time and returns every reply due by then.
    Bytes Send(const Bytes& bytes);
    Bytes Send(const std::string& text) { return Send(Text(text)); }
    // Advances the clock, running the timers, and returns what fell due.
    Bytes Wait(uint64_t ms);
    // A packet command with a fresh serial; returns the reply packets.
    std::vector<WirePacket> Command(const std::string& line);
    // Runs the 3.0 handshake and expects the inverted banner.
    void Handshake();
    // Sends a legacy line byte by byte and expects each byte echoed; returns what follows.
    Bytes RawLine(const std::string& line);

    StbDevice& device() { return m_device; }
    uint32_t serial() const { return m_serial; }
    int Count(const std::string& kind) const;

  private:
    StbDevice m_device;
    uint64_t m_now = 1000;
    uint32_t m_serial = 0;
};

StbProfile Profile(const std::string& name);

}  // namespace stbsim::testing
