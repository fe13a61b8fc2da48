// Page 2: the running task's step, its progress and log, Cancel while the data go out, every
// button locked while the flash is burnt, and at the end the result box and "Restart",
// "Finish" and "Exit".
#pragma once

#include "wizard/wizard_framework.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;

class CPageProcess : public CWizardPage {
    Q_OBJECT
  public:
    CPageProcess();
    ~CPageProcess() override;

    bool OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    bool PreTranslateMessage(WizardMessage& message) override;

    QLabel* Status() const { return m_status; }
    QProgressBar* Progress() const { return m_progress; }
    QLabel* Percent() const { return m_percent; }
    QPlainTextEdit* Log() const { return m_log; }
    // True once the run has ended (its result shown) and until the page is shown again.
    bool Finished() const { return m_finished; }

  private:
    void OnUpgradeDone(const WizardMessage& message);
    void EnableAllButtons(bool enable);

    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_percent = nullptr;
    QPlainTextEdit* m_log = nullptr;
    bool m_finished = false;
};

// The result box's text: "Upgrade " or "Dump " followed by "Success!" or "Error".
QString ResultText(int operation, bool failed);
