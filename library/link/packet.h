// Packets of the packet protocol: a 19-byte header ("HEAD", type, blank, serial, retry, length,
// header CRC), the data, and the CRC of the data. Internal to the library.
#pragma once

#include <cstdint>

inline constexpr int PACKET_HEADER_SIZE = 19;
inline constexpr int PACKET_DATA_AREA = 2048;
// The data area also takes the 4 CRC bytes on receive.
inline constexpr uint32_t PACKET_MAX_DATA = PACKET_DATA_AREA - 4;

struct Packet {
    uint8_t type;
    uint8_t blank;  // on a received data packet: the bytes after the first four are all 0xFF
    uint32_t serial;
    uint8_t retry;
    uint32_t length;
    unsigned char data[PACKET_DATA_AREA];
};

// Puts the packet on the line: header, `length` data bytes, data CRC. Does not purge or wait
// for an answer. Returns 0, UPG_ERR_SEND_HEAD, UPG_ERR_SEND_PACKET_DATA or
// UPG_ERR_SEND_PACKET_CRC. A length above PACKET_MAX_DATA is refused with
// UPG_ERR_SEND_PACKET_DATA before anything is written.
int SendPacket(const Packet& packet);

// Takes one packet off the line: hunts for "HEAD" for up to `timeoutMs`, dropping whatever comes
// before it, then reads and checks the header and the data. Returns 0, UPG_ERR_NO_PACKET,
// UPG_ERR_RECEIVE_HEAD (also for a header that announces more data than the record holds, or a
// blank data packet shorter than 4 bytes), UPG_ERR_HEAD_CRC, UPG_ERR_RECEIVE_DATA or
// UPG_ERR_DATA_CRC. A blank data packet comes back with its announced length, its 4 bytes and
// 0xFF for the rest.
int ReceivePacket(Packet* packet, unsigned timeoutMs);

// The 19 header bytes of `packet`, as SendPacket writes them.
void EncodePacketHeader(const Packet& packet, unsigned char* header);
