#pragma once

#include "ctlfleet.h"
#include "ctlreport.h"

#include "app/configkeys.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

class DeviceTable;

/// What every subcommand shares: its parser (with --help), the output form, the devices it works on,
/// the password and the Config.ini flags. A subcommand adds its own options, calls parse(), then
/// findDevices() on the table of the tab whose job it runs.
class CtlCommand
{
public:
    enum Needs { Plain = 0, Devices = 1, Password = 2 };
    CtlCommand(const QString &name, const QString &description, int needs, std::vector<Key> keys);

    QCommandLineParser &parser() { return m_parser; }
    const QString &name() const { return m_name; }

    /// Parses `args` (the whole command line). Returns -1 to go on; otherwise the exit code (0 after
    /// --help, BadArguments with the reason on stderr).
    int parse(const QStringList &args);
    /// The subcommand's positional arguments (after its name).
    QStringList positional() const;

    bool json() const { return m_json; }
    CtlReport::Mode mode() const { return m_json ? CtlReport::Mode::Json : CtlReport::Mode::Terminal; }
    const QByteArray &password() const { return m_password; }
    int searchTimeMs() const { return m_searchMs; }

    /// Searches into `table`, reports names that no device answered to, and returns the rows to work
    /// on; empty (with the reason on stderr and the summary written) when there are none.
    QList<int> findDevices(DeviceTable &table, CtlReport &report);

    /// --csv FILE: the table as CSV at the end, as the table's Export writes it.
    void addCsvOption();
    /// Writes the table to --csv when given; false after saying why it could not.
    bool writeCsv(const DeviceTable &table) const;

    /// A message for the operator on stderr.
    static void error(const QString &text);

private:
    QString m_name;
    int m_needs;
    std::vector<Key> m_keys;
    QCommandLineParser m_parser;
    QTemporaryDir m_scratch;
    bool m_json = false;
    int m_searchMs = 5000;
    QList<CtlFleet::Target> m_targets;
    QByteArray m_password;
};

/// The subcommands, each given the whole command line; they return the exit code.
namespace CtlCommands
{
int search(const QStringList &args);
int upgrade(const QStringList &args);
int check(const QStringList &args);
int reset(const QStringList &args);
int reboot(const QStringList &args);
int ip(const QStringList &args);
int history(const QStringList &args);
int exportTable(const QStringList &args);
int records(const QStringList &args);
int logo(const QStringList &args);
int oemid(const QStringList &args);

/// The command line's entry: dispatches to the subcommand named first.
int run(const QStringList &args);
/// "tallowctl <version>" and the paths in use.
QString versionText();
} // namespace CtlCommands
