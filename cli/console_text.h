// What upgrade-cli prints: the tasks' status and log lines as the wizard's log shows them, and
// the STB's description for "info". Pure text functions, so that they can be tested apart from
// the terminal.
//
// The tasks' texts are 8-bit in the Windows-1252 code page and carry Windows line breaks; texts
// from the STB (chunk names, versions) may hold any byte. Everything printed passes through
// TerminalText, so that a hostile chunk name cannot move the cursor or change the terminal.
#pragma once

#include <string>
#include <string_view>

#include "library/link/upgrade.h"

// The window title's banner of this edition.
const char* TitleBanner();

// `text` made safe and readable on a UTF-8 terminal: CR LF becomes LF; every other control
// character (a lone CR too) becomes "\xNN"; bytes 0xA0..0xFF are taken as Latin-1 and written
// as UTF-8 (0xB4 is the acute accent of "can\xB4t"); bytes 0x80..0x9F become "\xNN".
std::string TerminalText(std::string_view text);

// Joins status lines and log texts into the text of the wizard's log of the running task, which
// each task starts empty. A log text is appended as it is (it carries its own line breaks). A
// status text is appended with a line break after it on the connect page, and on the process
// page with a line break before it unless it is the log's first text. Each call returns what to
// write, already passed through TerminalText.
class LogText {
  public:
    enum class Page { kConnect, kProcess };
    // A task begins, shown on `page`: its log is empty again.
    void Begin(Page page);
    std::string Status(std::string_view text);
    std::string Log(std::string_view text);
    // A line of the program's own (a result text, a refusal message), outside the tasks' logs:
    // on a line of its own.
    std::string Line(std::string_view text);
    // A line break when the last text left a line open, else nothing.
    std::string Finish();

  private:
    std::string Emit(std::string text);
    Page m_page = Page::kConnect;
    bool m_atLineStart = true;  // what was written so far ends with a line break
    bool m_written = false;     // the running task's log holds text
};

// The title as the wizard shows it after a connect: "<banner> Protocol version: 3.0", or the
// banner alone for version 0.
std::string FormatTitle(int protocolVersion);
// The flash size in bytes and, when whole, in KiB or MiB; "unknown" for 0.
std::string FormatFlashSize(uint32_t bytes);
// The chunk table: a heading line and one line per chunk (index, id, name, version, length,
// next, CRC, masked), each ending in a line break.
std::string FormatChunkTable(const ChunkTable& table);
// The whole "info" report: title, boot loader version, flash size, chunk table and (edition
// 2.0.1) the firmware-family message.
std::string FormatInfo(const ChunkTable& table, int protocolVersion, const char* bootVersion);
