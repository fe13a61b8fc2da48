// The upgrade library's one public header: every entry point, callback type, status code and
// record that the task layer uses. The library is a set of plain functions over process-wide
// state (one serial port, one log callback, one protocol version, one CRC table); it is driven
// by one worker thread at a time, and its callbacks run on that thread.
//
// Every operation returns an int status code: 0 is success, the other codes are the UPG_...
// names below, and UpgGetErrorText gives their texts. Nothing throws; no call hands the caller
// memory to free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------------------------
// Status codes. The numbers are fixed: peers, logs and users know them by number.

enum UpgStatus : int {
    UPG_OK = 0,                          // "Success!"
    UPG_ERR_GENERIC = 1,                 // "Generic error!"
    UPG_ERR_CONNECT_PORT = 2,            // "Can not connect serial port!"
    UPG_ERR_SEND_DATA = 3,               // "Send data error!"
    UPG_ERR_ECHO_MISMATCH = 4,           // "Return command not equal to send command!"
    UPG_ERR_SEND_COMMAND = 5,            // "Send command error!"
    UPG_ERR_CANCELLED = 6,               // "User canceled the operate"
    UPG_ERR_NO_TARGET = 7,               // "Target not connect or target is error status!"
    UPG_ERR_TIMEOUT = 8,                 // "Time out when read data!"
    UPG_ERR_CRC = 9,                     // "CRC check error!"
    UPG_ERR_TARGET_FAILED = 10,          // "Target return error when oprate!"
    UPG_ERR_UNRECOGNISED_REPLY = 11,     // "Target return is not recognize!"
    UPG_ERR_RETRIES = 12,                // "Overrun retry times"
    UPG_ERR_BURN = 13,                   // "Burn error!"
    UPG_ERR_DUMP_LENGTH = 14,            // "Error dump len"
    UPG_ERR_SDRAM_INI = 15,              // "Load sdram ini file error!"
    UPG_ERR_OPEN_PORT = 16,              // "Can not open serial port!"
    UPG_ERR_CANCELLED_2 = 17,            // "User canceled the operate"
    UPG_ERR_OPEN_FILE = 18,              // "Open file error!"
    UPG_ERR_MALLOC = 19,                 // "Malloc memory error!"
    UPG_ERR_READ_FILE = 20,              // "Read file error!"
    UPG_ERR_DUMP = 21,                   // "Dump error!"
    UPG_ERR_COMTEST = 22,                // "Command comtest error!"
    UPG_ERR_READ_DATA = 23,              // "Read data error!"
    UPG_ERR_SEND_HEAD = 24,              // "Send packet head error!"
    UPG_ERR_SEND_PACKET_DATA = 25,       // "Send Packet data error!"
    UPG_ERR_SEND_PACKET_CRC = 26,        // "Send packet data CRC error!"
    UPG_ERR_NO_PACKET = 27,              // "No Packet receive!"
    UPG_ERR_RECEIVE_HEAD = 28,           // "Receive packet head error!"
    UPG_ERR_HEAD_CRC = 29,               // "Check packet head CRC error!"
    UPG_ERR_RECEIVE_DATA = 30,           // "Receive packet data error!"
    UPG_ERR_DATA_CRC = 31,               // "Check packet data CRC error!"
    UPG_ERR_PACKET_UNRECOGNISED = 32,    // "Packet not recognize!"
    UPG_ERR_COMMAND_UNRECOGNISED = 33,   // "Command not recognize!"
    UPG_ERR_STB_COMPRESS = 34,           // "STB compress transfer data error!"
    UPG_ERR_STB_INCOMPLETE = 35,         // "STB not receive all data!"
    UPG_ERR_FILE_NOT_OPEN = 36,          // "File not open!"
    UPG_ERR_READ_FILE_DATA = 37,         // "Read file data error!"
    UPG_ERR_WRITE_FILE_DATA = 38,        // "Write file data error!"
    UPG_ERR_MALLOC_2 = 39,               // "Malloc memory error"
    UPG_ERR_SEND_PACKET = 40,            // "Send Packet Error!Please Check serial port device"
    UPG_COMMAND_EXECUTED = 42,           // "Command Executed" (no text in edition 2.0.0)
    UPG_STB_BAD_PARAMETER = 0x10000,     // "STB check command line parameter error!"
    UPG_STB_ADDRESS_OVERFLOW = 0x10001,  // "STB set address  overflow!"
    UPG_STB_ADDRESS_NOT_INIT = 0x10002,  // "STB address not init!"
    UPG_STB_CHUNK_NOT_FOUND = 0x10003,   // "STB chunk not found!"
    UPG_STB_NOTHING_TO_BURN = 0x10004,   // "STB nothing can burn!"
    UPG_STB_NO_BUFFER = 0x10005,         // "STB not enough buffer!"
    UPG_STB_DUMP_INCOMPLETE = 0x10006,   // "STB not dump all data!"
};

