#pragma once

// DeviceRows over a plain list, for tests of the procedures that reach a tab's rows through it: the
// records live in a vector, posted cell texts are kept in order, and replace() starts a new
// generation as a new search would.

#include "device/devicerows.h"

#include <QList>

#include <mutex>
#include <vector>

class MemoryRows : public DeviceRows
{
public:
    explicit MemoryRows(std::vector<DEV_INFO> devices = {}) { replace(std::move(devices)); }

    quint64 generation() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_generation;
    }
    int rowCount() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_devices.size());
    }
    bool device(quint64 generation, int row, DEV_INFO *out) const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_generation || row < 0 || row >= int(m_devices.size()))
            return false;
        *out = m_devices[std::size_t(row)];
        out->lLoginID = int32_t(m_sessions[std::size_t(row)].id());
        return true;
    }
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_generation || row < 0 || row >= int(m_devices.size()))
            return false;
        change(m_devices[std::size_t(row)]);
        m_devices[std::size_t(row)].lLoginID = 0;
        return true;
    }
    DeviceSession takeSession(quint64 generation, int row) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_generation || row < 0 || row >= int(m_devices.size()))
            return {};
        return std::move(m_sessions[std::size_t(row)]);
    }
    DeviceSession giveSession(quint64 generation, int row, DeviceSession session) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_generation || row < 0 || row >= int(m_devices.size()))
            return session;
        std::swap(session, m_sessions[std::size_t(row)]);
        return session;
    }
    void post(const RowEvent &event) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (event.generation == m_generation)
            m_events.append(event);
    }

    /// New rows, as a search that replaced the table.
    void replace(std::vector<DEV_INFO> devices)
    {
        std::vector<DeviceSession> gone;
        std::lock_guard<std::mutex> lock(m_mutex);
        // A record's handle becomes its row's session, as a login would have left it.
        gone.swap(m_sessions);
        m_sessions.resize(devices.size());
        for (std::size_t r = 0; r < devices.size(); ++r) {
            m_sessions[r] = DeviceSession(devices[r].lLoginID, m_logout);
            devices[r].lLoginID = 0;
        }
        m_devices = std::move(devices);
        m_events.clear();
        ++m_generation;
    }
    QList<RowEvent> events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    /// The texts posted for one cell of one row, in order.
    QStringList texts(int row, Field cell = Field::Status) const
    {
        QStringList out;
        for (const RowEvent &e : events())
            if (e.row == row && e.cell == cell)
                out << e.text;
        return out;
    }

    /// What the job said of each of those texts, in order (Neutral for a value).
    QList<StatusOutcome> outcomes(int row, Field cell = Field::Status) const
    {
        QList<StatusOutcome> out;
        for (const RowEvent &e : events())
            if (e.row == row && e.cell == cell)
                out << e.outcome;
        return out;
    }

    /// A record for row `row`, logged in with `loginId`.
    static DEV_INFO loggedIn(int row, long loginId)
    {
        DEV_INFO d{};
        d.nIndex = row;
        d.lLoginID = int32_t(loginId);
        return d;
    }

    /// How the rows' sessions end; a test counts them through this.
    void setLogout(DeviceSession::Logout logout) { m_logout = std::move(logout); }

private:
    DeviceSession::Logout m_logout = [](long) {}; // the handles of these tests are made up
    mutable std::mutex m_mutex;
    std::vector<DeviceSession> m_sessions;
    std::vector<DEV_INFO> m_devices;
    QList<RowEvent> m_events;
    quint64 m_generation = 0;
};
