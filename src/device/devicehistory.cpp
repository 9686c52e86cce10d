#include "device/devicehistory.h"

#include "device/runlog.h"

DeviceHistory::DeviceHistory(const TableVariant &variant) : m_variant(&variant) {}

DeviceHistory::~DeviceHistory() = default;

void DeviceHistory::setRunLog(std::unique_ptr<RunLog> log)
{
    m_runLog = std::move(log);
}

void DeviceHistory::addRow(const QString &key)
{
    m_rowKeys.push_back(key);
    m_statusTimes.emplace_back();
}

void DeviceHistory::clearRows()
{
    m_rowKeys.clear();
    m_statusTimes.clear();
}

QString DeviceHistory::key(int row) const
{
    if (row < 0 || row >= int(m_rowKeys.size()))
        return {};
    return m_rowKeys[size_t(row)];
}

QDateTime DeviceHistory::lastStatusTime(int row) const
{
    if (row < 0 || row >= int(m_statusTimes.size()))
        return {};
    return m_statusTimes[size_t(row)];
}

void DeviceHistory::record(int row, int column, const QString &text, StatusOutcome outcome,
                           const QDateTime &now, const QString &retiredKey)
{
    const Field field = m_variant->columns[size_t(column)].field;
    if (field != Field::Status && field != Field::Oemid)
        return;
    if (retiredKey.isEmpty()) {
        if (row < 0 || row >= int(m_rowKeys.size()))
            return;
        if (field == Field::Status)
            m_statusTimes[size_t(row)] = now;
    }
    const QString key = retiredKey.isEmpty() ? m_rowKeys[size_t(row)] : retiredKey;
    QList<HistoryEntry> &entries = m_history[key];
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->field == field) {
            if (it->text == text && it->outcome == outcome)
                return;
            break;
        }
    }
    entries.append(HistoryEntry{now, field, text, outcome});
    if (entries.size() > MaxPerDevice)
        entries.remove(0, entries.size() - MaxPerDevice);
    if (m_runLog)
        m_runLog->append(now, key, QString::fromLatin1(m_variant->columns[size_t(column)].header), text);
}
