#include "factoryrecords.h"

#include "device/stationmac.h"
#include "oemidcipher.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/statvfs.h>
#include <unistd.h>

namespace
{

QString dateText(const QDate &d)
{
    return QString::asprintf("%04d-%02d-%02d", d.year(), d.month(), d.day());
}

QString noColons(QString s)
{
    return s.remove(QLatin1Char(':'));
}

} // namespace

FactoryRecords::FactoryRecords(Params params) : m_params(std::move(params))
{
    if (!m_params.clock)
        m_params.clock = [] { return QDateTime::currentDateTime(); };
    if (!m_params.stationMac)
        m_params.stationMac = [] { return StationMac::lookUp(); };
}

QString FactoryRecords::rootDir() const
{
    return m_params.appDir + QStringLiteral("/oemidupload");
}
QString FactoryRecords::unuploadDir() const
{
    return rootDir() + QStringLiteral("/unupload");
}
QString FactoryRecords::uploadDir() const
{
    return rootDir() + QStringLiteral("/upload");
}
QString FactoryRecords::failedFile() const
{
    return unuploadDir() + QStringLiteral("/failed.log");
}
QString FactoryRecords::rejectedFile() const
{
    return rootDir() + QStringLiteral("/rejected.log");
}

QString FactoryRecords::dayFile(const QDate &date, const QString &stationMac) const
{
    return unuploadDir() + QLatin1Char('/') + noColons(stationMac) + dateText(date) + QStringLiteral(".log");
}

QString FactoryRecords::archiveFile(const QDate &date, const QString &stationMac) const
{
    return uploadDir() + QLatin1Char('/') + noColons(stationMac) + dateText(date) + QStringLiteral(".log");
}

QDateTime FactoryRecords::now() const
{
    return m_params.clock();
}
QString FactoryRecords::stationMacNoColons() const
{
    return noColons(m_params.stationMac());
}

bool FactoryRecords::makeUploadDirs(QString *error) const
{
    const QStringList dirs{rootDir(), unuploadDir(), uploadDir()};
    for (const QString &d : dirs)
        if (QFileInfo::exists(d))
            return true;
    QDir dir;
    for (const QString &d : dirs) {
        if (!dir.mkdir(d)) {
            if (error)
                *error = tr("Cannot create the folder %1").arg(QDir::toNativeSeparators(d));
            return false;
        }
    }
    return true;
}

QString FactoryRecords::burnTimeText(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime c = t.time();
    return QString::asprintf("%04d-%02d-%02d %02d-%02d-%02d", d.year(), d.month(), d.day(), c.hour(),
                             c.minute(), c.second());
}

QString FactoryRecords::hash8(const QByteArray &bytes)
{
    return QString::fromLatin1(oemid::hash8(bytes.toStdString()).c_str());
}

QString FactoryRecords::makeCheckCode(const QString &serial, const QString &pcMac, const QString &oemid,
                                      const QTime &burn)
{
    return QString::fromLatin1(
        oemid::makeCheckCode(serial.toLatin1().toStdString(), pcMac.toLatin1().toStdString(),
                             oemid.toLatin1().toStdString(), burn.hour(), burn.minute(), burn.second())
            .c_str());
}

QString FactoryRecords::recordLine(const QString &serial, const QString &devMac, const QString &oemid,
                                   const QDateTime &burn, const QString &pcMac)
{
    const QString pc = noColons(pcMac);
    return QStringList{serial, noColons(devMac),
                       oemid,  burnTimeText(burn),
                       pc,     makeCheckCode(serial, pc, oemid, burn.time())}
        .join(QLatin1Char(','));
}

