#include "tests/support/packet_builder.h"

uint32_t WireCrc(const uint8_t* bytes, size_t count, uint32_t crc) {
    for (size_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

namespace {

uint32_t GetBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::vector<uint8_t> Numbered(uint32_t number, const uint8_t* piece, size_t length) {
    std::vector<uint8_t> data;
    PutBe32(data, number);
    data.insert(data.end(), piece, piece + length);
    return data;
}

std::vector<uint8_t> StatusBody(uint8_t status, uint32_t value) {
    std::vector<uint8_t> data{status};
    PutBe32(data, value);
    return data;
}

}  // namespace

std::vector<uint8_t> EncodeWire(const WirePacket& packet) {
    std::vector<uint8_t> out = {'H', 'E', 'A', 'D', packet.type, packet.blank};
    PutBe32(out, packet.serial);
    out.push_back(packet.retry);
    PutBe32(out, static_cast<uint32_t>(packet.data.size()));
    PutBe32(out, WireCrc(out.data() + 4, 11));
    size_t sent = packet.blank ? 4 : packet.data.size();
    out.insert(out.end(), packet.data.begin(), packet.data.begin() + static_cast<long>(sent));
    PutBe32(out, WireCrc(packet.data.data(), sent));
    return out;
}

std::vector<uint8_t> ToolCommand(uint32_t serial, uint8_t retry, const std::string& line) {
    return EncodeWire({0, 0, serial, retry, std::vector<uint8_t>(line.begin(), line.end())});
}

std::vector<uint8_t> ToolData(uint32_t serial, uint32_t number, const uint8_t* piece,
                              size_t length) {
    return EncodeWire({1, 0, serial, 0, Numbered(number, piece, length)});
}

std::vector<uint8_t> ToolRequest(uint32_t serial, uint32_t number) {
    return EncodeWire({2, 0, serial, 0, Numbered(number, nullptr, 0)});
}

std::vector<uint8_t> ToolStatus(uint32_t serial, uint8_t status, uint32_t value) {
    return EncodeWire({3, 0, serial, 0, StatusBody(status, value)});
}

std::vector<uint8_t> StbStatus(uint32_t serial, uint8_t status, uint32_t value) {
    return EncodeWire({3, 0, serial, 0, StatusBody(status, value)});
}

std::vector<uint8_t> StbData(uint32_t serial, uint32_t number,
                             const std::vector<uint8_t>& payload) {
    return EncodeWire({1, 0, serial, 0, Numbered(number, payload.data(), payload.size())});
}

std::vector<uint8_t> StbBlankData(uint32_t serial, uint32_t number, uint32_t payloadLength) {
    std::vector<uint8_t> data = Numbered(number, nullptr, 0);
    data.resize(4 + payloadLength, 0xFF);
    return EncodeWire({1, 1, serial, 0, data});
}

bool ReadWire(const PtyPair& pty, unsigned timeoutMs, WirePacket* packet, std::string& error) {
    std::vector<uint8_t> header = pty.Read(19, timeoutMs);
    if (header.size() != 19 || header[0] != 'H' || header[1] != 'E' || header[2] != 'A' ||
        header[3] != 'D') {
        error = "no packet header: [" + HexDump(header) + "]";
        return false;
    }
    if (GetBe32(header.data() + 15) != WireCrc(header.data() + 4, 11)) {
        error = "bad header CRC";
        return false;
    }
    uint32_t length = GetBe32(header.data() + 11);
    std::vector<uint8_t> rest = pty.Read(length + 4, timeoutMs);
    if (rest.size() != length + 4 ||
        GetBe32(rest.data() + length) != WireCrc(rest.data(), length)) {
        error = "bad packet data";
        return false;
    }
    packet->type = header[4];
    packet->blank = header[5];
    packet->serial = GetBe32(header.data() + 6);
    packet->retry = header[10];
    packet->data.assign(rest.begin(), rest.begin() + length);
    return true;
}
