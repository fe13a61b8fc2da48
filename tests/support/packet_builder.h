// The peer's side of the packet protocol, written apart from the library's packet code so that
// tests check the library against an independent reading of the wire: "HEAD", type, blank,
// serial, retry, length (19-byte header with its CRC), the data, the data CRC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"

struct WirePacket {
    uint8_t type = 0;
    uint8_t blank = 0;
    uint32_t serial = 0;
    uint8_t retry = 0;
    std::vector<uint8_t> data;
};

// CRC-32/MPEG-2, bit by bit.
uint32_t WireCrc(const uint8_t* bytes, size_t count, uint32_t crc = 0xFFFFFFFFu);
void PutBe32(std::vector<uint8_t>& out, uint32_t value);

// The packet's bytes on the wire. A blank packet carries only the first 4 data bytes while its
// header announces the full length.
std::vector<uint8_t> EncodeWire(const WirePacket& packet);

// What the tool sends.
std::vector<uint8_t> ToolCommand(uint32_t serial, uint8_t retry, const std::string& line);
std::vector<uint8_t> ToolData(uint32_t serial, uint32_t number, const uint8_t* piece,
                              size_t length);
std::vector<uint8_t> ToolRequest(uint32_t serial, uint32_t number);
std::vector<uint8_t> ToolStatus(uint32_t serial, uint8_t status, uint32_t value);

// What the STB answers.
std::vector<uint8_t> StbStatus(uint32_t serial, uint8_t status, uint32_t value);
std::vector<uint8_t> StbData(uint32_t serial, uint32_t number, const std::vector<uint8_t>& payload);
std::vector<uint8_t> StbBlankData(uint32_t serial, uint32_t number, uint32_t payloadLength);

// Reads one packet from the master side within the limit; false (with a message) when none
// comes or its checks fail.
bool ReadWire(const PtyPair& pty, unsigned timeoutMs, WirePacket* packet, std::string& error);
