// The device tables of the three tabs, login, IP change and batch commands against simulated devices.

#include "devsimfleet.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/cbatchdealthread.h"
#include "device/csearchdevicethread.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/logindlg.h"
#include "device/statusoutcome.h"
#include "logo/upgradelogowidget.h"
#include "mainwindow/ctallow.h"
#include "netsdk/netsdk.h"
#include "oemid/setoemid.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace
{

QJsonObject dev(const QString &ip, const QString &mac, int type = 1, QJsonObject extra = {})
{
    extra.insert(QStringLiteral("ip"), ip);
    extra.insert(QStringLiteral("mac"), mac);
    extra.insert(QStringLiteral("deviceType"), type);
    return extra;
}

QJsonObject faults(const QJsonObject &f)
{
    return QJsonObject{{QStringLiteral("faults"), f}};
}

// Runs `f` on the login dialog as soon as one is shown (the caller then blocks in exec()).
void onLoginDialog(std::function<void(LoginDlg *)> f)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, f] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dlg = qobject_cast<LoginDlg *>(w);
            if (dlg && dlg->isVisible()) {
                timer->stop();
                timer->deleteLater();
                f(dlg);
                return;
            }
        }
    });
    timer->start();
}

QString cell(DeviceTabController *core, int row, int col)
{
    return core->table()->model()->index(row, col).data().toString();
}

QStringList column(DeviceTabController *core, int col)
{
    QStringList out;
    for (int r = 0; r < core->table()->model()->rowCount(); ++r)
        out << cell(core, r, col);
    return out;
}

template <class Tab> DeviceTabController *searchOn(Tab &tab, const char *button)
{
    DeviceTabController *core = tab.tabController();
    core->searchThread()->setSearchTime(1500);
    // The OEMID tab searches only with something to do; the clock is the harmless choice.
    if (auto *sync = tab.template findChild<QCheckBox *>(QStringLiteral("synchronizationTime")))
        sync->setChecked(true);
    tab.template findChild<QPushButton *>(QLatin1String(button))->click();
    return core;
}

bool waitSearch(DeviceTabController *core)
{
    return QTest::qWaitFor([core] { return !core->searching(); }, 15000);
}

} // namespace

class DeviceE2E : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_config;
    int m_port = 44000;
    int m_search = 44009;
    // Every test gets its own ports and loopback range, so tests never hear each other.
    void nextPorts(int n)
    {
        m_port = 44000 + 10 * n;
        m_search = m_port + 9;
        H264_DVR_SetSearchPort(quint16(m_search));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        ConfigKeys::setConfigPath(m_config.filePath(QStringLiteral("Config.ini")));
        ConfigKeys::setInt(Key::StartIndex, 20);
        H264_DVR_Init(nullptr, 0);
    }
    void cleanupTestCase() { H264_DVR_Cleanup(); }
    void init()
    {
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    }

    void searchListsFleetInAddressOrder();
    void addByHandLogsIn();
    void cancelDuringLoginReturnsAtOnce();
    void loginErrorTexts_data();
    void loginErrorTexts();
    void vanishedDeviceAndFailedSearch();
    void ipChange();
    void batchCommands();
    void nonAsciiPasswordOnEveryTab_data();
    void nonAsciiPasswordOnEveryTab();
    void mainWindowShowsFleet();
};

