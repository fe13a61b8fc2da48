#include "tasks/upgrade_context.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "tasks/connect_task.h"
#include "tasks/notify.h"
#include "tasks/upgrade_task.h"

int g_comPort = 1;
int g_comBaud = 115200;
int g_comParity = COM_PARITY_EVEN;
std::atomic<int> g_cancelRequested{0};
int g_burnTotal = 0;
ChunkTable g_chunkTable = {};

namespace {

// How long CloseContext waits for a worker to stop after asking it to.
constexpr unsigned kCloseWaitMs = 10000;

CUpgradeContext* g_context = nullptr;

// The last worker started. g_workerRunning turns false as the procedure returns, so that a
// close can wait for it with a time limit (a std::thread has no timed join).
std::thread g_workerThread;
std::mutex g_workerMutex;
std::condition_variable g_workerEnded;
bool g_workerRunning = false;

int StartTask(TaskState claim, unsigned (*procedure)(void*)) {
    CUpgradeContext* context = GetContext();
    int expected = TASK_IDLE;
    if (!context->taskState.compare_exchange_strong(expected, claim)) {
        return 0;
    }
    // The cancel flag is cleared here, before the worker runs, and not by the worker: a Cancel
    // pressed between this request and the worker's first step must not be lost.
    g_cancelRequested = 0;
    // The previous worker has set the state idle as its last step; it is ending now.
    if (g_workerThread.joinable()) {
        g_workerThread.join();
    }
    {
        std::lock_guard<std::mutex> lock(g_workerMutex);
        g_workerRunning = true;
    }
    try {
        g_workerThread = std::thread([procedure] {
            procedure(nullptr);
            {
                std::lock_guard<std::mutex> lock(g_workerMutex);
                g_workerRunning = false;
            }
            g_workerEnded.notify_all();
        });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(g_workerMutex);
        g_workerRunning = false;
        context->taskState = TASK_IDLE;
        return 0;
    }
    return 1;
}

}  // namespace

CUpgradeContext::CUpgradeContext() = default;

CUpgradeContext* GetContext() {
    if (g_context == nullptr) {
        g_context = new CUpgradeContext;
    }
    return g_context;
}

int CUpgradeContext::InitContext() {
    LoadConfig();
    UpgSetLogCallback(OnLibraryLog);
    return 1;
}

int CUpgradeContext::ResetFileRecords() {
    int last = static_cast<int>(g_chunkTable.count) + kChunkRecordBase - 1;
    if (last > kFileRecordCount - 1) {
        last = kFileRecordCount - 1;
    }
    for (int i = 0; i <= last; ++i) {
        files[i] = FileRecord();
    }
    return 1;
}

FileRecord* CUpgradeContext::ChunkRecord(int chunk) {
    if (chunk < 0 || chunk >= kChunksWithRecords) {
        return nullptr;
    }
    return &files[chunk + kChunkRecordBase];
}

const FileRecord* CUpgradeContext::ChunkRecord(int chunk) const {
    return const_cast<CUpgradeContext*>(this)->ChunkRecord(chunk);
}

int StartConnectTask() {
    return StartTask(TASK_CONNECTING, ConnectThreadProc);
}

int StartUpgradeTask() {
    return StartTask(TASK_UPGRADING, UpgradeThreadProc);
}

bool WaitForWorker(unsigned timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(g_workerMutex);
        if (!g_workerEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [] { return !g_workerRunning; })) {
            return false;
        }
    }
    if (g_workerThread.joinable()) {
        g_workerThread.join();
    }
    return true;
}

void CUpgradeContext::CloseContext() {
    if (taskState != TASK_IDLE) {
        g_cancelRequested = 1;
    }
    bool ended = WaitForWorker(kCloseWaitMs);
    // A burn is never abandoned: ending the program then would leave the flash half written.
    while (!ended && taskState == TASK_BURNING) {
        ended = WaitForWorker(kCloseWaitMs);
    }
    if (!ended) {
        // The worker is stuck in a library call; the program ends now, with its settings saved.
        SaveConfig();
        std::_Exit(0);
    }
    SaveConfig();
    UpgSetLogCallback(nullptr);
    delete g_context;  // this object
    g_context = nullptr;
}
