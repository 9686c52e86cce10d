// The table's own jobs from the command line: reset, reboot, the batch address change, the run log
// of a tab, the table as CSV, and the factory-record upload.

#include "ctlcommand.h"
#include "ctlexit.h"
#include "ctlinterrupt.h"
#include "ctltr.h"

#include "app/apppaths.h"
#include "app/configkeys.h"
#include "device/devicebatch.h"
#include "device/devicecsv.h"
#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/ipchange.h"
#include "device/runlog.h"
#include "device/sdkscope.h"
#include "device/stationmac.h"
#include "device/tablecommand.h"
#include "oemid/oemidvariant.h"
#include "oemid/recorduploader.h"

#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace CtlCommands
{
namespace
{

bool tabKind(const QString &name, TabKind *kind)
{
    if (name == QLatin1String("firmware"))
        *kind = TabKind::Firmware;
    else if (name == QLatin1String("logo"))
        *kind = TabKind::Logo;
    else if (name == QLatin1String("oemid"))
        *kind = TabKind::Oemid;
    else
        return false;
    return true;
}

void addTabOption(QCommandLineParser &parser, const QString &fallback)
{
    parser.addOption(
        QCommandLineOption(QStringLiteral("tab"),
                           TallowCtl::tr("Whose table: firmware, logo or oemid (default %1)").arg(fallback),
                           TallowCtl::tr("tab"), fallback));
}

/// The table of the tab named by --tab, with its run log; null (after saying why) for a wrong name.
std::unique_ptr<DeviceTable> tableOf(const QCommandLineParser &parser)
{
    TabKind kind = TabKind::Firmware;
    if (!tabKind(parser.value(QStringLiteral("tab")), &kind)) {
        CtlCommand::error(TallowCtl::tr("--tab takes firmware, logo or oemid"));
        return nullptr;
    }
    auto table = std::make_unique<DeviceTable>(kind);
    table->setRunLog(RunLog::forTab(kind));
    return table;
}

/// Asks the tab's question on a terminal; without one, only --yes goes ahead.
bool confirmed(const QCommandLineParser &parser, const QString &question)
{
    if (parser.isSet(QStringLiteral("yes")))
        return true;
    if (::isatty(STDIN_FILENO) != 1) {
        CtlCommand::error(TallowCtl::tr("%1 Give --yes to go ahead without a terminal.").arg(question));
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

int tableCommand(const QStringList &args, int command)
{
    const bool reboot = command == CBatchDealThread::Reboot;
    CtlCommand cmd(
        reboot ? QStringLiteral("reboot") : QStringLiteral("reset"),
        reboot ? TallowCtl::tr("Reboots the devices, as the table's Reboot does.")
               : TallowCtl::tr("Resets the devices' configuration to factory defaults, as the table's "
                               "Reset Config does."),
        CtlCommand::Devices, {});
    addTabOption(cmd.parser(), QStringLiteral("firmware"));
    cmd.addCsvOption();
    cmd.parser().addOption(QCommandLineOption({QStringLiteral("y"), QStringLiteral("yes")},
                                              TallowCtl::tr("Do not ask for confirmation")));
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    std::unique_ptr<DeviceTable> table = tableOf(cmd.parser());
    if (!table)
        return CtlExit::BadArguments;

    SdkScope sdk;
    CtlReport report(*table, cmd.mode(), cmd.name());
    const QList<int> rows = cmd.findDevices(*table, report);
    if (rows.isEmpty())
        return report.finish(false, {}, CtlExit::NoDevices);
    const QString question =
        reboot ? QCoreApplication::translate("DeviceTable", "Reboot %1 device(s)?").arg(rows.size())
               : QCoreApplication::translate("DeviceTable",
                                             "Reset the configuration of %1 device(s) to factory defaults?")
                     .arg(rows.size());
    if (!confirmed(cmd.parser(), question))
        return report.finish(false, {}, CtlExit::BadArguments);

    auto run = std::make_unique<TableCommand>(*table);
    QEventLoop loop;
    CtlInterrupt interrupt;
    QObject::connect(run.get(), &TableCommand::finished, &loop, &QEventLoop::quit);
    // The devices go one after another; an interrupt lets the device in hand answer and starts no other.
    QObject::connect(&interrupt, &CtlInterrupt::interrupted, &loop, &QEventLoop::quit);
    if (!run->start(command, rows))
        return report.finish(false, {}, CtlExit::DevicesFailed);
    loop.exec();
    const bool interrupted = interrupt.count() > 0;
    run.reset(); // after an interrupt: waits for the device in hand; the rows not reached stay as they were
    table->flushPending();
    cmd.writeCsv(*table);
    return report.finish(interrupted);
}

} // namespace

int reset(const QStringList &args)
{
    return tableCommand(args, CBatchDealThread::ResetConfig);
}

int reboot(const QStringList &args)
{
    return tableCommand(args, CBatchDealThread::Reboot);
}

int ip(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("ip"),
        TallowCtl::tr("Changes the devices' addresses as a run with ModifyIP does: the last address byte "
                      "becomes the row index (from 0) plus StartIndex, never .0, .255, the gateway or this "
                      "station's own address."),
        CtlCommand::Devices, {Key::StartIndex});
    addTabOption(cmd.parser(), QStringLiteral("firmware"));
    cmd.addCsvOption();
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    const int startIndex = ConfigKeys::intValue(Key::StartIndex);
    if (const QString problem = IpChange::startIndexProblem(startIndex); !problem.isEmpty()) {
        CtlCommand::error(problem);
        return CtlExit::BadArguments;
    }
    std::unique_ptr<DeviceTable> table = tableOf(cmd.parser());
    if (!table)
        return CtlExit::BadArguments;

    SdkScope sdk;
    CtlReport report(*table, cmd.mode(), cmd.name());
    const QList<int> rows = cmd.findDevices(*table, report);
    if (rows.isEmpty())
        return report.finish(false, {}, CtlExit::NoDevices);

    // One change after another, in row order, on the dispatcher: as a run's address changes go.
    DeviceBatch::Ptr batch = DeviceBatch::create(*table);
    DeviceTable *t = table.get();
    BatchPlan plan;
    plan.rows.assign(rows.begin(), rows.end());
    plan.prepare = [t, startIndex](BatchContext &ctx) {
        IpChange::Sdk sdk = IpChange::defaultSdk();
        sdk.stationMac = &StationMac::lookUp;
        const int result =
            IpChange::modifyIP(t->store(), ctx.rows().generation(), ctx.row(), 1, startIndex, sdk);
        if (result == 1) {
            DEV_INFO d{};
            ctx.rows().device(ctx.row(), &d);
            ctx.status(StatusOutcome::Success,
                       TallowCtl::tr("Address changed to %1")
                           .arg(QString::fromLatin1(DeviceRecord::fixedText(d.szIpaddress).c_str())));
        } else if (result == 0) {
            ctx.status(StatusOutcome::Failure, TallowCtl::tr("Address not changed"));
        } else {
            ctx.fail();
        }
        return false; // nothing more to do for the device
    };
    plan.job = [](BatchContext &) {};
    if (!batch->start(std::move(plan)))
        return report.finish(false, {}, CtlExit::DevicesFailed);
    QEventLoop loop;
    CtlInterrupt interrupt;
    QObject::connect(batch.get(), &DeviceBatch::finished, &loop, &QEventLoop::quit);
    QObject::connect(&interrupt, &CtlInterrupt::interrupted, &loop, [&] { batch->cancel(); });
    if (batch->isActive())
        loop.exec();
    batch->cancelAndWait();
    table->flushPending();
    cmd.writeCsv(*table);
    return report.finish(interrupt.count() > 0);
}

int history(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("history"),
        TallowCtl::tr("Prints a tab's run log of one day: every text its devices' status and OEMID "
                      "cells received, with time and device."),
        CtlCommand::Plain, {});
    addTabOption(cmd.parser(), QStringLiteral("firmware"));
    cmd.parser().addOption(QCommandLineOption(
        QStringLiteral("date"), TallowCtl::tr("The day (default today)"), TallowCtl::tr("yyyy-MM-dd")));
    cmd.parser().addOption(QCommandLineOption({QStringLiteral("d"), QStringLiteral("device")},
                                              TallowCtl::tr("Only this device (its MAC, or address:port)"),
                                              TallowCtl::tr("device")));
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    TabKind kind = TabKind::Firmware;
    if (!tabKind(cmd.parser().value(QStringLiteral("tab")), &kind)) {
        CtlCommand::error(TallowCtl::tr("--tab takes firmware, logo or oemid"));
        return CtlExit::BadArguments;
    }
    QDate day = QDate::currentDate();
    if (cmd.parser().isSet(QStringLiteral("date"))) {
        day = QDate::fromString(cmd.parser().value(QStringLiteral("date")), Qt::ISODate);
        if (!day.isValid()) {
            CtlCommand::error(TallowCtl::tr("--date takes a day as yyyy-MM-dd"));
            return CtlExit::BadArguments;
        }
    }
    const QString device = cmd.parser().value(QStringLiteral("device")).toLower();
    const QString path = RunLog::forTab(kind)->fileFor(day);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        CtlCommand::error(TallowCtl::tr("No run log for that day: %1").arg(path));
        return CtlExit::NoDevices;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const QList<QByteArray> f = line.split('\t');
        if (f.size() < 4 || (!device.isEmpty() && QString::fromUtf8(f[1]).toLower() != device))
            continue;
        if (cmd.json()) {
            const QByteArray json =
                QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("history")},
                                          {QStringLiteral("time"), QString::fromUtf8(f[0])},
                                          {QStringLiteral("device"), QString::fromUtf8(f[1])},
                                          {QStringLiteral("column"), QString::fromUtf8(f[2])},
                                          {QStringLiteral("text"), QString::fromUtf8(f[3])}})
                    .toJson(QJsonDocument::Compact);
            std::printf("%s\n", json.constData());
        } else {
            std::printf("%s\n", line.constData());
        }
    }
    std::fflush(stdout);
    return CtlExit::Ok;
}

