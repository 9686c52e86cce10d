// A fleet of 64 simulated devices carrying every kind of misbehaviour the simulator offers: the
// firmware run and the OEMID batch must bring every row to a final text, leave no thread behind and
// keep the event loop turning meanwhile.

#include "devsimfleet.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/statusoutcome.h"
#include "netsdk/netsdk.h"
#include "oemid/setoemid.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <memory>

namespace
{

const QString kHardware = QStringLiteral("HI3520D-NVR");
const int kDevices = 64;

QJsonObject faults(const QJsonObject &f)
{
    return QJsonObject{{QStringLiteral("faults"), f}};
}

QJsonObject forced(const char *request, int code)
{
    return faults({{QStringLiteral("results"), QJsonObject{{QLatin1String(request), code}}}});
}

// One entry per kind of misbehaviour; the fleet repeats them over its devices.
QList<QJsonObject> faultKinds()
{
    return {
        QJsonObject(), // a sound device among the faulty ones
        faults({{QStringLiteral("loginError"), 7}}),
        faults({{QStringLiteral("loginError"), -11303}}),
        {{QStringLiteral("password"), QStringLiteral("other")}},
        QJsonObject{{QStringLiteral("password"), QStringLiteral("other")},
                    {QStringLiteral("faults"), QJsonObject{{QStringLiteral("lockAfterFailures"), 1}}}},
        faults({{QStringLiteral("silent"), true}}),
        faults({{QStringLiteral("searchSilent"), true}}),
        faults({{QStringLiteral("bytesPerSecond"), 40000}}),
        faults({{QStringLiteral("dropAfterUpgradeBytes"), 20000}}),
        faults({{QStringLiteral("upgradeResult"), -11806}}),
        {{QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}},
        {{QStringLiteral("rebootAfterUpgrade"), true}, {QStringLiteral("rebootMs"), 1500}},
        forced("ipchange", -2),
        forced("ipchange", -11401),
        forced("ipchange", -10005),
        forced("reboot", -10005),
        forced("52", -10005),
        forced("52", -10002),
        forced("2160", -10005),
        forced("244", -10002),
        forced("2162", -10005),
        faults({{QStringLiteral("producerGetRet"), 103}}),
        faults({{QStringLiteral("producerGetMalformed"), true}}),
        faults({{QStringLiteral("producerGetUpper"), true}, {QStringLiteral("producerSetRet"), 101}}),
        faults({{QStringLiteral("producerSetRet"), 101}}),
        faults({{QStringLiteral("locationGetRet"), -1}}),
        faults({{QStringLiteral("keepVersion"), true}}),
    };
}

bool searchSilent(const QJsonObject &d)
{
    return d.value(QStringLiteral("faults")).toObject().value(QStringLiteral("searchSilent")).toBool();
}

// `password`: the account of the sound devices (empty: the simulator's default).
QJsonArray faultedFleet(int subnet, int firstMac, const QString &password)
{
    const QList<QJsonObject> kinds = faultKinds();
    QJsonArray out;
    for (int i = 0; i < kDevices; ++i) {
        const int n = firstMac + i;
        QJsonObject d{
            {QStringLiteral("ip"), QStringLiteral("127.0.%1.%2").arg(subnet).arg(10 + i)},
            {QStringLiteral("mac"), QStringLiteral("00:12:37:00:%1:%2")
                                        .arg(n / 256, 2, 16, QLatin1Char('0'))
                                        .arg(n % 256, 2, 16, QLatin1Char('0'))},
            {QStringLiteral("serial"), QStringLiteral("faultserial%1").arg(n, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("hardware"), kHardware},
            {QStringLiteral("password"), password},
            {QStringLiteral("upgradeMs"), 500},
            {QStringLiteral("deviceType"), 4}};
        const QJsonObject &kind = kinds[i % kinds.size()];
        for (auto it = kind.begin(); it != kind.end(); ++it)
            d.insert(it.key(), it.value());
        out.append(d);
    }
    return out;
}

int visibleDevices(const QJsonArray &fleet)
{
    int n = 0;
    for (const QJsonValue &v : fleet)
        n += searchSilent(v.toObject()) ? 0 : 1;
    return n;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The names of this process's threads, for the message of a failed check.
QString threadNames()
{
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(t + QStringLiteral("/comm")));
        names << (comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : t);
    }
    return names.join(QLatin1String(", "));
}

// A zero-interval timer: it fires only when the event loop turns.
class LoopProbe
{
public:
    LoopProbe()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_ticks; });
        m_timer.start(0);
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    int m_ticks = 0;
};

} // namespace

class FaultedFleet : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firmwareRunEndsEveryRow();
    void oemidBatchEndsEveryRow();

private:
    void writeIni(const QByteArray &text);
    bool startFleet(const QJsonArray &devices, int port, int searchPort);
    QString listNonFinal(DeviceTable *table, int statusColumn) const;
    void noThreadLeftBehind();

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<DevsimFleet> m_fleet;
    int m_threadsBefore = 0;
};

void FaultedFleet::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    m_threadsBefore = threadCount();
}

