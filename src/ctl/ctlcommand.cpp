#include "ctlcommand.h"

#include "ctlconfig.h"
#include "ctlexit.h"
#include "ctlpassword.h"
#include "ctltr.h"

#include "device/devicecsv.h"
#include "device/devicetable.h"

#include <QCommandLineOption>

#include <cstdio>
#include <unistd.h>

CtlCommand::CtlCommand(const QString &name, const QString &description, int needs, std::vector<Key> keys)
    : m_name(name), m_needs(needs), m_keys(std::move(keys))
{
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
    m_parser.addPositionalArgument(name, description, name);
    m_keys.push_back(Key::Solution);
    m_parser.addOption(
        QCommandLineOption(QStringLiteral("json"),
                           TallowCtl::tr("JSON Lines on stdout (the default when stdout is no terminal)")));
    if (m_needs & Devices) {
        m_parser.addOption(QCommandLineOption(
            {QStringLiteral("d"), QStringLiteral("device")},
            TallowCtl::tr("Work on this device only (IPv4 or MAC address); may be repeated"),
            TallowCtl::tr("address")));
        m_parser.addOption(QCommandLineOption(QStringLiteral("devices-file"),
                                              TallowCtl::tr("Work on the devices listed in this file"),
                                              TallowCtl::tr("file")));
        m_parser.addOption(QCommandLineOption(
            QStringLiteral("search-time"), TallowCtl::tr("How long the search listens, in ms (default 5000)"),
            TallowCtl::tr("ms"), QStringLiteral("5000")));
    }
    if (m_needs & Password)
        m_parser.addOption(QCommandLineOption(
            QStringLiteral("password-file"),
            TallowCtl::tr("Read the device password from this file (else TALLOW_PASSWORD, else a prompt on a "
                          "terminal, else empty)"),
            TallowCtl::tr("file")));
    CtlConfig::addOptions(m_parser, m_keys);
}

void CtlCommand::error(const QString &text)
{
    std::fprintf(stderr, "tallowctl: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int CtlCommand::parse(const QStringList &args)
{
    if (!m_parser.parse(args)) {
        error(m_parser.errorText());
        error(TallowCtl::tr("Try \"tallowctl %1 --help\".").arg(m_name));
        return CtlExit::BadArguments;
    }
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all"))) {
        const QByteArray help = m_parser.helpText().toLocal8Bit();
        std::fwrite(help.constData(), 1, std::size_t(help.size()), stdout);
        return CtlExit::Ok;
    }
    m_json = m_parser.isSet(QStringLiteral("json")) || ::isatty(STDOUT_FILENO) != 1;

    QString problem;
    if (!CtlConfig::apply(m_parser, m_keys, m_scratch, &problem)) {
        error(problem);
        return CtlExit::BadArguments;
    }
    if (m_needs & Devices) {
        if (!CtlFleet::parseTargets(m_parser.values(QStringLiteral("device")),
                                    m_parser.value(QStringLiteral("devices-file")), &m_targets, &problem)) {
            error(problem);
            return CtlExit::BadArguments;
        }
        bool ok = false;
        m_searchMs = m_parser.value(QStringLiteral("search-time")).toInt(&ok);
        if (!ok || m_searchMs < 100 || m_searchMs > 60000) {
            error(TallowCtl::tr("--search-time takes 100 to 60000 ms"));
            return CtlExit::BadArguments;
        }
    }
    if (m_needs & Password) {
        const CtlPassword::Result r = CtlPassword::resolve(
            CtlPassword::processSources(m_parser.value(QStringLiteral("password-file"))));
        if (!r.ok) {
            error(r.error);
            return CtlExit::BadArguments;
        }
        m_password = r.password;
    }
    return -1;
}

QStringList CtlCommand::positional() const
{
    QStringList p = m_parser.positionalArguments();
    if (!p.isEmpty())
        p.removeFirst();
    return p;
}

QList<int> CtlCommand::findDevices(DeviceTable &table, CtlReport &report)
{
    CtlFleet::search(table, m_searchMs);
    QList<CtlFleet::Target> missing;
    const QList<int> rows = CtlFleet::pick(table, m_targets, &missing);
    report.follow(rows);
    for (const CtlFleet::Target &t : missing)
        report.missing(t.text);
    if (rows.isEmpty())
        error(m_targets.isEmpty() ? TallowCtl::tr("The search found no device")
                                  : TallowCtl::tr("The search found none of the devices named"));
    return rows;
}

void CtlCommand::addCsvOption()
{
    m_parser.addOption(
        QCommandLineOption(QStringLiteral("csv"),
                           TallowCtl::tr("At the end, write the table as CSV to this file, as the "
                                         "table's Export does"),
                           TallowCtl::tr("file")));
}

bool CtlCommand::writeCsv(const DeviceTable &table) const
{
    const QString path = m_parser.value(QStringLiteral("csv"));
    if (path.isEmpty())
        return true;
    QString problem;
    if (DeviceCsv::write(table, path, &problem))
        return true;
    error(problem);
    return false;
}
