// The logo tab against simulated devices: row clicks, Add by hand, and what the devices got.

#include "devsimfleet.h"
#include "logotestutil.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "app/inifile.h"
#include "configini.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/logindlg.h"
#include "flash/waverun.h"
#include "logo/logorun.h"
#include "logo/logoruncontroller.h"
#include "logo/upgradelogowidget.h"
#include "netsdk/netsdk.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace
{

QJsonObject device(const QString &ip, int n, const QJsonObject &extra = QJsonObject())
{
    QJsonObject d{{QStringLiteral("ip"), ip},
                  {QStringLiteral("mac"), QStringLiteral("00:12:34:80:%1:%2")
                                              .arg(n / 256, 2, 16, QLatin1Char('0'))
                                              .arg(n % 256, 2, 16, QLatin1Char('0'))},
                  {QStringLiteral("serial"), QStringLiteral("logoserial%1").arg(n, 6, 10, QLatin1Char('0'))},
                  {QStringLiteral("password"), QStringLiteral("secret")},
                  {QStringLiteral("upgradeMs"), 600},
                  {QStringLiteral("deviceType"), 4}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d.insert(it.key(), it.value());
    return d;
}

QString macOf(int n)
{
    return QStringLiteral("00:12:34:80:%1:%2")
        .arg(n / 256, 2, 16, QLatin1Char('0'))
        .arg(n % 256, 2, 16, QLatin1Char('0'));
}

// Runs `f` on the login dialog as soon as one is shown (the caller then blocks in exec()).
void onLoginDialog(std::function<void(LoginDlg *)> f)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, f] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dlg = qobject_cast<LoginDlg *>(w);
            if (dlg && dlg->isVisible()) {
                timer->stop();
                timer->deleteLater();
                f(dlg);
                return;
            }
        }
    });
    timer->start();
}

} // namespace

class LogoE2E : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowClickFollowsBuildDateAndAppLinkRecord();
    void rowClickWithAddressChange();
    void addByHandFillsTheLogoRow();
    void modifyBurnsOnePackageIntoEveryDevice();
    void linkTooLongForTheDeviceIsRefused();
    void makeOnlyMakesOnePackagePerDevice();
    void unreadablePartitionMovesToTheNextDevice();
    void squashfsDevice();
    void oemidWithTheLogoTexts();
    void checkDevicesReadsWhatTheBurnReads();
    void menuCommandEndsTheRowLogin_data();
    void menuCommandEndsTheRowLogin();
    void newRunWhileRunning();
    void clicksDuringAProbeOrARunAreAnswered();
    void searchRefusedDuringABurn();
    void burnOwnsItsSession();
    void closeDuringARun();
    void wavesHaltAfterAFailedBurn_data();
    void wavesHaltAfterAFailedBurn();
    void onvifCameraIsNotSupportedWhileTheOthersBurn();

private:
    bool startTab(const QJsonArray &devices, int port, int searchPort, const QStringList &extraArgs = {});
    bool search(int expectedRows);
    bool click(int row);
    QString cell(int row, int column) const;
    template <typename T> T *child(const char *name) const
    {
        return m_tab->findChild<T *>(QLatin1String(name));
    }
    void writeIni(const QByteArray &text);
    void tickAll();
    QString choosePictures(bool all);
    bool waitForRun(int timeoutMs);
    QStringList statuses() const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<DevsimFleet> m_fleet;
    std::unique_ptr<UpgradeLogoWidget> m_tab;
};

void LogoE2E::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nStartIndex=20\r\n");
    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
}

void LogoE2E::cleanup()
{
    m_tab.reset();
    m_fleet.reset();
    ConfigKeys::setConfigPath(QString());
    CMessageBox::resetTestHooks();
}

void LogoE2E::writeIni(const QByteArray &text)
{
    QVERIFY(useConfigIni(m_tmp->filePath(QStringLiteral("Config.ini")), text));
}

bool LogoE2E::startTab(const QJsonArray &devices, int port, int searchPort, const QStringList &extraArgs)
{
    m_fleet = std::make_unique<DevsimFleet>();
    if (!m_fleet->start(devices, port, searchPort, -1, extraArgs)) {
        qWarning() << m_fleet->error();
        return false;
    }
    H264_DVR_SetSearchPort(quint16(searchPort));
    m_tab = std::make_unique<UpgradeLogoWidget>();
    m_tab->setDataDirectory(m_tmp->path());
    m_tab->show();
    return true;
}

bool LogoE2E::search(int expectedRows)
{
    child<QPushButton>("SearchButton")->click();
    DeviceTabController *core = m_tab->tabController();
    return QTest::qWaitFor([&] { return !core->searching() && core->table()->rowCount() >= expectedRows; },
                           15000) &&
           core->table()->rowCount() == expectedRows;
}

bool LogoE2E::click(int row)
{
    QSignalSpy done(m_tab.get(), &UpgradeLogoWidget::probeFinished);
    auto *view = child<QTableView>("tableView");
    emit view->clicked(m_tab->tabController()->table()->model()->index(row, 1));
    return done.wait(15000) && done.count() == 1 && done.at(0).at(0).toInt() == row;
}

QString LogoE2E::cell(int row, int column) const
{
    return m_tab->tabController()->table()->model()->index(row, column).data().toString();
}

