#pragma once

// Starts the device simulator for a test and stops it at the end; the test's own loopback address
// and ports keep parallel tests apart.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdlib>

class DevsimProcess
{
public:
    ~DevsimProcess() { stop(); }

    bool start(const QString &stateDir, const QString &baseIp, int port, int searchPort, QString *error,
               const QStringList &extra = {QStringLiteral("--count"), QStringLiteral("1")})
    {
        const char *exe = std::getenv("TALLOW_DEVSIM");
        if (!exe || !*exe) {
            *error = QStringLiteral("TALLOW_DEVSIM is not set");
            return false;
        }
        QStringList args = extra;
        args << "--base-ip" << baseIp << "--port" << QString::number(port) << "--search-port"
             << QString::number(searchPort) << "--records-port"
             << "0"
             << "--state" << stateDir;
        m_process.setProgram(QFile::decodeName(exe));
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *error = m_process.errorString();
            return false;
        }
        QByteArray out;
        while (!out.contains("ready ")) {
            if (!m_process.waitForReadyRead(10000)) {
                *error = QStringLiteral("devsim did not get ready: ") + QString::fromUtf8(out);
                return false;
            }
            out += m_process.readAllStandardOutput();
        }
        m_output = QString::fromUtf8(out);
        const auto m = QRegularExpression(QStringLiteral("records https://127\\.0\\.0\\.1:(\\d+) ca=(\\S+)"))
                           .match(m_output);
        if (!m.hasMatch()) {
            *error = QStringLiteral("devsim runs without the record service: ") + m_output;
            return false;
        }
        recordsPort = m.captured(1).toInt();
        caFile = m.captured(2);
        return true;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }

    const QString &output() const { return m_output; }

    int recordsPort = 0;
    QString caFile;

private:
    QProcess m_process;
    QString m_output;
};
