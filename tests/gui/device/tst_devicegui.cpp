// The login dialog's form and the tabs' selection behaviour, without devices.

#include "app/cdialogwidget.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/csearchdevicethread.h"
#include "device/devicecsv.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/logindlg.h"
#include "device/loginerrortext.h"
#include "logo/upgradelogowidget.h"
#include "oemid/setoemid.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <cstring>

namespace
{

SDK_CONFIG_NET_COMMON_V2 answer(const char *mac, uint8_t last, int type = 1)
{
    SDK_CONFIG_NET_COMMON_V2 a;
    std::memset(&a, 0, sizeof a);
    const uint8_t ip[4] = {127, 45, 0, last};
    std::memcpy(a.HostIP, ip, 4);
    std::strcpy(a.sMac, mac);
    a.DeviceType = type;
    a.NetValues[1] = 34567;
    return a;
}

} // namespace

class DeviceGui : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        ConfigKeys::setConfigPath(m_dir.filePath(QStringLiteral("Config.ini")));
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    }
    void init()
    {
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    }

    void loginFormRules()
    {
        LoginDlg dlg;
        QCOMPARE(dlg.ipEdit()->text(), QStringLiteral("192.168.1.10"));
        QCOMPARE(dlg.userEdit()->text(), QStringLiteral("admin"));
        QVERIFY(dlg.passwordEdit()->text().isEmpty());
        QCOMPARE(dlg.passwordEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(dlg.okButton()->maximumWidth(), 75);

        dlg.ipEdit()->clear();
        QTest::keyClicks(dlg.ipEdit(), QStringLiteral("256.1.1.1"));
        QVERIFY(dlg.ipEdit()->text() != QStringLiteral("256.1.1.1"));
        dlg.ipEdit()->setText(QStringLiteral("256.1.1.1"));
        QVERIFY(!dlg.ipEdit()->hasAcceptableInput());
        dlg.ipEdit()->setText(QStringLiteral("255.1.1.1"));
        QVERIFY(dlg.ipEdit()->hasAcceptableInput());

        dlg.portEdit()->setText(QStringLiteral("65536"));
        QVERIFY(!dlg.portEdit()->hasAcceptableInput());
        dlg.portEdit()->setText(QStringLiteral("65535"));
        QVERIFY(dlg.portEdit()->hasAcceptableInput());

        // The record carries 11 characters and a terminator: a 12th cannot be typed.
        dlg.userEdit()->clear();
        QTest::keyClicks(dlg.userEdit(), QStringLiteral("abcdefghijklm"));
        QCOMPARE(dlg.userEdit()->text(), QStringLiteral("abcdefghijk"));
        dlg.passwordEdit()->clear();
        QTest::keyClicks(dlg.passwordEdit(), QStringLiteral("0123456789abc"));
        QCOMPARE(dlg.passwordEdit()->text(), QStringLiteral("0123456789a"));
    }

    void credentialsThatDoNotFitAreRefused_data()
    {
        QTest::addColumn<bool>("preloaded");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        const QString eleven = QStringLiteral("0123456789a");
        // Four CJK characters are 12 bytes of UTF-8: they do not fit although only 4 were typed.
        const QString cjk = QStringLiteral("\u5bc6\u7801\u5bc6\u7801");
        QTest::newRow("11 fit, re-login") << true << eleven << eleven << true;
        QTest::newRow("12 bytes password, re-login") << true << QStringLiteral("admin") << cjk << false;
        QTest::newRow("12 bytes user, re-login") << true << cjk << QString() << false;
        QTest::newRow("12 bytes password, add") << false << QStringLiteral("admin") << cjk << false;
    }

    void credentialsThatDoNotFitAreRefused()
    {
        QFETCH(bool, preloaded);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        DEV_INFO rec;
        std::memset(&rec, 0, sizeof rec);
        std::strcpy(rec.szIpaddress, "127.45.0.9");
        rec.nPort = 40000;
        LoginDlg dlg;
        dlg.setPreloaded(preloaded);
        dlg.setDevInfo(rec);
        dlg.preload();
        dlg.ipEdit()->setText(QStringLiteral("127.45.0.9"));
        dlg.userEdit()->setText(user);
        dlg.passwordEdit()->setText(password);
        dlg.okButton()->click();
        if (accepted) {
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(QString::fromUtf8(dlg.devInfo().szUserName), user);
            QCOMPARE(QString::fromUtf8(dlg.devInfo().szPsw), password);
            QCOMPARE(CMessageBox::shownCount(), 0);
            return;
        }
        // Refused before anything is sent: an error box, the dialog stays, no login starts.
        QCOMPARE(CMessageBox::shownCount(), 1);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Error"));
        QCOMPARE(CMessageBox::lastShown().text,
                 QStringLiteral("User name and password can each hold at most 11 bytes"));
        QVERIFY(!dlg.loggingIn());
        QVERIFY(dlg.result() != int(QDialog::Accepted));
        QCOMPARE(QByteArray(dlg.devInfo().szPsw), QByteArray());
    }

    void preloadAndReloginOk()
    {
        DEV_INFO rec;
        std::memset(&rec, 0, sizeof rec);
        std::strcpy(rec.szIpaddress, "127.45.0.9");
        rec.nPort = 40000;
        std::strcpy(rec.szUserName, "root");
        std::strcpy(rec.szPsw, "pw");

        LoginDlg plain;
        plain.portEdit()->setText(QStringLiteral("1"));
        plain.setDevInfo(rec);
        plain.preload(); // not preloaded: only the port is reset
        QCOMPARE(plain.portEdit()->text(), QStringLiteral("34567"));
        QCOMPARE(plain.ipEdit()->text(), QStringLiteral("192.168.1.10"));

        LoginDlg dlg;
        dlg.setPreloaded(true);
        dlg.setDevInfo(rec);
        dlg.preload();
        QCOMPARE(dlg.ipEdit()->text(), QStringLiteral("127.45.0.9"));
        QCOMPARE(dlg.portEdit()->text(), QStringLiteral("40000"));
        QCOMPARE(dlg.userEdit()->text(), QStringLiteral("root"));
        QCOMPARE(dlg.passwordEdit()->text(), QStringLiteral("pw"));
        dlg.userEdit()->setText(QStringLiteral("admin"));
        dlg.passwordEdit()->setText(QStringLiteral("new"));
        dlg.okButton()->click(); // no login here: the owner logs in
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.loggingIn());
        QCOMPARE(QByteArray(dlg.devInfo().szUserName), QByteArray("admin"));
        QCOMPARE(QByteArray(dlg.devInfo().szPsw), QByteArray("new"));
        QCOMPARE(dlg.devInfo().lLoginID, 0);
    }

    void badPortIsRefusedWithAMessage()
    {
        LoginDlg dlg;
        dlg.ipEdit()->setText(QStringLiteral("127.45.0.9"));
        dlg.portEdit()->setText(QStringLiteral("65536"));
        dlg.okButton()->click();
        QCOMPARE(CMessageBox::shownCount(), 1);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Error"));
        QVERIFY(!dlg.loggingIn());
        dlg.cancelButton()->click();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void resolveHost()
    {
        QCOMPARE(LoginDlg::resolveHost(QStringLiteral("127.45.0.9")), QStringLiteral("127.45.0.9"));
        QCOMPARE(LoginDlg::resolveHost(QStringLiteral("localhost")), QStringLiteral("127.0.0.1"));
        QCOMPARE(LoginDlg::resolveHost(QString()), QString());
        QCOMPARE(LoginDlg::resolveHost(QStringLiteral("192.168")), QStringLiteral("192.168"));
        QCOMPARE(LoginDlg::resolveHost(QStringLiteral("127.1")), QStringLiteral("127.1"));
    }

    void selectAndReverse()
    {
        UpgradeLogoWidget logo;
        DeviceTabController *core = logo.tabController();
        // Answers arrive as from the search thread; types 0, 3 and 5 are not listed on this tab.
        logo.fillDeviceTable(answer("aa:00:00:00:00:01", 2, 1));
        logo.fillDeviceTable(answer("aa:00:00:00:00:02", 3, 0));
        logo.fillDeviceTable(answer("aa:00:00:00:00:03", 4, 4));
        logo.stopSearch();
        QCOMPARE(core->table()->rowCount(), 2);
        QCOMPARE(core->table()->model()->index(1, 0).data().toString(), QStringLiteral("2"));

        auto *select = logo.findChild<QPushButton *>(QStringLiteral("selectBtn"));
        auto *reverse = logo.findChild<QPushButton *>(QStringLiteral("btnReverse"));
        QCOMPARE(select->text(), QStringLiteral("Select"));
        select->click();
        QCOMPARE(select->text(), QStringLiteral("UnSelectAll"));
        QCOMPARE(core->table()->checkedRows(), (QList<int>{0, 1}));
        core->table()->setChecked(0, false);
        reverse->click();
        QCOMPARE(core->table()->checkedRows(), (QList<int>{0}));
        select->click();
        QCOMPARE(select->text(), QStringLiteral("SelectAll"));
        QVERIFY(core->table()->checkedRows().isEmpty());
    }

    void firmwareTabLayoutAndClick()
    {
        UpgradeWidget fw;
        for (const char *name : {"tableView", "selectBtn", "btnReverse", "SearchButton", "addBtn"})
            QVERIFY2(fw.findChild<QWidget *>(QLatin1String(name)), name);
        auto *view = fw.findChild<QTableView *>(QStringLiteral("tableView"));
        QCOMPARE(view->model()->columnCount(), 8);
        const int widths[8] = {50, 100, 60, 140, 120, 120, 280, 120};
        for (int c = 0; c < 8; ++c)
            QCOMPARE(view->columnWidth(c), widths[c]);
        QCOMPARE(view->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Destribe"));
        QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(view->alternatingRowColors());
        QVERIFY(!view->verticalHeader()->isHidden());

        fw.fillDeviceTable(answer("aa:00:00:00:00:07", 7));
        QSignalSpy sent(&fw, &UpgradeWidget::sendDevInfoSignal);
        fw.on_tableView_clicked(view->model()->index(0, 2));
        QCOMPARE(sent.count(), 1);
        fw.on_tableView_clicked(QModelIndex());
        QCOMPARE(sent.count(), 1);
    }

    void addRefusesOnlyAbove256Rows()
    {
        UpgradeWidget fw;
        auto addRow = [&fw](int i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "aa:00:00:00:%02x:%02x", i / 256, i % 256);
            SDK_CONFIG_NET_COMMON_V2 a = answer(mac, uint8_t(i));
            a.HostIP[2] = uint8_t(i / 256 + 1);
            fw.fillDeviceTable(a);
        };
        // A dialog that appears is cancelled at once, so that the test goes on either way.
        int shown = 0;
        QTimer guard;
        connect(&guard, &QTimer::timeout, this, [&shown] {
            if (auto *dlg = qobject_cast<LoginDlg *>(QApplication::activeModalWidget())) {
                ++shown;
                dlg->reject();
            }
        });
        guard.start(20);
        auto *add = fw.findChild<QPushButton *>(QStringLiteral("addBtn"));
        for (int i = 0; i < 256; ++i)
            addRow(i);
        QCOMPARE(fw.tabController()->table()->rowCount(), 256);
        add->click(); // 256 rows are not more than 256: the dialog opens
        QCOMPARE(shown, 1);
        addRow(256);
        add->click(); // 257 rows: nothing happens
        QCOMPARE(shown, 1);
        QCOMPARE(fw.tabController()->table()->rowCount(), 257);
    }

    void contextMenuOnARealTab()
    {
        UpgradeWidget fw;
        DeviceTabController *core = fw.tabController();
        DeviceTable *table = core->table();
        DeviceTableActions *actions = core->tableActions();
        QVERIFY(actions);
        auto *view = fw.findChild<QTableView *>(QStringLiteral("tableView"));
        QVERIFY(!view->accessibleName().isEmpty());
        QCOMPARE(view->contextMenuPolicy(), Qt::CustomContextMenu);
        for (int i = 0; i < 4; ++i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "aa:00:00:00:00:%02x", i);
            fw.fillDeviceTable(answer(mac, uint8_t(10 + i)));
        }
        table->setStatusText(0, StatusOutcome::Neutral, QStringLiteral("Login Success"));
        table->setStatusText(0, StatusOutcome::Neutral, QStringLiteral("Send Progress: 50"));
        table->setStatusText(0, StatusOutcome::Failure, QStringLiteral("Upgrade Fail"));
        table->setStatusText(1, StatusOutcome::Success, QStringLiteral("Upgrade Success  "));
        table->setStatusText(2, StatusOutcome::Failure, QStringLiteral("Password is error"));
        table->setCellValue(3, 6, QStringLiteral("V2, \"rc\"\nnight"));
        table->setChecked(1, true);

        auto trigger = [&](int row, const char *name) {
            std::unique_ptr<QMenu> menu(actions->createMenu(row));
            QAction *action = menu->findChild<QAction *>(QLatin1String(name));
            QVERIFY2(action, name);
            QVERIFY2(action->isEnabled(), name);
            QVERIFY2(!action->text().isEmpty(), name);
            action->trigger();
        };

        // Select failed ticks exactly the failing rows.
        trigger(-1, "selectFailed");
        QCOMPARE(table->checkedRows(), (QList<int>{0, 2}));

        // History: every text of row 0, oldest first, with times.
        trigger(0, "showHistory");
        QPointer<CDialogWidget> dlg = actions->historyDialog();
        QVERIFY(dlg);
        QVERIFY(dlg->isVisible());
        QVERIFY(dlg->windowFlags() & Qt::FramelessWindowHint);
        auto *text = dlg->findChild<QPlainTextEdit *>(QStringLiteral("historyText"));
        QVERIFY(text && text->isReadOnly());
        const QStringList lines = text->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(QStringLiteral("Destribe: Login Success")));
        QVERIFY(lines[1].endsWith(QStringLiteral("Send Progress: 50")));
        QVERIFY(lines[2].endsWith(QStringLiteral("Upgrade Fail")));
        QVERIFY(
            QDateTime::fromString(lines[2].left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).isValid());
        dlg->findChild<QPushButton *>(QStringLiteral("historyCopy"))->click();
        QCOMPARE(QApplication::clipboard()->text(), text->toPlainText());
        dlg->close();
        QTRY_VERIFY(!dlg);
        {
            std::unique_ptr<QMenu> menu(actions->createMenu(-1));
            QVERIFY(!menu->findChild<QAction *>(QStringLiteral("showHistory"))->isEnabled());
        }

        // Export: the whole table parses back.
        const QString path = m_dir.filePath(QStringLiteral("export.csv"));
        actions->setExportPathChooser([path] { return path; });
        trigger(-1, "exportCsv");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QStringList> back;
        QVERIFY(DeviceCsv::parse(QString::fromUtf8(f.readAll()), &back));
        QCOMPARE(back.size(), 5);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 8; ++c)
                QCOMPARE(back[r + 1][c], table->model()->index(r, c).data().toString());
        QCOMPARE(back[1][3], QStringLiteral("Upgrade Fail"));
        QVERIFY(!back[1][8].isEmpty());
        QCOMPARE(back[4][6], QStringLiteral("V2, \"rc\"\nnight"));

        // Reset and reboot ask first; "Cancel" starts nothing.
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 1; });
        trigger(-1, "reboot");
        QCOMPARE(CMessageBox::shownCount(), 1);
        QVERIFY(CMessageBox::lastShown().text.contains(QStringLiteral("2")));
        QVERIFY(!actions->commandRunning());
        QCOMPARE(table->statusText(0), QStringLiteral("Upgrade Fail"));
        // Nothing chosen: a message, no question.
        for (int r = 0; r < 4; ++r)
            table->setChecked(r, false);
        trigger(-1, "resetConfig");
        QCOMPARE(CMessageBox::shownCount(), 2);
        QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please Select a Device"));

        // Keys: Space ticks the current row, Ctrl+A ticks all, the menu key and Shift+F10 open the menu.
        view->setCurrentIndex(table->model()->index(2, 1));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(table->checkedRows(), QList<int>{2});
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(table->checkedRows().isEmpty());
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(table->checkedRows().size(), 4);
        for (auto [key, mods] : {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers{}},
                                 std::pair{Qt::Key_F10, Qt::KeyboardModifiers{Qt::ShiftModifier}}}) {
            QTest::keyClick(view, key, mods);
            QMenu *menu = nullptr;
            QTRY_VERIFY((menu = view->findChild<QMenu *>()) && menu->isVisible());
            QVERIFY(
                menu->findChild<QAction *>(QStringLiteral("showHistory"))->isEnabled()); // row 2 is current
            menu->close();
            QTRY_VERIFY(!view->findChild<QMenu *>());
        }
    }

    void selectFailedSelectsRowsWithoutTickBoxes()
    {
        SetOEMID oemid;
        DeviceTabController *core = oemid.tabController();
        for (int i = 0; i < 3; ++i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "aa:00:00:00:01:%02x", i);
            oemid.fillDeviceTable(answer(mac, uint8_t(20 + i)));
        }
        if (core->table()->rowCount() < 3)
            QSKIP("the OEMID tab lists devices only with a task chosen");
        core->table()->setStatusText(1, StatusOutcome::Failure,
                                     QStringLiteral("Set OEMID Failed ret=-10002,code:-10002"));
        core->table()->setStatusText(2, StatusOutcome::Success, QStringLiteral("Set OEMID Success"));
        QCOMPARE(core->tableActions()->selectFailed(), QList<int>{1});
        QCOMPARE(core->tableActions()->chosenRows(), QList<int>{1});
    }

    void chineseCatalogue()
    {
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(TALLOW_APP_DIR "/language/tallow_zh.qm")));
        QCoreApplication::installTranslator(&zh);
        DeviceTable table(TabKind::Logo);
        QCOMPARE(table.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("设备类型"));
        QCOMPARE(loginErrorText(-11305, LoginTextVariant::Dialog, 0), QStringLiteral("该用户已登录。"));
        QCOMPARE(loginErrorText(-11306, LoginTextVariant::Tab, -1),
                 QStringLiteral("未知错误 nError:-11306,code:-1"));
        UpgradeLogoWidget logo;
        QCOMPARE(logo.findChild<QPushButton *>(QStringLiteral("btnReverse"))->text(), QStringLiteral("反选"));
        LoginDlg dlg;
        QCOMPARE(dlg.okButton()->text(), QStringLiteral("确定"));
        QCoreApplication::removeTranslator(&zh);
    }
};

QTEST_MAIN(DeviceGui)
#include "tst_devicegui.moc"
