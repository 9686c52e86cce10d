#include "recorduploader.h"

#include "app/configkeys.h"
#include "compactjson.h"
#include "httpsclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace
{

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
    // Like every file Tallow reads, a relative CA file lives beside the executable, whatever the
    // working directory is.
    m_params.caFile = ConfigKeys::inApplicationDir(m_params.caFile);
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

namespace
{

struct ReadFile {
    QString name;
    qint64 size = 0; ///< bytes read; the file may have grown since
    QStringList lines;
};

// After the run has filed what it read of `path`: records appended since the read stay in the file,
// the rest goes. Called with the unupload lock held, so no append can come between.
bool dropWhatWasRead(const QString &path, qint64 readSize)
{
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (info.size() == readSize)
        return QFile::remove(path);
    if (info.size() < readSize)
        return false; // changed behind our back: leave it to a person rather than guess
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(readSize))
        return false;
    const QByteArray tail = f.readAll();
    f.close();
    const QString tmp = path + QStringLiteral(".tail");
    QFile::remove(tmp);
    QFile t(tmp);
    if (!t.open(QIODevice::WriteOnly) || t.write(tail) != tail.size() || !t.flush() ||
        ::fsync(t.handle()) != 0) {
        t.close();
        QFile::remove(tmp);
        return false;
    }
    t.close();
    return std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) == 0;
}

} // namespace

RecordUploader::Reply RecordUploader::readReply(const QByteArray &text)
{
    Reply reply;
    const int brace = text.indexOf('{');
    if (brace < 0) {
        reply.kind = Reply::Unusable;
        return reply;
    }
    Json::Value root;
    if (!parseJson(text.constData() + brace, text.constData() + text.size(), &root)) {
        reply.kind = Reply::NotJson;
        return reply;
    }
    const Json::Value ret = root.isObject() ? root["ret"] : Json::Value();
    if (!ret.isConvertibleTo(Json::intValue) || ret.isString()) {
        reply.kind = Reply::Unusable;
        return reply;
    }
    reply.kind = Reply::Code;
    reply.integral = ret.isIntegral();
    reply.ret = ret.asInt();
    return reply;
}