void LogoE2E::rowClickFollowsBuildDateAndAppLinkRecord()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.80.10"), 0x10,
                          {{QStringLiteral("buildDate"), QStringLiteral("2020-01-12")}}));
    devices.append(device(
        QStringLiteral("127.0.80.11"), 0x11,
        {{QStringLiteral("buildDate"), QStringLiteral("2020-01-13")}, {QStringLiteral("appLinkIos"), true}}));
    devices.append(device(QStringLiteral("127.0.80.12"), 0x12,
                          {{QStringLiteral("buildDate"), QStringLiteral("2023-06-01")},
                           {QStringLiteral("appLinkIos"), false}}));
    devices.append(
        device(QStringLiteral("127.0.80.13"), 0x13,
               {{QStringLiteral("buildDate"), QStringLiteral("2021-01-01")},
                {QStringLiteral("faults"),
                 QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("186"), -10002}}}}}}));
    devices.append(
        device(QStringLiteral("127.0.80.14"), 0x14, {{QStringLiteral("password"), QStringLiteral("other")}}));
    QVERIFY(startTab(devices, 35800, 35801));
    QVERIFY(search(5));
    child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));

    auto *group = child<QGroupBox>("groupBoxLink");
    auto *iosLabel = child<QLabel>("labelIOS");
    auto *android = child<QLabel>("labelAndroid");
    QVERIFY(!group->isEnabled());

    // 2020-01-13 and later: links; the iOS row from the record's first byte.
    QVERIFY(click(1));
    QCOMPARE(cell(1, 3), QStringLiteral("Login Success"));
    QVERIFY(group->isEnabled());
    QVERIFY(m_tab->appLinksSupported());
    QVERIFY(iosLabel->isVisible());
    QCOMPARE(android->text(), QStringLiteral("Android App Link"));
    QCOMPARE(m_fleet->count(macOf(0x11), "appLinkRead"), 1);

    // 2020-01-12: no links, and the device is not asked for its app-link record at all.
    QVERIFY(click(0));
    QCOMPARE(cell(0, 3), QStringLiteral("Login Success"));
    QVERIFY(!group->isEnabled());
    QVERIFY(!m_tab->appLinksSupported());
    QCOMPARE(m_fleet->count(macOf(0x10), "appLinkRead"), 0);

    QVERIFY(click(2));
    QVERIFY(group->isEnabled());
    QVERIFY(!iosLabel->isVisible());
    QVERIFY(!child<QLineEdit>("lineEditIOS")->isVisible());
    QCOMPARE(android->text(), QStringLiteral("App Link"));

    // Each probe logged its device out again.
    for (int row = 0; row < 3; ++row)
        QCOMPARE(m_tab->tabController()
                     ->table()
                     ->store()
                     .record(m_tab->tabController()->table()->generation(), row)
                     .value()
                     .lLoginID,
                 0);

    // A refused app-link read: the text with the SDK's code, and the device stays logged in.
    QVERIFY(click(3));
    QCOMPARE(cell(3, 3), QStringLiteral("Get applink information failed,ErrorCode:-10002"));
    QVERIFY(m_tab->tabController()
                ->table()
                ->store()
                .record(m_tab->tabController()->table()->generation(), 3)
                .value()
                .lLoginID > 0);

    // A wrong password: the login text, nothing else changes.
    QVERIFY(click(4));
    QCOMPARE(cell(4, 3), QStringLiteral("Password is error"));
    QCOMPARE(m_fleet->count(macOf(0x14), "appLinkRead"), 0);

    // A new search disables the link group again.
    child<QPushButton>("SearchButton")->click();
    QVERIFY(!group->isEnabled());
    QVERIFY(QTest::qWaitFor([this] { return !m_tab->tabController()->searching(); }, 15000));
}

void LogoE2E::rowClickWithAddressChange()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=1\r\nStartIndex=40\r\n");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.81.10"), 0x20));
    QVERIFY(startTab(devices, 35810, 35811));
    QVERIFY(search(1));
    child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));
    QVERIFY(click(0));
    // Row 0 + start index 40: the device moved first, and the login went to its new address.
    QCOMPARE(cell(0, 1), QStringLiteral("127.0.81.40"));
    QCOMPARE(cell(0, 3), QStringLiteral("Login Success"));
    QCOMPARE(m_fleet->state(macOf(0x20)).value(QStringLiteral("ip")).toString(),
             QStringLiteral("127.0.81.40"));
    QCOMPARE(m_fleet->count(macOf(0x20), "login"), 1);
}

void LogoE2E::addByHandFillsTheLogoRow()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.82.10"), 0x30,
                          {{QStringLiteral("deviceType"), 1},
                           {QStringLiteral("gateway"), QStringLiteral("127.0.82.1")},
                           {QStringLiteral("buildDate"), QStringLiteral("2022-02-03")}}));
    QVERIFY(startTab(devices, 35820, 35821));
    QSignalSpy sent(m_tab.get(), &UpgradeLogoWidget::sendDevInfoSignal);
    onLoginDialog([](LoginDlg *dlg) {
        dlg->ipEdit()->setText(QStringLiteral("127.0.82.10"));
        dlg->portEdit()->setText(QStringLiteral("35820"));
        dlg->passwordEdit()->setText(QStringLiteral("secret"));
        dlg->okButton()->click();
    });
    child<QPushButton>("addBtn")->click();

    QCOMPARE(m_tab->tabController()->table()->rowCount(), 1);
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 1), QStringLiteral("127.0.82.10"));
    QCOMPARE(cell(0, 2), QStringLiteral("NVR")); // type 1 of the login's table
    QCOMPARE(cell(0, 3), QStringLiteral("Login Success"));
    QCOMPARE(cell(0, 4), QStringLiteral("127.0.82.1"));
    QCOMPARE(cell(0, 5), QStringLiteral("logoserial000048"));
    QVERIFY(!cell(0, 6).isEmpty());
    QCOMPARE(cell(0, 7), QStringLiteral("2022-02-03"));
    QCOMPARE(Qt::CheckState(
                 m_tab->tabController()->table()->model()->index(0, 0).data(Qt::CheckStateRole).toInt()),
             Qt::Unchecked);
    QCOMPARE(sent.count(), 1);
    const DEV_INFO rec = m_tab->tabController()
                             ->table()
                             ->store()
                             .record(m_tab->tabController()->table()->generation(), 0)
                             .value();
    QCOMPARE(QByteArray(rec.szCloudID), QByteArray("logoserial000048"));
    QVERIFY(rec.lLoginID > 0);
    QCOMPARE(child<QTableView>("tableView")->selectionModel()->selectedRows().value(0).row(), 0);
}

