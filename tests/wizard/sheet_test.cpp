// The sheet and the pages without an STB: the title, the version text, the keys and the close
// box, the close refused during the burn, the order of posted messages, a failed connect and the
// process page's handling of the task's messages.
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstring>
#include <thread>

#include "platform/edition.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"
#include "ui_page_connect.h"
#include "wizard/select_rules.h"
#include "wizard_harness.h"

namespace {

// Counts the key presses that reach a widget.
class KeyCounter : public QObject {
  public:
    int presses = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress)
            ++presses;
        return false;
    }
};

void PostText(unsigned message, const char* text) {
    PostedMessage m;
    m.message = message;
    m.text = text;
    PlatformPostToMainWindow(std::move(m));
}

void PostPlain(unsigned message, uintptr_t wParam, intptr_t lParam) {
    PlatformPostToMainWindow(PostedMessage{message, wParam, lParam, {}});
}

// A chunk as the STB reports it: texts NUL-terminated, 0xFF behind.
ChunkInfo Chunk(uint32_t id, const char* name, const char* version, int masked = 0) {
    ChunkInfo chunk{};
    chunk.id = id;
    chunk.length = 0x1000;
    std::memset(chunk.name, 0xFF, sizeof chunk.name);
    std::memset(chunk.version, 0xFF, sizeof chunk.version);
    std::memset(chunk.extra, 0xFF, sizeof chunk.extra);
    std::memcpy(chunk.name, name, std::strlen(name) + 1);
    std::memcpy(chunk.version, version, std::strlen(version) + 1);
    chunk.masked = masked;
    return chunk;
}

void SetChunkTable(const std::vector<ChunkInfo>& chunks) {
    g_chunkTable = ChunkTable{};
    g_chunkTable.count = static_cast<uint32_t>(chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i)
        g_chunkTable.entries[i] = chunks[i];
}

QStringList RowTexts(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.push_back(list->topLevelItem(i)->text(0));
    return rows;
}

}  // namespace

class SheetTest : public QObject {
    Q_OBJECT
  private slots:
    void titleShowsProtocolVersion_data();
    void titleShowsProtocolVersion();
    void versionTextSitsBottomLeftClearOfButtons();
    void connectPageStartsFromSettings();
    void connectPageSelectsTheSettings_data();
    void connectPageSelectsTheSettings();
    void selectPageShowsTheFamily_data();
    void selectPageShowsTheFamily();
    void selectPageRowsOfEdition200();
    void popupMenuOnlyOverARow();
    void chooserShowsTheFilterTexts_data();
    void chooserShowsTheFilterTexts();
    void enterWithNextDisabledDoesNothing();
    void enterWithNextEnabledPressesNext();
    void escAndCloseBoxRefusedWhileBurning();
    void escAndCloseBoxCloseOtherwise_data();
    void escAndCloseBoxCloseOtherwise();
    void exitClosesThroughConnectPage();
    void postedMessagesKeepTheirOrder();
    void failedConnectRestoresConnect();
    void processPageShowsTaskMessages();
    void processPageResultTexts_data();
    void processPageResultTexts();
    void cancelledRunReturnsToConnectPage();
    void finishCloses();
};

void SheetTest::titleShowsProtocolVersion_data() {
    QTest::addColumn<unsigned>("version");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("none") << 0u << QString();
    QTest::newRow("2.1") << 0x21u << QStringLiteral(" Protocol version: 2.1");
    QTest::newRow("3.0") << 0x30u << QStringLiteral(" Protocol version: 3.0");
    QTest::newRow("15.15") << 0xFFu << QStringLiteral(" Protocol version: 15.15");
}

void SheetTest::titleShowsProtocolVersion() {
    QFETCH(unsigned, version);
    QFETCH(QString, suffix);
    WizardHarness h;
    h.Open("/nonexistent");
    const QString banner = kEdition200 ? QStringLiteral("Upgrade Tool Version:2.0.0b. 2007-11-16")
                                       : QStringLiteral("VOR Tarvik 5.2   14-05-2008");
    QCOMPARE(h.Sheet().windowTitle(), banner);
    h.Sheet().ShowProtocolVersion(version);
    QCOMPARE(h.Sheet().windowTitle(), banner + suffix);
}

