// Whole-batch benchmark of the OEMID tab: N simulated devices (256 by default), the OEMID written
// (repeats allowed) and all four settings ticked. Reports whether every row ended with its final
// text, the GUI thread's longest stall during the batch (a 10 ms timer probe), and the batch's time
// against a plain loop doing the same device work in the same run.
//
// Like with like: the plain loop works on a fleet of its own, so that the station has not derived
// its login keys yet (PBKDF2, once per device and password); over the tab's devices it would find
// every key derived by the batch. Both fleets hold their devices' keys from the start, as real
// devices do. It also makes the batch's
// other steps: the one-second pause first, the station MAC in the written text, a factory record
// per verified write, and the logins stay open until the clock has stopped, as the tab's rows keep
// theirs until the next search. It runs before and after the batch, on a half of its fleet each,
// and the batch is set against their mean. The plain loop over the tab's own devices, keys derived,
// is printed last, to show what the key derivation costs.
//
//   bench_oemidtab [--devices N]

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/stationmac.h"
#include "netsdk/netsdk.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidwriter.h"
#include "oemid/setoemid.h"
#include "settings/devicesettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace
{

QJsonArray fleetOf(int devices, int firstOctet, int macByte, const QString &serialPrefix)
{
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        fleet.append(
            QJsonObject{{QStringLiteral("ip"),
                         QStringLiteral("127.0.%1.%2").arg(firstOctet + (i + 10) / 250).arg((i + 10) % 250)},
                        {QStringLiteral("mac"), QStringLiteral("00:12:37:%1:%2:%3")
                                                    .arg(macByte, 2, 16, QLatin1Char('0'))
                                                    .arg(i / 256, 2, 16, QLatin1Char('0'))
                                                    .arg(i % 256, 2, 16, QLatin1Char('0'))},
                        {QStringLiteral("serial"),
                         QStringLiteral("%1%2").arg(serialPrefix).arg(i, 5, 10, QLatin1Char('0'))}});
    }
    return fleet;
}

// Where the plain loop's time goes, summed over its devices.
struct PlainTimes {
    qint64 loginNs = 0;
    qint64 oemidNs = 0;
    qint64 recordNs = 0;
    qint64 settingsNs = 0;
    int written = 0;
};

// The device work the batch does for one device, on this thread: log in (the row's "admin" and
// empty password), read the producer information, write the OEMID with the station's MAC, read it
// back, file the factory record, then the codec, clock, zone and language. The login is returned
// open, as the tab's row keeps it.
long plainDevice(const char *ip, unsigned short port, const QByteArray &serial, const QString &mac,
                 const FactoryRecords &records, PlainTimes &times)
{
    QElapsedTimer step;
    step.start();
    H264_DVR_DEVICEINFO info{};
    int error = 0;
    const long login = H264_DVR_Login(ip, port, "admin", "", &info, 1, &error);
    times.loginNs += step.nsecsElapsed();
    if (login <= 0)
        return login;

    step.restart();
    QByteArray buffer(10240, '\0');
    int returned = 0;
    H264_DVR_GetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buffer.data(),
                                 buffer.size(), &returned, 1000);
    QString problem;
    const QByteArray writeText =
        OemidWriter::writeText(QStringLiteral("BENCH1"), StationMac::lookUp().toLatin1(), serial, &problem);
    const long set = H264_DVR_SetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_SET, -1,
                                                  writeText.constData(), writeText.size(), 1000);
    buffer.fill('\0');
    H264_DVR_GetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buffer.data(),
                                 buffer.size(), &returned, 1000);
    times.oemidNs += step.nsecsElapsed();
    if (set >= 1) {
        step.restart();
        if (records.readyForRecord().ok &&
            records.writeFactoryRecord(QString::fromLatin1(serial), mac, QStringLiteral("BENCH1")).ok)
            ++times.written;
        times.recordNs += step.nsecsElapsed();
    }

    step.restart();
    char answer[4096];
    const QByteArray codec = DeviceSettings::codecDocument();
    H264_DVR_SetDevConfig_JsonV2_EX(login, "Custom.ShowH265X", NETSDK_JSON_SET, -1, codec.constData(),
                                    codec.size(), answer, sizeof answer, 1000);
    QByteArray time = DeviceSettings::timeRecord(QDateTime::currentDateTime());
    H264_DVR_SetDevConfig(login, NETSDK_CFG_SYSTIME, -1, time.data(), 32, 1000);
    QByteArray zone = DeviceSettings::timeZoneRecord(-480);
    H264_DVR_SetDevConfig(login, NETSDK_CFG_TIMEZONE, -1, zone.data(), 8, 1000);
    QByteArray location(DeviceSettings::kLanguageBufferSize, '\0');
    if (H264_DVR_GetDevConfig_JsonV2(login, "General.Location", NETSDK_JSON_GET, -1, location.data(),
                                     location.size(), &returned, 2000) == 1) {
        const QByteArray text =
            DeviceSettings::languageDocument(QByteArray(location.constData()), QStringLiteral("English"));
        H264_DVR_SetDevConfig_JsonV2_EX(login, "General.Location", NETSDK_JSON_SET, -1, text.constData(),
                                        text.size(), answer, sizeof answer, 2000);
    }
    times.settingsNs += step.nsecsElapsed();
    return login;
}