int exportTable(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("export"),
        TallowCtl::tr("Searches and writes the table as CSV, as the table's Export does (RFC 4180, "
                      "UTF-8, CRLF)."),
        CtlCommand::Devices, {});
    addTabOption(cmd.parser(), QStringLiteral("firmware"));
    cmd.parser().addOption(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                                              TallowCtl::tr("The CSV file (default: stdout)"),
                                              TallowCtl::tr("file")));
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    std::unique_ptr<DeviceTable> table = tableOf(cmd.parser());
    if (!table)
        return CtlExit::BadArguments;
    SdkScope sdk;
    // The CSV is the output: the search's own report goes nowhere.
    std::FILE *sink = std::fopen("/dev/null", "w");
    CtlReport report(*table, CtlReport::Mode::Json, cmd.name(), sink ? sink : stderr);
    const QList<int> rows = cmd.findDevices(*table, report);
    if (sink)
        std::fclose(sink);
    const QString path = cmd.parser().value(QStringLiteral("output"));
    if (path.isEmpty() || path == QLatin1String("-")) {
        const QByteArray csv = DeviceCsv::table(*table).toUtf8();
        std::fwrite(csv.constData(), 1, std::size_t(csv.size()), stdout);
        std::fflush(stdout);
    } else {
        QString error;
        if (!DeviceCsv::write(*table, path, &error)) {
            CtlCommand::error(error);
            return CtlExit::DevicesFailed;
        }
    }
    return rows.isEmpty() ? CtlExit::NoDevices : CtlExit::Ok;
}

