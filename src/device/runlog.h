#pragma once

#include "device/tablevariant.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <memory>

/// The run log of one tab: every status and OEMID text its rows receive, appended to one file per day
/// in `dir` named "<yyyy-MM-dd>_<tab>.log". Each line is
///     <ISO 8601 local time with milliseconds> TAB <device> TAB <column> TAB <text>
/// with backslash, tab, CR and LF in a field written as \\, \t, \r and \n, every other C0 control and
/// DEL as \xNN, and C1 controls (U+0080 to U+009F) as \u00NN. Every line is flushed at
/// once, so a crash loses nothing that was shown. A log that cannot be opened is skipped silently:
/// the table works on without it.
class RunLog
{
public:
    RunLog(QString dir, QString tab);
    /// The run log of a tab's table, as the window and tallowctl both keep it: "RunLog" in the
    /// application directory, named after the tab.
    static std::unique_ptr<RunLog> forTab(TabKind kind);
    static QString directory();
    static QString tabName(TabKind kind);
    void append(const QDateTime &time, const QString &device, const QString &column, const QString &text);
    /// The file the lines of `day` go to.
    QString fileFor(const QDate &day) const;
    static QString escape(const QString &field);

private:
    QString m_dir;
    QString m_tab;
    QDate m_day;
    QFile m_file;
};
