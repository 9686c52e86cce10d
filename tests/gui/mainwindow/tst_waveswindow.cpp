// Runs in waves through the real main window, against simulated devices: the operator ticks "Waves"
// on a tab, searches, selects all and starts the run (Upgrade on the firmware tab, Modify on the logo
// tab); the first wave's device fails, so the run halts. What the window shows (the message box, the
// rows) and what the devices received are printed for the record and checked.

#include "devsimfleet.h"
#include "logotestutil.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/devicecsv.h"
#include "device/devicerecord.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "flash/waverun.h"
#include "logo/logoruncontroller.h"
#include "logo/upgradelogowidget.h"
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
    void init();
    void cleanup();
    void haltedRunShowsTheBoxAndTheHaltedRows();
    void haltedLogoBurn_data();
    void haltedLogoBurn();

private:
    /// A device of a fleet on 127.0.`net`.(10 + i); `extra` adds or overrides members.
    static QJsonObject device(int net, int i, const QJsonObject &extra);
    /// Starts the fleet and the window, shows `T`'s tab, ticks its Waves box, searches and selects all.
    template <typename T> T *openTab(const QJsonArray &fleet, int port);
    template <typename T> T *child(QWidget *tab, const char *name) const
    {
        return qobject_cast<T *>(tab->findChild<QWidget *>(QLatin1String(name)));
    }
    /// The MAC of `row`'s device.
    static QString macOf(const DeviceTable &table, int row);
    /// One line per row for the record: the row's wave and text, and what devsim holds for its device.
    void printRows(const DeviceTable &table, const QString &deviceFile) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DevsimFleet> m_sim;
    std::unique_ptr<CTallow> m_window;
    QString m_boxText; ///< the last message box the run showed
    QStringList m_boxButtons;
};

void WavesWindowTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    CMessageBox::resetTestHooks();
    m_boxText.clear();
    m_boxButtons.clear();
}

