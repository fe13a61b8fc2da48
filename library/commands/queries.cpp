// The version and chunk queries: "version" and "chunk" in packets, or the legacy "version -r",
// which returns both in one reply.
#include <cstring>

#include "library/commands/commands.h"
#include "library/link/bytes.h"
#include "library/link/state.h"

namespace {

constexpr unsigned kVersionLimitMs = 1000;
constexpr unsigned kChunkLimitMs = 5000;
// The legacy reply: marker or length, then the table, then its check.
constexpr unsigned kRawFirstLimitMs = 1000;
constexpr unsigned kRawLengthLimitMs = 100;
constexpr unsigned kRawTableLimitMs = 5000;
constexpr unsigned kRawCheckLimitMs = 100;
// First two bytes at or above this are the version marker, not the table length.
constexpr uint32_t kVersionMarker = 0xB721;
constexpr uint32_t kMarkerBase = 0xB700;
// The table buffer of both protocols.
constexpr uint32_t kTableBufferSize = 2048;

int ReadBe16(unsigned limitMs, uint32_t* value) {
    unsigned char bytes[2];
    if (ComReadExact(bytes, 2, limitMs) != 0)
        return UPG_ERR_TIMEOUT;
    *value = (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
    return UPG_OK;
}

}  // namespace

int CmdVersion(int* version) {
    unsigned char reply[QUERY_REPLY_SIZE] = {};
    int length = 0;
    int result = ExecQuery("version\r", kVersionLimitMs, nullptr, &length, reply);
    if (result != UPG_OK)
        return result;
    if (length < 8)
        return UPG_ERR_UNRECOGNISED_REPLY;  // no room for the version
    *version = static_cast<int>(ReadBe32(reply + 4));
    return UPG_OK;
}

int CmdChunk(ChunkTable* table) {
    unsigned char reply[QUERY_REPLY_SIZE] = {};
    int length = 0;
    int result = ExecQuery("chunk\r", kChunkLimitMs, nullptr, &length, reply);
    if (result != UPG_OK)
        return result;
    if (length < 4)
        return UPG_ERR_UNRECOGNISED_REPLY;
    return ParseChunkTable(reply + 4, static_cast<unsigned>(length - 4), table);
}

int RawVersion(int* version, ChunkTable* table) {
    int result = RawSendLine("version -r\r", true);
    if (result != UPG_OK)
        return result;
    uint32_t v = 0;
    if (ReadBe16(kRawFirstLimitMs, &v) != UPG_OK)
        return UPG_ERR_TIMEOUT;
    *version = 0;
    if (v >= kVersionMarker) {
        *version = static_cast<int>(v - kMarkerBase);
        if (ReadBe16(kRawLengthLimitMs, &v) != UPG_OK)
            return UPG_ERR_TIMEOUT;
    }
    // A length past the buffer is refused before a byte of the table is read.
    if (v > kTableBufferSize)
        return UPG_ERR_UNRECOGNISED_REPLY;
    unsigned char buffer[kTableBufferSize] = {};
    if (ComReadExact(buffer, static_cast<int>(v), kRawTableLimitMs) != 0)
        return UPG_ERR_TIMEOUT;
    unsigned char check[4];
    if (ComReadExact(check, 4, kRawCheckLimitMs) != 0)
        return UPG_ERR_TIMEOUT;
    if (ReadBe32(check) != Crc32Update(0xFFFFFFFFu, buffer, static_cast<int>(v))) {
        return UPG_ERR_READ_DATA;
    }
    return ParseChunkTable(buffer, v, table);
}

int UpgGetVersionAndChunks(int* version, ChunkTable* table) {
    if (!UsePacketProtocol())
        return RawVersion(version, table);
    int result = CmdVersion(version);
    return result != UPG_OK ? result : CmdChunk(table);
}
