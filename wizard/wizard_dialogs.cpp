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
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList ToQtFilters(const std::string& filter) {
    QStringList parts = FromProgramText(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString pattern = parts[i + 1].trimmed();
        if (pattern.isEmpty())
            continue;
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        out.push_back(description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    }
    return out;
}
