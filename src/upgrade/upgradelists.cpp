#include "upgradelists.h"

void UpgradeLists::pushDevice(const DEV_INFO &record, Which which)
{
    pushDevice(std::make_shared<DEV_INFO>(record), which);
}

void UpgradeLists::pushDevice(Record record, Which which)
{
    if (!record)
        return;
    QMutexLocker locker(&m_lock);
    if (which == Pending)
        list(which).push_back(std::make_shared<DEV_INFO>(*record));
    else
        list(which).push_back(std::move(record));
}

UpgradeLists::Record UpgradeLists::popDevice(Which which)
{
    QMutexLocker locker(&m_lock);
    auto &l = list(which);
    if (l.empty())
        return nullptr;
    Record front = std::move(l.front());
    l.pop_front();
    return front;
}

int UpgradeLists::deviceCount(Which which) const
{
    QMutexLocker locker(&m_lock);
    return int(list(which).size());
}

void UpgradeLists::clearLists()
{
    std::deque<Record> pending, taken;
    {
        QMutexLocker locker(&m_lock);
        pending.swap(m_pending);
        taken.swap(m_taken);
    }
    // Records die outside the lock.
}
