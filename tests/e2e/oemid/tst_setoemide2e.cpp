// The OEMID tab against simulated devices: search, the per-device batch, and what each device and
// the factory-record service got.

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/csearchdevicethread.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "netsdk/netsdk.h"
#include "oemid/setoemid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QMap>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/mount.h>

namespace
{

const int kStatus = 2; // "Destribe"
const int kOemid = 3;  // "Status"
const int kMac = 4;

QJsonObject device(const QString &ip, int n, const QJsonObject &extra = QJsonObject())
{
    QJsonObject d{{QStringLiteral("ip"), ip},
                  {QStringLiteral("mac"), QStringLiteral("00:12:36:00:%1:%2")
                                              .arg(n / 256, 2, 16, QLatin1Char('0'))
                                              .arg(n % 256, 2, 16, QLatin1Char('0'))},
                  {QStringLiteral("serial"), QStringLiteral("tabserial%1").arg(n, 7, 10, QLatin1Char('0'))}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

QJsonObject faults(const QJsonObject &f)
{
    return QJsonObject{{QStringLiteral("faults"), f}};
}

} // namespace

class SetOemidE2E : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void onlyTimeSynchronisation();
    void writesRecordsAndUploads();
    void errorRepeatAndAllowRepeat();
    void settingsBesideTheOemidResult();
    void searchFindingNothingRunsOverZeroRows();
    void buttonsRefusedWhileTheBatchRuns();
    void closingDuringTheBatchWaitsForOneDevice();
    void modifyIpReadAtEveryBatch();
    void fullDiskStopsOemidWriting();
    void onvifCamerasBesideSdkDevices();

private:
    bool startFleet(const QJsonArray &devices, int port, int searchPort, int recordsPort = -1,
                    const QStringList &extraArgs = {});
    void makeTab();
    void tick(const char *name, bool on = true);
    bool searchAndSet(int expectedRows, int timeoutMs = 60000);
    QString cell(int row, int column) const;
    QString status(int row) const { return cell(row, kStatus); }
    QJsonObject state(int row) const { return m_fleet->state(cell(row, kMac)); }
    void writeIni(const QByteArray &text);
    QStringList dayFileLines() const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<DevsimFleet> m_fleet;
    std::unique_ptr<SetOEMID> m_tab;
    QByteArray m_mounted; ///< a tmpfs this test mounted, unmounted in cleanup()
};

void SetOemidE2E::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=TAB77\r\n");
    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
}

void SetOemidE2E::cleanup()
{
    m_tab.reset();
    m_fleet.reset();
    if (!m_mounted.isEmpty())
        ::umount2(m_mounted.constData(), MNT_DETACH);
    m_mounted.clear();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

void SetOemidE2E::writeIni(const QByteArray &text)
{
    QVERIFY(useConfigIni(m_tmp->filePath(QStringLiteral("Config.ini")), text));
}

bool SetOemidE2E::startFleet(const QJsonArray &devices, int port, int searchPort, int recordsPort,
                             const QStringList &extraArgs)
{
    m_fleet = std::make_unique<DevsimFleet>();
    if (!m_fleet->start(devices, port, searchPort, recordsPort, extraArgs)) {
        qWarning("%s", qPrintable(m_fleet->error()));
        return false;
    }
    H264_DVR_SetSearchPort(quint16(searchPort));
    return true;
}

void SetOemidE2E::makeTab()
{
    m_tab = std::make_unique<SetOEMID>(nullptr, m_tmp->path());
    m_tab->show();
}

void SetOemidE2E::tick(const char *name, bool on)
{
    auto *box = m_tab->findChild<QCheckBox *>(QLatin1String(name));
    QVERIFY(box);
    if (box->isChecked() != on)
        QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(box->isChecked(), on);
}

bool SetOemidE2E::searchAndSet(int expectedRows, int timeoutMs)
{
    QSignalSpy finished(m_tab.get(), &SetOEMID::batchFinished);
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    if (!finished.wait(timeoutMs) && finished.isEmpty())
        return false;
    m_tab->tabController()->table()->flushPending();
    return m_tab->tabController()->table()->rowCount() == expectedRows;
}

QString SetOemidE2E::cell(int row, int column) const
{
    return m_tab->tabController()->table()->model()->index(row, column).data().toString();
}

QStringList SetOemidE2E::dayFileLines() const
{
    QStringList out;
    const QDir dir(m_tmp->filePath(QStringLiteral("oemidupload/unupload")));
    for (const QString &name : dir.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &l : f.readAll().split('\n'))
                if (!l.trimmed().isEmpty())
                    out << QString::fromUtf8(l.trimmed());
    }
    return out;
}