void LogoE2E::tickAll()
{
    DeviceTable *table = m_tab->tabController()->table();
    for (int r = 0; r < table->rowCount(); ++r)
        table->setChecked(r, true);
    child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));
}

QString LogoE2E::choosePictures(bool all)
{
    const QString boot = m_tmp->filePath(QStringLiteral("boot.jpg"));
    logotest::writeFile(boot, logotest::makeJpeg(800, 600));
    child<QLineEdit>("lineEditBoot")->setText(boot);
    if (all) {
        const QString close = m_tmp->filePath(QStringLiteral("close.jpg"));
        const QString loss = m_tmp->filePath(QStringLiteral("loss.gif"));
        const QString blind = m_tmp->filePath(QStringLiteral("blind.gif"));
        logotest::writeFile(close, logotest::makeJpeg(320, 240));
        logotest::writeFile(
            loss, logotest::makeGif(200, 100, std::vector<uint8_t>(20000, 1), logotest::greyPalette(4)));
        logotest::writeFile(
            blind, logotest::makeGif(200, 100, std::vector<uint8_t>(20000, 2), logotest::greyPalette(4)));
        child<QLineEdit>("lineEditClose")->setText(close);
        child<QLineEdit>("lineEditLoss")->setText(loss);
        child<QLineEdit>("lineEditBlind")->setText(blind);
    }
    return boot;
}

bool LogoE2E::waitForRun(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] {
            const auto run = m_tab->currentRun();
            return run && !m_tab->running() && run->done() == run->total();
        },
        timeoutMs);
}

QStringList LogoE2E::statuses() const
{
    QStringList out;
    for (int r = 0; r < m_tab->tabController()->table()->rowCount(); ++r)
        out << cell(r, 3);
    return out;
}

void LogoE2E::modifyBurnsOnePackageIntoEveryDevice()
{
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.83.%1").arg(10 + i), 0x40 + i));
    QVERIFY(startTab(devices, 35830, 35831));
    QVERIFY(search(3));
    tickAll();
    const QString boot = choosePictures(true);
    child<QLineEdit>("lineEditAndroid")->setText(QStringLiteral("https://play.example/app"));
    QSignalSpy released(m_tab.get(), &UpgradeLogoWidget::releaseMouseSignal);
    child<QPushButton>("btnModify")->click();
    QTRY_COMPARE(m_tab->cursor().shape(), Qt::WaitCursor); // once the pictures passed their check
    QVERIFY(waitForRun(60000));
    QCOMPARE(statuses(), QStringList(3, QStringLiteral("Upgrade Success")));
    QTRY_COMPARE(released.count(), 1);
    QCOMPARE(m_tab->cursor().shape(), Qt::ArrowCursor);

    // One package, made from the first device's partition record, burnt into all three.
    QCOMPARE(m_tab->currentRun()->made().size(), 1);
    QCOMPARE(QDir(m_tmp->filePath(QStringLiteral("LogoBinTmp"))).entryList(QDir::Files),
             QStringList{QStringLiteral("HI3520D-NVR_Logo.bin")});
    const QByteArray picture = logotest::readFile(boot);
    for (int i = 0; i < 3; ++i) {
        const QString mac = macOf(0x40 + i);
        QCOMPARE(m_fleet->count(mac, "partInfoRead"), i == 0 ? 1 : 0);
        const QJsonObject last = m_fleet->state(mac).value(QStringLiteral("lastUpgrade")).toObject();
        QCOMPARE(last.value(QStringLiteral("kind")).toString(), QStringLiteral("logo"));
        QCOMPARE(last.value(QStringLiteral("result")).toInt(-1), 0);
        QCOMPARE(m_fleet->file(mac, QStringLiteral("logo/h264dvr.jpg")), picture);
        QVERIFY(m_fleet->hasFile(mac, QStringLiteral("logo/Colse/close.jpg")));
        QVERIFY(m_fleet->hasFile(mac, QStringLiteral("logo/VideoLoss/videoLoss.gif")));
        QVERIFY(m_fleet->hasFile(mac, QStringLiteral("logo/VideoBlank/blind.gif")));
        // Links were wanted but no clicked device said it takes them: no app-link file.
        QVERIFY(!m_fleet->hasFile(mac, QStringLiteral("logo/AppDowloadLink.custom")));
        // Every login of the run is over: the device restarted after its burn.
        QCOMPARE(m_tab->tabController()
                     ->table()
                     ->store()
                     .record(m_tab->tabController()->table()->generation(), i)
                     .value()
                     .lLoginID,
                 0);
    }
    // The links were stored when Modify started.
    QCOMPARE(IniFile(m_tmp->filePath(QStringLiteral("Config.ini"))).value(QStringLiteral("AppLink/Android")),
             QStringLiteral("https://play.example/app"));
}

void LogoE2E::linkTooLongForTheDeviceIsRefused()
{
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.99.10"), 0x30,
                          {{QStringLiteral("buildDate"), QStringLiteral("2022-05-01")},
                           {QStringLiteral("appLinkIos"), false}}));
    QVERIFY(startTab(devices, 35990, 35991));
    QVERIFY(search(1));
    tickAll();
    QVERIFY(click(0)); // the device takes links
    QVERIFY(m_tab->appLinksSupported());
    choosePictures(false);
    const QString link = QStringLiteral("https://play.example/") + QString(280, QLatin1Char('a'));
    child<QLineEdit>("lineEditAndroid")->setText(link);
    const int shown = CMessageBox::shownCount();
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_tab->running(), 20000);
    QCOMPARE(CMessageBox::shownCount(), shown + 1);
    QCOMPARE(CMessageBox::lastShown().text,
             QStringLiteral("The Android app link is too long for the device: 301 bytes, at most 255. Please "
                            "shorten it."));
    QCOMPARE(m_fleet->count(macOf(0x30), "upgrade"), 0);
    QVERIFY(!m_fleet->hasFile(macOf(0x30), QStringLiteral("logo/AppDowloadLink.custom")));
    // The form's link is kept whole in Config.ini all the same.
    QCOMPARE(IniFile(m_tmp->filePath(QStringLiteral("Config.ini"))).value(QStringLiteral("AppLink/Android")),
             link);
    QCOMPARE(m_tab->cursor().shape(), Qt::ArrowCursor);
}