void DeviceE2E::searchListsFleetInAddressOrder()
{
    nextPorts(1);
    DevsimFleet fleet;
    const QJsonArray devices{
        dev(QStringLiteral("127.44.1.30"), QStringLiteral("00:00:00:00:00:30"), 1),
        dev(QStringLiteral("127.44.1.255"), QStringLiteral("aa:00:00:00:00:ff"), 2),
        // The address after 127.44.1.255: listed after it, not in its place.
        dev(QStringLiteral("127.44.2.0"), QStringLiteral("00:00:00:00:02:00"), 1),
        dev(QStringLiteral("127.44.1.5"), QStringLiteral("00:00:00:00:00:05"), 4),
        dev(QStringLiteral("127.44.1.20"), QStringLiteral("00:12:34:56:78:9a"), 0,
            QJsonObject{{QStringLiteral("serialInSearch"), false}, {QStringLiteral("version"), QString()}}),
        dev(QStringLiteral("127.44.1.40"), QStringLiteral("00:00:00:00:00:40"), 3),
        dev(QStringLiteral("127.44.1.41"), QStringLiteral("00:00:00:00:00:41"), 5),
        // Same MAC as 127.44.1.30 and answers after it: the later answer wins.
        dev(QStringLiteral("127.44.1.50"), QStringLiteral("00:00:00:00:00:30"), 1),
    };
    QVERIFY(fleet.start(devices, m_port, m_search));
    const QStringList all{"127.44.1.5",  "127.44.1.20",  "127.44.1.40", "127.44.1.41",
                          "127.44.1.50", "127.44.1.255", "127.44.2.0"};

    UpgradeWidget firmware;
    DeviceTabController *fw = searchOn(firmware, "SearchButton");
    QVERIFY(!firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->isEnabled());
    QVERIFY(waitSearch(fw));
    QVERIFY(firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->isEnabled());
    QCOMPARE(column(fw, 1), all);
    QCOMPARE(column(fw, 0), (QStringList{"1", "2", "3", "4", "5", "6", "7"}));
    QCOMPARE(cell(fw, 0, 2), QStringLiteral("44010"));
    QCOMPARE(cell(fw, 1, 4), QStringLiteral("00:12:34:56:78:9a"));
    QCOMPARE(cell(fw, 1, 5), QStringLiteral("7b6ecbf6732ba646")); // derived from the MAC
    QVERIFY(cell(fw, 1, 6).isEmpty());                            // no version: neither version nor date
    QVERIFY(cell(fw, 1, 7).isEmpty());
    QVERIFY(!cell(fw, 0, 6).isEmpty());
    QVERIFY(!cell(fw, 0, 5).isEmpty());
    QCOMPARE(fw->table()->store().record(fw->table()->generation(), 5).value().nPort, m_port);

    // Select all, then reverse.
    auto *selectBtn = firmware.findChild<QPushButton *>(QStringLiteral("selectBtn"));
    selectBtn->click();
    QCOMPARE(selectBtn->text(), QStringLiteral("UnSelectAll"));
    QCOMPARE(fw->table()->checkedRows().size(), 7);
    fw->table()->setChecked(2, false);
    firmware.findChild<QPushButton *>(QStringLiteral("btnReverse"))->click();
    QCOMPARE(fw->table()->checkedRows(), QList<int>{2});
    QCOMPARE(selectBtn->text(), QStringLiteral("UnSelectAll"));
    selectBtn->click();
    QCOMPARE(selectBtn->text(), QStringLiteral("SelectAll"));
    QVERIFY(fw->table()->checkedRows().isEmpty());

    UpgradeLogoWidget logo;
    DeviceTabController *lg = searchOn(logo, "SearchButton");
    QVERIFY(waitSearch(lg));
    QCOMPARE(column(lg, 1), (QStringList{"127.44.1.5", "127.44.1.50", "127.44.1.255", "127.44.2.0"}));
    QCOMPARE(column(lg, 2), (QStringList{"NVR", "DVR", "DVR", "DVR"}));
    QCOMPARE(column(lg, 4), (QStringList{"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1"})); // gateway
    QCOMPARE(column(lg, 0), (QStringList{"1", "2", "3", "4"}));

    SetOEMID oemid;
    DeviceTabController *oe = searchOn(oemid, "searchbtn");
    QSignalSpy finished(&oemid, &SetOEMID::searchFinished);
    QVERIFY(waitSearch(oe));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(column(oe, 1), all);
    QCOMPARE(cell(oe, 1, 4), QStringLiteral("00:12:34:56:78:9a"));
    QCOMPARE(cell(oe, 1, 7), QStringLiteral("7b6ecbf6732ba646"));
    QVERIFY(!cell(oe, 0, 5).isEmpty()); // version in column 5 here
    auto *view = oemid.findChild<QTableView *>(QStringLiteral("tableView"));
    QVERIFY(view->verticalHeader()->isHidden());
    QCOMPARE(view->columnWidth(5), 280);
    QCOMPARE(oe->table()->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Destribe"));
    QVERIFY(!(oe->table()->model()->flags(oe->table()->model()->index(0, 0)) & Qt::ItemIsUserCheckable));

    // A new search starts from an empty table.
    searchOn(firmware, "SearchButton");
    QCOMPARE(fw->table()->rowCount(), 0);
    QVERIFY(!fw->startSearch()); // refused while one runs
    QVERIFY(waitSearch(fw));
    QCOMPARE(column(fw, 1), all);
}

void DeviceE2E::addByHandLogsIn()
{
    nextPorts(2);
    DevsimFleet fleet;
    QVERIFY(fleet.start({dev(QStringLiteral("127.44.2.10"), QStringLiteral("00:12:34:56:78:9b"), 1,
                             QJsonObject{{QStringLiteral("serial"), QStringLiteral("SER0000000000042")},
                                         {QStringLiteral("password"), QStringLiteral("pw1")}})},
                        m_port, m_search));
    UpgradeWidget firmware;
    DeviceTabController *fw = firmware.tabController();
    QSignalSpy sent(&firmware, &UpgradeWidget::sendDevInfoSignal);

    // A wrong password first: the error box, the dialog stays; then the right one.
    onLoginDialog([this](LoginDlg *dlg) {
        QCOMPARE(dlg->portEdit()->text(), QStringLiteral("34567"));
        dlg->ipEdit()->setText(QStringLiteral("127.44.2.10"));
        dlg->portEdit()->setText(QString::number(m_port));
        dlg->passwordEdit()->setText(QStringLiteral("bad"));
        dlg->okButton()->click();
        QTRY_COMPARE(CMessageBox::shownCount(), 1);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Error"));
        QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Password is error"));
        QVERIFY(dlg->isVisible());
        dlg->passwordEdit()->setText(QStringLiteral("pw1"));
        dlg->okButton()->click();
    });
    firmware.findChild<QPushButton *>(QStringLiteral("addBtn"))->click();

    QCOMPARE(fw->table()->rowCount(), 1);
    QCOMPARE(cell(fw, 0, 3), QStringLiteral("Login Success"));
    QCOMPARE(cell(fw, 0, 1), QStringLiteral("127.44.2.10"));
    QCOMPARE(cell(fw, 0, 2), QString::number(m_port));
    QCOMPARE(cell(fw, 0, 4), QStringLiteral("00:12:34:56:78:9b"));
    QCOMPARE(cell(fw, 0, 5), QStringLiteral("SER0000000000042"));
    QVERIFY(!cell(fw, 0, 6).isEmpty());
    QCOMPARE(Qt::CheckState(fw->table()->model()->index(0, 0).data(Qt::CheckStateRole).toInt()),
             Qt::Unchecked);
    QCOMPARE(sent.count(), 1);
    const DEV_INFO rec = fw->table()->store().record(fw->table()->generation(), 0).value();
    QVERIFY(rec.lLoginID > 0);
    QCOMPARE(QByteArray(rec.szCloudID), QByteArray("SER0000000000042"));
    QCOMPARE(fleet.count(QStringLiteral("00:12:34:56:78:9b"), "login"), 1);

    // Re-login of the logged-in row: the old login is dropped, the new credentials are used.
    QSignalSpy done(fw, &DeviceTabController::reLoginFinished);
    onLoginDialog([](LoginDlg *dlg) {
        QCOMPARE(dlg->passwordEdit()->text(), QStringLiteral("pw1"));
        dlg->okButton()->click();
    });
    emit firmware.findChild<QTableView *>(QStringLiteral("tableView"))
        ->doubleClicked(fw->table()->model()->index(0, 1));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(done.at(0).at(1).toBool(), true);
    const DEV_INFO again = fw->table()->store().record(fw->table()->generation(), 0).value();
    QVERIFY(again.lLoginID > 0);
    QVERIFY(again.lLoginID != rec.lLoginID);
    char block[144];
    unsigned long returned = 0;
    QVERIFY(H264_DVR_GetDevConfig(rec.lLoginID, 20, -1, block, sizeof block, &returned, 1000) < 0);
    QVERIFY(H264_DVR_GetDevConfig(again.lLoginID, 20, -1, block, sizeof block, &returned, 1000) >= 0);
    QCOMPARE(fleet.count(QStringLiteral("00:12:34:56:78:9b"), "login"), 2);
    QCOMPARE(cell(fw, 0, 3), QStringLiteral("Login Success"));
    QCOMPARE(cell(fw, 0, 7), QStringLiteral("2021-03-15"));

    // Cancel adds nothing.
    onLoginDialog([](LoginDlg *dlg) { dlg->cancelButton()->click(); });
    firmware.findChild<QPushButton *>(QStringLiteral("addBtn"))->click();
    QCOMPARE(fw->table()->rowCount(), 1);
}

void DeviceE2E::cancelDuringLoginReturnsAtOnce()
{
    nextPorts(47);
    DevsimFleet fleet;
    const QString ip = QStringLiteral("127.44.47.10");
    QVERIFY(fleet.start({dev(ip, QStringLiteral("00:44:00:00:47:10"), 1,
                             faults(QJsonObject{{QStringLiteral("silent"), true}}))},
                        m_port, m_search));
    UpgradeWidget firmware;
    DeviceTabController *fw = firmware.tabController();
    // A silent device holds a login for the whole connect time (every tab sets its own again).
    H264_DVR_SetConnectTime(6000, 1);
    QElapsedTimer sinceCancel;
    bool wasLoggingIn = false;
    onLoginDialog([&](LoginDlg *dlg) {
        dlg->ipEdit()->setText(ip);
        dlg->portEdit()->setText(QString::number(m_port));
        dlg->okButton()->click();
        wasLoggingIn = dlg->loggingIn();
        sinceCancel.start();
        dlg->cancelButton()->click();
    });
    QCOMPARE(fw->addByHand(), -1);
    const qint64 elapsed = sinceCancel.elapsed();
    QVERIFY(wasLoggingIn);
    // The login cannot end before its 6 s: coming back well before them means nobody waited for it.
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(fw->table()->rowCount(), 0);
    QCOMPARE(CMessageBox::shownCount(), 0);
}

void DeviceE2E::loginErrorTexts_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("dialogText");
    QTest::addColumn<QString>("tabText");
    const QJsonObject none;
    auto code = [](int c) { return faults(QJsonObject{{QStringLiteral("loginError"), c}}); };
    QTest::newRow("busy") << code(7) << ""
                          << "System is busying"
                          << "System is busying";
    QTest::newRow("password") << none << "wrong"
                              << "Password is error"
                              << "Password is error";
    QTest::newRow("no user") << code(-11302) << ""
                             << "The user is not existed"
                             << "The user is not existed";
    QTest::newRow("locked") << code(-11303) << ""
                            << "The user is locked"
                            << "The user is locked";
    QTest::newRow("blacklist") << code(-11304) << ""
                               << "The user is in blacklist"
                               << "The user is in blacklist";
    QTest::newRow("logged in") << code(-11305) << ""
                               << "The user has logined."
                               << "The user has logined";
    QTest::newRow("other") << code(-11306) << ""
                           << "Unknow Error"
                           << "Unknow Error nError:-11306,code:";
    QTest::newRow("no device") << code(-11307) << ""
                               << "Cann't find the device."
                               << "Cann't find the device";
    QTest::newRow("timeout") << faults(QJsonObject{{QStringLiteral("silent"), true}}) << ""
                             << "Login timeout"
                             << "Login timeout";
}

