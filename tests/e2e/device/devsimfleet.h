#pragma once

// Starts the device simulator on a fleet of the test's own and reads back what the devices got.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

class DevsimFleet
{
public:
    ~DevsimFleet() { stop(); }

    /// Starts devsim with `devices` (fleet-file entries) on TCP `port` and UDP `searchPort`.
    bool start(const QJsonArray &devices, int port, int searchPort)
    {
        const QString devsim = qEnvironmentVariable("TALLOW_DEVSIM");
        if (devsim.isEmpty() || !m_dir.isValid())
            return false;
        QFile fleet(m_dir.filePath(QStringLiteral("fleet.json")));
        if (!fleet.open(QIODevice::WriteOnly))
            return false;
        fleet.write(QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices}}).toJson());
        fleet.close();
        return run({QStringLiteral("--fleet"), fleet.fileName()}, port, searchPort);
    }

    /// Starts devsim's own fleet of `count` devices from `baseIp`.
    bool startCount(int count, const QString &baseIp, int port, int searchPort)
    {
        if (qEnvironmentVariable("TALLOW_DEVSIM").isEmpty() || !m_dir.isValid())
            return false;
        return run({QStringLiteral("--count"), QString::number(count), QStringLiteral("--base-ip"), baseIp}, port,
                   searchPort);
    }

private:
    bool run(QStringList args, int port, int searchPort)
    {
        QDir().mkpath(stateDir());
        args << QStringLiteral("--state") << stateDir() << QStringLiteral("--port") << QString::number(port)
             << QStringLiteral("--search-port") << QString::number(searchPort);
        const QString devsim = qEnvironmentVariable("TALLOW_DEVSIM");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(devsim, args);
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        for (int i = 0; i < 100 && !out.contains("ready "); ++i) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
            if (m_process.state() != QProcess::Running)
                return false;
        }
        return out.contains("ready ");
    }

public:
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }

    QString stateDir() const { return m_dir.filePath(QStringLiteral("state")); }
    QJsonObject state(const QString &mac) const
    {
        QFile f(stateDir() + QLatin1Char('/') + QString(mac).remove(QLatin1Char(':')).toLower() +
                QStringLiteral("/state.json"));
        if (!f.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    int count(const QString &mac, const char *what) const
    {
        return state(mac).value(QStringLiteral("counts")).toObject().value(QLatin1String(what)).toInt(-1);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
