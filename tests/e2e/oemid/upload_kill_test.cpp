#include "devsimfleet.h"

#include "oemid/factoryrecords.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace
{

QSet<QString> recordsBelow(const QString &dir)
{
    QSet<QString> out;
    QDirIterator it(dir, {"*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QStringList lines;
        FactoryRecords::readLines(it.next(), &lines);
        for (const QString &l : lines)
            if (!l.isEmpty())
                out.insert(l);
    }
    return out;
}

int lineCount(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
}

class UploadInterrupted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(devsim.startCount(1, "127.0.73.10", 47220, 47221, 0)) << devsim.error().toStdString();
    }

    // Day files of `n` records and a failed-record file of 3 more.
    QSet<QString> makeRecords(const QString &appDir, const QString &tag, int n)
    {
        FactoryRecords r({appDir, nullptr, [] { return QStringLiteral("AA:BB:CC:00:11:22"); }});
        EXPECT_TRUE(r.makeUploadDirs());
        QSet<QString> all;
        QStringList day1, day2, failed;
        for (int i = 0; i < n + 3; ++i) {
            const QString line = FactoryRecords::recordLine(
                tag + QString::number(i), "00:12:34:56:78:9a", "ACME01",
                QDateTime(QDate(2022, 3, 4), QTime(10, 0, i % 60)), "AA:BB:CC:00:11:22");
            all.insert(line);
            (i < n / 2 ? day1 : i < n ? day2 : failed) << line;
        }
        EXPECT_TRUE(FactoryRecords::appendLines(r.unuploadDir() + "/AABBCC0011222022-03-03.log", day1).ok);
        EXPECT_TRUE(FactoryRecords::appendLines(r.unuploadDir() + "/AABBCC0011222022-03-04.log", day2).ok);
        EXPECT_TRUE(FactoryRecords::appendLines(r.failedFile(), failed).ok);
        return all;
    }

    int runHelper(const QString &appDir, int dieAt = 0, QProcess *async = nullptr)
    {
        const QStringList args{appDir, "localhost", QString::number(devsim.recordsPort()),
                               devsim.recordsCaFile(), QString::number(dieAt)};
        if (async) {
            async->start(UPLOAD_HELPER, args);
            return async->waitForStarted(5000) ? 0 : -1;
        }
        QProcess p;
        p.start(UPLOAD_HELPER, args);
        if (!p.waitForFinished(60000))
            return -1;
        return p.exitCode();
    }

    void setFaults(const QByteArray &text)
    {
        QFile f(devsim.stateDir() + "/records/faults.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    DevsimFleet devsim;
};

TEST_F(UploadInterrupted, KilledWhileSending)
{
    QTemporaryDir app;
    const QSet<QString> all = makeRecords(app.path(), "KILL", 40);
    setFaults("delay 20\n");
    QProcess helper;
    ASSERT_EQ(runHelper(app.path(), 0, &helper), 0);
    const QString accepted = devsim.stateDir() + "/records/accepted.log";
    QElapsedTimer t;
    t.start();
    while (lineCount(accepted) < 10 && t.elapsed() < 30000)
        QThread::msleep(10);
    helper.kill();
    helper.waitForFinished(5000);
    ASSERT_GE(lineCount(accepted), 10);
    ASSERT_LT(lineCount(accepted), all.size()) << "the helper was meant to die mid-run";

    // Every record is still in a day file, the failed-record file or the archive.
    EXPECT_TRUE(recordsBelow(app.path() + "/oemidupload").contains(all));

    setFaults("");
    EXPECT_EQ(runHelper(app.path()), 0);
    EXPECT_TRUE(QDir(app.path() + "/oemidupload/unupload").entryList(QDir::Files).isEmpty());
    EXPECT_EQ(recordsBelow(app.path() + "/oemidupload/upload"), all);
    EXPECT_EQ(lineCount(accepted), all.size());
}

TEST_F(UploadInterrupted, DiesAtEachFilingStep)
{
    // Steps: archive written, failed records written, failed file replaced, two day files removed.
    for (int step = 1; step <= 5; ++step) {
        QTemporaryDir app;
        const QString tag = QStringLiteral("STEP%1_").arg(step);
        const QSet<QString> all = makeRecords(app.path(), tag, 6);
        setFaults("ret 101 " + tag.toLatin1() + "1\nret 101 " + tag.toLatin1() + "7\n");
        EXPECT_EQ(runHelper(app.path(), step), 3) << "step " << step;
        EXPECT_TRUE(recordsBelow(app.path() + "/oemidupload").contains(all)) << "step " << step;

        setFaults("");
        EXPECT_EQ(runHelper(app.path()), 0) << "step " << step;
        EXPECT_TRUE(QDir(app.path() + "/oemidupload/unupload").entryList(QDir::Files).isEmpty())
            << "step " << step;
        EXPECT_TRUE(recordsBelow(app.path() + "/oemidupload/upload").contains(all)) << "step " << step;
    }
}

} // namespace
