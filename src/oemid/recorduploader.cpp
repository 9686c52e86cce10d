#include "recorduploader.h"

#include "compactjson.h"
#include "httpsclient.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// Written next to the day files under a ".log" name, so that a run interrupted after removing
// day files still finds their failed records on the next run; renamed onto "failed.log" last.
const char kFailedPart[] = "failed.part.log";

const char *const kMembers[6] = {"serialNumber", "devMac", "oemId", "burnTime", "pcMac", "checkCode"};

void syncDir(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

RecordUploader::RecordUploader(UploadParams params)
    : m_params(std::move(params)), m_records({m_params.appDir, m_params.clock, m_params.stationMac})
{
}

QByteArray RecordUploader::requestBody(const QStringList &fields)
{
    Json::Value v(Json::objectValue);
    for (int i = 0; i < 6; ++i)
        v[kMembers[i]] = i < fields.size() ? fields.at(i).toUtf8().toStdString() : std::string();
    return QByteArray::fromStdString(compactJson(v));
}

QString RecordUploader::summaryText(int loaded, int failed, int total)
{
    return tr("loaded") + QString::number(loaded) + tr("item") + QLatin1Char(',') + tr("failed") +
           QString::number(failed) + tr("item") + QLatin1Char(',') + tr("total") + QString::number(total) +
           tr("item");
}

QByteArray RecordUploader::errorLogLine(const QDateTime &when, const QString &serial, int ret)
{
    return when.toString(QStringLiteral("yyyy-MM-dd,hh:mm:ss.zzz")).toUtf8() + " SN:" + serial.toUtf8() +
           " Ret:" + QByteArray::number(ret) + "\r\n";
}

QString RecordUploader::errorLogFile(const QString &appDir)
{
    return appDir + QStringLiteral("/OemidUpdateErrorlog.txt");
}

UploadOutcome RecordUploader::uploadRecords(UploadObserver *observer)
{
    UploadObserver none;
    UploadObserver *obs = observer ? observer : &none;
    const OemidVariant &v = m_params.variant;
    UploadOutcome out;

    QDir dir(m_records.unuploadDir());
    const QStringList names =
        dir.exists() ? dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name) : QStringList();
    if (names.isEmpty()) {
        out.end = UploadOutcome::End::Empty;
        obs->message(v.aboutTitle, tr("the dir is empty"));
        return out;
    }
    if (m_params.host.trimmed().isEmpty()) {
        out.end = UploadOutcome::End::NotConfigured;
        obs->message(QStringLiteral("Tips"),
                     tr("The factory-record service is not configured: set Host in the [Upload] section of "
                        "Config.ini."));
        return out;
    }

    // Read every file once; its lines are what the run sends and files.
    QList<QStringList> contents;
    QStringList readNames;
    for (const QString &name : names) {
        QStringList lines;
        if (!FactoryRecords::readLines(dir.filePath(name), &lines)) {
            // Kept in place: its records were not read, so they are sent by a later run.
            obs->message(v.openTitle, tr("uploadfile open failed"));
            continue;
        }
        for (const QString &l : lines)
            out.total += l.isEmpty() ? 0 : 1;
        contents.append(lines);
        readNames.append(name);
    }

    HttpsClient::Options opts;
    opts.caFile = QFile::encodeName(m_params.caFile).toStdString();
    opts.connectTimeoutMs = m_params.connectTimeoutMs;
    opts.ioTimeoutMs = m_params.ioTimeoutMs;
    HttpsClient client(opts);
    const std::string host = m_params.host.trimmed().toStdString();
    QStringList loadedLines, failedLines;
    QByteArray response(2560, '\0');

    for (const QStringList &lines : contents) {
        for (const QString &line : lines) {
            if (line.isEmpty())
                continue;
            const QStringList fields = line.split(QLatin1Char(','));
            if (fields.size() < 6) {
                // Cannot be sent as a record; kept for a person to mend rather than dropped.
                ++out.failed;
                failedLines.append(line);
                obs->progress(out.loaded + out.failed, out.total);
                continue;
            }
            const QByteArray body = requestBody(fields);
            response.fill('\0');
            int len = response.size();
            const int rc =
                client.post(host, m_params.port, kPath, body.constData(), body.size(), response.data(), &len);
            if (rc == -2) {
                out.end = UploadOutcome::End::NetFailed;
                obs->message(v.netTitle, tr("net is failed"));
                return out;
            }
            if (rc != 0) {
                ++out.failed;
                failedLines.append(line);
                obs->progress(out.loaded + out.failed, out.total);
                continue;
            }
            const QByteArray text = response.left(len);
            const int brace = text.indexOf('{');
            if (brace < 0) {
                out.end = UploadOutcome::End::UploadError;
                obs->message(v.errorTitle, tr("upload error"));
                return out;
            }
            Json::Value reply;
            bool accepted = false;
            if (parseJson(text.constData() + brace, text.constData() + text.size(), &reply)) {
                const Json::Value ret = reply.isObject() ? reply["ret"] : Json::Value();
                if (!ret.isConvertibleTo(Json::intValue) || ret.isString()) {
                    out.end = UploadOutcome::End::UploadError;
                    obs->message(v.errorTitle, tr("upload error"));
                    return out;
                }
                accepted = ret.isIntegral() && v.acceptedRets.contains(ret.asInt());
                if (!accepted && v.errorLog) {
                    QFile log(errorLogFile(m_params.appDir));
                    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
                        log.write(errorLogLine(m_records.now(), fields.at(0), ret.asInt()));
                }
            }
            if (accepted) {
                ++out.loaded;
                loadedLines.append(line);
            } else {
                ++out.failed;
                failedLines.append(line);
            }
            obs->progress(out.loaded + out.failed, out.total);
        }
    }

    // File the records: archive and failed records on disk first, then the day files go.
    bool safe = true;
    const FactoryRecords::WriteResult archived = m_records.writeArchive(loadedLines);
    if (!archived.ok) {
        safe = false;
        obs->message(v.fileTitle, archived.message);
    } else {
        obs->step(UploadObserver::Step::ArchiveWritten);
    }
    const QString part = dir.filePath(QString::fromLatin1(kFailedPart));
    if (safe && !failedLines.isEmpty()) {
        QFile::remove(part); // if it was listed, its records are in this run's lists
        FactoryRecords::WriteResult r = FactoryRecords::appendLines(part, failedLines);
        if (!r.ok) {
            safe = false;
            QFile::remove(part);
            obs->message(v.fileTitle, tr("create upload unsuccessful file failed"));
        } else {
            obs->step(UploadObserver::Step::FailedWritten);
        }
    }
    if (safe) {
        for (const QString &name : readNames) {
            if (name == QLatin1String(kFailedPart) || name == QLatin1String("failed.log"))
                continue;
            dir.remove(name);
            obs->step(UploadObserver::Step::DayFileRemoved);
        }
        const QString failed = m_records.failedFile();
        // An unreadable old "failed.log" is left alone; the part file then stays a listed file.
        const bool oldFailedRead = readNames.contains(QStringLiteral("failed.log")) || !QFile::exists(failed);
        if (!failedLines.isEmpty()) {
            if (oldFailedRead &&
                std::rename(QFile::encodeName(part).constData(), QFile::encodeName(failed).constData()) != 0)
                obs->message(v.fileTitle, tr("create upload unsuccessful file failed"));
        } else {
            if (oldFailedRead)
                QFile::remove(failed);
            if (readNames.contains(QLatin1String(kFailedPart)))
                QFile::remove(part);
        }
        syncDir(dir.path());
        obs->step(UploadObserver::Step::FailedReplaced);
        out.filed = true;
    }

    out.summary = summaryText(out.loaded, out.failed, out.total);
    obs->message(v.summaryTitle, out.summary);
    obs->progress(0, out.total);
    return out;
}
