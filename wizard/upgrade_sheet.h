// The wizard sheet: the program's main window. It holds the connect, select and process pages
// in that order, shows the banner (with the STB's protocol version after a connect) in its title
// and the library's version at its bottom left, receives the tasks' messages and hands them to
// the page that is showing, and closes only through its close procedure, which refuses while
// the flash is burnt.
#pragma once

#include <QLabel>
#include <QString>

#include "platform/message_channel.h"
#include "wizard/page_connect.h"
#include "wizard/page_process.h"
#include "wizard/page_select.h"
#include "wizard/wizard_framework.h"

// The title banner and the caption the sheet is created with.
QString SheetBanner();

class CUpgradeSheet : public CWizardSheet {
    Q_OBJECT
  public:
    CUpgradeSheet();
    ~CUpgradeSheet() override;

    // Adds the three pages in their order; called once, by the constructor.
    virtual void AddPages();
    // The banner alone for version 0, else the banner followed by " Protocol version: %d.%d"
    // (major in bits 4 to 7, minor in bits 0 to 3).
    virtual void ShowProtocolVersion(unsigned version);

    CPageConnect& PageConnect() { return m_pageConnect; }
    CPageSelect& PageSelect() { return m_pageSelect; }
    CPageProcess& PageProcess() { return m_pageProcess; }
    QLabel* VersionText() const { return m_versionText; }

  protected:
    bool PreTranslateMessage(WizardMessage& message) override;
    void OnClose() override;
    bool OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceVersionText();

    CPageConnect m_pageConnect;
    CPageSelect m_pageSelect;
    CPageProcess m_pageProcess;
    QLabel* m_versionText = nullptr;
    // Registered as the message channel's main window for the sheet's life; declared last, so
    // that it is removed first, before anything a post could reach is destroyed.
    PlatformMainWindowScope m_channel;
};
