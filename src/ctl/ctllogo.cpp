// logo make and logo burn: the logo tab's runs through its controller, on the logo tab's table.

#include "ctlcommand.h"
#include "ctlexit.h"
#include "ctlinterrupt.h"
#include "ctltr.h"
#include "ctlwaves.h"

#include "app/apppaths.h"
#include "app/configkeys.h"
#include "device/devicebatch.h"
#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/ipchange.h"
#include "device/loginerrortext.h"
#include "device/runlog.h"
#include "device/sdkscope.h"
#include "device/stationmac.h"
#include "logo/logocheck.h"
#include "logo/logoruncontroller.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidwriter.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace CtlCommands
{
namespace
{

/// The burn in waves: every device checked, then burnt wave by wave. A halt stops the command, as
/// nobody is there to answer "go on": the devices not started keep "Halted: wave N failed".
int burnInWaves(LogoRunController::Run run, const WaveSettings &settings, LogoRunController &runs,
                DeviceBatch &batch, DeviceTable &table, const CtlCommand &cmd, CtlReport &report)
{
    const QList<int> rows(run.rows.begin(), run.rows.end());
    QString stageProblem;
    QObject::connect(&runs, &LogoRunController::stageFailed, &runs,
                     [&stageProblem](const QString &text) { stageProblem = text; });
    if (!runs.startWaves(std::move(run), settings, [&table](int row) { return table.endedWell(row); })) {
        CtlCommand::error(TallowCtl::tr("The run did not start"));
        return report.finish(false, {}, CtlExit::BadArguments);
    }
    WaveRun &waves = runs.waveRun();
    const int interrupts = CtlWaves::waitForRun(
        batch, [&batch] { batch.cancelAndWait(); }, &waves);
    batch.cancelAndWait();
    if (!stageProblem.isEmpty()) {
        CtlCommand::error(stageProblem);
        return report.finish(false, {}, CtlExit::InputRefused);
    }
    if (interrupts > 0)
        CtlWaves::markUnstarted(table, rows);
    table.flushPending();
    cmd.writeCsv(table); // with each device's wave
    QJsonObject extra;
    CtlWaves::finishWaves(waves, &extra, [](const WaveHalt &halt, int count) {
        return TallowCtl::tr("Halted: wave %1 of %2 failed (%3 of its %4 devices did not end burnt; the run "
                             "halts at %5); %6 devices were not started")
            .arg(halt.wave)
            .arg(count)
            .arg(halt.failed)
            .arg(halt.size)
            .arg(halt.haltAt)
            .arg(halt.notStarted);
    });
    return report.finish(interrupts > 0, extra);
}

} // namespace

int logo(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("logo"),
        TallowCtl::tr("logo make: makes one logo package per device; logo burn: makes the package and "
                      "burns it into the devices, as the logo tab does. The pictures and links come "
                      "from Config.ini or the flags."),
        CtlCommand::Devices | CtlCommand::Password,
        {Key::LogoBoot, Key::LogoClose, Key::LogoLoss, Key::LogoBlind, Key::AppLinkIOS, Key::AppLinkAndroid,
         Key::ModifyIP, Key::StartIndex, Key::StartSpacingMs, Key::MaxParallel, Key::OemidSetEn,
         Key::OemidRepeatEn, Key::OemidAssigned, Key::WavesEnabled, Key::WavesFirst, Key::WavesGrowth,
         Key::WavesHalt});
    cmd.parser().addPositionalArgument(QStringLiteral("action"), TallowCtl::tr("make or burn"),
                                       QStringLiteral("make|burn"));
    cmd.addCsvOption();
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    const QStringList action = cmd.positional();
    if (action != QStringList{QStringLiteral("make")} && action != QStringList{QStringLiteral("burn")}) {
        CtlCommand::error(TallowCtl::tr("logo takes one action: make or burn"));
        return CtlExit::BadArguments;
    }
    const bool burn = action.first() == QLatin1String("burn");
    // Waves are a burn's: a make-only run sends nothing, as the tab's GetLogoPrograms ignores its Waves box.
    const bool inWaves = burn && WaveSettings::enabledInConfig();
    WaveSettings waveSettings;
    if (inWaves) {
        if (QString problem; !WaveSettings::fromConfig(&waveSettings, &problem)) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }

    LogoStageInput stage;
    stage.pictures.boot = ConfigKeys::inApplicationDir(ConfigKeys::stringValue(Key::LogoBoot));
    stage.pictures.close = ConfigKeys::inApplicationDir(ConfigKeys::stringValue(Key::LogoClose));
    stage.pictures.loss = ConfigKeys::inApplicationDir(ConfigKeys::stringValue(Key::LogoLoss));
    stage.pictures.blind = ConfigKeys::inApplicationDir(ConfigKeys::stringValue(Key::LogoBlind));
    stage.links.android = ConfigKeys::stringValue(Key::AppLinkAndroid);
    stage.links.ios = ConfigKeys::stringValue(Key::AppLinkIOS);
    stage.links.iosShown = !stage.links.ios.isEmpty();
    stage.appLinkWanted = !stage.links.android.isEmpty() || !stage.links.ios.isEmpty();
    // The tab learns this from the device it probes; here the operator asks for links by giving them.
    stage.appLinkSupported = stage.appLinkWanted;
    const LogoCheck::Outcome check = LogoCheck::check(stage.pictures, 1);
    if (!check.ok()) {
        CtlCommand::error(check.message.isEmpty() ? LogoCheck::message(check.result) : check.message);
        return CtlExit::InputRefused;
    }

    LogoRunParams params;
    params.modify = burn;
    params.password = cmd.password();
    params.modifyIP = ConfigKeys::isOn(Key::ModifyIP);
    const ConfigKeys::RunPacing pacing = ConfigKeys::runPacing();
    params.spacingMs = pacing.spacingMs;
    params.maxParallel = pacing.maxParallel;
    params.appDir = AppPaths::current().userDataDir();
    params.setOEMID = burn && ConfigKeys::isOn(Key::OemidSetEn);
    params.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned);
    params.allowRepeat = ConfigKeys::isOn(Key::OemidRepeatEn);
    const int startIndex = ConfigKeys::intValue(Key::StartIndex);
    if (params.modifyIP) {
        if (const QString problem = IpChange::startIndexProblem(startIndex); !problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }
    if (params.setOEMID) {
        QString problem = OemidWriter::assignedOemidProblem(params.assignedOemid);
        if (problem.isEmpty())
            FactoryRecords(FactoryRecords::Params{params.appDir, {}, {}}).makeUploadDirs(&problem);
        if (!problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }

    SdkScope sdk;
    auto table = std::make_unique<DeviceTable>(TabKind::Logo);
    table->setRunLog(RunLog::forTab(TabKind::Logo));
    // The package builder lists the image's files on stdout, as the file-system tools do; here stdout
    // carries the command's report alone, so that listing goes to stderr.
    std::FILE *out = stdout;
    std::fflush(stdout);
    if (const int kept = ::dup(STDOUT_FILENO); kept >= 0) {
        if (std::FILE *f = ::fdopen(kept, "w"); f && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
            out = f;
    }
    CtlReport report(*table, cmd.mode(), QStringLiteral("logo ") + action.first(), out);
    const QList<int> rows = cmd.findDevices(*table, report);
    if (rows.isEmpty())
        return report.finish(false, {}, CtlExit::NoDevices);

    DeviceBatch::Ptr batch = DeviceBatch::create(*table);
    LogoRunController runs(*batch);
    DeviceTable *t = table.get();
    LogoRunController::Run run{std::vector<int>(rows.begin(), rows.end()), params, stage, {}};
    run.hooks.modifyIP = [t, startIndex](int row, const QByteArray &password) {
        t->updateDevice(t->generation(), row,
                        [&password](DEV_INFO &record) { DeviceRecord::setRunPassword(record, password); });
        IpChange::Sdk ipSdk = IpChange::defaultSdk();
        ipSdk.stationMac = &StationMac::lookUp;
        return IpChange::modifyIP(t->store(), t->generation(), row, 1, startIndex, ipSdk);
    };
    run.hooks.loginErrorText = [](int code) { return loginErrorText(code); };

    if (inWaves)
        return burnInWaves(std::move(run), waveSettings, runs, *batch, *table, cmd, report);

    QJsonArray packages;
    QString stageProblem;
    QEventLoop loop;
    CtlInterrupt interrupt;
    QObject::connect(&runs, &LogoRunController::runEnded, &loop, &QEventLoop::quit);
    QObject::connect(&runs, &LogoRunController::stageFailed, &loop, [&](const QString &text) {
        stageProblem = text;
        loop.quit();
    });
    QObject::connect(&runs, &LogoRunController::packageMade, &loop,
                     [&](const QString &path) { packages.append(path); });
    QObject::connect(&interrupt, &CtlInterrupt::interrupted, &loop, [&](int count) {
        if (count == 1) {
            CtlCommand::error(TallowCtl::tr("Interrupted: no further device starts; waiting for the devices "
                                            "under way (Ctrl+C again stops them)"));
            batch->cancel();
        } else {
            CtlCommand::error(TallowCtl::tr("Interrupted again: stopping the devices under way"));
            batch->cancelAndWait();
            loop.quit();
        }
    });
    runs.start(std::move(run));
    if (runs.running() && stageProblem.isEmpty())
        loop.exec();
    batch->cancelAndWait();
    if (!stageProblem.isEmpty()) {
        CtlCommand::error(stageProblem);
        return report.finish(false, {}, CtlExit::InputRefused);
    }
    table->flushPending();
    cmd.writeCsv(*table);
    const bool interrupted = interrupt.count() > 0;
    int code = -1; // as the rows' results say
    if (!burn && !interrupted) {
        // A make-only run leaves its rows at their login: what it made is the packages, one a device.
        const CtlReport::Tally t = report.tally();
        code = t.failed == 0 && packages.size() == rows.size() ? CtlExit::Ok : CtlExit::DevicesFailed;
    }
    return report.finish(interrupted, QJsonObject{{QStringLiteral("packages"), packages}}, code);
}

} // namespace CtlCommands
