// The command exchange: command packets with serial numbers and retry counts, the three
// exchange procedures with their attempt limit and log lines, and the legacy send step.
#include <cstdio>
#include <cstring>

#include "library/commands/commands.h"
#include "library/link/bytes.h"
#include "library/link/state.h"
#include "platform/clock.h"
#include "platform/edition.h"

namespace {

constexpr int kAttempts = 5;
constexpr unsigned kRawPauseMs = 100;
constexpr unsigned kRawEchoLimitMs = 200;  // per echoed byte of a legacy line
constexpr unsigned kWarnAt = 3;            // failures in a row before a transfer or dump warns

// Library-wide, from program start to exit; the first command carries serial 1.
uint32_t g_commandSerial = 0;
uint8_t g_commandRetry = 0;

int SendWithCounters(uint8_t type, const unsigned char* data, uint32_t length) {
    Packet packet;
    std::memset(&packet, 0, sizeof packet);
    packet.type = type;
    packet.serial = g_commandSerial;
    packet.retry = g_commandRetry;
    packet.length = length;
    if (length > PACKET_MAX_DATA)
        return SendPacket(packet);  // refused there, unwritten
    if (length > 0)
        std::memcpy(packet.data, data, length);
    return SendPacket(packet);
}

// A status-1 value: the STB's code, or a plain failure for a value of 0, which would
// otherwise read as success.
int FailureCode(uint32_t value) {
    return value != 0 ? static_cast<int>(value) : UPG_ERR_GENERIC;
}

// The retry log of both procedures: the error line for a failed first attempt, "." after.
void LogFailedAttempt(int attempt, int result, const char* line) {
    if (attempt == 0 && result != 0) {
        char text[256];
        if (UpgGetErrorText(result, text) == 0) {
            std::snprintf(text, sizeof text, "Unknown error %d\r\n", result);
        }
        LibraryLog(0, "\r\n->Error:%s in execute command:%s Retry.", text, line);
    } else {
        LibraryLog(0, "%s", ".");
    }
}

// One attempt's outcome.
enum class Attempt { kDone, kFailed, kStop, kAgain };

// Checks a reply to ExecCommand's line.
Attempt CheckCommandReply(const Packet& reply, uint8_t* statusOut, int* result) {
    uint8_t status = 0;
    uint32_t value = 0;
    if (reply.serial != g_commandSerial || reply.length != 5 ||
        !ReadStatusReply(reply, &status, &value)) {
        *result = UPG_ERR_PACKET_UNRECOGNISED;
        return Attempt::kFailed;
    }
    if (statusOut != nullptr)
        *statusOut = status;
    if (status == STATUS_DONE || status == STATUS_BUSY || status == STATUS_FINISHED) {
        *result = UPG_OK;
        return Attempt::kDone;
    }
    *result = FailureCode(value);
    return value >= STB_FAILURE_BASE ? Attempt::kStop : Attempt::kFailed;
}

int RunCommand(const char* line, unsigned limitMs, uint8_t* statusOut, bool quiet) {
    ComPurge();
    int result = UPG_OK;
    int isRetry = quiet ? 1 : 0;
    int attempt = 0;
    for (; attempt < kAttempts; ++attempt) {
        Packet reply;
        result = SendCommandPacket(line, isRetry);
        if (result == UPG_OK)
            result = ReceivePacket(&reply, limitMs);
        Attempt outcome = Attempt::kFailed;
        if (result == UPG_OK)
            outcome = CheckCommandReply(reply, statusOut, &result);
        if (outcome == Attempt::kDone || outcome == Attempt::kStop)
            break;
        isRetry = 1;
        if (!quiet)
            LogFailedAttempt(attempt, result, line);
    }
    if (!quiet && attempt > 0 && attempt < kAttempts && result == UPG_OK) {
        LibraryLog(0, "%s", "OK");
    }
    return result;
}

// Checks a reply to ExecQuery's line; copies a data reply out.
Attempt CheckQueryReply(const Packet& reply, uint8_t* statusOut, int* length,
                        unsigned char* destination, int* result) {
    if (reply.serial != g_commandSerial) {
        *result = UPG_ERR_PACKET_UNRECOGNISED;
        return Attempt::kFailed;
    }
    if (reply.type == PACKET_DATA) {
        // ReceivePacket never hands over more than the data area, which the reply buffer holds.
        static_assert(QUERY_REPLY_SIZE >= PACKET_DATA_AREA);
        *length = static_cast<int>(reply.length);
        std::memcpy(destination, reply.data, reply.length);
        *result = UPG_OK;
        return Attempt::kDone;
    }
    uint8_t status = 0;
    uint32_t value = 0;
    if (!ReadStatusReply(reply, &status, &value)) {
        *result = UPG_ERR_PACKET_UNRECOGNISED;
        return Attempt::kFailed;
    }
    if (statusOut != nullptr)
        *statusOut = status;
    if (status == STATUS_FINISHED) {
        // Executed without data: ask again under a new serial number, without a log line.
        if constexpr (kEdition200) {
            *result = UPG_ERR_PACKET_UNRECOGNISED;
        } else {
            *result = UPG_COMMAND_EXECUTED;
        }
        return Attempt::kAgain;
    }
    if (status == STATUS_FAILED) {
        *result = FailureCode(value);
        return value >= STB_FAILURE_BASE ? Attempt::kStop : Attempt::kFailed;
    }
    *result = UPG_ERR_PACKET_UNRECOGNISED;
    return Attempt::kFailed;
}

}  // namespace

