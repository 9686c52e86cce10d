#pragma once

// Runs the device simulator (TALLOW_DEVSIM) for one test on the test's own loopback addresses and
// ports, in a state directory of its own, and reads back what the devices got. The simulator is
// stopped when the fixture goes.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>

#include <signal.h>

struct DevsimOptions {
    QString fleetFile;     ///< --fleet FILE, or
    int count = 0;         ///< --count N (devsim's own fleet)
    QString baseIp;        ///< --base-ip, when given
    int port = 0;          ///< TCP port of every device
    int searchPort = 0;    ///< UDP search port
    int recordsPort = -1;  ///< --records-port when >= 0 (0: a free port); start then needs the service up
    QStringList extraArgs; ///< further options (--link-mbps N, ...)
};

class DevsimFleet
{
public:
    ~DevsimFleet() { stop(); }

    bool start(const DevsimOptions &o)
    {
        const QString devsim = qEnvironmentVariable("TALLOW_DEVSIM");
        if (devsim.isEmpty())
            return fail(QStringLiteral("TALLOW_DEVSIM is not set (run through ctest)"));
        if (!m_dir.isValid() || !QDir().mkpath(stateDir()))
            return fail(QStringLiteral("no state directory"));
        if (o.extraArgs.contains(QStringLiteral("--onvif")) && !privateNet())
            return false;
        QStringList args;
        if (!o.fleetFile.isEmpty())
            args << QStringLiteral("--fleet") << o.fleetFile;
        if (o.count > 0)
            args << QStringLiteral("--count") << QString::number(o.count);
        if (!o.baseIp.isEmpty())
            args << QStringLiteral("--base-ip") << o.baseIp;
        args << QStringLiteral("--state") << stateDir() << QStringLiteral("--port") << QString::number(o.port)
             << QStringLiteral("--search-port") << QString::number(o.searchPort);
        if (o.recordsPort >= 0)
            args << QStringLiteral("--records-port") << QString::number(o.recordsPort);
        args << o.extraArgs;

        m_output.clear();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(devsim, args);
        if (!m_process.waitForStarted(5000))
            return fail(m_process.errorString());
        const QDeadlineTimer deadline(60000); // a large fleet may derive its login keys first
        while (!isReady()) {
            if (m_process.state() != QProcess::Running)
                return fail(QStringLiteral("devsim exited"));
            if (deadline.hasExpired())
                return fail(QStringLiteral("devsim did not get ready"));
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        if (o.recordsPort >= 0 && recordsPort() <= 0)
            return fail(QStringLiteral("devsim runs without the record service"));
        return true;
    }

    /// Starts devsim with `devices` (fleet-file entries).
    bool start(const QJsonArray &devices, int port, int searchPort, int recordsPort = -1,
               const QStringList &extraArgs = QStringList())
    {
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary directory"));
        DevsimOptions o;
        o.fleetFile = m_dir.filePath(QStringLiteral("fleet.json"));
        QFile fleet(o.fleetFile);
        const bool onvif = std::any_of(devices.begin(), devices.end(), [](const QJsonValue &d) {
            return d.toObject().value(QStringLiteral("protocol")).toString(QStringLiteral("sdk")) !=
                   QLatin1String("sdk");
        });
        if (onvif && !privateNet())
            return false;
        if (!fleet.open(QIODevice::WriteOnly) ||
            fleet.write(QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices}}).toJson()) < 0)
            return fail(QStringLiteral("cannot write the fleet file"));
        fleet.close();
        o.port = port;
        o.searchPort = searchPort;
        o.recordsPort = recordsPort;
        o.extraArgs = extraArgs;
        return start(o);
    }

    /// Starts devsim's own fleet of `count` devices from `baseIp`.
    bool startCount(int count, const QString &baseIp, int port, int searchPort, int recordsPort = -1)
    {
        DevsimOptions o;
        o.count = count;
        o.baseIp = baseIp;
        o.port = port;
        o.searchPort = searchPort;
        o.recordsPort = recordsPort;
        return start(o);
    }

    /// WS-Discovery's port is the same for every test on the machine: simulated cameras outside a
    /// namespace of their own would answer the searches of the tests running beside this one.
    bool privateNet()
    {
        if (!qEnvironmentVariableIsEmpty("TALLOW_PRIVATE_NET"))
            return true;
        return fail(QStringLiteral("ONVIF devices need a network namespace of their own: give the test "
                                   "PRIVATE_NET (tests/support/in-private-net.sh)"));
    }

    /// Why start() failed, with what devsim printed so far.
    QString error() const { return m_error; }

    /// What devsim printed; waits up to `waitMs` for more first.
    QByteArray output(int waitMs = 0)
    {
        m_process.waitForReadyRead(waitMs);
        m_output += m_process.readAllStandardOutput();
        return m_output;
    }

    /// Sends `signal` and waits; devsim's exit code, or -1 when it crashed or had to be killed.
    int stop(int signal = SIGTERM)
    {
        if (m_process.state() == QProcess::NotRunning)
            return -1;
        ::kill(pid_t(m_process.processId()), signal);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    /// The factory-record service ("records https://127.0.0.1:PORT ca=FILE"), when it runs.
    int recordsPort() const { return recordsMatch().captured(1).toInt(); }
    QString recordsCaFile() const { return recordsMatch().captured(2); }

    QString stateDir() const { return m_dir.filePath(QStringLiteral("state")); }
    /// The directory of the device with this MAC ("00:12:34:56:78:9a").
    QString deviceDir(const QString &mac) const
    {
        return stateDir() + QLatin1Char('/') + QString(mac).remove(QLatin1Char(':')).toLower();
    }
    QJsonObject state(const QString &mac) const
    {
        QFile f(deviceDir(mac) + QStringLiteral("/state.json"));
        if (!f.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    /// How often the device saw `what` ("login", "reboot", ...); -1 when its state cannot be read.
    int count(const QString &mac, const char *what) const
    {
        return state(mac).value(QStringLiteral("counts")).toObject().value(QLatin1String(what)).toInt(-1);
    }
    QByteArray file(const QString &mac, const QString &name) const
    {
        QFile f(deviceDir(mac) + QLatin1Char('/') + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool hasFile(const QString &mac, const QString &name) const
    {
        return QFile::exists(deviceDir(mac) + QLatin1Char('/') + name);
    }

private:
    bool isReady() const { return m_output.startsWith("ready ") || m_output.contains("\nready "); }

    QRegularExpressionMatch recordsMatch() const
    {
        static const QRegularExpression re(QStringLiteral("(?:^|\\n)records https://[^:]+:(\\d+) ca=(\\S+)"));
        return re.match(QString::fromLocal8Bit(m_output));
    }

    bool fail(const QString &why)
    {
        m_error = why + QStringLiteral(": ") + QString::fromLocal8Bit(m_output);
        stop();
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    QString m_error;
};