void DeviceE2E::loginErrorTexts()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, password);
    QFETCH(QString, dialogText);
    QFETCH(QString, tabText);
    static int round = 0;
    nextPorts(10 + round++);
    const QString ip = QStringLiteral("127.44.%1.10").arg(m_port / 10 % 100);
    const QString mac = QStringLiteral("00:44:00:00:00:%1").arg(round, 2, 10, QLatin1Char('0'));
    DevsimFleet fleet;
    QVERIFY(fleet.start({dev(ip, mac, 1, fault)}, m_port, m_search));

    // Dialog variant: Add by hand.
    UpgradeWidget firmware;
    DeviceTabController *fw = firmware.tabController();
    onLoginDialog([&](LoginDlg *dlg) {
        dlg->ipEdit()->setText(ip);
        dlg->portEdit()->setText(QString::number(m_port));
        dlg->passwordEdit()->setText(password);
        dlg->okButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(CMessageBox::shownCount(), 1, 10000);
        dlg->cancelButton()->click();
    });
    QCOMPARE(fw->addByHand(), -1);
    QCOMPARE(CMessageBox::lastShown().text, dialogText);
    QCOMPARE(fw->table()->rowCount(), 0);

    // Tab variant: re-login of the listed device.
    searchOn(firmware, "SearchButton");
    QVERIFY(waitSearch(fw));
    QCOMPARE(fw->table()->rowCount(), 1);
    QSignalSpy done(fw, &DeviceTabController::reLoginFinished);
    onLoginDialog([&](LoginDlg *dlg) {
        QCOMPARE(dlg->ipEdit()->text(), ip); // preloaded from the row
        QCOMPARE(dlg->userEdit()->text(), QStringLiteral("admin"));
        dlg->passwordEdit()->setText(password);
        dlg->okButton()->click();
    });
    auto *view = firmware.findChild<QTableView *>(QStringLiteral("tableView"));
    emit view->doubleClicked(fw->table()->model()->index(0, 1));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(done.at(0).at(1).toBool(), false);
    QVERIFY2(cell(fw, 0, 3).startsWith(tabText), qPrintable(cell(fw, 0, 3)));
    if (tabText.endsWith(QLatin1Char(':')))
        QVERIFY(cell(fw, 0, 3).size() > tabText.size()); // the SDK's last error follows
    else
        QCOMPARE(cell(fw, 0, 3), tabText);
    QVERIFY(fw->table()->store().record(fw->table()->generation(), 0).value().lLoginID < 1);
}

