// The firmware tab against simulated devices: search, tick, Upgrade, and what each device got.

#include "devsimfleet.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/devicecsv.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/runlog.h"
#include "device/statusoutcome.h"
#include "flash/waverun.h"
#include "netsdk/netsdk.h"
#include "oemid/recorduploadrun.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgraderuncontroller.h"
#include "upgrade/upgradewidget.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMutex>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace
{

const QString kHardware = QStringLiteral("HI3520D-NVR");

QJsonObject device(const QString &ip, int n, const QJsonObject &extra = QJsonObject())
{
    QJsonObject d{{QStringLiteral("ip"), ip},
                  {QStringLiteral("mac"), QStringLiteral("00:12:34:56:%1:%2")
                                              .arg(n / 256, 2, 16, QLatin1Char('0'))
                                              .arg(n % 256, 2, 16, QLatin1Char('0'))},
                  {QStringLiteral("serial"), QStringLiteral("e2eserial%1").arg(n, 7, 10, QLatin1Char('0'))},
                  {QStringLiteral("hardware"), kHardware},
                  {QStringLiteral("password"), QStringLiteral("secret")},
                  {QStringLiteral("upgradeMs"), 800},
                  {QStringLiteral("deviceType"), 4}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

// Resident memory of this process in KiB (VmRSS of /proc/self/status), 0 when unreadable.
qint64 residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

/// When each upgrade job started, on its worker, from the run's own log line: the spacing is the
/// engine's, and neither a slow login nor a busy window may blur it.
class JobStarts
{
public:
    static void listen()
    {
        QMutexLocker lock(&s_lock);
        s_starts.clear();
        s_clock.start();
        s_previous = qInstallMessageHandler(&JobStarts::note);
    }
    static QList<qint64> take()
    {
        qInstallMessageHandler(s_previous);
        QMutexLocker lock(&s_lock);
        return std::exchange(s_starts, {});
    }

private:
    static void note(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (text.startsWith(QLatin1String("UpgradeDevice start index"))) {
            QMutexLocker lock(&s_lock);
            s_starts.append(s_clock.elapsed());
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    static inline QMutex s_lock;
    static inline QElapsedTimer s_clock;
    static inline QList<qint64> s_starts;
    static inline QtMessageHandler s_previous = nullptr;
};

struct StatusEvent {
    qint64 at;
    QString text;
};

} // namespace

class UpgradeE2E : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void upgradesThreeDevicesOneSecondApart();
    void wrongHardwareAndDroppedTransfer();
    void modifyIpMovesDevicesFirst();
    void setOemidWritesVerifiesAndRecords();
    void verifiesTheVersionAfterTheRestart();
    void mixedFleetUpgradesOnvifCamerasToo();
    void checkDevicesSendsNothing();
    void floodingAndTricklingDevicesEndAtTheDeadline();
    void packageReplacedBetweenStartsIsNotSent();
    void modifyIpSkipsARefusedAddressAndGoesOn();
    void startIndexOutOfRangeRefusesTheRun();
    void pacingIsReadAtRunStart_data();
    void pacingIsReadAtRunStart();
    void wavesHaltOrGoOn_data();
    void wavesHaltOrGoOn();

private:
    bool startTab(const QJsonArray &devices, int port, int searchPort, int recordsPort = -1,
                  const QStringList &extraArgs = QStringList());
    bool searchAndTickAll(int expectedRows);
    bool waitForFinalTexts(int rows, int timeoutMs);
    QString status(int row) const;
    QString cell(int row, int column) const;
    void writeIni(const QByteArray &text);
    QString makePackage(const QString &hardware, size_t size);

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<DevsimFleet> m_fleet;
    std::unique_ptr<UpgradeWidget> m_tab;
    std::map<int, QList<StatusEvent>> m_history;
    QElapsedTimer m_clock;
};

void UpgradeE2E::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nStartIndex=20\r\n");
    m_history.clear();
    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
}

void UpgradeE2E::cleanup()
{
    m_tab.reset(); // waits for the run and logs out
    m_fleet.reset();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

void UpgradeE2E::writeIni(const QByteArray &text)
{
    QVERIFY(useConfigIni(m_tmp->filePath(QStringLiteral("Config.ini")), text));
}

QString UpgradeE2E::makePackage(const QString &hardware, size_t size)
{
    const QString path = m_tmp->filePath(QStringLiteral("firmware_%1.bin").arg(hardware));
    return testzip::writePackage(path.toStdString(), hardware.toStdString(), size) ? path : QString();
}

bool UpgradeE2E::startTab(const QJsonArray &devices, int port, int searchPort, int recordsPort,
                          const QStringList &extraArgs)
{
    m_fleet = std::make_unique<DevsimFleet>();
    if (!m_fleet->start(devices, port, searchPort, recordsPort, extraArgs))
        return false;
    H264_DVR_SetSearchPort(quint16(searchPort));
    m_tab = std::make_unique<UpgradeWidget>();
    m_tab->setDataDirectory(m_tmp->path());
    m_tab->show();
    m_clock.start();
    QAbstractItemModel *model = m_tab->tabController()->table()->model();
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this, model](const QModelIndex &tl, const QModelIndex &br) {
                for (int row = tl.row(); row <= br.row(); ++row) {
                    if (tl.column() <= tableVariant(TabKind::Firmware).statusColumn &&
                        br.column() >= tableVariant(TabKind::Firmware).statusColumn) {
                        const QString text =
                            model->index(row, tableVariant(TabKind::Firmware).statusColumn).data().toString();
                        auto &list = m_history[row];
                        if (list.isEmpty() || list.last().text != text)
                            list.append({m_clock.elapsed(), text});
                    }
                }
            });
    return true;
}

bool UpgradeE2E::searchAndTickAll(int expectedRows)
{
    DeviceTable *table = m_tab->tabController()->table();
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("SearchButton")), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !m_tab->tabController()->searching(); }, 20000))
        return false;
    if (table->rowCount() != expectedRows)
        return false;
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("selectBtn")), Qt::LeftButton);
    return table->checkedRows().size() == expectedRows;
}