void WavesWindowTest::cleanup()
{
    m_window.reset();
    m_sim.reset();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

QJsonObject WavesWindowTest::device(int net, int i, const QJsonObject &extra)
{
    QJsonObject d{
        {QStringLiteral("ip"), QStringLiteral("127.0.%1.%2").arg(net).arg(10 + i)},
        {QStringLiteral("mac"), QStringLiteral("00:12:34:56:%1:%2")
                                    .arg(net, 2, 16, QLatin1Char('0'))
                                    .arg(i, 2, 16, QLatin1Char('0'))},
        {QStringLiteral("serial"), QStringLiteral("wave%1serial%2").arg(net).arg(i, 6, 10, QLatin1Char('0'))},
        {QStringLiteral("hardware"), QStringLiteral("HI3520D-NVR")},
        {QStringLiteral("password"), QStringLiteral("secret")},
        {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")},
        {QStringLiteral("upgradeMs"), 300},
        {QStringLiteral("deviceType"), 4}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

template <typename T> T *WavesWindowTest::openTab(const QJsonArray &fleet, int port)
{
    m_sim = std::make_unique<DevsimFleet>();
    if (!m_sim->start(fleet, port, port + 1)) {
        qWarning("%s", qPrintable(m_sim->error()));
        return nullptr;
    }
    H264_DVR_SetSearchPort(port + 1);

    m_window = std::make_unique<CTallow>();
    m_window->resize(1100, 640);
    m_window->show();
    auto *tab = m_window->findChild<T *>();
    if (!tab)
        return nullptr;
    m_window->tabWidget()->setCurrentWidget(tab);

    auto *waves = child<QCheckBox>(tab, "wavesCheck");
    if (!waves || waves->isChecked())
        return nullptr;
    QTest::mouseClick(waves, Qt::LeftButton);
    if (!waves->isChecked() || ConfigKeys::intValue(Key::WavesEnabled) != 1)
        return nullptr;

    DeviceTable *table = tab->tabController()->table();
    QTest::mouseClick(child<QPushButton>(tab, "SearchButton"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !tab->tabController()->searching(); }, 20000) ||
        table->rowCount() != fleet.size())
        return nullptr;
    QTest::mouseClick(child<QPushButton>(tab, "selectBtn"), Qt::LeftButton);
    if (table->checkedRows().size() != fleet.size())
        return nullptr;
    child<QLineEdit>(tab, "lineEditPassword")->setText(QStringLiteral("secret"));
    return tab;
}

QString WavesWindowTest::macOf(const DeviceTable &table, int row)
{
    DEV_INFO d{};
    if (!table.device(table.generation(), row, &d))
        return QString();
    return QString::fromLatin1(DeviceRecord::fixedText(d.NetComm.sMac).c_str());
}

void WavesWindowTest::printRows(const DeviceTable &table, const QString &deviceFile) const
{
    for (int row = 0; row < table.rowCount(); ++row) {
        const QString mac = macOf(table, row);
        const QJsonObject state = m_sim->state(mac);
        const QJsonObject last = state.value(QStringLiteral("lastUpgrade")).toObject();
        qInfo().noquote() << QStringLiteral("row %1 %2 wave %3 | %4 | devsim: upgrade count %5, %6 %7, "
                                            "version %8%9")
                                 .arg(row)
                                 .arg(table.model()->text(row, 1))
                                 .arg(table.wave(row))
                                 .arg(table.model()->text(row, table.variant().statusColumn))
                                 .arg(m_sim->count(mac, "upgrade"))
                                 .arg(deviceFile)
                                 .arg(m_sim->hasFile(mac, deviceFile) ? QStringLiteral("present")
                                                                      : QStringLiteral("absent"))
                                 .arg(state.value(QStringLiteral("version")).toString())
                                 .arg(last.isEmpty()
                                          ? QString()
                                          : QStringLiteral(", lastUpgrade result %1 kind %2")
                                                .arg(last.value(QStringLiteral("result")).toInt())
                                                .arg(last.value(QStringLiteral("kind")).toString()));
    }
}

void WavesWindowTest::haltedRunShowsTheBoxAndTheHaltedRows()
{
    // Waves off in the file: the operator ticks the box. Verify off: waves verify anyway.
    QVERIFY(useConfigIni(m_dir->filePath(QStringLiteral("Config.ini")),
                         "[UpgradeInfo]\r\nModifyIP=0\r\nVerify=0\r\nVerifyTimeout=8\r\nStartSpacingMs=0\r\n"
                         "[Waves]\r\nEnabled=0\r\nFirst=1\r\nGrowth=x2\r\nHalt=1\r\n"));
    const QString shot = qEnvironmentVariable("TALLOW_WAVES_SHOT"); // where to leave a picture, if set
    CMessageBox::setAnswerProvider([&](CMessageBox &box) {
        m_boxText = box.text();
        for (QAbstractButton *b : box.customButtons())
            m_boxButtons << b->text();
        return 1; // "Stop"
    });

    const int devices = 7;
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        QJsonObject extra{{QStringLiteral("rebootAfterUpgrade"), true}, {QStringLiteral("rebootMs"), 700}};
        if (i == 0)
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}});
        fleet.append(device(76, i, extra));
    }
    auto *tab = openTab<UpgradeWidget>(fleet, 35790);
    QVERIFY(tab);
    DeviceTable *table = tab->tabController()->table();

    const QString package = m_dir->filePath(QStringLiteral("firmware.bin"));
    QVERIFY(testzip::write(package.toStdString(),
                           {{"InstallDesc", "{\"Hardware\":\"HI3520D-NVR\",\"Version\":\"V7.01.R05.NEW\","
                                            "\"BuildDate\":\"2026-04-01\"}"},
                            {"u-boot.bin.img", "image"}},
                           true));
    child<QLineEdit>(tab, "lineEditFileName")->setText(package);

    WaveRun *run = &tab->runController()->waveRun();
    QSignalSpy halted(run, &WaveRun::halted);
    QTest::mouseClick(child<QPushButton>(tab, "upgradeBtn"), Qt::LeftButton);
    QVERIFY(
        QTest::qWaitFor([&] { return halted.count() == 1 && run->state() == WaveRun::State::Idle; }, 120000));
    QVERIFY(!tab->upgradeRun()->isActive());
    table->flushPending();
    if (!shot.isEmpty())
        m_window->grab().save(shot + QStringLiteral("-window.png"));

    // What the operator was told.
    qInfo().noquote() << "message box:" << m_boxText.simplified()
                      << "| buttons:" << m_boxButtons.join(QLatin1String(", "));
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(m_boxText, QStringLiteral("Wave 1 of 3 failed: 1 of its 1 devices did not end verified (the run "
                                       "halts at 1). 6 devices were not started.\nGo on with wave 2?"));
    QCOMPARE(m_boxButtons, (QStringList{QStringLiteral("Go on"), QStringLiteral("Stop")}));

    // What the rows show, and what each device received, by devsim's state.
    printRows(*table, QStringLiteral("firmware.bin"));
    const QAbstractItemModel *model = child<QTableView>(tab, "tableView")->model();
    const int statusColumn = table->variant().statusColumn;
    for (int row = 0; row < devices; ++row) {
        const QString mac = macOf(*table, row);
        const QJsonObject state = m_sim->state(mac);
        if (row == 0) {
            QCOMPARE(model->index(row, statusColumn).data().toString(),
                     QStringLiteral("Not verified: version unchanged"));
            QCOMPARE(m_sim->count(mac, "upgrade"), 1);
            QVERIFY(m_sim->hasFile(mac, QStringLiteral("firmware.bin")));
        } else {
            QCOMPARE(model->index(row, statusColumn).data().toString(),
                     QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(m_sim->count(mac, "upgrade"), 0);
            QVERIFY(!m_sim->hasFile(mac, QStringLiteral("firmware.bin")));
            QVERIFY(state.value(QStringLiteral("lastUpgrade")).toObject().isEmpty());
            QCOMPARE(state.value(QStringLiteral("version")).toString(), QStringLiteral("V4.02.R11.OLD"));
        }
    }

    // "Select failed" and "Export…" work on the result as usual.
    DeviceTableActions *actions = tab->tabController()->tableActions();
    QCOMPARE(actions->selectFailed(), QList<int>{0});
    QCOMPARE(table->checkedRows(), QList<int>{0});
    const QString csvPath = m_dir->filePath(QStringLiteral("export.csv"));
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
}