void DeviceE2E::vanishedDeviceAndFailedSearch()
{
    nextPorts(30);
    UpgradeWidget firmware;
    DeviceTabController *fw = firmware.tabController();
    {
        DevsimFleet fleet;
        QVERIFY(fleet.start({dev(QStringLiteral("127.44.30.10"), QStringLiteral("00:44:00:00:30:10"))},
                            m_port, m_search));
        searchOn(firmware, "SearchButton");
        QVERIFY(waitSearch(fw));
        QCOMPARE(fw->table()->rowCount(), 1);
    } // the fleet is gone

    QSignalSpy done(fw, &DeviceTabController::reLoginFinished);
    onLoginDialog([](LoginDlg *dlg) { dlg->okButton()->click(); });
    emit firmware.findChild<QTableView *>(QStringLiteral("tableView"))
        ->doubleClicked(fw->table()->model()->index(0, 0));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(cell(fw, 0, 3), QStringLiteral("Network is error"));

    // A half-typed address is tried as typed: an error box, the dialog stays, nothing is added.
    onLoginDialog([](LoginDlg *dlg) {
        dlg->ipEdit()->setText(QStringLiteral("127.44"));
        dlg->okButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(CMessageBox::shownCount(), 1, 10000);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Error"));
        QVERIFY(dlg->isVisible());
        dlg->cancelButton()->click();
    });
    QCOMPARE(fw->addByHand(), -1);
    QCOMPARE(fw->table()->rowCount(), 1);
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Network is error"));

    // A search that finds nothing leaves an empty table and a usable button.
    searchOn(firmware, "SearchButton");
    QVERIFY(waitSearch(fw));
    QCOMPARE(fw->table()->rowCount(), 0);
    QVERIFY(firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->isEnabled());
}

