#include "library/link/packet.h"

#include <cstring>

#include "library/link/bytes.h"
#include "library/link/serial_port.h"
#include "library/link/state.h"
#include "library/link/upgrade.h"
#include "platform/clock.h"
#include "platform/edition.h"

namespace {

constexpr char kMagic[4] = {'H', 'E', 'A', 'D'};
constexpr uint8_t kTypeData = 1;
// Each of the three bytes after an 'H' must follow within this.
constexpr unsigned kMagicByteLimitMs = 1;
// The data and its CRC may take their byte count in ms plus this.
constexpr unsigned kDataSlackMs = 104;

// The 15 header bytes after the magic must follow within this.
constexpr unsigned HeaderLimitMs() {
    if constexpr (kEdition200)
        return 100;
    return 300;
}

void LogError(const char* text) {
    LibraryLog(0, "\r\n->Error:%s", text);
}

uint32_t HeaderCrc(const unsigned char* header) {
    return Crc32Update(0xFFFFFFFFu, header + 4, 11);
}

// Hunts for "HEAD" until the time is up. Bytes before the magic are consumed and dropped; a
// byte that breaks a match opens a new one when it is an 'H'.
bool HuntMagic(unsigned timeoutMs) {
    unsigned char s = 0;
    uint32_t start = PlatformTickCount();
    while (PlatformTicksSince(start) < timeoutMs) {
        if (s != 'H') {
            if (ComRead(&s, 1) != 1) {
                s = 0;
                ComWaitForInput(1);
            }
            continue;
        }
        bool matched = true;
        for (int i = 1; i < 4; ++i) {
            unsigned char b = 0;
            if (ComReadExact(&b, 1, kMagicByteLimitMs) != 0) {
                s = 0;
                matched = false;
                break;
            }
            if (b != static_cast<unsigned char>(kMagic[i])) {
                s = b;
                matched = false;
                break;
            }
        }
        if (matched)
            return true;
    }
    return false;
}

}  // namespace

void EncodePacketHeader(const Packet& packet, unsigned char* header) {
    std::memset(header, 0, PACKET_HEADER_SIZE);
    std::memcpy(header, kMagic, 4);
    header[4] = packet.type;
    header[5] = packet.blank;
    WriteBe32(header + 6, packet.serial);
    header[10] = packet.retry;
    WriteBe32(header + 11, packet.length);
    WriteBe32(header + 15, HeaderCrc(header));
}

int SendPacket(const Packet& packet) {
    unsigned char header[PACKET_HEADER_SIZE];
    EncodePacketHeader(packet, header);
    if (packet.length > PACKET_MAX_DATA) {
        LogError("Send Packet Data Error!");
        return UPG_ERR_SEND_PACKET_DATA;
    }
    if (ComWrite(header, PACKET_HEADER_SIZE) != PACKET_HEADER_SIZE) {
        LogError("Send Packet Header Error!");
        return UPG_ERR_SEND_HEAD;
    }
    int length = static_cast<int>(packet.length);
    if (length > 0 && ComWrite(packet.data, length) != length) {
        LogError("Send Packet Data Error!");
        return UPG_ERR_SEND_PACKET_DATA;
    }
    unsigned char crc[4];
    WriteBe32(crc, Crc32Update(0xFFFFFFFFu, packet.data, length));
    if (ComWrite(crc, 4) != 4) {
        LogError("Send Packet Data CRC Error!");
        return UPG_ERR_SEND_PACKET_CRC;
    }
    return UPG_OK;
}

int ReceivePacket(Packet* packet, unsigned timeoutMs) {
    if (!HuntMagic(timeoutMs))
        return UPG_ERR_NO_PACKET;

    unsigned char header[PACKET_HEADER_SIZE];
    std::memcpy(header, kMagic, 4);
    if (ComReadExact(header + 4, PACKET_HEADER_SIZE - 4, HeaderLimitMs()) != 0) {
        LogError("Receive packet head error!");
        return UPG_ERR_RECEIVE_HEAD;
    }
    if (ReadBe32(header + 15) != HeaderCrc(header)) {
        LogError("Check packet head CRC error!");
        return UPG_ERR_HEAD_CRC;
    }

    std::memset(packet, 0, sizeof(*packet));
    packet->type = header[4];
    packet->blank = header[5];
    packet->serial = ReadBe32(header + 6);
    packet->retry = header[10];
    packet->length = ReadBe32(header + 11);

    bool blank = packet->blank != 0 && packet->type == kTypeData;
    // A header that announces more than the record holds (or a blank packet shorter than its
    // 4 bytes) is refused before a byte of data is read; what follows it on the line is skipped
    // by the next hunt.
    if ((!blank && packet->length > PACKET_MAX_DATA) ||
        (blank && (packet->length < 4 || packet->length > PACKET_DATA_AREA))) {
        LogError("Receive packet head error!");
        return UPG_ERR_RECEIVE_HEAD;
    }

    uint32_t n = blank ? 4 : packet->length;
    if (ComReadExact(packet->data, static_cast<int>(n + 4), n + kDataSlackMs) != 0) {
        LogError("Receive packet data error!");
        return UPG_ERR_RECEIVE_DATA;
    }
    if (ReadBe32(packet->data + n) != Crc32Update(0xFFFFFFFFu, packet->data, static_cast<int>(n))) {
        LogError("Check packet data CRC error!");
        return UPG_ERR_DATA_CRC;
    }
    if (blank)
        std::memset(packet->data + 4, 0xFF, packet->length - 4);
    return UPG_OK;
}
