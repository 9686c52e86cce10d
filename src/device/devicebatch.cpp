#include "device/devicebatch.h"

#include <QMetaObject>
#include <QThreadPool>

#include <chrono>
#include <unordered_map>
#include <unordered_set>

// ---------------------------------------------------------------------------------------------
// SdkCallbacks

struct SdkCallbacks::Entry {
    Progress progress;
    Close close;
    std::weak_ptr<Shared> owner;
    std::shared_ptr<void> hold; // released under the index lock when the registration ends
};

struct SdkCallbacks::Shared {
    std::function<void()> onEmpty;
    std::unordered_set<std::uintptr_t> tokens; // under the index lock
};

namespace
{

// Tokens of every live registration in the process. Tokens are never reused, so a report that
// arrives after its registration (or its whole batch) is gone finds nothing.
struct TokenIndex {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<SdkCallbacks::Entry>> entries;
    std::uintptr_t next = 1;
};

TokenIndex &tokenIndex()
{
    static TokenIndex *index = new TokenIndex; // outlives every static that may still report
    return *index;
}

} // namespace

SdkCallbacks::SdkCallbacks(std::function<void()> onEmpty) : m_shared(std::make_shared<Shared>())
{
    m_shared->onEmpty = std::move(onEmpty);
}

SdkCallbacks::~SdkCallbacks()
{
    closeAll();
}

void *SdkCallbacks::add(Progress progress, Close close)
{
    auto entry = std::make_shared<Entry>();
    entry->progress = std::move(progress);
    entry->close = std::move(close);
    entry->owner = m_shared;
    TokenIndex &index = tokenIndex();
    std::lock_guard<std::mutex> guard(index.lock);
    const std::uintptr_t token = index.next++;
    index.entries.emplace(token, std::move(entry));
    m_shared->tokens.insert(token);
    return reinterpret_cast<void *>(token);
}

void SdkCallbacks::setClose(void *token, Close close)
{
    TokenIndex &index = tokenIndex();
    std::lock_guard<std::mutex> guard(index.lock);
    const auto it = index.entries.find(reinterpret_cast<std::uintptr_t>(token));
    if (it != index.entries.end())
        it->second->close = std::move(close);
}

void SdkCallbacks::setHold(void *token, std::shared_ptr<void> hold)
{
    TokenIndex &index = tokenIndex();
    std::lock_guard<std::mutex> guard(index.lock);
    const auto it = index.entries.find(reinterpret_cast<std::uintptr_t>(token));
    if (it != index.entries.end())
        it->second->hold = std::move(hold);
}

bool SdkCallbacks::remove(void *token)
{
    const auto key = reinterpret_cast<std::uintptr_t>(token);
    bool nowEmpty = false;
    {
        TokenIndex &index = tokenIndex();
        std::lock_guard<std::mutex> guard(index.lock);
        if (m_shared->tokens.erase(key) == 0)
            return false;
        const auto it = index.entries.find(key);
        if (it != index.entries.end()) {
            // A report in flight may still hold the entry; the device's place is free now all the same.
            it->second->hold.reset();
            index.entries.erase(it);
        }
        nowEmpty = m_shared->tokens.empty();
    }
    if (nowEmpty && m_shared->onEmpty)
        m_shared->onEmpty();
    return true;
}

int SdkCallbacks::size() const
{
    std::lock_guard<std::mutex> guard(tokenIndex().lock);
    return int(m_shared->tokens.size());
}

void SdkCallbacks::closeAll()
{
    std::vector<std::shared_ptr<Entry>> entries;
    {
        TokenIndex &index = tokenIndex();
        std::lock_guard<std::mutex> guard(index.lock);
        for (const std::uintptr_t token : m_shared->tokens) {
            const auto it = index.entries.find(token);
            if (it != index.entries.end()) {
                it->second->hold.reset();
                entries.push_back(it->second);
                index.entries.erase(it);
            }
        }
        m_shared->tokens.clear();
    }
    // Outside the lock: a close waits for a report in flight, and that report looks its token up.
    for (const auto &entry : entries) {
        if (entry->close)
            entry->close();
    }
}

void SdkCallbacks::upgradeProgress(long loginId, long upgradeHandle, int total, int position, void *user)
{
    std::shared_ptr<Entry> entry;
    {
        TokenIndex &index = tokenIndex();
        std::lock_guard<std::mutex> guard(index.lock);
        const auto it = index.entries.find(reinterpret_cast<std::uintptr_t>(user));
        if (it == index.entries.end())
            return;
        entry = it->second;
    }
    if (entry->progress)
        entry->progress(loginId, upgradeHandle, total, position);
}

// ---------------------------------------------------------------------------------------------
// BatchContext

bool BatchContext::cancelled() const
{
    return m_batch->m_cancel.load();
}

bool BatchContext::sleepFor(int ms) const
{
    return m_batch->sleepFor(ms);
}

void BatchContext::fail() const
{
    ++m_batch->m_failed;
}

SdkCallbacks &BatchContext::callbacks() const
{
    return *m_batch->m_callbacks;
}

// ---------------------------------------------------------------------------------------------
// DeviceBatch

// Outlives the batch in any slot still held, so that releasing one never reaches a destroyed batch.
struct DeviceBatch::Slots {
    std::mutex lock;
    std::condition_variable freed;
    int inFlight = 0;  // under lock
    bool stop = false; // under lock: the run was cancelled
};

void DeviceBatch::Deleter::operator()(DeviceBatch *batch) const
{
    if (!batch)
        return;
    batch->cancelAndWait();
    delete batch;
}