void SheetTest::versionTextSitsBottomLeftClearOfButtons() {
    WizardHarness h;
    h.Open("/nonexistent");
    QLabel* text = h.Sheet().VersionText();
    QCOMPARE(text->text(), QStringLiteral("Upgrade Library Version: ") +
                               QLatin1String(kEdition200 ? "3.0.0b" : "3.0.0d"));
    const QRect r = text->geometry();
    const QRect sheet = h.Sheet().rect();
    QCOMPARE(r.left(), 2);
    QCOMPARE(r.bottom() + 1, sheet.height() - 2);
    QVERIFY(r.right() < sheet.width() / 2 + 2);
    for (int id : {ID_WIZBACK, ID_WIZNEXT, IDCANCEL}) {
        const QRect button = h.Sheet().GetButton(id)->geometry();
        QVERIFY2(!r.intersects(button), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                       .arg(button.x())
                                                       .arg(button.y())
                                                       .arg(button.width())
                                                       .arg(button.height())
                                                       .arg(sheet.width())
                                                       .arg(sheet.height())));
    }
    // The whole text fits its rectangle.
    QVERIFY(text->fontMetrics().horizontalAdvance(text->text()) <= r.width());
}

void SheetTest::connectPageStartsFromSettings() {
    WizardHarness h;
    h.Open("/nonexistent");
    const Ui::PageConnect& ui = h.Sheet().PageConnect().Controls();
    QCOMPARE(ui.comboPort->count(), 32);
    QCOMPARE(ui.comboPort->currentText(), QStringLiteral("COM1"));
    QCOMPARE(ui.comboBaud->currentText(), QStringLiteral("115200"));
    QCOMPARE(ui.comboParity->currentText(), QStringLiteral("Even"));
    // The COM names stay; each stands beside the device it means on this machine.
    QCOMPARE(ui.comboPort->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/nonexistent"));
    QCOMPARE(ui.comboPort->itemData(31, Qt::ToolTipRole).toString(),
             QString::fromStdString(ComDeviceName(32)));
    QCOMPARE(ui.labelDevice->text(), QStringLiteral("Device: /nonexistent"));
    ui.comboPort->setCurrentIndex(8);
    QCOMPARE(ui.labelDevice->text(),
             QStringLiteral("Device: ") + QString::fromStdString(ComDeviceName(9)));
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Connect"));
    QCOMPARE(h.ButtonText(IDCANCEL), QStringLiteral("Exit"));
    QVERIFY(!h.ButtonEnabled(ID_WIZBACK));
    QCOMPARE(ui.comboBaud->isEnabled(), kEdition200);
    QCOMPARE(ui.comboOperation->isVisibleTo(&h.Sheet()), kEdition200);
    QCOMPARE(ui.status->isVisibleTo(&h.Sheet()), kEdition201);
    if constexpr (kEdition201)
        QCOMPARE(ui.status->text(), QStringLiteral("Power off your STB"));
    QVERIFY(!ui.log->isVisibleTo(&h.Sheet()));
}

void SheetTest::connectPageSelectsTheSettings_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("selected");  // port, baud and parity shown; "-": no selection
    QTest::newRow("COM5 57600 odd") << 5 << 57600 << 1 << "COM5 57600 Odd";
    QTest::newRow("COM32 110 none") << 32 << 110 << 0 << "COM32 110 None";
    QTest::newRow("COM2 56000 mark") << 2 << 56000 << 3 << "COM2 56000 Mark";
    QTest::newRow("COM9 9600 space") << 9 << 9600 << 4 << "COM9 9600 Space";
    // Values the lists do not offer leave them without a selection, and Connect keeps them.
    QTest::newRow("outside the lists") << 40 << 12345 << 7 << "- - -";
    QTest::newRow("port 0") << 0 << 115200 << 2 << "- 115200 Even";
}

void SheetTest::connectPageSelectsTheSettings() {
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(QString, selected);
    WizardHarness h;
    const std::string config = "Port=" + std::to_string(port) + "\r\nBaud=" + std::to_string(baud) +
                               "\r\nParity=" + std::to_string(parity) + "\r\n";
    h.Open("/nonexistent", config);
    if (port >= 1 && port <= 32)
        ComSetDeviceName(port, h.DirPath(QStringLiteral("no-such-device")).toStdString());
    const Ui::PageConnect& ui = h.Sheet().PageConnect().Controls();
    QStringList shown;
    for (QComboBox* list : {ui.comboPort, ui.comboBaud, ui.comboParity})
        shown.push_back(list->currentIndex() < 0 ? QStringLiteral("-") : list->currentText());
    QCOMPARE(shown.join(QLatin1Char(' ')), selected);
    QCOMPARE(ui.comboOperation->currentText(), QStringLiteral("Upgrade"));
    // The page opens with the focus on its first control.
    QCOMPARE(h.Sheet().focusWidget(), static_cast<QWidget*>(ui.comboPort));

    // Connect writes the selections back, or keeps the values where there is none.
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); }, 10000));
    QCOMPARE(g_comPort, port);
    QCOMPARE(g_comBaud, baud);
    QCOMPARE(g_comParity, parity);
    QCOMPARE(GetContext()->operation, 0);
}