QString UpgradeE2E::cell(int row, int column) const
{
    return m_tab->tabController()->table()->model()->index(row, column).data().toString();
}

QString UpgradeE2E::status(int row) const
{
    return cell(row, tableVariant(TabKind::Firmware).statusColumn);
}

bool UpgradeE2E::waitForFinalTexts(int rows, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            if (m_tab->inspecting() || m_tab->upgradeRun()->isActive())
                return false;
            m_tab->tabController()->table()->flushPending();
            for (int r = 0; r < rows; ++r) {
                if (status(r).isEmpty())
                    return false;
            }
            return true;
        },
        timeoutMs);
}

void UpgradeE2E::upgradesThreeDevicesOneSecondApart()
{
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.70.%1").arg(10 + i), 0x7000 + i,
                              QJsonObject{{QStringLiteral("faults"),
                                           QJsonObject{{QStringLiteral("bytesPerSecond"), 1500000}}}}));
    QVERIFY(startTab(devices, 35700, 35701));
    QVERIFY(searchAndTickAll(3));
    JobStarts::listen();

    const QString package = makePackage(kHardware, 1 << 20);
    QVERIFY(!package.isEmpty());
    const QString cfg = m_tmp->filePath(QStringLiteral("device.cfg"));
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[cfg]\0binary\xff", 13));
    }
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditCfg"))->setText(cfg);
    // Records found by the search carry no password: the tab's is used.
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 0);
    QVERIFY(!QFile::exists(m_tmp->filePath(QStringLiteral("Temp"))));
    QVERIFY(waitForFinalTexts(3, 60000));

    QFile pf(package);
    QVERIFY(pf.open(QIODevice::ReadOnly));
    const QByteArray packageBytes = pf.readAll();
    const QStringList order{QStringLiteral("Login Success"),     QStringLiteral("ImportConfigSuccess"),
                            QStringLiteral("Start Upgrade"),     QStringLiteral("Send Progress:"),
                            QStringLiteral("Upgrade Progress:"), QStringLiteral("Upgrade Success")};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(status(row), QStringLiteral("Upgrade Success  "));
        // Texts of one cell may coalesce, but never go backwards.
        int stage = 0;
        bool sawSend = false, sawDevice = false;
        int lastPercent = -1;
        for (const StatusEvent &e : m_history[row]) {
            int s = -1;
            for (int i = 0; i < order.size(); ++i) {
                if (e.text.startsWith(order[i]))
                    s = i;
            }
            QVERIFY2(s >= stage,
                     qPrintable(QStringLiteral("row %1: %2 after stage %3").arg(row).arg(e.text).arg(stage)));
            if (s == 3) {
                sawSend = true;
                const int percent = e.text.section(QLatin1Char(' '), 2).toInt();
                QVERIFY(percent >= lastPercent && percent <= 100);
                lastPercent = s == stage ? percent : -1;
            }
            sawDevice = sawDevice || s == 4;
            stage = s;
        }
        QStringList seen;
        for (const StatusEvent &e : m_history[row])
            seen << e.text;
        QVERIFY2(sawSend && sawDevice, qPrintable(QStringLiteral("row %1 showed no progress: %2")
                                                      .arg(row)
                                                      .arg(seen.join(QLatin1String(" | ")))));
        // Stamped by the job as it reports, not when the GUI thread gets round to showing it.

        const QString mac = cell(row, 4);
        QCOMPARE(m_fleet->file(mac, QStringLiteral("firmware.bin")), packageBytes);
        QCOMPARE(m_fleet->file(mac, QStringLiteral("imported.cfg")), QByteArray("[cfg]\0binary\xff", 13));
        const QJsonObject last = m_fleet->state(mac).value(QStringLiteral("lastUpgrade")).toObject();
        QCOMPARE(last.value(QStringLiteral("result")).toInt(-99), 0);
        DEV_INFO record;
        QVERIFY(m_tab->tabController()->table()->device(m_tab->tabController()->table()->generation(), row,
                                                        &record));
        QCOMPARE(record.lLoginID, 0);
    }
    // One device per second, in table order, as the jobs started (a busy machine may delay a login
    // or the window's view of it, but never brings a start forward).
    const QList<qint64> starts = JobStarts::take();
    QCOMPARE(starts.size(), 3);
    for (int row = 1; row < 3; ++row) {
        const qint64 gap = starts[row] - starts[row - 1];
        QVERIFY2(gap >= 900, qPrintable(QString::number(gap)));
    }
}

void UpgradeE2E::wrongHardwareAndDroppedTransfer()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.71.10"), 0x7100,
                          QJsonObject{{QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}}));
    devices.append(device(QStringLiteral("127.0.71.11"), 0x7101,
                          QJsonObject{{QStringLiteral("faults"),
                                       QJsonObject{{QStringLiteral("dropAfterUpgradeBytes"), 300000}}}}));
    devices.append(device(QStringLiteral("127.0.71.12"), 0x7102));
    devices.append(device(QStringLiteral("127.0.71.13"), 0x7103,
                          QJsonObject{{QStringLiteral("password"), QStringLiteral("other")}}));
    QVERIFY(startTab(devices, 35710, 35711));
    QVERIFY(searchAndTickAll(4));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 1 << 20));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(4, 60000));

    QCOMPARE(status(0), QStringLiteral("Invalid hardware"));
    const QString mac0 = cell(0, 4);
    QVERIFY(!m_fleet->hasFile(mac0, QStringLiteral("firmware.bin")));
    QCOMPARE(m_fleet->state(mac0)
                 .value(QStringLiteral("counts"))
                 .toObject()
                 .value(QStringLiteral("upgrade"))
                 .toInt(-1),
             0);

    QVERIFY2(status(1).startsWith(QStringLiteral("Upgrade Fail")), qPrintable(status(1)));
    QVERIFY(!m_fleet->hasFile(cell(1, 4), QStringLiteral("firmware.bin")));
    QCOMPARE(status(2), QStringLiteral("Upgrade Success  "));
    QCOMPARE(status(3), QStringLiteral("Password is error"));

    // The run is over: a new search is allowed again and a second click starts a new run.
    QVERIFY(!m_tab->upgradeRun()->isActive());
}

