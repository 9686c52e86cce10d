// tallowctl against simulated devices: what it prints (every stdout line parsed as JSON), its exit
// codes, and what the devices really got.

#include "devsimfleet.h"
#include "logotestutil.h"
#include "testzip.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <signal.h>

namespace
{

const QString kNvr = QStringLiteral("HI3520D-NVR");

QJsonObject device(const QString &ip, int n, const QString &hardware, const QJsonObject &extra = {})
{
    QJsonObject d{
        {QStringLiteral("ip"), ip},
        {QStringLiteral("mac"), QStringLiteral("00:12:34:77:00:%1").arg(n, 2, 16, QLatin1Char('0'))},
        {QStringLiteral("serial"), QStringLiteral("ctlserial%1").arg(n, 7, 10, QLatin1Char('0'))},
        {QStringLiteral("hardware"), hardware},
        {QStringLiteral("upgradeMs"), 300},
        {QStringLiteral("deviceType"), 4}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

struct CtlResult {
    int exitCode = -1;
    QList<QJsonObject> lines; ///< stdout, one object per line
    QByteArray err;
    bool allJson = true; ///< every stdout line was one JSON object
    QByteArray notJson;  ///< the lines that were not
    QJsonObject summary() const
    {
        for (auto it = lines.crbegin(); it != lines.crend(); ++it)
            if (it->value(QStringLiteral("event")).toString() == QLatin1String("summary"))
                return *it;
        return {};
    }
    /// The summary's device entry for `ip`.
    QJsonObject result(const QString &ip) const
    {
        for (const QJsonValue &v : summary().value(QStringLiteral("devices")).toArray())
            if (v.toObject().value(QStringLiteral("ip")).toString() == ip)
                return v.toObject();
        return {};
    }
};

CtlResult parseOutput(const QByteArray &out)
{
    CtlResult r;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError e{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &e);
        if (e.error != QJsonParseError::NoError || !doc.isObject()) {
            r.allJson = false;
            r.notJson += line + '\n';
            continue;
        }
        r.lines << doc.object();
    }
    return r;
}

} // namespace

class TallowCtlE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void badArgumentsChangeNothing_data();
    void badArgumentsChangeNothing();
    void searchListsTheFleet();
    void upgradeNvrPackageOnMixedFleet();
    void checkSendsNothing();
    void passwordSources_data();
    void passwordSources();
    void faultedFleet();
    void namedDevicesOnly_data();
    void namedDevicesOnly();
    void refusedPackage();
    void interruptMidUpgrade();
    void versionNamesThePaths();
    void tableCommands_data();
    void tableCommands();
    void historyAndExportAfterARun();
    void recordsUpload_data();
    void recordsUpload();
    void manualAndCompletionNameEveryCommand();
    void logoMakeAndBurn_data();
    void logoMakeAndBurn();
    void oemidWriteAndSettings_data();
    void oemidWriteAndSettings();
    void oemidOnDevsimFleetReadsBack();
    void upgradeInWaves_data();
    void upgradeInWaves();
    void logoBurnInWaves_data();
    void logoBurnInWaves();
    void interruptBetweenWaves_data();
    void interruptBetweenWaves();
    void onvifCamerasInAMixedFleet_data();
    void onvifCamerasInAMixedFleet();

private:
    bool startFleet(const QJsonArray &devices, int port);
    QProcess *startCtl(const QStringList &args, const QMap<QString, QString> &env = {});
    CtlResult runCtl(const QStringList &args, const QMap<QString, QString> &env = {}, int timeoutMs = 120000);
    QString makePackage(const QString &hardware, size_t size);
    QString appDir() const { return m_appDir.path(); }

    QTemporaryDir m_appDir; ///< a copy of tallowctl with its own Config.ini, RunLog and records
    QString m_ctl;
    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<DevsimFleet> m_fleet;
    std::unique_ptr<QProcess> m_process;
    int m_searchPort = 0;
};

void TallowCtlE2E::initTestCase()
{
    // The tool reads Config.ini and writes its run log and records beside itself: a private copy
    // keeps this test away from the build's application directory.
    QVERIFY(m_appDir.isValid());
    m_ctl = m_appDir.filePath(QStringLiteral("tallowctl"));
    QVERIFY(QFile::copy(QStringLiteral(TALLOWCTL), m_ctl));
    QVERIFY(QFile::setPermissions(m_ctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TallowCtlE2E::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    QFile::remove(m_appDir.filePath(QStringLiteral("Config.ini")));
    QDir(m_appDir.filePath(QStringLiteral("RunLog"))).removeRecursively();
}

void TallowCtlE2E::cleanup()
{
    if (m_process) {
        m_process->kill();
        m_process->waitForFinished(5000);
        m_process.reset();
    }
    m_fleet.reset();
}

bool TallowCtlE2E::startFleet(const QJsonArray &devices, int port)
{
    m_fleet = std::make_unique<DevsimFleet>();
    m_searchPort = port + 1;
    if (!m_fleet->start(devices, port, m_searchPort)) {
        qWarning("%s", qPrintable(m_fleet->error()));
        return false;
    }
    return true;
}

QProcess *TallowCtlE2E::startCtl(const QStringList &args, const QMap<QString, QString> &env)
{
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("TALLOW_NETSDK_SEARCH_PORT"), QString::number(m_searchPort));
    e.insert(QStringLiteral("TALLOW_NETSDK_SEARCH_SCOPE"), QStringLiteral("loopback"));
    e.remove(QStringLiteral("TALLOW_PASSWORD"));
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    m_process->setProcessEnvironment(e);
    m_process->setStandardInputFile(QProcess::nullDevice()); // no terminal: no prompt
    m_process->start(m_ctl, args);
    return m_process.get();
}

CtlResult TallowCtlE2E::runCtl(const QStringList &args, const QMap<QString, QString> &env, int timeoutMs)
{
    QProcess *p = startCtl(args, env);
    if (!p->waitForFinished(timeoutMs)) {
        p->kill();
        p->waitForFinished(5000);
    }
    CtlResult r = parseOutput(p->readAllStandardOutput());
    r.err = p->readAllStandardError();
    r.exitCode = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    return r;
}

QString TallowCtlE2E::makePackage(const QString &hardware, size_t size)
{
    const QString path = m_tmp->filePath(hardware + QStringLiteral(".bin"));
    return testzip::writePackage(path.toStdString(), hardware.toStdString(), size) ? path : QString();
}

void TallowCtlE2E::badArgumentsChangeNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrHas");
    const QString pkg = QStringLiteral("/nonexistent/package.bin");
    QTest::newRow("no command") << QStringList{} << 2 << QString();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("flash")} << 2 << QStringLiteral("flash");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("search"), QStringLiteral("--bogus")} << 2
                                    << QStringLiteral("bogus");
    QTest::newRow("upgrade without package")
        << QStringList{QStringLiteral("upgrade")} << 2 << QStringLiteral("Please Select a Program");
    QTest::newRow("device neither address nor MAC")
        << QStringList{QStringLiteral("upgrade"), QStringLiteral("-p"), pkg, QStringLiteral("--device"),
                       QStringLiteral("host.example")}
        << 2 << QStringLiteral("host.example");
    QTest::newRow("address byte above 255")
        << QStringList{QStringLiteral("search"), QStringLiteral("--device"), QStringLiteral("127.0.0.256")}
        << 2 << QStringLiteral("127.0.0.256");
    QTest::newRow("spacing not a number")
        << QStringList{QStringLiteral("upgrade"), QStringLiteral("-p"), pkg, QStringLiteral("--spacing-ms"),
                       QStringLiteral("fast")}
        << 2 << QStringLiteral("spacing-ms");
    QTest::newRow("switch not 0 or 1") << QStringList{QStringLiteral("upgrade"), QStringLiteral("-p"), pkg,
                                                      QStringLiteral("--verify"), QStringLiteral("maybe")}
                                       << 2 << QStringLiteral("verify");
    QTest::newRow("password file missing")
        << QStringList{QStringLiteral("upgrade"), QStringLiteral("-p"), pkg,
                       QStringLiteral("--password-file"), QStringLiteral("/nonexistent/pw")}
        << 2 << QStringLiteral("/nonexistent/pw");
    QTest::newRow("no plain password flag")
        << QStringList{QStringLiteral("upgrade"), QStringLiteral("-p"), pkg, QStringLiteral("--password"),
                       QStringLiteral("secret")}
        << 2 << QStringLiteral("password");
    QTest::newRow("search time out of range")
        << QStringList{QStringLiteral("search"), QStringLiteral("--search-time"), QStringLiteral("5")} << 2
        << QStringLiteral("search-time");
    QTest::newRow("address change with StartIndex 0") << QStringList{QStringLiteral("upgrade"),
                                                                     QStringLiteral("-p"),
                                                                     pkg,
                                                                     QStringLiteral("--modify-ip"),
                                                                     QStringLiteral("1"),
                                                                     QStringLiteral("--start-index"),
                                                                     QStringLiteral("0")}
                                                      << 2 << QString();
    QTest::newRow("OEMID step with the unassigned OEMID") << QStringList{QStringLiteral("upgrade"),
                                                                         QStringLiteral("-p"),
                                                                         pkg,
                                                                         QStringLiteral("--set-oemid"),
                                                                         QStringLiteral("on"),
                                                                         QStringLiteral("--oemid-assigned"),
                                                                         QStringLiteral("000")}
                                                          << 2 << QString();
    QTest::newRow("logo burn in waves that cannot shrink")
        << QStringList{QStringLiteral("logo"), QStringLiteral("burn"),          QStringLiteral("--waves"),
                       QStringLiteral("1"),    QStringLiteral("--wave-growth"), QStringLiteral("x0.5")}
        << 2 << QStringLiteral("Growth=x0.5");
    QTest::newRow("help") << QStringList{QStringLiteral("upgrade"), QStringLiteral("--help")} << 0
                          << QString();
    QTest::newRow("oemid with nothing chosen")
        << QStringList{QStringLiteral("oemid"), QStringLiteral("--set-oemid"), QStringLiteral("0")} << 2
        << QStringLiteral("Please choose way");
    QTest::newRow("oemid with the unassigned OEMID")
        << QStringList{QStringLiteral("oemid"), QStringLiteral("--set-oemid"), QStringLiteral("1"),
                       QStringLiteral("--oemid-assigned"), QStringLiteral("000")}
        << 2 << QString();
    QTest::newRow("oemid time zone not in the list")
        << QStringList{QStringLiteral("oemid"), QStringLiteral("--time-zone"), QStringLiteral("UTC+08:30")}
        << 2 << QStringLiteral("UTC+08:30");
    QTest::newRow("oemid language not in the list")
        << QStringList{QStringLiteral("oemid"), QStringLiteral("--language"), QStringLiteral("Klingon")} << 2
        << QStringLiteral("Klingon");
}