void SheetTest::selectPageShowsTheFamily_data() {
    if constexpr (kEdition200)
        QSKIP("edition 2.0.0 lists the chunks without a family message");
    QTest::addColumn<QString>("version");  // of chunk 0
    QTest::addColumn<QString>("name");     // of chunk 1
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("row");  // empty: no row
    const QString unknown = QStringLiteral(
        "We can\u00B4t auto detect firmware.\nProbably you are running 5817C series but\nif you "
        "press menu and you have DVR Management option\nyou are running 5817B DVR series "
        "otherwise\nyou are running 5817C series");
    QTest::newRow("RDX01") << "RDX01BL_100203"
                           << "maincodeC"
                           << "You are running 5817B series"
                           << "VOR 5817B firmware";
    QTest::newRow("RDX03 C") << "RDX03BL_1"
                             << "maincodeC_2"
                             << "You are running 5817C series"
                             << "VOR 5817C firmware";
    QTest::newRow("RDX03 B DVR") << "RDX03BL_1"
                                 << "maincodeB"
                                 << "You are running 5817B DVR series"
                                 << "VOR 5817B DVR firmware";
    QTest::newRow("RDX03 lower case") << "RDX03BL_1"
                                      << "maincodeb" << unknown << "VOR 5817 firmware";
    QTest::newRow("RDX02") << "RDX02BL_1"
                           << "maincodeC"
                           << "You are running incompatible firmware.\nYou can\u00B4t update "
                              "your STB with this tool."
                           << "";
}

void SheetTest::selectPageShowsTheFamily() {
    QFETCH(QString, version);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, row);
    WizardHarness h;
    h.Open("/nonexistent");
    SetChunkTable({Chunk(0xE3000010, "bootloader", version.toLatin1().constData()),
                   Chunk(0x01FE0100, name.toLatin1().constData(), "1.0")});
    h.Sheet().SetActivePage(1);
    CPageSelect& page = h.Sheet().PageSelect();
    // The message's line breaks are line breaks, and the accent is U+00B4.
    QCOMPARE(page.Message()->toPlainText(), message);
    QCOMPARE(RowTexts(page.List()), row.isEmpty() ? QStringList() : QStringList{row});
    QCOMPARE(page.OperateLabel()->text(), QStringLiteral("Operate: Upgrade"));
    QCOMPARE(h.ButtonText(ID_WIZBACK), QStringLiteral("< Back"));
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Next >"));
    QCOMPARE(h.ButtonText(IDCANCEL), QStringLiteral("Exit"));
    QVERIFY(h.ButtonEnabled(ID_WIZBACK));
    QVERIFY(!h.ButtonEnabled(ID_WIZNEXT));
    if (!row.isEmpty())
        QCOMPARE(page.RowPicture(0), 0);
}

void SheetTest::selectPageRowsOfEdition200() {
    if constexpr (kEdition201)
        QSKIP("edition 2.0.1 shows one firmware row");
    WizardHarness h;
    h.Open("/nonexistent");
    SetChunkTable({Chunk(0xE3000010, "bootloader", "RDX01BL_1"),
                   Chunk(0x01FE0100, "maincode", "1.0"), Chunk(0x02FD0100, "logo", "1.0", 1),
                   Chunk(0x04FB0100, "user db", "1.0")});
    CPageSelect& page = h.Sheet().PageSelect();
    const QStringList chunks = {QStringLiteral("bootloader"), QStringLiteral("maincode"),
                                QStringLiteral("user db")};  // the masked logo is left out
    for (int operation : {0, 1}) {
        GetContext()->operation = operation;
        h.Sheet().SetActivePage(1);
        QStringList expected{QStringLiteral("All Chunk")};
        if (operation == 0)
            expected.push_back(QStringLiteral("All Chunk(No BootLoader)"));
        QCOMPARE(RowTexts(page.List()), expected + chunks);
        QCOMPARE(page.OperateLabel()->text(), operation == 0 ? QStringLiteral("Operate: Upgrade")
                                                             : QStringLiteral("Operate: Dump"));
        QVERIFY(!h.ButtonEnabled(ID_WIZNEXT));
    }
}

