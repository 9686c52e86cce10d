#pragma once

#include "device/devicehistory.h"
#include "device/devicerows.h"
#include "device/devicestore.h"
#include "device/statusoutcome.h"
#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QStandardItemModel;
class RunLog;

/// A tab's device table: the eight-column model over the tab's DeviceStore (records, sessions,
/// generations, what the reports said), and the devices' history.
///
/// Rows are added and removed on the GUI thread only. Records are reached only through the store,
/// each call holding the store's lock for its whole duration; callers on other threads work on copies.
/// The cell writers may be called from any thread: off the GUI thread the text is parked under the
/// lock and applied by one queued flush, so a burst of progress texts for one cell costs one model
/// write (the newest text wins) and there is never more than one flush waiting in the event loop.
///
/// A job's report carries its outcome; the table keeps, per row, the last report's outcome and
/// whether a report of the row's last run said Failure, as the reports arrive (a failure replaced in
/// a burst before it was shown still counts). "Select failed" reads these, never the words.
class DeviceTable : public QObject, public DeviceRows
{
    Q_OBJECT
public:
    explicit DeviceTable(TabKind kind, QObject *parent = nullptr);
    ~DeviceTable() override;

    const TableVariant &variant() const { return *m_variant; }
    /// The records, sessions and generations of the rows, for any thread.
    DeviceStore &store() { return m_store; }
    const DeviceStore &store() const { return m_store; }
    QStandardItemModel *model() const { return m_model; }
    /// Re-applies the translated header texts.
    void retranslate();

    // GUI thread only.
    /// Adds a row for `fill`'s record; the row holds `session` (the login that found it, if any).
    int appendRow(const RowFill &fill, DeviceSession session = {});
    /// Removes every row and drops texts still pending for the view. The sessions the rows hold end;
    /// a session a running job took stays that job's. What jobs still running on the old rows
    /// report goes on into their devices' history and the run log, never into the new rows.
    void clear();
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    QList<int> checkedRows() const;
    /// Applies the texts written from other threads now (the queued flush does it otherwise).
    void flushPending();

    /// What identifies the row's device across searches: its MAC, or address and port without one.
    QString deviceKey(int row) const;
    /// The newest MaxHistoryPerDevice texts the device's status and OEMID columns received while
    /// this table lived, oldest first, including texts of a burst that a newer one replaced before
    /// it was shown; a text repeating the one before it in the same column is kept once.
    QList<HistoryEntry> history(int row) const;
    /// The newest texts kept per device; older ones are dropped (a device that reports without end
    /// must not grow the history without end).
    static constexpr int MaxHistoryPerDevice = DeviceHistory::MaxPerDevice;
    QString statusText(int row) const;
    /// When the row's status column last changed; invalid when it never did for these rows.
    QDateTime lastStatusTime(int row) const;
    /// What the row's last report said; Neutral when it has none.
    StatusOutcome statusOutcome(int row) const;
    /// The wave a staged run put the row's device in (a Field::Wave value); 0 when none did.
    int wave(int row) const { return m_store.wave(row); }
    /// Rows of the last run for which a job reported a failure during that run, in order: a step
    /// that failed counts even when a later step of the run went on and succeeded. A row the run did
    /// not reach counts when its last report was a failure. Before any run: the rows whose last
    /// report was a failure.
    QList<int> failedRows() const;
    /// Copies every status and OEMID text into `log` as well, from now on.
    void setRunLog(std::unique_ptr<RunLog> log);

    // Any thread.
    int rowCount() const override;
    /// Changes with every clear(), so late results can tell that their row is gone.
    quint64 generation() const override;
    bool device(quint64 generation, int row, DEV_INFO *out) const override;
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override;
    DeviceSession takeSession(quint64 generation, int row) override;
    DeviceSession giveSession(quint64 generation, int row, DeviceSession session) override;
    /// Drops events of another generation and cells the tab does not show; keeps a Field::Wave value.
    void post(const RowEvent &event) override;
    void runStarted(quint64 generation, const std::vector<int> &rows) override;
    /// A report into the row's status column, with what it says.
    void setStatusText(int row, StatusOutcome outcome, const QString &text)
    {
        setCellText(row, m_variant->statusColumn, outcome, text);
    }
    /// A report into any column.
    void setCellText(int row, int column, StatusOutcome outcome, const QString &text);
    /// A plain value (an address, a version): no outcome, the row's outcome stays.
    void setCellValue(int row, int column, const QString &text);
    bool copyRowDevice(int row, DEV_INFO *out) const;
    std::optional<DEV_INFO> rowDevice(int row) const;
    /// Changes the row's record under the lock; false when the row has no record.
    bool updateRowDevice(int row, const std::function<void(DEV_INFO &)> &change);

private:
    static quint64 cellKey(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }
    struct Write {
        int row;
        int column;
        QString text;
        bool isReport;
        StatusOutcome outcome;
    };
    /// Any thread: a report's outcome is noted under the lock at once, the text reaches the model on
    /// the GUI thread. Dropped when `generation` is given and is not the current one.
    void write(const Write &w, const quint64 *generation);
    void writeCell(int row, int column, const QString &text, StatusOutcome outcome, bool keep);
    /// Under the lock: a worker's text for the history, kept even when a newer one replaces it
    /// before the cell is written.
    void parkHistory(int row, int column, const QString &text, StatusOutcome outcome,
                     const QString &key = {});
    /// Under the lock: the device that `row` of the cleared rows `generation` showed; empty when
    /// those rows are too old to remember.
    QString retiredKey(quint64 generation, int row) const;
    /// Under the lock.
    void queueFlush();
    /// Any thread: an event the store noted, for the model and the history.
    void show(const RowEvent &event);
    struct ParkedText {
        int row;
        int column;
        QString text;
        StatusOutcome outcome;
        QDateTime when;
        QString key; ///< a device of cleared rows; empty: the row's current one
    };
    const TableVariant *m_variant;
    QStandardItemModel *m_model;
    DeviceStore m_store;
    mutable QMutex m_lock; ///< the texts below; never held while calling the store
    QHash<quint64, QString> m_pending;
    std::vector<ParkedText> m_parkedHistory; ///< at most MaxParkedHistory between two flushes
    bool m_flushQueued = false;
    quint64 m_generation = 0; ///< the store's generation the model shows
    /// The devices of the last few cleared lists, by generation: a job still running on them when
    /// they went reports its real result into their history and the run log.
    std::vector<std::pair<quint64, std::vector<QString>>> m_retiredKeys;

    DeviceHistory m_history; ///< GUI thread only
};
