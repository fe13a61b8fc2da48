// Showing the tasks' texts: 8-bit texts with "\r\n" line breaks, in plain-text widgets.
#pragma once

#include <QString>
#include <string>

class QPlainTextEdit;

// A task's text for display: Windows-1252 to Unicode, "\r\n" (or a lone "\r") to a line break.
QString DisplayText(const std::string& text);
// Appends `text` at the end of the log without moving its view.
void AppendToLog(QPlainTextEdit* log, const QString& text);
// Scrolls the log down so that its last line is in view.
void ScrollLogToEnd(QPlainTextEdit* log);