void DeviceE2E::ipChange()
{
    nextPorts(31);
    DevsimFleet fleet;
    const QString m0 = QStringLiteral("00:44:00:00:31:00"), m1 = QStringLiteral("00:44:00:00:31:01"),
                  m2 = QStringLiteral("00:44:00:00:31:02"), m3 = QStringLiteral("00:44:00:00:31:03");
    auto forced = [](int code) {
        return faults(
            QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("ipchange"), code}}}});
    };
    QVERIFY(fleet.start({dev(QStringLiteral("127.44.31.5"), m0), dev(QStringLiteral("127.44.31.21"), m1),
                         dev(QStringLiteral("127.44.31.30"), m2, 1, forced(-11401)),
                         dev(QStringLiteral("127.44.31.31"), m3, 1, forced(-10005))},
                        m_port, m_search));
    UpgradeWidget firmware;
    DeviceTabController *fw = firmware.tabController();
    QCOMPARE(fw->startIndex(), 20);
    searchOn(firmware, "SearchButton");
    QVERIFY(waitSearch(fw));
    QCOMPARE(fw->table()->rowCount(), 4);

    // The dispatcher calls it on its own thread; texts reach the table through the GUI thread.
    auto modifyOffThread = [fw](int row) {
        std::atomic<int> result{99};
        std::thread worker([&] { result = fw->modifyIP(row, 1); });
        if (!QTest::qWaitFor([&] { return result != 99; }, 30000))
            qWarning("modifyIP took over 30 s");
        worker.join();
        QCoreApplication::processEvents();
        return int(result);
    };

    QCOMPARE(modifyOffThread(0), 1); // row 0: last byte 20
    QCOMPARE(cell(fw, 0, 1), QStringLiteral("127.44.31.20"));
    QCOMPARE(QByteArray(fw->table()->store().record(fw->table()->generation(), 0).value().szIpaddress),
             QByteArray("127.44.31.20"));
    QCOMPARE(fw->table()->store().record(fw->table()->generation(), 0).value().nLastByte, 5);
    QTRY_COMPARE(fleet.state(m0).value(QStringLiteral("ip")).toString(), QStringLiteral("127.44.31.20"));
    QCOMPARE(fleet.count(m0, "ipChange"), 1);

    QCOMPARE(modifyOffThread(1), 1); // already .21: nothing sent
    QCOMPARE(fleet.count(m1, "ipChange"), 0);
    QVERIFY(cell(fw, 1, 3).isEmpty());

    QCOMPARE(modifyOffThread(2), -1); // -11401
    QCOMPARE(cell(fw, 2, 3), QStringLiteral("Need Reboot"));
    QCOMPARE(cell(fw, 2, 1), QStringLiteral("127.44.31.30"));
    QCOMPARE(fleet.state(m2).value(QStringLiteral("pendingIp")).toString(), QStringLiteral("127.44.31.22"));

    QCOMPARE(modifyOffThread(3), 1); // -10005 counts as success
    QCOMPARE(cell(fw, 3, 1), QStringLiteral("127.44.31.23"));
    QTRY_COMPARE(fleet.state(m3).value(QStringLiteral("ip")).toString(), QStringLiteral("127.44.31.23"));

    // The new address is the one later logins use.
    DEV_INFO rec = fw->table()->store().record(fw->table()->generation(), 0).value();
    int error = 0;
    const long handle =
        H264_DVR_Login(rec.szIpaddress, quint16(rec.nPort), "admin", "", &rec.NetDevInfo, 1, &error);
    QVERIFY2(handle > 0, qPrintable(QString::number(error)));
    H264_DVR_Logout(handle);
}

