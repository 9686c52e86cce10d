#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class DeviceTable;

/// The devices a command works on: what a search finds, narrowed to those named on the command line
/// (addresses or MAC addresses, given one by one or in a file).
namespace CtlFleet
{

/// A device named on the command line.
struct Target {
    enum Kind { Address, Mac };
    Kind kind = Address;
    QString text; ///< as given
    QString key;  ///< dotted address, or the MAC in lower case with colons
};

/// Reads one name: an IPv4 address or a MAC address (colons or dashes); false when it is neither.
bool parseTarget(const QString &text, Target *out);
/// The names given with --device and those in `file` (one or more per line, separated by blanks or
/// commas; "#" starts a comment); false with `error` set on a name that is neither kind, or a file
/// that cannot be read.
bool parseTargets(const QStringList &given, const QString &file, QList<Target> *out, QString *error);

/// Runs one search of `searchTimeMs` and fills `table` with what it found, as a tab's search does
/// (the tab's column fill, its device filter, at most 256 rows). Returns the rows added.
int search(DeviceTable &table, int searchTimeMs);

/// The row's address and MAC as its record holds them.
QString rowAddress(const DeviceTable &table, int row);
QString rowMac(const DeviceTable &table, int row);

/// The rows to work on: every row when `targets` is empty, else the rows of the named devices in
/// table order; names that match no row go to `missing`.
QList<int> pick(const DeviceTable &table, const QList<Target> &targets, QList<Target> *missing);

} // namespace CtlFleet
