#include "device/stationmac.h"
#include "oemid/factoryrecords.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Tree {
    QTemporaryDir tmp;
    QDateTime clock = QDateTime(QDate(2021, 12, 28), QTime(9, 5, 7));
    QString mac = QStringLiteral("AA:BB:CC:00:11:22");
    FactoryRecords::Writer write; ///< empty: the real write
    FactoryRecords records{
        {tmp.path(), [this] { return clock; }, [this] { return mac; },
         [this](QFile &f, const QByteArray &d) { return write ? write(f, d) : f.write(d); }}};
    QString dayFile() const { return tmp.path() + "/oemidupload/unupload/AABBCC0011222021-12-28.log"; }
};

// A disk that fills up after `room` bytes of the next write.
FactoryRecords::Writer fullAfter(qint64 room)
{
    return [room](QFile &f, const QByteArray &data) -> qint64 {
        const qint64 put = room > 0 ? f.write(data.left(int(room))) : 0;
        errno = ENOSPC;
        return put > 0 && put < data.size() ? put : -1;
    };
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TEST(FactoryRecords, MakeUploadDirs)
{
    Tree t;
    QString error;
    ASSERT_TRUE(t.records.makeUploadDirs(&error)) << error.toStdString();
    EXPECT_TRUE(QDir(t.tmp.path() + "/oemidupload/unupload").exists());
    EXPECT_TRUE(QDir(t.tmp.path() + "/oemidupload/upload").exists());
    // Existing tree: usable, nothing created.
    ASSERT_TRUE(QDir(t.tmp.path() + "/oemidupload/upload").removeRecursively());
    EXPECT_TRUE(t.records.makeUploadDirs());
    EXPECT_FALSE(QDir(t.tmp.path() + "/oemidupload/upload").exists());

    // A root below which nothing can be created (a plain file): not usable, with a reason.
    const QString notADir = t.tmp.path() + "/plainfile";
    QFile f(notADir);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    FactoryRecords blocked({notADir, nullptr, [] { return QString(); }});
    EXPECT_FALSE(blocked.makeUploadDirs(&error));
    EXPECT_TRUE(error.contains("oemidupload")) << error.toStdString();
}

TEST(FactoryRecords, FieldThatWouldBreakTheLineIsRefused)
{
    struct Case {
        QString serial, devMac, oemid, pcMac;
        const char *problem; // prefix; empty = written
    } cases[] = {
        {"SN1", "00:12:34:56:78:9a", "ACME", "AA:BB:CC:00:11:22", ""},
        {"SN,1", "00:12:34:56:78:9a", "ACME", "AA:BB:CC:00:11:22", "The serial number holds"},
        {"SN1\r", "00:12:34:56:78:9a", "ACME", "AA:BB:CC:00:11:22", "The serial number holds"},
        {"SN1", "00:12\n34", "ACME", "AA:BB:CC:00:11:22", "The device MAC holds"},
        {"SN1", "", "AC,ME", "AA:BB:CC:00:11:22", "The OEMID holds"},
        {"SN1", "", "ACME", "AA,BB", "The station MAC holds"},
    };
    for (const Case &c : cases) {
        Tree t;
        t.mac = c.pcMac;
        ASSERT_TRUE(t.records.makeUploadDirs());
        const FactoryRecords::WriteResult r = t.records.writeFactoryRecord(c.serial, c.devMac, c.oemid);
        EXPECT_EQ(r.ok, !*c.problem) << c.serial.toStdString();
        if (*c.problem) {
            EXPECT_TRUE(r.message.startsWith(QLatin1String(c.problem))) << r.message.toStdString();
        }
        const QStringList files = QDir(t.tmp.path() + "/oemidupload/unupload").entryList(QDir::Files);
        EXPECT_EQ(files.size(), *c.problem ? 0 : 1) << "nothing is written for a refused record";
    }
}

TEST(FactoryRecords, RecordLinesAroundMidnight)
{
    Tree t;
    ASSERT_TRUE(t.records.makeUploadDirs());
    t.clock = QDateTime(QDate(2021, 12, 28), QTime(23, 59, 59));
    ASSERT_TRUE(t.records.writeFactoryRecord("SN0001", "00:12:34:56:78:9a", "123").ok);
    t.clock = QDateTime(QDate(2021, 12, 29), QTime(0, 0, 0));
    ASSERT_TRUE(t.records.writeFactoryRecord("SN0002", "", "123").ok);
    ASSERT_TRUE(t.records.writeFactoryRecord("SN0003", "00:12:34:56:78:9b", "123").ok);

    const QString day1 = t.tmp.path() + "/oemidupload/unupload/AABBCC0011222021-12-28.log";
    const QString day2 = t.tmp.path() + "/oemidupload/unupload/AABBCC0011222021-12-29.log";
    const QString code1 = FactoryRecords::hash8("SN0001AABBCC001122123930941").toLatin1().toHex().toUpper();
    const QString code2 = FactoryRecords::hash8("SN0002AABBCC0011221230").toLatin1().toHex().toUpper();
    EXPECT_EQ(readAll(day1), QByteArray("SN0001,00123456789a,123,2021-12-28 23-59-59,AABBCC001122," +
                                        code1.toLatin1() + "\r\n"));
    const QByteArray second = readAll(day2);
    // No device MAC: the field is empty but the line still has six fields.
    EXPECT_TRUE(second.startsWith(
        QByteArray("SN0002,,123,2021-12-29 00-00-00,AABBCC001122," + code2.toLatin1() + "\r\n")))
        << second.toStdString();
    EXPECT_EQ(second.count("\r\n"), 2);

    QStringList lines;
    ASSERT_TRUE(FactoryRecords::readLines(day2, &lines));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1].split(',').size(), 6);
}

