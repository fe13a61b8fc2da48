// CRC-32/MPEG-2, table-driven: polynomial 0x04C11DB7, most significant bit first, start
// 0xFFFFFFFF, no final XOR. It guards packets, legacy data blocks and chunk contents.
#include <array>
#include <cstdint>

#include "library/link/upgrade.h"

namespace {
constexpr uint32_t kPolynomial = 0x04C11DB7;
std::array<uint32_t, 256> g_crcTable{};
}  // namespace

void Crc32InitTable(void) {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ kPolynomial : (reg << 1);
        }
        g_crcTable[i] = reg;
    }
}

uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        crc = (crc << 8) ^ g_crcTable[((crc >> 24) ^ bytes[i]) & 0xFFu];
    }
    return crc;
}
