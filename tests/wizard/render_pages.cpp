// Renders each page of the wizard, in the states worth seeing, to PNG files in the build tree
// (UPGRADE_RENDER_DIR), so that the wizard can be looked at without a screen. Against the STB
// simulator for the select page; the process page is fed sample messages.
#include <QComboBox>
#include <QDir>
#include <QTest>

#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "ui_page_connect.h"
#include "wizard_harness.h"

namespace {

QString OutputPath(const QString& name) {
    QDir dir(QStringLiteral(UPGRADE_RENDER_DIR));
    dir.mkpath(QStringLiteral("."));
    return dir.filePath(QStringLiteral("%1-%2.png").arg(QLatin1String(kEditionText), name));
}

bool Render(CUpgradeSheet& sheet, const QString& name) {
    QCoreApplication::processEvents();
    return sheet.grab().save(OutputPath(name));
}

void Post(unsigned message, const char* text, uintptr_t wParam = 0) {
    PostedMessage m;
    m.message = message;
    m.wParam = wParam;
    if (text != nullptr)
        m.text = text;
    PlatformPostToMainWindow(std::move(m));
}

}  // namespace

class RenderPages : public QObject {
    Q_OBJECT
  private slots:
    void connectPage();
    void selectAndProcessPages();
};

void RenderPages::connectPage() {
    WizardHarness h;
    h.Open(h.DirPath(QStringLiteral("no-such-device")).toStdString());
    QVERIFY(Render(h.Sheet(), QStringLiteral("1-connect")));
    if constexpr (kEdition200) {
        h.Sheet().PageConnect().Controls().comboOperation->setCurrentIndex(1);
    }
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); }, 10000));
    QVERIFY(Render(h.Sheet(), QStringLiteral("2-connect-failed")));
}

void RenderPages::selectAndProcessPages() {
    WizardHarness h;
    std::string error;
    QVERIFY2(h.StartSimulator({}, &error), error.c_str());
    const QString firmware = h.WriteFile(QStringLiteral("firmware.bin"), DefaultFirmware());
    h.Open();
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return h.Sheet().GetActiveIndex() == 1; }, 30000));
    QVERIFY(Render(h.Sheet(), QStringLiteral("3-select")));
    h.QueueChoice(firmware);
    h.DoubleClickRow(kEdition200 ? 1 : 0);
    QVERIFY(Render(h.Sheet(), QStringLiteral("4-select-file-chosen")));

    // The process page with a run's messages, without a task behind them.
    h.Sheet().SetActivePage(2);
    Post(WM_TASK_STATUS, "Open Serial Port..");
    Post(WM_TASK_STATUS, "Sync to serial port..");
    Post(WM_TASK_STATUS, "Transfer chunk 0x01FE0100..");
    Post(WM_TASK_LOG, "\r\n->Warning: packet 12 sent again\r\n");
    Post(WM_TASK_PROGRESS, nullptr, 42);
    QVERIFY(Render(h.Sheet(), QStringLiteral("5-process-running")));
    Post(WM_BURN_BEGIN, nullptr);
    Post(WM_TASK_STATUS, "Burn flash..");
    Post(WM_TASK_PROGRESS, nullptr, 75);
    QVERIFY(Render(h.Sheet(), QStringLiteral("6-process-burning")));
    Post(WM_TASK_PROGRESS, nullptr, 100);
    Post(WM_TASK_STATUS, "Reboot STB..");
    Post(WM_UPGRADE_DONE, nullptr, 0);
    QVERIFY(h.WaitFor([&] { return !h.Boxes().isEmpty(); }, 5000));
    QVERIFY(Render(h.Sheet(), QStringLiteral("7-process-finished")));
}

QTEST_MAIN(RenderPages)
#include "render_pages.moc"