void TallowCtlE2E::badArgumentsChangeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);
    m_searchPort = 36399; // nothing listens: a case that reached a search would find nothing
    const CtlResult r = runCtl(args);
    QCOMPARE(r.exitCode, exitCode);
    if (!stderrHas.isEmpty())
        QVERIFY2(r.err.contains(stderrHas.toUtf8()), r.err.constData());
    // Nothing was run: no run log was started.
    QVERIFY(!QDir(m_appDir.filePath(QStringLiteral("RunLog"))).exists() ||
            QDir(m_appDir.filePath(QStringLiteral("RunLog"))).isEmpty());
}

void TallowCtlE2E::searchListsTheFleet()
{
    QJsonArray devices;
    for (int i = 0; i < 8; ++i)
        devices.append(device(QStringLiteral("127.0.160.%1").arg(10 + i), i, kNvr));
    QVERIFY(startFleet(devices, 36400));
    const CtlResult r = runCtl({QStringLiteral("search"), QStringLiteral("--json"),
                                QStringLiteral("--search-time"), QStringLiteral("1000")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.allJson);
    QStringList ips;
    for (const QJsonObject &o : r.lines)
        if (o.value(QStringLiteral("event")).toString() == QLatin1String("found"))
            ips << o.value(QStringLiteral("ip")).toString();
    QCOMPARE(ips.size(), 8);
    QCOMPARE(ips.first(), QStringLiteral("127.0.160.10"));
    QCOMPARE(ips.last(), QStringLiteral("127.0.160.17"));
    QCOMPARE(r.summary().value(QStringLiteral("found")).toInt(), 8);
}

void TallowCtlE2E::upgradeNvrPackageOnMixedFleet()
{
    // devsim's own fleet: NVR, DVR, IPC in turn, as the README's run starts it.
    m_fleet = std::make_unique<DevsimFleet>();
    m_searchPort = 36411;
    QVERIFY2(m_fleet->startCount(8, QStringLiteral("127.0.161.10"), 36410, m_searchPort),
             qPrintable(m_fleet->error()));
    const QString package = makePackage(kNvr, 64 * 1024);
    const CtlResult r = runCtl({QStringLiteral("upgrade"), QStringLiteral("--package"), package,
                                QStringLiteral("--json"), QStringLiteral("--search-time"),
                                QStringLiteral("1000"), QStringLiteral("--spacing-ms"), QStringLiteral("0")});
    QVERIFY(r.allJson);
    QCOMPARE(r.exitCode, 1);
    const QJsonObject s = r.summary();
    QCOMPARE(s.value(QStringLiteral("succeeded")).toInt(), 3);
    QCOMPARE(s.value(QStringLiteral("failed")).toInt(), 5);
    QCOMPARE(s.value(QStringLiteral("exitCode")).toInt(), 1);
    for (int i = 0; i < 8; ++i) {
        const QString ip = QStringLiteral("127.0.161.%1").arg(10 + i);
        const QJsonObject d = r.result(ip);
        const bool nvr = i % 3 == 0;
        QCOMPARE(d.value(QStringLiteral("text")).toString().trimmed(),
                 nvr ? QStringLiteral("Upgrade Success") : QStringLiteral("Invalid hardware"));
        QCOMPARE(d.value(QStringLiteral("outcome")).toString(),
                 nvr ? QStringLiteral("success") : QStringLiteral("failure"));
        // What the device got: the package on the NVRs only.
        const QString mac = d.value(QStringLiteral("mac")).toString();
        QCOMPARE(QFile::exists(m_fleet->deviceDir(mac) + QStringLiteral("/firmware.bin")), nvr);
    }
    // Every event line names its device and an outcome; the last one of each device is its result.
    for (const QJsonObject &o : r.lines) {
        if (o.value(QStringLiteral("event")).toString() != QLatin1String("device"))
            continue;
        QVERIFY(!o.value(QStringLiteral("ip")).toString().isEmpty());
        QVERIFY(QStringList({QStringLiteral("success"), QStringLiteral("failure"), QStringLiteral("neutral")})
                    .contains(o.value(QStringLiteral("outcome")).toString()));
    }
    // The same texts went into the firmware tab's run log.
    const QDir logs(appDir() + QStringLiteral("/RunLog"));
    const QStringList files = logs.entryList({QStringLiteral("*_firmware.log")});
    QCOMPARE(files.size(), 1);
    QFile log(logs.filePath(files.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QCOMPARE(text.count("\tUpgrade Success"), 3);
    QCOMPARE(text.count("\tInvalid hardware"), 5);
}

void TallowCtlE2E::checkSendsNothing()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.162.10"), 0, kNvr));
    devices.append(device(QStringLiteral("127.0.162.11"), 1, QStringLiteral("HI3521A-DVR")));
    QVERIFY(startFleet(devices, 36420));
    const CtlResult r = runCtl({QStringLiteral("check"), QStringLiteral("-p"), makePackage(kNvr, 4096),
                                QStringLiteral("--search-time"), QStringLiteral("1000"),
                                QStringLiteral("--csv"), m_tmp->filePath(QStringLiteral("check.csv"))});
    QVERIFY(r.allJson); // stdout is a pipe here: JSON Lines without --json
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.result(QStringLiteral("127.0.162.10")).value(QStringLiteral("text")).toString(),
             QStringLiteral("Ready"));
    QCOMPARE(r.result(QStringLiteral("127.0.162.11")).value(QStringLiteral("text")).toString(),
             QStringLiteral("Invalid hardware"));
    QVERIFY(!QFile::exists(m_fleet->deviceDir(QStringLiteral("00:12:34:77:00:00")) +
                           QStringLiteral("/firmware.bin")));
}

void TallowCtlE2E::passwordSources_data()
{
    QTest::addColumn<QString>("env");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    // The device's password is "secret".
    QTest::newRow("from the environment") << QStringLiteral("secret") << QString() << QStringLiteral("Ready");
    QTest::newRow("from a file") << QString() << QStringLiteral("secret\n") << QStringLiteral("Ready");
    QTest::newRow("file before the environment")
        << QStringLiteral("wrong") << QStringLiteral("secret\r\n") << QStringLiteral("Ready");
    QTest::newRow("wrong one") << QStringLiteral("wrong") << QString() << QStringLiteral("Password is error");
    QTest::newRow("none and no terminal: empty")
        << QString() << QString() << QStringLiteral("Password is error");
}

void TallowCtlE2E::passwordSources()
{
    QFETCH(QString, env);
    QFETCH(QString, file);
    QFETCH(QString, text);
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.163.10"), 0, kNvr,
                          {{QStringLiteral("password"), QStringLiteral("secret")}}));
    QVERIFY(startFleet(devices, 36430));
    QStringList args{QStringLiteral("check"), QStringLiteral("-p"), makePackage(kNvr, 4096),
                     QStringLiteral("--search-time"), QStringLiteral("1000")};
    if (!file.isEmpty()) {
        const QString path = m_tmp->filePath(QStringLiteral("pw"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.toUtf8());
        f.close();
        args << QStringLiteral("--password-file") << path;
    }
    QMap<QString, QString> e;
    if (!env.isEmpty())
        e.insert(QStringLiteral("TALLOW_PASSWORD"), env);
    const CtlResult r = runCtl(args, e);
    const QString got = r.result(QStringLiteral("127.0.163.10")).value(QStringLiteral("text")).toString();
    QVERIFY2(got.contains(text), qPrintable(got));
    QCOMPARE(r.exitCode, text == QLatin1String("Ready") ? 0 : 1);
}