// Protocol versions read major * 16 + minor. At or above UPG_PROTOCOL_PACKET the commands travel
// in "HEAD" packets; below it they are sent raw with echo checks.
inline constexpr int UPG_PROTOCOL_LEGACY = 0x20;
inline constexpr int UPG_PROTOCOL_PACKET = 0x30;

// ---------------------------------------------------------------------------------------------
// Callbacks. All run on the thread that called the library.

// One log line; the receiver formats it printf-style and filters by level (0 errors, 2 warnings
// and progress marks). Lines carry their own line breaks.
typedef void (*UpgLogCallback)(int level, const char* format, ...);
// Progress: a percentage 0..100 from transfer, burn and dump; the attempt number from
// UpgComTest.
typedef void (*UpgProgressFn)(int value);
// Polled between attempts and packets: 1 asks to cancel, any other value goes on.
typedef int (*UpgCancelFn)(void);

// ---------------------------------------------------------------------------------------------
// Library front

// The library's version text: "3.0.0d" (edition 2.0.1) or "3.0.0b" (edition 2.0.0).
const char* UpgGetLibraryVersion(void);
// Sets (or, with null, clears) the log callback. Called on the interface thread before any
// worker starts.
void UpgSetLogCallback(UpgLogCallback callback);
// Stores the protocol version used by the dispatching operations, and the legacy module's copy
// (which picks the legacy dump variant). Starts as 0 (legacy side); the legacy copy starts 0x20.
void UpgSetProtocolVersion(int version);
// Copies the text of `code` into `buffer` (callers pass 256 bytes) followed by "\r\n" and returns
// 1; returns 0 and leaves the buffer untouched when the code has no text.
int UpgGetErrorText(int code, char* buffer);

// The comtest handshake: up to 200 attempts of about 150 ms while the STB is switched on. On
// success writes *version (0x20 for a plain banner echo, 0x30 for an inverted one) and returns 0;
// returns UPG_ERR_CANCELLED when `cancel` (not null) returns 1, UPG_ERR_NO_TARGET after 200
// fruitless attempts. `progress` (may be null) sees the attempt number every fifth attempt.
int UpgComTest(int* version, UpgProgressFn progress, UpgCancelFn cancel);

// ---------------------------------------------------------------------------------------------
// Serial port: one port for the whole process.

// Parity codes.
enum ComParity : int {
    COM_PARITY_NONE = 0,
    COM_PARITY_ODD = 1,
    COM_PARITY_EVEN = 2,
    COM_PARITY_MARK = 3,
    COM_PARITY_SPACE = 4,
};

// The device that port number `port` (1 for COM1) stands for: the path set with
// ComSetDeviceName, else the fixed table COM1..COM8 = /dev/ttyUSB0..7, COM9..COM16 =
// /dev/ttyACM0..7, COM17..COM32 = /dev/ttyS0..15. Empty for a number outside 1..32 without an
// override.
std::string ComDeviceName(int port);
// Makes port number `port` stand for `path`; an empty path removes the override.
void ComSetDeviceName(int port, const std::string& path);

// Why the last ComOpen failed, so that front ends can say more than "Can not connect serial
// port!". Reset to COM_OPEN_OK by a successful open.
enum ComOpenError : int {
    COM_OPEN_OK = 0,
    COM_OPEN_NO_DEVICE = 1,      // no such device (or no device for that port number)
    COM_OPEN_NO_PERMISSION = 2,  // permission denied: the user is not in the device's group
    COM_OPEN_IN_USE = 3,         // another program holds the device
    COM_OPEN_SETTINGS = 4,       // the device refused the line settings, or another failure
};
ComOpenError ComLastOpenError(void);
// The operating system's error number of the last failed open (0 after a successful one).
int ComLastOpenErrno(void);

