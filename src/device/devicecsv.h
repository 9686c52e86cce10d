#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class DeviceTable;

/// The device table as CSV (RFC 4180): a header row with the tab's column headings, "Last status
/// time" and "Wave", then one record per row with every column as shown, the time the status last
/// changed (ISO 8601, local time; empty when it never changed) and the wave a staged run put the
/// device in (empty when none did). Fields holding a comma, a quote or a line
/// break are quoted, quotes doubled; records end in CRLF. Encoded as UTF-8 (no byte-order mark).
/// A field that a spreadsheet would take for a formula (starting with =, +, -, @, tab or CR) is
/// written quoted with a leading single quote.
namespace DeviceCsv
{
/// Whether a spreadsheet would take `text` for a formula.
bool formulaLike(const QString &text);
QString field(const QString &text);
QString record(const QStringList &fields);
/// The whole table; GUI thread.
QString table(const DeviceTable &table);
/// Writes table(...) to `path`; false with `error` set when the file cannot be written.
bool write(const DeviceTable &table, const QString &path, QString *error);
/// Reads RFC 4180 text back into records; false on a malformed quote.
bool parse(const QString &text, QList<QStringList> *records);
} // namespace DeviceCsv