void UpgradeE2E::modifyIpMovesDevicesFirst()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=20\r\n");
    // A tab password longer than the record's 11 bytes: used in full, never stored cut.
    const QString password = QStringLiteral("secret-longer");
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.72.%1").arg(10 + i), 0x7200 + i,
                              QJsonObject{{QStringLiteral("password"), password}}));
    QVERIFY(startTab(devices, 35720, 35721));
    QVERIFY(searchAndTickAll(3));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 64 * 1024));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(password);
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(3, 60000));
    for (int row = 0; row < 3; ++row) {
        const QString ip = QStringLiteral("127.0.72.%1").arg(20 + row);
        QCOMPARE(status(row), QStringLiteral("Upgrade Success  "));
        QCOMPARE(cell(row, 1), ip);
        QCOMPARE(m_fleet->state(cell(row, 4)).value(QStringLiteral("ip")).toString(), ip);
        QCOMPARE(QByteArray(m_tab->tabController()
                                ->table()
                                ->store()
                                .record(m_tab->tabController()->table()->generation(), row)
                                .value()
                                .szPsw),
                 QByteArray());
    }
}

void UpgradeE2E::verifiesTheVersionAfterTheRestart()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nVerify=1\r\nVerifyTimeout=4\r\n");
    struct Case {
        const char *name;
        QJsonObject extra;
        QString verdict;
    };
    const QJsonObject restarts{{QStringLiteral("rebootAfterUpgrade"), true},
                               {QStringLiteral("rebootMs"), 700}};
    QJsonObject keeps = restarts;
    keeps.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}});
    QJsonObject gone = restarts;
    gone.insert(QStringLiteral("rebootMs"), 60000);
    const QString verified = QStringLiteral("Verified V7.01.R05.E2E 2026-04-01");
    const QList<Case> cases = {
        {"restarts with the new version", restarts, verified},
        {"keeps its version", keeps, QStringLiteral("Not verified: version unchanged")},
        {"restarts with the new version too", restarts, verified},
        {"never comes back", gone, QStringLiteral("Not verified: no answer after 4 s")},
    };
    QJsonArray devices;
    for (int i = 0; i < cases.size(); ++i) {
        QJsonObject extra = cases[i].extra;
        extra.insert(QStringLiteral("upgradeMs"), 300);
        extra.insert(QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD"));
        devices.append(device(QStringLiteral("127.0.74.%1").arg(10 + i), 0x7400 + i, extra));
    }
    QVERIFY(startTab(devices, 35740, 35741));
    QVERIFY(searchAndTickAll(int(cases.size())));
    const QString package = m_tmp->filePath(QStringLiteral("versioned.bin"));
    const std::string desc = "{\"Hardware\":\"" + kHardware.toStdString() +
                             "\",\"Version\":\"V7.01.R05.E2E\",\"BuildDate\":\"2026-04-01\"}";
    QVERIFY(
        testzip::write(package.toStdString(), {{"InstallDesc", desc}, {"u-boot.bin.img", "image"}}, true));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(int(cases.size()), 60000));
    for (int row = 0; row < cases.size(); ++row) {
        // Rows follow the search's order; the device is known by its address.
        const int i = cell(row, 1).section(QLatin1Char('.'), 3).toInt() - 10;
        QVERIFY(i >= 0 && i < cases.size());
        QVERIFY2(status(row) == cases[i].verdict,
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(cases[i].name), status(row))));
        // The version columns show what the device runs now.
        const bool isVerified = cases[i].verdict == verified;
        QCOMPARE(cell(row, 6),
                 isVerified ? QStringLiteral("V7.01.R05.E2E") : QStringLiteral("V4.02.R11.OLD"));
        if (isVerified)
            QCOMPARE(cell(row, 7), QStringLiteral("2026-04-01"));
        QStringList seen;
        for (const StatusEvent &e : m_history[row])
            seen << e.text;
        // The verdict follows the device's own success report.
        QVERIFY2(seen.size() >= 2 && seen[seen.size() - 2].startsWith(QStringLiteral("Upgrade Success")),
                 qPrintable(seen.join(QLatin1String(" | "))));
    }
    QCOMPARE(m_tab->upgradeRun()->verifying(), 0);
}

