#include "wizard/page_connect.h"

#include <QComboBox>

#include "library/link/upgrade.h"
#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "ui_page_connect.h"
#include "wizard/log_text.h"
#include "wizard/wizard_dialogs.h"

namespace {

constexpr int kPortCount = 32;
constexpr int kParityCodes[] = {COM_PARITY_NONE, COM_PARITY_EVEN, COM_PARITY_ODD, COM_PARITY_MARK,
                                COM_PARITY_SPACE};
constexpr int kParityItems = static_cast<int>(sizeof kParityCodes / sizeof kParityCodes[0]);

QString DeviceOf(int port) {
    const std::string device = ComDeviceName(port);
    return device.empty() ? QStringLiteral("no device") : QString::fromStdString(device);
}

}  // namespace

int ParityCodeOfIndex(int index) {
    return index >= 0 && index < kParityItems ? kParityCodes[index] : -1;
}

int ParityIndexOfCode(int code) {
    for (int i = 0; i < kParityItems; ++i) {
        if (kParityCodes[i] == code)
            return i;
    }
    return -1;
}

CPageConnect::CPageConnect() : m_ui(std::make_unique<Ui::PageConnect>()) {
    m_ui->setupUi(this);
    // The controls stand where the layout puts them; the page keeps the layout's size.
    setFixedSize(size());
    m_ui->status->setTextFormat(Qt::PlainText);
    m_ui->status->hide();
    m_ui->log->hide();
    if constexpr (kEdition200) {
        m_ui->status->setText(QStringLiteral("Open Serial port"));
    } else {
        // Only the port can be chosen; the operation is always "Upgrade".
        m_ui->comboBaud->setEnabled(false);
        m_ui->comboParity->setEnabled(false);
        m_ui->labelOperation->hide();
        m_ui->comboOperation->hide();
    }
    connect(m_ui->comboPort, &QComboBox::currentIndexChanged, this,
            [this](int index) { ShowDevice(index); });
}

CPageConnect::~CPageConnect() = default;

void CPageConnect::ShowDevice(int index) {
    // The list keeps the COM names; beside it stands the device the number means here.
    m_ui->labelDevice->setText(index < 0 ? QString()
                                         : QStringLiteral("Device: ") + DeviceOf(index + 1));
    m_ui->comboPort->setToolTip(index < 0 ? QString() : DeviceOf(index + 1));
    m_ui->labelDevice->setToolTip(m_ui->comboPort->toolTip());
}

bool CPageConnect::OnInitDialog() {
    QComboBox* port = m_ui->comboPort;
    for (int i = 1; i <= kPortCount; ++i) {
        port->addItem(QStringLiteral("COM%1").arg(i));
        port->setItemData(i - 1, DeviceOf(i), Qt::ToolTipRole);
    }
    // A port number outside the list leaves it without a selection.
    port->setCurrentIndex(g_comPort > 0 && g_comPort <= kPortCount ? g_comPort - 1 : -1);
    ShowDevice(port->currentIndex());

    QComboBox* baud = m_ui->comboBaud;
    baud->setCurrentIndex(-1);
    for (int i = 0; i < baud->count(); ++i) {
        if (baud->itemText(i).toInt() == g_comBaud) {
            baud->setCurrentIndex(i);
            break;
        }
    }
    m_ui->comboParity->setCurrentIndex(ParityIndexOfCode(g_comParity));
    m_ui->comboOperation->setCurrentIndex(0);
    // The focus starts on the page's first control, the port list.
    port->setFocus(Qt::OtherFocusReason);
    return true;
}

bool CPageConnect::OnSetActive() {
    CWizardSheet* sheet = GetSheet();
    sheet->EnableButton(ID_WIZBACK, false);
    sheet->EnableButton(ID_WIZNEXT, true);
    sheet->EnableButton(IDCANCEL, true);
    sheet->SetButtonText(ID_WIZBACK, QStringLiteral("< Back"));
    sheet->SetButtonText(ID_WIZNEXT, QStringLiteral("Connect"));
    sheet->SetButtonText(IDCANCEL, QStringLiteral("Exit"));
    if constexpr (kEdition200) {
        m_ui->status->hide();
    } else {
        m_ui->status->show();
        m_ui->status->setText(QStringLiteral("Power off your STB"));
    }
    m_ui->log->hide();
    m_ui->log->setPlainText(m_strLog);
    return true;
}

bool CPageConnect::OnKillActive() {
    m_strLog = m_ui->log->toPlainText();
    return true;
}

int CPageConnect::OnWizardNext() {
    CUpgradeContext* context = GetContext();
    if (context->taskState == TASK_CONNECTING) {
        g_cancelRequested = 1;
        return -1;
    }
    GetSheet()->SetButtonText(ID_WIZNEXT, QStringLiteral("Cancel"));
    // No selection keeps the value from the settings file or an earlier run.
    if (m_ui->comboPort->currentIndex() >= 0)
        g_comPort = m_ui->comboPort->currentIndex() + 1;
    if (m_ui->comboBaud->currentIndex() >= 0)
        g_comBaud = m_ui->comboBaud->currentText().toInt();
    if (m_ui->comboParity->currentIndex() >= 0) {
        g_comParity = ParityCodeOfIndex(m_ui->comboParity->currentIndex());
    }
    if (m_ui->comboOperation->currentIndex() >= 0) {
        context->operation = m_ui->comboOperation->currentIndex();
    }
    m_ui->status->setText(QString());
    m_ui->status->show();
    m_ui->log->setPlainText(QString());
    m_ui->log->show();
    StartConnectTask();
    return -1;
}

void CPageConnect::OnCancel() {
    GetSheet()->SendMessage(WizardMessage{nullptr, WM_CLOSE, 0, 0, {}});
}

bool CPageConnect::PreTranslateMessage(WizardMessage& message) {
    if (PostCloseOnEscape(message)) {
        return true;
    }
    if (message.page != this)
        return false;
    if (message.message == WM_TASK_STATUS) {
        const QString text = DisplayText(message.text);
        m_ui->status->setText(text);
        AppendToLog(m_ui->log, text + QLatin1Char('\n'));
        return true;
    }
    if (message.message == WM_TASK_LOG) {
        AppendToLog(m_ui->log, DisplayText(message.text));
        return true;
    }
    return false;
}
