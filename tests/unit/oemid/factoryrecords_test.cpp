#include "device/stationmac.h"
#include "oemid/factoryrecords.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    FactoryRecords records{{tmp.path(), [this] { return clock; }, [this] { return mac; }}};
};

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
