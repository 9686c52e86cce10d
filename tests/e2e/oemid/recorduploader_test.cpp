#include "devsimfleet.h"
#include "qtfiles.h"

#include "app/configkeys.h"
#include "oemid/httpsclient.h"
#include "oemid/recorduploader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace
{

struct Recorder : UploadObserver {
    QStringList messages;
    QList<QPair<int, int>> progressCalls;
    void progress(int done, int total) override { progressCalls.append({done, total}); }
    void message(const QString &title, const QString &text) override { messages << title + "/" + text; }
};

class Upload : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_devsim = new DevsimFleet;
        if (!s_devsim->startCount(1, "127.0.72.10", 47210, 47211, 0))
            s_error = s_devsim->error();
    }
    static void TearDownTestSuite() { delete s_devsim; }

    void SetUp() override
    {
        ASSERT_TRUE(s_error.isEmpty()) << s_error.toStdString();
        setFaults("");
        ASSERT_TRUE(FactoryRecords({app.path(), clock(), mac()}).makeUploadDirs());
    }
    void TearDown() override { setFaults(""); }

    static std::function<QDateTime()> clock()
    {
        return [] { return QDateTime(QDate(2022, 3, 4), QTime(5, 6, 7)); };
    }
    static std::function<QString()> mac()
    {
        return [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
    }
    static void setFaults(const QByteArray &text)
    {
        writeFile(s_devsim->stateDir() + "/records/faults.txt", text);
    }

    UploadParams params(const OemidVariant &variant = OemidVariant::oemidTab()) const
    {
        UploadParams p;
        p.appDir = app.path();
        p.host = "localhost";
        p.port = s_devsim->recordsPort();
        p.caFile = s_devsim->recordsCaFile();
        p.variant = variant;
        p.clock = clock();
        p.stationMac = mac();
        p.connectTimeoutMs = 2000;
        p.requestTimeoutMs = 5000;
        return p;
    }
    // Record lines with valid check codes; serials are unique to the test.
    QStringList records(int n, int first = 1) const
    {
        const QString prefix =
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        QStringList out;
        for (int i = first; i < first + n; ++i)
            out << FactoryRecords::recordLine(prefix + QString::number(i), "00:12:34:56:78:9a", "ACME01",
                                              QDateTime(QDate(2022, 3, 4), QTime(23, 59, 59)),
                                              "AA:BB:CC:00:11:22");
        return out;
    }
    QString unupload(const QString &name = QString()) const
    {
        return app.path() + "/oemidupload/unupload/" + name;
    }
    QString archive() const { return app.path() + "/oemidupload/upload/AABBCC0011222022-03-04.log"; }
    QStringList unuploadFiles() const { return QDir(unupload()).entryList(QDir::Files, QDir::Name); }
    static QByteArray lines(const QStringList &l)
    {
        return l.isEmpty() ? QByteArray() : (l.join("\r\n") + "\r\n").toUtf8();
    }

    QTemporaryDir app;
    static DevsimFleet *s_devsim;
    static QString s_error;
};

DevsimFleet *Upload::s_devsim = nullptr;
QString Upload::s_error;

