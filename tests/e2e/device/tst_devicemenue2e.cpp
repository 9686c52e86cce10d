// The device table's menu against simulated devices: reboot reaches the devices, the results land in
// the status column and the history, and "Select failed" picks the device that failed.

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/csearchdevicethread.h"
#include "device/devicetableactions.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

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
        DeviceTabCore *core = firmware.deviceCore();
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
};

QTEST_MAIN(DeviceMenuE2E)
#include "tst_devicemenue2e.moc"
