#pragma once

#include "device/devicesession.h"
#include "device/statusoutcome.h"
#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

/// One text for one cell of a row, as a job writes it. A report is a job's word on how the device
/// fares and carries the job's outcome; a value (a version, a build date, an OEMID read back) says
/// nothing about success. The tab's TableVariant decides the column; an event whose generation is
/// not the table's current one (a new search replaced the rows) is dropped.
class RowEvent
{
public:
    static RowEvent report(int row, quint64 generation, Field cell, StatusOutcome outcome,
                           const QString &text)
    {
        return RowEvent(row, generation, cell, text, true, outcome);
    }
    static RowEvent value(int row, quint64 generation, Field cell, const QString &text)
    {
        return RowEvent(row, generation, cell, text, false, StatusOutcome::Neutral);
    }

    int row;
    quint64 generation;
    Field cell;
    QString text;
    bool isReport;
    StatusOutcome outcome; ///< Neutral for a value

private:
    RowEvent(int r, quint64 g, Field c, const QString &t, bool isRep, StatusOutcome o)
        : row(r), generation(g), cell(c), text(t), isReport(isRep), outcome(o)
    {
    }
};

/// The one way to reach a tab's device rows from any thread. Every call holds the table lock for its
/// duration; records are copied out, never handed out. Each call names the table generation it
/// belongs to, so work started on an earlier list never touches the rows of a later one.
///
/// The rows hold the devices' sessions. A job that talks to a device takes the row's session and
/// owns it while it runs; it gives it back (or a new one) when done. A copied record's lLoginID is
/// the handle of the session the row holds at that moment, for the SDK call only; writing it
/// changes nothing.
class DeviceRows
{
public:
    virtual ~DeviceRows() = default;
    /// Changes whenever the rows are replaced.
    virtual quint64 generation() const = 0;
    virtual int rowCount() const = 0;
    /// Copies the row's record; false when the row is gone or belongs to another generation.
    virtual bool device(quint64 generation, int row, DEV_INFO *out) const = 0;
    /// Changes the row's record under the lock; false when the row is gone.
    virtual bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) = 0;
    /// Takes the row's session out: the caller owns it from now on and the row is not logged in.
    /// Empty when the row holds none or is gone.
    /// Rows that hold no sessions (a job's own copy of its record) have none to give.
    virtual DeviceSession takeSession(quint64 generation, int row)
    {
        Q_UNUSED(generation);
        Q_UNUSED(row);
        return {};
    }
    /// Puts `session` into the row and returns the session it replaced (empty when none). When the
    /// row is gone, `session` itself comes back. Either way the caller's copy ends the one returned.
    virtual DeviceSession giveSession(quint64 generation, int row, DeviceSession session)
    {
        Q_UNUSED(generation);
        Q_UNUSED(row);
        return session;
    }
    /// Queues a cell text; it reaches the view on the GUI thread, rapid texts for one cell coalescing.
    virtual void post(const RowEvent &event) = 0;
    /// A run over `rows` of `generation` begins: its results are what "the last run" means.
    virtual void runStarted(quint64 generation, const std::vector<int> &rows)
    {
        Q_UNUSED(generation);
        Q_UNUSED(rows);
    }
};

/// A DeviceRows seen through one generation: what a run or a procedure holds.
class BoundRows
{
public:
    BoundRows(DeviceRows &rows, quint64 generation) : m_rows(&rows), m_generation(generation) {}
    /// Bound to the rows' current generation.
    explicit BoundRows(DeviceRows &rows) : BoundRows(rows, rows.generation()) {}

    quint64 generation() const { return m_generation; }
    /// The rows underneath, of every generation.
    DeviceRows &rows() const { return *m_rows; }
    bool current() const { return m_rows->generation() == m_generation; }
    bool device(int row, DEV_INFO *out) const { return m_rows->device(m_generation, row, out); }
    bool updateDevice(int row, const std::function<void(DEV_INFO &)> &change) const
    {
        return m_rows->updateDevice(m_generation, row, change);
    }
    DeviceSession takeSession(int row) const { return m_rows->takeSession(m_generation, row); }
    DeviceSession giveSession(int row, DeviceSession session) const
    {
        return m_rows->giveSession(m_generation, row, std::move(session));
    }
    /// A job's result or step in the row's status column, with what it says.
    void status(int row, StatusOutcome outcome, const QString &text) const
    {
        report(row, Field::Status, outcome, text);
    }
    /// The same into another result cell of the row.
    void report(int row, Field cell, StatusOutcome outcome, const QString &text) const
    {
        m_rows->post(RowEvent::report(row, m_generation, cell, outcome, text));
    }
    /// A plain value of the row (version, build date, an OEMID read back).
    void value(int row, Field cell, const QString &text) const
    {
        m_rows->post(RowEvent::value(row, m_generation, cell, text));
    }
    /// Passes on an event written for other rows (a procedure's own view of this row).
    void forward(const RowEvent &event) const
    {
        if (event.isReport)
            report(event.row, event.cell, event.outcome, event.text);
        else
            value(event.row, event.cell, event.text);
    }

private:
    DeviceRows *m_rows;
    quint64 m_generation;
};
