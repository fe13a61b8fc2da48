// The boot loader's commands in both generations: the packet protocol's exchanges (Cmd...)
// and the legacy raw commands (Raw...). The Upg... entry points of upgrade.h dispatch to them.
// Internal to the library.
#pragma once

#include <cstdint>

#include "library/link/packet.h"
#include "library/link/upgrade.h"

// ---------------------------------------------------------------------------------------------
// Packet types and status bytes of the packet protocol.

inline constexpr uint8_t PACKET_COMMAND = 0;
inline constexpr uint8_t PACKET_DATA = 1;     // 4-byte packet number, then the payload
inline constexpr uint8_t PACKET_REQUEST = 2;  // 4-byte packet number
inline constexpr uint8_t PACKET_STATUS = 3;   // status byte, then a 32-bit value

inline constexpr uint8_t STATUS_DONE = 0;      // done; in a transfer: that packet is accepted
inline constexpr uint8_t STATUS_FAILED = 1;    // the value is a status code
inline constexpr uint8_t STATUS_BUSY = 2;      // burning
inline constexpr uint8_t STATUS_FINISHED = 3;  // executed, transfer or burn complete, dump ended
inline constexpr uint8_t STATUS_CANCEL = 4;    // sent by the tool: the user cancelled

// Codes of 0x10000 and above in a status-1 reply are the STB's own failures.
inline constexpr uint32_t STB_FAILURE_BASE = 0x10000;
// Compression could not be used (encoder missing, failed, too slow, or its output too long).
inline constexpr int COMPRESS_UNAVAILABLE = 41;
// The buffer a query reply is copied into.
inline constexpr int QUERY_REPLY_SIZE = PACKET_DATA_AREA;
// Transfer and dump pieces.
inline constexpr int TRANSFER_PIECE = 1024;

// ---------------------------------------------------------------------------------------------
// Exchange counters. Every packet the tool sends carries them; a reply counts only when it bears
// the current serial number. They live for the whole process and are never reset.

uint32_t CommandSerial();
uint8_t CommandRetry();

// ---------------------------------------------------------------------------------------------
// Packet builders: each sends one packet with the current counters and returns SendPacket's
// code. SendCommandPacket first starts a new command (serial + 1, retry 0), or with isRetry
// counts one more resend of the current one (retry + 1).

int SendCommandPacket(const char* line, int isRetry);
int SendDataPacket(uint32_t number, const unsigned char* data, uint32_t length);
int SendRequestPacket(uint32_t number);
int SendStatusPacket(uint8_t status, uint32_t value);

// A status reply's status byte and value; false for any other packet or one shorter than 5
// bytes.
bool ReadStatusReply(const Packet& packet, uint8_t* status, uint32_t* value);

// Sends `line` and waits up to limitMs for a status reply of its serial number, up to 5
// attempts. Status 0, 2 or 3 succeed (0); status 1 with an STB failure code ends at once with
// that code; anything else is retried and the last code returned. Logs an error line for the
// first failed attempt, "." for later ones and "OK" when a retry succeeded. *status (may be null)
// receives the last status byte seen.
int ExecCommand(const char* line, unsigned limitMs, uint8_t* status);
// ExecCommand that only resends the current command (same serial, rising retry count) and logs
// nothing: asks the boot loader again about a command it already has.
int ExecCommandQuiet(const char* line, unsigned limitMs, uint8_t* status);
// Sends `line` and waits for a data reply of its serial number, up to 5 attempts; copies the
// reply's data (packet number included) into `reply` (QUERY_REPLY_SIZE bytes) with its length
// in *length. A status-3 reply sends the line again as a new command; when the attempts run out
// on it the result is UPG_COMMAND_EXECUTED (edition 2.0.0: UPG_ERR_PACKET_UNRECOGNISED).
int ExecQuery(const char* line, unsigned limitMs, uint8_t* status, int* length,
              unsigned char* reply);

// The legacy send step: optional 100 ms pause, purge, then the line byte by byte against the
// boot loader's echo (200 ms per byte). 0, or UPG_ERR_SEND_COMMAND.
int RawSendLine(const char* line, bool pause);
// Reads the one-byte acknowledgement within limitMs: 0 for "O", UPG_ERR_TARGET_FAILED for any
// other byte, UPG_ERR_TIMEOUT for none.
int RawReadAck(unsigned limitMs);
// RawSendLine with the pause, then RawReadAck.
int RawCommand(const char* line, unsigned ackLimitMs);

// The failure streak of a transfer or dump: a warning at the third failure in a row, then a dot
// for each further one; a good packet then ends the streak with an "OK" line (edition 2.0.0:
// only once the streak is past three).
void LogPacketFailure(const char* operation, unsigned failures, uint32_t number);
void EndFailureStreak(unsigned* failures);

// ---------------------------------------------------------------------------------------------
// Callbacks may be null: no progress is shown, and nothing cancels.

inline void ReportProgress(UpgProgressFn progress, int percent) {
    if (progress != nullptr)
        progress(percent);
}
inline bool CancelRequested(UpgCancelFn cancel) {
    return cancel != nullptr && cancel() == 1;
}

// ---------------------------------------------------------------------------------------------
// The commands.

int CmdVersion(int* version);
int CmdChunk(ChunkTable* table);
int RawVersion(int* version, ChunkTable* table);

int CmdAddress(unsigned address);
int RawAddress(unsigned address);
int CmdMove(unsigned first, unsigned second);
int RawMove(unsigned first, unsigned second);
// The burn's progress: `total` bytes were staged; each "B" report gives the KiB burnt so far.
int CmdBurn(int total, UpgProgressFn progress);
int RawBurn(int total, UpgProgressFn progress);
int CmdReboot();
int RawReboot();
// The percentage of a "B" report's four digit bytes against `total`, 0 to 100; 100 for a total
// of 0.
int BurnPercent(const unsigned char* digits, int total);

// Packet transfer of `length` bytes, offered to the encoder first: the buffer may come back
// holding the compressed form (never longer than `length`), so its contents are undefined
// afterwards.
int CmdTransfer(unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel);
int RawTransfer(const unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel);

// Writes `length` bytes to a private temporary file, runs the encoder on it and, when its output
// is no longer than `capacity`, puts the output at the start of `data` with its length in
// *compressed. Returns 0, or UPG_ERR_FILE_NOT_OPEN, UPG_ERR_READ_FILE_DATA or
// COMPRESS_UNAVAILABLE; on failure `data` and *compressed (= length) are as on entry.
int CompressData(unsigned char* data, int length, int* compressed, int capacity);
// Runs the encoder: "e", input, output, "-lc0", "-lp2". Non-zero when it ran and ended with exit
// status 0 within its time limit; 0 otherwise.
int RunEncoder(const char* input, const char* output);
// The encoder program: the one beside this program when there is one, else the bare name,
// looked up in PATH.
const char* EncoderName();

// The dumps write at most `capacity` bytes into `buffer`. *length receives the total.
int CmdDump(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
            UpgCancelFn cancel, unsigned start, unsigned size);
int RawDump(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
            UpgCancelFn cancel, unsigned start, unsigned size);
int RawDumpAll(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
               UpgCancelFn cancel);
int RawDumpBlocks(unsigned char* buffer, int capacity, int* length, UpgProgressFn progress,
                  UpgCancelFn cancel, unsigned start, unsigned size);