void DeviceE2E::batchCommands()
{
    nextPorts(32);
    DevsimFleet fleet;
    const QString m0 = QStringLiteral("00:44:00:00:32:00"), m1 = QStringLiteral("00:44:00:00:32:01"),
                  m2 = QStringLiteral("00:44:00:00:32:02");
    QVERIFY(fleet.start({dev(QStringLiteral("127.44.32.10"), m0),
                         dev(QStringLiteral("127.44.32.11"), m1, 1,
                             faults(QJsonObject{{QStringLiteral("results"),
                                                 QJsonObject{{QStringLiteral("reboot"), -10005}}}})),
                         dev(QStringLiteral("127.44.32.12"), m2, 1,
                             faults(QJsonObject{{QStringLiteral("loginError"), -11301}}))},
                        m_port, m_search));
    auto record = [this](const char *ip, int row) {
        DEV_INFO r;
        std::memset(&r, 0, sizeof r);
        r.nIndex = row;
        r.nPort = m_port;
        std::strcpy(r.szIpaddress, ip);
        std::strcpy(r.szUserName, "admin");
        return r;
    };

    CBatchDealThread batch;
    QCOMPARE(batch.timeout(), 8000);
    batch.setTimeout(3000);
    QSignalSpy messages(&batch, &CBatchDealThread::message);

    // Reset: the first device's row session is used and, as the reset takes, ended; the third
    // cannot log in.
    DEV_INFO first = record("127.44.32.10", 0);
    int error = 0;
    int logouts = 0;
    DeviceSession held(
        H264_DVR_Login(first.szIpaddress, quint16(m_port), "admin", "", &first.NetDevInfo, 1, &error),
        [&logouts](long id) {
            ++logouts;
            H264_DVR_Logout(id);
        });
    QVERIFY(held.loggedIn());
    batch.setCommand(CBatchDealThread::ResetConfig);
    QVERIFY(batch.addDevice(first, std::move(held)));
    QVERIFY(batch.addDevice(record("127.44.32.12", 2)));
    batch.start();
    QVERIFY(!batch.addDevice(record("127.44.32.11", 1))); // refused while running
    QVERIFY(batch.wait(20000));
    QTRY_COMPARE(messages.count(), 2);
    const int resetRet = messages.at(0).at(0).toInt();
    QVERIFY(resetRet >= 0);
    QCOMPARE(messages.at(0), (QList<QVariant>{resetRet, resetRet, 0, 1}));
    QCOMPARE(messages.at(1), (QList<QVariant>{-1, -11301, 2, 0}));
    QCOMPARE(batchOutcome(-1, -11301, 0).text, QStringLiteral("Password is error"));
    QCOMPARE(fleet.state(m0).value(QStringLiteral("resetBytes")).toString(),
             QStringLiteral("0101010101010101010100"));
    QCOMPARE(fleet.count(m0, "reset"), 1);
    QCOMPARE(fleet.count(m0, "login"), 1); // the given login was used
    QCOMPARE(fleet.count(m2, "reset"), 0);
    QCOMPARE(batch.deviceCount(), 0);
    QCOMPARE(logouts, 1); // the device drops its sessions: a handle kept would skip the next login
    QVERIFY(!batch.takeSession(0).loggedIn());

    // Reboot: the second device never answers (-10005), which counts as success.
    messages.clear();
    batch.setCommand(CBatchDealThread::Reboot);
    QVERIFY(batch.addDevice(record("127.44.32.11", 1)));
    batch.start();
    QVERIFY(batch.wait(20000));
    QTRY_COMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0), (QList<QVariant>{1, -10005, 1, 2}));
    QCOMPARE(batchOutcome(1, -10005, 2).text, QStringLiteral("Reboot Successfully"));
    QTRY_COMPARE(fleet.count(m1, "reboot"), 1);

    // Nothing added: a run emits nothing.
    messages.clear();
    batch.start();
    QVERIFY(batch.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(messages.count(), 0);
}

