#pragma once

#include "netsdk/netsdk.h"

#include <QMutex>

#include <deque>
#include <memory>

/// The pending and taken device lists of a firmware run, guarded by one list lock.
/// Records are shared: a record handed to a worker stays alive for as long as its upgrade uses it,
/// even after the lists have been cleared.
class UpgradeLists
{
public:
    using Record = std::shared_ptr<DEV_INFO>;
    enum Which { Pending, Taken };

    /// Pending: appends a new copy of `record`. Taken: appends `record` itself.
    void pushDevice(const DEV_INFO &record, Which which);
    void pushDevice(Record record, Which which);
    /// Removes and returns the front record, or nullptr when the list is empty.
    Record popDevice(Which which);
    int deviceCount(Which which) const;
    /// Drops every record of both lists.
    void clearLists();

private:
    std::deque<Record> &list(Which which) { return which == Pending ? m_pending : m_taken; }
    const std::deque<Record> &list(Which which) const { return which == Pending ? m_pending : m_taken; }

    mutable QMutex m_lock;
    std::deque<Record> m_pending;
    std::deque<Record> m_taken;
};
