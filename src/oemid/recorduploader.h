#pragma once

#include "factoryrecords.h"
#include "oemidvariant.h"

#include <QCoreApplication>
#include <QStringList>

/// What a run reports while it goes; the tab shows the progress bar and the message boxes.
/// Called on the thread that runs the upload.
class UploadObserver
{
public:
    enum class Step { ArchiveWritten, FailedWritten, DayFileRemoved, FailedReplaced };
    virtual ~UploadObserver() = default;
    virtual void progress(int done, int total)
    {
        Q_UNUSED(done)
        Q_UNUSED(total)
    }
    virtual void message(const QString &title, const QString &text)
    {
        Q_UNUSED(title)
        Q_UNUSED(text)
    }
    /// Test seam: each step of filing the records. Called while record writers are held off, so it
    /// must not write a record on its own thread.
    virtual void step(Step s) { Q_UNUSED(s) }
};

struct UploadParams {
    QString appDir;
    QString host;   ///< [Upload] Host; empty = not configured
    int port = 443; ///< [Upload] Port
    QString caFile; ///< [Upload] CAFile; empty = the system's CAs; relative = in the application directory
    OemidVariant variant;
    int connectTimeoutMs = 5000;
    int requestTimeoutMs = 10000; ///< each record's whole request: connect, handshake, send, answer
    /// Asked before each record and while a request waits; true ends the run with every record
    /// where it was (End::Cancelled, no message).
    std::function<bool()> cancelled;
    std::function<QDateTime()> clock;
    std::function<QString()> stationMac;
};

struct UploadOutcome {
    enum class End { Done, Empty, NotConfigured, NetFailed, UploadError, Busy, Cancelled };
    End end = End::Done;
    int total = 0;
    int loaded = 0;
    int failed = 0;     ///< records not accepted, rejected lines included
    int rejected = 0;   ///< lines that are no records, moved to the rejected file when filed
    bool filed = false; ///< day files replaced by the archive and "failed.log"
    QString summary;    ///< the summary text (Done only)
};

/// Sends every record of the day files to the factory-record service, one POST each, and files
/// them: accepted records into today's archive, the others into "failed.log" for the next run, and
/// lines that are no records (not exactly six fields) into the rejected file, where a person sees them.
/// Nothing is removed until the archive and the failed records are safely on disk, and records
/// appended while the run goes stay for the next run. One run at a time per process.
class RecordUploader
{
    Q_DECLARE_TR_FUNCTIONS(RecordUploader)
public:
    explicit RecordUploader(UploadParams params);

    UploadOutcome uploadRecords(UploadObserver *observer = nullptr);

    /// What the service's answer to one record says.
    struct Reply {
        enum Kind {
            Unusable, ///< no JSON object, or one whose "ret" is no number: the run ends in "upload error"
            NotJson,  ///< text from the brace on does not parse: the record counts as failed
            Code      ///< a "ret" code
        };
        Kind kind = Unusable;
        int ret = 0;
        bool integral = false; ///< only an integral code can accept a record
    };
    /// Reads the service's answer (headers and body as received; the JSON starts at the first brace).
    static Reply readReply(const QByteArray &text);

    static QByteArray requestBody(const QStringList &fields);
    static QString summaryText(int loaded, int failed, int total);
    static QByteArray errorLogLine(const QDateTime &when, const QString &serial, int ret);
    static QString errorLogFile(const QString &appDir);

    static constexpr const char *kPath = "/privateApi/putFactoryDeviceInfo";

private:
    UploadParams m_params;
    FactoryRecords m_records;
};
