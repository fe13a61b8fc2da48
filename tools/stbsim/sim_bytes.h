// Small byte helpers of the simulator: the line's CRC-32/MPEG-2 and big-endian numbers. They are
// the simulator's own, so that it reads the protocol independently of the upgrade library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stbsim {

using Bytes = std::vector<uint8_t>;

// CRC-32/MPEG-2: polynomial 0x04C11DB7, most significant bit first, start 0xFFFFFFFF, no final
// XOR. Chain calls by passing the previous result as `crc`.
inline constexpr uint32_t kCrcStart = 0xFFFFFFFFu;
uint32_t Crc32(const uint8_t* data, size_t count, uint32_t crc = kCrcStart);
inline uint32_t Crc32(const Bytes& data) {
    return Crc32(data.data(), data.size());
}

inline uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint16_t ReadBe16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline void WriteBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void AppendBe32(Bytes& out, uint32_t v) {
    uint8_t b[4];
    WriteBe32(b, v);
    out.insert(out.end(), b, b + 4);
}
inline void AppendBe16(Bytes& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

// Lower-case hexadecimal SHA-256 of `count` bytes.
std::string Sha256Hex(const uint8_t* data, size_t count);
inline std::string Sha256Hex(const Bytes& data) {
    return Sha256Hex(data.data(), data.size());
}

}  // namespace stbsim