void LogoE2E::makeOnlyMakesOnePackagePerDevice()
{
    QJsonArray devices;
    const char *dates[] = {"2021-02-03", "2022-11-30", "2020-01-13"};
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.84.%1").arg(10 + i), 0x50 + i,
                              {{QStringLiteral("buildDate"), QLatin1String(dates[i])},
                               {QStringLiteral("version"), QStringLiteral("V4.%1").arg(i)},
                               {QStringLiteral("hardware"), QStringLiteral("HW-%1").arg(i)}}));
    QVERIFY(startTab(devices, 35840, 35841));
    QVERIFY(search(3));
    tickAll();
    choosePictures(false);
    QStringList shown;
    m_tab->setShowPackage([&shown](const QString &path) { shown << path; });
    child<QPushButton>("btnGeneral")->click();
    QVERIFY(waitForRun(60000));
    QTRY_COMPARE(shown.size(), 3);
    const QString dir = m_tmp->filePath(QStringLiteral("LogoBin"));
    const QStringList expected{dir + QStringLiteral("/HW-0_V4.0_2021-02-03_Logo.bin"),
                               dir + QStringLiteral("/HW-1_V4.1_2022-11-30_Logo.bin"),
                               dir + QStringLiteral("/HW-2_V4.2_2020-01-13_Logo.bin")};
    QCOMPARE(shown, expected);
    for (const QString &path : expected)
        QVERIFY2(QFileInfo(path).size() > 0, qPrintable(path));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(m_fleet->count(macOf(0x50 + i), "upgrade"), 0);
        QCOMPARE(m_fleet->count(macOf(0x50 + i), "partInfoRead"), 1);
        QCOMPARE(m_tab->tabController()
                     ->table()
                     ->store()
                     .record(m_tab->tabController()->table()->generation(), i)
                     .value()
                     .lLoginID,
                 0);
    }
    // Nothing is burnt, so the links are not stored either.
    QCOMPARE(IniFile(m_tmp->filePath(QStringLiteral("Config.ini"))).value(QStringLiteral("AppLink/Android")),
             QString());
}

void LogoE2E::unreadablePartitionMovesToTheNextDevice()
{
    QJsonArray devices;
    devices.append(
        device(QStringLiteral("127.0.85.10"), 0x60,
               {{QStringLiteral("faults"),
                 QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("61"), -10002}}}}}}));
    devices.append(device(QStringLiteral("127.0.85.11"), 0x61));
    devices.append(device(QStringLiteral("127.0.85.12"), 0x62));
    QVERIFY(startTab(devices, 35850, 35851));
    QVERIFY(search(3));
    tickAll();
    choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QVERIFY(waitForRun(60000));
    QCOMPARE(statuses(), (QStringList{QStringLiteral("Get Upgrade information failed,ErrorCode:-10002"),
                                      QStringLiteral("Upgrade Success"), QStringLiteral("Upgrade Success")}));
    QCOMPARE(m_fleet->count(macOf(0x60), "upgrade"), 0);
    QCOMPARE(m_fleet->count(macOf(0x61), "partInfoRead"), 1);
    QCOMPARE(m_fleet->count(macOf(0x62), "partInfoRead"), 0);
    QCOMPARE(m_tab->tabController()
                 ->table()
                 ->store()
                 .record(m_tab->tabController()->table()->generation(), 0)
                 .value()
                 .lLoginID,
             0);
    // The burn's own failure text, code and all, is what "Select failed" picks.
    QCOMPARE(m_tab->tabController()->tableActions()->selectFailed(), QList<int>{0});
}

void LogoE2E::squashfsDevice()
{
    if (QStandardPaths::findExecutable(QStringLiteral("mksquashfs")).isEmpty())
        QSKIP("mksquashfs is not installed");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.86.10"), 0x70,
                          {{QStringLiteral("logoFsType"), QStringLiteral("squashfs")}}));
    QVERIFY(startTab(devices, 35860, 35861));
    QVERIFY(search(1));
    tickAll();
    const QString boot = choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QVERIFY(waitForRun(60000));
    QCOMPARE(statuses(), QStringList{QStringLiteral("Upgrade Success")});
    const QJsonObject last = m_fleet->state(macOf(0x70)).value(QStringLiteral("lastUpgrade")).toObject();
    QCOMPARE(last.value(QStringLiteral("fsType")).toString(), QStringLiteral("squashfs"));
    if (!QStandardPaths::findExecutable(QStringLiteral("unsquashfs")).isEmpty())
        QCOMPARE(m_fleet->file(macOf(0x70), QStringLiteral("logo/h264dvr.jpg")), logotest::readFile(boot));
}