TEST(FactoryRecords, ReadLinesAcceptsBothEndings)
{
    QTemporaryDir tmp;
    const QString p = tmp.path() + "/x.log";
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("a,b\r\nc,d\n\r\ne");
    f.close();
    QStringList lines;
    ASSERT_TRUE(FactoryRecords::readLines(p, &lines));
    EXPECT_EQ(lines, QStringList({"a,b", "c,d", "", "e"}));
    EXPECT_FALSE(FactoryRecords::readLines(tmp.path() + "/none.log", &lines));
}

TEST(FactoryRecords, ArchiveAndFailedFiles)
{
    Tree t;
    ASSERT_TRUE(t.records.makeUploadDirs());
    ASSERT_TRUE(t.records.writeArchive({"l1", "l2"}).ok);
    ASSERT_TRUE(t.records.writeArchive({}).ok);
    EXPECT_EQ(readAll(t.tmp.path() + "/oemidupload/upload/AABBCC0011222021-12-28.log"), "l1\r\nl2\r\n");
    ASSERT_TRUE(t.records.writeFailed({"f1"}).ok);
    EXPECT_EQ(readAll(t.tmp.path() + "/oemidupload/unupload/failed.log"), "f1\r\n");

    // Missing folders: each write reports its own message and writes nothing.
    ASSERT_TRUE(QDir(t.tmp.path() + "/oemidupload").removeRecursively());
    FactoryRecords::WriteResult r = t.records.writeArchive({"x"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "create upload successful file failed");
    r = t.records.writeFailed({"x"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "create upload unsuccessful file failed");
    r = t.records.writeFactoryRecord("SN", "", "1");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Creat logfile Failed");
    EXPECT_NE(r.fileError, 0);
}

TEST(FactoryRecords, FailedAppendIsCutBackAndTheRecordHeld)
{
    const QByteArray earlier = "SN0,00123456789a,ACME,2021-12-28 09-00-00,AABBCC001122,0011223344556677\r\n";
    struct Case {
        const char *what;
        QByteArray before; ///< the day file before the write; "<none>" = no file
        qint64 room;       ///< bytes of the write that fit; -1 = no fault
        QByteArray after;  ///< the day file after the failed write
    } cases[] = {
        {"nothing fits", earlier, 0, earlier},
        {"half a line fits", earlier, 40, earlier},
        {"all but the line end fits", earlier, 75, earlier},
        {"new day file, half a line fits", "<none>", 30, ""},
        // A line left without its end (a crash mid-write) gets one before the next record is cut back.
        {"unended line, nothing fits", "SN0,00123456", 0, "SN0,00123456"},
    };
    for (const Case &c : cases) {
        Tree t;
        ASSERT_TRUE(t.records.makeUploadDirs());
        if (c.before != "<none>")
            writeBytes(t.dayFile(), c.before);
        t.write = fullAfter(c.room);
        const FactoryRecords::WriteResult r =
            t.records.writeFactoryRecord("SN0001", "00:12:34:56:78:9a", "ACME");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.message, "Creat logfile Failed") << c.what;
        EXPECT_TRUE(r.stopped.startsWith("OEMID writing stopped")) << c.what << r.stopped.toStdString();
        EXPECT_TRUE(r.stopped.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
            << r.stopped.toStdString();
        EXPECT_EQ(readAll(t.dayFile()), c.after) << c.what;
        EXPECT_EQ(t.records.heldRecordCount(), 1) << c.what;

        // While the disk stays full no OEMID may be written, and the file stays as it was.
        const FactoryRecords::WriteResult held = t.records.writeHeldRecords();
        EXPECT_FALSE(held.ok) << c.what;
        EXPECT_TRUE(held.message.startsWith("OEMID not written: 1 factory records cannot be saved"))
            << held.message.toStdString();
        EXPECT_EQ(readAll(t.dayFile()), c.after) << c.what;

        // Room again: the held record goes first, whole and on a line of its own.
        t.write = nullptr;
        t.clock = t.clock.addSecs(60);
        ASSERT_TRUE(t.records.writeHeldRecords().ok) << c.what;
        EXPECT_EQ(t.records.heldRecordCount(), 0);
        ASSERT_TRUE(t.records.writeFactoryRecord("SN0002", "00:12:34:56:78:9b", "ACME").ok);
        QStringList lines;
        ASSERT_TRUE(FactoryRecords::readLines(t.dayFile(), &lines));
        QStringList records;
        for (const QString &l : lines)
            if (FactoryRecords::isRecordLine(l))
                records << l.section(',', 0, 0);
        EXPECT_EQ(records.mid(records.size() - 2), QStringList({"SN0001", "SN0002"})) << c.what;
        EXPECT_TRUE(readAll(t.dayFile()).startsWith(c.after)) << c.what;
    }
}

TEST(FactoryRecords, HeldRecordsBelongToTheirTree)
{
    Tree full, other;
    ASSERT_TRUE(full.records.makeUploadDirs());
    ASSERT_TRUE(other.records.makeUploadDirs());
    full.write = fullAfter(0);
    ASSERT_FALSE(full.records.writeFactoryRecord("SN1", "", "ACME").ok);
    ASSERT_FALSE(full.records.writeFactoryRecord("SN2", "", "ACME").ok);
    EXPECT_EQ(full.records.heldRecordCount(), 2);
    // Another FactoryRecords on the same tree (another tab) sees the records held.
    FactoryRecords sameTree(
        {full.tmp.path(), nullptr, [] { return QStringLiteral("AA:BB:CC:00:11:22"); }, fullAfter(0)});
    EXPECT_FALSE(sameTree.writeHeldRecords().ok);
    EXPECT_TRUE(other.records.writeHeldRecords().ok);
    full.write = nullptr;
    ASSERT_TRUE(full.records.writeHeldRecords().ok);
    EXPECT_EQ(readAll(full.dayFile()).count("\r\n"), 2);
}

TEST(FactoryRecords, RecordsStillHeldAtExitAreShownOnStderr)
{
    Tree t;
    ASSERT_TRUE(t.records.makeUploadDirs());
    t.write = fullAfter(0);
    EXPECT_EXIT(
        {
            t.records.writeFactoryRecord("SNEXIT", "", "ACME");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "factory record not saved .*: SNEXIT,,ACME,2021-12-28 09-05-07,");
}

// The same through a real file system that fills up: a 64 KiB tmpfs.
TEST(FactoryRecords, FullDiskLeavesNoHalfLine)
{
    QTemporaryDir mountPoint;
    ASSERT_TRUE(mountPoint.isValid());
    const QByteArray where = QFile::encodeName(mountPoint.path());
    if (::mount("tallow-test", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (" << std::strerror(errno) << "); needs root";
    struct Unmount {
        QByteArray where;
        ~Unmount() { ::umount2(where.constData(), MNT_DETACH); }
    } unmount{where};

    const QString mac = QStringLiteral("AA:BB:CC:00:11:22");
    const QDateTime t(QDate(2021, 12, 28), QTime(9, 5, 7));
    FactoryRecords records({mountPoint.path(), [t] { return t; }, [mac] { return mac; }, nullptr});
    ASSERT_TRUE(records.makeUploadDirs());
    // The day file ends a few bytes before a page boundary, and the rest of the disk is taken.
    const QString day = mountPoint.path() + "/oemidupload/unupload/AABBCC0011222021-12-28.log";
    QByteArray earlier;
    while (earlier.size() < 4096 - 100)
        earlier += "SN0,00123456789a,ACME,2021-12-28 09-00-00,AABBCC001122,0011223344556677\r\n";
    earlier += QByteArray(4096 - 20 - earlier.size(), 'x') + "\r\n";
    writeBytes(day, earlier);
    {
        QFile filler(mountPoint.path() + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray page(4096, 'f');
        while (filler.write(page) == page.size()) {
        }
    }

    // Before an OEMID write: no room, so no OEMID.
    const FactoryRecords::WriteResult ready = records.readyForRecord();
    EXPECT_FALSE(ready.ok);
    EXPECT_TRUE(ready.message.startsWith("OEMID not written: no room for factory records in "))
        << ready.message.toStdString();

    const FactoryRecords::WriteResult r = records.writeFactoryRecord("SN0001", "00:12:34:56:78:9a", "ACME");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.stopped.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << r.stopped.toStdString();
    EXPECT_EQ(readAll(day), earlier) << "no half line left behind";
    EXPECT_FALSE(records.writeHeldRecords().ok);

    ASSERT_TRUE(QFile::remove(mountPoint.path() + "/filler"));
    ASSERT_TRUE(records.readyForRecord().ok);
    const QByteArray now = readAll(day);
    EXPECT_TRUE(now.startsWith(earlier));
    EXPECT_EQ(now.mid(earlier.size()),
              FactoryRecords::recordLine("SN0001", "00:12:34:56:78:9a", "ACME", t, mac).toUtf8() + "\r\n");
}

TEST(FactoryRecords, RecordLinesHaveExactlySixFields)
{
    const struct {
        const char *line;
        bool record;
    } cases[] = {
        {"SN1,00123456789a,ACME,2021-12-28 09-05-07,AABBCC001122,ABCDEF", true},
        {"SN1,,ACME,2021-12-28 09-05-07,AABBCC001122,ABCDEF", true},
        {"SN1,00123456789a,ACME", false},
        {"SN1,00123456789a,ACMESN2,00123456789b,ACME,2021-12-28 09-05-07,AABBCC001122,ABCDEF", false},
        {"SN1,00123456789a,ACME,2021-12-28 09-05-07,AABBCC001122,ABCDEF,", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FactoryRecords::isRecordLine(QString::fromLatin1(c.line)), c.record) << c.line;
}

TEST(FactoryRecords, CheckCodeMatchesTheSharedCipher)
{
    EXPECT_EQ(FactoryRecords::hash8("abc"), "LkM7s2Ht");
    EXPECT_EQ(FactoryRecords::makeCheckCode("abc", "", "", QTime(0, 0, 0)),
              FactoryRecords::hash8("abc0").toLatin1().toHex().toUpper());
}

TEST(StationMac, PicksFirstRunningNonLoopbackWithAddress)
{
    using I = StationMac::Interface;
    struct Case {
        QList<I> list;
        QString expected;
    } cases[] = {
        {{}, ""},
        {{{"00:00:00:00:00:00", true, true}, {"11:22:33:44:55:66", true, false}}, "11:22:33:44:55:66"},
        {{{"AA:AA:AA:AA:AA:AA", false, false},
          {"00:00:00:00:00:00", true, false},
          {"", true, false},
          {"BB:BB:BB:BB:BB:BB", true, false},
          {"CC:CC:CC:CC:CC:CC", true, false}},
         "BB:BB:BB:BB:BB:BB"},
        {{{"DD:DD:DD:DD:DD:DD", true, true}}, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(StationMac::pick(c.list), c.expected);
}

} // namespace
