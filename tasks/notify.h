// The one-way channel from the tasks to the user interface: the log, progress and cancel
// callbacks that the tasks hand to the library, and the posting functions through which the
// tasks report. Every report becomes a message posted to the registered main window
// (platform/message_channel.h); with no main window registered, reports are dropped.
//
// Messages and what they carry:
//   WM_TASK_STATUS    text: a step text; the page shows it as its status line and as a log line
//   WM_TASK_LOG       text: appended to the log unchanged (it carries its own line breaks)
//   WM_TASK_PROGRESS  wParam: percentage 0..100
//   WM_CONNECT_DONE   wParam: 1 the connect succeeded, 0 it failed or was cancelled
//   WM_UPGRADE_DONE   wParam: 1 the upgrade or dump failed, 0 it succeeded;
//                     lParam: 1 the cancel flag was set, else 0
//   WM_BURN_BEGIN     nothing: the burn starts, nothing can be cancelled until WM_UPGRADE_DONE
// A text travels in PostedMessage::text, owned by the message: the handler frees it by letting
// the message go; a window that re-posts a message to a page moves it on unchanged. Texts are
// 8-bit, never cut.
#pragma once

#include <cstdint>

inline constexpr unsigned kWmApp = 0x8000;  // the first private application message number
inline constexpr unsigned WM_TASK_STATUS = kWmApp + 100;
inline constexpr unsigned WM_TASK_LOG = kWmApp + 101;
inline constexpr unsigned WM_TASK_PROGRESS = kWmApp + 102;
inline constexpr unsigned WM_CONNECT_DONE = kWmApp + 103;
inline constexpr unsigned WM_UPGRADE_DONE = kWmApp + 104;
inline constexpr unsigned WM_BURN_BEGIN = kWmApp + 105;

// Posts a copy of `text`: WM_TASK_STATUS when isStatus is non-zero, WM_TASK_LOG when it is 0.
void PostTaskText(const char* text, int isStatus);
// Posts the text of status code `code` followed by "\r\n" as a WM_TASK_LOG; nothing when the
// code has no text.
void PostErrorText(int code);
// Posts WM_TASK_PROGRESS with the percentage.
void PostProgress(int percentage);
// Posts a message without text (WM_CONNECT_DONE, WM_UPGRADE_DONE, WM_BURN_BEGIN).
void PostTaskMessage(unsigned message, uintptr_t wParam, intptr_t lParam);

// The library's log callback: drops the line when `level`, compared unsigned, is below the
// context's warningLevel (or when there is no context); otherwise formats it printf-style and
// posts it as a WM_TASK_LOG.
void OnLibraryLog(int level, const char* format, ...);
// The library's progress callback: PostProgress.
void OnLibraryProgress(int percentage);
// The library's cancel poll: the cancel flag g_cancelRequested, 0 or 1.
int IsCancelRequested(void);
