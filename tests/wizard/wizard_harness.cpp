#include "wizard_harness.h"

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "tasks/config.h"
#include "tasks/upgrade_context.h"

namespace {

// A test that ends with a task still running stops it before the next one starts.
constexpr unsigned kWorkerStopMs = 15000;

}  // namespace

WizardHarness::WizardHarness() {
    SetConfigDirectory(m_dir.path().toStdString() + "/");
    SetMessageBoxFn([this](QWidget*, const QString& text) { m_boxes.push_back(text); });
    SetChooseFileFn([this](QWidget*, const FileChoice& choice) {
        m_chooserCalls.push_back(choice);
        if (m_choices.empty())
            return QString();
        QString path = m_choices.front();
        m_choices.erase(m_choices.begin());
        return path;
    });
}

WizardHarness::~WizardHarness() {
    if (m_sheet != nullptr && !m_sheet->IsEnding()) {
        // The sheet was not closed by the test: end its context as the close procedure would.
        g_cancelRequested = 1;
        WaitForWorker(kWorkerStopMs);
        GetContext()->CloseContext();
    }
    m_sheet.reset();
    if (m_sim)
        m_sim->Stop();
    SetMessageBoxFn({});
    SetChooseFileFn({});
    SetConfigDirectory({});
    for (int port = 1; port <= 32; ++port)
        ComSetDeviceName(port, {});
}

bool WizardHarness::StartSimulator(stbsim::StbSimOptions options, std::string* error) {
    m_sim = std::make_unique<stbsim::StbSimServer>(std::move(options));
    return m_sim->Start(error);
}

void WizardHarness::Open(const std::string& device, const std::string& config) {
    const std::string line = !device.empty() ? device : m_sim ? m_sim->SlavePath() : "";
    QFile ini(m_dir.filePath(QString::fromLatin1(kSettingsFileName)));
    if (ini.open(QIODevice::WriteOnly)) {
        ini.write("[Config]\r\n");
        ini.write(config.c_str());
        ini.write("[Ports]\r\nCOM1=");
        ini.write(line.c_str());
        ini.write("\r\n");
    }
    ini.close();
    GetContext()->InitContext();
    m_sheet = std::make_unique<CUpgradeSheet>();
    m_sheet->show();
}

QString WizardHarness::WriteFile(const QString& name, const std::vector<uint8_t>& bytes) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    return path;
}

void WizardHarness::Click(int buttonId) {
    QTest::mouseClick(m_sheet->GetButton(buttonId), Qt::LeftButton);
}

QString WizardHarness::ButtonText(int buttonId) {
    return m_sheet->GetButton(buttonId)->text();
}

bool WizardHarness::ButtonEnabled(int buttonId) {
    return m_sheet->GetButton(buttonId)->isEnabled();
}

void WizardHarness::DoubleClickRow(int row) {
    QTreeWidget* list = m_sheet->PageSelect().List();
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    // A double-click is a press, a release and a second press that Qt reads as the double.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

bool WizardHarness::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

std::vector<uint8_t> DefaultFirmware() {
    return stbsim::BuildFirmware(stbsim::StbSimOptions::DefaultProfile(), false);
}
