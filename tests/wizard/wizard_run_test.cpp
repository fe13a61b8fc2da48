// Whole runs of the wizard against the STB simulator on a pseudo-terminal: connect, choose a
// file, upgrade (or dump) and finish; Cancel during the transfer; a refused file; the burn that
// nothing can interrupt.
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "ui_page_connect.h"
#include "wizard_harness.h"

namespace {

constexpr int kConnectMs = 30000;
constexpr int kRunMs = 120000;

// The row that takes a whole firmware file for an upgrade: the firmware row (edition 2.0.1) or
// "All Chunk(No BootLoader)" (edition 2.0.0).
constexpr int kFirmwareRow = kEdition200 ? 1 : 0;

bool StartSim(WizardHarness& h, stbsim::StbSimOptions options = {}) {
    std::string error;
    if (!h.StartSimulator(std::move(options), &error)) {
        qWarning("simulator: %s", error.c_str());
        return false;
    }
    return true;
}

// Connect and wait for the select page.
bool ConnectToSelectPage(WizardHarness& h) {
    h.Click(ID_WIZNEXT);
    return h.WaitFor([&] { return h.Sheet().GetActiveIndex() == 1; }, kConnectMs);
}

// Starts the simulator, connects, gives the firmware row the default firmware and presses Next.
bool StartUpgrade(WizardHarness& h, stbsim::StbSimOptions options) {
    if (!StartSim(h, std::move(options)))
        return false;
    const QString firmware = h.WriteFile(QStringLiteral("firmware.bin"), DefaultFirmware());
    h.Open();
    if (!ConnectToSelectPage(h))
        return false;
    h.QueueChoice(firmware);
    h.DoubleClickRow(kFirmwareRow);
    h.Click(ID_WIZNEXT);
    return h.Sheet().GetActiveIndex() == 2;
}

QString RowFile(WizardHarness& h, int row) {
    return h.Sheet().PageSelect().List()->topLevelItem(row)->text(1);
}

std::vector<FileRecord> Records() {
    CUpgradeContext* context = GetContext();
    return std::vector<FileRecord>(context->files, context->files + kFileRecordCount);
}

bool SameRecords(const std::vector<FileRecord>& a, const std::vector<FileRecord>& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].path != b[i].path || a[i].fileOffset != b[i].fileOffset ||
            a[i].length != b[i].length || a[i].fromImage != b[i].fromImage) {
            return false;
        }
    }
    return true;
}

}  // namespace

class WizardRunTest : public QObject {
    Q_OBJECT
  private slots:
    void wholeUpgradeRun();
    void secondConnectPressOnlyCancels();
    void cancelDuringTransferReturnsToConnectPage();
    void refusedFileLeavesTheRowAsItWas();
    void burnCannotBeInterrupted();
    void dumpRun();
};

void WizardRunTest::wholeUpgradeRun() {
    WizardHarness h;
    QVERIFY(StartSim(h));
    const QString firmware = h.WriteFile(QStringLiteral("firmware.bin"), DefaultFirmware());
    h.Open();
    QVERIFY(ConnectToSelectPage(h));
    QVERIFY2(h.Sheet().windowTitle().endsWith(QLatin1String(" Protocol version: 3.0")),
             qPrintable(h.Sheet().windowTitle()));

    CPageSelect& select = h.Sheet().PageSelect();
    QCOMPARE(select.OperateLabel()->text(), QStringLiteral("Operate: Upgrade"));
    if constexpr (kEdition201) {
        QCOMPARE(select.Message()->toPlainText(), QStringLiteral("You are running 5817B series"));
        QCOMPARE(select.List()->topLevelItemCount(), 1);
        QCOMPARE(select.List()->topLevelItem(0)->text(0), QStringLiteral("VOR 5817B firmware"));
    } else {
        QCOMPARE(select.List()->topLevelItem(0)->text(0), QStringLiteral("All Chunk"));
        QCOMPARE(select.List()->topLevelItem(1)->text(0),
                 QStringLiteral("All Chunk(No BootLoader)"));
    }
    QCOMPARE(select.RowPicture(kFirmwareRow), 0);
    QVERIFY(!h.ButtonEnabled(ID_WIZNEXT));
    QVERIFY(h.ButtonEnabled(ID_WIZBACK));

    h.QueueChoice(firmware);
    h.DoubleClickRow(kFirmwareRow);
    QCOMPARE(int(h.ChooserCalls().size()), 1);
    QVERIFY(!h.ChooserCalls()[0].save);
    QCOMPARE(h.ChooserCalls()[0].filters.first(),
             kEdition200 ? QStringLiteral("ABS File(*.abs)") : QStringLiteral("other file(*.bin)"));
    QCOMPARE(h.Boxes(), QStringList());
    QCOMPARE(select.RowPicture(kFirmwareRow), 1);
    QCOMPARE(RowFile(h, kFirmwareRow), firmware);
    QVERIFY(h.ButtonEnabled(ID_WIZNEXT));

    // Progress climbs while the data go out; the run ends in the result box.
    int highest = 0;
    QProgressBar* bar = h.Sheet().PageProcess().Progress();
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [&](int value) { highest = std::max(highest, value); });
    h.Click(ID_WIZNEXT);
    QCOMPARE(h.Sheet().GetActiveIndex(), 2);
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Cancel"));
    QVERIFY(h.WaitFor([&] { return !h.Boxes().isEmpty(); }, kRunMs));
    QCOMPARE(h.Boxes(), QStringList{QStringLiteral("Upgrade Success!")});
    QVERIFY(highest > 0);
    QVERIFY(!h.Sheet().PageProcess().Log()->toPlainText().isEmpty());
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Finish"));
    QCOMPARE(h.ButtonText(ID_WIZBACK), QStringLiteral("Restart"));
    QCOMPARE(h.Simulator()->RebootCount(), 1u);
    QVERIFY(h.Simulator()->Violations().empty());

    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return !h.Sheet().isVisible(); }, 5000));
    QVERIFY(h.SheetClosed());
    // The close procedure saved the serial settings.
    QFile ini(h.DirPath(QStringLiteral("Upgrade.ini")));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    QVERIFY2(settings.contains("Port=1"), settings.constData());
    QVERIFY2(settings.contains("COM1="), settings.constData());
}