FactoryRecords::WriteResult FactoryRecords::appendLines(const QString &path, const QStringList &lines,
                                                        const Writer &write)
{
    WriteResult r;
    r.path = path;
    QFile f(path);
    // Unbuffered: bytes that did not reach the file must not stay in a buffer that close() would
    // try again after the cut.
    const QIODevice::OpenMode append = QIODevice::Append | QIODevice::Unbuffered;
    // A file we may write but not read still takes the lines, without the look at its end.
    const bool readable = f.open(QIODevice::ReadWrite | append);
    if (!readable && !f.open(QIODevice::WriteOnly | append)) {
        r.ok = false;
        r.fileError = f.error();
        r.detail = f.errorString();
        return r;
    }
    const qint64 before = f.size();
    QByteArray data;
    char last = '\n';
    if (readable && before > 0 && (!f.seek(before - 1) || !f.getChar(&last)))
        last = '\n'; // unreadable end: leave it as it is
    if (last != '\n')
        data = "\r\n";
    for (const QString &l : lines)
        data += l.toUtf8() + "\r\n";
    errno = 0;
    const qint64 put = write ? write(f, data) : f.write(data);
    // A short write sets no error on the QFile; the system's reason is in errno.
    int reason = errno;
    bool written = put == data.size();
    if (written && ::fsync(f.handle()) != 0) {
        written = false;
        reason = errno;
    }
    if (!written) {
        r.ok = false;
        r.fileError = f.error() != QFileDevice::NoError ? f.error() : QFileDevice::WriteError;
        r.detail = f.error() != QFileDevice::NoError ? f.errorString()
                   : reason != 0                     ? QString::fromLocal8Bit(std::strerror(reason))
                                                     : QStringLiteral("short write");
        // Whatever part of the lines got in goes again: a half line would swallow the next record.
        if (::ftruncate(f.handle(), before) != 0 || ::fsync(f.handle()) != 0)
            r.detail +=
                QStringLiteral("; cutting back failed: ") + QString::fromLocal8Bit(std::strerror(errno));
    }
    f.close();
    return r;
}

bool FactoryRecords::isRecordLine(const QString &line)
{
    return line.count(QLatin1Char(',')) == kRecordFields - 1;
}

std::mutex &FactoryRecords::unuploadLock()
{
    static std::mutex lock;
    return lock;
}

QString FactoryRecords::recordFieldProblem(const QString &serial, const QString &devMac, const QString &oemid,
                                           const QString &pcMac)
{
    const auto breaks = [](const QString &s) {
        return s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
    };
    if (breaks(serial))
        return tr("The serial number holds a comma or a line break; no factory record can carry it");
    if (breaks(devMac))
        return tr("The device MAC holds a comma or a line break; no factory record can carry it");
    if (breaks(oemid))
        return tr("The OEMID holds a comma or a line break; no factory record can carry it");
    if (breaks(pcMac))
        return tr("The station MAC holds a comma or a line break; no factory record can carry it");
    return QString();
}

FactoryRecords::WriteResult FactoryRecords::writeFactoryRecord(const QString &serial, const QString &devMac,
                                                               const QString &oemid) const
{
    const QString pcMac = m_params.stationMac();
    const QDateTime t = now();
    const QString problem = recordFieldProblem(serial, devMac, oemid, pcMac);
    if (!problem.isEmpty()) {
        WriteResult refused;
        refused.ok = false;
        refused.message = problem;
        return refused;
    }
    std::lock_guard<std::mutex> files(unuploadLock());
    QList<HeldRecord> &held = heldRecords(unuploadDir());
    held.append({dayFile(t.date(), pcMac), recordLine(serial, devMac, oemid, t, pcMac)});
    WriteResult r = writeHeld(held);
    if (!r.ok) {
        r.message = tr("Creat logfile Failed");
        r.stopped = stoppedText(r.detail);
    }
    return r;
}

QString FactoryRecords::stoppedText(const QString &reason)
{
    return tr("OEMID writing stopped: factory records cannot be saved (%1)").arg(reason);
}