void LogoE2E::oemidWithTheLogoTexts()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=ACME01\r\nSetEn=1\r\nRepeatEn=0\r\n");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.87.10"), 0x80));
    devices.append(
        device(QStringLiteral("127.0.87.11"), 0x81, {{QStringLiteral("oemid"), QStringLiteral("OLD1")}}));
    devices.append(
        device(QStringLiteral("127.0.87.12"), 0x82,
               {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("producerGetRet"), 105}}}}));
    QVERIFY(startTab(devices, 35870, 35871));
    QVERIFY(child<QCheckBox>("checkBoxSetOEMID")->isChecked());
    QVERIFY(search(3));
    tickAll();
    choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QTRY_COMPARE(child<QLabel>("labelOEMID")->text(), QStringLiteral("ACME01"));
    QVERIFY(waitForRun(60000));
    QCOMPARE(statuses(), (QStringList{QStringLiteral("Upgrade Success"), QStringLiteral("OEMID Repeat(OLD1)"),
                                      QStringLiteral("Get Dev OEMID Error err 3 105")}));
    QCOMPARE(m_fleet->state(macOf(0x80)).value(QStringLiteral("oemid")).toString(), QStringLiteral("ACME01"));
    QCOMPARE(m_fleet->state(macOf(0x81)).value(QStringLiteral("oemid")).toString(), QStringLiteral("OLD1"));
    QCOMPARE(m_fleet->count(macOf(0x81), "upgrade"), 0);
    QCOMPARE(m_fleet->count(macOf(0x82), "upgrade"), 0);
    // The verified write left its factory record.
    QVERIFY(!QDir(m_tmp->filePath(QStringLiteral("oemidupload/unupload"))).entryList(QDir::Files).isEmpty());

    // Allowed repeats: the device with an OEMID gets the new one.
    child<QCheckBox>("checkBoxRepeat")->setChecked(true);
    m_tab->tabController()->table()->setChecked(0, false);
    m_tab->tabController()->table()->setChecked(2, false);
    child<QPushButton>("btnModify")->click();
    QVERIFY(waitForRun(60000));
    QCOMPARE(cell(1, 3), QStringLiteral("Upgrade Success"));
    QCOMPARE(m_fleet->state(macOf(0x81)).value(QStringLiteral("oemid")).toString(), QStringLiteral("ACME01"));
}

void LogoE2E::checkDevicesReadsWhatTheBurnReads()
{
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=ACME01\r\nSetEn=1\r\nRepeatEn=0\r\n");
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.94.10"), 0xc0));
    devices.append(
        device(QStringLiteral("127.0.94.11"), 0xc1, {{QStringLiteral("oemid"), QStringLiteral("OLD1")}}));
    devices.append(
        device(QStringLiteral("127.0.94.12"), 0xc2,
               {{QStringLiteral("faults"), QJsonObject{{QStringLiteral("producerGetRet"), 105}}}}));
    devices.append(
        device(QStringLiteral("127.0.94.13"), 0xc3,
               {{QStringLiteral("faults"),
                 QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("61"), -10002}}}}}}));
    devices.append(
        device(QStringLiteral("127.0.94.14"), 0xc4, {{QStringLiteral("password"), QStringLiteral("other")}}));
    QVERIFY(startTab(devices, 35940, 35941));
    QVERIFY(search(5));
    tickAll();
    std::unique_ptr<QMenu> menu(m_tab->tabController()->tableActions()->createMenu(-1));
    QAction *check = menu->findChild<QAction *>(QStringLiteral("checkDevices"));
    QVERIFY(check && check->isEnabled());
    check->trigger();
    QVERIFY(m_tab->running());
    QVERIFY(QTest::qWaitFor([this] { return !m_tab->running(); }, 60000));
    m_tab->tabController()->table()->flushPending();
    // The texts the burn shows for such devices (see oemidWithTheLogoTexts and
    // unreadablePartitionMovesToTheNextDevice), found without making or sending anything.
    QCOMPARE(statuses(), (QStringList{QStringLiteral("Ready"), QStringLiteral("OEMID Repeat(OLD1)"),
                                      QStringLiteral("Get Dev OEMID Error err 3 105"),
                                      QStringLiteral("Get Upgrade information failed,ErrorCode:-10002"),
                                      QStringLiteral("Password is error")}));
    // "Select failed" ticks exactly the devices the check found wanting, whatever their texts carry.
    QCOMPARE(m_tab->tabController()->tableActions()->selectFailed(), (QList<int>{1, 2, 3, 4}));
    QCOMPARE(m_tab->tabController()->table()->checkedRows(), (QList<int>{1, 2, 3, 4}));
    QCOMPARE(CMessageBox::shownCount(), 0);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(m_fleet->count(macOf(0xc0 + i), "upgrade"), 0);
        QCOMPARE(m_fleet->count(macOf(0xc0 + i), "producerWrite"), 0);
        QVERIFY(m_tab->tabController()
                    ->table()
                    ->store()
                    .record(m_tab->tabController()->table()->generation(), i)
                    .value()
                    .lLoginID <= 0);
    }
    QVERIFY(QDir(m_tmp->filePath(QStringLiteral("LogoBin"))).entryList(QDir::Files).isEmpty());
}

void LogoE2E::menuCommandEndsTheRowLogin_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::newRow("reset") << QStringLiteral("resetConfig") << QStringLiteral("Reset Config Successfully")
                           << QStringLiteral("reset");
    QTest::newRow("reboot") << QStringLiteral("reboot") << QStringLiteral("Reboot Successfully")
                            << QStringLiteral("reboot");
}

void LogoE2E::menuCommandEndsTheRowLogin()
{
    // A row click whose app-link read fails leaves its login in the row. A reset or reboot from the
    // menu ends that session, so the next click logs in again instead of using a dead handle.
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(QString, count);
    QJsonArray devices;
    devices.append(
        device(QStringLiteral("127.0.97.10"), 0xf0,
               {{QStringLiteral("buildDate"), QStringLiteral("2021-01-01")},
                {QStringLiteral("rebootMs"), 300},
                {QStringLiteral("faults"),
                 QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("186"), -10002}}}}}}));
    QVERIFY(startTab(devices, 35970, 35971));
    QVERIFY(search(1));
    tickAll();
    DeviceTable *table = m_tab->tabController()->table();
    QVERIFY(click(0));
    QVERIFY(table->store().record(table->generation(), 0).value().lLoginID > 0);
    QCOMPARE(m_fleet->count(macOf(0xf0), "login"), 1);

    DeviceTableActions *actions = m_tab->tabController()->tableActions();
    QSignalSpy done(actions, &DeviceTableActions::commandFinished);
    std::unique_ptr<QMenu> menu(actions->createMenu(0));
    menu->findChild<QAction *>(action)->trigger();
    QVERIFY(done.wait(30000));
    table->flushPending();
    QCOMPARE(cell(0, 3), text);
    QCOMPARE(m_fleet->count(macOf(0xf0), count.toLatin1().constData()), 1);
    QCOMPARE(table->store().record(table->generation(), 0).value().lLoginID, 0);

    // A click while the device is still away from its reboot fails its login; the next one counts.
    QVERIFY(QTest::qWaitFor([this] { return click(0) && m_fleet->count(macOf(0xf0), "login") == 2; }, 20000));
    QCOMPARE(cell(0, 3), QStringLiteral("Get applink information failed,ErrorCode:-10002"));
}