void WizardRunTest::secondConnectPressOnlyCancels() {
    WizardHarness h;
    stbsim::StbSimOptions options;
    options.faults.replyDelayMs = 60000;  // an STB that stays silent while the user waits
    QVERIFY(StartSim(h, options));
    h.Open();
    h.Click(ID_WIZNEXT);
    QCOMPARE(GetContext()->taskState.load(), int(TASK_CONNECTING));
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Cancel"));
    const Ui::PageConnect& ui = h.Sheet().PageConnect().Controls();
    QVERIFY(h.WaitFor([&] { return !ui.log->toPlainText().isEmpty(); }, kConnectMs));
    const QString logBefore = ui.log->toPlainText();
    // The second press, while the task runs, only asks it to stop: nothing on the page changes.
    h.Click(ID_WIZNEXT);
    QCOMPARE(g_cancelRequested.load(), 1);
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Cancel"));
    QVERIFY(ui.log->toPlainText().startsWith(logBefore));
    // The task ends itself; the wizard stays on the connect page, ready to connect again.
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); },
                      kConnectMs));
    QCOMPARE(h.Sheet().GetActiveIndex(), 0);
    QCOMPARE(GetContext()->taskState.load(), int(TASK_IDLE));
    QVERIFY(ui.log->isVisibleTo(&h.Sheet()));
    QVERIFY(h.Boxes().isEmpty());
}

void WizardRunTest::cancelDuringTransferReturnsToConnectPage() {
    WizardHarness h;
    stbsim::StbSimOptions options;
    options.baud = 115200;  // at line speed the transfer lasts long enough to be cancelled
    QVERIFY(StartUpgrade(h, options));
    QVERIFY(h.WaitFor([&] { return h.Sheet().PageProcess().Progress()->value() > 0; }, kRunMs));
    h.Click(ID_WIZNEXT);  // "Cancel"
    h.Click(ID_WIZNEXT);  // twice only asks twice
    QCOMPARE(h.Sheet().GetActiveIndex(), 2);
    QVERIFY(h.WaitFor([&] { return h.Sheet().GetActiveIndex() == 0; }, kRunMs));
    QVERIFY(h.Boxes().isEmpty());
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Connect"));
    QCOMPARE(h.Simulator()->RebootCount(), 0u);
    QVERIFY(!h.SheetClosed());
}