void TallowCtlE2E::faultedFleet()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.164.10"), 0, kNvr));
    devices.append(device(QStringLiteral("127.0.164.11"), 1, kNvr,
                          {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("loginError"), -11303}}}}));
    devices.append(
        device(QStringLiteral("127.0.164.12"), 2, kNvr,
               {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("dropAfterUpgradeBytes"), 8192}}}}));
    devices.append(
        device(QStringLiteral("127.0.164.13"), 3, kNvr,
               {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("upgradeResult"), -11806}}}}));
    QVERIFY(startFleet(devices, 36440));
    const CtlResult r =
        runCtl({QStringLiteral("upgrade"), QStringLiteral("-p"), makePackage(kNvr, 64 * 1024),
                QStringLiteral("--search-time"), QStringLiteral("1000"), QStringLiteral("--spacing-ms"),
                QStringLiteral("0")},
               {{QStringLiteral("TALLOW_NETSDK_UPGRADE_SILENCE_MS"), QStringLiteral("3000")}});
    QVERIFY(r.allJson);
    QCOMPARE(r.exitCode, 1);
    const QJsonObject s = r.summary();
    QCOMPARE(s.value(QStringLiteral("succeeded")).toInt(), 1);
    QCOMPARE(s.value(QStringLiteral("failed")).toInt(), 3);
    QCOMPARE(s.value(QStringLiteral("unfinished")).toInt(), 0);
    QCOMPARE(r.result(QStringLiteral("127.0.164.10")).value(QStringLiteral("outcome")).toString(),
             QStringLiteral("success"));
    for (const QString &ip :
         {QStringLiteral("127.0.164.11"), QStringLiteral("127.0.164.12"), QStringLiteral("127.0.164.13")})
        QCOMPARE(r.result(ip).value(QStringLiteral("outcome")).toString(), QStringLiteral("failure"));
    QCOMPARE(r.result(QStringLiteral("127.0.164.13")).value(QStringLiteral("text")).toString(),
             QStringLiteral("Some part upgrade fail"));
}

void TallowCtlE2E::namedDevicesOnly_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("upgraded");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("by address") << QStringList{QStringLiteral("127.0.165.11")}
                                << QStringList{QStringLiteral("01")} << 0;
    QTest::newRow("by MAC, dashes, upper case")
        << QStringList{QStringLiteral("00-12-34-77-00-02")} << QStringList{QStringLiteral("02")} << 0;
    QTest::newRow("one found, one not")
        << QStringList{QStringLiteral("127.0.165.10"), QStringLiteral("127.0.165.99")}
        << QStringList{QStringLiteral("00")} << 1;
    QTest::newRow("none found") << QStringList{QStringLiteral("127.0.165.99")} << QStringList{} << 4;
}

void TallowCtlE2E::namedDevicesOnly()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, upgraded);
    QFETCH(int, exitCode);
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.165.%1").arg(10 + i), i, kNvr));
    QVERIFY(startFleet(devices, 36450));
    // Half from --device, the rest from a file.
    const QString listFile = m_tmp->filePath(QStringLiteral("devices.txt"));
    QFile f(listFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("# devices of this station\n");
    for (int i = 1; i < names.size(); ++i)
        f.write(names[i].toUtf8() + "\n");
    f.close();
    const CtlResult r =
        runCtl({QStringLiteral("upgrade"), QStringLiteral("-p"), makePackage(kNvr, 4096),
                QStringLiteral("--search-time"), QStringLiteral("1000"), QStringLiteral("--device"),
                names.first(), QStringLiteral("--devices-file"), listFile});
    QVERIFY(r.allJson);
    QCOMPARE(r.exitCode, exitCode);
    for (int i = 0; i < 3; ++i) {
        const QString tail = QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        const QString mac = QStringLiteral("00:12:34:77:00:") + tail;
        QCOMPARE(QFile::exists(m_fleet->deviceDir(mac) + QStringLiteral("/firmware.bin")),
                 upgraded.contains(tail));
    }
    QCOMPARE(r.summary().value(QStringLiteral("exitCode")).toInt(), exitCode);
}

void TallowCtlE2E::refusedPackage()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.166.10"), 0, kNvr));
    QVERIFY(startFleet(devices, 36460));
    const QString notZip = m_tmp->filePath(QStringLiteral("notzip.bin"));
    QFile f(notZip);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is no zip archive");
    f.close();
    const CtlResult r = runCtl({QStringLiteral("upgrade"), QStringLiteral("-p"), notZip,
                                QStringLiteral("--search-time"), QStringLiteral("1000")});
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.err.contains("UnZip Program Fail"), r.err.constData());
    QCOMPARE(m_fleet->count(QStringLiteral("00:12:34:77:00:00"), "login"), 0);
}

