// "Check devices" on the firmware tab over 256 simulated devices, against one login round trip per
// device measured one after another in the same run: the check goes at most 32 devices at once, so
// its time should be near the sequential sum / 32, not the sum.
//
//   bench_check [--devices N] [--link-kib K]
// K throttles each device's link to K KiB/s both ways (default 8: a login then takes tens of ms, as
// on a slow factory network; 0 = as fast as loopback goes).

#include "benchfleet.h"

#include "device/devicetableactions.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TALLOW_DEVSIM"))
        qputenv("TALLOW_DEVSIM", TALLOW_DEVSIM_PATH);
    QApplication app(argc, argv);
    int devices = 256, linkKiB = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--devices"))
            devices = qBound(1, args[i + 1].toInt(), 256);
        else if (args[i] == QLatin1String("--link-kib"))
            linkKiB = qMax(0, args[i + 1].toInt());
    }

    QTemporaryDir tmp;
    const QJsonArray fleet = benchfleet::makeFleet(devices, 2000, linkKiB * 1024);
    DevsimFleet sim;
    if (!benchfleet::startFleet(tmp, sim, fleet))
        return 1;
    const QString package = benchfleet::writePackage(tmp, 64 * 1024);
    if (package.isEmpty())
        return 1;

    auto tab = std::make_unique<UpgradeWidget>();
    tab->setDataDirectory(tmp.path());
    tab->show();
    DeviceTable *table = tab->tabController()->table();
    benchfleet::prepareTab(tab.get(), fleet, package);

    // The baseline: each device's login and logout, one device after another.
    QElapsedTimer clock;
    double sequentialMs = 0, slowestMs = 0;
    int loggedIn = 0;
    for (int i = 0; i < devices; ++i) {
        const QByteArray ip = benchfleet::deviceIp(i).toLatin1();
        H264_DVR_DEVICEINFO info{};
        int error = 0;
        clock.start();
        const long id = H264_DVR_Login(ip.constData(), benchfleet::kPort, "admin", benchfleet::kPassword,
                                       &info, 1, &error);
        if (id > 0) {
            H264_DVR_Logout(id);
            ++loggedIn;
        }
        const double ms = clock.nsecsElapsed() / 1e6;
        sequentialMs += ms;
        slowestMs = std::max(slowestMs, ms);
    }

    auto threadCount = [] {
        return int(
            QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    };
    std::unique_ptr<QMenu> menu(tab->tabController()->tableActions()->createMenu(-1));
    QAction *check = menu->findChild<QAction *>(QStringLiteral("checkDevices"));
    if (!check) {
        std::fprintf(stderr, "no Check devices action\n");
        return 1;
    }
    int peakThreads = 0;
    clock.start();
    check->trigger();
    const bool ended = QTest::qWaitFor(
        [&] {
            peakThreads = std::max(peakThreads, threadCount());
            return !tab->inspecting() && !tab->upgradeRun()->isActive();
        },
        600000);
    const double checkMs = clock.nsecsElapsed() / 1e6;
    table->flushPending();
    int ready = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->statusText(r) == QLatin1String("Ready"))
            ++ready;
    }
    for (int r = 0, shown = 0; r < table->rowCount() && shown < 5; ++r) {
        if (table->statusText(r) != QLatin1String("Ready")) {
            std::printf("row %d: %s\n", r, qPrintable(table->statusText(r)));
            ++shown;
        }
    }

    std::printf("devices %d, link %s\n", devices,
                linkKiB ? qPrintable(QStringLiteral("%1 KiB/s").arg(linkKiB)) : "unthrottled");
    std::printf(
        "sequential login + logout: %d of %d logged in, sum %.0f ms (mean %.1f ms, slowest %.1f ms)\n",
        loggedIn, devices, sequentialMs, sequentialMs / devices, slowestMs);
    std::printf(
        "Check devices: %d of %d \"Ready\"%s in %.0f ms = %.1f%% of the sequential sum; the 32-at-once "
        "bound is sum / 32 = %.0f ms (check / bound = %.2f)\n",
        ready, devices, ended ? "" : " (TIMED OUT)", checkMs, 100.0 * checkMs / sequentialMs,
        sequentialMs / UpgradeRun::MaxCheckParallel, checkMs / (sequentialMs / UpgradeRun::MaxCheckParallel));
    std::printf("threads alive at peak during the check: %d\n", peakThreads);
    menu.reset(); // a child of the table: it goes before the tab
    tab.reset();
    return ended && ready == devices ? 0 : 1;
}
