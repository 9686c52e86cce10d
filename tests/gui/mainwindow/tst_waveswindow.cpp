// The firmware tab's run in waves through the real main window, against simulated devices: the
// operator ticks "Waves", searches, selects all and clicks Upgrade; the first wave's device keeps its
// old version, so the run halts. What the window shows (the message box, the rows) and what the
// devices received are printed for the record and checked.

#include "../../unit/upgrade/testzip.h"
#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/devicecsv.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "flash/waverun.h"
#include "mainwindow/ctallow.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgraderuncontroller.h"
#include "upgrade/upgradewidget.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class WavesWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void haltedRunShowsTheBoxAndTheHaltedRows();
};

void WavesWindowTest::haltedRunShowsTheBoxAndTheHaltedRows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Waves off in the file: the operator ticks the box. Verify off: waves verify anyway.
    QVERIFY(useConfigIni(dir.filePath(QStringLiteral("Config.ini")),
                         "[UpgradeInfo]\r\nModifyIP=0\r\nVerify=0\r\nVerifyTimeout=8\r\nStartSpacingMs=0\r\n"
                         "[Waves]\r\nEnabled=0\r\nFirst=1\r\nGrowth=x2\r\nHalt=1\r\n"));
    CMessageBox::resetTestHooks();
    QString boxText;
    QStringList boxButtons;
    const QString shot = qEnvironmentVariable("TALLOW_WAVES_SHOT"); // where to leave a picture, if set
    CMessageBox::setAnswerProvider([&](CMessageBox &box) {
        boxText = box.text();
        for (QAbstractButton *b : box.customButtons())
            boxButtons << b->text();
        return 1; // "Stop"
    });

    const int devices = 7;
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        QJsonObject d{
            {QStringLiteral("ip"), QStringLiteral("127.0.76.%1").arg(10 + i)},
            {QStringLiteral("mac"), QStringLiteral("00:12:34:56:76:%1").arg(i, 2, 16, QLatin1Char('0'))},
            {QStringLiteral("serial"), QStringLiteral("waveserial%1").arg(i, 6, 10, QLatin1Char('0'))},
            {QStringLiteral("hardware"), QStringLiteral("HI3520D-NVR")},
            {QStringLiteral("password"), QStringLiteral("secret")},
            {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")},
            {QStringLiteral("upgradeMs"), 300},
            {QStringLiteral("rebootAfterUpgrade"), true},
            {QStringLiteral("rebootMs"), 700},
            {QStringLiteral("deviceType"), 4}};
        if (i == 0)
            d.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}});
        fleet.append(d);
    }
    DevsimFleet sim;
    QVERIFY(sim.start(fleet, 35790, 35791));
    H264_DVR_SetSearchPort(35791);

    auto window = std::make_unique<CTallow>();
    window->resize(1100, 640);
    window->show();
    auto *tab = window->findChild<UpgradeWidget *>();
    QVERIFY(tab);
    window->tabWidget()->setCurrentWidget(tab);
    auto child = [tab](const char *name) { return tab->findChild<QWidget *>(QLatin1String(name)); };

    auto *waves = qobject_cast<QCheckBox *>(child("wavesCheck"));
    QVERIFY(waves && !waves->isChecked());
    QTest::mouseClick(waves, Qt::LeftButton);
    QVERIFY(waves->isChecked());
    QCOMPARE(ConfigKeys::intValue(Key::WavesEnabled), 1);

    DeviceTable *table = tab->tabController()->table();
    QTest::mouseClick(qobject_cast<QPushButton *>(child("SearchButton")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !tab->tabController()->searching(); }, 20000));
    QCOMPARE(table->rowCount(), devices);
    QTest::mouseClick(qobject_cast<QPushButton *>(child("selectBtn")), Qt::LeftButton);
    QCOMPARE(table->checkedRows().size(), devices);

    const QString package = dir.filePath(QStringLiteral("firmware.bin"));
    QVERIFY(testzip::write(package.toStdString(),
                           {{"InstallDesc", "{\"Hardware\":\"HI3520D-NVR\",\"Version\":\"V7.01.R05.NEW\","
                                            "\"BuildDate\":\"2026-04-01\"}"},
                            {"u-boot.bin.img", "image"}},
                           true));
    qobject_cast<QLineEdit *>(child("lineEditFileName"))->setText(package);
    qobject_cast<QLineEdit *>(child("lineEditPassword"))->setText(QStringLiteral("secret"));

    WaveRun *run = &tab->runController()->waveRun();
    QSignalSpy halted(run, &WaveRun::halted);
    QTest::mouseClick(qobject_cast<QPushButton *>(child("upgradeBtn")), Qt::LeftButton);
    QVERIFY(
        QTest::qWaitFor([&] { return halted.count() == 1 && run->state() == WaveRun::State::Idle; }, 120000));
    QVERIFY(!tab->upgradeRun()->isActive());
    table->flushPending();
    if (!shot.isEmpty())
        window->grab().save(shot + QStringLiteral("-window.png"));

    // What the operator was told.
    qInfo().noquote() << "message box:" << boxText.simplified()
                      << "| buttons:" << boxButtons.join(QLatin1String(", "));
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(boxText, QStringLiteral("Wave 1 of 3 failed: 1 of its 1 devices did not end verified (the run "
                                     "halts at 1). 6 devices were not started.\nGo on with wave 2?"));
    QCOMPARE(boxButtons, (QStringList{QStringLiteral("Go on"), QStringLiteral("Stop")}));

    // What the rows show, and what each device received, by devsim's state.
    const QAbstractItemModel *model = qobject_cast<QTableView *>(child("tableView"))->model();
    const int statusColumn = table->variant().statusColumn;
    for (int row = 0; row < devices; ++row) {
        const QString mac = model->index(row, 4).data().toString();
        const QJsonObject state = sim.state(mac);
        const QJsonObject last = state.value(QStringLiteral("lastUpgrade")).toObject();
        qInfo().noquote() << QStringLiteral(
                                 "row %1 %2 wave %3 | %4 | devsim: upgrade count %5, firmware.bin %6, "
                                 "version %7%8")
                                 .arg(row)
                                 .arg(model->index(row, 1).data().toString())
                                 .arg(table->wave(row))
                                 .arg(model->index(row, statusColumn).data().toString())
                                 .arg(sim.count(mac, "upgrade"))
                                 .arg(sim.hasFile(mac, QStringLiteral("firmware.bin"))
                                          ? QStringLiteral("present")
                                          : QStringLiteral("absent"))
                                 .arg(state.value(QStringLiteral("version")).toString())
                                 .arg(last.isEmpty()
                                          ? QString()
                                          : QStringLiteral(", lastUpgrade result %1 kind %2")
                                                .arg(last.value(QStringLiteral("result")).toInt())
                                                .arg(last.value(QStringLiteral("kind")).toString()));
        if (row == 0) {
            QCOMPARE(model->index(row, statusColumn).data().toString(),
                     QStringLiteral("Not verified: version unchanged"));
            QCOMPARE(sim.count(mac, "upgrade"), 1);
            QVERIFY(sim.hasFile(mac, QStringLiteral("firmware.bin")));
        } else {
            QCOMPARE(model->index(row, statusColumn).data().toString(),
                     QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(sim.count(mac, "upgrade"), 0);
            QVERIFY(!sim.hasFile(mac, QStringLiteral("firmware.bin")));
            QVERIFY(last.isEmpty());
            QCOMPARE(state.value(QStringLiteral("version")).toString(), QStringLiteral("V4.02.R11.OLD"));
        }
    }

    // "Select failed" and "Export…" work on the result as usual.
    DeviceTableActions *actions = tab->tabController()->tableActions();
    QCOMPARE(actions->selectFailed(), QList<int>{0});
    QCOMPARE(table->checkedRows(), QList<int>{0});
    const QString csvPath = dir.filePath(QStringLiteral("export.csv"));
    QVERIFY(actions->exportTo(csvPath));
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray exported = csv.readAll();
    qInfo().noquote() << "export:\n" + QString::fromUtf8(exported).remove(QLatin1Char('\r')).trimmed();
    QList<QStringList> records;
    QVERIFY(DeviceCsv::parse(QString::fromUtf8(exported), &records));
    QCOMPARE(records.size(), devices + 1);
    QCOMPARE(records[0].last(), QStringLiteral("Wave"));
    const QStringList waveColumn = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("2"),
                                    QStringLiteral("3"), QStringLiteral("3"), QStringLiteral("3"),
                                    QStringLiteral("3")};
    for (int row = 0; row < devices; ++row)
        QCOMPARE(records[row + 1].last(), waveColumn[row]);

    window.reset();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

QTEST_MAIN(WavesWindowTest)
#include "tst_waveswindow.moc"