void TallowCtlE2E::interruptMidUpgrade()
{
    // Slow links and one device at a time: a transfer takes seconds, so the interrupt comes while the
    // first device is in flight and before the others start.
    QJsonArray devices;
    for (int i = 0; i < 4; ++i)
        devices.append(device(
            QStringLiteral("127.0.167.%1").arg(10 + i), i, kNvr,
            {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("bytesPerSecond"), 128 * 1024}}}}));
    QVERIFY(startFleet(devices, 36470));
    QProcess *p =
        startCtl({QStringLiteral("upgrade"), QStringLiteral("-p"), makePackage(kNvr, 1024 * 1024),
                  QStringLiteral("--search-time"), QStringLiteral("1000"), QStringLiteral("--spacing-ms"),
                  QStringLiteral("0"), QStringLiteral("--max-parallel"), QStringLiteral("1")});
    QVERIFY(p->waitForStarted(10000));
    QByteArray out;
    // Wait for the first transfer to be under way.
    QDeadlineTimer deadline(60000);
    while (!out.contains("Send Progress") && !deadline.hasExpired() && p->state() == QProcess::Running) {
        p->waitForReadyRead(200);
        out += p->readAllStandardOutput();
    }
    QVERIFY2(out.contains("Send Progress"), p->readAllStandardError().constData());
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(120000));
    out += p->readAllStandardOutput();
    const QByteArray err = p->readAllStandardError();
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 130);
    CtlResult r = parseOutput(out);
    QVERIFY(r.allJson);
    const QJsonObject s = r.summary();
    QVERIFY2(s.value(QStringLiteral("interrupted")).toBool(), err.constData());
    // Every device ended with a final result: the ones under way finished, the others say they were
    // not started.
    int succeeded = 0;
    int notStarted = 0;
    for (int i = 0; i < 4; ++i) {
        const QJsonObject d = r.result(QStringLiteral("127.0.167.%1").arg(10 + i));
        const QString outcome = d.value(QStringLiteral("outcome")).toString();
        QVERIFY2(outcome != QLatin1String("neutral"), qPrintable(d.value(QStringLiteral("text")).toString()));
        const QString mac = d.value(QStringLiteral("mac")).toString();
        if (outcome == QLatin1String("success")) {
            ++succeeded;
            // A device reported done really got the whole package.
            QVERIFY(QFileInfo(m_fleet->deviceDir(mac) + QStringLiteral("/firmware.bin")).size() >
                    1024 * 1024);
        } else if (d.value(QStringLiteral("text")).toString() == QLatin1String("Not started: interrupted")) {
            ++notStarted;
            QCOMPARE(m_fleet->count(mac, "login"), 0);
        }
    }
    QVERIFY(succeeded >= 1);
    QVERIFY(notStarted >= 1);
    QCOMPARE(succeeded + notStarted, 4);
    QCOMPARE(s.value(QStringLiteral("unfinished")).toInt(), 0);
    // The run log holds each device's last text, as the summary says.
    const QDir logs(appDir() + QStringLiteral("/RunLog"));
    QFile log(logs.filePath(logs.entryList({QStringLiteral("*_firmware.log")}).value(0)));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    for (const QJsonValue &v : s.value(QStringLiteral("devices")).toArray()) {
        const QJsonObject d = v.toObject();
        QByteArray last;
        for (const QByteArray &line : lines)
            if (line.split('\t').value(1) == d.value(QStringLiteral("device")).toString().toUtf8())
                last = line.split('\t').value(3);
        QCOMPARE(QString::fromUtf8(last), d.value(QStringLiteral("text")).toString());
    }
}

void TallowCtlE2E::versionNamesThePaths()
{
    // The version lines are plain text, not JSON.
    QProcess p;
    p.start(m_ctl, {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray text = p.readAllStandardOutput();
    QVERIFY2(text.startsWith("tallowctl "), text.constData());
    QVERIFY2(text.contains((appDir() + QStringLiteral("/Config.ini")).toUtf8()), text.constData());
    QVERIFY2(text.contains((appDir() + QStringLiteral("/RunLog")).toUtf8()), text.constData());
    QVERIFY2(text.contains((appDir() + QStringLiteral("/oemidupload")).toUtf8()), text.constData());
}

void TallowCtlE2E::tableCommands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("okText");     ///< the healthy device's text
    QTest::addColumn<QString>("faultText");  ///< the faulted device's text
    QTest::addColumn<QString>("count");      ///< devsim's count of what the healthy device got
    QTest::addColumn<QString>("newAddress"); ///< the healthy device's address afterwards
    QTest::newRow("reboot") << QStringList{QStringLiteral("reboot"), QStringLiteral("--yes")}
                            << QStringLiteral("Reboot Successfully") << QStringLiteral("Reboot Failed")
                            << QStringLiteral("reboot") << QStringLiteral("127.0.168.10");
    QTest::newRow("reset") << QStringList{QStringLiteral("reset"), QStringLiteral("-y")}
                           << QStringLiteral("Reset Config Successfully")
                           << QStringLiteral("Reset Config Failed") << QStringLiteral("reset")
                           << QStringLiteral("127.0.168.10");
    // Row index 0 + StartIndex 40: .40; the faulted device wants a reboot first.
    QTest::newRow("ip") << QStringList{QStringLiteral("ip"), QStringLiteral("--start-index"),
                                       QStringLiteral("40")}
                        << QStringLiteral("Address changed to 127.0.168.40") << QStringLiteral("Need Reboot")
                        << QStringLiteral("ipChange") << QStringLiteral("127.0.168.40");
}

void TallowCtlE2E::tableCommands()
{
    QFETCH(QStringList, args);
    QFETCH(QString, okText);
    QFETCH(QString, faultText);
    QFETCH(QString, count);
    QFETCH(QString, newAddress);
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.168.10"), 0, kNvr,
                          {{QStringLiteral("gateway"), QStringLiteral("127.0.168.1")}}));
    devices.append(device(
        QStringLiteral("127.0.168.11"), 1, kNvr,
        {{QStringLiteral("gateway"), QStringLiteral("127.0.168.1")},
         {QStringLiteral("faults"),
          QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("reboot"), -11300},
                                                              {QStringLiteral("33"), -11300},
                                                              {QStringLiteral("ipchange"), -11401}}}}}}));
    QVERIFY(startFleet(devices, 36480));
    const CtlResult r = runCtl(args << QStringLiteral("--search-time") << QStringLiteral("1000"));
    QVERIFY(r.allJson);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.result(QStringLiteral("127.0.168.11")).value(QStringLiteral("text")).toString(), faultText);
    QCOMPARE(r.result(QStringLiteral("127.0.168.11")).value(QStringLiteral("outcome")).toString(),
             QStringLiteral("failure"));
    const QJsonObject ok = r.result(newAddress);
    QCOMPARE(ok.value(QStringLiteral("text")).toString(), okText);
    QCOMPARE(ok.value(QStringLiteral("outcome")).toString(), QStringLiteral("success"));
    QCOMPARE(m_fleet->count(QStringLiteral("00:12:34:77:00:00"), count.toLatin1().constData()), 1);
    QCOMPARE(m_fleet->state(QStringLiteral("00:12:34:77:00:00")).value(QStringLiteral("ip")).toString(),
             newAddress);
}

void TallowCtlE2E::historyAndExportAfterARun()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.169.10"), 0, kNvr));
    devices.append(device(QStringLiteral("127.0.169.11"), 1, QStringLiteral("HI3521A-DVR")));
    QVERIFY(startFleet(devices, 36490));
    QCOMPARE(runCtl({QStringLiteral("check"), QStringLiteral("-p"), makePackage(kNvr, 4096),
                     QStringLiteral("--search-time"), QStringLiteral("1000")})
                 .exitCode,
             1);
    // The run log of today, of one device, as JSON.
    const CtlResult h =
        runCtl({QStringLiteral("history"), QStringLiteral("--device"), QStringLiteral("00:12:34:77:00:01")});
    QCOMPARE(h.exitCode, 0);
    QVERIFY(h.allJson);
    QVERIFY(!h.lines.isEmpty());
    for (const QJsonObject &o : h.lines)
        QCOMPARE(o.value(QStringLiteral("device")).toString(), QStringLiteral("00:12:34:77:00:01"));
    QCOMPARE(h.lines.last().value(QStringLiteral("text")).toString(), QStringLiteral("Invalid hardware"));
    // A day without a log.
    QCOMPARE(
        runCtl({QStringLiteral("history"), QStringLiteral("--date"), QStringLiteral("2001-01-01")}).exitCode,
        4);
    QCOMPARE(
        runCtl({QStringLiteral("history"), QStringLiteral("--date"), QStringLiteral("yesterday")}).exitCode,
        2);

    // The table as CSV: a header and one record per device, as the table's Export writes it.
    const QString csv = m_tmp->filePath(QStringLiteral("table.csv"));
    QCOMPARE(runCtl({QStringLiteral("export"), QStringLiteral("-o"), csv, QStringLiteral("--search-time"),
                     QStringLiteral("1000")})
                 .exitCode,
             0);
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = f.readAll().split('\n');
    QVERIFY(records.value(0).startsWith("NO.,IP Address,"));
    QVERIFY(records.value(0).endsWith("\r"));
    QVERIFY(records.value(1).startsWith("1,127.0.169.10,"));
    QVERIFY(records.value(2).startsWith("2,127.0.169.11,"));
}