// Opens port `port` with `baud` (any rate, unchanged), 8 data bits, parity code `parity`
// (checking on exactly when not 0), one stop bit for stopBits 1 and two for any other value,
// raw, no flow control, exclusive. Returns 0, or UPG_ERR_CONNECT_PORT (also for a parity code
// outside 0..4 or a rate of 0 or less, which the line cannot take).
int ComOpen(int port, int baud, int parity, int stopBits);
// Closes the port; always 0, also when it was not open.
int ComClose(void);
// Reads what is queued, at most `max` bytes, without waiting. Returns the count read.
int ComRead(unsigned char* buffer, int max);
// Waits up to limitMs for `count` bytes to be queued, then reads exactly them. Returns 0 when
// they came, 1 when they did not (a partial arrival stays queued). A count of 0 succeeds at once.
int ComReadExact(unsigned char* buffer, int count, unsigned limitMs);
// Writes `count` bytes, waiting at most count + 100 ms for them to be taken. Returns the count
// written, 0 on failure or time-out.
int ComWrite(const unsigned char* data, int count);
// Writes the low byte of `value` alone. Returns 1 or 0.
int ComWriteByte(int value);
// Writes byte by byte, each checked against the STB's echo within limitMs: 0 when all came back,
// UPG_ERR_SEND_DATA (write failed), UPG_ERR_READ_DATA (no echo) or UPG_ERR_ECHO_MISMATCH (wrong
// echo); nothing is sent after the failing byte.
int ComWriteEchoed(const unsigned char* data, int count, unsigned limitMs);
// Discards unread input (or, failing that, pending output): 0 on success, 1 on failure.
int ComPurge(void);
// Discards pending output: 0 on success, 1 on failure.
int ComPurgeTx(void);

// ---------------------------------------------------------------------------------------------
// CRC-32/MPEG-2: polynomial 0x04C11DB7, MSB first, start 0xFFFFFFFF, no final XOR.

// Builds the process-wide table; must run before the first Crc32Update. Running it again is
// harmless.
void Crc32InitTable(void);
// The CRC register after `count` bytes, starting from `crc` (0xFFFFFFFF for a fresh CRC).
uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, int count);

// ---------------------------------------------------------------------------------------------
// Chunk table and firmware image. A chunk is a 128-byte big-endian header followed by its
// payload; `length` counts the bytes after the first 16 header bytes, `next` the distance to the
// next chunk's header (0 for the last chunk).

inline constexpr uint32_t CHUNK_HEADER_SIZE = 128;
inline constexpr uint32_t CHUNK_NO_CRC = 0x4E435243;  // "NCRC": the chunk carries no CRC
inline constexpr uint32_t CHUNK_ID_BOOTLOADER = 0xE3000010;
inline constexpr uint32_t CHUNK_ID_NO_SLOT = 0x04FB0100;  // sized 16 + length, never a CRC
inline constexpr uint32_t CHUNK_MAX_NEXT = 0x200000;
inline constexpr int CHUNK_TABLE_CAPACITY = 16;

struct ChunkInfo {
    uint32_t id;
    uint32_t length;
    uint32_t next;
    uint32_t crc;
    char name[16];     // NUL-terminated; bytes after the NUL are 0xFF
    char version[16];  // the same
    char extra[16];    // the same; carried along, never interpreted
    int selected;      // the user gave a file for this chunk
    int masked;        // listed in the configured chunk mask
};

struct ChunkTable {
    uint32_t flashSize;   // bytes, from the flash type code; 0 for an unknown code
    uint32_t secondByte;  // the reply's second byte, unchanged
    uint32_t count;       // entries in use, at most CHUNK_TABLE_CAPACITY
    ChunkInfo entries[CHUNK_TABLE_CAPACITY];
};