void LogoE2E::newRunWhileRunning()
{
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.88.%1").arg(10 + i), 0x90 + i,
                              {{QStringLiteral("upgradeMs"), 1500}}));
    QVERIFY(startTab(devices, 35880, 35881));
    QVERIFY(search(3));
    child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));
    choosePictures(false);
    DeviceTable *table = m_tab->tabController()->table();
    table->setChecked(0, true);
    table->setChecked(1, true);
    QSignalSpy released(m_tab.get(), &UpgradeLogoWidget::releaseMouseSignal);
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY(m_tab->currentRun());
    const auto first = m_tab->currentRun();
    // The first device is being made and burnt; the second waits for its turn a second later.
    QVERIFY(QTest::qWaitFor(
        [this] {
            const QString s = cell(0, 3);
            return s == QLatin1String("Start Upgrade") || s.startsWith(QLatin1String("Send")) ||
                   s.startsWith(QLatin1String("Upgrade Progress"));
        },
        10000));
    table->setChecked(0, false);
    table->setChecked(1, false);
    table->setChecked(2, true);
    const int shown = CMessageBox::shownCount();
    child<QPushButton>("btnModify")->click();
    // Held until the first device's burn ends, and the operator is told so.
    QTRY_COMPARE(CMessageBox::shownCount(), shown + 1);
    QCOMPARE(
        CMessageBox::lastShown().text,
        QStringLiteral("The devices already started are still being burnt. This run starts when they have "
                       "finished."));
    const auto second = m_tab->currentRun();
    QVERIFY(second != first);
    QVERIFY(first->superseded());
    QCOMPARE(second->total(), 1);
    QVERIFY(waitForRun(60000));
    QTRY_COMPARE(cell(0, 3), QStringLiteral("Upgrade Success"));
    QCOMPARE(cell(2, 3), QStringLiteral("Upgrade Success"));
    // The device still waiting in the replaced run was dropped.
    QCOMPARE(m_fleet->count(macOf(0x91), "upgrade"), 0);
    QCOMPARE(m_fleet->count(macOf(0x91), "login"), 0);
    // The new run made its own package; the cursor came back once, for the new run.
    QCOMPARE(second->made().size(), 1);
    QTRY_COMPARE(released.count(), 1);
    QCOMPARE(m_tab->cursor().shape(), Qt::ArrowCursor);
}

void LogoE2E::clicksDuringAProbeOrARunAreAnswered()
{
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(device(QStringLiteral("127.0.98.%1").arg(10 + i), 0xb0 + i,
                              {{QStringLiteral("upgradeMs"), 3000}}));
    QVERIFY(startTab(devices, 35980, 35981));
    QVERIFY(search(2));
    tickAll();
    DeviceTable *table = m_tab->tabController()->table();
    auto *view = child<QTableView>("tableView");
    const QString probeBusy =
        QStringLiteral("A device is still being logged in. Please wait for its result, then click again.");
    const QString runBusy =
        QStringLiteral("A logo run is still going. Please wait until every device has finished.");

    // A click on another row while the first one's login is under way.
    QSignalSpy probed(m_tab.get(), &UpgradeLogoWidget::probeFinished);
    emit view->clicked(table->model()->index(0, 1));
    QVERIFY(m_tab->probing());
    const int shown = CMessageBox::shownCount();
    emit view->clicked(table->model()->index(1, 1));
    QCOMPARE(CMessageBox::shownCount(), shown + 1);
    QCOMPARE(CMessageBox::lastShown().text, probeBusy);
    QVERIFY(probed.wait(15000));
    QCOMPARE(probed.count(), 1);
    QCOMPARE(probed.at(0).at(0).toInt(), 0);
    QCOMPARE(m_fleet->count(macOf(0xb1), "login"), 0);

    // A row click during a burn; the menu's "Check devices" is greyed meanwhile.
    table->setChecked(1, false);
    choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY_WITH_TIMEOUT(cell(0, 3).startsWith(QLatin1String("Upgrade Progress:")), 20000);
    emit view->clicked(table->model()->index(1, 1));
    QCOMPARE(CMessageBox::shownCount(), shown + 2);
    QCOMPARE(CMessageBox::lastShown().text, runBusy);
    QVERIFY(!m_tab->probing());
    std::unique_ptr<QMenu> menu(m_tab->tabController()->tableActions()->createMenu(-1));
    QAction *check = menu->findChild<QAction *>(QStringLiteral("checkDevices"));
    QVERIFY(check && !check->isEnabled()); // greyed while the run goes on
    QVERIFY(waitForRun(60000));
    QCOMPARE(m_fleet->count(macOf(0xb1), "login"), 0);
    QCOMPARE(probed.count(), 1);
}