void WavesWindowTest::haltedLogoBurn_data()
{
    QTest::addColumn<int>("answer"); ///< the halt box's button: 0 "Go on", 1 "Stop"
    QTest::addColumn<int>("port");
    QTest::newRow("Stop: later devices get nothing") << 1 << 36600;
    QTest::newRow("Go on: the next waves burn") << 0 << 36610;
}

void WavesWindowTest::haltedLogoBurn()
{
    QFETCH(int, answer);
    QFETCH(int, port);
    QVERIFY(useConfigIni(m_dir->filePath(QStringLiteral("Config.ini")),
                         "[UpgradeInfo]\r\nModifyIP=0\r\nStartSpacingMs=0\r\n"
                         "[Waves]\r\nEnabled=0\r\nFirst=1\r\nGrowth=x2\r\nHalt=1\r\n"));
    CMessageBox::setAnswerProvider([&](CMessageBox &box) {
        m_boxText = box.text();
        for (QAbstractButton *b : box.customButtons())
            m_boxButtons << b->text();
        return answer;
    });

    // Four devices: waves of 1, 2 and 1; the first device refuses its burn.
    const int devices = 4;
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        QJsonObject extra;
        if (i == 0)
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("upgradeResult"), -11804}});
        fleet.append(device(175, i, extra));
    }
    auto *tab = openTab<UpgradeLogoWidget>(fleet, port);
    QVERIFY(tab);
    DeviceTable *table = tab->tabController()->table();
    const QString boot = m_dir->filePath(QStringLiteral("boot.jpg"));
    QVERIFY(logotest::writeFile(boot, logotest::makeJpeg(320, 240)));
    child<QLineEdit>(tab, "lineEditBoot")->setText(boot);

    WaveRun *run = &tab->runController()->waveRun();
    QSignalSpy halted(run, &WaveRun::halted);
    QSignalSpy ended(run, &WaveRun::ended);
    QTest::mouseClick(child<QPushButton>(tab, "btnModify"), Qt::LeftButton);
    // Idle after a halt: stopped, or gone on to the end (a later halt included, so that the checks
    // below say what went wrong rather than the wait timing out).
    QVERIFY(
        QTest::qWaitFor([&] { return halted.count() >= 1 && run->state() == WaveRun::State::Idle; }, 120000));
    QVERIFY(QTest::qWaitFor([&] { return !tab->running(); }, 10000));
    table->flushPending();
    if (const QString shot = qEnvironmentVariable("TALLOW_WAVES_SHOT"); !shot.isEmpty() && answer == 1)
        m_window->grab().save(shot + QStringLiteral("-logo-window.png"));

    qInfo().noquote() << "message box:" << m_boxText.simplified()
                      << "| buttons:" << m_boxButtons.join(QLatin1String(", "));
    printRows(*table, QStringLiteral("logo.img"));
    QCOMPARE(halted.count(), 1);
    QCOMPARE(ended.count(), answer == 0 ? 1 : 0);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(m_boxText,
             QStringLiteral("Wave 1 of 3 failed: 1 of its 1 devices did not end burnt (the run halts "
                            "at 1). 3 devices were not started.\nGo on with wave 2?"));
    QCOMPARE(m_boxButtons, (QStringList{QStringLiteral("Go on"), QStringLiteral("Stop")}));

    const int statusColumn = table->variant().statusColumn;
    const int waveOf[] = {1, 2, 2, 3};
    for (int row = 0; row < devices; ++row) {
        const QString mac = macOf(*table, row);
        const QJsonObject last = m_sim->state(mac).value(QStringLiteral("lastUpgrade")).toObject();
        QCOMPARE(table->wave(row), waveOf[row]);
        if (row == 0) {
            QCOMPARE(last.value(QStringLiteral("result")).toInt(), -11804);
            QCOMPARE(table->statusOutcome(row), StatusOutcome::Failure);
        } else if (answer == 1) {
            QCOMPARE(table->model()->text(row, statusColumn), QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(table->statusOutcome(row), StatusOutcome::Halted);
            QCOMPARE(m_sim->count(mac, "upgrade"), 0);
            QVERIFY(last.isEmpty());
            QVERIFY(!m_sim->hasFile(mac, QStringLiteral("logo.img")));
        } else {
            QCOMPARE(table->model()->text(row, statusColumn), QStringLiteral("Upgrade Success"));
            QCOMPARE(m_sim->count(mac, "upgrade"), 1);
            QCOMPARE(last.value(QStringLiteral("kind")).toString(), QStringLiteral("logo"));
            QVERIFY(m_sim->hasFile(mac, QStringLiteral("logo.img")));
        }
    }
    QCOMPARE(tab->tabController()->tableActions()->selectFailed(), QList<int>{0});
    QCOMPARE(tab->cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(WavesWindowTest)
#include "tst_waveswindow.moc"