TEST_F(Upload, AcceptedThenRepeatedRecords)
{
    const QStringList recs = records(5);
    writeFile(unupload("AABBCC0011222022-03-03.log"), lines(recs.mid(0, 3)));
    writeFile(unupload("DDEEFF0011222022-03-04.log"),
              "\n" + recs[3].toUtf8() + "\n\n" + recs[4].toUtf8() + "\n");
    Recorder r;
    UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.end, UploadOutcome::End::Done);
    EXPECT_EQ(out.total, 5);
    EXPECT_EQ(out.loaded, 5);
    EXPECT_EQ(out.failed, 0);
    EXPECT_EQ(r.messages, QStringList{"load/loaded5item,failed0item,total5item"});
    ASSERT_GE(r.progressCalls.size(), 6);
    EXPECT_EQ(r.progressCalls[4], qMakePair(5, 5));
    EXPECT_EQ(r.progressCalls.last(), qMakePair(0, 5));
    EXPECT_TRUE(unuploadFiles().isEmpty());
    EXPECT_EQ(readFile(archive()), lines(recs));
    for (const QString &rec : recs)
        EXPECT_TRUE(readFile(s_devsim->stateDir() + "/records/accepted.log").contains(rec.toUtf8()));

    // Sent again: the service already holds them (507), which counts as loaded without a log line.
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs.mid(0, 2)));
    out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 2);
    EXPECT_EQ(out.failed, 0);
    EXPECT_FALSE(QFile::exists(RecordUploader::errorLogFile(app.path())));

    // The firmware tab counts only 200: the same records fail there, without an error log.
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs.mid(0, 2)));
    out = RecordUploader(params(OemidVariant::firmwareTab())).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 0);
    EXPECT_EQ(out.failed, 2);
    EXPECT_EQ(readFile(unupload("failed.log")), lines(recs.mid(0, 2)));
    EXPECT_FALSE(QFile::exists(RecordUploader::errorLogFile(app.path())));
}

TEST_F(Upload, RejectedRecordIsLoggedAndRetried)
{
    const QStringList recs = records(3);
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
    setFaults("ret 101 RejectedRecordIsLoggedAndRetried2\n");
    Recorder r;
    UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 2);
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(r.messages.last(), "load/loaded2item,failed1item,total3item");
    EXPECT_EQ(unuploadFiles(), QStringList{"failed.log"});
    EXPECT_EQ(readFile(unupload("failed.log")), lines({recs[1]}));
    const QString log = QString::fromUtf8(readFile(RecordUploader::errorLogFile(app.path())));
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                   "SN:RejectedRecordIsLoggedAndRetried2 Ret:101\r\n$")
                    .match(log)
                    .hasMatch())
        << log.toStdString();

    // The next run starts from zero and sends "failed.log" again.
    setFaults("");
    out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.total, 1);
    EXPECT_EQ(out.loaded, 1);
    EXPECT_EQ(out.failed, 0);
    EXPECT_TRUE(unuploadFiles().isEmpty());
    EXPECT_EQ(readFile(archive()), lines({recs[0], recs[2], recs[1]}));
}

TEST_F(Upload, RunEndsWithNothingMoved)
{
    struct Case {
        QByteArray faults;
        QString host;
        bool withCa;
        OemidVariant variant;
        const char *message;
        int requestTimeoutMs = 5000;
    } cases[] = {
        {"ret-text\n", "localhost", true, OemidVariant::oemidTab(), "Load/upload error"},
        {"no-brace\n", "localhost", true, OemidVariant::oemidTab(), "Load/upload error"},
        {"no-brace\n", "localhost", true, OemidVariant::logoTab(), "Tips/upload error"},
        {"handshake-fail\n", "localhost", true, OemidVariant::oemidTab(), "statuscode/net is failed"},
        {"", "no such host", true, OemidVariant::oemidTab(), "statuscode/net is failed"},
        // A self-signed service is refused unless its CA is configured.
        {"", "localhost", false, OemidVariant::oemidTab(), "statuscode/net is failed"},
        // A service that answers a byte a second: the first record's deadline ends the run.
        {"trickle 1000\n", "localhost", true, OemidVariant::oemidTab(),
         "statuscode/net is failed\nThe factory-record service did not answer within 2 s; every record stays "
         "for the next run.",
         1500},
    };
    const QStringList recs = records(2);
    for (const Case &c : cases) {
        setFaults(c.faults);
        writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
        UploadParams p = params(c.variant);
        p.host = c.host;
        if (!c.withCa)
            p.caFile.clear();
        p.requestTimeoutMs = c.requestTimeoutMs;
        Recorder r;
        const UploadOutcome out = RecordUploader(p).uploadRecords(&r);
        EXPECT_EQ(r.messages, QStringList{c.message}) << c.faults.toStdString() << c.host.toStdString();
        EXPECT_FALSE(out.filed);
        EXPECT_EQ(unuploadFiles(), QStringList{"AABBCC0011222022-03-04.log"});
        EXPECT_EQ(readFile(unupload("AABBCC0011222022-03-04.log")), lines(recs));
        EXPECT_FALSE(QFile::exists(archive()));
    }
}

