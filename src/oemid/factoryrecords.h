#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>

#include <functional>
#include <mutex>

/// The factory record files below the application directory:
/// "/oemidupload/unupload" (day files and "failed.log") and "/oemidupload/upload" (archives).
class FactoryRecords
{
    Q_DECLARE_TR_FUNCTIONS(FactoryRecords)
public:
    struct Params {
        QString appDir;                      ///< the tree lives below this directory
        std::function<QDateTime()> clock;    ///< local time; default: now
        std::function<QString()> stationMac; ///< default: StationMac::lookUp()
    };

    /// The outcome of a file write. `message` is the operator text for a failure.
    struct WriteResult {
        bool ok = true;
        QString path;
        QString message;
        int fileError = 0; ///< QFileDevice::FileError
        QString detail;    ///< the system's reason, for logs
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
    WriteResult writeFactoryRecord(const QString &serial, const QString &devMac, const QString &oemid) const;

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
    /// Writes `lines` to `path` (append) and flushes it to disk.
    static WriteResult appendLines(const QString &path, const QStringList &lines);

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
    Params m_params;
};