void UpgradeE2E::mixedFleetUpgradesOnvifCamerasToo()
{
    // Eight SDK devices and six ONVIF cameras (one wanting HTTP Digest with its clock hours ahead, one
    // taking the package only inline, one keeping its old version, two losing the connection a few
    // bytes into the package, posted and inline): one table, one run, one verdict per device.
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nVerify=1\r\nVerifyTimeout=6\r\n");
    QJsonArray devices;
    for (int i = 0; i < 8; ++i)
        devices.append(device(QStringLiteral("127.0.75.%1").arg(10 + i), 0x7500 + i,
                              QJsonObject{{QStringLiteral("upgradeMs"), 300},
                                          {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")}}));
    const QJsonObject onvif{{QStringLiteral("protocol"), QStringLiteral("onvif")},
                            {QStringLiteral("upgradeMs"), 300},
                            {QStringLiteral("rebootMs"), 500},
                            {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")}};
    const QList<QJsonObject> cameras = {
        QJsonObject{},
        QJsonObject{{QStringLiteral("httpDigest"), true},
                    {QStringLiteral("faults"), QJsonObject{{QStringLiteral("clockSkewSeconds"), 3 * 3600}}}},
        QJsonObject{{QStringLiteral("httpUpgrade"), false}},
        QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}}}},
        QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("dropAfterUpgradeBytes"), 64}}}},
        QJsonObject{{QStringLiteral("httpUpgrade"), false},
                    {QStringLiteral("faults"), QJsonObject{{QStringLiteral("dropAfterUpgradeBytes"), 64}}}},
    };
    for (int i = 0; i < cameras.size(); ++i) {
        QJsonObject extra = onvif;
        for (auto it = cameras[i].begin(); it != cameras[i].end(); ++it)
            extra.insert(it.key(), it.value());
        devices.append(device(QStringLiteral("127.0.75.%1").arg(30 + i), 0x7530 + i, extra));
    }
    // Discovery on a port of this test's own, so that other fleets on loopback do not answer.
    qputenv("TALLOW_NETSDK_ONVIF_PORT", "35753");
    const auto restore = qScopeGuard([] { qunsetenv("TALLOW_NETSDK_ONVIF_PORT"); });
    QVERIFY(startTab(devices, 35750, 35751, -1,
                     {QStringLiteral("--onvif-port"), QStringLiteral("35752"),
                      QStringLiteral("--discovery-port"), QStringLiteral("35753")}));
    QVERIFY(searchAndTickAll(14));
    const QString package = m_tmp->filePath(QStringLiteral("mixed.bin"));
    const std::string desc = "{\"Hardware\":\"" + kHardware.toStdString() +
                             "\",\"Version\":\"V7.01.R05.E2E\",\"BuildDate\":\"2026-04-01\"}";
    QVERIFY(
        testzip::write(package.toStdString(), {{"InstallDesc", desc}, {"u-boot.bin.img", "image"}}, true));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(14, 90000));
    DeviceTable *table = m_tab->tabController()->table();
    for (int row = 0; row < 14; ++row) {
        const int last = cell(row, 1).section(QLatin1Char('.'), 3).toInt();
        const bool camera = last >= 30;
        const bool keeps = last == 33;
        if (last >= 34) {
            // The transfer failed: the row says so, and nothing of the run counted as a success.
            QCOMPARE(table->statusOutcome(row), StatusOutcome::Failure);
            QVERIFY(table->failedRows().contains(row));
            for (const StatusEvent &e : m_history[row])
                QVERIFY2(!e.text.startsWith(QStringLiteral("Upgrade Success")) &&
                             !e.text.startsWith(QStringLiteral("Verified")),
                         qPrintable(e.text));
            const QJsonObject state = m_fleet->state(cell(row, 4));
            QCOMPARE(state.value(QStringLiteral("version")).toString(), QStringLiteral("V4.02.R11.OLD"));
            QCOMPARE(state.value(QStringLiteral("lastUpgrade"))
                         .toObject()
                         .value(QStringLiteral("kind"))
                         .toString(),
                     QStringLiteral("aborted"));
            QCOMPARE(status(row), QStringLiteral("Upgrade Fail"));
            continue;
        }
        QString want = camera ? QStringLiteral("Verified V7.01.R05.E2E")
                              : QStringLiteral("Verified V7.01.R05.E2E 2026-04-01");
        if (keeps)
            want = QStringLiteral("Not verified: version unchanged");
        QVERIFY2(status(row) == want, qPrintable(QStringLiteral("%1: %2").arg(cell(row, 1), status(row))));
        QStringList seen;
        for (const StatusEvent &e : m_history[row])
            seen << e.text;
        QVERIFY2(seen.size() >= 2 && seen[seen.size() - 2].startsWith(QStringLiteral("Upgrade Success")),
                 qPrintable(seen.join(QLatin1String(" | "))));
        if (camera)
            QCOMPARE(m_fleet->state(cell(row, 4)).value(QStringLiteral("version")).toString(),
                     keeps ? QStringLiteral("V4.02.R11.OLD") : QStringLiteral("V7.01.R05.E2E"));
    }
}

void UpgradeE2E::checkDevicesSendsNothing()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=E2E77\r\n");
    struct Case {
        const char *name;
        QJsonObject extra;
        // What the check says with the OEMID step off and on; empty = some failure (a time-out).
        QString verdict;
        QString oemidVerdict;
    };
    const QJsonObject malformed{{QStringLiteral("producerGetMalformed"), true}};
    const QList<Case> cases = {
        {"good", {}, QStringLiteral("Ready"), QStringLiteral("Ready")},
        {"other hardware",
         {{QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}},
         QStringLiteral("Invalid hardware"),
         QStringLiteral("Invalid hardware")},
        {"other password",
         {{QStringLiteral("password"), QStringLiteral("other")}},
         QStringLiteral("Password is error"),
         QStringLiteral("Password is error")},
        {"foreign OEMID",
         {{QStringLiteral("oemid"), QStringLiteral("ZZ999")}},
         QStringLiteral("Ready"),
         QStringLiteral("OEMID Repeat(ZZ999)")},
        {"unreadable OEMID", {{QStringLiteral("faults"), malformed}}, QStringLiteral("Ready"), QString()},
        {"good too", {}, QStringLiteral("Ready"), QStringLiteral("Ready")},
        {"silent",
         {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("silent"), true}}}},
         QString(),
         QString()},
    };
    QJsonArray devices;
    for (int i = 0; i < cases.size(); ++i)
        devices.append(device(QStringLiteral("127.0.75.%1").arg(10 + i), 0x7500 + i, cases[i].extra));
    QVERIFY(startTab(devices, 35750, 35751));
    QVERIFY(searchAndTickAll(int(cases.size())));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(makePackage(kHardware, 4096));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    auto caseOf = [&](int row) {
        const int i = cell(row, 1).section(QLatin1Char('.'), 3).toInt() - 10;
        return i >= 0 && i < cases.size() ? i : -1;
    };

    QMap<int, QString> verdicts;
    for (const bool oemid : {false, true}) {
        m_tab->findChild<QCheckBox *>(QStringLiteral("setOEMID"))->setChecked(oemid);
        std::unique_ptr<QMenu> menu(m_tab->tabController()->tableActions()->createMenu(-1));
        QAction *check = menu->findChild<QAction *>(QStringLiteral("checkDevices"));
        QVERIFY(check && check->isEnabled());
        QList<QDateTime> before;
        for (int row = 0; row < cases.size(); ++row)
            before.append(m_tab->tabController()->table()->lastStatusTime(row));
        check->trigger();
        QVERIFY(waitForFinalTexts(int(cases.size()), 60000));
        QCOMPARE(CMessageBox::shownCount(), 0);
        for (int row = 0; row < cases.size(); ++row) {
            const int i = caseOf(row);
            QVERIFY(i >= 0);
            const QString name =
                QLatin1String(cases[i].name) + (oemid ? QStringLiteral(" (OEMID)") : QString());
            QVERIFY2(m_tab->tabController()->table()->lastStatusTime(row) > before[row],
                     qPrintable(name + QStringLiteral(": no verdict")));
            const QString expected = oemid ? cases[i].oemidVerdict : cases[i].verdict;
            if (expected.isEmpty())
                QVERIFY2(m_tab->tabController()->table()->statusOutcome(row) == StatusOutcome::Failure,
                         qPrintable(name + QStringLiteral(": ") + status(row)));
            else
                QVERIFY2(status(row) == expected, qPrintable(name + QStringLiteral(": ") + status(row)));
            const QJsonObject counts =
                m_fleet->state(cell(row, 4)).value(QStringLiteral("counts")).toObject();
            QCOMPARE(counts.value(QStringLiteral("upgrade")).toInt(-1), 0);
            QCOMPARE(counts.value(QStringLiteral("import")).toInt(-1), 0);
            QCOMPARE(counts.value(QStringLiteral("producerWrite")).toInt(-1), 0);
            QVERIFY(!m_fleet->hasFile(cell(row, 4), QStringLiteral("firmware.bin")));
            DEV_INFO record;
            QVERIFY(m_tab->tabController()->table()->device(m_tab->tabController()->table()->generation(),
                                                            row, &record));
            QVERIFY(record.lLoginID <= 0);
            if (oemid)
                verdicts[i] = status(row);
        }
    }

    // The run itself, OEMID step on: a device the check refused stops with the check's own text, a
    // ready one goes through.
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(int(cases.size()), 120000));
    for (int row = 0; row < cases.size(); ++row) {
        const int i = caseOf(row);
        const QString name = QLatin1String(cases[i].name);
        if (verdicts[i] == QStringLiteral("Ready"))
            QVERIFY2(m_tab->tabController()->table()->statusOutcome(row) == StatusOutcome::Success,
                     qPrintable(name + QStringLiteral(": ") + status(row)));
        else
            QVERIFY2(status(row) == verdicts[i], qPrintable(name + QStringLiteral(": run ") + status(row) +
                                                            QStringLiteral(", check ") + verdicts[i]));
    }
}

