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
#include <QTest>

class DevsimFleet
{
public:
    ~DevsimFleet() { stop(); }

    /// Starts devsim with `devices` (fleet-file entries) on TCP `port` and UDP `searchPort`.
    bool start(const QJsonArray &devices, int port, int searchPort, int recordsPort = -1)
    {
        const QString devsim = qEnvironmentVariable("TALLOW_DEVSIM");
        if (devsim.isEmpty() || !m_dir.isValid())
            return false;
        QFile fleet(m_dir.filePath(QStringLiteral("fleet.json")));
        if (!fleet.open(QIODevice::WriteOnly))
            return false;
        fleet.write(QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices}}).toJson());
        fleet.close();
        QDir().mkpath(stateDir());
        QStringList args{QStringLiteral("--fleet"),       fleet.fileName(),
                         QStringLiteral("--state"),       stateDir(),
                         QStringLiteral("--port"),        QString::number(port),
                         QStringLiteral("--search-port"), QString::number(searchPort)};
        if (recordsPort > 0)
            args << QStringLiteral("--records-port") << QString::number(recordsPort);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(devsim, args);
        if (!m_process.waitForStarted(5000))
            return false;
        m_output.clear();
        for (int i = 0; i < 100 && !m_output.contains("ready "); ++i) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
            if (m_process.state() != QProcess::Running)
                return false;
        }
        return m_output.contains("ready ");
    }

    /// The CA certificate of the factory-record service ("records https://... ca=FILE").
    QString recordsCaFile() const
    {
        for (const QByteArray &line : m_output.split('\n')) {
            const int at = line.indexOf(" ca=");
            if (line.startsWith("records ") && at > 0)
                return QString::fromLocal8Bit(line.mid(at + 4).trimmed());
        }
        return QString();
    }

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
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
};
