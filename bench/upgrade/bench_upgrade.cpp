// Whole-run benchmark of the firmware tab: 256 simulated devices, all ticked, one 16 MiB package.
// Reports the GUI thread's longest stall (a 10 ms timer probe), the peak RSS of this process and the
// total time against its floor: the start spacing's, or with a shared link the wire's (all bytes over
// the link's rate) plus one device's flash time, whichever is larger.
//
//   bench_upgrade [--devices N] [--package-mib M] [--link-kib K] [--link-mbps L] [--spacing MS]
//                 [--parallel P]
// K throttles each device's link to K KiB/s (0, the default: as fast as loopback goes); L makes the
// whole fleet share one link of L Mbit/s (devsim --link-mbps); MS and P are the run's StartSpacingMs
// (default 1000) and MaxParallel (default 32) in Config.ini.

#include "benchfleet.h"

#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
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
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption devicesOption(QStringLiteral("devices"), QStringLiteral("devices (256)"),
                                           QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption mibOption(QStringLiteral("package-mib"), QStringLiteral("package size (16)"),
                                       QStringLiteral("M"), QStringLiteral("16"));
    const QCommandLineOption linkKiBOption(QStringLiteral("link-kib"),
                                           QStringLiteral("each device's link in KiB/s (0 = unthrottled)"),
                                           QStringLiteral("K"), QStringLiteral("0"));
    const QCommandLineOption linkMbpsOption(
        QStringLiteral("link-mbps"), QStringLiteral("one link the whole fleet shares, Mbit/s (0 = none)"),
        QStringLiteral("L"), QStringLiteral("0"));
    const QCommandLineOption spacingOption(QStringLiteral("spacing"), QStringLiteral("StartSpacingMs (1000)"),
                                           QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption parallelOption(QStringLiteral("parallel"), QStringLiteral("MaxParallel (32)"),
                                            QStringLiteral("P"), QStringLiteral("32"));
    parser.addOptions(
        {devicesOption, mibOption, linkKiBOption, linkMbpsOption, spacingOption, parallelOption});
    parser.process(app);
    const int devices = qBound(1, parser.value(devicesOption).toInt(), 256);
    const int mib = qBound(1, parser.value(mibOption).toInt(), 256);
    const int linkKiB = qMax(0, parser.value(linkKiBOption).toInt());
    const int linkMbps = qMax(0, parser.value(linkMbpsOption).toInt());
    const int spacingMs = qMax(0, parser.value(spacingOption).toInt());
    const int parallel = qBound(1, parser.value(parallelOption).toInt(), 256);

    QTemporaryDir tmp;
    const int flashMs = 2000;
    const QJsonArray fleet = benchfleet::makeFleet(devices, flashMs, linkKiB * 1024);
    DevsimFleet sim;
    const QByteArray pacing =
        QStringLiteral("StartSpacingMs=%1\r\nMaxParallel=%2\r\n").arg(spacingMs).arg(parallel).toLatin1();
    // The devices hold their login keys from the start, as real ones do: the run's logins then cost
    // the station's CPU only its own side.
    QStringList devsimArgs{QStringLiteral("--keys-at-start"), QStringLiteral("1")};
    if (linkMbps > 0)
        devsimArgs << QStringLiteral("--link-mbps") << QString::number(linkMbps);
    if (!benchfleet::startFleet(tmp, sim, fleet, pacing, devsimArgs))
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
    DeviceTable *table = tab->tabController()->table();

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
    int peakInFlight = 0;
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
            peakInFlight = std::max(peakInFlight, tab->upgradeRun()->batch().inFlight());
            if (!tab->inspecting() && !tab->upgradeRun()->isActive()) {
                done = true;
                loop.quit();
            } else if (clock.elapsed() > qint64(devices) * (spacingMs + 1000) + 300000) {
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

    const double spacingFloorMs = (devices - 1) * double(spacingMs);
    // The package crosses the shared link once per device; the last device still flashes after it.
    const double wireFloorMs =
        linkMbps > 0 ? double(devices) * (qint64(mib) << 20) * 8 / (linkMbps * 1000.0) + flashMs : 0;
    const double floorMs = std::max(spacingFloorMs, wireFloorMs);
    std::printf("devices %d, package %d MiB, per-device link %s, shared link %s, StartSpacingMs %d, "
                "MaxParallel %d\n",
                devices, mib, linkKiB ? qPrintable(QStringLiteral("%1 KiB/s").arg(linkKiB)) : "unthrottled",
                linkMbps ? qPrintable(QStringLiteral("%1 Mbit/s").arg(linkMbps)) : "none", spacingMs,
                parallel);
    std::printf("Upgrade click (the package is inspected in the background): %lld ms\n", clickMs);
    std::printf("rows ending in \"Upgrade Success\": %d of %d%s\n", success, devices,
                done ? "" : " (TIMED OUT)");
    std::printf("total run time: %.1f s; spacing floor (%d - 1) x %d ms = %.1f s; wire floor %.1f s (bytes / "
                "link + one %d ms flash); total / floor = %.2f (target <= 1.2 with a shared link)\n",
                totalMs / 1000.0, devices, spacingMs, spacingFloorMs / 1000.0, wireFloorMs / 1000.0, flashMs,
                floorMs > 0 ? totalMs / floorMs : 0.0);
    std::printf("devices in flight at peak: %d (MaxParallel %d)\n", peakInFlight, parallel);
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