void DeviceE2E::nonAsciiPasswordOnEveryTab_data()
{
    QTest::addColumn<int>("round");
    QTest::addColumn<QString>("password");
    QTest::newRow("latin") << 0 << QStringLiteral("pässwörd");
    QTest::newRow("chinese") << 1 << QStringLiteral("密码");
}

void DeviceE2E::nonAsciiPasswordOnEveryTab()
{
    // One password, typed the same way, logs in through the login dialog, the firmware tab's run and
    // the logo tab's row click.
    QFETCH(int, round);
    QFETCH(QString, password);
    nextPorts(60 + round);
    const QString ip = QStringLiteral("127.44.%1.10").arg(60 + round);
    const QString mac = QStringLiteral("00:44:00:00:%1:00").arg(60 + round);
    DevsimFleet fleet;
    QVERIFY(fleet.start({dev(ip, mac, 4,
                             QJsonObject{{QStringLiteral("hardware"), QStringLiteral("HI3520D-NVR")},
                                         {QStringLiteral("password"), password},
                                         {QStringLiteral("upgradeMs"), 300}})},
                        m_port, m_search));

    // The login dialog (Add).
    UpgradeWidget added;
    onLoginDialog([this, ip, password](LoginDlg *dlg) {
        dlg->ipEdit()->setText(ip);
        dlg->portEdit()->setText(QString::number(m_port));
        dlg->passwordEdit()->setText(password);
        dlg->okButton()->click();
    });
    added.findChild<QPushButton *>(QStringLiteral("addBtn"))->click();
    QCOMPARE(added.tabController()->table()->rowCount(), 1);
    QCOMPARE(cell(added.tabController(), 0, 3), QStringLiteral("Login Success"));
    QCOMPARE(fleet.count(mac, "loginFailed"), 0);

    // The firmware tab's run with its password field.
    QTemporaryDir dir;
    const QString package = dir.filePath(QStringLiteral("firmware.bin"));
    QVERIFY(testzip::writePackage(package.toStdString(), "HI3520D-NVR", 1 << 16));
    UpgradeWidget firmware;
    firmware.setDataDirectory(dir.path());
    DeviceTabController *fw = searchOn(firmware, "SearchButton");
    QVERIFY(waitSearch(fw));
    QCOMPARE(fw->table()->rowCount(), 1);
    fw->table()->setChecked(0, true);
    firmware.findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    firmware.findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(password);
    firmware.findChild<QPushButton *>(QStringLiteral("upgradeBtn"))->click();
    QVERIFY(QTest::qWaitFor(
        [&] {
            fw->table()->flushPending();
            return !firmware.inspecting() && !firmware.upgradeRun()->isActive() &&
                   fw->table()->statusOutcome(0) != StatusOutcome::Neutral;
        },
        60000));
    QVERIFY2(cell(fw, 0, 3).startsWith(QLatin1String("Upgrade Success")), qPrintable(cell(fw, 0, 3)));
    QCOMPARE(fleet.count(mac, "upgrade"), 1);
    QCOMPARE(fleet.count(mac, "loginFailed"), 0);

    // The logo tab's row click with its password field.
    UpgradeLogoWidget logo;
    logo.setDataDirectory(dir.path());
    DeviceTabController *lg = searchOn(logo, "SearchButton");
    QVERIFY(waitSearch(lg));
    QCOMPARE(lg->table()->rowCount(), 1);
    logo.findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(password);
    QSignalSpy probed(&logo, &UpgradeLogoWidget::probeFinished);
    emit logo.findChild<QTableView *>(QStringLiteral("tableView"))
        ->clicked(lg->table()->model()->index(0, 1));
    QVERIFY(probed.wait(15000));
    QCOMPARE(cell(lg, 0, 3), QStringLiteral("Login Success"));
    QCOMPARE(fleet.count(mac, "loginFailed"), 0);
}