void SetOemidE2E::onlyTimeSynchronisation()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.120.10"), 1));
    devices.append(
        device(QStringLiteral("127.0.120.11"), 2, {{QStringLiteral("oemid"), QStringLiteral("OTHER9")}}));
    QVERIFY(startFleet(devices, 36200, 36201));
    makeTab();
    tick("synchronizationTime");
    const QDateTime before = QDateTime::currentDateTimeUtc();
    QVERIFY(searchAndSet(2));
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(cell(row, kOemid), QStringLiteral("synchronization time successful"));
        const QJsonObject s = state(row);
        QVERIFY(s.value(QStringLiteral("counts")).toObject().value(QStringLiteral("login")).toInt() >= 1);
        QCOMPARE(
            s.value(QStringLiteral("counts")).toObject().value(QStringLiteral("producerWrite")).toInt(-1), 0);
        // The clock is set in UTC.
        const QJsonArray t = s.value(QStringLiteral("time")).toArray();
        QCOMPARE(t.size(), 8);
        const QDateTime sent(QDate(t[0].toInt(), t[1].toInt(), t[2].toInt()),
                             QTime(t[4].toInt(), t[5].toInt(), t[6].toInt()), Qt::UTC);
        QVERIFY2(qAbs(sent.secsTo(before)) < 120, qPrintable(sent.toString(Qt::ISODate)));
        QCOMPARE(s.value(QStringLiteral("timeCommand")).toInt(), 244);
    }
    QCOMPARE(state(0).value(QStringLiteral("oemid")).toString(), QString());
    QCOMPARE(state(1).value(QStringLiteral("oemid")).toString(), QStringLiteral("OTHER9"));
    QVERIFY(dayFileLines().isEmpty());
    // The logins stay in the rows for the settings; every row has one.
    for (int row = 0; row < 2; ++row) {
        DEV_INFO rec;
        QVERIFY(m_tab->tabController()->table()->device(m_tab->tabController()->table()->generation(), row,
                                                        &rec));
        QVERIFY(rec.lLoginID > 0);
    }
}

void SetOemidE2E::writesRecordsAndUploads()
{
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.121.%1").arg(10 + i), 0x10 + i));
    QVERIFY(startFleet(devices, 36210, 36211, 0));
    writeIni(QStringLiteral(
                 "[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=TAB77\r\n[Upload]\r\nHost=localhost\r\n"
                 "Port=%1\r\nCAFile=%2\r\n")
                 .arg(m_fleet->recordsPort())
                 .arg(m_fleet->recordsCaFile())
                 .toUtf8());
    makeTab();
    tick("setoemid");
    QVERIFY(searchAndSet(3));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(status(row), QStringLiteral("Set OEMID Success"));
        QCOMPARE(cell(row, kOemid), QStringLiteral("TAB77"));
        QCOMPARE(state(row).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));
    }
    const QStringList lines = dayFileLines();
    QCOMPARE(lines.size(), 3);
    for (int row = 0; row < 3; ++row)
        QVERIFY(lines[row].startsWith(cell(row, 7) + QLatin1Char(',') +
                                      QString(cell(row, kMac)).remove(QLatin1Char(':')) +
                                      QStringLiteral(",TAB77,")));

    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("updatelog")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(CMessageBox::shownCount() >= 1, 30000);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("load"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("loaded3item,failed0item,total3item"));
    QTRY_VERIFY(m_tab->findChild<QPushButton *>(QStringLiteral("updatelog"))->isEnabled());
    QVERIFY(dayFileLines().isEmpty());
    QFile accepted(m_fleet->stateDir() + QStringLiteral("/records/accepted.log"));
    QVERIFY(accepted.open(QIODevice::ReadOnly));
    const QByteArray service = accepted.readAll();
    for (const QString &l : lines)
        QVERIFY(service.contains(l.toUtf8()));
}