// Another name of this machine for 127.0.0.1 from the hosts file, which the service's certificate
// does not carry; empty if there is none.
QString otherLoopbackName()
{
    QFile hosts("/etc/hosts");
    if (!hosts.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray &line : hosts.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || words[0] != "127.0.0.1")
            continue;
        for (int i = 1; i < words.size(); ++i)
            if (!words[i].startsWith('#') && words[i] != "localhost" && !words[i].startsWith("localhost."))
                return QString::fromLatin1(words[i]);
    }
    return QString();
}

TEST_F(Upload, CertificateMustNameTheHost)
{
    const QString name = otherLoopbackName();
    if (name.isEmpty())
        GTEST_SKIP() << "no other name for 127.0.0.1 in /etc/hosts";
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(records(1)));
    UploadParams p = params();
    p.host = name;
    Recorder r;
    RecordUploader(p).uploadRecords(&r);
    EXPECT_EQ(r.messages, QStringList{"statuscode/net is failed"});
    p.host = "127.0.0.1"; // the certificate carries this address
    r.messages.clear();
    EXPECT_EQ(RecordUploader(p).uploadRecords(&r).loaded, 1);
}

TEST_F(Upload, ResponseSplitOverRecordsIsRead)
{
    setFaults("split\n");
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(records(1)));
    const UploadOutcome out = RecordUploader(params()).uploadRecords();
    EXPECT_EQ(out.loaded, 1);
}

TEST_F(Upload, UnsendableAndUnreachable)
{
    const QStringList recs = records(4);
    // A half line that a later record was joined onto (a disk that filled up mid-line), and a line
    // with a field too many: no records. Their first six fields are not sent.
    const QString joined = recs[2].left(40) + recs[3];
    const QString longer = recs[1] + ",extra";
    const QStringList bad{"short,line,only", joined, longer};
    // Lines that are no records are neither sent nor dropped; a refused connection fails a record.
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines({recs[0], bad[0], bad[1], recs[1], bad[2]}));
    UploadParams p = params();
    p.port = 47219; // nothing listens here
    Recorder r;
    UploadOutcome out = RecordUploader(p).uploadRecords(&r);
    EXPECT_EQ(out.total, 5);
    EXPECT_EQ(out.failed, 5);
    EXPECT_EQ(out.rejected, 3);
    EXPECT_EQ(readFile(unupload("failed.log")), lines({recs[0], recs[1]}));
    // Kept where a person sees them, outside what an upload reads, and said in the summary.
    const QString rejected = app.path() + "/oemidupload/rejected.log";
    EXPECT_EQ(readFile(rejected), lines(bad));
    ASSERT_FALSE(r.messages.isEmpty());
    EXPECT_TRUE(r.messages.last().contains("3 lines are no factory records"))
        << r.messages.last().toStdString();
    EXPECT_TRUE(r.messages.last().contains(rejected)) << r.messages.last().toStdString();

    // The valid records go through on the next run; the bad lines do not come back.
    r.messages.clear();
    out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 2);
    EXPECT_EQ(out.failed, 0);
    EXPECT_TRUE(unuploadFiles().isEmpty());
    EXPECT_EQ(readFile(archive()), lines({recs[0], recs[1]}));
    EXPECT_EQ(readFile(rejected), lines(bad));
}

