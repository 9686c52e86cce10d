#include "device/devicestore.h"

#include <QCoreApplication>
#include <QMutexLocker>

#include <algorithm>

DeviceStore::DeviceStore(const TableVariant &variant) : m_variant(&variant) {}

DeviceStore::~DeviceStore() = default;

void DeviceStore::setListener(Listener listener)
{
    m_listener = std::move(listener);
}

DeviceStore::Row *DeviceStore::find(quint64 generation, int row)
{
    if (generation != m_generation || row < 0 || row >= int(m_rows.size()))
        return nullptr;
    return &m_rows[size_t(row)];
}

const DeviceStore::Row *DeviceStore::find(quint64 generation, int row) const
{
    return const_cast<DeviceStore *>(this)->find(generation, row);
}

int DeviceStore::appendRow(const DEV_INFO &record, DeviceSession session)
{
    QMutexLocker locker(&m_lock);
    const int row = int(m_rows.size());
    m_rows.push_back(Row{record, std::move(session), {}});
    m_rows.back().record.nIndex = row;
    m_rows.back().record.lLoginID = 0;
    return row;
}

quint64 DeviceStore::clear()
{
    // Destroyed after the lock is let go: a logout waits for the device.
    std::vector<Row> gone;
    quint64 generation;
    {
        QMutexLocker locker(&m_lock);
        gone.swap(m_rows);
        generation = ++m_generation;
    }
    return generation;
}

Result<DEV_INFO> DeviceStore::record(quint64 generation, int row) const
{
    QMutexLocker locker(&m_lock);
    if (generation != m_generation)
        return Result<DEV_INFO>::failure(
            RowsReplaced, QCoreApplication::translate("DeviceStore", "The device list was replaced"));
    const Row *r = find(generation, row);
    if (!r)
        return Result<DEV_INFO>::failure(
            NoSuchRow, QCoreApplication::translate("DeviceStore", "No device in row %1").arg(row));
    DEV_INFO copy = r->record;
    copy.lLoginID = int32_t(r->session.id());
    return copy;
}

void DeviceStore::noteLocked(int row, StatusOutcome outcome)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    RowOutcome &o = m_rows[size_t(row)].outcome;
    o.last = outcome;
    o.runReported = true;
    if (outcome == StatusOutcome::Failure)
        o.runFailed = true;
    if (outcome == StatusOutcome::Unsupported)
        o.runUnsupported = true;
}

void DeviceStore::noteReport(int row, StatusOutcome outcome)
{
    QMutexLocker locker(&m_lock);
    noteLocked(row, outcome);
}

StatusOutcome DeviceStore::statusOutcome(int row) const
{
    QMutexLocker locker(&m_lock);
    const Row *r = find(m_generation, row);
    return r ? r->outcome.last : StatusOutcome::Neutral;
}

int DeviceStore::wave(int row) const
{
    QMutexLocker locker(&m_lock);
    const Row *r = find(m_generation, row);
    return r ? r->outcome.wave : 0;
}

QList<int> DeviceStore::lastRunRows(StatusOutcome outcome, bool (*during)(const RowOutcome &)) const
{
    QList<int> rows;
    QMutexLocker locker(&m_lock);
    const int count = int(m_rows.size());
    if (!m_anyRun || m_lastRunGeneration != m_generation) {
        for (int r = 0; r < count; ++r)
            if (m_rows[size_t(r)].outcome.last == outcome)
                rows.append(r);
        return rows;
    }
    std::vector<int> lastRun = m_lastRun;
    std::sort(lastRun.begin(), lastRun.end());
    lastRun.erase(std::unique(lastRun.begin(), lastRun.end()), lastRun.end());
    for (int r : lastRun) {
        if (r < 0 || r >= count)
            continue;
        const RowOutcome &o = m_rows[size_t(r)].outcome;
        if (o.runReported ? during(o) : o.last == outcome)
            rows.append(r);
    }
    return rows;
}

QList<int> DeviceStore::failedRows() const
{
    return lastRunRows(StatusOutcome::Failure, [](const RowOutcome &o) { return o.runFailed; });
}

QList<int> DeviceStore::unsupportedRows() const
{
    return lastRunRows(StatusOutcome::Unsupported,
                       [](const RowOutcome &o) { return o.runUnsupported && !o.runFailed; });
}

void DeviceStore::runStarted(quint64 generation, const std::vector<int> &rows)
{
    QMutexLocker locker(&m_lock);
    m_anyRun = true;
    m_lastRunGeneration = generation;
    m_lastRun = rows;
    for (int r : rows) {
        if (Row *row = find(generation, r)) {
            row->outcome.runReported = false;
            row->outcome.runFailed = false;
            row->outcome.runUnsupported = false;
        }
    }
}

quint64 DeviceStore::generation() const
{
    QMutexLocker locker(&m_lock);
    return m_generation;
}

int DeviceStore::rowCount() const
{
    QMutexLocker locker(&m_lock);
    return int(m_rows.size());
}

bool DeviceStore::device(quint64 generation, int row, DEV_INFO *out) const
{
    QMutexLocker locker(&m_lock);
    const Row *r = find(generation, row);
    if (!r)
        return false;
    *out = r->record;
    out->lLoginID = int32_t(r->session.id());
    return true;
}

bool DeviceStore::updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change)
{
    QMutexLocker locker(&m_lock);
    Row *r = find(generation, row);
    if (!r)
        return false;
    change(r->record);
    r->record.lLoginID = 0;
    return true;
}

DeviceSession DeviceStore::takeSession(quint64 generation, int row)
{
    QMutexLocker locker(&m_lock);
    Row *r = find(generation, row);
    return r ? std::move(r->session) : DeviceSession();
}

DeviceSession DeviceStore::giveSession(quint64 generation, int row, DeviceSession session)
{
    QMutexLocker locker(&m_lock);
    if (Row *r = find(generation, row))
        std::swap(session, r->session);
    return session;
}

void DeviceStore::post(const RowEvent &event)
{
    if (event.cell == Field::Wave) {
        QMutexLocker locker(&m_lock);
        if (Row *r = find(event.generation, event.row))
            r->outcome.wave = event.text.toInt();
        return;
    }
    if (m_variant->columnOf(event.cell) < 0)
        return;
    if (event.isReport) {
        QMutexLocker locker(&m_lock);
        if (event.generation == m_generation)
            noteLocked(event.row, event.outcome);
    }
    if (m_listener)
        m_listener(event);
}
