// Whole-run benchmark of the firmware tab: 256 simulated devices, all ticked, one 16 MiB package.
// Reports the GUI thread's longest stall (a 10 ms timer probe), the peak RSS of this process and the
// total time against the floor the one-second worker spacing sets.
//
//   bench_upgrade [--devices N] [--package-mib M] [--link-kib K]
// K throttles each device's link to K KiB/s (0, the default: as fast as loopback goes).

#include "benchfleet.h"

#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <cstring>

namespace
{

// VmHWM of /proc/self/status: the peak since the start or since the last reset.
qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TALLOW_DEVSIM"))
        qputenv("TALLOW_DEVSIM", TALLOW_DEVSIM_PATH);
    QApplication app(argc, argv);
    int devices = 256, mib = 16, linkKiB = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--devices"))
            devices = qBound(1, args[i + 1].toInt(), 256);
        else if (args[i] == QLatin1String("--package-mib"))
            mib = qBound(1, args[i + 1].toInt(), 256);
        else if (args[i] == QLatin1String("--link-kib"))
            linkKiB = qMax(0, args[i + 1].toInt());
    }

    QTemporaryDir tmp;
    const QJsonArray fleet = benchfleet::makeFleet(devices, 2000, linkKiB * 1024);
    DevsimFleet sim;
    if (!benchfleet::startFleet(tmp, sim, fleet))
        return 1;

    const QString package = benchfleet::writePackage(tmp, size_t(mib) << 20);
    if (package.isEmpty())
        return 1;

    // Writing the package held it in this process twice over; the peak that counts is the run's, so
    // the high-water mark starts again here (Linux 4.0 and later).
    const qint64 setupPeakKiB = peakRssKiB();
    {
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
            std::fprintf(stderr, "cannot reset the peak RSS: it includes writing the package\n");
    }

    auto tab = std::make_unique<UpgradeWidget>();
    tab->setDataDirectory(tmp.path());
    tab->show();
    DeviceTable *table = tab->deviceCore()->table();

    QElapsedTimer clock;
    clock.start();
    benchfleet::prepareTab(tab.get(), fleet, package);

    // The probe: a 10 ms timer; the longest gap between two ticks is the GUI thread's longest stall.
    QElapsedTimer probeClock;
    qint64 lastTick = 0, worstGap = 0, worstAt = 0, worstCpu = 0, lastCpu = 0;
    // The GUI thread's own CPU time across a gap tells a busy thread from one that was not scheduled.
    auto threadCpuMs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    };
    int over50 = 0, over100 = 0;
    // Threads of this process (the SDK's, the batch's pool and Qt's), sampled every 100 ms.
    auto threadCount = [] {
        return int(
            QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    };
    int peakThreads = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const qint64 now = probeClock.elapsed();
        const qint64 gap = now - lastTick;
        const qint64 cpu = threadCpuMs();
        if (gap > worstGap) {
            worstGap = gap;
            worstAt = now;
            worstCpu = cpu - lastCpu;
        }
        lastCpu = cpu;
        over50 += gap > 50 ? 1 : 0;
        over100 += gap > 100 ? 1 : 0;
        lastTick = now;
    });

    // Baseline: the same probe for 3 s with the tab idle shows what the machine's load alone costs.
    probeClock.start();
    probe.start(10);
    {
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    const qint64 idleWorst = worstGap;
    const int idleOver50 = over50;
    worstGap = worstAt = 0;
    over50 = over100 = 0;
    clock.restart();
    probeClock.restart();
    lastTick = 0;
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    const qint64 clickMs = clock.elapsed();
    auto finals = [&] {
        int n = 0;
        for (int r = 0; r < devices; ++r) {
            const QString s =
                table->model()->index(r, tableVariant(TabKind::Firmware).statusColumn).data().toString();
            if (s.startsWith(QLatin1String("Upgrade Success")))
                ++n;
        }
        return n;
    };
    // A real event loop, as the application runs one: QTest::qWaitFor sleeps between its rounds and
    // would show its own naps as stalls.
    bool done = false;
    {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            peakThreads = std::max(peakThreads, threadCount());
            if (!tab->inspecting() && !tab->upgradeRun()->isActive()) {
                done = true;
                loop.quit();
            } else if (clock.elapsed() > (devices + 120) * 1000) {
                loop.quit();
            }
        });
        check.start(100);
        loop.exec();
    }
    const qint64 totalMs = clock.elapsed();
    probe.stop();
    table->flushPending();
    const int success = finals();

    const double floorMs = (devices - 1) * 1000.0;
    std::printf("devices %d, package %d MiB, link %s\n", devices, mib,
                linkKiB ? qPrintable(QStringLiteral("%1 KiB/s").arg(linkKiB)) : "unthrottled");
    std::printf("Upgrade click (the package is inspected in the background): %lld ms\n", clickMs);
    std::printf("rows ending in \"Upgrade Success\": %d of %d%s\n", success, devices,
                done ? "" : " (TIMED OUT)");
    std::printf("total run time: %.1f s; spacing floor (%d - 1) x 1 s = %.1f s; overhead %.1f s\n",
                totalMs / 1000.0, devices, floorMs / 1000.0, (totalMs - floorMs) / 1000.0);
    std::printf("GUI thread longest stall: %lld ms at %.1f s into the run, %lld ms of it on the CPU (target "
                "< 33 ms); "
                "gaps > 50 ms: %d, > 100 ms: %d\n",
                worstGap, worstAt / 1000.0, worstCpu, over50, over100);
    std::printf("idle baseline (3 s before the click): longest gap %lld ms, gaps > 50 ms: %d\n", idleWorst,
                idleOver50);
    std::printf("threads alive at peak: %d\n", peakThreads);
    std::printf("peak RSS from the tab's creation to the end: %.1f MiB (target < 64 MiB); while writing the "
                "package before: %.1f MiB\n",
                peakRssKiB() / 1024.0, setupPeakKiB / 1024.0);
    for (int r = 0; r < devices && success != devices; ++r) {
        const QString s =
            table->model()->index(r, tableVariant(TabKind::Firmware).statusColumn).data().toString();
        if (!s.startsWith(QLatin1String("Upgrade Success")))
            std::printf("row %d: %s\n", r, qPrintable(s));
    }
    tab.reset();
    return success == devices ? 0 : 1;
}
