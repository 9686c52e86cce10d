// The logo tab against simulated devices: row clicks, Add by hand, and what the devices got.

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "device/logindlg.h"
#include "logo/upgradelogowidget.h"
#include "netsdk/netsdk.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
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

private:
    bool startTab(const QJsonArray &devices, int port, int searchPort);
    bool search(int expectedRows);
    bool click(int row);
    QString cell(int row, int column) const;
    template <typename T> T *child(const char *name) const
    {
        return m_tab->findChild<T *>(QLatin1String(name));
    }
    void writeIni(const QByteArray &text);

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
    const QString path = m_tmp->filePath(QStringLiteral("Config.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();
    ConfigKeys::setConfigPath(path);
}

bool LogoE2E::startTab(const QJsonArray &devices, int port, int searchPort)
{
    m_fleet = std::make_unique<DevsimFleet>();
    if (!m_fleet->start(devices, port, searchPort)) {
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
    DeviceTabCore *core = m_tab->deviceCore();
    return QTest::qWaitFor([&] { return !core->searching() && core->table()->rowCount() >= expectedRows; },
                           15000) &&
           core->table()->rowCount() == expectedRows;
}

bool LogoE2E::click(int row)
{
    QSignalSpy done(m_tab.get(), &UpgradeLogoWidget::probeFinished);
    auto *view = child<QTableView>("tableView");
    emit view->clicked(m_tab->deviceCore()->table()->model()->index(row, 1));
    return done.wait(15000) && done.count() == 1 && done.at(0).at(0).toInt() == row;
}

QString LogoE2E::cell(int row, int column) const
{
    return m_tab->deviceCore()->table()->model()->index(row, column).data().toString();
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
        QCOMPARE(m_tab->deviceCore()->table()->rowDevice(row)->lLoginID, 0);

    // A refused app-link read: the text with the SDK's code, and the device stays logged in.
    QVERIFY(click(3));
    QCOMPARE(cell(3, 3), QStringLiteral("Get applink information failed,ErrorCode:-10002"));
    QVERIFY(m_tab->deviceCore()->table()->rowDevice(3)->lLoginID > 0);

    // A wrong password: the login text, nothing else changes.
    QVERIFY(click(4));
    QCOMPARE(cell(4, 3), QStringLiteral("Password is error"));
    QCOMPARE(m_fleet->count(macOf(0x14), "appLinkRead"), 0);

    // A new search disables the link group again.
    child<QPushButton>("SearchButton")->click();
    QVERIFY(!group->isEnabled());
    QVERIFY(QTest::qWaitFor([this] { return !m_tab->deviceCore()->searching(); }, 15000));
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

    QCOMPARE(m_tab->deviceCore()->table()->rowCount(), 1);
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 1), QStringLiteral("127.0.82.10"));
    QCOMPARE(cell(0, 2), QStringLiteral("NVR")); // type 1 of the login's table
    QCOMPARE(cell(0, 3), QStringLiteral("Login Success"));
    QCOMPARE(cell(0, 4), QStringLiteral("127.0.82.1"));
    QCOMPARE(cell(0, 5), QStringLiteral("logoserial000048"));
    QVERIFY(!cell(0, 6).isEmpty());
    QCOMPARE(cell(0, 7), QStringLiteral("2022-02-03"));
    QCOMPARE(m_tab->deviceCore()->table()->model()->item(0, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(sent.count(), 1);
    const DEV_INFO rec = *m_tab->deviceCore()->table()->rowDevice(0);
    QCOMPARE(QByteArray(rec.szCloudID), QByteArray("logoserial000048"));
    QVERIFY(rec.lLoginID > 0);
    QCOMPARE(child<QTableView>("tableView")->selectionModel()->selectedRows().value(0).row(), 0);
}

QTEST_MAIN(LogoE2E)
#include "tst_logoe2e.moc"
