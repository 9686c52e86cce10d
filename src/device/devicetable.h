#pragma once

#include "device/devicehistory.h"
#include "device/devicerows.h"
#include "device/devicestore.h"
#include "device/devicetablemodel.h"
#include "device/statusoutcome.h"
#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QDateTime>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class RunLog;

/// A tab's device table, put together from three parts that each do one job: the DeviceStore
/// (records, sessions, generations, what the reports said; any thread), the DeviceTableModel (the
/// eight columns the view shows, coalescing texts from other threads) and the DeviceHistory (what
/// each device was told, and the run log). The store hands every posted event to the model.
///
/// Rows are added and removed on the GUI thread only, here, so that the three stay in step.
/// Jobs reach the rows through store(), never through the model.
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
    /// What the view shows.
    DeviceTableModel *model() const { return m_model.get(); }
    /// Re-applies the translated header texts.
    void retranslate() { m_model->retranslate(); }

    // GUI thread only.
    /// Adds a row for `fill`'s record; the row holds `session` (the login that found it, if any).
    int appendRow(const RowFill &fill, DeviceSession session = {});
    /// Removes every row and drops texts still pending for the view. The sessions the rows hold end;
    /// a session a running job took stays that job's. What jobs still running on the old rows
    /// report goes on into their devices' history and the run log, never into the new rows.
    void clear();
    bool isChecked(int row) const { return m_model->isChecked(row); }
    void setChecked(int row, bool checked) { m_model->setChecked(row, checked); }
    QList<int> checkedRows() const { return m_model->checkedRows(); }
    /// Applies the texts written from other threads now (the queued flush does it otherwise).
    void flushPending() { m_model->flushPending(); }

    /// What identifies the row's device across searches: its MAC, or address and port without one.
    QString deviceKey(int row) const { return m_history.key(row); }
    /// The newest MaxHistoryPerDevice texts the device's status and OEMID columns received while
    /// this table lived, oldest first, including texts of a burst that a newer one replaced before
    /// it was shown; a text repeating the one before it in the same column is kept once.
    QList<HistoryEntry> history(int row) const { return m_history.entries(row); }
    /// The newest texts kept per device; older ones are dropped (a device that reports without end
    /// must not grow the history without end).
    static constexpr int MaxHistoryPerDevice = DeviceHistory::MaxPerDevice;
    QString statusText(int row) const { return m_model->text(row, m_variant->statusColumn); }
    /// When the row's status column last changed; invalid when it never did for these rows.
    QDateTime lastStatusTime(int row) const { return m_history.lastStatusTime(row); }
    /// What the row's last report said; Neutral when it has none.
    StatusOutcome statusOutcome(int row) const { return m_store.statusOutcome(row); }
    /// The wave a staged run put the row's device in (a Field::Wave value); 0 when none did.
    int wave(int row) const { return m_store.wave(row); }
    /// See DeviceStore::failedRows().
    QList<int> failedRows() const { return m_store.failedRows(); }
    /// See DeviceStore::unsupportedRows().
    QList<int> unsupportedRows() const { return m_store.unsupportedRows(); }
    /// Whether the row's device ended the last run well: its last report a success and no failure
    /// reported for it during that run (what a staged run asks of each device of a wave).
    bool endedWell(int row) const
    {
        return statusOutcome(row) == StatusOutcome::Success && !failedRows().contains(row);
    }
    /// Copies every status and OEMID text into `log` as well, from now on.
    void setRunLog(std::unique_ptr<RunLog> log);

    // Any thread.
    int rowCount() const override { return m_store.rowCount(); }
    quint64 generation() const override { return m_store.generation(); }
    bool device(quint64 generation, int row, DEV_INFO *out) const override
    {
        return m_store.device(generation, row, out);
    }
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        return m_store.updateDevice(generation, row, change);
    }
    DeviceSession takeSession(quint64 generation, int row) override
    {
        return m_store.takeSession(generation, row);
    }
    DeviceSession giveSession(quint64 generation, int row, DeviceSession session) override
    {
        return m_store.giveSession(generation, row, std::move(session));
    }
    void post(const RowEvent &event) override { m_store.post(event); }
    void runStarted(quint64 generation, const std::vector<int> &rows) override
    {
        m_store.runStarted(generation, rows);
    }
    /// A report into the row's status column, with what it says.
    void setStatusText(int row, StatusOutcome outcome, const QString &text)
    {
        setCellText(row, m_variant->statusColumn, outcome, text);
    }
    /// A report into any column.
    void setCellText(int row, int column, StatusOutcome outcome, const QString &text);
    /// A plain value (an address, a version): no outcome, the row's outcome stays.
    void setCellValue(int row, int column, const QString &text);

private:
    // Declared in the order they must die in reverse: the store's sessions end first, while
    // the model and the history it feeds are still there.
    const TableVariant *m_variant;
    DeviceHistory m_history; ///< GUI thread only
    std::unique_ptr<DeviceTableModel> m_model;
    DeviceStore m_store;
};