void UpgradeE2E::setOemidWritesVerifiesAndRecords()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=E2E77\r\n");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.73.10"), 0x7300));
    devices.append(device(QStringLiteral("127.0.73.11"), 0x7301,
                          QJsonObject{{QStringLiteral("oemid"), QStringLiteral("E2E77")}}));
    QVERIFY(startTab(devices, 35730, 35731, 35732));
    QVERIFY(searchAndTickAll(2));
    m_tab->findChild<QCheckBox *>(QStringLiteral("setOEMID"))->setChecked(true);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 64 * 1024));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(2, 60000));

    QCOMPARE(status(0), QStringLiteral("Upgrade Success  Set OEMID Success(E2E77)"));
    QCOMPARE(m_fleet->state(cell(0, 4)).value(QStringLiteral("oemid")).toString(), QStringLiteral("E2E77"));
    // A device that already carries this OEMID is a repeat ("can repeat" is off) and is left alone.
    QCOMPARE(status(1), QStringLiteral("OEMID Repeat(E2E77)"));
    QCOMPARE(m_fleet->state(cell(1, 4))
                 .value(QStringLiteral("counts"))
                 .toObject()
                 .value(QStringLiteral("producerWrite"))
                 .toInt(-1),
             0);
    QVERIFY(!m_fleet->hasFile(cell(1, 4), QStringLiteral("firmware.bin")));

    // One factory record, for the verified write.
    QStringList records;
    QDirIterator it(m_tmp->filePath(QStringLiteral("oemidupload/unupload")), {QStringLiteral("*.log")},
                    QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadOnly));
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                records << QString::fromLatin1(line.trimmed());
        }
    }
    QCOMPARE(records.size(), 1);
    QVERIFY2(records[0].contains(QStringLiteral("E2E77")), qPrintable(records[0]));

    // "upload" sends it to the factory-record service and files it as uploaded.
    const QString ca = m_fleet->recordsCaFile();
    QVERIFY(!ca.isEmpty());
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=E2E77\r\n[Upload]\r\nHost=localhost\r\n"
             "Port=35732\r\nCAFile=" +
             ca.toLocal8Bit() + "\r\n");
    const int boxes = CMessageBox::shownCount();
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("BtnUpload")), Qt::LeftButton);
    // The upload runs off the GUI thread: the window stays live and the box arrives when it ends.
    QVERIFY(!m_tab->findChild<QPushButton *>(QStringLiteral("BtnUpload"))->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(CMessageBox::shownCount() > boxes, 20000);
    QTRY_VERIFY(m_tab->findChild<QPushButton *>(QStringLiteral("BtnUpload"))->isEnabled());
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("load"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("loaded1item,failed0item,total1item"));
    QCOMPARE(m_tab->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value(), 0);
    QVERIFY(QDir(m_tmp->filePath(QStringLiteral("oemidupload/unupload"))).entryList(QDir::Files).isEmpty());
    QCOMPARE(QDir(m_tmp->filePath(QStringLiteral("oemidupload/upload"))).entryList(QDir::Files).size(), 1);
    QFile accepted(m_fleet->stateDir() + QStringLiteral("/records/accepted.log"));
    QVERIFY(accepted.open(QIODevice::ReadOnly));
    QVERIFY(accepted.readAll().contains(records[0].toLatin1()));
}

