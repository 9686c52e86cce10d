// Whole-batch benchmark of the OEMID tab: N simulated devices (256 by default), the OEMID written
// (repeats allowed) and all four settings ticked. Reports whether every row ended with its final
// text, the GUI thread's longest stall during the batch (a 10 ms timer probe), and the batch's time
// against a plain loop making the same SDK calls to the same devices in the same run.
//
//   bench_oemidtab [--devices N]

#include "devsimfleet.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
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
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace
{

// The same SDK calls the batch makes for one device, in a plain loop on this thread.
bool plainDevice(const char *ip, unsigned short port, const QByteArray &writeText)
{
    H264_DVR_DEVICEINFO info{};
    int error = 0;
    const long login = H264_DVR_Login(ip, port, "admin", "", &info, 1, &error);
    if (login <= 0)
        return false;
    QByteArray buffer(10240, '\0');
    int returned = 0;
    H264_DVR_GetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buffer.data(),
                                 buffer.size(), &returned, 1000);
    const long set = H264_DVR_SetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_SET, -1,
                                                  writeText.constData(), writeText.size(), 1000);
    buffer.fill('\0');
    H264_DVR_GetDevConfig_JsonV2(login, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buffer.data(),
                                 buffer.size(), &returned, 1000);
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
    H264_DVR_Logout(login);
    return set >= 1;
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
    QJsonArray fleet;
    for (int i = 0; i < devices; ++i) {
        fleet.append(QJsonObject{
            {QStringLiteral("ip"),
             QStringLiteral("127.0.%1.%2").arg(130 + (i + 10) / 250).arg((i + 10) % 250)},
            {QStringLiteral("mac"), QStringLiteral("00:12:37:00:%1:%2")
                                        .arg(i / 256, 2, 16, QLatin1Char('0'))
                                        .arg(i % 256, 2, 16, QLatin1Char('0'))},
            {QStringLiteral("serial"), QStringLiteral("oemidbench%1").arg(i, 5, 10, QLatin1Char('0'))}});
    }
    DevsimFleet sim;
    if (!sim.start(fleet, port, searchPort)) {
        std::fprintf(stderr, "devsim did not start: %s\n", qPrintable(sim.error()));
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

    // The plain loop: the same calls to the same devices, one after the other on this thread.
    QElapsedTimer plainClock;
    plainClock.start();
    int plainOk = 0;
    for (int i = 0; i < devices; ++i) {
        const QJsonObject d = fleet[i].toObject();
        const QByteArray serial = d.value(QStringLiteral("serial")).toString().toLatin1();
        QString problem;
        const QByteArray text =
            OemidWriter::writeText(QStringLiteral("BENCH1"), QByteArray(), serial, &problem);
        plainOk += plainDevice(qPrintable(d.value(QStringLiteral("ip")).toString()), port, text) ? 1 : 0;
    }
    const qint64 plainMs = plainClock.elapsed();
    // What the batch does beyond the SDK calls: one factory record per verified write, flushed to disk.
    QElapsedTimer recordClock;
    recordClock.start();
    QDir(tmp.path()).mkdir(QStringLiteral("plain"));
    const FactoryRecords records({tmp.filePath(QStringLiteral("plain")), {}, {}});
    records.makeUploadDirs();
    for (int i = 0; i < devices; ++i)
        records.writeFactoryRecord(QStringLiteral("plain%1").arg(i), QStringLiteral("00:12:37:00:00:01"),
                                   QStringLiteral("BENCH1"));
    const qint64 recordsMs = recordClock.elapsed();

    std::printf("devices %d, listed %d, rows with their final text %d, OEMID written %d%s\n", devices, rows,
                final, oemidShown, finished ? "" : " (TIMED OUT)");
    std::printf("batch: %.2f s from its start (the one-second pause included), %.2f s without the pause\n",
                batchMs / 1000.0, (batchMs - 1000) / 1000.0);
    std::printf("plain loop, same calls: %.2f s (%d of %d written)\n", plainMs / 1000.0, plainOk, devices);
    std::printf("ratio batch / plain: %.3f with the pause, %.3f without (target <= 1.2)\n",
                double(batchMs) / double(plainMs), double(batchMs - 1000) / double(plainMs));
    std::printf(
        "the %d factory records alone, written as the batch writes them: %.2f s; batch without the pause "
        "/ (plain loop + records): %.3f\n",
        devices, recordsMs / 1000.0, double(batchMs - 1000) / double(plainMs + recordsMs));
    std::printf("GUI thread longest stall during the batch: %lld ms (target < 50 ms); gaps > 50 ms: %d\n",
                worstGap, over50);
    tab.reset();
    return final == devices && rows == devices ? 0 : 1;
}