TEST_F(Upload, UnreadableDayFileIsKept)
{
    const QStringList recs = records(2);
    writeFile(unupload("AABBCC0011222022-03-03.log"), lines({recs[0]}));
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines({recs[1]}));
    QFile locked(unupload("AABBCC0011222022-03-03.log"));
    ASSERT_TRUE(locked.setPermissions(QFileDevice::WriteOwner));
    if (locked.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running with privileges that ignore file permissions";
    Recorder r;
    const UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(r.messages,
              QStringList({"File/uploadfile open failed", "load/loaded1item,failed0item,total1item"}));
    EXPECT_EQ(out.loaded, 1);
    EXPECT_EQ(unuploadFiles(), QStringList{"AABBCC0011222022-03-03.log"});
    locked.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(readFile(unupload("AABBCC0011222022-03-03.log")), lines({recs[0]}));
}

TEST_F(Upload, ArchiveThatCannotBeWrittenLosesNothing)
{
    const QStringList recs = records(2);
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
    writeFile(unupload("failed.log"), lines(records(1, 3)));
    ASSERT_TRUE(QDir(app.path() + "/oemidupload/upload").removeRecursively());
    Recorder r;
    UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 3);
    EXPECT_FALSE(out.filed);
    EXPECT_EQ(r.messages, QStringList({"file/create upload successful file failed",
                                       "load/loaded3item,failed0item,total3item"}));
    EXPECT_EQ(readFile(unupload("AABBCC0011222022-03-04.log")), lines(recs));
    EXPECT_EQ(readFile(unupload("failed.log")), lines(records(1, 3)));

    // Once the folder is back, the same records are filed (the service answers 507).
    ASSERT_TRUE(QDir().mkpath(app.path() + "/oemidupload/upload"));
    out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 3);
    EXPECT_TRUE(unuploadFiles().isEmpty());
    EXPECT_EQ(readFile(archive()).count("\r\n"), 3);
}

TEST_F(Upload, NothingToSendAndNotConfigured)
{
    Recorder r;
    UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.end, UploadOutcome::End::Empty);
    EXPECT_EQ(r.messages, QStringList{"About/the dir is empty"});

    // Files without a record: deleted, an empty archive appears, and the summary counts zero.
    writeFile(unupload("AABBCC0011222022-03-01.log"), "\r\n\r\n");
    writeFile(unupload("AABBCC0011222022-03-02.log"), "");
    r.messages.clear();
    out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(r.messages, QStringList{"load/loaded0item,failed0item,total0item"});
    EXPECT_TRUE(unuploadFiles().isEmpty());
    EXPECT_TRUE(QFile::exists(archive()));
    EXPECT_EQ(readFile(archive()), QByteArray());

    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(records(1)));
    UploadParams p = params();
    p.host.clear();
    r.messages.clear();
    out = RecordUploader(p).uploadRecords(&r);
    EXPECT_EQ(out.end, UploadOutcome::End::NotConfigured);
    ASSERT_EQ(r.messages.size(), 1);
    EXPECT_TRUE(r.messages[0].contains("[Upload]"));
    EXPECT_EQ(unuploadFiles().size(), 1);
}

