#pragma once

#include "device/devicerows.h"

/// A job's view of its rows that holds its own row's session from the job's start to its end: the
/// session is taken from the row when the view is made and given back when it goes. Clearing the
/// table meanwhile ends the job's run but never its session; a session given back to rows that are
/// gone ends then. The job reaches everything else through the rows underneath; its own row's
/// copies name the held session's handle, for the SDK call.
class HeldRows : public DeviceRows
{
public:
    explicit HeldRows(const BoundRows &rows, int row)
        : m_rows(rows.rows()), m_generation(rows.generation()), m_row(row), m_session(rows.takeSession(row))
    {
    }
    ~HeldRows() override
    {
        if (m_session)
            m_rows.giveSession(m_generation, m_row, std::move(m_session));
    }
    HeldRows(const HeldRows &) = delete;
    HeldRows &operator=(const HeldRows &) = delete;

    quint64 generation() const override { return m_rows.generation(); }
    int rowCount() const override { return m_rows.rowCount(); }
    bool device(quint64 generation, int row, DEV_INFO *out) const override
    {
        if (!m_rows.device(generation, row, out))
            return false;
        if (mine(generation, row))
            out->lLoginID = int32_t(m_session.id());
        return true;
    }
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        return m_rows.updateDevice(generation, row, change);
    }
    DeviceSession takeSession(quint64 generation, int row) override
    {
        return mine(generation, row) ? std::move(m_session) : m_rows.takeSession(generation, row);
    }
    DeviceSession giveSession(quint64 generation, int row, DeviceSession session) override
    {
        if (!mine(generation, row))
            return m_rows.giveSession(generation, row, std::move(session));
        std::swap(session, m_session);
        return session;
    }
    void post(const RowEvent &event) override { m_rows.post(event); }
    void runStarted(quint64 generation, const std::vector<int> &rows) override
    {
        m_rows.runStarted(generation, rows);
    }

private:
    bool mine(quint64 generation, int row) const { return generation == m_generation && row == m_row; }

    DeviceRows &m_rows;
    const quint64 m_generation;
    const int m_row;
    DeviceSession m_session; ///< only the job's thread touches it
};
