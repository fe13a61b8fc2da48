#include "wizard/upgrade_sheet.h"

#include <QPushButton>

#include "library/link/upgrade.h"
#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "wizard/wizard_dialogs.h"

namespace {

// A task's final message arrives as its worker closes the port and returns the task state to
// idle; the sheet waits that moment out so that the pages see an idle state and a new task can
// start at once.
constexpr unsigned kWorkerEndWaitMs = 2000;

void WaitForTaskEnd() {
    WaitForWorker(kWorkerEndWaitMs);
}

bool IsTaskMessageForPage(unsigned message) {
    return message == WM_TASK_STATUS || message == WM_TASK_LOG || message == WM_TASK_PROGRESS ||
           message == WM_UPGRADE_DONE || message == WM_BURN_BEGIN;
}

}  // namespace

QString SheetBanner() {
    if constexpr (kEdition200) {
        return QStringLiteral("Upgrade Tool Version:2.0.0b. 2007-11-16");
    } else {
        return QStringLiteral("VOR Tarvik 5.2   14-05-2008");
    }
}

CUpgradeSheet::CUpgradeSheet() : CWizardSheet(ApplicationCaption()), m_channel(this) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    setFont(font);
    m_versionText = new QLabel(this);
    m_versionText->setObjectName(QStringLiteral("versionText"));
    AddPages();
}

CUpgradeSheet::~CUpgradeSheet() = default;

void CUpgradeSheet::AddPages() {
    AddPage(&m_pageConnect);
    AddPage(&m_pageSelect);
    AddPage(&m_pageProcess);
}

void CUpgradeSheet::ShowProtocolVersion(unsigned version) {
    if (version == 0) {
        setWindowTitle(SheetBanner());
        return;
    }
    setWindowTitle(QStringLiteral("%1 Protocol version: %2.%3")
                       .arg(SheetBanner())
                       .arg(version >> 4)
                       .arg(version & 0x0F));
}

bool CUpgradeSheet::OnInitDialog() {
    const bool result = CWizardSheet::OnInitDialog();
    ShowProtocolVersion(0);
    m_versionText->setText(QStringLiteral("Upgrade Library Version: %1")
                               .arg(QString::fromLatin1(UpgGetLibraryVersion())));
    PlaceVersionText();
    m_versionText->show();
    return result;
}

void CUpgradeSheet::resizeEvent(QResizeEvent* event) {
    CWizardSheet::resizeEvent(event);
    PlaceVersionText();
}

void CUpgradeSheet::PlaceVersionText() {
    // Two pixels above the bottom edge, 15 pixels tall, over the left half of the sheet: clear
    // of the wizard buttons on the right.
    const QRect client = rect();
    const int left = client.left() + 2;
    const int top = client.bottom() + 1 - 17;
    const int bottom = client.bottom() + 1 - 2;
    const int right = left + (client.right() + 1 - left) / 2;
    m_versionText->setGeometry(left, top, right - left, bottom - top);
}

bool CUpgradeSheet::PreTranslateMessage(WizardMessage& message) {
    const bool toSheet = message.page == nullptr;
    if (toSheet && IsTaskMessageForPage(message.message)) {
        // Handed to the page that is showing at once, in the order the task posted: everything
        // before WM_CONNECT_DONE has reached the connect page when the sheet moves on. A page
        // that declines a task message drops it (it is not routed a second time).
        if (message.message == WM_UPGRADE_DONE) {
            WaitForTaskEnd();
        }
        message.page = GetActivePage();
        if (message.page != nullptr) {
            DeliverToPage(message);
        }
        return true;
    }
    if (message.message == WM_NCLBUTTONDOWN && message.wParam == HTCLOSE) {
        PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
        return true;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
        PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
        return true;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
        // Enter presses Next when it can be pressed, and never reaches the focused control.
        if (GetButton(ID_WIZNEXT)->isEnabled())
            PressButton(PSBTN_NEXT);
        return true;
    }
    if (toSheet && message.message == WM_CONNECT_DONE) {
        WaitForTaskEnd();
        if (message.wParam == 1) {
            ShowProtocolVersion(static_cast<unsigned>(GetContext()->protocolVersion));
            SetActivePage(1);
        } else {
            SetButtonText(ID_WIZNEXT, QStringLiteral("Connect"));
        }
        return true;
    }
    return CWizardSheet::PreTranslateMessage(message);
}

void CUpgradeSheet::OnClose() {
    CUpgradeContext* context = GetContext();
    if (context->taskState == TASK_BURNING)
        return;
    context->CloseContext();
    CWizardSheet::OnClose();
}