// A device that floods progress (1 %, 2 %, 1 %, ... as fast as it can, never a result) and one that
// trickles a step every 14 s end at the SDK's flash deadline with its text, beside a healthy device;
// the flood reaches neither the memory nor the run log.
void UpgradeE2E::floodingAndTricklingDevicesEndAtTheDeadline()
{
    QJsonArray devices;
    devices.append(device(
        QStringLiteral("127.0.76.10"), 0x7600,
        QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("progressFlood"), true}}}}));
    devices.append(device(
        QStringLiteral("127.0.76.11"), 0x7601,
        QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("progressTrickleMs"), 14000}}}}));
    devices.append(device(QStringLiteral("127.0.76.12"), 0x7602));
    QVERIFY(startTab(devices, 35760, 35761));
    QVERIFY(searchAndTickAll(3));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 256 << 10));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));

    const QString runLog =
        RunLog(QCoreApplication::applicationDirPath() + QStringLiteral("/RunLog"), QStringLiteral("firmware"))
            .fileFor(QDate::currentDate());
    const qint64 logBefore = QFileInfo(runLog).size();
    const qint64 rssBefore = residentKiB();
    H264_DVR_SetUpgradeDeadline(5000);
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    const bool ended = waitForFinalTexts(3, 60000);
    H264_DVR_SetUpgradeDeadline(600000);
    QVERIFY(ended);
    const qint64 rssGrowth = residentKiB() - rssBefore;
    const qint64 logGrowth = QFileInfo(runLog).size() - logBefore;

    const QString deadline = QStringLiteral("Upgrade timed out: the device did not finish in time");
    QCOMPARE(status(0), deadline);
    QCOMPARE(status(1), deadline);
    QCOMPARE(status(2), QStringLiteral("Upgrade Success  "));
    DeviceTable *table = m_tab->tabController()->table();
    QCOMPARE(table->statusOutcome(0), StatusOutcome::Failure);

    // The flood passed on a rise or two, not millions of callbacks.
    int floodProgress = 0;
    for (const HistoryEntry &e : table->history(0))
        floodProgress += e.text.startsWith(QStringLiteral("Upgrade Progress:"));
    QVERIFY2(floodProgress >= 1 && floodProgress <= 3, qPrintable(QString::number(floodProgress)));
    // Bounds, not timings: a few MiB of memory at most, and a few hundred run-log lines for the
    // three devices (each at most ~100 send and ~100 device progress texts).
    QVERIFY2(rssGrowth < 32 * 1024, qPrintable(QStringLiteral("RSS grew by %1 KiB").arg(rssGrowth)));
    QVERIFY2(logGrowth > 0 && logGrowth < 96 * 1024,
             qPrintable(QStringLiteral("run log grew by %1 bytes").arg(logGrowth)));
    qInfo("flood: RSS growth %lld KiB, run log growth %lld bytes", rssGrowth, logGrowth);
}

// The package is checked at the click and each device is sent exactly that file: one replaced on disk
// after the first device started goes to no later device.
void UpgradeE2E::packageReplacedBetweenStartsIsNotSent()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.76.10"), 0x7600));
    // The second device takes the configuration import but never answers it: its transfer starts only
    // after the import's 10 s time-out, long after the first device's upgrade has ended.
    devices.append(device(
        QStringLiteral("127.0.76.11"), 0x7601,
        QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("results"),
                                                            QJsonObject{{QStringLiteral("52"), -10005}}}}}}));
    QVERIFY(startTab(devices, 35910, 35911));
    QVERIFY(searchAndTickAll(2));
    const int first = cell(0, 1) == QLatin1String("127.0.76.10") ? 0 : 1;
    const int second = 1 - first;
    const QString firstMac = cell(first, 4), secondMac = cell(second, 4);

    const QString package = makePackage(kHardware, 64 * 1024);
    QFile pf(package);
    QVERIFY(pf.open(QIODevice::ReadOnly));
    const QByteArray checked = pf.readAll();
    pf.close();
    const QString cfg = m_tmp->filePath(QStringLiteral("device.cfg"));
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[cfg]\n");
    }
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditCfg"))->setText(cfg);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);

    QVERIFY(
        QTest::qWaitFor([&] { return m_fleet->hasFile(firstMac, QStringLiteral("firmware.bin")); }, 9000));
    auto upgradesOf = [this](const QString &mac) {
        return m_fleet->state(mac)
            .value(QStringLiteral("counts"))
            .toObject()
            .value(QStringLiteral("upgrade"))
            .toInt(-1);
    };
    QCOMPARE(upgradesOf(secondMac), 0); // still waiting for its import's answer
    // Another valid package for the same hardware, renamed over the checked one.
    const QString other = m_tmp->filePath(QStringLiteral("other.bin"));
    QVERIFY(testzip::writePackage(other.toStdString(), kHardware.toStdString(), 48 * 1024));
    QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(package).constData()), 0);

    QVERIFY(waitForFinalTexts(2, 60000));
    QCOMPARE(status(first), QStringLiteral("Upgrade Success  "));
    QCOMPARE(m_fleet->file(firstMac, QStringLiteral("firmware.bin")), checked);
    QCOMPARE(status(second), UpgradeRun::packageChangedText());
    QCOMPARE(m_tab->tabController()->table()->statusOutcome(second), StatusOutcome::Failure);
    QVERIFY(!m_fleet->hasFile(secondMac, QStringLiteral("firmware.bin")));
    // A begun upgrade always ends counted, burnt or aborted: this device never saw one begin.
    QCOMPARE(upgradesOf(secondMac), 0);
    QVERIFY(!m_fleet->state(secondMac).contains(QStringLiteral("lastUpgrade")));
}