void FaultedFleet::cleanup()
{
    m_fleet.reset();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

void FaultedFleet::writeIni(const QByteArray &text)
{
    QVERIFY(useConfigIni(m_tmp->filePath(QStringLiteral("Config.ini")), text));
}

bool FaultedFleet::startFleet(const QJsonArray &devices, int port, int searchPort)
{
    m_fleet = std::make_unique<DevsimFleet>();
    if (!m_fleet->start(devices, port, searchPort)) {
        qWarning("%s", qPrintable(m_fleet->error()));
        return false;
    }
    H264_DVR_SetSearchPort(quint16(searchPort));
    return true;
}

QString FaultedFleet::listNonFinal(DeviceTable *table, int statusColumn) const
{
    table->flushPending();
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString text = table->model()->index(row, statusColumn).data().toString();
        if (table->statusOutcome(row) == StatusOutcome::Neutral)
            out << QStringLiteral("row %1 (%2): \"%3\"")
                       .arg(row)
                       .arg(table->model()->index(row, 1).data().toString(), text);
    }
    return out.join(QLatin1String("; "));
}

void FaultedFleet::firmwareRunEndsEveryRow()
{
    // Address changes on: refused, postponed and unanswered ones are among the faults.
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=100\r\n");
    const QJsonArray fleet = faultedFleet(140, 0x100, QStringLiteral("secret"));
    QVERIFY(startFleet(fleet, 36400, 36401));

    auto tab = std::make_unique<UpgradeWidget>();
    tab->setDataDirectory(m_tmp->path());
    tab->show();
    DeviceTable *table = tab->tabController()->table();
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("SearchButton")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !tab->tabController()->searching(); }, 30000));
    QCOMPARE(table->rowCount(), visibleDevices(fleet));
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("selectBtn")), Qt::LeftButton);
    QCOMPARE(int(table->checkedRows().size()), table->rowCount());

    const QString package = m_tmp->filePath(QStringLiteral("firmware.bin"));
    QVERIFY(testzip::writePackage(package.toStdString(), kHardware.toStdString(), 64 * 1024));
    const QString cfg = m_tmp->filePath(QStringLiteral("device.cfg"));
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[cfg]\n");
    }
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditCfg"))->setText(cfg);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("secret"));

    LoopProbe probe;
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    QVERIFY(
        QTest::qWaitFor([&] { return !tab->inspecting(); }, 20000)); // the package, read off the GUI thread
    QVERIFY(tab->upgradeRun()->isActive());
    const int ticksAtStart = probe.ticks();
    // The run's own bounds: one start per second, the connect, import and transfer time-outs.
    QVERIFY2(QTest::qWaitFor([&] { return !tab->upgradeRun()->isActive(); }, 400000),
             qPrintable(listNonFinal(table, tableVariant(TabKind::Firmware).statusColumn)));
    QVERIFY2(probe.ticks() > ticksAtStart, "the event loop did not turn during the run");

    const int status = tableVariant(TabKind::Firmware).statusColumn;
    const QString open = listNonFinal(table, status);
    QVERIFY2(open.isEmpty(), qPrintable(open));
    int successes = 0, failures = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString text = table->model()->index(row, status).data().toString();
        successes += text.startsWith(QLatin1String("Upgrade Success")) ? 1 : 0;
        failures += table->statusOutcome(row) == StatusOutcome::Failure ? 1 : 0;
    }
    // The sound devices upgrade; the faulty ones fail.
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->model()->index(row, status).data().toString();
    QVERIFY2(successes > 0 && failures > 0, qPrintable(texts.join(QLatin1String(" | "))));

    tab.reset(); // joins the run and logs out
    m_fleet.reset();
    noThreadLeftBehind();
}

void FaultedFleet::oemidBatchEndsEveryRow()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=FLT77\r\n");
    const QJsonArray fleet = faultedFleet(141, 0x200, QString());
    QVERIFY(startFleet(fleet, 36410, 36411));

    auto tab = std::make_unique<SetOEMID>(nullptr, m_tmp->path());
    tab->show();
    for (const char *name : {"setoemid", "synchronizationTime"}) {
        auto *box = tab->findChild<QCheckBox *>(QLatin1String(name));
        QVERIFY(box);
        if (!box->isChecked())
            QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
    }
    LoopProbe probe;
    QSignalSpy finished(tab.get(), &SetOEMID::batchFinished);
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    const int ticksAtStart = probe.ticks();
    QVERIFY(finished.wait(400000) || !finished.isEmpty());
    QVERIFY2(probe.ticks() > ticksAtStart, "the event loop did not turn during the batch");

    DeviceTable *table = tab->tabController()->table();
    QCOMPARE(table->rowCount(), visibleDevices(fleet));
    const int status = tableVariant(TabKind::Oemid).statusColumn;
    const QString open = listNonFinal(table, status);
    QVERIFY2(open.isEmpty(), qPrintable(open));
    int successes = 0, failures = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const StatusOutcome o = table->statusOutcome(row);
        successes += o == StatusOutcome::Success ? 1 : 0;
        failures += o == StatusOutcome::Failure ? 1 : 0;
    }
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->model()->index(row, status).data().toString();
    QVERIFY2(successes > 0 && failures > 0, qPrintable(texts.join(QLatin1String(" | "))));

    tab.reset();
    m_fleet.reset();
    noThreadLeftBehind();
}

void FaultedFleet::noThreadLeftBehind()
{
    // Qt's shared pool keeps its idle threads for a while; they run nothing of ours.
    QThreadPool::globalInstance()->waitForDone(5000);
    QVERIFY2(QTest::qWaitFor([&] { return threadCount() <= m_threadsBefore; }, 10000),
             qPrintable(QStringLiteral("%1 threads before, %2 after: %3")
                            .arg(m_threadsBefore)
                            .arg(threadCount())
                            .arg(threadNames())));
}

QTEST_MAIN(FaultedFleet)
#include "tst_faultedfleet.moc"