void LogoE2E::searchRefusedDuringABurn()
{
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(device(QStringLiteral("127.0.95.%1").arg(10 + i), 0xd0 + i,
                              {{QStringLiteral("upgradeMs"), 3000}}));
    QVERIFY(startTab(devices, 35950, 35951));
    QVERIFY(search(2));
    tickAll();
    const QString boot = choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY_WITH_TIMEOUT(cell(0, 3).startsWith(QLatin1String("Upgrade Progress:")), 20000);
    const quint64 generation = m_tab->tabController()->table()->generation();
    const int shownBefore = CMessageBox::shownCount();
    child<QPushButton>("SearchButton")->click();
    QCOMPARE(CMessageBox::shownCount(), shownBefore + 1);
    QCOMPARE(CMessageBox::lastShown().text,
             QStringLiteral("A logo run is still going. Please wait until every device has finished."));
    QVERIFY(!m_tab->tabController()->searching());
    QCOMPARE(m_tab->tabController()->table()->generation(), generation);
    QVERIFY(waitForRun(60000));
    m_tab->tabController()->table()->flushPending();
    QCOMPARE(statuses(), QStringList(2, QStringLiteral("Upgrade Success")));
    for (int i = 0; i < 2; ++i) {
        const QJsonObject last =
            m_fleet->state(macOf(0xd0 + i)).value(QStringLiteral("lastUpgrade")).toObject();
        QCOMPARE(last.value(QStringLiteral("result")).toInt(-1), 0);
        QCOMPARE(m_fleet->file(macOf(0xd0 + i), QStringLiteral("logo/h264dvr.jpg")),
                 logotest::readFile(boot));
    }
    // After the run a search goes ahead.
    QVERIFY(search(2));
}

void LogoE2E::burnOwnsItsSession()
{
    // The rows hold no session of a running burn: clearing the table mid-transfer (as a search
    // would) logs nothing out, and the devices still get their logo.
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.96.10"), 0xe0, {{QStringLiteral("upgradeMs"), 3000}}));
    devices.append(
        device(QStringLiteral("127.0.96.11"), 0xe1,
               {{QStringLiteral("upgradeMs"), 3000},
                {QStringLiteral("buildDate"), QStringLiteral("2021-01-01")},
                {QStringLiteral("faults"),
                 QJsonObject{{QStringLiteral("results"), QJsonObject{{QStringLiteral("186"), -10002}}}}}}));
    QVERIFY(startTab(devices, 35960, 35961));
    QVERIFY(search(2));
    tickAll();
    // A row click leaves the second device logged in (its app-link read failed): the run takes that
    // session over.
    DeviceTable *table = m_tab->tabController()->table();
    QVERIFY(click(1));
    QVERIFY(table->store().record(table->generation(), 1).value().lLoginID > 0);
    const QString boot = choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY_WITH_TIMEOUT(cell(0, 3).startsWith(QLatin1String("Upgrade Progress:")) &&
                                 cell(1, 3).startsWith(QLatin1String("Upgrade Progress:")),
                             20000);
    for (int i = 0; i < 2; ++i)
        QCOMPARE(table->store().record(table->generation(), i).value().lLoginID, 0);
    QCOMPARE(m_fleet->count(macOf(0xe1), "login"), 1);
    table->clear();
    QVERIFY(QTest::qWaitFor([this] { return !m_tab->running(); }, 60000));
    for (int i = 0; i < 2; ++i) {
        const QJsonObject last =
            m_fleet->state(macOf(0xe0 + i)).value(QStringLiteral("lastUpgrade")).toObject();
        QCOMPARE(last.value(QStringLiteral("result")).toInt(-1), 0);
        QCOMPARE(m_fleet->file(macOf(0xe0 + i), QStringLiteral("logo/h264dvr.jpg")),
                 logotest::readFile(boot));
    }
}

void LogoE2E::closeDuringARun()
{
    QJsonArray devices;
    for (int i = 0; i < 3; ++i)
        devices.append(device(QStringLiteral("127.0.89.%1").arg(10 + i), 0xa0 + i,
                              {{QStringLiteral("upgradeMs"), 20000}}));
    QVERIFY(startTab(devices, 35890, 35891));
    QVERIFY(search(3));
    tickAll();
    choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QTRY_VERIFY_WITH_TIMEOUT(cell(1, 3).startsWith(QLatin1String("Upgrade Progress:")), 20000);
    H264_DVR_Init(nullptr, 0); // the test's own session outlives the tab's
    QElapsedTimer clock;
    clock.start();
    m_tab.reset(); // waits for the jobs, closes the running burns, logs every device out
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    // The devices are free again: a fresh login works on each.
    for (int i = 0; i < 3; ++i) {
        H264_DVR_DEVICEINFO info{};
        int error = 0;
        const QByteArray ip = QStringLiteral("127.0.89.%1").arg(10 + i).toLatin1();
        const long id = H264_DVR_Login(ip.constData(), 35890, "admin", "secret", &info, 1, &error);
        QVERIFY2(id > 0, qPrintable(QString::number(error)));
        H264_DVR_Logout(id);
    }
    H264_DVR_Cleanup();
}

void LogoE2E::wavesHaltAfterAFailedBurn_data()
{
    QTest::addColumn<bool>("firstFails");
    QTest::newRow("first wave's burn fails") << true;
    QTest::newRow("no fault") << false;
}