uint32_t CommandSerial() {
    return g_commandSerial;
}
uint8_t CommandRetry() {
    return g_commandRetry;
}

int SendCommandPacket(const char* line, int isRetry) {
    if (isRetry != 0) {
        ++g_commandRetry;
    } else {
        ++g_commandSerial;
        g_commandRetry = 0;
    }
    return SendWithCounters(PACKET_COMMAND, reinterpret_cast<const unsigned char*>(line),
                            static_cast<uint32_t>(std::strlen(line)));
}

int SendDataPacket(uint32_t number, const unsigned char* data, uint32_t length) {
    unsigned char body[4 + TRANSFER_PIECE];
    if (length > TRANSFER_PIECE)
        return UPG_ERR_SEND_PACKET_DATA;
    WriteBe32(body, number);
    if (length > 0)
        std::memcpy(body + 4, data, length);
    return SendWithCounters(PACKET_DATA, body, length + 4);
}

int SendRequestPacket(uint32_t number) {
    unsigned char body[4];
    WriteBe32(body, number);
    return SendWithCounters(PACKET_REQUEST, body, 4);
}

int SendStatusPacket(uint8_t status, uint32_t value) {
    unsigned char body[5];
    body[0] = status;
    WriteBe32(body + 1, value);
    return SendWithCounters(PACKET_STATUS, body, 5);
}

bool ReadStatusReply(const Packet& packet, uint8_t* status, uint32_t* value) {
    if (packet.type != PACKET_STATUS || packet.length < 5)
        return false;
    *status = packet.data[0];
    *value = ReadBe32(packet.data + 1);
    return true;
}

int ExecCommand(const char* line, unsigned limitMs, uint8_t* status) {
    return RunCommand(line, limitMs, status, false);
}

int ExecCommandQuiet(const char* line, unsigned limitMs, uint8_t* status) {
    return RunCommand(line, limitMs, status, true);
}

int ExecQuery(const char* line, unsigned limitMs, uint8_t* status, int* length,
              unsigned char* reply) {
    ComPurge();
    int result = UPG_OK;
    int isRetry = 0;
    int attempt = 0;
    for (; attempt < kAttempts; ++attempt) {
        Packet packet;
        result = SendCommandPacket(line, isRetry);
        if (result == UPG_OK)
            result = ReceivePacket(&packet, limitMs);
        Attempt outcome = Attempt::kFailed;
        if (result == UPG_OK)
            outcome = CheckQueryReply(packet, status, length, reply, &result);
        if (outcome == Attempt::kDone || outcome == Attempt::kStop)
            break;
        if (outcome == Attempt::kAgain) {
            isRetry = 0;
            continue;
        }
        isRetry = 1;
        LogFailedAttempt(attempt, result, line);
    }
    if (attempt > 0 && attempt < kAttempts && result == UPG_OK)
        LibraryLog(0, "%s", "OK");
    return result;
}

void LogPacketFailure(const char* operation, unsigned failures, uint32_t number) {
    if (failures == kWarnAt) {
        LibraryLog(2, "\r\n->Warning:%s packet:%u Error! Retry.", operation, number);
    } else if (failures > kWarnAt) {
        LibraryLog(2, "%s", ".");
    }
}

void EndFailureStreak(unsigned* failures) {
    bool ends = kEdition200 ? *failures > kWarnAt : *failures >= kWarnAt;
    if (ends) {
        *failures = 0;
        LibraryLog(2, "%s", "OK");
    }
}

int RawSendLine(const char* line, bool pause) {
    if (pause)
        PlatformSleep(kRawPauseMs);
    ComPurge();
    int length = static_cast<int>(std::strlen(line));
    if (ComWriteEchoed(reinterpret_cast<const unsigned char*>(line), length, kRawEchoLimitMs) !=
        0) {
        return UPG_ERR_SEND_COMMAND;
    }
    return UPG_OK;
}

int RawReadAck(unsigned limitMs) {
    unsigned char ack = 0;
    if (ComReadExact(&ack, 1, limitMs) != 0)
        return UPG_ERR_TIMEOUT;
    return ack == 'O' ? UPG_OK : UPG_ERR_TARGET_FAILED;
}

int RawCommand(const char* line, unsigned ackLimitMs) {
    int result = RawSendLine(line, true);
    return result != UPG_OK ? result : RawReadAck(ackLimitMs);
}