void TallowCtlE2E::recordsUpload_data()
{
    QTest::addColumn<QString>("port"); ///< empty: the service's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("end"); ///< empty: no summary
    QTest::newRow("nothing to send") << QString() << 0 << QStringLiteral("empty");
    QTest::newRow("port not a number") << QStringLiteral("https") << 2 << QString();
}

void TallowCtlE2E::recordsUpload()
{
    QFETCH(QString, port);
    QFETCH(int, exitCode);
    QFETCH(QString, end);
    m_fleet = std::make_unique<DevsimFleet>();
    QVERIFY2(m_fleet->start(QJsonArray{device(QStringLiteral("127.0.170.10"), 0, kNvr)}, 36500, 36501, 0),
             qPrintable(m_fleet->error()));
    QStringList args{QStringLiteral("records"), QStringLiteral("upload")};
    args << QStringLiteral("--upload-host") << QStringLiteral("127.0.0.1") << QStringLiteral("--upload-port")
         << (port.isEmpty() ? QString::number(m_fleet->recordsPort()) : port)
         << QStringLiteral("--upload-ca-file") << m_fleet->recordsCaFile();
    const CtlResult r = runCtl(args);
    QVERIFY(r.allJson);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.summary().value(QStringLiteral("end")).toString(), end);
    // The flags went into a private copy: the Config.ini beside the tool is not written.
    QVERIFY(!QFile::exists(m_appDir.filePath(QStringLiteral("Config.ini"))));
}

void TallowCtlE2E::manualAndCompletionNameEveryCommand()
{
    QProcess p;
    p.start(m_ctl, {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    // The help lists the commands as "<name>  <summary>" below "One of:" (a long summary wraps onto
    // a line of its own, which has no such gap).
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    const QString list = help.section(QStringLiteral("One of:"), 1);
    static const QRegularExpression entry(QStringLiteral("^\\s+([a-z]+)\\s{2,}\\S"));
    QStringList commands;
    for (const QString &line : list.split(QLatin1Char('\n')))
        if (const QRegularExpressionMatch m = entry.match(line); m.hasMatch())
            commands << m.captured(1);
    QVERIFY2(commands.size() >= 9, qPrintable(help));
    QFile man(QStringLiteral(TALLOW_SOURCE_DIR "/src/ctl/tallowctl.1"));
    QFile completion(QStringLiteral(TALLOW_SOURCE_DIR "/src/ctl/tallowctl.bash-completion"));
    QVERIFY(man.open(QIODevice::ReadOnly));
    QVERIFY(completion.open(QIODevice::ReadOnly));
    const QString manText = QString::fromUtf8(man.readAll());
    const QString completionText = QString::fromUtf8(completion.readAll());
    const QString completionCommands =
        completionText.section(QStringLiteral("local commands=\""), 1).section(QLatin1Char('"'), 0, 0);
    for (const QString &c : commands) {
        QVERIFY2(manText.contains(QStringLiteral(".B ") + c) || manText.contains(QStringLiteral(".BR ") + c),
                 qPrintable(c));
        QVERIFY2(completionCommands.split(QLatin1Char(' ')).contains(c), qPrintable(c));
    }
}

void TallowCtlE2E::logoMakeAndBurn_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("bootPicture"); ///< false: the boot picture named does not exist
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("burnt"); ///< the devices hold the picture afterwards
    QTest::newRow("burn") << QStringLiteral("burn") << true << 0 << true;
    QTest::newRow("make only") << QStringLiteral("make") << true << 0 << false;
    QTest::newRow("burn without a boot picture") << QStringLiteral("burn") << false << 3 << false;
}

void TallowCtlE2E::logoMakeAndBurn()
{
    QFETCH(QString, action);
    QFETCH(bool, bootPicture);
    QFETCH(int, exitCode);
    QFETCH(bool, burnt);
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(device(QStringLiteral("127.0.171.%1").arg(10 + i), i, kNvr));
    QVERIFY(startFleet(devices, 36510));
    const QString boot = m_tmp->filePath(QStringLiteral("boot.jpg"));
    const QByteArray picture = logotest::makeJpeg(320, 240);
    if (bootPicture)
        QVERIFY(logotest::writeFile(boot, picture));
    const CtlResult r = runCtl({QStringLiteral("logo"), action, QStringLiteral("--logo-boot"), boot,
                                QStringLiteral("--search-time"), QStringLiteral("1000"),
                                QStringLiteral("--spacing-ms"), QStringLiteral("0")});
    QVERIFY2(r.allJson, r.notJson.constData());
    QVERIFY2(r.exitCode == exitCode, QJsonDocument(r.summary()).toJson().constData());
    for (int i = 0; i < 2; ++i) {
        const QString mac = QStringLiteral("00:12:34:77:00:%1").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(m_fleet->file(mac, QStringLiteral("logo/h264dvr.jpg")) == picture, burnt);
        if (burnt)
            QCOMPARE(r.result(QStringLiteral("127.0.171.%1").arg(10 + i))
                         .value(QStringLiteral("outcome"))
                         .toString(),
                     QStringLiteral("success"));
    }
    if (action == QLatin1String("make") && exitCode == 0) {
        const QJsonArray packages = r.summary().value(QStringLiteral("packages")).toArray();
        QCOMPARE(packages.size(), 2);
        for (const QJsonValue &p : packages)
            QVERIFY2(QFile::exists(p.toString()), qPrintable(p.toString()));
    }
}

namespace
{
/// The last text each address's OEMID cell received, from the device events.
QMap<QString, QString> oemidCells(const CtlResult &r)
{
    QMap<QString, QString> cells;
    for (const QJsonObject &o : r.lines)
        if (o.value(QStringLiteral("event")).toString() == QLatin1String("device") &&
            o.value(QStringLiteral("column")).toString() == QLatin1String("oemid"))
            cells[o.value(QStringLiteral("ip")).toString()] = o.value(QStringLiteral("text")).toString();
    return cells;
}
} // namespace

void TallowCtlE2E::oemidWriteAndSettings_data()
{
    // Three devices: .10 and .12 without an OEMID, .11 carrying OTHER9.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("texts");  ///< each device's final status text (the OEMID read, unwritten)
    QTest::addColumn<QStringList>("oemids"); ///< what each device holds afterwards
    QTest::addColumn<QString>("lastCell");   ///< the OEMID cell's last text on every device; empty: none
    const QStringList write{QStringLiteral("oemid"), QStringLiteral("--set-oemid"), QStringLiteral("1"),
                            QStringLiteral("--oemid-assigned"), QStringLiteral("CTL77")};
    const QString ok = QStringLiteral("Set OEMID Success");
    QTest::newRow("write, no repeats")
        << write << 1 << QStringList{ok, QStringLiteral("OEMID Repeat(OTHER9)"), ok}
        << QStringList{QStringLiteral("CTL77"), QStringLiteral("OTHER9"), QStringLiteral("CTL77")}
        << QString();
    QTest::newRow("write with allow-repeat")
        << (QStringList(write) << QStringLiteral("--allow-repeat") << QStringLiteral("1")) << 0
        << QStringList{ok, ok, ok}
        << QStringList{QStringLiteral("CTL77"), QStringLiteral("CTL77"), QStringLiteral("CTL77")}
        << QString();
    // allow-repeat means nothing without the write, as the tab's box cannot be ticked alone.
    QTest::newRow("allow-repeat without the write")
        << QStringList{QStringLiteral("oemid"), QStringLiteral("--allow-repeat"), QStringLiteral("1"),
                       QStringLiteral("--sync-time")}
        << 0 << QStringList{QString(), QStringLiteral("OTHER9"), QString()}
        << QStringList{QString(), QStringLiteral("OTHER9"), QString()}
        << QStringLiteral("synchronization time successful");
    QTest::newRow("write and the clock")
        << (QStringList(write) << QStringLiteral("--sync-time")) << 1
        << QStringList{ok, QStringLiteral("OEMID Repeat(OTHER9)"), ok}
        << QStringList{QStringLiteral("CTL77"), QStringLiteral("OTHER9"), QStringLiteral("CTL77")}
        << QStringLiteral("synchronization time successful");
}

void TallowCtlE2E::oemidWriteAndSettings()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, oemids);
    QFETCH(QString, lastCell);
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.172.10"), 0, kNvr));
    devices.append(device(QStringLiteral("127.0.172.11"), 1, kNvr,
                          {{QStringLiteral("oemid"), QStringLiteral("OTHER9")}}));
    devices.append(device(QStringLiteral("127.0.172.12"), 2, kNvr));
    QVERIFY(startFleet(devices, 36520));
    const CtlResult r = runCtl(args << QStringLiteral("--search-time") << QStringLiteral("1000"));
    QVERIFY2(r.allJson, r.notJson.constData());
    QVERIFY2(r.exitCode == exitCode, QJsonDocument(r.summary()).toJson().constData());
    const QMap<QString, QString> cells = oemidCells(r);
    for (int i = 0; i < 3; ++i) {
        const QString ip = QStringLiteral("127.0.172.%1").arg(10 + i);
        const QString mac = QStringLiteral("00:12:34:77:00:%1").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(r.result(ip).value(QStringLiteral("text")).toString(), texts[i]);
        QCOMPARE(m_fleet->state(mac).value(QStringLiteral("oemid")).toString(), oemids[i]);
        if (!lastCell.isEmpty())
            QCOMPARE(cells.value(ip), lastCell);
        QCOMPARE(m_fleet->count(mac, "timeWrite") > 0, lastCell.startsWith(QLatin1String("synchronization")));
    }
}

