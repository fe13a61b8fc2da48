#include "wizard/wizard_framework.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <utility>

namespace {

// The event that carries a posted message into the sheet's event loop. Every post goes to the
// sheet object, also those addressed to a page, so that Qt's per-receiver order is the posting
// order of all of them.
class CPostedEvent : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const int kind = QEvent::registerEventType();
        return static_cast<QEvent::Type>(kind);
    }
    explicit CPostedEvent(WizardMessage message) : QEvent(Kind()), m_message(std::move(message)) {}
    WizardMessage m_message;
};

uintptr_t KeyCode(const QKeyEvent* key) {
    switch (key->key()) {
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        default:
            return static_cast<uintptr_t>(key->key());
    }
}

// The wizard buttons' size: 50 x 14 dialog units.
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 23;

}  // namespace

WizardMessage WizardMessage::From(PostedMessage posted, CWizardPage* page) {
    WizardMessage m;
    m.page = page;
    m.message = posted.message;
    m.wParam = posted.wParam;
    m.lParam = posted.lParam;
    m.text = std::move(posted.text);
    return m;
}

CWizardPage::CWizardPage(QWidget* parent) : QWidget(parent) {}

bool CWizardPage::PreTranslateMessage(WizardMessage&) {
    return false;
}

bool CWizardPage::PostCloseOnEscape(const WizardMessage& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_ESCAPE || m_sheet == nullptr) {
        return false;
    }
    m_sheet->PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
    return true;
}

CWizardSheet::CWizardSheet(const QString& caption, QWidget* parent) : QDialog(parent) {
    setWindowTitle(caption);
    m_stack = new QStackedWidget(this);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    auto makeButton = [this](const char* name, int id) {
        auto* button = new QPushButton(this);
        button->setObjectName(name);
        button->setProperty("buttonId", id);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        button->setAutoDefault(false);
        return button;
    };
    m_back = makeButton("buttonBack", ID_WIZBACK);
    m_next = makeButton("buttonNext", ID_WIZNEXT);
    m_cancel = makeButton("buttonCancel", IDCANCEL);
    m_back->setText(QStringLiteral("< Back"));
    m_next->setText(QStringLiteral("Next >"));
    m_cancel->setText(QStringLiteral("Cancel"));
    connect(m_back, &QPushButton::clicked, this, [this] { PressButton(PSBTN_BACK); });
    connect(m_next, &QPushButton::clicked, this, [this] { PressButton(PSBTN_NEXT); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { PressButton(PSBTN_CANCEL); });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addStretch(1);
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    buttons->addSpacing(12);
    buttons->addWidget(m_cancel);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 12, 10);
    column->setSpacing(8);
    column->addWidget(m_stack);
    column->addWidget(rule);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);

    qApp->installEventFilter(this);
}

CWizardSheet::~CWizardSheet() {
    qApp->removeEventFilter(this);
}

void CWizardSheet::AddPage(CWizardPage* page) {
    page->m_sheet = this;
    m_stack->addWidget(page);
    m_pages.push_back(page);
}

CWizardPage* CWizardSheet::GetPage(int index) const {
    if (index < 0 || index >= GetPageCount())
        return nullptr;
    return m_pages[static_cast<size_t>(index)];
}

CWizardPage* CWizardSheet::GetActivePage() const {
    return GetPage(m_active);
}

bool CWizardSheet::SetActivePage(int index) {
    CWizardPage* next = GetPage(index);
    if (next == nullptr)
        return false;
    if (CWizardPage* current = GetActivePage())
        current->OnKillActive();
    if (!next->m_created) {
        next->m_created = true;
        next->OnInitDialog();
    }
    m_active = index;
    m_stack->setCurrentWidget(next);
    next->OnSetActive();
    return true;
}

QPushButton* CWizardSheet::GetButton(int buttonId) const {
    switch (buttonId) {
        case ID_WIZBACK:
            return m_back;
        case ID_WIZNEXT:
            return m_next;
        case IDCANCEL:
            return m_cancel;
        default:
            return nullptr;
    }
}

void CWizardSheet::SetButtonText(int buttonId, const QString& text) {
    if (QPushButton* button = GetButton(buttonId))
        button->setText(text);
}

