#pragma once

#include "device/statusoutcome.h"
#include "device/tablevariant.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class RunLog;

/// One text a device's status or OEMID column received, when, and what the job said it meant.
struct HistoryEntry {
    QDateTime time;
    Field field = Field::Status;
    QString text;
    StatusOutcome outcome = StatusOutcome::Neutral; ///< Neutral for a value and for the search's fill
};

/// What a tab's devices were told, per device: the texts their status and OEMID columns received,
/// across searches, and the run log those texts are copied to. A device is known by its key (its MAC,
/// or address and port without one), so that finding it again, in another row, keeps its history.
/// GUI thread only: the table hands texts from other threads over first.
class DeviceHistory
{
public:
    /// The newest texts kept per device; older ones are dropped (a device that reports without end
    /// must not grow the history without end).
    static constexpr int MaxPerDevice = 200;

    explicit DeviceHistory(const TableVariant &variant);
    ~DeviceHistory();

    /// Copies every status and OEMID text into `log` as well, from now on.
    void setRunLog(std::unique_ptr<RunLog> log);

    /// A row was added for the device `key`.
    void addRow(const QString &key);
    /// The rows went; the devices' histories stay.
    void clearRows();
    /// The device keys of the current rows, by row.
    const std::vector<QString> &rowKeys() const { return m_rowKeys; }
    /// The device of `row`; empty when there is no such row.
    QString key(int row) const;

    /// The device's texts, oldest first.
    QList<HistoryEntry> entries(int row) const { return m_history.value(key(row)); }
    /// When the row's status column last changed; invalid when it never did for these rows.
    QDateTime lastStatusTime(int row) const;

    /// Notes a text `column` of `row` received at `when`; only status and OEMID columns count, and a
    /// text repeating the one before it in the same column is kept once. `retiredKey` names the
    /// device of a row already cleared (the row is then not looked at); empty for a current row.
    void record(int row, int column, const QString &text, StatusOutcome outcome, const QDateTime &when,
                const QString &retiredKey = {});

private:
    const TableVariant *m_variant;
    std::vector<QString> m_rowKeys;
    std::vector<QDateTime> m_statusTimes;
    QHash<QString, QList<HistoryEntry>> m_history;
    std::unique_ptr<RunLog> m_runLog;
};