void SheetTest::popupMenuOnlyOverARow() {
    WizardHarness h;
    h.Open("/nonexistent");
    SetChunkTable(
        {Chunk(0xE3000010, "bootloader", "RDX01BL_1"), Chunk(0x01FE0100, "maincode", "1.0")});
    h.Sheet().SetActivePage(1);
    CPageSelect& page = h.Sheet().PageSelect();
    QWidget* viewport = page.List()->viewport();
    QMenu* menu = page.PopupMenu();
    QCOMPARE(menu->title(), QStringLiteral("Pop_List"));
    QStringList items;
    for (QAction* action : menu->actions())
        items.push_back(action->text());
    QCOMPARE(items, (QStringList{QStringLiteral("Open File"), QStringLiteral("Cancel Select")}));

    // A right-click as the platform delivers it: the press selects, then the menu is asked for.
    auto rightClick = [&](const QPoint& at) {
        QTest::mouseClick(viewport, Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QCoreApplication::sendEvent(viewport, &event);
    };
    const QPoint row = page.List()->visualItemRect(page.List()->topLevelItem(0)).center();
    rightClick(row);
    QCOMPARE(page.SelectedRow(), 0);
    QVERIFY(menu->isVisible());
    menu->hide();
    // Below the last row: no row is selected and no menu shows.
    rightClick(QPoint(10, viewport->height() - 3));
    QCOMPARE(page.SelectedRow(), -1);
    QVERIFY(!menu->isVisible());
    // "Open File" asks for a file for the selected row.
    rightClick(row);
    menu->hide();
    menu->actions().front()->trigger();
    QCOMPARE(int(h.ChooserCalls().size()), 1);
}

void SheetTest::chooserShowsTheFilterTexts_data() {
    QTest::addColumn<uint32_t>("chunkId");
    QTest::addColumn<QString>("own");
    QTest::newRow("logo") << uint32_t(0x02FD0200) << "Logo file(*.m2v)";
    QTest::newRow("default db") << uint32_t(0x03FC0100) << "default db(*.ddf)";
    QTest::newRow("user db") << uint32_t(0x04FB0100) << "user db(*.udf)";
    QTest::newRow("boot loader") << uint32_t(0xE3000010) << "ABS File(*.abs)";
    QTest::newRow("other") << uint32_t(0x01FE0100) << "other file(*.bin)";
    QTest::newRow("whole image") << uint32_t(0)
                                 << (kEdition200 ? "ABS File(*.abs)" : "other file(*.bin)");
}

void SheetTest::chooserShowsTheFilterTexts() {
    QFETCH(uint32_t, chunkId);
    QFETCH(QString, own);
    std::string extension;
    std::string filter;
    ChooseFileFilter(chunkId, &extension, &filter);
    // The entries read as the program names them; "*.*" also takes names without a dot.
    QCOMPARE(ToQtFilters(filter), (QStringList{own, QStringLiteral("All File(*.*) (*)")}));
}

void SheetTest::enterWithNextDisabledDoesNothing() {
    WizardHarness h;
    h.Open("/nonexistent");
    QComboBox* port = h.Sheet().PageConnect().Controls().comboPort;
    port->setFocus();
    KeyCounter counter;
    port->installEventFilter(&counter);
    h.Sheet().EnableButton(ID_WIZNEXT, false);
    QTest::keyClick(port, Qt::Key_Return);
    QTest::keyClick(port, Qt::Key_Enter);
    QCOMPARE(counter.presses, 0);  // the focused control never saw the key
    QCOMPARE(GetContext()->taskState.load(), int(TASK_IDLE));
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Connect"));
    QCOMPARE(h.Sheet().GetActiveIndex(), 0);
    // Other keys still reach the control.
    QTest::keyClick(port, Qt::Key_Down);
    QVERIFY(counter.presses > 0);
}

void SheetTest::enterWithNextEnabledPressesNext() {
    WizardHarness h;
    h.Open("/nonexistent");
    QComboBox* port = h.Sheet().PageConnect().Controls().comboPort;
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Return);
    // Next ("Connect") was pressed: the connect task runs or has already failed on the missing
    // device; either way the caption ends as "Connect" again and the log shows.
    QVERIFY(h.WaitFor([&] { return GetContext()->taskState == TASK_IDLE; }, 5000));
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); }, 5000));
    QVERIFY(h.Sheet().PageConnect().Controls().log->isVisibleTo(&h.Sheet()));
}