int CWizardSheet::EnableButton(int buttonId, bool enable) {
    QPushButton* button = GetButton(buttonId);
    if (button == nullptr)
        return 0;
    const int wasDisabled = button->isEnabled() ? 0 : 1;
    button->setEnabled(enable);
    return wasDisabled;
}

void CWizardSheet::PressButton(int which) {
    CWizardPage* page = GetActivePage();
    if (page == nullptr)
        return;
    if (which == PSBTN_NEXT) {
        if (page->OnWizardNext() == 0)
            SetActivePage(m_active + 1);
    } else if (which == PSBTN_BACK) {
        if (page->OnWizardBack() == 0)
            SetActivePage(m_active - 1);
    } else if (which == PSBTN_CANCEL) {
        // The pages decide what Cancel means; the sheet itself closes only through OnClose.
        for (CWizardPage* p : m_pages) {
            if (p->m_created)
                p->OnCancel();
        }
    }
}

void CWizardSheet::PostMessage(WizardMessage message) {
    QCoreApplication::postEvent(this, new CPostedEvent(std::move(message)));
}

bool CWizardSheet::Post(PostedMessage message) {
    PostMessage(WizardMessage::From(std::move(message)));
    return true;
}

void CWizardSheet::SendMessage(WizardMessage message) {
    WindowProc(message);
}

bool CWizardSheet::PreTranslateMessage(WizardMessage& message) {
    // Without a sheet of its own above it, the close box means "close".
    if (message.message == WM_NCLBUTTONDOWN && message.wParam == HTCLOSE) {
        PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
        return true;
    }
    return false;
}

void CWizardSheet::WindowProc(WizardMessage& message) {
    // Once the sheet is ending, a close request still queued has nothing left to close.
    if (message.page == nullptr && message.message == WM_CLOSE && !m_ending)
        OnClose();
}

void CWizardSheet::OnClose() {
    EndSheet();
}

void CWizardSheet::EndSheet() {
    m_ending = true;
    done(QDialog::Rejected);
}

bool CWizardSheet::OnInitDialog() {
    return SetActivePage(0);
}

bool CWizardSheet::RunChain(WizardMessage& message) {
    if (message.page != nullptr && message.page->PreTranslateMessage(message))
        return true;
    return PreTranslateMessage(message);
}

void CWizardSheet::Deliver(WizardMessage& message) {
    if (!RunChain(message))
        WindowProc(message);
}

bool CWizardSheet::event(QEvent* event) {
    if (event->type() == CPostedEvent::Kind()) {
        Deliver(static_cast<CPostedEvent*>(event)->m_message);
        return true;
    }
    return QDialog::event(event);
}

CWizardPage* CWizardSheet::PageOf(QWidget* widget) const {
    for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
        for (CWizardPage* page : m_pages) {
            if (page == w)
                return page;
        }
    }
    return nullptr;
}

bool CWizardSheet::eventFilter(QObject* watched, QEvent* event) {
    // Keys meant for the sheet or any control on it pass the chain before the control sees
    // them. Other windows (message boxes, the file chooser, menus) keep their keys.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return false;
    // A key on a control of the active page passes that page and then the sheet; a key on the
    // sheet's own controls (the buttons) passes the sheet alone.
    CWizardPage* page = PageOf(widget);
    if (page != GetActivePage())
        page = nullptr;
    WizardMessage key{page, WM_KEYDOWN, KeyCode(static_cast<QKeyEvent*>(event)), 0, {}};
    return RunChain(key);
}

void CWizardSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
}

void CWizardSheet::closeEvent(QCloseEvent* event) {
    if (m_ending) {
        event->accept();
        return;
    }
    // The window's close box: the chain decides, and the sheet closes only through OnClose.
    event->ignore();
    WizardMessage click{nullptr, WM_NCLBUTTONDOWN, HTCLOSE, 0, {}};
    Deliver(click);
}

void CWizardSheet::reject() {
    // QDialog's own ways out (Esc that no one intercepted) become a close request.
    if (m_ending) {
        QDialog::reject();
        return;
    }
    PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
}
