// The upload as a tab shows it: message boxes through CMessageBox, the progress bar per record.

#include "devsimfleet.h"
#include "memoryrows.h"

#include "app/cmessagebox.h"
#include "oemid/recorduploadrun.h"
#include "oemid/uploadboxobserver.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestUploadBox : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_devsim.startCount(1, "127.0.75.10", 47240, 47241, 0), qPrintable(m_devsim.error()));
    }
    void init() { CMessageBox::resetTestHooks(); }

    void progressAndSummary()
    {
        QTemporaryDir app;
        auto mac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords records({app.path(), nullptr, mac});
        QVERIFY(records.makeUploadDirs());
        QStringList lines;
        for (int i = 0; i < 3; ++i)
            lines << FactoryRecords::recordLine(QStringLiteral("BOX%1").arg(i), "", "ACME01",
                                                QDateTime(QDate(2022, 1, 1), QTime(1, 2, 3)), mac());
        QVERIFY(FactoryRecords::appendLines(records.unuploadDir() + "/AABBCC0011222022-01-01.log", lines).ok);

        QWidget tab;
        auto *bar = new QProgressBar(&tab);
        bar->setOrientation(Qt::Vertical);
        QList<int> seen;
        CMessageBox::setAnswerProvider([&](CMessageBox &) {
            seen << bar->value() << bar->maximum();
            return 0;
        });
        UploadParams p;
        p.appDir = app.path();
        p.host = "localhost";
        p.port = m_devsim.recordsPort();
        p.caFile = m_devsim.recordsCaFile();
        p.stationMac = mac;
        UploadBoxObserver observer(&tab, bar);
        const UploadOutcome out = RecordUploader(p).uploadRecords(&observer);
        QCOMPARE(out.loaded, 3);
        QCOMPARE(CMessageBox::shownCount(), 1);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("load"));
        QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("loaded3item,failed0item,total3item"));
        QCOMPARE(seen, QList<int>({3, 3})); // full when the summary shows
        QCOMPARE(bar->value(), 0);          // and back to 0 afterwards
        QCOMPARE(bar->orientation(), Qt::Horizontal);

        // Nothing left: the "About" box.
        QVERIFY(RecordUploader(p).uploadRecords(&observer).end == UploadOutcome::End::Empty);
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("About"));
        QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("the dir is empty"));
    }

    // Closing the tab while a record's answer trickles in: the close returns without waiting for
    // the answer, and every record stays where it was.
    void closingTheTabCancelsTheUpload()
    {
        QTemporaryDir app;
        auto mac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords records({app.path(), nullptr, mac});
        QVERIFY(records.makeUploadDirs());
        const QString day = records.unuploadDir() + "/AABBCC0011222022-01-01.log";
        const QString line = FactoryRecords::recordLine(QStringLiteral("CLOSE1"), "", "ACME01",
                                                        QDateTime(QDate(2022, 1, 1), QTime(1, 2, 3)), mac());
        QVERIFY(FactoryRecords::appendLines(day, {line}).ok);
        const QString faults = m_devsim.stateDir() + "/records/faults.txt";
        QFile f(faults);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("trickle 1000\n");
        f.close();

        auto tab = std::make_unique<QWidget>();
        auto *bar = new QProgressBar(tab.get());
        auto *button = new QPushButton(tab.get());
        MemoryRows rows;
        auto *run = new RecordUploadRun(rows, tab.get(), bar, button);
        UploadParams p;
        p.appDir = app.path();
        p.host = "localhost";
        p.port = m_devsim.recordsPort();
        p.caFile = m_devsim.recordsCaFile();
        p.stationMac = mac;
        p.requestTimeoutMs = 600000; // only the close can end it
        QVERIFY(run->start(p));
        QVERIFY(run->isActive());
        QTest::qWait(300); // the request is under way
        QVERIFY(run->isActive());
        tab.reset(); // the tab's destructor: the run goes with it

        QFile::remove(faults);
        QCOMPARE(CMessageBox::shownCount(), 0);
        QFile kept(day);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), line.toUtf8() + "\r\n");
        QVERIFY(!QFile::exists(records.failedFile()));
        QVERIFY(QDir(records.uploadDir()).entryList(QDir::Files).isEmpty());
    }

private:
    DevsimFleet m_devsim;
};

QTEST_MAIN(TestUploadBox)
#include "tst_uploadbox.moc"
