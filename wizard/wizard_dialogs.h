// The message boxes and the file chooser of the wizard, replaceable for tests. The program uses
// the real ones: a modal box with an OK button captioned with the application's name, and
// Qt's file dialog for one file.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QWidget;

// What the file chooser is asked for.
struct FileChoice {
    bool save = false;      // a file to write (dump) instead of one to read (upgrade)
    QString defaultSuffix;  // appended to a typed name without an extension
    QStringList filters;    // Qt name filters, the chunk's own kind first
};

// Shows `text` in a modal box with an OK button, owned by `owner` (null: no owner).
using MessageBoxFn = std::function<void(QWidget* owner, const QString& text)>;
// Lets the user pick one file; an empty text when the choice was cancelled.
using ChooseFileFn = std::function<QString(QWidget* owner, const FileChoice& choice)>;

// Replace the box or the chooser (an empty function puts the real one back).
void SetMessageBoxFn(MessageBoxFn fn);
void SetChooseFileFn(ChooseFileFn fn);

void ShowMessageBox(QWidget* owner, const QString& text);
QString ChooseFile(QWidget* owner, const FileChoice& choice);

// The caption of the boxes: the caption resource "STB Upgrade 2.0.1" ("STB Upgrade 2.0.0").
QString ApplicationCaption();

// An 8-bit text of the program or the STB (Windows-1252; the accent of "can\xB4t" is 0xB4) as a
// QString.
QString FromProgramText(const std::string& text);

// Turns a chooser filter of the form "Name(*.ext)|*.ext|...|" into Qt name filters: a
// description that ends in its own pattern in parentheses as it is, any other with the pattern
// behind it; "*.*" becomes "*" behind its description (any file, with or without a dot). An
// entry without a pattern is dropped.
QStringList ToQtFilters(const std::string& filter);