void SetOemidE2E::errorRepeatAndAllowRepeat()
{
    QJsonArray devices;
    devices.append(
        device(QStringLiteral("127.0.122.10"), 0x20, faults({{QStringLiteral("producerGetRet"), 103}})));
    devices.append(
        device(QStringLiteral("127.0.122.11"), 0x21, {{QStringLiteral("oemid"), QStringLiteral("OTHER9")}}));
    devices.append(device(QStringLiteral("127.0.122.12"), 0x22));
    devices.append(device(QStringLiteral("127.0.122.13"), 0x23,
                          {{QStringLiteral("password"), QStringLiteral("secret")}}));
    QVERIFY(startFleet(devices, 36220, 36221));
    makeTab();
    tick("setoemid");
    QVERIFY(searchAndSet(4));
    QCOMPARE(status(0), QStringLiteral("OEMID ERROR"));
    QCOMPARE(status(1), QStringLiteral("OEMID Repeat(OTHER9)"));
    QCOMPARE(status(2), QStringLiteral("Set OEMID Success"));
    QCOMPARE(status(3), QStringLiteral("dev login failed"));
    QCOMPARE(state(1).value(QStringLiteral("oemid")).toString(), QStringLiteral("OTHER9"));

    // With the clock ticked too, the device whose OEMID cannot be read gets no setting.
    tick("synchronizationTime");
    QVERIFY(searchAndSet(4));
    QCOMPARE(status(0), QStringLiteral("OEMID ERROR"));
    QVERIFY(!state(0).contains(QStringLiteral("time")));
    QCOMPARE(status(1), QStringLiteral("OEMID Repeat(OTHER9)"));
    QCOMPARE(cell(1, kOemid), QStringLiteral("synchronization time successful"));
    QCOMPARE(state(1).value(QStringLiteral("oemid")).toString(), QStringLiteral("OTHER9"));
    tick("synchronizationTime", false);

    // Repeats allowed: the other OEMID and our own are written over.
    tick("checkBox");
    QVERIFY(searchAndSet(4));
    QCOMPARE(status(1), QStringLiteral("Set OEMID Success"));
    QCOMPARE(status(2), QStringLiteral("Set OEMID Success"));
    QCOMPARE(state(1).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));

    // setoemid unticked and ticked again: repeats are forbidden again.
    tick("setoemid", false);
    tick("setoemid");
    QVERIFY(!m_tab->findChild<QCheckBox *>(QStringLiteral("checkBox"))->isChecked());
    QVERIFY(searchAndSet(4));
    QCOMPARE(status(2), QStringLiteral("OEMID Repeat(TAB77)"));
}

void SetOemidE2E::settingsBesideTheOemidResult()
{
    // The settings write under "Status"; "Destribe" keeps what the OEMID step said, and the
    // history keeps both. "Select failed" picks every device one of whose steps failed, in
    // either column, by what the steps said, not by their words.
    QJsonArray devices;
    devices.append(
        device(QStringLiteral("127.0.127.10"), 0x70, faults({{QStringLiteral("producerSetRet"), 103}})));
    devices.append(
        device(QStringLiteral("127.0.127.11"), 0x71, {{QStringLiteral("oemid"), QStringLiteral("OTHER9")}}));
    devices.append(device(QStringLiteral("127.0.127.12"), 0x72));
    // Takes both time commands but never answers them.
    devices.append(
        device(QStringLiteral("127.0.127.13"), 0x73,
               faults({{QStringLiteral("results"),
                        QJsonObject{{QStringLiteral("244"), -10005}, {QStringLiteral("265"), -10005}}}})));
    QVERIFY(startFleet(devices, 36270, 36271));
    makeTab();
    tick("setoemid");
    tick("synchronizationTime");
    QVERIFY(searchAndSet(4));
    QCOMPARE(status(0), QStringLiteral("Set OEMID Failed ret=-10002,code:-10002"));
    QCOMPARE(status(1), QStringLiteral("OEMID Repeat(OTHER9)"));
    QCOMPARE(status(2), QStringLiteral("Set OEMID Success"));
    QCOMPARE(status(3), QStringLiteral("Set OEMID Success"));
    QCOMPARE(cell(3, kOemid), QStringLiteral("synchronization time fail ret=-10005,code:-10005"));
    QCOMPARE(m_tab->tabController()->tableActions()->selectFailed(), (QList<int>{0, 1, 3}));
    QList<int> selected;
    for (const QModelIndex &index :
         m_tab->findChild<QTableView *>(QStringLiteral("tableView"))->selectionModel()->selectedRows())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, (QList<int>{0, 1, 3}));
    for (int row = 0; row < 4; ++row) {
        if (row != 3)
            QCOMPARE(cell(row, kOemid), QStringLiteral("synchronization time successful"));
        QCOMPARE(state(row)
                     .value(QStringLiteral("counts"))
                     .toObject()
                     .value(QStringLiteral("producerWrite"))
                     .toInt(),
                 row == 1 ? 0 : 1);
        QVERIFY(state(row).contains(QStringLiteral("time")));
        QStringList texts;
        for (const HistoryEntry &e : m_tab->tabController()->table()->history(row))
            texts << e.text;
        QVERIFY2(texts.contains(status(row)) && texts.contains(cell(row, kOemid)),
                 qPrintable(texts.join(u'|')));
    }
    QCOMPARE(state(0).value(QStringLiteral("oemid")).toString(), QString());
    QCOMPARE(state(2).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));
}

