// Whole-run benchmark of the firmware tab: 256 simulated devices, all ticked, one 16 MiB package.
// Reports the GUI thread's longest stall (a 10 ms timer probe), the peak RSS of this process and the
// total time against the floor the one-second worker spacing sets.
//
//   bench_upgrade [--devices N] [--package-mib M]

#include "../../tests/e2e/upgrade/devsimfleet.h"
#include "../../tests/unit/upgrade/testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "netsdk/netsdk.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TALLOW_DEVSIM"))
        qputenv("TALLOW_DEVSIM", TALLOW_DEVSIM_PATH);
    QApplication app(argc, argv);
    int devices = 256, mib = 16;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--devices"))
            devices = qBound(1, args[i + 1].toInt(), 256);
        else if (args[i] == QLatin1String("--package-mib"))
            mib = qBound(1, args[i + 1].toInt(), 256);
    }

    QTemporaryDir tmp;
    {
        QFile ini(tmp.filePath(QStringLiteral("Config.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write("[UpgradeInfo]\r\nModifyIP=0\r\n");
    }
    ConfigKeys::setConfigPath(tmp.filePath(QStringLiteral("Config.ini")));
    CMessageBox::setAnswerProvider([](CMessageBox &box) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text()));
        return 0;
    });

    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        fleet.append(QJsonObject{
            {QStringLiteral("ip"),
             QStringLiteral("127.0.%1.%2").arg(90 + (i + 10) / 250).arg((i + 10) % 250)},
            {QStringLiteral("mac"), QStringLiteral("00:12:35:00:%1:%2")
                                        .arg(i / 256, 2, 16, QLatin1Char('0'))
                                        .arg(i % 256, 2, 16, QLatin1Char('0'))},
            {QStringLiteral("serial"), QStringLiteral("benchserial%1").arg(i, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("hardware"), QStringLiteral("HI3520D-NVR")},
            {QStringLiteral("password"), QStringLiteral("bench")},
            {QStringLiteral("deviceType"), 4},
            {QStringLiteral("upgradeMs"), 2000}});
    }
    DevsimFleet sim;
    if (!sim.start(fleet, 35790, 35791)) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }
    H264_DVR_SetSearchPort(35791);

    const QString package = tmp.filePath(QStringLiteral("bench.bin"));
    if (!testzip::writePackage(package.toStdString(), "HI3520D-NVR", size_t(mib) << 20)) {
        std::fprintf(stderr, "cannot write the package\n");
        return 1;
    }

    auto tab = std::make_unique<UpgradeWidget>();
    tab->setDataDirectory(tmp.path());
    tab->show();
    DeviceTable *table = tab->deviceCore()->table();

    QElapsedTimer clock;
    clock.start();
    // One search may miss answers when 256 devices reply at once on a busy machine; search again
    // (each search starts from an empty table) rather than benchmark a smaller fleet.
    for (int attempt = 1; attempt <= 5; ++attempt) {
        QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("SearchButton")), Qt::LeftButton);
        const bool ended = QTest::qWaitFor([&] { return !tab->deviceCore()->searching(); }, 30000);
        Q_UNUSED(ended)
        std::printf("search %d: %d of %d devices\n", attempt, table->rowCount(), devices);
        if (table->rowCount() == devices)
            break;
    }
    if (table->rowCount() != devices)
        return 1;
    std::printf("search: %d devices in %lld ms\n", table->rowCount(), clock.elapsed());
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("selectBtn")), Qt::LeftButton);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(package);
    tab->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(QStringLiteral("bench"));

    // The probe: a 10 ms timer; the longest gap between two ticks is the GUI thread's longest stall.
    QElapsedTimer probeClock;
    qint64 lastTick = 0, worstGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const qint64 now = probeClock.elapsed();
        worstGap = std::max(worstGap, now - lastTick);
        lastTick = now;
    });

    clock.restart();
    probeClock.start();
    probe.start(10);
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn")), Qt::LeftButton);
    const qint64 clickMs = clock.elapsed();
    auto finals = [&] {
        int n = 0;
        for (int r = 0; r < devices; ++r) {
            const QString s = table->model()->index(r, UpgradeRun::StatusColumn).data().toString();
            if (s.startsWith(QLatin1String("Upgrade Success")))
                ++n;
        }
        return n;
    };
    const bool done = QTest::qWaitFor([&] { return !tab->upgradeRun()->isActive(); }, (devices + 120) * 1000);
    const qint64 totalMs = clock.elapsed();
    probe.stop();
    table->flushPending();
    const int success = finals();

    struct rusage usage {
    };
    getrusage(RUSAGE_SELF, &usage);
    const double floorMs = (devices - 1) * 1000.0;
    std::printf("devices %d, package %d MiB\n", devices, mib);
    std::printf("Upgrade click (inspection of the package): %lld ms\n", clickMs);
    std::printf("rows ending in \"Upgrade Success\": %d of %d%s\n", success, devices,
                done ? "" : " (TIMED OUT)");
    std::printf("total run time: %.1f s; spacing floor (%d - 1) x 1 s = %.1f s; overhead %.1f s\n",
                totalMs / 1000.0, devices, floorMs / 1000.0, (totalMs - floorMs) / 1000.0);
    std::printf("GUI thread longest stall: %lld ms (target < 100 ms)\n", worstGap);
    std::printf("peak RSS: %.1f MiB (target < 250 MiB)\n", usage.ru_maxrss / 1024.0);
    for (int r = 0; r < devices && success != devices; ++r) {
        const QString s = table->model()->index(r, UpgradeRun::StatusColumn).data().toString();
        if (!s.startsWith(QLatin1String("Upgrade Success")))
            std::printf("row %d: %s\n", r, qPrintable(s));
    }
    tab.reset();
    return success == devices ? 0 : 1;
}