// The plain loop over `fleet`: the batch's one-second pause, then device after device. Its time in
// ms; the logins are closed after the clock has stopped.
qint64 plainLoop(const QJsonArray &fleet, unsigned short port, const QString &recordDir, PlainTimes &times)
{
    QDir().mkpath(recordDir);
    const FactoryRecords records({recordDir, {}, {}});
    records.makeUploadDirs();
    std::vector<long> logins;
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(1000);
    for (const QJsonValue &v : fleet) {
        const QJsonObject d = v.toObject();
        const long login = plainDevice(qPrintable(d.value(QStringLiteral("ip")).toString()), port,
                                       d.value(QStringLiteral("serial")).toString().toLatin1(),
                                       d.value(QStringLiteral("mac")).toString(), records, times);
        if (login > 0)
            logins.push_back(login);
    }
    const qint64 ms = clock.elapsed();
    for (const long login : logins)
        H264_DVR_Logout(login);
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TALLOW_DEVSIM"))
        qputenv("TALLOW_DEVSIM", TALLOW_DEVSIM_PATH);
    QApplication app(argc, argv);
    int devices = 256;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--devices"))
            devices = qBound(1, args[i + 1].toInt(), 256);

    QTemporaryDir tmp;
    {
        QFile ini(tmp.filePath(QStringLiteral("Config.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write("[UpgradeInfo]\r\nModifyIP=0\r\n[OEMID]\r\nAssigned=BENCH1\r\n");
    }
    ConfigKeys::setConfigPath(tmp.filePath(QStringLiteral("Config.ini")));
    CMessageBox::setAnswerProvider([](CMessageBox &box) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text()));
        return 0;
    });

    const int port = 36290, searchPort = 36291;
    const QJsonArray fleet = fleetOf(devices, 130, 0x00, QStringLiteral("oemidbench"));
    // A real device stores its login key when its password is set; a simulated one would derive it at
    // its first login, on this station's CPU.
    const QStringList keysAtStart{QStringLiteral("--keys-at-start"), QStringLiteral("1")};
    DevsimFleet sim;
    if (!sim.start(fleet, port, searchPort, -1, keysAtStart)) {
        std::fprintf(stderr, "devsim did not start: %s\n", qPrintable(sim.error()));
        return 1;
    }
    // The plain loop's own devices: other addresses, MACs and serials (so other login salts), in a
    // simulator of their own, on ports the tab's search does not reach. It runs once before the batch
    // and once after, on a half each, so that a load changing during the run weighs on both sides.
    const int plainPort = 36292, plainSearchPort = 36293;
    const QJsonArray plainFleet = fleetOf(2 * devices, 140, 0x01, QStringLiteral("oemidplain"));
    QJsonArray plainBefore, plainAfter;
    for (int i = 0; i < devices; ++i) {
        plainBefore.append(plainFleet[i]);
        plainAfter.append(plainFleet[devices + i]);
    }
    DevsimFleet plainSim;
    if (!plainSim.start(plainFleet, plainPort, plainSearchPort, -1, keysAtStart)) {
        std::fprintf(stderr, "devsim did not start: %s\n", qPrintable(plainSim.error()));
        return 1;
    }
    H264_DVR_SetSearchPort(quint16(searchPort));

    auto tab = std::make_unique<SetOEMID>(nullptr, tmp.path());
    tab->show();
    DeviceTable *table = tab->tabController()->table();
    for (const char *name :
         {"setoemid", "checkBox", "setconfig", "synchronizationTime", "zoneCheck", "language_check"})
        QTest::mouseClick(tab->findChild<QCheckBox *>(QLatin1String(name)), Qt::LeftButton);

    // The probe: a 10 ms timer; the longest gap between two ticks is the GUI thread's longest stall.
    QElapsedTimer probeClock;
    qint64 lastTick = 0, worstGap = 0;
    int over50 = 0;
    bool measuring = false;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const qint64 now = probeClock.elapsed();
        if (measuring) {
            worstGap = qMax(worstGap, now - lastTick);
            over50 += now - lastTick > 50 ? 1 : 0;
        }
        lastTick = now;
    });
    probeClock.start();
    probe.start(10);

    PlainTimes before;
    const qint64 beforeMs =
        plainLoop(plainBefore, plainPort, tmp.filePath(QStringLiteral("plainbefore")), before);

    QElapsedTimer clock;
    bool finished = false;
    QObject::connect(tab.get(), &SetOEMID::batchRunningChanged, &app, [&](bool running) {
        if (running) {
            // The batch starts when the search has ended: measure from here.
            clock.start();
            measuring = true;
        } else {
            measuring = false;
            finished = true;
        }
    });
    QTest::mouseClick(tab->findChild<QPushButton *>(QStringLiteral("searchbtn")), Qt::LeftButton);
    {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (finished || probeClock.elapsed() > (devices * 10 + 120) * 1000)
                loop.quit();
        });
        check.start(50);
        loop.exec();
    }
    const qint64 batchMs = clock.elapsed();
    probe.stop();
    table->flushPending();
    const int rows = table->rowCount();
    int final = 0, oemidShown = 0;
    // The OEMID step's result stays in "Destribe"; the settings end in "Status" with the language.
    for (int r = 0; r < rows; ++r) {
        const QString s = table->model()->index(r, 3).data().toString();
        if (s == QLatin1String("set language success") ||
            s == QLatin1String("set language success(need reboot)"))
            ++final;
        if (table->model()->index(r, 2).data().toString() == QLatin1String("Set OEMID Success"))
            ++oemidShown;
    }

    PlainTimes after;
    const qint64 afterMs =
        plainLoop(plainAfter, plainPort, tmp.filePath(QStringLiteral("plainafter")), after);
    const qint64 plainMs = (beforeMs + afterMs) / 2;
    PlainTimes plain;
    plain.loginNs = (before.loginNs + after.loginNs) / 2;
    plain.oemidNs = (before.oemidNs + after.oemidNs) / 2;
    plain.recordNs = (before.recordNs + after.recordNs) / 2;
    plain.settingsNs = (before.settingsNs + after.settingsNs) / 2;
    // The same loop over the tab's devices, whose login keys the batch has derived on both sides.
    PlainTimes warm;
    const qint64 warmMs = plainLoop(fleet, port, tmp.filePath(QStringLiteral("warm")), warm);

    std::printf("devices %d, listed %d, rows with their final text %d, OEMID written %d%s\n", devices, rows,
                final, oemidShown, finished ? "" : " (TIMED OUT)");
    auto perDevice = [devices](qint64 ns) { return double(ns) / 1e6 / devices; };
    std::printf("batch: %.2f s from its start (the one-second pause included), %.2f s without the pause\n",
                batchMs / 1000.0, (batchMs - 1000) / 1000.0);
    std::printf("plain loop, same device work on devices of its own: %.2f s with the pause, %.2f s without "
                "(before the batch %.2f s, after it %.2f s; %d and %d of %d written and recorded)\n",
                plainMs / 1000.0, (plainMs - 1000) / 1000.0, beforeMs / 1000.0, afterMs / 1000.0,
                before.written, after.written, devices);
    std::printf("  per device: login %.1f ms, OEMID read, write, read back %.1f ms, factory record %.1f ms, "
                "settings %.1f ms\n",
                perDevice(plain.loginNs), perDevice(plain.oemidNs), perDevice(plain.recordNs),
                perDevice(plain.settingsNs));
    std::printf("ratio batch / plain: %.3f with the pause, %.3f without (target <= 1.2)\n",
                double(batchMs) / double(plainMs), double(batchMs - 1000) / double(plainMs - 1000));
    std::printf(
        "plain loop again over the tab's devices, login keys already derived: %.2f s without the pause "
        "(login %.1f ms per device)\n",
        (warmMs - 1000) / 1000.0, perDevice(warm.loginNs));
    std::printf("GUI thread longest stall during the batch: %lld ms (target < 50 ms); gaps > 50 ms: %d\n",
                worstGap, over50);
    tab.reset();
    // A plain loop that failed would be quick for nothing: its ratio means nothing then.
    return final == devices && rows == devices && before.written == devices && after.written == devices ? 0
                                                                                                        : 1;
}