void TallowCtlE2E::oemidOnDevsimFleetReadsBack()
{
    // devsim's own fleet of 8; the OEMID is written, then read back by a second run that refuses to
    // write it again, and the zone and language are pushed on the way.
    m_fleet = std::make_unique<DevsimFleet>();
    m_searchPort = 36531;
    QVERIFY2(m_fleet->startCount(8, QStringLiteral("127.0.173.10"), 36530, m_searchPort),
             qPrintable(m_fleet->error()));
    const QStringList write{QStringLiteral("oemid"), QStringLiteral("--set-oemid"),
                            QStringLiteral("1"),     QStringLiteral("--oemid-assigned"),
                            QStringLiteral("CTL88"), QStringLiteral("--search-time"),
                            QStringLiteral("1000")};
    const CtlResult first =
        runCtl(QStringList(write) << QStringLiteral("--time-zone") << QStringLiteral("UTC+03:00")
                                  << QStringLiteral("--language") << QStringLiteral("simpchinese"));
    QVERIFY2(first.allJson, first.notJson.constData());
    QCOMPARE(first.exitCode, 0);
    const QJsonArray found = first.summary().value(QStringLiteral("devices")).toArray();
    QCOMPARE(found.size(), 8);
    for (const QJsonValue &v : found) {
        const QJsonObject d = v.toObject();
        QCOMPARE(d.value(QStringLiteral("text")).toString(), QStringLiteral("Set OEMID Success"));
        QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("success"));
        const QJsonObject s = m_fleet->state(d.value(QStringLiteral("mac")).toString());
        QCOMPARE(s.value(QStringLiteral("oemid")).toString(), QStringLiteral("CTL88"));
        QCOMPARE(s.value(QStringLiteral("timeZone")).toInt(), -180);
        QCOMPARE(s.value(QStringLiteral("location")).toObject().value(QStringLiteral("Language")).toString(),
                 QStringLiteral("SimpChinese"));
    }
    const CtlResult second = runCtl(write);
    QVERIFY2(second.allJson, second.notJson.constData());
    QCOMPARE(second.exitCode, 1);
    for (const QJsonValue &v : second.summary().value(QStringLiteral("devices")).toArray())
        QCOMPARE(v.toObject().value(QStringLiteral("text")).toString(),
                 QStringLiteral("OEMID Repeat(CTL88)"));
}

void TallowCtlE2E::onvifCamerasInAMixedFleet_data()
{
    // One SDK NVR (.10) and four ONVIF cameras: .20 healthy, .21 keeps its version after a burn,
    // .22 silent (found by discovery, never answers a call), .23 with a password we do not have.
    // Each column lists the devices in that order; an empty text: not in the run.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("texts"); ///< the summary's texts (search: the device-type column)
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QList<int>>("tally"); ///< succeeded, failed, unsupported
    QTest::addColumn<QString>("counted");  ///< what devsim counted once or more on camera .20
    const QString timeout = QStringLiteral("Login timeout"), password = QStringLiteral("Password is error");
    const QString ok = QStringLiteral("success"), failure = QStringLiteral("failure"),
                  unsupported = QStringLiteral("unsupported");
    const QString cam = QStringLiteral("IPC (ONVIF)");
    QTest::newRow("search") << QStringList{QStringLiteral("search"), QStringLiteral("--tab"),
                                           QStringLiteral("logo")}
                            << 0 << QStringList{QStringLiteral("NVR"), cam, cam, cam, cam} << QStringList()
                            << QList<int>() << QStringLiteral("onvifRequest");
    QTest::newRow("upgrade, verified")
        << QStringList{QStringLiteral("upgrade"), QStringLiteral("--spacing-ms"),
                       QStringLiteral("0"),       QStringLiteral("--verify"),
                       QStringLiteral("1"),       QStringLiteral("--verify-timeout"),
                       QStringLiteral("20")}
        << 1
        << QStringList{QStringLiteral("Invalid hardware"), QStringLiteral("Verified V7.01.R05.CTL"),
                       QStringLiteral("Not verified: version unchanged"), timeout, password}
        << QStringList{failure, ok, failure, failure, failure} << QList<int>{1, 4, 0}
        << QStringLiteral("upgrade");
    QTest::newRow("reboot") << QStringList{QStringLiteral("reboot"), QStringLiteral("--yes")} << 1
                            << QStringList{QStringLiteral("Reboot Successfully"),
                                           QStringLiteral("Reboot Successfully"),
                                           QStringLiteral("Reboot Successfully"), timeout, password}
                            << QStringList{ok, ok, ok, failure, failure} << QList<int>{3, 2, 0}
                            << QStringLiteral("reboot");
    QTest::newRow("reset") << QStringList{QStringLiteral("reset"), QStringLiteral("-y")} << 1
                           << QStringList{QStringLiteral("Reset Config Successfully"),
                                          QStringLiteral("Reset Config Successfully"),
                                          QStringLiteral("Reset Config Successfully"), timeout, password}
                           << QStringList{ok, ok, ok, failure, failure} << QList<int>{3, 2, 0}
                           << QStringLiteral("reset");
    // Row index + StartIndex 40: the cameras move by SOAP calls, which need a login.
    QTest::newRow("ip") << QStringList{QStringLiteral("ip"), QStringLiteral("--start-index"),
                                       QStringLiteral("40")}
                        << 1
                        << QStringList{QStringLiteral("Address changed to 127.0.181.40"),
                                       QStringLiteral("Address changed to 127.0.181.41"),
                                       QStringLiteral("Address changed to 127.0.181.42"), timeout, password}
                        << QStringList{ok, ok, ok, failure, failure} << QList<int>{3, 2, 0}
                        << QStringLiteral("onvifRequest");
    // No OEMID over ONVIF: neither a success nor a failure, while the clock and zone are set.
    const QStringList oemid{QStringLiteral("oemid"),       QStringLiteral("--set-oemid"),
                            QStringLiteral("1"),           QStringLiteral("--oemid-assigned"),
                            QStringLiteral("CTL77"),       QStringLiteral("--sync-time"),
                            QStringLiteral("--time-zone"), QStringLiteral("UTC+03:00")};
    const QString notSupported = QStringLiteral("Not supported over ONVIF");
    QTest::newRow("oemid and settings")
        << oemid << 1
        << QStringList{QStringLiteral("Set OEMID Success"), notSupported, notSupported,
                       QStringLiteral("dev login failed"), QStringLiteral("dev login failed")}
        << QStringList{ok, unsupported, unsupported, failure, failure} << QList<int>{1, 2, 2}
        << QStringLiteral("timeWrite");
    QTest::newRow("oemid on the answering cameras only: not a failure")
        << (QStringList(oemid) << QStringLiteral("-d") << QStringLiteral("127.0.181.20")
                               << QStringLiteral("-d") << QStringLiteral("127.0.181.21"))
        << 0 << QStringList{QString(), notSupported, notSupported, QString(), QString()}
        << QStringList{QString(), unsupported, unsupported, QString(), QString()} << QList<int>{0, 0, 2}
        << QStringLiteral("timeWrite");
}

