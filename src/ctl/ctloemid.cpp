// oemid: the OEMID tab's run (OEMID write and the clock, zone, language and codec settings) through its
// run controller, on the OEMID tab's table.

#include "ctlcommand.h"
#include "ctlexit.h"
#include "ctlinterrupt.h"
#include "ctltr.h"

#include "app/apppaths.h"
#include "app/configkeys.h"
#include "device/devicebatch.h"
#include "device/devicetable.h"
#include "device/ipchange.h"
#include "device/runlog.h"
#include "device/sdkscope.h"
#include "device/stationmac.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidruncontroller.h"
#include "settings/devicesettings.h"

#include <QEventLoop>
#include <QJsonObject>

#include <memory>

namespace CtlCommands
{
namespace
{

/// The zone named as the tab's list shows it ("UTC+08:00", brackets optional); false when none is.
bool zoneValue(const QString &text, int *value)
{
    QString t = text.trimmed().toUpper();
    if (!t.startsWith(QLatin1Char('[')))
        t = QLatin1Char('[') + t + QLatin1Char(']');
    for (const TimeZoneEntry &z : DeviceSettingsLists::timeZones())
        if (t == QLatin1String(z.text)) {
            *value = z.value;
            return true;
        }
    return false;
}

/// The language as the device names it; empty when it is none of the tab's list.
QString languageName(const QString &text)
{
    for (const char *name : DeviceSettingsLists::languages())
        if (text.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(name);
    return QString();
}

} // namespace

int oemid(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("oemid"),
        TallowCtl::tr("Writes the assigned OEMID into the devices and reads it back, then pushes the chosen "
                      "settings (clock, time zone, language, H.264 instead of H.265X), one device after "
                      "another, as the OEMID tab does."),
        CtlCommand::Devices,
        {Key::OemidSetEn, Key::OemidRepeatEn, Key::OemidAssigned, Key::ModifyIP, Key::StartIndex});
    QCommandLineParser &p = cmd.parser();
    p.addOption(QCommandLineOption(QStringLiteral("sync-time"),
                                   TallowCtl::tr("Set the devices' clocks to this station's time")));
    p.addOption(QCommandLineOption(
        QStringLiteral("time-zone"),
        TallowCtl::tr("Set the devices' time zone, as the tab lists it (UTC+08:00)"), TallowCtl::tr("zone")));
    p.addOption(QCommandLineOption(QStringLiteral("language"),
                                   TallowCtl::tr("Set the devices' language (SimpChinese, English, ...)"),
                                   TallowCtl::tr("name")));
    p.addOption(QCommandLineOption(QStringLiteral("h264"), TallowCtl::tr("Turn the devices' H.265X off")));
    cmd.addCsvOption();
    if (const int code = cmd.parse(args); code >= 0)
        return code;

    OemidRunOptions options;
    options.setOemid = ConfigKeys::isOn(Key::OemidSetEn);
    options.allowRepeat = options.setOemid && ConfigKeys::isOn(Key::OemidRepeatEn);
    options.modifyIp = ConfigKeys::isOn(Key::ModifyIP);
    options.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned).trimmed();
    if (options.assignedOemid.isEmpty())
        options.assignedOemid = QStringLiteral("000");
    options.dataDir = AppPaths::current().userDataDir();
    options.settings.time = p.isSet(QStringLiteral("sync-time"));
    options.settings.codec = p.isSet(QStringLiteral("h264"));
    if (p.isSet(QStringLiteral("time-zone"))) {
        options.settings.zone = true;
        if (!zoneValue(p.value(QStringLiteral("time-zone")), &options.settings.zoneValue)) {
            CtlCommand::error(
                TallowCtl::tr("--time-zone takes a zone from UTC-12:00 to UTC+13:00, not \"%1\"")
                    .arg(p.value(QStringLiteral("time-zone"))));
            return CtlExit::BadArguments;
        }
    }
    if (p.isSet(QStringLiteral("language"))) {
        options.settings.language = true;
        options.settings.languageName = languageName(p.value(QStringLiteral("language")));
        if (options.settings.languageName.isEmpty()) {
            CtlCommand::error(TallowCtl::tr("--language takes one of the tab's languages, not \"%1\"")
                                  .arg(p.value(QStringLiteral("language"))));
            return CtlExit::BadArguments;
        }
    }
    // As the tab: nothing chosen is nothing to do.
    if (!options.setOemid && !options.settings.any()) {
        CtlCommand::error(QCoreApplication::translate("SetOEMID", "Please choose way"));
        return CtlExit::BadArguments;
    }
    const int startIndex = ConfigKeys::intValue(Key::StartIndex);
    if (options.modifyIp) {
        if (const QString problem = IpChange::startIndexProblem(startIndex); !problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }
    if (options.setOemid) {
        QString problem = OemidWriter::assignedOemidProblem(options.assignedOemid);
        if (problem.isEmpty() &&
            !FactoryRecords(FactoryRecords::Params{options.dataDir, {}, {}}).makeUploadDirs())
            problem = QCoreApplication::translate("SetOEMID", "Create uploaddir failed");
        if (!problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }
    options.message = [](const QString &, const QString &text) { CtlCommand::error(text); };

    SdkScope sdk;
    auto table = std::make_unique<DeviceTable>(TabKind::Oemid);
    table->setRunLog(RunLog::forTab(TabKind::Oemid));
    CtlReport report(*table, cmd.mode(), cmd.name());
    const QList<int> rows = cmd.findDevices(*table, report);
    if (rows.isEmpty())
        return report.finish(false, {}, CtlExit::NoDevices);

    DeviceBatch::Ptr batch = DeviceBatch::create(*table);
    DeviceTable *t = table.get();
    OemidRunController runs(*batch, [t, startIndex](quint64 generation, int row) {
        IpChange::Sdk ipSdk = IpChange::defaultSdk();
        ipSdk.stationMac = &StationMac::lookUp;
        return IpChange::modifyIP(t->store(), generation, row, 1, startIndex, ipSdk);
    });
    QString problem;
    if (!runs.start(options, std::vector<int>(rows.begin(), rows.end()), &problem)) {
        if (!problem.isEmpty())
            CtlCommand::error(problem);
        return report.finish(false, {}, CtlExit::DevicesFailed);
    }
    QEventLoop loop;
    CtlInterrupt interrupt;
    QObject::connect(&runs, &OemidRunController::finished, &loop, &QEventLoop::quit);
    // One device at a time: an interrupt lets the device in hand finish and starts no other.
    QObject::connect(&interrupt, &CtlInterrupt::interrupted, &loop, [&] { batch->cancel(); });
    if (batch->isActive())
        loop.exec();
    batch->cancelAndWait();
    table->flushPending();
    cmd.writeCsv(*table);
    return report.finish(
        interrupt.count() > 0,
        QJsonObject{{QStringLiteral("oemid"), options.setOemid ? options.assignedOemid : QString()}});
}

} // namespace CtlCommands