// A device whose new address would be its gateway is skipped with its own text; the run goes on.
void UpgradeE2E::modifyIpSkipsARefusedAddressAndGoesOn()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=20\r\n");
    QJsonArray devices;
    // Every device names 127.0.77.21 as its gateway: row 1 would be given exactly that address.
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.77.%1").arg(10 + i), 0x7700 + i,
                              QJsonObject{{QStringLiteral("gateway"), QStringLiteral("127.0.77.21")}}));
    QVERIFY(startTab(devices, 35770, 35771));
    QVERIFY(searchAndTickAll(3));
    const QString refusedMac = cell(1, 4), refusedIp = cell(1, 1);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 64 * 1024));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(waitForFinalTexts(3, 60000));
    QCOMPARE(CMessageBox::shownCount(), 0);

    QCOMPARE(status(1), QStringLiteral("Set Ip refused: 127.0.77.21 is the gateway"));
    QCOMPARE(m_tab->tabController()->table()->statusOutcome(1), StatusOutcome::Failure);
    QCOMPARE(cell(1, 1), refusedIp);
    const QJsonObject state = m_fleet->state(refusedMac);
    QCOMPARE(state.value(QStringLiteral("ip")).toString(), refusedIp);
    const QJsonObject counts = state.value(QStringLiteral("counts")).toObject();
    QCOMPARE(counts.value(QStringLiteral("ipChange")).toInt(-1), 0);
    QCOMPARE(counts.value(QStringLiteral("login")).toInt(-1), 0); // not processed any further
    QCOMPARE(counts.value(QStringLiteral("upgrade")).toInt(-1), 0);
    for (const int row : {0, 2}) {
        const QString ip = QStringLiteral("127.0.77.%1").arg(20 + row);
        QCOMPARE(status(row), QStringLiteral("Upgrade Success  "));
        QCOMPARE(cell(row, 1), ip);
        QCOMPARE(m_fleet->state(cell(row, 4)).value(QStringLiteral("ip")).toString(), ip);
    }
}

// A StartIndex no address can start from refuses the run at the click: nothing is sent to any device.
void UpgradeE2E::startIndexOutOfRangeRefusesTheRun()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=255\r\n");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.78.10"), 0x7800));
    QVERIFY(startTab(devices, 35780, 35781));
    QVERIFY(searchAndTickAll(1));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))
        ->setText(makePackage(kHardware, 64 * 1024));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(
        CMessageBox::lastShown().text,
        QStringLiteral("StartIndex in Config.ini is 255, but it must be 1 to 254. No address was changed; "
                       "correct it and start again."));
    QVERIFY(!m_tab->inspecting());
    QVERIFY(!m_tab->upgradeRun()->isActive());
    const QJsonObject counts = m_fleet->state(cell(0, 4)).value(QStringLiteral("counts")).toObject();
    QCOMPARE(counts.value(QStringLiteral("ipChange")).toInt(-1), 0);
    QCOMPARE(counts.value(QStringLiteral("login")).toInt(-1), 0);
}

void UpgradeE2E::pacingIsReadAtRunStart_data()
{
    QTest::addColumn<int>("maxParallel");
    QTest::addColumn<int>("devices");
    QTest::addRow("two at a time") << 2 << 4;
    QTest::addRow("the whole fleet at once") << 4 << 4;
}

// StartSpacingMs=0 and MaxParallel=N, written after the tab was built, govern the next run: at most
// N devices are in flight (a device counts until its transfer's final report), and with no spacing
// the limit is reached. Transfers are slowed to seconds, so every in-flight phase spans many polls.
void UpgradeE2E::pacingIsReadAtRunStart()
{
    QFETCH(int, maxParallel);
    QFETCH(int, devices);
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i)
        fleet.append(device(QStringLiteral("127.0.79.%1").arg(10 + i), 0x7900 + i,
                            QJsonObject{{QStringLiteral("faults"),
                                         QJsonObject{{QStringLiteral("bytesPerSecond"), 200000}}}}));
    QVERIFY(startTab(fleet, 35790, 35791));
    QVERIFY(searchAndTickAll(devices));
    writeIni(QStringLiteral("[UpgradeInfo]\r\nModifyIP=0\r\nStartSpacingMs=0\r\nMaxParallel=%1\r\n")
                 .arg(maxParallel)
                 .toLatin1());

    const QString package = makePackage(kHardware, 1 << 20);
    QVERIFY(!package.isEmpty());
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 0);

    int peakInFlight = 0;
    int peakTransfers = 0;
    const bool ended = QTest::qWaitFor(
        [&] {
            const UpgradeRun *run = m_tab->upgradeRun();
            peakInFlight = std::max(peakInFlight, run->batch().inFlight());
            peakTransfers = std::max(peakTransfers, run->runningUpgrades());
            if (m_tab->inspecting() || run->isActive())
                return false;
            m_tab->tabController()->table()->flushPending();
            for (int r = 0; r < devices; ++r) {
                if (status(r).isEmpty())
                    return false;
            }
            return true;
        },
        120000);
    QVERIFY(ended);
    QCOMPARE(peakInFlight, maxParallel);
    QVERIFY2(peakTransfers <= maxParallel, qPrintable(QString::number(peakTransfers)));
    for (int row = 0; row < devices; ++row) {
        QCOMPARE(status(row), QStringLiteral("Upgrade Success  "));
        QVERIFY(m_fleet->hasFile(cell(row, 4), QStringLiteral("firmware.bin")));
    }
}

void UpgradeE2E::wavesHaltOrGoOn_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<QByteArray>("waves");       // the [Waves] section
    QTest::addColumn<QList<int>>("keepVersion"); // fleet devices that keep their old version
    QTest::addColumn<int>("answer");             // to the halt's box: 0 go on, 1 stop
    QTest::addColumn<QList<int>>("waveOf");      // per device
    QTest::addColumn<int>("haltedWave");         // 0: no halt
    const QByteArray doubling = "[Waves]\r\nEnabled=1\r\nFirst=1\r\nGrowth=x2\r\nHalt=1\r\n";
    const QList<int> sevenWaves = {1, 2, 2, 3, 3, 3, 3};
    QTest::newRow("first wave keeps its version, stop")
        << 7 << doubling << QList<int>{0} << 1 << sevenWaves << 1;
    QTest::newRow("first wave keeps its version, go on")
        << 7 << doubling << QList<int>{0} << 0 << sevenWaves << 1;
    QTest::newRow("no fault") << 7 << doubling << QList<int>{} << 1 << sevenWaves << 0;
    QList<int> sixteen = {1};
    for (int i = 0; i < 16; ++i)
        sixteen << 2;
    sixteen << 3;
    QTest::newRow("1 of 16 below 10 %")
        << 18 << QByteArray("[Waves]\r\nEnabled=1\r\nFirst=1\r\nGrowth=x16\r\nHalt=10%\r\n") << QList<int>{5}
        << 1 << sixteen << 0;
}