void TallowCtlE2E::onvifCamerasInAMixedFleet()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, outcomes);
    QFETCH(QList<int>, tally);
    QFETCH(QString, counted);
    const QString camHardware = QStringLiteral("HI3516EV300-IPC");
    const QJsonObject onvif{{QStringLiteral("protocol"), QStringLiteral("onvif")},
                            {QStringLiteral("model"), QStringLiteral("IPC-4MP")},
                            {QStringLiteral("rebootMs"), 500},
                            {QStringLiteral("version"), QStringLiteral("V4.02.R11.OLD")},
                            {QStringLiteral("gateway"), QStringLiteral("127.0.181.1")}};
    const QList<QJsonObject> cameras = {
        {},
        {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}}}},
        {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("silent"), true}}}},
        {{QStringLiteral("password"), QStringLiteral("other")}},
    };
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.181.10"), 0x10, kNvr,
                          {{QStringLiteral("gateway"), QStringLiteral("127.0.181.1")}}));
    for (int i = 0; i < cameras.size(); ++i) {
        QJsonObject extra = onvif;
        for (auto it = cameras[i].begin(); it != cameras[i].end(); ++it)
            extra.insert(it.key(), it.value());
        devices.append(device(QStringLiteral("127.0.181.%1").arg(20 + i), 0x20 + i, camHardware, extra));
    }
    m_fleet = std::make_unique<DevsimFleet>();
    m_searchPort = 36601;
    QVERIFY2(m_fleet->start(devices, 36600, m_searchPort, -1,
                            {QStringLiteral("--onvif-port"), QStringLiteral("36602"),
                             QStringLiteral("--discovery-port"), QStringLiteral("36603")}),
             qPrintable(m_fleet->error()));
    if (args.first() == QLatin1String("upgrade")) {
        // A package for the cameras' hardware, with a version to verify.
        const QString package = m_tmp->filePath(QStringLiteral("camera.bin"));
        const std::string desc = "{\"Hardware\":\"" + camHardware.toStdString() +
                                 "\",\"Version\":\"V7.01.R05.CTL\",\"BuildDate\":\"2026-04-01\"}";
        QVERIFY(testzip::write(package.toStdString(), {{"InstallDesc", desc}, {"u-boot.bin.img", "image"}},
                               true));
        args << QStringLiteral("-p") << package;
    }
    const CtlResult r =
        runCtl(args << QStringLiteral("--json") << QStringLiteral("--search-time") << QStringLiteral("2000"),
               {{QStringLiteral("TALLOW_NETSDK_ONVIF_PORT"), QStringLiteral("36603")}}, 180000);
    QVERIFY2(r.allJson, r.notJson.constData());
    QVERIFY2(r.exitCode == exitCode, QJsonDocument(r.summary()).toJson().constData());
    const QString mac20 = QStringLiteral("00:12:34:77:00:20");
    QVERIFY2(m_fleet->count(mac20, counted.toLatin1().constData()) > 0, qPrintable(counted));
    if (args.first() == QLatin1String("search")) {
        QStringList types;
        for (const QJsonObject &o : r.lines)
            if (o.value(QStringLiteral("event")).toString() == QLatin1String("found"))
                types << o.value(QStringLiteral("type")).toString();
        QCOMPARE(types, texts);
        return;
    }
    const QJsonObject s = r.summary();
    QCOMPARE(
        (QList<int>{s.value(QStringLiteral("succeeded")).toInt(), s.value(QStringLiteral("failed")).toInt(),
                    s.value(QStringLiteral("unsupported")).toInt()}),
        tally);
    QCOMPARE(s.value(QStringLiteral("unfinished")).toInt(), 0);
    for (int i = 0; i < texts.size(); ++i) {
        if (texts[i].isEmpty())
            continue;
        const QString ip = QStringLiteral("127.0.181.%1").arg(i == 0 ? 10 : 19 + i);
        const QJsonObject d = r.result(
            args.first() == QLatin1String("ip") && i < 3 ? QStringLiteral("127.0.181.%1").arg(40 + i) : ip);
        QVERIFY2(d.value(QStringLiteral("text")).toString().trimmed() == texts[i],
                 qPrintable(ip + QStringLiteral(": ") + d.value(QStringLiteral("text")).toString()));
        QCOMPARE(d.value(QStringLiteral("outcome")).toString(), outcomes[i]);
    }
    // What the cameras got.
    if (args.first() == QLatin1String("upgrade")) {
        QCOMPARE(m_fleet->state(mac20).value(QStringLiteral("version")).toString(),
                 QStringLiteral("V7.01.R05.CTL"));
        QVERIFY(!m_fleet->hasFile(QStringLiteral("00:12:34:77:00:10"), QStringLiteral("firmware.bin")));
    } else if (args.first() == QLatin1String("ip")) {
        QCOMPARE(m_fleet->state(mac20).value(QStringLiteral("ip")).toString(),
                 QStringLiteral("127.0.181.41"));
    } else if (args.first() == QLatin1String("oemid")) {
        for (const QString &mac : {mac20, QStringLiteral("00:12:34:77:00:21")}) {
            QCOMPARE(m_fleet->state(mac).value(QStringLiteral("posixTz")).toString(),
                     QStringLiteral("UTC-3"));
            QVERIFY(m_fleet->state(mac).value(QStringLiteral("oemid")).toString().isEmpty());
        }
    }
}

QTEST_GUILESS_MAIN(TallowCtlE2E)
#include "tst_tallowctle2e.moc"

void TallowCtlE2E::upgradeInWaves_data()
{
    QTest::addColumn<bool>("firstKeepsItsVersion");
    QTest::newRow("wave 1 fails: the run halts") << true;
    QTest::newRow("no fault: every wave runs") << false;
}

void TallowCtlE2E::upgradeInWaves()
{
    QFETCH(bool, firstKeepsItsVersion);
    // Four devices: waves of 1, 2 and 1 (the first wave one device, doubling).
    QJsonArray devices;
    for (int i = 0; i < 4; ++i) {
        QJsonObject extra;
        if (i == 0 && firstKeepsItsVersion)
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("keepVersion"), true}});
        devices.append(device(QStringLiteral("127.0.169.%1").arg(10 + i), i, kNvr, extra));
    }
    QVERIFY(startFleet(devices, 36490));
    const CtlResult r =
        runCtl({QStringLiteral("upgrade"), QStringLiteral("-p"), makePackage(kNvr, 64 * 1024),
                QStringLiteral("--search-time"), QStringLiteral("1000"), QStringLiteral("--spacing-ms"),
                QStringLiteral("0"), QStringLiteral("--waves"), QStringLiteral("1"),
                QStringLiteral("--wave-first"), QStringLiteral("1"), QStringLiteral("--wave-growth"),
                QStringLiteral("x2"), QStringLiteral("--verify-timeout"), QStringLiteral("30")},
               {}, 240000);
    QVERIFY2(r.allJson, r.notJson.constData());
    const QJsonObject s = r.summary();
    QCOMPARE(s.value(QStringLiteral("waves")).toInt(), 3);
    for (int i = 0; i < 4; ++i) {
        const QString ip = QStringLiteral("127.0.169.%1").arg(10 + i);
        const QJsonObject d = r.result(ip);
        const QString mac = d.value(QStringLiteral("mac")).toString();
        const bool sent = QFile::exists(m_fleet->deviceDir(mac) + QStringLiteral("/firmware.bin"));
        if (firstKeepsItsVersion && i > 0) {
            // Later waves never started: nothing reached those devices.
            QCOMPARE(d.value(QStringLiteral("text")).toString(), QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("halted"));
            QVERIFY2(!sent, qPrintable(ip));
        } else {
            QVERIFY2(sent, qPrintable(ip));
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(),
                     firstKeepsItsVersion ? QStringLiteral("failure") : QStringLiteral("success"));
        }
    }
    if (firstKeepsItsVersion) {
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(s.value(QStringLiteral("halted")).toObject().value(QStringLiteral("wave")).toInt(), 1);
        QCOMPARE(s.value(QStringLiteral("halted")).toObject().value(QStringLiteral("notStarted")).toInt(), 3);
        QVERIFY(r.err.contains("Halted: wave 1 of 3 failed"));
    } else {
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!s.contains(QStringLiteral("halted")));
    }
}

