#include "tasks/connect_task.h"

#include <cstring>

#include "library/link/upgrade.h"
#include "platform/clock.h"
#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"

namespace {

constexpr unsigned kPauseBeforeQueryMs = 100;

// Marks each chunk whose id is listed in the mask.
void MarkMaskedChunks(const CUpgradeContext& context) {
    for (uint32_t i = 0; i < g_chunkTable.count && i < CHUNK_TABLE_CAPACITY; ++i) {
        for (int m = 0; m < context.maskCount && m < kMaskCapacity; ++m) {
            if (g_chunkTable.entries[i].id == context.maskIds[m]) {
                g_chunkTable.entries[i].masked = 1;
                break;
            }
        }
    }
}

// bootVersion: the boot loader chunk's version text, cut to 15 characters; left empty when the
// table has no chunk.
void StoreBootVersion(CUpgradeContext& context) {
    std::memset(context.bootVersion, 0, sizeof context.bootVersion);
    if (g_chunkTable.count == 0) {
        return;
    }
    const char* version = g_chunkTable.entries[0].version;
    size_t length = 0;
    while (length < sizeof context.bootVersion - 1 && version[length] != '\0') {
        ++length;
    }
    std::memcpy(context.bootVersion, version, length);
}

}  // namespace

int OpenAndSync() {
    CUpgradeContext* context = GetContext();
    if constexpr (kEdition201) {
        PostTaskText("Please power on your STB.", 1);
    }
    PostTaskText("Open Serial Port..", 1);
    int result = ComOpen(g_comPort, g_comBaud, g_comParity, 1);
    if (result != 0) {
        return result;
    }
    PostTaskText("Sync to serial port..", 1);
    int version = 0;
    result = UpgComTest(&version, nullptr, IsCancelRequested);
    if (context->protocolVersion == 0) {
        context->protocolVersion = version;
        UpgSetProtocolVersion(version);
    }
    return result;
}

unsigned ConnectThreadProc(void* /*parameter*/) {
    CUpgradeContext* context = GetContext();
    context->taskState = TASK_CONNECTING;
    context->protocolVersion = 0;
    Crc32InitTable();

    int result = OpenAndSync();
    if (result == 0) {
        PlatformSleep(kPauseBeforeQueryMs);
        PostTaskText("Get Client protocol version  & chunk", 1);
        result = UpgGetVersionAndChunks(&context->protocolVersion, &g_chunkTable);
        if (result == 0) {
            MarkMaskedChunks(*context);
        }
    }
    if (result != 0) {
        PostErrorText(result);
    } else {
        StoreBootVersion(*context);
        if (context->protocolVersion == 0) {
            context->protocolVersion = context->transferFormat2 != 0 ? 0x20 : 0x10;
        }
        UpgSetProtocolVersion(context->protocolVersion);
    }
    PostTaskMessage(WM_CONNECT_DONE, result == 0 ? 1 : 0, 0);
    // The port is closed before the state turns idle, so that a task started at once never has
    // its freshly opened port closed under it.
    ComClose();
    context->taskState = TASK_IDLE;
    return 1;
}
