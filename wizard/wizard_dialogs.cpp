#include "wizard/wizard_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <utility>

#include "platform/edition.h"

namespace {

MessageBoxFn& BoxFn() {
    static MessageBoxFn fn;
    return fn;
}

ChooseFileFn& ChooserFn() {
    static ChooseFileFn fn;
    return fn;
}

void RealMessageBox(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationCaption(), text, QMessageBox::Ok, owner);
    box.exec();
}

QString RealChooseFile(QWidget* owner, const FileChoice& choice) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(choice.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // One file: an existing one to read, or any name to write (an existing file is confirmed
    // before it is overwritten).
    dialog.setFileMode(choice.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(choice.filters);
    dialog.setDefaultSuffix(choice.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.size() == 1 ? files.front() : QString();
}

}  // namespace

void SetMessageBoxFn(MessageBoxFn fn) {
    BoxFn() = std::move(fn);
}
void SetChooseFileFn(ChooseFileFn fn) {
    ChooserFn() = std::move(fn);
}

void ShowMessageBox(QWidget* owner, const QString& text) {
    if (BoxFn()) {
        BoxFn()(owner, text);
    } else {
        RealMessageBox(owner, text);
    }
}

QString ChooseFile(QWidget* owner, const FileChoice& choice) {
    return ChooserFn() ? ChooserFn()(owner, choice) : RealChooseFile(owner, choice);
}

QString ApplicationCaption() {
    return QStringLiteral("STB Upgrade ") + QString::fromLatin1(kEditionText);
}

QString FromProgramText(const std::string& text) {
    // Windows-1252 is Latin-1 but for 0x80 to 0x9F, where it has the euro sign, the typographic
    // quotes and dashes; its five unassigned bytes there keep their own code points.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte >= 0x80 && byte < 0xA0 ? QChar(kHigh[byte - 0x80]) : QChar(byte));
    }
    return out;
}

QStringList ToQtFilters(const std::string& filter) {
    QStringList parts = FromProgramText(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString pattern = parts[i + 1].trimmed();
        if (pattern.isEmpty())
            continue;
        // Qt reads the patterns from the parentheses that end an entry, so an entry that ends in
        // its own pattern is shown as it is. "*.*" means any file, also one without a dot, which
        // is Qt's "*".
        const QString own = QLatin1Char('(') + pattern + QLatin1Char(')');
        if (pattern == QLatin1String("*.*")) {
            out.push_back(description + QStringLiteral(" (*)"));
        } else if (description.endsWith(own)) {
            out.push_back(description);
        } else {
            out.push_back(description + QLatin1Char(' ') + own);
        }
    }
    return out;
}