void SetOemidE2E::searchFindingNothingRunsOverZeroRows()
{
    H264_DVR_SetSearchPort(36239); // nothing answers there
    makeTab();
    m_tab->tabController()->searchThread()->setSearchTime(1000);
    tick("synchronizationTime");
    QElapsedTimer t;
    qint64 searchEnded = -1, batchEnded = -1;
    connect(m_tab.get(), &SetOEMID::searchFinished, this, [&] { searchEnded = t.elapsed(); });
    connect(m_tab.get(), &SetOEMID::batchFinished, this, [&] { batchEnded = t.elapsed(); });
    t.start();
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return batchEnded >= 0; }, 30000));
    QCOMPARE(m_tab->tabController()->table()->rowCount(), 0);
    QCOMPARE(CMessageBox::shownCount(), 0);
    // The batch over no rows still makes its one-second pause.
    QVERIFY2(batchEnded - searchEnded >= 950, qPrintable(QString::number(batchEnded - searchEnded)));
    QVERIFY(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn"))->isEnabled());

    // A factory-record tree that cannot be made refuses the batch after the search.
    QFile blocker(m_tmp->filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_tab = std::make_unique<SetOEMID>(nullptr, blocker.fileName());
    m_tab->tabController()->searchThread()->setSearchTime(1000);
    m_tab->show();
    tick("synchronizationTime");
    QSignalSpy finished(m_tab.get(), &SetOEMID::batchFinished);
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    QVERIFY(finished.wait(30000));
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("warning"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Create uploaddir failed"));
    QVERIFY(!m_tab->batchRunning());
}

void SetOemidE2E::buttonsRefusedWhileTheBatchRuns()
{
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(device(QStringLiteral("127.0.124.%1").arg(10 + i), 0x40 + i));
    QVERIFY(startFleet(devices, 36240, 36241));
    makeTab();
    tick("synchronizationTime");
    QSignalSpy finished(m_tab.get(), &SetOEMID::batchFinished);
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return m_tab->batchRunning() || !finished.isEmpty(); }, 30000));
    QVERIFY(m_tab->batchRunning());
    QVERIFY(!m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn"))->isEnabled());
    QVERIFY(!m_tab->findChild<QPushButton *>(QStringLiteral("updatelog"))->isEnabled());
    QVERIFY(finished.wait(30000));
    QVERIFY(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn"))->isEnabled());
    QVERIFY(m_tab->findChild<QPushButton *>(QStringLiteral("updatelog"))->isEnabled());
}

void SetOemidE2E::closingDuringTheBatchWaitsForOneDevice()
{
    // Each device takes about two seconds (its clock commands are never answered); closing the tab
    // during the second device ends the batch after that device, and the later ones are never
    // logged in.
    QJsonArray devices;
    for (int i = 0; i < 6; ++i)
        devices.append(
            device(QStringLiteral("127.0.125.%1").arg(10 + i), 0x50 + i,
                   faults({{QStringLiteral("results"), QJsonObject{{QStringLiteral("244"), -10005},
                                                                   {QStringLiteral("265"), -10005}}}})));
    QVERIFY(startFleet(devices, 36250, 36251));
    makeTab();
    tick("synchronizationTime");
    QTest::mouseClick(m_tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return m_tab->batchRunning(); }, 30000));
    QCOMPARE(m_tab->tabController()->table()->rowCount(), 6);
    QTest::qWait(1000 + 2500); // the one-second pause, then into the second device
    QStringList macs;
    for (int row = 0; row < 6; ++row)
        macs << cell(row, kMac);
    QElapsedTimer t;
    t.start();
    m_tab.reset();
    const qint64 closeMs = t.elapsed();
    QVERIFY2(closeMs < 5000, qPrintable(QString::number(closeMs)));
    int untouched = 0;
    for (const QString &mac : macs)
        untouched += m_fleet->count(mac, "login") == 0 ? 1 : 0;
    QVERIFY2(untouched >= 2, qPrintable(QString::number(untouched)));
}