void SheetTest::escAndCloseBoxRefusedWhileBurning() {
    WizardHarness h;
    h.Open("/nonexistent");
    GetContext()->taskState = TASK_BURNING;
    QTest::keyClick(h.Sheet().PageConnect().Controls().comboPort, Qt::Key_Escape);
    QTest::keyClick(&h.Sheet(), Qt::Key_Escape);
    QVERIFY(!h.Sheet().close());  // the close box
    QTest::qWait(50);
    QVERIFY(h.Sheet().isVisible());
    QVERIFY(!h.SheetClosed());
    GetContext()->taskState = TASK_IDLE;
    QVERIFY(!h.Sheet().close());  // a request: the close procedure runs from the queue
    QVERIFY(h.WaitFor([&] { return !h.Sheet().isVisible(); }, 2000));
    QVERIFY(h.SheetClosed());
}

void SheetTest::escAndCloseBoxCloseOtherwise_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("closeBox");
    for (int page = 0; page < 3; ++page) {
        QTest::addRow("esc on page %d", page) << page << false;
        QTest::addRow("close box on page %d", page) << page << true;
    }
}

void SheetTest::escAndCloseBoxCloseOtherwise() {
    QFETCH(int, page);
    QFETCH(bool, closeBox);
    WizardHarness h;
    h.Open("/nonexistent");
    h.Sheet().SetActivePage(page);
    if (closeBox) {
        h.Sheet().close();
    } else {
        QWidget* focus = h.Sheet().GetActivePage();
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    QVERIFY(h.WaitFor([&] { return !h.Sheet().isVisible(); }, 2000));
    QVERIFY(h.SheetClosed());
}

void SheetTest::exitClosesThroughConnectPage() {
    WizardHarness h;
    h.Open("/nonexistent");
    h.Click(IDCANCEL);
    QVERIFY(!h.Sheet().isVisible());
    QVERIFY(h.SheetClosed());
}

void SheetTest::postedMessagesKeepTheirOrder() {
    WizardHarness h;
    h.Open("/nonexistent");
    QPlainTextEdit* log = h.Sheet().PageConnect().Controls().log;
    constexpr int kCount = 300;
    QString expected;
    for (int i = 0; i < kCount; ++i)
        expected += QString::number(i) + QLatin1Char(' ');
    std::thread worker([] {
        for (int i = 0; i < kCount; ++i) {
            PostText(WM_TASK_LOG, (std::to_string(i) + " ").c_str());
            // The connect page ignores progress; it must be dropped, not bounced back and forth.
            PostPlain(WM_TASK_PROGRESS, static_cast<uintptr_t>(i % 101), 0);
        }
        PostText(WM_TASK_STATUS, "last step");
    });
    worker.join();
    QVERIFY(
        h.WaitFor([&] { return log->toPlainText().endsWith(QLatin1String("last step\n")); }, 5000));
    QCOMPARE(log->toPlainText(), expected + QStringLiteral("last step\n"));
    QCOMPARE(h.Sheet().PageConnect().Controls().status->text(), QStringLiteral("last step"));
}

void SheetTest::failedConnectRestoresConnect() {
    WizardHarness h;
    h.Open(h.DirPath(QStringLiteral("no-such-device")).toStdString());
    h.Click(ID_WIZNEXT);
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Cancel"));
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); }, 10000));
    QCOMPARE(h.Sheet().GetActiveIndex(), 0);
    QCOMPARE(GetContext()->taskState.load(), int(TASK_IDLE));
    QVERIFY(h.ButtonEnabled(ID_WIZNEXT));
    const Ui::PageConnect& ui = h.Sheet().PageConnect().Controls();
    QVERIFY(ui.log->isVisibleTo(&h.Sheet()));
    QVERIFY2(ui.log->toPlainText().contains(QLatin1String("Can not connect serial port!")),
             qPrintable(ui.log->toPlainText()));
    QVERIFY(h.Boxes().isEmpty());
    // Connect again clears the failed run's lines first.
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Connect"); }, 10000));
    QCOMPARE(ui.log->toPlainText().count(QLatin1String("Can not connect serial port!")), 1);
}