void TallowCtlE2E::logoBurnInWaves_data()
{
    QTest::addColumn<bool>("firstBurnFails");
    QTest::newRow("wave 1 fails: the run halts") << true;
    QTest::newRow("no fault: every wave runs") << false;
}

void TallowCtlE2E::logoBurnInWaves()
{
    QFETCH(bool, firstBurnFails);
    // Four devices: waves of 1, 2 and 1. The first one's burn ends in a refusal.
    QJsonArray devices;
    for (int i = 0; i < 4; ++i) {
        QJsonObject extra;
        if (i == 0 && firstBurnFails)
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("upgradeResult"), -11804}});
        devices.append(device(QStringLiteral("127.0.174.%1").arg(10 + i), i, kNvr, extra));
    }
    QVERIFY(startFleet(devices, 36540));
    const QString boot = m_tmp->filePath(QStringLiteral("boot.jpg"));
    const QByteArray picture = logotest::makeJpeg(320, 240);
    QVERIFY(logotest::writeFile(boot, picture));
    const CtlResult r =
        runCtl({QStringLiteral("logo"), QStringLiteral("burn"), QStringLiteral("--logo-boot"), boot,
                QStringLiteral("--search-time"), QStringLiteral("1000"), QStringLiteral("--spacing-ms"),
                QStringLiteral("0"), QStringLiteral("--waves"), QStringLiteral("1"),
                QStringLiteral("--wave-first"), QStringLiteral("1"), QStringLiteral("--wave-growth"),
                QStringLiteral("x2"), QStringLiteral("--csv"), m_tmp->filePath(QStringLiteral("waves.csv"))});
    QVERIFY2(r.allJson, r.notJson.constData());
    for (int i = 0; i < 4; ++i) {
        const QString ip = QStringLiteral("127.0.174.%1").arg(10 + i);
        const QString mac = QStringLiteral("00:12:34:77:00:%1").arg(i, 2, 10, QLatin1Char('0'));
        const QJsonObject d = r.result(ip);
        if (firstBurnFails && i > 0) {
            // Later waves never started: no logo data reached those devices.
            QCOMPARE(d.value(QStringLiteral("text")).toString(), QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("halted"));
            QCOMPARE(m_fleet->count(mac, "upgrade"), 0);
            QVERIFY2(!m_fleet->hasFile(mac, QStringLiteral("logo.img")), qPrintable(ip));
            QVERIFY(m_fleet->state(mac).value(QStringLiteral("lastUpgrade")).toObject().isEmpty());
        } else if (firstBurnFails) {
            QCOMPARE(m_fleet->count(mac, "upgrade"), 1);
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("failure"));
        } else {
            QCOMPARE(m_fleet->file(mac, QStringLiteral("logo/h264dvr.jpg")), picture);
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("success"));
        }
    }
    const QJsonObject s = r.summary();
    QCOMPARE(s.value(QStringLiteral("waves")).toInt(), 3);
    // The export names each device's wave, halted ones included.
    QFile csv(m_tmp->filePath(QStringLiteral("waves.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QList<QByteArray> waveColumn;
    for (const QByteArray &record : csv.readAll().trimmed().split('\n'))
        waveColumn << record.trimmed().split(',').last();
    QCOMPARE(waveColumn, (QList<QByteArray>{"Wave", "1", "2", "2", "3"}));
    if (firstBurnFails) {
        QCOMPARE(r.exitCode, 1);
        const QJsonObject halted = s.value(QStringLiteral("halted")).toObject();
        QCOMPARE(halted.value(QStringLiteral("wave")).toInt(), 1);
        QCOMPARE(halted.value(QStringLiteral("notStarted")).toInt(), 3);
        QVERIFY2(r.err.contains("Halted: wave 1 of 3 failed"), r.err.constData());
    } else {
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!s.contains(QStringLiteral("halted")));
    }
}

void TallowCtlE2E::interruptBetweenWaves_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("net"); ///< the fleet's addresses
    QTest::newRow("upgrade") << QStringLiteral("upgrade") << 36550 << QStringLiteral("127.0.176.");
    QTest::newRow("logo burn") << QStringLiteral("logo") << 36560 << QStringLiteral("127.0.177.");
}

void TallowCtlE2E::interruptBetweenWaves()
{
    QFETCH(QString, command);
    QFETCH(int, port);
    QFETCH(QString, net);
    // Waves of 1 and 2; the first wave's device takes seconds, so the interrupt comes while it is under
    // way and the second wave has not started. The others passed their check ("Ready") and got nothing.
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(net + QString::number(10 + i), i, kNvr,
                              {{QStringLiteral("upgradeMs"), i == 0 ? 4000 : 300}}));
    QVERIFY(startFleet(devices, port));
    QStringList args;
    if (command == QLatin1String("upgrade")) {
        args << QStringLiteral("upgrade") << QStringLiteral("-p") << makePackage(kNvr, 64 * 1024);
    } else {
        const QString boot = m_tmp->filePath(QStringLiteral("boot.jpg"));
        QVERIFY(logotest::writeFile(boot, logotest::makeJpeg(320, 240)));
        args << QStringLiteral("logo") << QStringLiteral("burn") << QStringLiteral("--logo-boot") << boot;
    }
    args << QStringLiteral("--search-time") << QStringLiteral("1000") << QStringLiteral("--spacing-ms")
         << QStringLiteral("0") << QStringLiteral("--waves") << QStringLiteral("1")
         << QStringLiteral("--wave-first") << QStringLiteral("1") << QStringLiteral("--wave-growth")
         << QStringLiteral("x2");
    QProcess *p = startCtl(args);
    QVERIFY(p->waitForStarted(10000));
    QByteArray out;
    QDeadlineTimer deadline(60000);
    while (!out.contains("Progress") && !deadline.hasExpired() && p->state() == QProcess::Running) {
        p->waitForReadyRead(200);
        out += p->readAllStandardOutput();
    }
    QVERIFY2(out.contains("Progress"), p->readAllStandardError().constData());
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(120000));
    out += p->readAllStandardOutput();
    const QByteArray err = p->readAllStandardError();
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 130);
    const CtlResult r = parseOutput(out);
    QVERIFY(r.allJson);
    const QJsonObject s = r.summary();
    qInfo().noquote() << QJsonDocument(s).toJson(QJsonDocument::Compact);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject d = r.result(net + QString::number(10 + i));
        const QString mac = d.value(QStringLiteral("mac")).toString();
        if (i == 0) {
            QCOMPARE(m_fleet->count(mac, "upgrade"), 1); // its wave was under way
        } else {
            // Checked, never burnt: that is no success.
            QCOMPARE(m_fleet->count(mac, "upgrade"), 0);
            QCOMPARE(d.value(QStringLiteral("text")).toString(), QStringLiteral("Not started: interrupted"));
            QCOMPARE(d.value(QStringLiteral("outcome")).toString(), QStringLiteral("failure"));
        }
    }
    QVERIFY2(s.value(QStringLiteral("succeeded")).toInt() <= 1, err.constData());
}
