#include "tasks/notify.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "library/link/upgrade.h"
#include "platform/message_channel.h"
#include "tasks/upgrade_context.h"

namespace {

// Library log lines are formatted here first; a longer line is formatted again at its length.
constexpr size_t kLogLineSize = 1024;
// Status texts have room for 255 characters (the table's longest has 49).
constexpr size_t kErrorTextSize = 256;

}  // namespace

void PostTaskText(const char* text, int isStatus) {
    PostedMessage message;
    message.message = isStatus != 0 ? WM_TASK_STATUS : WM_TASK_LOG;
    message.text = text != nullptr ? text : "";
    PlatformPostToMainWindow(std::move(message));
}

void PostErrorText(int code) {
    char buffer[kErrorTextSize] = {};
    if (UpgGetErrorText(code, buffer) == 1) {
        buffer[kErrorTextSize - 1] = '\0';
        PostTaskText(buffer, 0);
    }
}

void PostTaskMessage(unsigned number, uintptr_t wParam, intptr_t lParam) {
    PostedMessage message;
    message.message = number;
    message.wParam = wParam;
    message.lParam = lParam;
    PlatformPostToMainWindow(std::move(message));
}

void PostProgress(int percentage) {
    PostTaskMessage(WM_TASK_PROGRESS, static_cast<uintptr_t>(percentage), 0);
}

void OnLibraryLog(int level, const char* format, ...) {
    if (format == nullptr ||
        static_cast<unsigned>(level) < static_cast<unsigned>(GetContext()->warningLevel)) {
        return;
    }
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof line) {
        va_end(again);
        PostTaskText(line, 0);
        return;
    }
    std::vector<char> longLine(static_cast<size_t>(needed) + 1);
    std::vsnprintf(longLine.data(), longLine.size(), format, again);
    va_end(again);
    PostTaskText(longLine.data(), 0);
}

void OnLibraryProgress(int percentage) {
    PostProgress(percentage);
}

int IsCancelRequested(void) {
    return g_cancelRequested.load();
}