void SheetTest::processPageShowsTaskMessages() {
    WizardHarness h;
    h.Open("/nonexistent");
    h.Sheet().SetActivePage(2);
    CPageProcess& page = h.Sheet().PageProcess();
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Cancel"));
    QVERIFY(!h.ButtonEnabled(ID_WIZBACK));
    PostText(WM_TASK_STATUS, "Set address..");
    PostText(WM_TASK_LOG, "\r\n->Warning: retry 1 \x93\x80\x94\x81\r\n");
    PostText(WM_TASK_STATUS, "Transfer \xB4maincode\xB4");
    PostPlain(WM_TASK_PROGRESS, 100, 0);
    PostPlain(WM_BURN_BEGIN, 0, 0);
    QVERIFY(h.WaitFor([&] { return !h.ButtonEnabled(ID_WIZNEXT); }, 2000));
    QVERIFY(!h.ButtonEnabled(ID_WIZBACK));
    QVERIFY(!h.ButtonEnabled(IDCANCEL));
    QCOMPARE(
        page.Log()->toPlainText(),
        QStringLiteral("Set address..\n->Warning: retry 1 \u201C\u20AC\u201D\u0081\n\nTransfer "
                       "\u00B4maincode\u00B4"));
    QCOMPARE(page.Status()->text(), QStringLiteral("Transfer \u00B4maincode\u00B4"));
    QCOMPARE(page.Progress()->value(), 100);
    QCOMPARE(page.Percent()->text(), QStringLiteral("100%"));
    // Shown again, the page starts from an empty log, status line and 0 %.
    h.Sheet().SetActivePage(0);
    h.Sheet().SetActivePage(2);
    QVERIFY(page.Log()->toPlainText().isEmpty());
    QVERIFY(page.Status()->text().isEmpty());
    QCOMPARE(page.Progress()->value(), 0);
    QCOMPARE(page.Percent()->text(), QStringLiteral("0%"));
}

void SheetTest::processPageResultTexts_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("text");
    QTest::newRow("upgrade ok") << 0 << 0 << QStringLiteral("Upgrade Success!");
    QTest::newRow("upgrade failed") << 0 << 1 << QStringLiteral("Upgrade Error");
    QTest::newRow("dump ok") << 1 << 0 << QStringLiteral("Dump Success!");
    QTest::newRow("dump failed") << 1 << 1 << QStringLiteral("Dump Error");
}

void SheetTest::processPageResultTexts() {
    QFETCH(int, operation);
    QFETCH(int, failed);
    QFETCH(QString, text);
    WizardHarness h;
    h.Open("/nonexistent");
    GetContext()->operation = operation;
    h.Sheet().SetActivePage(2);
    PostPlain(WM_UPGRADE_DONE, static_cast<uintptr_t>(failed), 0);
    QVERIFY(h.WaitFor([&] { return !h.Boxes().isEmpty(); }, 2000));
    QCOMPARE(h.Boxes(), QStringList{text});
    QCOMPARE(h.ButtonText(ID_WIZBACK), QStringLiteral("Restart"));
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Finish"));
    QCOMPARE(h.ButtonText(IDCANCEL), QStringLiteral("Exit"));
    for (int id : {ID_WIZBACK, ID_WIZNEXT, IDCANCEL})
        QVERIFY(h.ButtonEnabled(id));
    // Restart goes back to the connect page, ready for a new connect.
    h.Click(ID_WIZBACK);
    QCOMPARE(h.Sheet().GetActiveIndex(), 0);
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Connect"));
}

void SheetTest::cancelledRunReturnsToConnectPage() {
    WizardHarness h;
    h.Open("/nonexistent");
    h.Sheet().SetActivePage(2);
    PostPlain(WM_UPGRADE_DONE, 1, 1);
    QVERIFY(h.WaitFor([&] { return h.Sheet().GetActiveIndex() == 0; }, 2000));
    QVERIFY(h.Boxes().isEmpty());
    QCOMPARE(h.ButtonText(ID_WIZNEXT), QStringLiteral("Connect"));
}

void SheetTest::finishCloses() {
    WizardHarness h;
    h.Open("/nonexistent");
    h.Sheet().SetActivePage(2);
    PostPlain(WM_UPGRADE_DONE, 0, 0);
    QVERIFY(h.WaitFor([&] { return h.ButtonText(ID_WIZNEXT) == QLatin1String("Finish"); }, 2000));
    h.Click(ID_WIZNEXT);
    QVERIFY(h.WaitFor([&] { return !h.Sheet().isVisible(); }, 2000));
    QVERIFY(h.SheetClosed());
}

QTEST_MAIN(SheetTest)
#include "sheet_test.moc"