DeviceBatch::Ptr DeviceBatch::create(DeviceRows &rows)
{
    return Ptr(new DeviceBatch(rows));
}

DeviceBatch::DeviceBatch(DeviceRows &rows, QObject *parent)
    : QObject(parent), m_rows(rows), m_pool(std::make_unique<QThreadPool>()),
      m_slots(std::make_shared<Slots>()),
      m_callbacks(std::make_unique<SdkCallbacks>([this] { maybeFinish(); }))
{
    qRegisterMetaType<BatchSummary>();
}

DeviceBatch::~DeviceBatch()
{
    cancelAndWait();
}

BatchContext DeviceBatch::contextFor(int row)
{
    return BatchContext(*this, BoundRows(m_rows), row);
}

bool DeviceBatch::start(BatchPlan plan)
{
    if (m_active.load())
        return false;
    if (m_dispatcher.joinable())
        m_dispatcher.join(); // it has left its loop already
    m_pool->waitForDone();
    {
        std::lock_guard<std::mutex> guard(m_waitLock);
        m_cancel = false;
    }
    {
        std::lock_guard<std::mutex> guard(m_slots->lock);
        m_slots->stop = false;
    }
    m_failed = 0;
    m_started = 0;
    m_devices = int(plan.rows.size());
    {
        std::lock_guard<std::mutex> guard(m_finishLock);
        m_finishQueued = false;
    }
    m_pool->setMaxThreadCount(std::max(1, plan.options.maxParallel));
    m_active = true;
    m_dispatching = true;
    const quint64 generation = m_rows.generation();
    if (plan.options.marksRun)
        m_rows.runStarted(generation, plan.rows);
    m_dispatcher = std::thread(&DeviceBatch::dispatch, this, std::move(plan), generation);
    return true;
}

void DeviceBatch::cancel()
{
    {
        std::lock_guard<std::mutex> guard(m_waitLock);
        m_cancel = true;
    }
    m_wake.notify_all();
    {
        std::lock_guard<std::mutex> guard(m_slots->lock);
        m_slots->stop = true;
    }
    m_slots->freed.notify_all();
}

int DeviceBatch::inFlight() const
{
    std::lock_guard<std::mutex> guard(m_slots->lock);
    return m_slots->inFlight;
}

bool DeviceBatch::waitForSlot(int limit)
{
    std::unique_lock<std::mutex> lock(m_slots->lock);
    m_slots->freed.wait(lock, [&] { return m_slots->stop || m_slots->inFlight < limit; });
    return !m_slots->stop;
}

std::shared_ptr<void> DeviceBatch::takeSlot()
{
    // The place is given back when the job and every registration holding it are done.
    struct Hold {
        std::shared_ptr<Slots> shared;
        explicit Hold(std::shared_ptr<Slots> s) : shared(std::move(s))
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            ++shared->inFlight;
        }
        ~Hold()
        {
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                --shared->inFlight;
            }
            shared->freed.notify_all();
        }
    };
    return std::make_shared<Hold>(m_slots);
}

void DeviceBatch::cancelAndWait()
{
    cancel();
    if (m_dispatcher.joinable())
        m_dispatcher.join();
    m_pool->waitForDone();
    // Closing a registration ends its SDK work; the SDK runs no callback for it afterwards.
    m_callbacks->closeAll();
    maybeFinish();
}

bool DeviceBatch::waitForDone(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_finishLock);
    return m_doneCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_active.load(); });
}

bool DeviceBatch::sleepFor(int ms)
{
    if (ms <= 0)
        return !m_cancel.load();
    std::unique_lock<std::mutex> lock(m_waitLock);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_cancel.load(); });
}

void DeviceBatch::dispatch(BatchPlan plan, quint64 generation)
{
    const BatchOptions options = plan.options;
    const BoundRows rows(m_rows, generation);
    bool first = true;
    if (sleepFor(options.startDelayMs)) {
        for (const int row : plan.rows) {
            if (m_cancel.load())
                break;
            if (!first && !sleepFor(options.spacingMs))
                break;
            // Only the dispatcher takes places, so one free now is still free after the preparation.
            if (!waitForSlot(std::max(1, options.maxParallel)))
                break;
            BatchContext context(*this, rows, row);
            if (plan.prepare && !plan.prepare(context))
                continue; // the device keeps the text its preparation left, and costs no spacing
            first = false;
            ++m_started;
            if (!plan.job)
                continue;
            ++m_runningJobs;
            std::shared_ptr<void> slot = takeSlot();
            context.m_slot = slot;
            if (options.maxParallel <= 1) {
                plan.job(context);
                slot.reset();
                --m_runningJobs;
                continue;
            }
            std::function<void(BatchContext &)> job = plan.job;
            m_pool->start([this, job, context, slot]() mutable {
                job(context);
                slot.reset();
                jobEnded();
            });
        }
    }
    m_dispatching = false;
    maybeFinish();
}

void DeviceBatch::jobEnded()
{
    --m_runningJobs;
    maybeFinish();
}

void DeviceBatch::maybeFinish()
{
    BatchSummary summary;
    {
        std::lock_guard<std::mutex> guard(m_finishLock);
        if (!m_active.load() || m_finishQueued || m_dispatching.load() || m_runningJobs.load() > 0 ||
            m_callbacks->size() > 0)
            return;
        m_finishQueued = true;
        summary.devices = m_devices;
        summary.started = m_started.load();
        summary.failed = m_failed.load();
        summary.cancelled = m_cancel.load();
        m_active = false;
    }
    m_doneCv.notify_all();
    QMetaObject::invokeMethod(
        this, [this, summary] { emit finished(summary); }, Qt::QueuedConnection);
}
