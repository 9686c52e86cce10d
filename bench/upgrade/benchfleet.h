// The simulated fleet of the firmware-tab benchmarks: N devices, one hardware and password, listed in
// the tab's table by a search (and from the fleet itself for answers a busy machine lost).
#pragma once

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "netsdk/netsdk.h"
#include "testzip.h"
#include "upgrade/upgradewidget.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace benchfleet
{

inline constexpr int kPort = 35790;
inline constexpr int kSearchPort = 35791;
inline constexpr char kHardware[] = "HI3520D-NVR";
inline constexpr char kPassword[] = "bench";

inline QString deviceIp(int i)
{
    return QStringLiteral("127.0.%1.%2").arg(90 + (i + 10) / 250).arg((i + 10) % 250);
}

/// `linkBytesPerSecond` throttles each device's link both ways (0 = as fast as loopback goes).
inline QJsonArray makeFleet(int devices, int upgradeMs, int linkBytesPerSecond)
{
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        fleet.append(QJsonObject{
            {QStringLiteral("ip"), deviceIp(i)},
            {QStringLiteral("mac"), QStringLiteral("00:12:35:00:%1:%2")
                                        .arg(i / 256, 2, 16, QLatin1Char('0'))
                                        .arg(i % 256, 2, 16, QLatin1Char('0'))},
            {QStringLiteral("serial"), QStringLiteral("benchserial%1").arg(i, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("hardware"), QLatin1String(kHardware)},
            {QStringLiteral("password"), QLatin1String(kPassword)},
            {QStringLiteral("deviceType"), 4},
            {QStringLiteral("upgradeMs"), upgradeMs},
            {QStringLiteral("faults"), QJsonObject{{QStringLiteral("bytesPerSecond"), linkBytesPerSecond}}}});
    }
    return fleet;
}

/// Settings of the run in `tmp` (no address change), message boxes answered and printed, and the
/// fleet started; false after saying why not.
/// `settings` are further [UpgradeInfo] lines; `devsimArgs` further devsim options.
inline bool startFleet(const QTemporaryDir &tmp, DevsimFleet &sim, const QJsonArray &fleet,
                       const QByteArray &settings = QByteArray(),
                       const QStringList &devsimArgs = QStringList())
{
    {
        QFile ini(tmp.filePath(QStringLiteral("Config.ini")));
        if (!ini.open(QIODevice::WriteOnly) || ini.write("[UpgradeInfo]\r\nModifyIP=0\r\n" + settings) < 0) {
            std::fprintf(stderr, "cannot write Config.ini\n");
            return false;
        }
    }
    ConfigKeys::setConfigPath(tmp.filePath(QStringLiteral("Config.ini")));
    CMessageBox::setAnswerProvider([](CMessageBox &box) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text()));
        return 0;
    });
    if (!sim.start(fleet, kPort, kSearchPort, -1, devsimArgs)) {
        std::fprintf(stderr, "devsim did not start\n");
        return false;
    }
    H264_DVR_SetSearchPort(kSearchPort);
    return true;
}

/// Searches with the tab's button; rows the search missed are listed from the fleet.
inline void listFleet(QWidget *tab, DeviceTabController *core, const QJsonArray &fleet)
{
    DeviceTable *table = core->table();
    const int devices = int(fleet.size());
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("SearchButton")), Qt::LeftButton);
    const bool ended = QTest::qWaitFor([&] { return !core->searching(); }, 30000);
    std::printf("search: %d of %d devices answered%s\n", table->rowCount(), devices,
                ended ? "" : " (search hung)");
    if (table->rowCount() == devices)
        return;
    table->clear();
    for (const QJsonValue &v : fleet) {
        const QJsonObject d = v.toObject();
        SDK_CONFIG_NET_COMMON_V2 answer;
        std::memset(&answer, 0, sizeof answer);
        std::strcpy(answer.HostName, "LocalHost");
        const QStringList ip = d.value(QStringLiteral("ip")).toString().split(QLatin1Char('.'));
        for (int b = 0; b < 4; ++b)
            answer.HostIP[b] = uint8_t(ip[b].toInt());
        answer.Submask[0] = 255;
        answer.Gateway[0] = 127;
        answer.Gateway[3] = 1;
        answer.NetValues[1] = kPort;
        std::strncpy(answer.sMac, qPrintable(d.value(QStringLiteral("mac")).toString()),
                     sizeof answer.sMac - 1);
        std::strncpy(answer.sSn, qPrintable(d.value(QStringLiteral("serial")).toString()),
                     sizeof answer.sSn - 1);
        answer.DeviceType = 4;
        core->fillDeviceTable(answer);
    }
    core->stopSearch();
    std::printf("listed from the fleet: %d rows\n", table->rowCount());
}

/// A package for the fleet's hardware with an image of `bytes` in `tmp`; empty after saying why not.
inline QString writePackage(const QTemporaryDir &tmp, size_t bytes)
{
    const QString package = tmp.filePath(QStringLiteral("bench.bin"));
    if (testzip::writePackage(package.toStdString(), kHardware, bytes))
        return package;
    std::fprintf(stderr, "cannot write the package\n");
    return QString();
}

/// Lists the fleet in the firmware tab, ticks every row and fills in the package and password.
inline void prepareTab(UpgradeWidget *tab, const QJsonArray &fleet, const QString &package)
{
    listFleet(tab, tab->tabController(), fleet);
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("selectBtn")), Qt::LeftButton);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QLatin1String(kPassword));
}

} // namespace benchfleet