void LogoE2E::wavesHaltAfterAFailedBurn()
{
    QFETCH(bool, firstFails);
    writeIni("[UpgradeInfo]\r\nModifyIP=0\r\nStartSpacingMs=0\r\n"
             "[Waves]\r\nEnabled=1\r\nFirst=1\r\nGrowth=x2\r\nHalt=1\r\n");
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 1; }); // "Stop"
    QJsonArray devices;
    for (int i = 0; i < 3; ++i) {
        QJsonObject extra;
        if (i == 0 && firstFails)
            extra.insert(QStringLiteral("faults"), QJsonObject{{QStringLiteral("upgradeResult"), -11805}});
        devices.append(device(QStringLiteral("127.0.89.%1").arg(10 + i), 0x90 + i, extra));
    }
    const int port = firstFails ? 35970 : 35980;
    QVERIFY(startTab(devices, port, port + 1));
    QVERIFY(child<QCheckBox>("wavesCheck")->isChecked()); // [Waves] Enabled=1
    QVERIFY(search(3));
    tickAll();
    for (int row = 0; row < 3; ++row)
        QCOMPARE(cell(row, 1), QStringLiteral("127.0.89.%1").arg(10 + row)); // waves go in table order
    choosePictures(true);
    WaveRun *run = &m_tab->runController()->waveRun();
    QSignalSpy ended(run, &WaveRun::ended);
    QSignalSpy halted(run, &WaveRun::halted);
    child<QPushButton>("btnModify")->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return ended.count() > 0 || (halted.count() > 0 && run->state() == WaveRun::State::Idle); },
        60000));
    QVERIFY(!m_tab->running());
    m_tab->tabController()->table()->flushPending();
    DeviceTable *table = m_tab->tabController()->table();
    const int waveOf[] = {1, 2, 2};
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->wave(row), waveOf[row]);
    if (firstFails) {
        QCOMPARE(halted.count(), 1);
        QCOMPARE(CMessageBox::shownCount(), 1);
        const QString text = CMessageBox::lastShown().text;
        QVERIFY2(text.startsWith(QStringLiteral("Wave 1 of 2 failed: 1 of its 1 devices did not end burnt")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("2 devices were not started")), qPrintable(text));
        QCOMPARE(m_fleet->state(macOf(0x90))
                     .value(QStringLiteral("lastUpgrade"))
                     .toObject()
                     .value(QStringLiteral("result"))
                     .toInt(),
                 -11805);
        for (int row = 1; row < 3; ++row) {
            QCOMPARE(cell(row, 3), QStringLiteral("Halted: wave 1 failed"));
            QCOMPARE(table->statusOutcome(row), StatusOutcome::Halted);
            // Checked (a login and the partition read), and nothing burnt.
            QVERIFY(m_fleet->count(macOf(0x90 + row), "login") >= 1);
            QVERIFY(!m_fleet->state(macOf(0x90 + row)).contains(QStringLiteral("lastUpgrade")));
            QVERIFY(!m_fleet->hasFile(macOf(0x90 + row), QStringLiteral("logo.img")));
        }
        QCOMPARE(m_tab->tabController()->tableActions()->selectFailed(), QList<int>{0});
    } else {
        QCOMPARE(ended.count(), 1);
        QCOMPARE(CMessageBox::shownCount(), 0);
        QCOMPARE(statuses(), QStringList(3, QStringLiteral("Upgrade Success")));
        for (int row = 0; row < 3; ++row) {
            QVERIFY(m_fleet->hasFile(macOf(0x90 + row), QStringLiteral("logo.img")));
            QStringList texts;
            for (const HistoryEntry &e : table->history(row))
                texts << e.text;
            QVERIFY2(texts.contains(QStringLiteral("Wave %1").arg(waveOf[row])),
                     qPrintable(texts.join(QLatin1String(" | "))));
        }
        // One package for the whole staged run.
        QCOMPARE(m_tab->currentRun()->made().size(), 1);
    }
    QCOMPARE(m_tab->cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(LogoE2E)
#include "tst_logoe2e.moc"

void LogoE2E::onvifCameraIsNotSupportedWhileTheOthersBurn()
{
    // The camera comes first in the table: the package is made from the next device.
    QJsonArray devices;
    devices.append(device(QStringLiteral("127.0.89.10"), 0x90,
                          {{QStringLiteral("protocol"), QStringLiteral("onvif")},
                           {QStringLiteral("hardware"), QStringLiteral("HI3516EV300-IPC")}}));
    devices.append(device(QStringLiteral("127.0.89.11"), 0x91));
    devices.append(device(QStringLiteral("127.0.89.12"), 0x92));
    qputenv("TALLOW_NETSDK_ONVIF_PORT", "35913"); // discovery on a port of this test's own
    const auto restore = qScopeGuard([] { qunsetenv("TALLOW_NETSDK_ONVIF_PORT"); });
    QVERIFY(startTab(devices, 35910, 35911,
                     {QStringLiteral("--onvif-port"), QStringLiteral("35912"),
                      QStringLiteral("--discovery-port"), QStringLiteral("35913")}));
    QVERIFY(search(3));
    QCOMPARE(cell(0, 1), QStringLiteral("127.0.89.10"));
    child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));
    DeviceTable *table = m_tab->tabController()->table();

    // The row click: the camera logs in, then says what it cannot do; links stay off.
    QVERIFY(click(1));
    QCOMPARE(cell(1, 3), QStringLiteral("Login Success"));
    QVERIFY(click(0));
    QCOMPARE(cell(0, 3), QStringLiteral("Not supported over ONVIF"));
    QCOMPARE(table->statusOutcome(0), StatusOutcome::Unsupported);
    QVERIFY(!child<QGroupBox>("groupBoxLink")->isEnabled());

    tickAll();
    const QString boot = choosePictures(false);
    child<QPushButton>("btnModify")->click();
    QVERIFY(waitForRun(60000));
    QCOMPARE(statuses(), (QStringList{QStringLiteral("Not supported over ONVIF"),
                                      QStringLiteral("Upgrade Success"), QStringLiteral("Upgrade Success")}));
    QCOMPARE(table->statusOutcome(0), StatusOutcome::Unsupported);
    // Neither a failure to select again nor a device that got anything.
    QCOMPARE(m_tab->tabController()->tableActions()->selectFailed(), QList<int>());
    QCOMPARE(m_fleet->count(macOf(0x90), "upgrade"), 0);
    QCOMPARE(m_fleet->count(macOf(0x91), "partInfoRead"), 1);
    for (int n : {0x91, 0x92})
        QCOMPARE(m_fleet->file(macOf(n), QStringLiteral("logo/h264dvr.jpg")), logotest::readFile(boot));
}
