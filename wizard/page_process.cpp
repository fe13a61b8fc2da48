#include "wizard/page_process.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "ui_page_process.h"
#include "ui_page_process_200.h"
#include "wizard/artwork.h"
#include "wizard/log_text.h"
#include "wizard/wizard_dialogs.h"

QString ResultText(int operation, bool failed) {
    return QString::fromLatin1(operation == 0 ? "Upgrade " : "Dump ") +
           QString::fromLatin1(failed ? "Error" : "Success!");
}

CPageProcess::CPageProcess() {
    InitWizardResources();
    // Both editions' forms have the same controls, in other places.
    auto take = [this](auto& form) {
        form.setupUi(this);
        m_status = form.status;
        m_progress = form.progress;
        m_percent = form.percent;
        m_log = form.log;
    };
    if constexpr (kEdition200) {
        Ui::PageProcess200 form;
        take(form);
    } else {
        Ui::PageProcess form;
        take(form);
    }
    // The controls stand where the layout puts them; the page keeps the layout's size.
    setFixedSize(size());
    m_status->setTextFormat(Qt::PlainText);
}

CPageProcess::~CPageProcess() = default;

void CPageProcess::EnableAllButtons(bool enable) {
    GetSheet()->EnableButton(ID_WIZBACK, enable);
    GetSheet()->EnableButton(ID_WIZNEXT, enable);
    GetSheet()->EnableButton(IDCANCEL, enable);
}

bool CPageProcess::OnSetActive() {
    CWizardSheet* sheet = GetSheet();
    m_finished = false;
    m_status->setText(QString());
    m_log->setPlainText(QString());
    sheet->EnableButton(ID_WIZBACK, false);
    sheet->EnableButton(ID_WIZNEXT, true);
    sheet->EnableButton(IDCANCEL, true);
    sheet->SetButtonText(ID_WIZBACK, QStringLiteral("< Back"));
    sheet->SetButtonText(ID_WIZNEXT, QStringLiteral("Cancel"));
    sheet->SetButtonText(IDCANCEL, QStringLiteral("Exit"));
    m_progress->setValue(0);
    m_percent->setText(QStringLiteral("0%"));
    return true;
}

int CPageProcess::OnWizardNext() {
    // "Cancel" while the data go out; "Finish" once the run has ended.
    if (!m_finished && GetContext()->taskState == TASK_UPGRADING) {
        g_cancelRequested = 1;
    } else {
        GetSheet()->PostMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
    }
    return -1;
}

int CPageProcess::OnWizardBack() {
    GetSheet()->SetActivePage(0);
    return -1;
}

void CPageProcess::OnUpgradeDone(const WizardMessage& message) {
    if (message.lParam != 0) {
        // A cancelled run goes straight back to the connect page.
        GetSheet()->SetActivePage(0);
        return;
    }
    m_finished = true;
    EnableAllButtons(true);
    GetSheet()->SetButtonText(ID_WIZBACK, QStringLiteral("Restart"));
    GetSheet()->SetButtonText(ID_WIZNEXT, QStringLiteral("Finish"));
    GetSheet()->SetButtonText(IDCANCEL, QStringLiteral("Exit"));
    ShowMessageBox(window(), ResultText(GetContext()->operation, message.wParam != 0));
}

bool CPageProcess::PreTranslateMessage(WizardMessage& message) {
    if (PostCloseOnEscape(message)) {
        return true;
    }
    if (message.page != this)
        return false;
    switch (message.message) {
        case WM_TASK_STATUS: {
            const QString text = DisplayText(message.text);
            m_status->setText(text);
            // Every status text after the first starts on a new line.
            AppendToLog(m_log, m_log->document()->isEmpty() ? text : QLatin1Char('\n') + text);
            return true;
        }
        case WM_TASK_LOG:
            AppendToLog(m_log, DisplayText(message.text));
            if constexpr (kEdition201)
                ScrollLogToEnd(m_log);
            return true;
        case WM_TASK_PROGRESS: {
            const unsigned percentage = static_cast<unsigned>(message.wParam);
            m_progress->setValue(static_cast<int>(percentage > 100 ? 100 : percentage));
            m_percent->setText(QStringLiteral("%1%").arg(percentage));
            return true;
        }
        case WM_UPGRADE_DONE:
            OnUpgradeDone(message);
            return true;
        case WM_BURN_BEGIN:
            EnableAllButtons(false);
            return true;
        default:
            return false;
    }
}
