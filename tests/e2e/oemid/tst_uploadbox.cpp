// The upload as a tab shows it: message boxes through CMessageBox, the progress bar per record.

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "oemid/uploadboxobserver.h"

#include <QProgressBar>
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

private:
    DevsimFleet m_devsim;
};

QTEST_MAIN(TestUploadBox)
#include "tst_uploadbox.moc"