UploadOutcome RecordUploader::uploadRecords(UploadObserver *observer)
{
    UploadObserver none;
    UploadObserver *obs = observer ? observer : &none;
    const OemidVariant &v = m_params.variant;
    UploadOutcome out;

    // Two runs over the same files would send and file each record twice. The second is refused, not
    // queued: a tab's run may be waiting in a message box of the first on the same thread.
    static std::mutex runLock;
    std::unique_lock<std::mutex> oneRun(runLock, std::try_to_lock);
    if (!oneRun.owns_lock()) {
        out.end = UploadOutcome::End::Busy;
        obs->message(QStringLiteral("Tips"),
                     tr("Another upload of factory records is running; try again when it "
                        "has ended."));
        return out;
    }

    QDir dir(m_records.unuploadDir());
    if (m_params.host.trimmed().isEmpty()) {
        const bool any = dir.exists() && !dir.entryList({QStringLiteral("*.log")}, QDir::Files).isEmpty();
        out.end = any ? UploadOutcome::End::NotConfigured : UploadOutcome::End::Empty;
        if (any)
            obs->message(
                QStringLiteral("Tips"),
                tr("The factory-record service is not configured: set Host in the [Upload] section of "
                   "Config.ini."));
        else
            obs->message(v.aboutTitle, tr("the dir is empty"));
        return out;
    }

    // Read every file once, under the lock that record writers take, so each file is read up to a
    // line end and its size at that moment tells the filing what this run owns.
    QList<ReadFile> files;
    QStringList unreadable;
    {
        std::lock_guard<std::mutex> lock(FactoryRecords::unuploadLock());
        // Scratch files of a run that died while filing: what they hold is still in the files they
        // were made from.
        if (dir.exists())
            for (const QString &stale :
                 dir.entryList({QStringLiteral("*.tail"), QStringLiteral("*.new")}, QDir::Files))
                dir.remove(stale);
        const QStringList names =
            dir.exists() ? dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name) : QStringList();
        for (const QString &name : names) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) {
                unreadable.append(name);
                continue;
            }
            ReadFile r;
            r.name = name;
            const QByteArray all = f.readAll();
            r.size = all.size();
            for (QByteArray l : all.split('\n')) {
                if (l.endsWith('\r'))
                    l.chop(1);
                r.lines.append(QString::fromUtf8(l));
            }
            files.append(r);
        }
    }
    if (files.isEmpty() && unreadable.isEmpty()) {
        out.end = UploadOutcome::End::Empty;
        obs->message(v.aboutTitle, tr("the dir is empty"));
        return out;
    }
    // Kept in place: their records were not read, so a later run sends them.
    for (int i = 0; i < unreadable.size(); ++i)
        obs->message(v.openTitle, tr("uploadfile open failed"));
    for (const ReadFile &f : files)
        for (const QString &l : f.lines)
            out.total += l.isEmpty() ? 0 : 1;

    HttpsClient::Options opts;
    opts.caFile = QFile::encodeName(m_params.caFile).toStdString();
    opts.connectTimeoutMs = m_params.connectTimeoutMs;
    opts.requestTimeoutMs = m_params.requestTimeoutMs;
    opts.cancelled = m_params.cancelled;
    HttpsClient client(opts);
    // Without trust no record can be sent; say why once, in the summary, rather than per record.
    QString trustProblem;
    std::string trustError;
    if (!client.loadTrust(&trustError))
        trustProblem =
            m_params.caFile.isEmpty()
                ? tr("The system's CA certificates cannot be loaded, so no record could be sent.")
                : tr("The CA file %1 ([Upload] CAFile) cannot be loaded, so no record could be sent.")
                      .arg(QDir::toNativeSeparators(m_params.caFile));
    const std::string host = m_params.host.trimmed().toStdString();
    QStringList loadedLines, failedLines, rejectedLines;
    QByteArray response(2560, '\0');

    // Nothing is filed before the end of the run, so a run that stops leaves every record where it was.
    const auto cancelled = [this] { return m_params.cancelled && m_params.cancelled(); };
    for (const ReadFile &file : files) {
        for (const QString &line : file.lines) {
            if (line.isEmpty())
                continue;
            if (cancelled()) {
                out.end = UploadOutcome::End::Cancelled;
                return out;
            }
            if (!FactoryRecords::isRecordLine(line)) {
                // Not a record (a line cut short, or two run together): sending its first fields would
                // only be refused, and retrying it for ever would hide it. Kept aside for a person.
                ++out.failed;
                rejectedLines.append(line);
                obs->progress(out.loaded + out.failed, out.total);
                continue;
            }
            const QStringList fields = line.split(QLatin1Char(','));
            if (!trustProblem.isEmpty()) {
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
            if (rc == HttpsClient::kCancelled) {
                out.end = UploadOutcome::End::Cancelled;
                return out;
            }
            if (rc == HttpsClient::kTimedOut) {
                // A service that does not answer in time will not answer the next record either.
                out.end = UploadOutcome::End::NetFailed;
                obs->message(v.netTitle,
                             tr("net is failed") + QLatin1Char('\n') +
                                 tr("The factory-record service did not answer within %1 s; every record "
                                    "stays for the next run.")
                                     .arg((m_params.requestTimeoutMs + 999) / 1000));
                return out;
            }
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
            const Reply reply = readReply(response.left(len));
            if (reply.kind == Reply::Unusable) {
                out.end = UploadOutcome::End::UploadError;
                obs->message(v.errorTitle, tr("upload error"));
                return out;
            }
            bool accepted = false;
            if (reply.kind == Reply::Code) {
                accepted = reply.integral && v.acceptedRets.contains(reply.ret);
                if (!accepted && v.errorLog) {
                    QFile log(errorLogFile(m_params.appDir));
                    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
                        log.write(errorLogLine(m_records.now(), fields.at(0), reply.ret));
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

    // File the records. The archive and the failed records reach the disk before anything read is
    // dropped, and the lock keeps record writers out, so an append made during the run stays.
    QStringList problems;
    {
        std::lock_guard<std::mutex> lock(FactoryRecords::unuploadLock());
        bool safe = true;
        const FactoryRecords::WriteResult archived = m_records.writeArchive(loadedLines);
        if (!archived.ok) {
            safe = false;
            problems.append(archived.message);
        } else {
            obs->step(UploadObserver::Step::ArchiveWritten);
        }
        if (safe && !rejectedLines.isEmpty()) {
            const FactoryRecords::WriteResult rejected = m_records.writeRejected(rejectedLines);
            if (!rejected.ok) {
                safe = false;
                problems.append(rejected.message);
            }
        }
        const QString failed = m_records.failedFile();
        bool oldFailedRead = !QFile::exists(failed);
        for (const ReadFile &f : files)
            oldFailedRead = oldFailedRead || f.name == QLatin1String("failed.log");
        // Not a ".log": until it is renamed into place, no run lists it, and what it holds is still in
        // the files read.
        const QString fresh = failed + QStringLiteral(".new");
        if (safe && !failedLines.isEmpty()) {
            QFile::remove(fresh);
            if (!FactoryRecords::appendLines(fresh, failedLines).ok) {
                safe = false;
                QFile::remove(fresh);
                problems.append(tr("create upload unsuccessful file failed"));
            } else {
                obs->step(UploadObserver::Step::FailedWritten);
            }
        }
        if (safe) {
            // An unreadable "failed.log" keeps its records; this run's failures go beside it.
            const QString target =
                oldFailedRead
                    ? failed
                    : dir.filePath(QStringLiteral("failed-%1.log")
                                       .arg(m_records.now().toString(QStringLiteral("yyyyMMdd-hhmmsszzz"))));
            if (!failedLines.isEmpty()) {
                if (std::rename(QFile::encodeName(fresh).constData(),
                                QFile::encodeName(target).constData()) != 0) {
                    safe = false;
                    problems.append(tr("create upload unsuccessful file failed"));
                }
            } else if (oldFailedRead) {
                QFile::remove(failed);
            }
            if (safe)
                obs->step(UploadObserver::Step::FailedReplaced);
        }
        if (safe) {
            for (const ReadFile &f : files) {
                if (f.name == QLatin1String("failed.log"))
                    continue;
                dropWhatWasRead(dir.filePath(f.name), f.size);
                obs->step(UploadObserver::Step::DayFileRemoved);
            }
            syncDir(dir.path());
            out.filed = true;
        }
    }
    for (const QString &p : problems)
        obs->message(v.fileTitle, p);

    out.rejected = int(rejectedLines.size());
    out.summary = summaryText(out.loaded, out.failed, out.total);
    QString summary = out.summary;
    if (out.rejected > 0)
        summary += QLatin1Char('\n') +
                   (out.filed ? tr("%1 lines are no factory records (a record has six fields): not sent, "
                                   "moved to %2.")
                                    .arg(out.rejected)
                                    .arg(QDir::toNativeSeparators(m_records.rejectedFile()))
                              : tr("%1 lines are no factory records (a record has six fields): not sent.")
                                    .arg(out.rejected));
    if (!trustProblem.isEmpty())
        summary += QLatin1Char('\n') + trustProblem;
    obs->message(v.summaryTitle, summary);
    obs->progress(0, out.total);
    return out;
}