void UpgradeE2E::wavesHaltOrGoOn()
{
    QFETCH(int, devices);
    QFETCH(QByteArray, waves);
    QFETCH(QList<int>, keepVersion);
    QFETCH(int, answer);
    QFETCH(QList<int>, waveOf);
    QFETCH(int, haltedWave);
    // Verify is off in the file: waves turn it on themselves.
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nVerify=0\r\nVerifyTimeout=8\r\nStartSpacingMs=0\r\n" + waves);
    CMessageBox::setAnswerProvider([answer](CMessageBox &) { return answer; });

    const QJsonObject restarts{{QStringLiteral("rebootAfterUpgrade"), true},
                               {QStringLiteral("rebootMs"), 700},
                               {QStringLiteral("upgradeMs"), 300},
                               {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")}};
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        QJsonObject extra = restarts;
        if (keepVersion.contains(i))
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}});
        fleet.append(device(QStringLiteral("127.0.75.%1").arg(10 + i), 0x7500 + i, extra));
    }
    static int runs = 0; // each case on ports of its own
    const int port = 35750 + 2 * runs++;
    QVERIFY(startTab(fleet, port, port + 1));
    QVERIFY(m_tab->findChild<QCheckBox *>(QStringLiteral("wavesCheck"))->isChecked()); // [Waves] Enabled=1
    QVERIFY(searchAndTickAll(devices));
    // Waves take the ticked devices in table order: the cases are written for rows in fleet order.
    std::vector<QString> macOf(static_cast<size_t>(devices));
    for (int row = 0; row < devices; ++row) {
        QCOMPARE(cell(row, 1), QStringLiteral("127.0.75.%1").arg(10 + row));
        macOf[size_t(row)] = cell(row, 4);
    }

    const QString package = m_tmp->filePath(QStringLiteral("versioned.bin"));
    const std::string desc = "{\"Hardware\":\"" + kHardware.toStdString() +
                             "\",\"Version\":\"V7.01.R05.E2E\",\"BuildDate\":\"2026-04-01\"}";
    QVERIFY(
        testzip::write(package.toStdString(), {{"InstallDesc", desc}, {"u-boot.bin.img", "image"}}, true));
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    m_tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    WaveRun *run = &m_tab->runController()->waveRun();
    QSignalSpy ended(run, &WaveRun::ended);
    QSignalSpy halted(run, &WaveRun::halted);
    // The run ends, or halts and the box's answer stops it.
    QVERIFY(QTest::qWaitFor(
        [&] { return ended.count() > 0 || (halted.count() > 0 && run->state() == WaveRun::State::Idle); },
        180000));
    QVERIFY(!m_tab->upgradeRun()->isActive());
    QCOMPARE(halted.count(), haltedWave > 0 ? 1 : 0);
    DeviceTable *table = m_tab->tabController()->table();
    table->flushPending();

    const bool resumed = haltedWave > 0 && answer == 0;
    QCOMPARE(CMessageBox::shownCount(), haltedWave > 0 ? 1 : 0);
    if (haltedWave) {
        const QString text = CMessageBox::lastShown().text;
        QVERIFY2(text.contains(QStringLiteral("Wave %1 of 3 failed: 1 of its 1 devices did not end verified")
                                   .arg(haltedWave)),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("6 devices were not started")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Go on with wave 2?")), qPrintable(text));
    }

    const QString verified = QStringLiteral("Verified V7.01.R05.E2E 2026-04-01");
    for (int row = 0; row < devices; ++row) {
        const QString mac = macOf[size_t(row)];
        const bool halted = haltedWave > 0 && !resumed && waveOf[row] > haltedWave;
        QCOMPARE(table->wave(row), waveOf[row]);
        if (halted) {
            QCOMPARE(status(row), QStringLiteral("Halted: wave %1 failed").arg(haltedWave));
            QCOMPARE(table->statusOutcome(row), StatusOutcome::Halted);
            // The device was checked, and nothing was sent to it.
            QVERIFY2(m_fleet->count(mac, "login") >= 1, qPrintable(mac));
            QCOMPARE(m_fleet->count(mac, "upgrade"), 0);
            QVERIFY(!m_fleet->hasFile(mac, QStringLiteral("firmware.bin")));
            QVERIFY(!m_fleet->hasFile(mac, QStringLiteral("upgrade.part")));
            QVERIFY(!m_fleet->state(mac).contains(QStringLiteral("lastUpgrade")));
            continue;
        }
        QCOMPARE(m_fleet->count(mac, "upgrade"), 1);
        QVERIFY(m_fleet->hasFile(mac, QStringLiteral("firmware.bin")));
        QCOMPARE(status(row),
                 keepVersion.contains(row) ? QStringLiteral("Not verified: version unchanged") : verified);
        // The history says which wave took the device, before its transfer.
        QStringList texts;
        for (const HistoryEntry &e : table->history(row))
            texts << e.text;
        const int ready = int(texts.lastIndexOf(QStringLiteral("Ready")));
        const int waveAt = int(texts.lastIndexOf(QStringLiteral("Wave %1").arg(waveOf[row])));
        QVERIFY2(ready >= 0 && waveAt > ready && texts.lastIndexOf(status(row)) > waveAt,
                 qPrintable(texts.join(QLatin1String(" | "))));
    }

    // "Select failed" picks the devices that did not end verified; halted ones are not failures.
    DeviceTableActions *actions = m_tab->tabController()->tableActions();
    QCOMPARE(actions->selectFailed(), keepVersion);
    // The export carries each device's wave in its last column.
    QList<QStringList> csv;
    QVERIFY(DeviceCsv::parse(DeviceCsv::table(*table), &csv));
    QCOMPARE(csv.size(), devices + 1);
    QCOMPARE(csv[0].last(), QStringLiteral("Wave"));
    for (int row = 0; row < devices; ++row)
        QCOMPARE(csv[row + 1].last(), QString::number(waveOf[row]));
}

QTEST_MAIN(UpgradeE2E)
#include "tst_upgradee2e.moc"