// The real main window on devsim's own fleet: every tab lists it in address order, and Add logs a
// device in by hand. Pictures of the tabs go to TALLOW_SCREENSHOT_DIR when it is set.
void DeviceE2E::mainWindowShowsFleet()
{
    nextPorts(40);
    DevsimFleet fleet;
    QVERIFY(fleet.startCount(8, QStringLiteral("127.44.40.10"), m_port, m_search));
    QStringList ips;
    for (int i = 0; i < 8; ++i)
        ips << QStringLiteral("127.44.40.%1").arg(10 + i);

    CTallow window;
    window.resize(1100, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTabWidget *tabs = window.tabWidget();
    const QString shots = qEnvironmentVariable("TALLOW_SCREENSHOT_DIR");
    auto shoot = [&](const QString &name) {
        if (!shots.isEmpty())
            QVERIFY(window.grab().save(shots + QLatin1Char('/') + name));
    };

    auto *logo = qobject_cast<UpgradeLogoWidget *>(tabs->widget(0));
    auto *firmware = qobject_cast<UpgradeWidget *>(tabs->widget(1));
    auto *oemid = qobject_cast<SetOEMID *>(tabs->widget(2));
    QVERIFY(logo && firmware && oemid);

    tabs->setCurrentIndex(1);
    DeviceTabController *fw = searchOn(*firmware, "SearchButton");
    QVERIFY(waitSearch(fw));
    QCOMPARE(column(fw, 1), ips);
    onLoginDialog([this](LoginDlg *dlg) {
        dlg->ipEdit()->setText(QStringLiteral("127.44.40.12"));
        dlg->portEdit()->setText(QString::number(m_port));
        dlg->okButton()->click();
    });
    firmware->findChild<QPushButton *>(QStringLiteral("addBtn"))->click();
    QCOMPARE(fw->table()->rowCount(), 9);
    QCOMPARE(cell(fw, 8, 1), QStringLiteral("127.44.40.12"));
    QCOMPARE(cell(fw, 8, 3), QStringLiteral("Login Success"));
    shoot(QStringLiteral("firmware.png"));

    tabs->setCurrentIndex(0);
    DeviceTabController *lg = searchOn(*logo, "SearchButton");
    QVERIFY(waitSearch(lg));
    QVERIFY(lg->table()->rowCount() > 0);
    QStringList logoIps = column(lg, 1);
    QStringList sorted = logoIps;
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        return a.section(QLatin1Char('.'), 3).toInt() < b.section(QLatin1Char('.'), 3).toInt();
    });
    QCOMPARE(logoIps, sorted);
    for (const QString &type : column(lg, 2))
        QVERIFY2(type == QStringLiteral("DVR") || type == QStringLiteral("NVR"), qPrintable(type));
    shoot(QStringLiteral("logo.png"));

    tabs->setCurrentIndex(2);
    DeviceTabController *oe = searchOn(*oemid, "searchbtn");
    QVERIFY(waitSearch(oe));
    QCOMPARE(column(oe, 1), ips);
    shoot(QStringLiteral("oemid.png"));
}

QTEST_MAIN(DeviceE2E)
#include "tst_devicee2e.moc"
