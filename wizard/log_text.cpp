#include "wizard/log_text.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "wizard/wizard_dialogs.h"

QString DisplayText(const std::string& text) {
    QString out = FromProgramText(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void AppendToLog(QPlainTextEdit* log, const QString& text) {
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void ScrollLogToEnd(QPlainTextEdit* log) {
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}
