// What the wizard's Qt Tests share: a private settings directory, the message boxes and the file
// chooser replaced by recorders, an optional STB simulator on a pseudo-terminal behind COM1, and
// the sheet itself, shown offscreen.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/stbsim/stbsim.h"
#include "wizard/upgrade_sheet.h"
#include "wizard/wizard_dialogs.h"

class QTreeWidget;

class WizardHarness {
  public:
    WizardHarness();
    ~WizardHarness();
    WizardHarness(const WizardHarness&) = delete;
    WizardHarness& operator=(const WizardHarness&) = delete;

    // Starts the simulator; COM1 then stands for its pseudo-terminal. False with a message.
    bool StartSimulator(stbsim::StbSimOptions options, std::string* error);
    stbsim::StbSimServer* Simulator() { return m_sim.get(); }
    // Writes the settings file: section "Config" with `config` (lines ending in "\r\n"; by
    // default Port 1, Baud 115200, Parity 2) and COM1 = `device` (the simulator's line when
    // empty), then starts the context (reads it) and builds and shows the sheet.
    void Open(const std::string& device = {}, const std::string& config = kDefaultConfig);
    static constexpr const char* kDefaultConfig = "Port=1\r\nBaud=115200\r\nParity=2\r\n";
    CUpgradeSheet& Sheet() { return *m_sheet; }
    bool SheetClosed() const { return m_sheet == nullptr || m_sheet->IsEnding(); }

    // A file in the private directory with these bytes; returns its path.
    QString WriteFile(const QString& name, const std::vector<uint8_t>& bytes);
    QString DirPath(const QString& name) const { return m_dir.filePath(name); }

    // The chooser answers with the paths queued here, in order (an empty text: cancelled), and
    // records what it was asked for.
    void QueueChoice(const QString& path) { m_choices.push_back(path); }
    const std::vector<FileChoice>& ChooserCalls() const { return m_chooserCalls; }
    // The texts of the message boxes shown so far.
    const QStringList& Boxes() const { return m_boxes; }

    // Clicks a wizard button as the user would.
    void Click(int buttonId);
    QString ButtonText(int buttonId);
    bool ButtonEnabled(int buttonId);
    // Double-clicks row `row` of the select page's list.
    void DoubleClickRow(int row);

    // Waits for `condition`, processing events, up to `timeoutMs`.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<stbsim::StbSimServer> m_sim;
    std::unique_ptr<CUpgradeSheet> m_sheet;
    std::vector<QString> m_choices;
    std::vector<FileChoice> m_chooserCalls;
    QStringList m_boxes;
};

// The firmware image that fits the simulator's default STB (its own boot loader chunk).
std::vector<uint8_t> DefaultFirmware();
