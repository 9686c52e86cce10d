#include "ctlcommand.h"
#include "ctlexit.h"
#include "ctltr.h"
#include "ctlwaves.h"

#include "app/apppaths.h"
#include "device/devicebatch.h"
#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/ipchange.h"
#include "device/loginerrortext.h"
#include "device/runlog.h"
#include "device/sdkscope.h"
#include "device/stationmac.h"
#include "oemid/oemidwriter.h"
#include "upgrade/upgraderuncontroller.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace CtlCommands
{
namespace
{

std::unique_ptr<DeviceTable> openTable(TabKind kind)
{
    auto table = std::make_unique<DeviceTable>(kind);
    table->setRunLog(RunLog::forTab(kind));
    return table;
}

/// The field names of the JSON form of a row.
QString fieldName(Field f)
{
    switch (f) {
    case Field::Number:
        return QStringLiteral("number");
    case Field::Ip:
        return QStringLiteral("ip");
    case Field::Port:
        return QStringLiteral("port");
    case Field::Status:
        return QStringLiteral("status");
    case Field::Mac:
        return QStringLiteral("mac");
    case Field::Cloud:
        return QStringLiteral("cloudId");
    case Field::Version:
        return QStringLiteral("version");
    case Field::BuildDate:
        return QStringLiteral("buildDate");
    case Field::DevType:
        return QStringLiteral("type");
    case Field::Gateway:
        return QStringLiteral("gateway");
    case Field::Oemid:
        return QStringLiteral("oemid");
    case Field::Wave:
        return QStringLiteral("wave");
    }
    return QString();
}

QString cell(const DeviceTable &table, int row, int column)
{
    return table.model()->text(row, column);
}

/// After an interrupt: rows the run never finished say so in their own cells (and so in the history
/// and the run log), as a failure.
void markUnfinished(DeviceTable &table, const QList<int> &rows, const QList<int> &started)
{
    table.flushPending();
    const QList<int> failed = table.failedRows();
    for (int row : rows) {
        const StatusOutcome outcome = table.statusOutcome(row);
        if (failed.contains(row) || outcome == StatusOutcome::Success ||
            outcome == StatusOutcome::Unsupported)
            continue;
        table.setStatusText(row, StatusOutcome::Failure,
                            started.contains(row) ? TallowCtl::tr("Stopped: interrupted")
                                                  : TallowCtl::tr("Not started: interrupted"));
    }
    table.flushPending();
}

/// Firmware upgrade and its check share everything up to the start.
int firmware(const QStringList &args, bool checkOnly)
{
    CtlCommand cmd(checkOnly ? QStringLiteral("check") : QStringLiteral("upgrade"),
                   checkOnly
                       ? TallowCtl::tr("Checks the devices as an upgrade would before its transfer (login, "
                                       "OEMID, hardware) and sends nothing.")
                       : TallowCtl::tr("Upgrades the firmware of the devices: address change (ModifyIP), "
                                       "OEMID step, configuration import, transfer and verification, as the "
                                       "firmware tab does."),
                   CtlCommand::Devices | CtlCommand::Password,
                   {Key::ModifyIP, Key::StartIndex, Key::Verify, Key::VerifyTimeout, Key::StartSpacingMs,
                    Key::MaxParallel, Key::OemidSetEn, Key::OemidRepeatEn, Key::OemidAssigned,
                    Key::WavesEnabled, Key::WavesFirst, Key::WavesGrowth, Key::WavesHalt});
    QCommandLineParser &p = cmd.parser();
    p.addOption(QCommandLineOption({QStringLiteral("p"), QStringLiteral("package")},
                                   TallowCtl::tr("The upgrade package (a zip with an InstallDesc)"),
                                   TallowCtl::tr("file")));
    p.addOption(QCommandLineOption(
        QStringLiteral("config"),
        TallowCtl::tr("A configuration file imported into each device before its transfer"),
        TallowCtl::tr("file")));
    cmd.addCsvOption();
    if (const int code = cmd.parse(args); code >= 0)
        return code;

    UpgradeRequest request = UpgradeRequest::fromConfig();
    request.packagePath = p.value(QStringLiteral("package"));
    request.configPath = p.value(QStringLiteral("config"));
    request.tabPassword = cmd.password();
    request.setOEMID = ConfigKeys::isOn(Key::OemidSetEn);
    request.allowRepeat = ConfigKeys::isOn(Key::OemidRepeatEn);
    request.dataDir = AppPaths::current().userDataDir();
    request.startIndex = ConfigKeys::intValue(Key::StartIndex);
    request.waves = WaveSettings::enabledInConfig();
    // The cheap checks before the search, which takes seconds; the controller makes them again.
    if (request.packagePath.isEmpty()) {
        CtlCommand::error(QCoreApplication::translate("UpgradeWidget", "Please Select a Program"));
        return CtlExit::BadArguments;
    }
    if (request.modifyIP) {
        if (const QString problem = IpChange::startIndexProblem(request.startIndex); !problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }
    if (request.setOEMID) {
        if (const QString problem = OemidWriter::assignedOemidProblem(request.assignedOemid);
            !problem.isEmpty()) {
            CtlCommand::error(problem);
            return CtlExit::BadArguments;
        }
    }

    SdkScope sdk;
    std::unique_ptr<DeviceTable> table = openTable(TabKind::Firmware);
    CtlReport report(*table, cmd.mode(), cmd.name());
    const QList<int> rows = cmd.findDevices(*table, report);
    if (rows.isEmpty())
        return report.finish(false, {}, CtlExit::NoDevices);

    DeviceBatch::Ptr batch = DeviceBatch::create(*table);
    UpgradeHooks hooks;
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    DeviceTable *t = table.get();
    const int startIndex = request.startIndex;
    hooks.modifyIP = [t, startIndex](int row, const QByteArray &password) {
        t->updateDevice(t->generation(), row,
                        [&password](DEV_INFO &record) { DeviceRecord::setRunPassword(record, password); });
        IpChange::Sdk ipSdk = IpChange::defaultSdk();
        ipSdk.stationMac = &StationMac::lookUp;
        return IpChange::modifyIP(t->store(), t->generation(), row, 1, startIndex, ipSdk);
    };
    UpgradeRunController runs(*batch, hooks);
    runs.setEndedWell([t](int row) { return t->endedWell(row); });

    // Rows the run reached, for the texts an interrupt leaves.
    auto started = std::make_shared<QList<int>>();
    QObject::connect(
        table->model(), &QAbstractItemModel::dataChanged, table.get(),
        [started, column = table->variant().statusColumn](const QModelIndex &tl, const QModelIndex &br) {
            if (tl.column() <= column && column <= br.column())
                for (int r = tl.row(); r <= br.row(); ++r)
                    if (!started->contains(r))
                        started->append(r);
        });

    // The controller checks the request and reads the package off this thread; it either starts the
    // run or says why not.
    {
        QEventLoop loop;
        bool refusedPackage = false;
        QString refusal;
        QObject::connect(&runs, &UpgradeRunController::runStarted, &loop, &QEventLoop::quit);
        QObject::connect(&runs, &UpgradeRunController::packageRefused, &loop, [&] { refusedPackage = true; });
        QObject::connect(&runs, &UpgradeRunController::prompt, &loop, [&](const QString &text) {
            refusal = text;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        if (checkOnly) {
            runs.startCheck(request, rows);
        } else {
            std::vector<int> plan(rows.begin(), rows.end());
            runs.startUpgrade(request, table->generation(), plan);
        }
        if (refusal.isEmpty() && !batch->isActive())
            loop.exec();
        if (!refusal.isEmpty() || !batch->isActive()) {
            const QString what = refusal.isEmpty() ? TallowCtl::tr("The run did not start") : refusal;
            CtlCommand::error(refusedPackage ? QStringLiteral("%1: %2").arg(request.packagePath, what)
                                             : what);
            return report.finish(false, {}, refusedPackage ? CtlExit::InputRefused : CtlExit::BadArguments);
        }
    }
    WaveRun *waves = request.waves && !checkOnly ? &runs.waveRun() : nullptr;
    const int interrupts = CtlWaves::waitForRun(
        *batch, [&runs] { runs.shutdown(); }, waves);
    QJsonObject extra{{QStringLiteral("package"), request.packagePath}};
    if (waves) {
        CtlWaves::finishWaves(*waves, &extra, [](const WaveHalt &halt, int count) {
            return TallowCtl::tr(
                       "Halted: wave %1 of %2 failed (%3 of its %4 devices did not end verified; the "
                       "run halts at %5); %6 devices were not started")
                .arg(halt.wave)
                .arg(count)
                .arg(halt.failed)
                .arg(halt.size)
                .arg(halt.haltAt)
                .arg(halt.notStarted);
        });
    }
    runs.shutdown();
    if (interrupts > 0 && waves)
        CtlWaves::markUnstarted(*table, rows);
    if (interrupts > 0)
        markUnfinished(*table, rows, *started);
    table->flushPending();
    cmd.writeCsv(*table);
    return report.finish(interrupts > 0, extra);
}

} // namespace

QString versionText()
{
    // The tool's version, then the places the window's About box lists (Config.ini, run logs,
    // records, ...), so a script can tell which files a station uses.
    QString out = TallowCtl::tr("tallowctl %1").arg(AppPaths::version()) + QLatin1Char('\n');
    for (const auto &[label, path] : AppPaths::current().listing())
        out += QStringLiteral("%1: %2\n").arg(label, path);
    return out;
}

int search(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("search"),
        TallowCtl::tr("Searches the network and lists the devices found, as the firmware tab's table "
                      "(--tab logo or oemid: as that tab lists them)."),
        CtlCommand::Devices, {});
    cmd.parser().addOption(QCommandLineOption(QStringLiteral("tab"),
                                              TallowCtl::tr("Whose table: firmware (default), logo or oemid"),
                                              TallowCtl::tr("tab"), QStringLiteral("firmware")));
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    const QString tab = cmd.parser().value(QStringLiteral("tab"));
    TabKind kind = TabKind::Firmware;
    if (tab == QLatin1String("logo"))
        kind = TabKind::Logo;
    else if (tab == QLatin1String("oemid"))
        kind = TabKind::Oemid;
    else if (tab != QLatin1String("firmware")) {
        CtlCommand::error(TallowCtl::tr("--tab takes firmware, logo or oemid"));
        return CtlExit::BadArguments;
    }

    SdkScope sdk;
    std::unique_ptr<DeviceTable> table = openTable(kind);
    CtlReport report(*table, cmd.mode(), cmd.name());
    const QList<int> rows = cmd.findDevices(*table, report);
    const TableVariant &variant = table->variant();
    if (cmd.json()) {
        for (int row : rows) {
            QJsonObject o{{QStringLiteral("event"), QStringLiteral("found")}};
            for (int c = 0; c < 8; ++c)
                o.insert(fieldName(variant.columns[std::size_t(c)].field), cell(*table, row, c));
            o.insert(QStringLiteral("ip"), CtlFleet::rowAddress(*table, row));
            o.insert(QStringLiteral("mac"), CtlFleet::rowMac(*table, row));
            report.line(o);
        }
        report.line(QJsonObject{{QStringLiteral("event"), QStringLiteral("summary")},
                                {QStringLiteral("command"), cmd.name()},
                                {QStringLiteral("found"), int(rows.size())},
                                {QStringLiteral("exitCode"), rows.isEmpty() ? int(CtlExit::NoDevices) : 0}});
    } else {
        std::vector<int> widths(8, 0);
        QList<QStringList> lines;
        QStringList header;
        for (int c = 0; c < 8; ++c)
            header << QCoreApplication::translate("DeviceTable", variant.columns[std::size_t(c)].header);
        lines << header;
        for (int row : rows) {
            QStringList l;
            for (int c = 0; c < 8; ++c)
                l << cell(*table, row, c);
            lines << l;
        }
        for (const QStringList &l : lines)
            for (int c = 0; c < 8; ++c)
                widths[std::size_t(c)] = std::max(widths[std::size_t(c)], int(l[c].size()));
        for (const QStringList &l : lines) {
            QString text;
            for (int c = 0; c < 8; ++c)
                text += l[c].leftJustified(widths[std::size_t(c)] + 2);
            std::printf("%s\n", text.trimmed().toLocal8Bit().constData());
        }
        std::printf("%s\n", TallowCtl::tr("Devices found: %1").arg(rows.size()).toLocal8Bit().constData());
    }
    return rows.isEmpty() ? CtlExit::NoDevices : CtlExit::Ok;
}

int upgrade(const QStringList &args)
{
    return firmware(args, false);
}

int check(const QStringList &args)
{
    return firmware(args, true);
}

namespace
{
struct Subcommand {
    const char *name;
    const char *summary; ///< untranslated; context "TallowCtl"
    int (*run)(const QStringList &args);
};

const Subcommand subcommands[] = {
    {"search", QT_TRANSLATE_NOOP("TallowCtl", "list the devices a search finds"), &search},
    {"check", QT_TRANSLATE_NOOP("TallowCtl", "check the devices before flashing"), &check},
    {"upgrade", QT_TRANSLATE_NOOP("TallowCtl", "upgrade the firmware"), &upgrade},
    {"logo", QT_TRANSLATE_NOOP("TallowCtl", "logo make / logo burn: make or burn the logo package"), &logo},
    {"oemid", QT_TRANSLATE_NOOP("TallowCtl", "write the OEMID and the OEMID tab's settings"), &oemid},
    {"ip", QT_TRANSLATE_NOOP("TallowCtl", "change the devices' addresses (batch IP change)"), &ip},
    {"reset", QT_TRANSLATE_NOOP("TallowCtl", "reset the devices' configuration"), &reset},
    {"reboot", QT_TRANSLATE_NOOP("TallowCtl", "reboot the devices"), &reboot},
    {"records", QT_TRANSLATE_NOOP("TallowCtl", "records upload: send the factory records"), &records},
    {"history", QT_TRANSLATE_NOOP("TallowCtl", "print a tab's run log"), &history},
    {"export", QT_TRANSLATE_NOOP("TallowCtl", "write the table as CSV"), &exportTable},
};
} // namespace

int run(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(TallowCtl::tr(
        "Runs Tallow's batch jobs on the devices of this station's network, without a window."));
    parser.addHelpOption();
    parser.addOption(QCommandLineOption({QStringLiteral("V"), QStringLiteral("version")},
                                        TallowCtl::tr("Shows the version and the files in use")));
    QString commands;
    for (const Subcommand &s : subcommands)
        commands += QStringLiteral("  %1  %2\n")
                        .arg(QString::fromLatin1(s.name), -14)
                        .arg(QCoreApplication::translate("TallowCtl", s.summary));
    parser.addPositionalArgument(QStringLiteral("command"), TallowCtl::tr("One of:\n%1").arg(commands),
                                 TallowCtl::tr("<command> [options]"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(args)) {
        CtlCommand::error(parser.errorText());
        return CtlExit::BadArguments;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s", versionText().toLocal8Bit().constData());
        return CtlExit::Ok;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
        positional.isEmpty()) {
        const QByteArray help = parser.helpText().toLocal8Bit();
        std::fwrite(help.constData(), 1, std::size_t(help.size()),
                    positional.isEmpty() && !parser.isSet(QStringLiteral("help")) ? stderr : stdout);
        return positional.isEmpty() && !parser.isSet(QStringLiteral("help")) ? CtlExit::BadArguments
                                                                             : CtlExit::Ok;
    }
    for (const Subcommand &s : subcommands)
        if (positional.first() == QLatin1String(s.name)) {
            // The subcommand parses the whole line again: its own options, after its name.
            QStringList rest = args;
            rest.removeAt(args.indexOf(positional.first()));
            rest.insert(1, positional.first());
            return s.run(rest);
        }
    CtlCommand::error(
        TallowCtl::tr("Unknown command \"%1\". Try \"tallowctl --help\".").arg(positional.first()));
    return CtlExit::BadArguments;
}

} // namespace CtlCommands