// Workers keep writing records while an upload runs: a record written while the run sends, or
// while it files, must still be waiting for the next run afterwards.
TEST_F(Upload, RecordWrittenDuringTheRunIsKept)
{
    struct Late : Recorder {
        FactoryRecords records;
        UploadObserver::Step when;
        bool fromProgress;
        std::thread writer;
        bool written = false;
        Late(const FactoryRecords &r, bool progressHook, UploadObserver::Step s)
            : records(r), when(s), fromProgress(progressHook)
        {
        }
        void write()
        {
            if (written)
                return;
            written = true;
            // Another worker's thread, as a firmware run would be.
            writer =
                std::thread([this] { records.writeFactoryRecord("LATE1", "00:12:34:56:78:9b", "ACME01"); });
            if (fromProgress)
                writer.join();
        }
        void progress(int done, int total) override
        {
            Recorder::progress(done, total);
            if (fromProgress && done > 0)
                write();
        }
        void step(Step s) override
        {
            if (!fromProgress && s == when)
                write();
        }
    };
    const QStringList recs = records(2);
    const FactoryRecords writer({app.path(), clock(), mac()});
    const QString day = unupload("AABBCC0011222022-03-04.log");
    const QString late =
        FactoryRecords::recordLine("LATE1", "00:12:34:56:78:9b", "ACME01", clock()(), "AA:BB:CC:00:11:22");
    struct Case {
        bool progressHook;
        UploadObserver::Step step;
    } cases[] = {{true, UploadObserver::Step::ArchiveWritten},
                 {false, UploadObserver::Step::ArchiveWritten},
                 {false, UploadObserver::Step::FailedReplaced}};
    for (const Case &c : cases) {
        QFile::remove(archive());
        writeFile(day, lines(recs));
        Late observer(writer, c.progressHook, c.step);
        const UploadOutcome out = RecordUploader(params()).uploadRecords(&observer);
        if (observer.writer.joinable())
            observer.writer.join();
        EXPECT_EQ(out.loaded, 2);
        EXPECT_TRUE(out.filed);
        EXPECT_TRUE(observer.written);
        EXPECT_EQ(readFile(archive()), lines(recs));
        EXPECT_EQ(readFile(day), lines({late}))
            << "progress hook " << c.progressHook << " step " << int(c.step);
        QFile::remove(day);
    }
}

TEST_F(Upload, CaFileThatCannotBeLoadedIsToldOnceInTheSummary)
{
    const QStringList recs = records(3);
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
    UploadParams p = params();
    p.caFile = app.path() + "/no-such-ca.pem";
    Recorder r;
    const UploadOutcome out = RecordUploader(p).uploadRecords(&r);
    EXPECT_EQ(out.failed, 3);
    ASSERT_EQ(r.messages.size(), 1) << r.messages.join(" | ").toStdString();
    EXPECT_TRUE(r.messages[0].startsWith("load/loaded0item,failed3item,total3item\nThe CA file "));
    EXPECT_TRUE(r.messages[0].contains("no-such-ca.pem"));
    EXPECT_EQ(readFile(unupload("failed.log")), lines(recs));
}

TEST_F(Upload, RelativeCaFileIsTakenFromTheApplicationDirectory)
{
    // The same relative name, its file once beside the executable and once only in the working
    // directory: only the first may be used.
    const QString name = QStringLiteral("ca-relative-%1.pem").arg(QCoreApplication::applicationPid());
    const QString inAppDir = ConfigKeys::applicationDir() + "/" + name;
    QTemporaryDir work;
    const QString inWorkDir = work.path() + "/" + name;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    const struct {
        const char *where;
        QString copy;
        int loaded;
    } cases[] = {{"application directory", inAppDir, 2}, {"working directory only", inWorkDir, 0}};
    int first = 1;
    for (const auto &c : cases) {
        ASSERT_TRUE(QFile::copy(s_devsim->recordsCaFile(), c.copy)) << c.copy.toStdString();
        writeFile(unupload("AABBCC0011222022-03-04.log"), lines(records(2, first)));
        first += 2;
        UploadParams p = params();
        p.caFile = name;
        Recorder r;
        const UploadOutcome out = RecordUploader(p).uploadRecords(&r);
        QFile::remove(c.copy);
        QFile::remove(unupload("failed.log"));
        EXPECT_EQ(out.loaded, c.loaded) << c.where << ": " << r.messages.join(" | ").toStdString();
        if (c.loaded == 0) {
            ASSERT_FALSE(r.messages.isEmpty());
            EXPECT_TRUE(r.messages.last().contains(QDir::toNativeSeparators(inAppDir)))
                << r.messages.last().toStdString();
        }
    }
    QDir::setCurrent(before);
}

