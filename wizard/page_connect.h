// Page 0: the serial settings, the Connect button (captioned "Cancel" while the connect task
// runs) and the task's step texts and log. The page never moves the wizard on itself: the sheet
// does when the task reports success.
#pragma once

#include <QString>
#include <memory>

#include "wizard/wizard_framework.h"

namespace Ui {
class PageConnect;
}

class CPageConnect : public CWizardPage {
    Q_OBJECT
  public:
    CPageConnect();
    ~CPageConnect() override;

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnKillActive() override;
    int OnWizardNext() override;
    void OnCancel() override;
    bool PreTranslateMessage(WizardMessage& message) override;

    const Ui::PageConnect& Controls() const { return *m_ui; }

  private:
    void ShowDevice(int index);

    std::unique_ptr<Ui::PageConnect> m_ui;
    QString m_strLog;  // the log's text while the page is not showing
};

// Parity list index <-> parity code: None 0, Even 2, Odd 1, Mark 3, Space 4. -1 for no match.
int ParityCodeOfIndex(int index);
int ParityIndexOfCode(int code);