namespace
{
/// The upload's messages and progress, as JSON Lines or text on stderr.
class UploadReport : public UploadObserver
{
public:
    explicit UploadReport(bool json) : m_json(json) {}
    void progress(int done, int total) override
    {
        if (m_json)
            line(QJsonObject{{QStringLiteral("event"), QStringLiteral("progress")},
                             {QStringLiteral("done"), done},
                             {QStringLiteral("total"), total}});
    }
    void message(const QString &title, const QString &text) override
    {
        if (m_json)
            line(QJsonObject{{QStringLiteral("event"), QStringLiteral("message")},
                             {QStringLiteral("title"), title},
                             {QStringLiteral("text"), text}});
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    static void line(const QJsonObject &o)
    {
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }

private:
    bool m_json;
};

QString endName(UploadOutcome::End end)
{
    switch (end) {
    case UploadOutcome::End::Done:
        return QStringLiteral("done");
    case UploadOutcome::End::Empty:
        return QStringLiteral("empty");
    case UploadOutcome::End::NotConfigured:
        return QStringLiteral("not-configured");
    case UploadOutcome::End::NetFailed:
        return QStringLiteral("net-failed");
    case UploadOutcome::End::UploadError:
        return QStringLiteral("upload-error");
    case UploadOutcome::End::Busy:
        return QStringLiteral("busy");
    case UploadOutcome::End::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QString();
}
} // namespace

int records(const QStringList &args)
{
    CtlCommand cmd(
        QStringLiteral("records"),
        TallowCtl::tr("records upload: sends the factory records written so far to the record service, "
                      "as the tabs' Upload does."),
        CtlCommand::Plain, {Key::UploadHost, Key::UploadPort, Key::UploadCAFile});
    cmd.parser().addPositionalArgument(QStringLiteral("upload"), TallowCtl::tr("The action"),
                                       QStringLiteral("upload"));
    addTabOption(cmd.parser(), QStringLiteral("oemid"));
    if (const int code = cmd.parse(args); code >= 0)
        return code;
    if (cmd.positional() != QStringList{QStringLiteral("upload")}) {
        CtlCommand::error(TallowCtl::tr("records takes one action: upload"));
        return CtlExit::BadArguments;
    }
    TabKind kind = TabKind::Oemid;
    if (!tabKind(cmd.parser().value(QStringLiteral("tab")), &kind)) {
        CtlCommand::error(TallowCtl::tr("--tab takes firmware, logo or oemid"));
        return CtlExit::BadArguments;
    }
    UploadParams params;
    params.appDir = AppPaths::current().userDataDir();
    params.host = ConfigKeys::stringValue(Key::UploadHost);
    params.port = ConfigKeys::intValue(Key::UploadPort);
    params.caFile = ConfigKeys::stringValue(Key::UploadCAFile);
    params.variant = kind == TabKind::Firmware ? OemidVariant::firmwareTab()
                     : kind == TabKind::Logo   ? OemidVariant::logoTab()
                                               : OemidVariant::oemidTab();
    // Between records and while a request waits: the record in hand is filed where it was.
    params.cancelled = [] { return CtlInterrupt::raised() > 0; };
    CtlInterrupt interrupt;
    UploadReport observer(cmd.json());
    const UploadOutcome o = RecordUploader(params).uploadRecords(&observer);
    int code = CtlExit::Ok;
    switch (o.end) {
    case UploadOutcome::End::Done:
    case UploadOutcome::End::Empty:
        code = o.failed > 0 ? CtlExit::DevicesFailed : CtlExit::Ok;
        break;
    case UploadOutcome::End::NotConfigured:
        code = CtlExit::BadArguments;
        break;
    case UploadOutcome::End::Cancelled:
        code = CtlExit::Interrupted;
        break;
    case UploadOutcome::End::NetFailed:
    case UploadOutcome::End::UploadError:
    case UploadOutcome::End::Busy:
        code = CtlExit::DevicesFailed;
        break;
    }
    if (cmd.json())
        UploadReport::line(QJsonObject{{QStringLiteral("event"), QStringLiteral("summary")},
                                       {QStringLiteral("command"), QStringLiteral("records upload")},
                                       {QStringLiteral("end"), endName(o.end)},
                                       {QStringLiteral("total"), o.total},
                                       {QStringLiteral("loaded"), o.loaded},
                                       {QStringLiteral("failed"), o.failed},
                                       {QStringLiteral("rejected"), o.rejected},
                                       {QStringLiteral("filed"), o.filed},
                                       {QStringLiteral("exitCode"), code}});
    else if (!o.summary.isEmpty())
        std::printf("%s\n", o.summary.toLocal8Bit().constData());
    return code;
}

} // namespace CtlCommands