// Fills `table` from the chunk reply payload: byte 0 the flash type code, byte 1 stored
// unchanged, then one 128-byte header per chunk (a trailing partial record is ignored). The
// boot loader chunk and 0x04FB0100 (edition 2.0.0: every id with their upper 16 bits) are marked
// as carrying no CRC. Texts that fill all 16 bytes are cut to 15 characters. Returns 0; a payload
// shorter than 2 bytes or describing more than CHUNK_TABLE_CAPACITY chunks is refused with
// UPG_ERR_UNRECOGNISED_REPLY and leaves the table with count 0.
int ParseChunkTable(const unsigned char* payload, unsigned length, ChunkTable* table);
// The kind of a chunk id by its upper 16 bits: 1 boot loader, 2..4 the other known kinds, 0 none.
int GetChunkKind(uint32_t id);
// Walks the chunk chain of the image file at `path`, checking every chunk (id rule, `next` and
// `length` bounds, CRC, and the last chunk lying within the file), and looks for the chunk
// `wanted` (bit 0 ignored; edition 2.0.0: exact). Returns 1 when the whole chain is sound and the
// chunk is in it (a later match wins), with its file offset, its size (its slot: `next`, or
// 16 + `length` for the last chunk and for 0x04FB0100) and a 16-byte NUL-terminated text (the
// boot loader's `version`, any other chunk's `name`; edition 2.0.0: the boot loader's `version`
// wherever the walk passes it, else empty). Returns 0 for a missing file, a broken chain or no
// such chunk.
int FindChunkInImage(const char* path, uint32_t wanted, int* fileOffset, int* size, char* text);
// Edition 2.0.0: 1 when the image's chain is sound up to its last chunk and has at least two
// chunks, else 0.
int CheckImageChain(const char* path);
// Builds a 128-byte header from a table entry: 0xFF everywhere, then the four numbers and the
// three 16-byte texts.
void EncodeChunkHeader(const ChunkInfo* entry, unsigned char* out);
// Puts the entry's numbers and texts (each up to its NUL) over the first 64 bytes of `out`,
// leaving every other byte as it was.
void OverlayChunkHeader(const ChunkInfo* entry, unsigned char* out);
// The flash offset and size of entry `index` for a dump: its slot, without the 128-byte header
// for every chunk but the boot loader, the chain taken to start at flash offset 0. Returns 1, or
// 0 when index is not below table->count or the span cannot be given (a slot shorter than the
// header, or an offset or size beyond the int range).
int GetChunkSpan(const ChunkTable* table, unsigned index, int* start, int* size);

// ---------------------------------------------------------------------------------------------
// Flash operations. Each goes to the packet command when the protocol version is 0x30 or above
// and to the legacy command below it, and returns that command's status code.

// "version" then "chunk" (packet), or "version -r" (legacy): the STB's protocol version and
// its chunk table.
int UpgGetVersionAndChunks(int* version, ChunkTable* table);
// "address %u": where the following transfers and moves are staged.
int UpgSetAddress(unsigned address);
// "move %u %u": stage a chunk the STB already holds (the task passes its id and `next`).
int UpgMove(unsigned first, unsigned second);
// Sends `length` bytes of `data` ("transfer", or "transferraw" for the legacy protocol). The
// packet protocol first offers the data to the external encoder and sends the encoded form
// ("transfer -z") whenever it fits twice the data length; it writes that form over the start of
// the buffer, so the buffer needs room for 2 * length bytes and its contents are undefined
// afterwards. `progress` and `cancel` may be null. Returns 0, UPG_ERR_CANCELLED, the command's
// code or the STB's failure code.
int UpgTransfer(unsigned char* data, int length, UpgProgressFn progress, UpgCancelFn cancel);
// "burn": the STB writes what was staged; `total` bytes give the progress percentage (100 when
// total is 0). Blocks until the STB reports the outcome. Packet protocol: five 10 s windows
// without a busy status ask the STB again; edition 2.0.0 instead gives up with UPG_ERR_TIMEOUT
// after 10 minutes in all. Legacy: 30 s of silence give UPG_ERR_TIMEOUT.
int UpgBurn(int total, UpgProgressFn progress);
// The room UpgDump needs in its buffer: the largest flash, whatever is asked for.
inline constexpr int UPG_DUMP_CAPACITY = 0x200000;
// Reads `size` bytes of flash from `start` (0 and 0: the whole flash) into `buffer`, which must
// have room for UPG_DUMP_CAPACITY bytes: the STB announces the total itself, and the oldest
// legacy loader sends its whole flash. *length receives the total. A total, block or packet that
// would not fit is refused with UPG_ERR_DUMP_LENGTH before a byte of it is stored.
int UpgDump(unsigned char* buffer, int* length, UpgProgressFn progress, UpgCancelFn cancel,
            unsigned start, unsigned size);
// "reboot".
int UpgReboot(void);
