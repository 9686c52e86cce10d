#pragma once

#include "device/statusoutcome.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <map>

class DeviceTable;

/// What a command tells its caller while it runs and when it ends.
///
/// JSON Lines (with --json, or whenever stdout is not a terminal): one object per line on stdout,
/// flushed at once: {"event":"device", ...} for every text a device's status or OEMID cell receives
/// (time, device, address, MAC, column, text, outcome), then one {"event":"summary", ...}. On a
/// terminal: the count of devices done out of the total and one line per device in flight or failed,
/// redrawn as the texts change, then a summary. Errors go to stderr in both forms.
///
/// The texts are the table's own: the reporter follows the cells of the same DeviceTable the engine
/// writes to (and which keeps the history and the run log), on the GUI thread of the process.
class CtlReport : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Json, Terminal };
    CtlReport(DeviceTable &table, Mode mode, QString command, std::FILE *out = stdout);
    ~CtlReport() override;

    Mode mode() const { return m_mode; }
    /// The rows of the run: from now on their texts are reported.
    void follow(const QList<int> &rows);
    /// A named device no search found: reported and counted as failed.
    void missing(const QString &name);

    /// How the followed rows ended.
    struct Tally {
        int total = 0;
        int succeeded = 0;
        int failed = 0;
        int unsupported = 0; ///< a step the device cannot do (over ONVIF) and no failure: neither way
        int unfinished = 0;  ///< no final result (not started, or stopped by an interrupt)
    };
    Tally tally() const;

    /// Writes the summary (the rows' last texts and outcomes, `extra` members added) and returns the
    /// exit code it states: `interrupted` gives CtlExit::Interrupted, a failed or unfinished device
    /// DevicesFailed, otherwise Ok (an unsupported one changes nothing); `code` >= 0 states another
    /// (a command that found no device).
    int finish(bool interrupted, const QJsonObject &extra = {}, int code = -1);

    /// One JSON object as a line on stdout, flushed.
    void line(const QJsonObject &object);
    static QString outcomeName(StatusOutcome outcome);

private:
    void cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn);
    void scheduleDraw();
    void draw(bool final);
    QJsonObject deviceObject(int row) const;
    /// How the row ended the run: Failure for any failure of the run, Unsupported for a step its
    /// device cannot do and no failure, otherwise its last report.
    StatusOutcome rowOutcome(int row, const QList<int> &failed, const QList<int> &unsupported) const;

    DeviceTable &m_table;
    Mode m_mode;
    QString m_command;
    std::FILE *m_out;
    QList<int> m_rows;
    std::map<int, QString> m_lastText; ///< row -> last status text reported
    QStringList m_missing;
    QTimer m_drawTimer;
    int m_drawnLines = 0;
};