void WizardRunTest::refusedFileLeavesTheRowAsItWas() {
    WizardHarness h;
    QVERIFY(StartSim(h));
    const QString firmware = h.WriteFile(QStringLiteral("firmware.bin"), DefaultFirmware());
    std::vector<uint8_t> broken = DefaultFirmware();
    broken[0x10000 + 200] ^= 0x55;  // the main code chunk no longer matches its CRC
    const QString wrong = h.WriteFile(QStringLiteral("broken.bin"), broken);
    const QString empty = h.WriteFile(QStringLiteral("empty.bin"), {});
    const QString missing = h.DirPath(QStringLiteral("missing.bin"));
    h.Open();
    QVERIFY(ConnectToSelectPage(h));
    CPageSelect& select = h.Sheet().PageSelect();

    struct Case {
        QString path;
        bool boxShown;
    };
    // In edition 2.0.0 the whole-image rows take any file as it is; its refusals concern chunk
    // rows and are covered by the rules' own tests.
    const std::vector<Case> refused =
        kEdition200 ? std::vector<Case>{{empty, false}}
                    : std::vector<Case>{{wrong, true}, {empty, false}, {missing, true}};

    // Before any file, and after an accepted one: a refused file changes nothing.
    for (bool withFile : {false, true}) {
        if (withFile) {
            h.QueueChoice(firmware);
            h.DoubleClickRow(kFirmwareRow);
            QCOMPARE(select.RowPicture(kFirmwareRow), 1);
        }
        for (const Case& c : refused) {
            const std::vector<FileRecord> before = Records();
            const QString shownBefore = RowFile(h, kFirmwareRow);
            const int boxesBefore = int(h.Boxes().size());
            h.QueueChoice(c.path);
            h.DoubleClickRow(kFirmwareRow);
            QCOMPARE(int(h.Boxes().size()), boxesBefore + (c.boxShown ? 1 : 0));
            if (c.path == wrong)
                QCOMPARE(h.Boxes().last(), QStringLiteral("Wrong firmware"));
            QCOMPARE(select.RowPicture(kFirmwareRow), withFile ? 1 : 0);
            QCOMPARE(RowFile(h, kFirmwareRow), shownBefore);
            QCOMPARE(h.ButtonEnabled(ID_WIZNEXT), withFile);
            QVERIFY2(SameRecords(before, Records()), qPrintable(c.path));
        }
    }
    // A cancelled chooser changes nothing either; "Cancel Select" empties the row and its records.
    h.QueueChoice(QString());
    h.DoubleClickRow(kFirmwareRow);
    QCOMPARE(select.RowPicture(kFirmwareRow), 1);
    select.OnCancelSelect();
    QCOMPARE(select.RowPicture(kFirmwareRow), 0);
    QVERIFY(RowFile(h, kFirmwareRow).isEmpty());
    QVERIFY(!h.ButtonEnabled(ID_WIZNEXT));
    for (const FileRecord& r : Records())
        QVERIFY(r.path.empty());
    // Next without a file says so and stays.
    h.Sheet().PressButton(PSBTN_NEXT);
    QCOMPARE(h.Boxes().last(), QStringLiteral("Please select file first!"));
    QCOMPARE(h.Sheet().GetActiveIndex(), 1);
    // Enter with Next disabled neither moves on nor opens the chooser.
    const size_t calls = h.ChooserCalls().size();
    select.List()->setFocus();
    QTest::keyClick(select.List(), Qt::Key_Return);
    QCOMPARE(h.Sheet().GetActiveIndex(), 1);
    QCOMPARE(h.ChooserCalls().size(), calls);
}

void WizardRunTest::burnCannotBeInterrupted() {
    WizardHarness h;
    stbsim::StbSimOptions options;
    options.timing.burnStepMs = 150;  // a burn of a couple of seconds
    QVERIFY(StartUpgrade(h, options));
    // WM_BURN_BEGIN locks all three buttons.
    QVERIFY(h.WaitFor([&] { return !h.ButtonEnabled(ID_WIZNEXT); }, kRunMs));
    QVERIFY(!h.ButtonEnabled(ID_WIZBACK));
    QVERIFY(!h.ButtonEnabled(IDCANCEL));
    QTest::keyClick(h.Sheet().PageProcess().Log(), Qt::Key_Escape);
    h.Sheet().close();
    QCoreApplication::processEvents();  // the close requests are handled here
    // The state only moves on from the burn, so a burn still running now was running when the
    // requests were handled.
    if (GetContext()->taskState == TASK_BURNING) {
        QVERIFY(h.Sheet().isVisible());
        QVERIFY(!h.SheetClosed());
    } else {
        qWarning("the burn ended before the close requests were handled");
    }
    QVERIFY(h.WaitFor([&] { return !h.Boxes().isEmpty(); }, kRunMs));
    QCOMPARE(h.Boxes(), QStringList{QStringLiteral("Upgrade Success!")});
    QVERIFY(h.Sheet().isVisible());
}

void WizardRunTest::dumpRun() {
    if constexpr (kEdition201)
        QSKIP("edition 2.0.1 offers no dump");
    WizardHarness h;
    QVERIFY(StartSim(h));
    const QString target = h.DirPath(QStringLiteral("flash.bin"));
    h.Open();
    h.Sheet().PageConnect().Controls().comboOperation->setCurrentIndex(1);  // "Data dump"
    QVERIFY(ConnectToSelectPage(h));
    CPageSelect& select = h.Sheet().PageSelect();
    QCOMPARE(select.OperateLabel()->text(), QStringLiteral("Operate: Dump"));
    // "All Chunk" and the chunks; no "All Chunk(No BootLoader)" for a dump.
    QCOMPARE(select.List()->topLevelItem(0)->text(0), QStringLiteral("All Chunk"));
    QCOMPARE(select.List()->topLevelItem(1)->text(0), QStringLiteral("bootloader"));
    h.QueueChoice(target);
    h.DoubleClickRow(0);
    QVERIFY(h.ChooserCalls().back().save);
    QCOMPARE(RowFile(h, 0), target);
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return !h.Boxes().isEmpty(); }, kRunMs));
    QCOMPARE(h.Boxes(), QStringList{QStringLiteral("Dump Success!")});
    QFile dump(target);
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QByteArray bytes = dump.readAll();
    const stbsim::Bytes flash = h.Simulator()->Flash();
    QCOMPARE(bytes.size(), qsizetype(flash.size()));
    QVERIFY(std::equal(flash.begin(), flash.end(), reinterpret_cast<const uint8_t*>(bytes.data())));
}

QTEST_MAIN(WizardRunTest)
#include "wizard_run_test.moc"