QList<FactoryRecords::HeldRecord> &FactoryRecords::heldRecords(const QString &unuploadDir)
{
    // Per record tree, across the tabs of the process; only touched under unuploadLock().
    struct Held {
        std::map<QString, QList<HeldRecord>> trees;
        // The process ends with records still unsaved: the last place left to show them is stderr.
        ~Held()
        {
            for (const auto &tree : trees)
                for (const HeldRecord &h : tree.second)
                    std::fprintf(stderr, "Tallow: factory record not saved (for %s): %s\n",
                                 QFile::encodeName(h.path).constData(), h.line.toUtf8().constData());
        }
    };
    static Held held;
    return held.trees[QDir::cleanPath(QDir(unuploadDir).absolutePath())];
}

FactoryRecords::WriteResult FactoryRecords::writeHeld(QList<HeldRecord> &held) const
{
    WriteResult r;
    while (!held.isEmpty()) {
        // One append per day file, oldest first: a failure keeps them all, in order.
        const QString path = held.first().path;
        QStringList lines;
        for (const HeldRecord &h : held)
            if (h.path == path)
                lines.append(h.line);
        r = appendLines(path, lines, m_params.write);
        if (!r.ok)
            return r;
        held.erase(
            std::remove_if(held.begin(), held.end(), [&path](const HeldRecord &h) { return h.path == path; }),
            held.end());
    }
    return r;
}

FactoryRecords::WriteResult FactoryRecords::writeHeldRecords() const
{
    std::lock_guard<std::mutex> files(unuploadLock());
    QList<HeldRecord> &held = heldRecords(unuploadDir());
    const int count = int(held.size());
    WriteResult r = writeHeld(held);
    if (!r.ok)
        r.message = tr("OEMID not written: %1 factory records cannot be saved (%2); free space for them")
                        .arg(count)
                        .arg(r.detail);
    return r;
}

FactoryRecords::WriteResult FactoryRecords::readyForRecord() const
{
    WriteResult r = writeHeldRecords();
    if (!r.ok)
        return r;
    // A disk that is already full would take the OEMID but not its record: better not to start.
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(unuploadDir()).constData(), &fs) == 0) {
        const qint64 free = qint64(fs.f_bavail) * qint64(fs.f_frsize);
        if (free < kMinFreeBytes) {
            r.ok = false;
            r.path = unuploadDir();
            r.detail = QString::fromLocal8Bit(std::strerror(ENOSPC));
            r.message = tr("OEMID not written: no room for factory records in %1 (%2 bytes free); free space "
                           "for them")
                            .arg(QDir::toNativeSeparators(unuploadDir()))
                            .arg(free);
        }
    }
    return r;
}

int FactoryRecords::heldRecordCount() const
{
    std::lock_guard<std::mutex> files(unuploadLock());
    return int(heldRecords(unuploadDir()).size());
}

FactoryRecords::WriteResult FactoryRecords::writeArchive(const QStringList &lines) const
{
    WriteResult r = appendLines(archiveFile(now().date(), m_params.stationMac()), lines);
    if (!r.ok)
        r.message = tr("create upload successful file failed");
    return r;
}

FactoryRecords::WriteResult FactoryRecords::writeFailed(const QStringList &lines) const
{
    WriteResult r = appendLines(failedFile(), lines);
    if (!r.ok)
        r.message = tr("create upload unsuccessful file failed");
    return r;
}

FactoryRecords::WriteResult FactoryRecords::writeRejected(const QStringList &lines) const
{
    WriteResult r = appendLines(rejectedFile(), lines);
    if (!r.ok)
        r.message = tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(rejectedFile()), r.detail);
    return r;
}

bool FactoryRecords::readLines(const QString &path, QStringList *lines, QString *error)
{
    lines->clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QByteArray all = f.readAll();
    for (QByteArray l : all.split('\n')) {
        if (l.endsWith('\r'))
            l.chop(1);
        lines->append(QString::fromUtf8(l));
    }
    if (!lines->isEmpty() && lines->last().isEmpty())
        lines->removeLast();
    return true;
}
