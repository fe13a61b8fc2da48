// The thin wizard framework that the sheet and the pages are written against, on Qt Widgets:
// a sheet with pages in a fixed order and programmatic page selection, three buttons addressed
// by id whose captions and enabled states can be set at any time, a pre-translation chain (the
// active page first, then the sheet) that sees keys before the focused control and every
// message posted to the sheet, and posting from any thread with the posting order kept.
//
// Messages carry window-message numbers (WM_CLOSE, WM_KEYDOWN, the task messages of
// tasks/notify.h) so that the pages read like the rest of the program. A message is addressed to
// the sheet or to one page; a message that nobody handles goes to the addressee's window
// procedure (the sheet's closes on WM_CLOSE; a page's drops it).
#pragma once

#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_channel.h"

class QPushButton;
class QStackedWidget;
class CWizardSheet;

// The window messages the framework produces or understands.
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr unsigned WM_KEYDOWN = 0x0100;
inline constexpr uintptr_t HTCLOSE = 20;  // WM_NCLBUTTONDOWN: the click hit the close box
inline constexpr uintptr_t VK_RETURN = 13;
inline constexpr uintptr_t VK_ESCAPE = 27;

// The wizard buttons' ids.
inline constexpr int ID_WIZBACK = 0x3023;
inline constexpr int ID_WIZNEXT = 0x3024;
inline constexpr int IDCANCEL = 2;
// What PressButton presses.
inline constexpr int PSBTN_BACK = 0;
inline constexpr int PSBTN_NEXT = 1;
inline constexpr int PSBTN_CANCEL = 5;

class CWizardPage;

// One message on its way through the chain. Keys carry the key code in wParam: VK_RETURN and
// VK_ESCAPE for Enter and Esc, Qt's key number for any other key.
struct WizardMessage {
    CWizardPage* page = nullptr;  // the addressee; null: the sheet
    unsigned message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::string text;  // the text a task message carries

    static WizardMessage From(PostedMessage posted, CWizardPage* page = nullptr);
};

// A page: a widget shown by the sheet, with the hooks the sheet calls.
class CWizardPage : public QWidget {
    Q_OBJECT
  public:
    explicit CWizardPage(QWidget* parent = nullptr);

    // The sheet the page was added to (set by CWizardSheet::AddPage).
    CWizardSheet* GetSheet() const { return m_sheet; }
    // True once the page has been shown (its OnInitDialog ran).
    bool IsCreated() const { return m_created; }

    // Once, before the page is first shown.
    virtual bool OnInitDialog() { return true; }
    // Each time the page becomes the active one.
    virtual bool OnSetActive() { return true; }
    // Each time another page replaces it.
    virtual bool OnKillActive() { return true; }
    // Next and Back: 0 moves to the following (previous) page, -1 stays.
    virtual int OnWizardNext() { return 0; }
    virtual int OnWizardBack() { return 0; }
    // The wizard's Cancel button was pressed; told to every page created so far.
    virtual void OnCancel() {}
    // Sees the page's keys and the messages addressed to it before anything else. True: handled,
    // not passed on.
    virtual bool PreTranslateMessage(WizardMessage& message);

  protected:
    // Esc: posts WM_CLOSE to the sheet, so that its close procedure decides. True for Esc.
    bool PostCloseOnEscape(const WizardMessage& message);

  private:
    friend class CWizardSheet;
    CWizardSheet* m_sheet = nullptr;
    bool m_created = false;
};

// The sheet: a dialog holding the pages above the Back, Next and Cancel buttons. It is a main
// window of the message channel: Post may be called from any thread.
class CWizardSheet : public QDialog, public PlatformMainWindow {
    Q_OBJECT
  public:
    explicit CWizardSheet(const QString& caption, QWidget* parent = nullptr);
    ~CWizardSheet() override;

    // Appends a page (fixed order, index 0 first). The sheet takes the widget into its stack but
    // not the object's lifetime: the pages are members of the derived sheet.
    void AddPage(CWizardPage* page);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CWizardPage* GetPage(int index) const;
    // Makes page `index` the active one (OnKillActive on the old one, OnInitDialog the first
    // time, OnSetActive). False, and nothing changes, for an index outside the pages.
    bool SetActivePage(int index);
    CWizardPage* GetActivePage() const;
    int GetActiveIndex() const { return m_active; }

    // Sets a button's caption; nothing for an id that is not a button.
    virtual void SetButtonText(int buttonId, const QString& text);
    // Enables or disables a button. Returns 1 when the button was disabled before, else 0 (also
    // for an id that is not a button).
    virtual int EnableButton(int buttonId, bool enable);
    // The button with that id, or null.
    QPushButton* GetButton(int buttonId) const;
    // Presses a button as a click would (PSBTN_BACK, PSBTN_NEXT, PSBTN_CANCEL), enabled or not.
    void PressButton(int which);

    // Posts a message to the sheet (page null) or to a page, behind every message posted before.
    // Callable from any thread.
    void PostMessage(WizardMessage message);
    // Hands a message to the sheet's window procedure at once, without the chain.
    void SendMessage(WizardMessage message);
    // Runs a message addressed to a page through the chain (the page, then the sheet) and, when
    // nobody handles it, the window procedure, at once.
    void DeliverToPage(WizardMessage& message) { Deliver(message); }
    // PlatformMainWindow: a task message for the sheet.
    bool Post(PostedMessage message) override;

    // Ends the dialog (exec returns); the only way the sheet closes.
    void EndSheet();
    bool IsEnding() const { return m_ending; }

  protected:
    // The sheet's part of the chain, after the page's. True: handled.
    virtual bool PreTranslateMessage(WizardMessage& message);
    // The window procedure for messages nobody handled. The sheet's closes on WM_CLOSE.
    virtual void WindowProc(WizardMessage& message);
    // WM_CLOSE: ends the sheet.
    virtual void OnClose();
    // Once, when the sheet is first shown: activates page 0.
    virtual bool OnInitDialog();

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void Deliver(WizardMessage& message);
    bool RunChain(WizardMessage& message);
    CWizardPage* PageOf(QWidget* widget) const;

    std::vector<CWizardPage*> m_pages;
    int m_active = -1;
    bool m_initialised = false;
    bool m_ending = false;
    QStackedWidget* m_stack = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_cancel = nullptr;
};
