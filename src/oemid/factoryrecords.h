#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <functional>
#include <mutex>

/// The factory record files below the application directory:
/// "/oemidupload/unupload" (day files and "failed.log") and "/oemidupload/upload" (archives).
class FactoryRecords
{
    Q_DECLARE_TR_FUNCTIONS(FactoryRecords)
public:
    /// Writes `data` to the end of the open, unbuffered `file`; the bytes written or -1. The test seam
    /// for a disk that fills up in the middle of a line; the default is QFile::write.
    using Writer = std::function<qint64(QFile &file, const QByteArray &data)>;

    struct Params {
        QString appDir;                      ///< the tree lives below this directory
        std::function<QDateTime()> clock;    ///< local time; default: now
        std::function<QString()> stationMac; ///< default: StationMac::lookUp()
        Writer write;                        ///< appends of record lines; default: QFile::write
    };

    /// The fields of a record line: serial, device MAC, OEMID, burn time, station MAC, check code.
    static constexpr int kRecordFields = 6;

    /// The outcome of a file write. `message` is the operator text for a failure.
    struct WriteResult {
        bool ok = true;
        QString path;
        QString message;
        int fileError = 0; ///< QFileDevice::FileError
        QString detail;    ///< the system's reason, for logs
        QString stopped;   ///< a record held back: the operator text saying that OEMID writing stopped
    };

    explicit FactoryRecords(Params params);

    QString rootDir() const;
    QString unuploadDir() const;
    QString uploadDir() const;
    QString failedFile() const;
    QString dayFile(const QDate &date, const QString &stationMac) const;
    QString archiveFile(const QDate &date, const QString &stationMac) const;

    /// Creates the tree when none of its three folders exists; true when the tree is usable.
    bool makeUploadDirs(QString *error = nullptr) const;

    /// Appends one record for a verified write to today's day file. A field that would break the
    /// line (see recordFieldProblem) refuses the record: nothing is written.
    ///
    /// A record that cannot be written (a full disk) leaves the day file as it was and is held in
    /// memory for this record tree, for the life of the process; `message` then says that OEMID
    /// writing has stopped. Records held from earlier failures are written first.
    WriteResult writeFactoryRecord(const QString &serial, const QString &devMac, const QString &oemid) const;

    /// Asked before every OEMID write: writes the records held after failed writes. Not ok (with the
    /// operator text in `message`) while any still cannot be written; then no OEMID may be written,
    /// since its record could not be kept either.
    WriteResult writeHeldRecords() const;
    /// Records of this tree held in memory after failed writes.
    int heldRecordCount() const;

    /// Asked before every OEMID write: writeHeldRecords(), then whether the file system of the day
    /// files has at least kMinFreeBytes free. Not ok (with the operator text in `message`) when the
    /// record of the OEMID about to be written could not be kept.
    WriteResult readyForRecord() const;
    static constexpr qint64 kMinFreeBytes = 4096;

    /// Empty when the fields can go into a record line; else why not (a ",", CR or LF would shift the
    /// fields or split the line, and a device controls its own serial).
    static QString recordFieldProblem(const QString &serial, const QString &devMac, const QString &oemid,
                                      const QString &pcMac = QString());

    /// Serialises the appends to day files with the upload's reading and filing of them, across every
    /// tab of the process. Held only for local file work, never across a network call.
    static std::mutex &unuploadLock();

    /// Append lists of record lines to today's archive file / to "failed.log"; flushed to disk
    /// before they return, so a later removal of the day files cannot lose a record.
    WriteResult writeArchive(const QStringList &lines) const;
    WriteResult writeFailed(const QStringList &lines) const;
    /// Appends lines that are no records (see isRecordLine) to rejectedFile(), flushed to disk.
    WriteResult writeRejected(const QStringList &lines) const;
    /// "/oemidupload/rejected.log": lines of the record files that are no records, kept for a person
    /// to look at. Outside "unupload", so no upload reads it.
    QString rejectedFile() const;
    /// Writes `lines` to `path` (append) and flushes it to disk. A write that fails cuts the file back
    /// to its earlier size, so no half line is left for the next append to join. A file whose last
    /// line has no end gets one first, so that the new lines start lines of their own.
    static WriteResult appendLines(const QString &path, const QStringList &lines, const Writer &write = {});

    /// Whether `line` has exactly the fields of a record; empty lines are none.
    static bool isRecordLine(const QString &line);

    /// Lines of a record file; CR LF and LF endings both accepted. False if it cannot be opened.
    static bool readLines(const QString &path, QStringList *lines, QString *error = nullptr);

    static QString recordLine(const QString &serial, const QString &devMac, const QString &oemid,
                              const QDateTime &burn, const QString &pcMac);
    static QString burnTimeText(const QDateTime &t);
    static QString hash8(const QByteArray &bytes);
    static QString makeCheckCode(const QString &serial, const QString &pcMac, const QString &oemid,
                                 const QTime &burn);

    QDateTime now() const;
    QString stationMacNoColons() const;

private:
    struct HeldRecord {
        QString path; ///< the day file it belongs to
        QString line;
    };
    static QList<HeldRecord> &heldRecords(const QString &unuploadDir);
    /// Appends the held records to their day files; those written leave the list. Lock held.
    WriteResult writeHeld(QList<HeldRecord> &held) const;
    static QString stoppedText(const QString &reason);

    Params m_params;
};