TEST_F(Upload, SecondRunWhileOneIsGoingIsRefused)
{
    struct Nested : Recorder {
        UploadParams params;
        UploadOutcome::End second = UploadOutcome::End::Done;
        bool tried = false;
        void progress(int done, int total) override
        {
            Recorder::progress(done, total);
            if (!tried && done > 0) {
                tried = true;
                Recorder inner;
                second = RecordUploader(params).uploadRecords(&inner).end;
                messages << inner.messages;
            }
        }
    } r;
    r.params = params();
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(records(2)));
    const UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(r.second, UploadOutcome::End::Busy);
    EXPECT_EQ(out.loaded, 2);
    ASSERT_EQ(r.messages.size(), 2);
    EXPECT_TRUE(r.messages[0].startsWith("Tips/Another upload"));
    EXPECT_TRUE(unuploadFiles().isEmpty());
}

TEST_F(Upload, UnreadableFailedFileKeepsItsRecords)
{
    const QStringList recs = records(2);
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
    writeFile(unupload("failed.log"), lines(records(1, 3)));
    QFile locked(unupload("failed.log"));
    ASSERT_TRUE(locked.setPermissions(QFileDevice::WriteOwner));
    if (locked.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running with privileges that ignore file permissions";
    setFaults("ret 101 UnreadableFailedFileKeepsItsRecords2\n");
    Recorder r;
    const UploadOutcome out = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(out.loaded, 1);
    EXPECT_EQ(out.failed, 1);
    EXPECT_TRUE(out.filed);
    // The run's failure goes beside the unreadable file, which keeps what it holds.
    const QStringList files = unuploadFiles();
    ASSERT_EQ(files.size(), 2) << files.join(" ").toStdString();
    EXPECT_EQ(files[1], "failed.log");
    EXPECT_TRUE(files[0].startsWith("failed-")) << files[0].toStdString();
    EXPECT_EQ(readFile(unupload(files[0])), lines({recs[1]}));
    locked.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(readFile(unupload("failed.log")), lines(records(1, 3)));

    // Readable again: both are sent and go.
    setFaults("");
    EXPECT_EQ(RecordUploader(params()).uploadRecords(&r).loaded, 2);
    EXPECT_TRUE(unuploadFiles().isEmpty());
}

TEST(UploadRequest, BytesOnTheWire)
{
    const QByteArray body =
        RecordUploader::requestBody(QStringList{"SN", "", "OEM", "2021-12-28 09-05-07", "PC", "CC"});
    EXPECT_EQ(body,
              "{\"burnTime\":\"2021-12-28 09-05-07\",\"checkCode\":\"CC\",\"devMac\":\"\",\"oemId\":\"OEM\","
              "\"pcMac\":\"PC\",\"serialNumber\":\"SN\"}\n");
    const std::string req =
        HttpsClient::buildRequest("records.example", 443, RecordUploader::kPath, body.toStdString());
    EXPECT_EQ(req, "POST /privateApi/putFactoryDeviceInfo HTTP/1.0\r\n"
                   "Host: records.example:443\r\n"
                   "User-Agent: Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
                   "Cache-Control: no-cache\r\n"
                   "Accept: */*\r\n"
                   "Content-Type: application/json;charset=UTF-8\r\n"
                   "Content-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body.toStdString());
    EXPECT_EQ(RecordUploader::errorLogLine(QDateTime(QDate(2021, 12, 28), QTime(9, 5, 7, 123)), "SN1", 101),
              "2021-12-28,09:05:07.123 SN:SN1 Ret:101\r\n");
}

// A TCP server on loopback that takes one connection and then sends `prefix` and one byte every
// `intervalMs` (none when 0), at most `bytes` of them, until it is destroyed.
class TrickleServer
{
public:
    TrickleServer(QByteArray prefix, int intervalMs, int bytes)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(m_fd, 4) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, prefix, intervalMs, bytes] {
            pollfd p{m_fd, POLLIN, 0};
            while (!m_stop && ::poll(&p, 1, 50) == 0) {
            }
            const int c = m_stop ? -1 : ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            bool ok =
                ::send(c, prefix.constData(), std::size_t(prefix.size()), MSG_NOSIGNAL) == prefix.size();
            for (int sent = 0; ok && !m_stop && sent < bytes; ++sent) {
                for (int waited = 0; !m_stop && waited < intervalMs; waited += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ok = intervalMs > 0 && ::send(c, "\x01", 1, MSG_NOSIGNAL) == 1;
            }
            while (!m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(c);
        });
    }
    ~TrickleServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

// A server that holds a request open, silent or one byte a second, before or after the handshake:
// the request ends at its one deadline with a clear error.
TEST_F(Upload, EveryRequestHasOneDeadline)
{
    const QByteArray body = RecordUploader::requestBody(records(1).first().split(','));
    struct Case {
        const char *what;
        QByteArray prefix; ///< raw bytes of a TCP server; "tls" = the record service, trickling its answer
        int intervalMs;
    } cases[] = {
        {"silent after the connect", "", 0},
        // A TLS record header announcing 16 KiB, then its bytes one a second.
        {"trickle in the handshake", QByteArray::fromHex("1603034000"), 1000},
        {"trickle in the answer", "tls", 1000},
    };
    for (const Case &c : cases) {
        std::unique_ptr<TrickleServer> raw;
        int port = s_devsim->recordsPort();
        if (c.prefix == "tls") {
            setFaults("trickle 1000\n");
        } else {
            raw = std::make_unique<TrickleServer>(c.prefix, c.intervalMs, 60);
            ASSERT_NE(raw->port(), 0);
            port = raw->port();
        }
        HttpsClient::Options o;
        o.caFile = QFile::encodeName(s_devsim->recordsCaFile()).toStdString();
        o.requestTimeoutMs = 1500;
        HttpsClient client(o);
        char answer[2560];
        int len = sizeof answer;
        const int rc = client.post("localhost", port, RecordUploader::kPath, body.constData(),
                                   int(body.size()), answer, &len);
        EXPECT_EQ(rc, HttpsClient::kTimedOut) << c.what << ": " << client.lastError();
        EXPECT_NE(client.lastError().find("within 1500 ms"), std::string::npos)
            << c.what << ": " << client.lastError();
        EXPECT_EQ(len, 0) << c.what;
        setFaults("");
    }
}

// The run's cancel reaches the request under way; every record stays where it was.
TEST_F(Upload, CancelStopsTheRequestAndMovesNothing)
{
    setFaults("trickle 1000\n");
    const QStringList recs = records(2);
    writeFile(unupload("AABBCC0011222022-03-04.log"), lines(recs));
    UploadParams p = params();
    p.requestTimeoutMs = 600000; // only the cancel can end it
    // Cancelled once the run is waiting inside its first request (the first asks come before it).
    std::atomic<int> asked{0};
    p.cancelled = [&asked] { return ++asked > 6; };
    Recorder r;
    const UploadOutcome out = RecordUploader(p).uploadRecords(&r);
    EXPECT_EQ(out.end, UploadOutcome::End::Cancelled);
    EXPECT_GT(asked.load(), 6);
    EXPECT_FALSE(out.filed);
    EXPECT_TRUE(r.messages.isEmpty()) << r.messages.join(" | ").toStdString();
    EXPECT_EQ(unuploadFiles(), QStringList{"AABBCC0011222022-03-04.log"});
    EXPECT_EQ(readFile(unupload("AABBCC0011222022-03-04.log")), lines(recs));
    EXPECT_FALSE(QFile::exists(archive()));

    // The next run sends them once.
    setFaults("");
    const UploadOutcome again = RecordUploader(params()).uploadRecords(&r);
    EXPECT_EQ(again.loaded, 2);
    EXPECT_EQ(readFile(archive()), lines(recs));
}
