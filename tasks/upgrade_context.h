// The state that the user interface and the worker tasks share: the one upgrade context, the
// task states, the process-wide serial settings, cancel flag and chunk table, and the starting
// and stopping of the one worker thread.
//
// Threads: at most two, the user-interface thread and one worker. The worker writes taskState,
// protocolVersion, bootVersion, g_burnTotal and the chunk table's flags; the interface thread
// reads them only after the task's final message (WM_CONNECT_DONE, WM_UPGRADE_DONE) has arrived.
// The interface thread writes operation, the serial settings and the file records only while no
// task runs. The cancel flag and the task state are atomics, written by both.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "library/link/upgrade.h"
#include "platform/edition.h"

enum TaskState : int {
    TASK_IDLE = 0,        // no worker runs
    TASK_CONNECTING = 1,  // the connect task runs
    TASK_UPGRADING = 2,   // the upgrade or dump task runs, before the burn
    TASK_BURNING = 3,     // the burn runs: nothing may cancel it or close the program
};

// One file choice. An empty path means the record names no file.
struct FileRecord {
    std::string path;
    int fileOffset = 0;           // where the data to send begin in the file
    int length = 0;               // bytes to read from the file
    unsigned char fromImage = 0;  // 1: the bytes begin with the chunk's own 128-byte header
};

// Which record serves which purpose.
//   edition 2.0.1: record 0 the whole image (left empty by the select rules: an upgrade then
//                  goes chunk by chunk), record i + 1 chunk i;
//   edition 2.0.0: record 0 the whole image without the boot loader, record 1 the whole image
//                  with it (also the whole-flash dump), record i + 2 chunk i.
inline constexpr int kFileRecordCount = 16;
inline constexpr int kRecordAllChunks = kEdition200 ? 1 : 0;
inline constexpr int kRecordAllChunksNoBootLoader = 0;  // edition 2.0.0 only
inline constexpr int kChunkRecordBase = kEdition200 ? 2 : 1;
// Chunks beyond this many have no record: 15 (2.0.1) or 14 (2.0.0).
inline constexpr int kChunksWithRecords = kFileRecordCount - kChunkRecordBase;
inline constexpr int kMaskCapacity = 16;

class CUpgradeContext {
  public:
    CUpgradeContext();
    virtual ~CUpgradeContext() = default;
    CUpgradeContext(const CUpgradeContext&) = delete;
    CUpgradeContext& operator=(const CUpgradeContext&) = delete;

    // Start-up: LoadConfig, then registers OnLibraryLog with the library. Returns 1.
    int InitContext();
    // Reads the settings file (tasks/config.h) into g_comPort, g_comBaud, g_comParity,
    // warningLevel, transferFormat2 and the mask, and hands the "Ports" entries to
    // ComSetDeviceName. A missing file, section or key leaves the value as it was. Returns 1.
    int LoadConfig();
    // Writes "Port", "Baud" and "Parity" into the settings file, keeping every other line; the
    // file is replaced whole, so a crash leaves the old or the new file. Failures are ignored.
    // Returns 1.
    int SaveConfig();
    // Reads the "ChunkMask" text: hexadecimal ids, each followed by a comma (text after the last
    // comma is ignored); ids beyond the 16th are ignored. Returns 1.
    int ParseChunkMask(const char* text);
    // Empties records 0 .. count (edition 2.0.0: 0 .. count + 1) for the current chunk table,
    // never beyond the last record. Returns 1.
    int ResetFileRecords();
    // The record of chunk i, or null when chunk i has no record.
    FileRecord* ChunkRecord(int chunk);
    const FileRecord* ChunkRecord(int chunk) const;
    // The wizard closes: asks a running worker to stop and waits for it up to 10 s, saves the
    // settings, destroys this context and sets the context pointer to null (this object must
    // not be used afterwards). Where the worker has not ended by then, the settings are saved
    // and the process ends (exit code 0): a thread cannot be ended by force here. A worker that
    // is burning the flash is waited for as long as the burn lasts.
    void CloseContext();

    int operation = 0;  // 0 upgrade, 1 data dump
    int maskCount = 0;
    uint32_t maskIds[kMaskCapacity] = {};
    int protocolVersion = 0;  // the STB's protocol version, major * 16 + minor; 0 before a connect
    FileRecord files[kFileRecordCount];
    std::atomic<int> taskState{TASK_IDLE};
    int warningLevel = kEdition200 ? 0 : 1;  // library log lines below this level are dropped
    int transferFormat2 = 1;    // non-zero: an STB that reports no version speaks 0x20, else 0x10
    char bootVersion[16] = {};  // version text of the STB's boot loader chunk, NUL-terminated
};

// The one context, created on first use (on the interface thread, before any worker).
CUpgradeContext* GetContext();

// Start the connect task (ConnectThreadProc) or the upgrade or dump task (UpgradeThreadProc) on
// a new worker thread. Return 0 and start nothing while a task runs; the task state is claimed
// here, before the thread runs, so two quick requests never start two workers. Return 1.
int StartConnectTask();
int StartUpgradeTask();
// Waits up to `timeoutMs` for the last worker started to end; true when none runs (any more).
// For the command line and the tests; the wizard waits for the final message instead.
bool WaitForWorker(unsigned timeoutMs);

// Process-wide values.
extern int g_comPort;                       // serial port number, COMn (settings "Port"), starts 1
extern int g_comBaud;                       // bits per second (settings "Baud"), starts 115200
extern int g_comParity;                     // parity code (settings "Parity"), starts 2 (even)
extern std::atomic<int> g_cancelRequested;  // 1 when the user asked to cancel the running task
extern int g_burnTotal;          // byte count handed to the burn, written by the upgrade task
extern ChunkTable g_chunkTable;  // the STB's chunks, filled by the connect task