void SetOemidE2E::modifyIpReadAtEveryBatch()
{
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(device(QStringLiteral("127.0.126.%1").arg(10 + i), 0x60 + i));
    QVERIFY(startFleet(devices, 36260, 36261));
    makeTab(); // built with the switch off
    tick("synchronizationTime");
    // Switched on after the tab was built: the batch reads it when it starts.
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=20\r\n[OEMID]\r\nAssigned=TAB77\r\n");
    QVERIFY(searchAndSet(2));
    for (int row = 0; row < 2; ++row) {
        const QString ip = QStringLiteral("127.0.126.%1").arg(20 + row);
        QCOMPARE(cell(row, 1), ip);
        QCOMPARE(state(row).value(QStringLiteral("ip")).toString(), ip);
        // Logged in at the new address and set.
        QCOMPARE(status(row), QStringLiteral("set IP success"));
        QCOMPARE(cell(row, kOemid), QStringLiteral("synchronization time successful"));
    }
}

// The record tree on a small tmpfs. Full: no device gets an OEMID whose record could not be kept.
// Out of inodes, so that the day file cannot be made though the OEMID went in: that record is held,
// and no later device gets an OEMID until it is saved. Nothing is ever half-written.
void SetOemidE2E::fullDiskStopsOemidWriting()
{
    const QString disk = m_tmp->filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    const QByteArray where = QFile::encodeName(disk);
    if (::mount("tallow-test", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,nr_inodes=64") !=
        0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs (%1); needs root")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)))));
    m_mounted = where;
    const auto remount = [&where](const char *options) {
        return ::mount("tallow-test", where.constData(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV,
                       options) == 0;
    };

    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.128.%1").arg(10 + i), 0x80 + i));
    QVERIFY(startFleet(devices, 36280, 36281));
    m_tab = std::make_unique<SetOEMID>(nullptr, disk);
    m_tab->show();
    QVERIFY(m_tab->uploadTreeUsable());
    const QDir unupload(disk + QStringLiteral("/oemidupload/unupload"));
    const auto dayBytes = [&unupload] {
        QByteArray all;
        for (const QString &name : unupload.entryList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile f(unupload.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    };
    const auto writes = [this](int row) {
        return state(row)
            .value(QStringLiteral("counts"))
            .toObject()
            .value(QStringLiteral("producerWrite"))
            .toInt(-1);
    };
    tick("setoemid");

    // The disk is full: no device gets an OEMID, each row says why.
    const QString filler = disk + QStringLiteral("/filler");
    {
        QFile f(filler);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray page(4096, 'f');
        while (f.write(page) == page.size()) {
        }
    }
    QVERIFY(searchAndSet(3));
    for (int row = 0; row < 3; ++row) {
        QVERIFY2(status(row).startsWith(QStringLiteral("OEMID not written: no room for factory records in ")),
                 qPrintable(status(row)));
        QCOMPARE(writes(row), 0);
        QCOMPARE(state(row).value(QStringLiteral("oemid")).toString(), QString());
    }
    QCOMPARE(dayBytes(), QByteArray());

    // Room, but no inode for the day file: the first device's record cannot be saved after its
    // OEMID went in. OEMID writing stops, with the message; later devices get none.
    QVERIFY(QFile::remove(filler));
    QVERIFY(remount("nr_inodes=4")); // the root and the tree's three folders
    QVERIFY(searchAndSet(3));
    const QString stopped = QStringLiteral("OEMID writing stopped: factory records cannot be saved (");
    QVERIFY2(status(0).startsWith(QStringLiteral("Creat logfile Failed; ") + stopped), qPrintable(status(0)));
    QCOMPARE(state(0).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));
    QTRY_VERIFY(CMessageBox::shownCount() >= 1);
    QVERIFY2(CMessageBox::lastShown().text.contains(stopped), qPrintable(CMessageBox::lastShown().text));
    for (int row = 1; row < 3; ++row) {
        QVERIFY2(
            status(row).startsWith(QStringLiteral("OEMID not written: 1 factory records cannot be saved")),
            qPrintable(status(row)));
        QCOMPARE(writes(row), 0);
        QCOMPARE(state(row).value(QStringLiteral("oemid")).toString(), QString());
    }
    QCOMPARE(dayBytes(), QByteArray());

    // Room again: the held record is saved before the next OEMID, and the others are written.
    QVERIFY(remount("nr_inodes=64"));
    QVERIFY(searchAndSet(3));
    QCOMPARE(status(0), QStringLiteral("OEMID Repeat(TAB77)"));
    for (int row = 1; row < 3; ++row) {
        QCOMPARE(status(row), QStringLiteral("Set OEMID Success"));
        QCOMPARE(state(row).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));
    }
    QStringList serials;
    for (const QByteArray &l : dayBytes().split('\n')) {
        if (l.trimmed().isEmpty())
            continue;
        QCOMPARE(l.count(','), 5);
        QVERIFY(l.endsWith('\r'));
        serials << QString::fromUtf8(l.left(l.indexOf(',')));
    }
    QCOMPARE(serials, (QStringList{cell(0, 7), cell(1, 7), cell(2, 7)}));
}

void SetOemidE2E::onvifCamerasBesideSdkDevices()
{
    // An NVR, a camera and a camera whose password is not the tab's: the OEMID is written where it
    // can be, a camera says it cannot take one (neither success nor failure) and still gets its clock.
    const QJsonObject camera{{QStringLiteral("protocol"), QStringLiteral("onvif")},
                             {QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}};
    QJsonObject locked = camera;
    locked.insert(QStringLiteral("password"), QStringLiteral("secret"));
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.129.10"), 0x90));
    devices.append(device(QStringLiteral("127.0.129.11"), 0x91, camera));
    devices.append(device(QStringLiteral("127.0.129.12"), 0x92, locked));
    qputenv("TALLOW_NETSDK_ONVIF_PORT", "36293"); // discovery on a port of this test's own
    const auto restore = qScopeGuard([] { qunsetenv("TALLOW_NETSDK_ONVIF_PORT"); });
    QVERIFY(startFleet(devices, 36290, 36291, -1,
                       {QStringLiteral("--onvif-port"), QStringLiteral("36292"),
                        QStringLiteral("--discovery-port"), QStringLiteral("36293")}));
    makeTab();
    tick("setoemid");
    tick("synchronizationTime");
    QVERIFY(searchAndSet(3));
    QMap<QString, int> rowOf;
    for (int row = 0; row < 3; ++row)
        rowOf.insert(cell(row, 1), row);
    const int nvr = rowOf.value(QStringLiteral("127.0.129.10"), -1);
    const int cam = rowOf.value(QStringLiteral("127.0.129.11"), -1);
    const int lockedCam = rowOf.value(QStringLiteral("127.0.129.12"), -1);
    QVERIFY(nvr >= 0 && cam >= 0 && lockedCam >= 0);

    QCOMPARE(status(nvr), QStringLiteral("Set OEMID Success"));
    QCOMPARE(state(nvr).value(QStringLiteral("oemid")).toString(), QStringLiteral("TAB77"));

    QCOMPARE(status(cam), QStringLiteral("Not supported over ONVIF"));
    QCOMPARE(cell(cam, kOemid), QStringLiteral("synchronization time successful"));
    QVERIFY(state(cam).value(QStringLiteral("oemid")).toString().isEmpty());
    QVERIFY(state(cam).contains(QStringLiteral("time"))); // the clock went in UTC

    QCOMPARE(status(lockedCam), QStringLiteral("dev login failed"));
    QVERIFY(!state(lockedCam).contains(QStringLiteral("time")));

    DeviceTable *table = m_tab->tabController()->table();
    QCOMPARE(table->unsupportedRows(), QList<int>{cam});
    QCOMPARE(table->failedRows(), QList<int>{lockedCam});
    // Only the NVR's write leaves a factory record.
    const QStringList lines = dayFileLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().contains(QStringLiteral(",TAB77,")));
}

QTEST_MAIN(SetOemidE2E)
#include "tst_setoemide2e.moc"
