#pragma once

#include "app/result.h"
#include "device/devicerows.h"
#include "device/devicesession.h"
#include "device/statusoutcome.h"
#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QList>
#include <QMutex>

#include <functional>
#include <vector>

/// The records of a device list, one per row, with the session each row holds and what the reports
/// of each row said; the rows of a tab, or of a command-line run. Qt Core only: no model, no view.
///
/// Every call may be made from any thread and holds the store's lock for its duration; records are
/// copied out, never handed out. clear() starts a new generation: calls naming an earlier one find
/// no row, so work started on an earlier list never touches a later one.
///
/// The store keeps no texts. A posted event is noted (a report's outcome) and then handed to the
/// listener, on the poster's thread and outside the lock; the tab's model shows it, a command-line
/// run prints it.
class DeviceStore : public DeviceRows
{
public:
    /// Why record() found nothing.
    enum Error { RowsReplaced = 1, NoSuchRow = 2 };
    using Listener = std::function<void(const RowEvent &)>;

    /// `variant` decides which cells a list has; reports into cells it lacks are dropped.
    explicit DeviceStore(const TableVariant &variant);
    /// Ends the sessions the rows still hold.
    ~DeviceStore() override;
    DeviceStore(const DeviceStore &) = delete;
    DeviceStore &operator=(const DeviceStore &) = delete;

    const TableVariant &variant() const { return *m_variant; }
    /// Where posted events go once noted. Set before any job posts; replaces the previous one.
    void setListener(Listener listener);

    /// Adds a row holding a copy of `record` (its index set to the row, its handle cleared) and
    /// `session`, the login that found it, if any. Returns the row.
    int appendRow(const DEV_INFO &record, DeviceSession session = {});
    /// Removes every row and ends the sessions the rows hold (after the lock is let go: a logout
    /// waits for the device). A session a running job took stays that job's. Returns the new
    /// generation.
    quint64 clear();

    /// A copy of the row's record, or why there is none (RowsReplaced, NoSuchRow).
    Result<DEV_INFO> record(quint64 generation, int row) const;

    /// A report without a generation, for the current rows (a GUI-thread write).
    void noteReport(int row, StatusOutcome outcome);
    /// What the row's last report said; Neutral when it has none.
    StatusOutcome statusOutcome(int row) const;
    /// The wave a staged run put the row's device in (a Field::Wave value); 0 when none did.
    int wave(int row) const;
    /// Rows of the last run for which a job reported a failure during that run, in order: a step
    /// that failed counts even when a later step of the run went on and succeeded. A row the run did
    /// not reach counts when its last report was a failure. Before any run: the rows whose last
    /// report was a failure.
    QList<int> failedRows() const;
    /// Rows of the last run for which a job reported a step the device cannot do (Unsupported) and
    /// none reported a failure: neither failed nor fully done, whatever later steps said.
    QList<int> unsupportedRows() const;

    // DeviceRows
    quint64 generation() const override;
    int rowCount() const override;
    bool device(quint64 generation, int row, DEV_INFO *out) const override;
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override;
    DeviceSession takeSession(quint64 generation, int row) override;
    DeviceSession giveSession(quint64 generation, int row, DeviceSession session) override;
    /// Notes a report of the current rows, then hands the event to the listener whatever its
    /// generation (the history keeps results of rows already cleared). Drops cells the list lacks.
    /// A Field::Wave value of the current rows is kept as the row's wave, and goes no further.
    void post(const RowEvent &event) override;
    void runStarted(quint64 generation, const std::vector<int> &rows) override;

private:
    /// What the reports of a row said.
    struct RowOutcome {
        StatusOutcome last = StatusOutcome::Neutral;
        bool runReported = false;    ///< a report arrived since the row's last run started
        bool runFailed = false;      ///< one of those said Failure
        bool runUnsupported = false; ///< one of those said Unsupported
        int wave = 0;                ///< of the last staged run that took the row
    };
    /// One row: the record's lLoginID stays 0, the session names the handle.
    struct Row {
        DEV_INFO record;
        DeviceSession session;
        RowOutcome outcome;
    };
    /// Under the lock: the row of `generation`, or null.
    Row *find(quint64 generation, int row);
    const Row *find(quint64 generation, int row) const;
    /// The rows of the last run for which `during` holds of the run's reports (a row the run did not
    /// reach: its last report was `outcome`); before any run, the rows whose last report was `outcome`.
    QList<int> lastRunRows(StatusOutcome outcome, bool (*during)(const RowOutcome &)) const;
    /// Under the lock: a report reached the row.
    void noteLocked(int row, StatusOutcome outcome);

    const TableVariant *m_variant;
    mutable QMutex m_lock;
    std::vector<Row> m_rows;
    quint64 m_generation = 0;
    // The last run; a run may be started from any thread.
    std::vector<int> m_lastRun;
    quint64 m_lastRunGeneration = 0;
    bool m_anyRun = false;
    Listener m_listener; ///< set before jobs post, read without the lock
};
