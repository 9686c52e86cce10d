// The device table's menu against simulated devices: reboot reaches the devices, the results land in
// the status column and the history, and "Select failed" picks the device that failed.

#include "devsimfleet.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/csearchdevicethread.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/onvifprobedialog.h"
#include "device/statusoutcome.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

QJsonObject dev(const QString &ip, const QString &mac, QJsonObject extra = {})
{
    extra.insert(QStringLiteral("ip"), ip);
    extra.insert(QStringLiteral("mac"), mac);
    extra.insert(QStringLiteral("deviceType"), 1);
    return extra;
}

} // namespace

class DeviceMenuE2E : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        ConfigKeys::setConfigPath(m_config.filePath(QStringLiteral("Config.ini")));
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetSearchPort(44519);
    }
    void cleanupTestCase() { H264_DVR_Cleanup(); }

    void rebootFromTheMenuReachesTheDevices()
    {
        const int port = 44510;
        DevsimFleet fleet;
        const QString m0 = QStringLiteral("00:44:00:00:51:00"), m1 = QStringLiteral("00:44:00:00:51:01"),
                      m2 = QStringLiteral("00:44:00:00:51:02");
        QVERIFY(fleet.start({dev(QStringLiteral("127.44.51.10"), m0), dev(QStringLiteral("127.44.51.11"), m1),
                             dev(QStringLiteral("127.44.51.12"), m2,
                                 QJsonObject{{QStringLiteral("faults"),
                                              QJsonObject{{QStringLiteral("loginError"), -11301}}}})},
                            port, 44519));

        UpgradeWidget firmware;
        DeviceTabController *core = firmware.tabController();
        core->searchThread()->setSearchTime(1500);
        firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->click();
        QVERIFY(QTest::qWaitFor([core] { return !core->searching(); }, 15000));
        DeviceTable *table = core->table();
        QCOMPARE(table->rowCount(), 3);

        DeviceTableActions *actions = core->tableActions();
        QSignalSpy done(actions, &DeviceTableActions::commandFinished);
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; }); // "OK"
        for (int r = 0; r < 3; ++r)
            table->setChecked(r, true);
        std::unique_ptr<QMenu> menu(actions->createMenu(0));
        menu->findChild<QAction *>(QStringLiteral("reboot"))->trigger();
        QCOMPARE(CMessageBox::shownCount(), 1);
        QCOMPARE(CMessageBox::lastShown().kind, int(CMessageBox::Question));
        QVERIFY(actions->commandRunning());
        {
            // A second command waits for the first.
            std::unique_ptr<QMenu> busy(actions->createMenu(0));
            QVERIFY(!busy->findChild<QAction *>(QStringLiteral("reboot"))->isEnabled());
        }
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 30000);
        QTRY_VERIFY(!table->statusText(2).isEmpty());

        QCOMPARE(fleet.count(m0, "reboot"), 1);
        QCOMPARE(fleet.count(m1, "reboot"), 1);
        QVERIFY(fleet.count(m2, "reboot") <= 0);
        QCOMPARE(table->statusText(0), QStringLiteral("Reboot Successfully"));
        QCOMPARE(table->statusText(1), QStringLiteral("Reboot Successfully"));
        QCOMPARE(table->statusText(2), QStringLiteral("Password is error"));
        QCOMPARE(table->history(0).last().text, QStringLiteral("Reboot Successfully"));

        QCOMPARE(actions->selectFailed(), QList<int>{2});
        QCOMPARE(table->checkedRows(), QList<int>{2});
    }

    // Two devices refuse the run's password; "Select failed" ticks exactly those, and a second run
    // with their password upgrades them.
    void firmwareRunRetriesOnlyTheFailed()
    {
        const int port = 44520;
        auto device = [](const QString &ip, const QString &mac, const QString &password) {
            return dev(
                ip, mac,
                QJsonObject{{QStringLiteral("hardware"), QStringLiteral("HI3520D-NVR")},
                            {QStringLiteral("password"), password},
                            {QStringLiteral("upgradeMs"), 300},
                            {QStringLiteral("serial"), QString(QStringLiteral("menue2e") + mac.right(2))},
                            {QStringLiteral("deviceType"), 4}});
        };
        DevsimFleet fleet;
        QVERIFY(fleet.start(
            {device(QStringLiteral("127.44.52.10"), QStringLiteral("00:44:00:00:52:00"), "secret"),
             device(QStringLiteral("127.44.52.11"), QStringLiteral("00:44:00:00:52:01"), "other"),
             device(QStringLiteral("127.44.52.12"), QStringLiteral("00:44:00:00:52:02"), "secret"),
             device(QStringLiteral("127.44.52.13"), QStringLiteral("00:44:00:00:52:03"), "other")},
            port, 44529));
        H264_DVR_SetSearchPort(44529);
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("firmware.bin"));
        QVERIFY(testzip::writePackage(package.toStdString(), "HI3520D-NVR", 1 << 18));

        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
        UpgradeWidget firmware;
        firmware.setDataDirectory(dir.path());
        DeviceTabController *core = firmware.tabController();
        core->searchThread()->setSearchTime(1500);
        DeviceTable *table = core->table();
        firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->click();
        QVERIFY(QTest::qWaitFor([core] { return !core->searching(); }, 15000));
        QCOMPARE(table->rowCount(), 4);
        firmware.findChild<QPushButton *>(QStringLiteral("selectBtn"))->click();
        firmware.findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
        auto *password = firmware.findChild<QLineEdit *>(QStringLiteral("lineEditPassword"));
        auto runAndWait = [&](const QList<int> &rows) {
            firmware.findChild<QPushButton *>(QStringLiteral("upgradeBtn"))->click();
            return QTest::qWaitFor(
                [&] {
                    if (firmware.inspecting() || firmware.upgradeRun()->isActive())
                        return false;
                    table->flushPending();
                    for (int r : rows) {
                        if (table->statusOutcome(r) == StatusOutcome::Neutral)
                            return false;
                    }
                    return true;
                },
                60000);
        };
        password->setText(QStringLiteral("secret"));
        QVERIFY(runAndWait({0, 1, 2, 3}));
        QCOMPARE(table->statusText(1), QStringLiteral("Password is error"));
        QCOMPARE(table->statusText(3), QStringLiteral("Password is error"));
        QVERIFY(table->statusText(0).startsWith(QStringLiteral("Upgrade Success")));

        std::unique_ptr<QMenu> menu(core->tableActions()->createMenu(-1));
        menu->findChild<QAction *>(QStringLiteral("selectFailed"))->trigger();
        QCOMPARE(table->checkedRows(), (QList<int>{1, 3}));

        password->setText(QStringLiteral("other"));
        QVERIFY(runAndWait({1, 3}));
        for (int r = 0; r < 4; ++r)
            QVERIFY2(table->statusText(r).startsWith(QStringLiteral("Upgrade Success")),
                     qPrintable(table->statusText(r)));
        QVERIFY(core->tableActions()->selectFailed().isEmpty());

        // Device 1's history holds its whole story in order: refused, then upgraded.
        QStringList texts;
        for (const HistoryEntry &e : table->history(1))
            texts << e.text;
        const int refused = int(texts.indexOf(QStringLiteral("Password is error")));
        const int loggedIn = int(texts.lastIndexOf(QStringLiteral("Login Success")));
        const int sending = int(texts.indexOf(QRegularExpression(QStringLiteral("Send Progress: \\d+"))));
        const int installing =
            int(texts.indexOf(QRegularExpression(QStringLiteral("Upgrade Progress: \\d+"))));
        QVERIFY2(refused == 0 && loggedIn > refused && sending > loggedIn && installing > sending,
                 qPrintable(texts.join(QLatin1Char('|'))));
        QVERIFY(texts.last().startsWith(QStringLiteral("Upgrade Success")));
    }

    // A camera the multicast search does not reach (it answers only probes sent to its address) is
    // listed once its address is given in the menu's "ONVIF probe addresses"; a wrong entry is
    // refused there and stores nothing.
    void probeAddressFromTheMenuFindsAnUnreachedCamera()
    {
        qputenv("TALLOW_NETSDK_ONVIF_PORT", "44533"); // discovery on a port of this test's own
        const auto restore = qScopeGuard([] {
            qunsetenv("TALLOW_NETSDK_ONVIF_PORT");
            ConfigKeys::setString(Key::OnvifProbe, QString());
        });
        QVERIFY(ConfigKeys::setString(Key::OnvifProbe, QString()));
        auto camera = [](const QString &ip, const QString &mac, bool unreached) {
            QJsonObject extra{{QStringLiteral("protocol"), QStringLiteral("onvif")},
                              {QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}};
            if (unreached)
                extra.insert(QStringLiteral("faults"),
                             QJsonObject{{QStringLiteral("multicastSilent"), true}});
            return dev(ip, mac, extra);
        };
        DevsimFleet fleet;
        QVERIFY2(
            fleet.start({dev(QStringLiteral("127.44.53.10"), QStringLiteral("00:44:00:00:53:10")),
                         camera(QStringLiteral("127.44.53.20"), QStringLiteral("00:44:00:00:53:20"), false),
                         camera(QStringLiteral("127.44.53.21"), QStringLiteral("00:44:00:00:53:21"), true)},
                        44530, 44539, -1,
                        {QStringLiteral("--onvif-port"), QStringLiteral("44532"),
                         QStringLiteral("--discovery-port"), QStringLiteral("44533")}),
            qPrintable(fleet.error()));
        H264_DVR_SetSearchPort(44539);

        UpgradeWidget firmware;
        DeviceTabController *core = firmware.tabController();
        core->searchThread()->setSearchTime(1500);
        DeviceTable *table = core->table();
        auto searchedAddresses = [&] {
            firmware.findChild<QPushButton *>(QStringLiteral("SearchButton"))->click();
            QStringList ips;
            if (!QTest::qWaitFor([core] { return !core->searching(); }, 15000))
                return ips;
            for (int r = 0; r < table->rowCount(); ++r)
                ips << table->model()->text(r, table->variant().columnOf(Field::Ip));
            return ips;
        };
        QCOMPARE(searchedAddresses(),
                 (QStringList{QStringLiteral("127.44.53.10"), QStringLiteral("127.44.53.20")}));

        DeviceTableActions *actions = core->tableActions();
        std::unique_ptr<QMenu> menu(actions->createMenu(-1));
        menu->findChild<QAction *>(QStringLiteral("onvifProbeAddresses"))->trigger();
        QPointer<OnvifProbeDialog> dialog = actions->probeDialog();
        QVERIFY(dialog && dialog->isVisible());
        auto *edit = dialog->findChild<QPlainTextEdit *>(QStringLiteral("onvifProbeEdit"));
        auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("onvifProbeOk"));
        QVERIFY(edit && ok);
        edit->setPlainText(QStringLiteral("127.44.53.21-300"));
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!dialog->findChild<QLabel *>(QStringLiteral("onvifProbeError"))->text().isEmpty());
        QVERIFY(ConfigKeys::stringValue(Key::OnvifProbe).isEmpty());

        edit->setPlainText(QStringLiteral("127.44.53.21-22\n"));
        QTest::mouseClick(ok, Qt::LeftButton);
        QTRY_VERIFY(!dialog);
        QCOMPARE(ConfigKeys::stringValue(Key::OnvifProbe), QStringLiteral("127.44.53.21-22"));
        const QStringList found = searchedAddresses();
        QCOMPARE(found.size(), 3);
        QVERIFY2(found.contains(QStringLiteral("127.44.53.21")), qPrintable(found.join(QLatin1Char(' '))));
    }
};

QTEST_MAIN(DeviceMenuE2E)
#include "tst_devicemenue2e.moc"
