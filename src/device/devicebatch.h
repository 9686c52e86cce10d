#pragma once

#include "device/devicerows.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QThreadPool;
class SdkCallbacks;

/// How a run paces its devices.
struct BatchOptions {
    int startDelayMs = 0; ///< before the first device
    int spacingMs = 0;    ///< between two device starts
    /// Devices in flight at once: a device holds its place from its job's start until the job has
    /// returned and every registration that took the device's slot (its transfer) has ended. With
    /// spacing 0 the next device starts as soon as a place is free. 1 runs each device's work to its
    /// end before the next one starts.
    int maxParallel = 1;
    /// The run counts as the rows' last run (a re-login of one device does not).
    bool marksRun = true;
};

/// How a run ended, handed to finished().
struct BatchSummary {
    int devices = 0; ///< rows in the plan
    int started = 0; ///< jobs that ran
    int failed = 0;  ///< jobs that called BatchContext::fail()
    bool cancelled = false;
};

class DeviceBatch;

/// What a job sees of its run: its row, the rows of the run's table generation, the cancel token and
/// the run's SDK callback registry. Safe to use from the job's thread and from its callbacks.
class BatchContext
{
public:
    int row() const { return m_row; }
    const BoundRows &rows() const { return m_rows; }
    /// The job's result or step in its row's status column, with what it says.
    void status(StatusOutcome outcome, const QString &text) const { m_rows.status(m_row, outcome, text); }
    /// The same into another result cell of the row.
    void report(Field cell, StatusOutcome outcome, const QString &text) const
    {
        m_rows.report(m_row, cell, outcome, text);
    }
    /// A plain value of the row (version, build date).
    void value(Field cell, const QString &text) const { m_rows.value(m_row, cell, text); }
    bool cancelled() const;
    /// Waits `ms` unless the run is cancelled meanwhile; false when cancelled.
    bool sleepFor(int ms) const;
    /// Counts the device as failed in the summary.
    void fail() const;
    /// The run's registry for SDK callbacks that outlive the job function.
    SdkCallbacks &callbacks() const;
    /// The device's place among the run's maxParallel, while its job runs (empty outside a run's job).
    /// Handed to SdkCallbacks::add, it keeps the device in flight until that registration ends.
    std::shared_ptr<void> slot() const { return m_slot.lock(); }

private:
    friend class DeviceBatch;
    BatchContext(DeviceBatch &batch, BoundRows rows, int row) : m_batch(&batch), m_rows(rows), m_row(row) {}
    DeviceBatch *m_batch;
    BoundRows m_rows;
    int m_row;
    // Weak: copies of the context kept by callbacks (a verification's, say) do not hold the place.
    std::weak_ptr<void> m_slot;
};

/// One run: rows in start order and what to do with each. The functions capture their parameters
/// by value (a params struct copied when the run starts); they never read a widget.
struct BatchPlan {
    std::vector<int> rows;
    BatchOptions options;
    /// Optional, on the dispatcher in row order before the device's job is queued (an address change
    /// that must not overlap the next one); false skips the device and its spacing.
    std::function<bool(BatchContext &)> prepare;
    /// The device's work, on the batch's bounded pool.
    std::function<void(BatchContext &)> job;
};

/// Runs device jobs of one tab in the background: a dispatcher thread starts the plan's devices with
/// the plan's spacing under one cancel token, on a pool of at most maxParallel threads (no thread per
/// device). A run ends when the dispatcher, every job and every registered SDK callback are done;
/// then finished() is emitted on the batch's thread.
///
/// Destroying the batch cancels the run and waits for it: the dispatcher and jobs are joined, then the
/// callbacks still registered are closed (see SdkCallbacks). Own it through DeviceBatch::Ptr.
class DeviceBatch : public QObject
{
    Q_OBJECT
public:
    struct Deleter {
        void operator()(DeviceBatch *batch) const;
    };
    using Ptr = std::unique_ptr<DeviceBatch, Deleter>;
    static Ptr create(DeviceRows &rows);

    explicit DeviceBatch(DeviceRows &rows, QObject *parent = nullptr);
    ~DeviceBatch() override;

    /// Starts a run over the rows' current generation; false (nothing started) while one is active.
    bool start(BatchPlan plan);
    /// Asks the run to stop: no further device starts, waits end early. Running SDK work goes on.
    void cancel();
    /// Cancels, waits for the dispatcher and the jobs, and closes every registered callback.
    void cancelAndWait();
    /// Blocks until the run has ended by itself (tests and benchmarks); false on time-out.
    bool waitForDone(int timeoutMs);
    bool isActive() const { return m_active.load(); }
    /// True while devices are still being started.
    bool isDispatching() const { return m_dispatching.load(); }
    /// Jobs running or queued right now (benchmarks report it).
    int runningJobs() const { return m_runningJobs.load(); }
    /// Devices in flight right now: jobs running and the registrations that hold a device's slot.
    int inFlight() const;
    SdkCallbacks &callbacks() const { return *m_callbacks; }
    DeviceRows &deviceRows() const { return m_rows; }
    /// A context for `row` of the rows' current generation, outside any run (tests; single calls).
    BatchContext contextFor(int row);

signals:
    void finished(const BatchSummary &summary);

private:
    friend class BatchContext;
    void dispatch(BatchPlan plan, quint64 generation);
    void jobEnded();
    void maybeFinish();
    bool sleepFor(int ms);
    /// Waits until fewer than `limit` devices are in flight; false when cancelled meanwhile.
    bool waitForSlot(int limit);
    std::shared_ptr<void> takeSlot();

    struct Slots; // the in-flight count, shared with the slots it hands out

    DeviceRows &m_rows;
    std::unique_ptr<QThreadPool> m_pool;
    std::shared_ptr<Slots> m_slots;
    std::unique_ptr<SdkCallbacks> m_callbacks;
    std::thread m_dispatcher;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_dispatching{false};
    std::atomic<int> m_runningJobs{0};
    std::atomic<int> m_failed{0};
    std::atomic<int> m_started{0};
    int m_devices = 0;
    std::mutex m_waitLock;
    std::condition_variable m_wake;
    std::mutex m_finishLock;
    std::condition_variable m_doneCv;
    bool m_finishQueued = false;
};

Q_DECLARE_METATYPE(BatchSummary)

/// SDK callbacks of one batch, reached through tokens: the SDK gets a token as its user data, never a
/// pointer, and a report whose token is no longer registered (its batch is gone, or it ended) is
/// ignored. A registration stays until its owner removes it or the batch closes it.
class SdkCallbacks
{
public:
    /// The upgrade progress report: (login, upgrade handle, total, position).
    using Progress = std::function<void(long, long, int, int)>;
    /// Called when the batch goes away while the registration is still there (close the SDK handle,
    /// after which the SDK runs no callback for it).
    using Close = std::function<void()>;

    explicit SdkCallbacks(std::function<void()> onEmpty = {});
    ~SdkCallbacks();
    SdkCallbacks(const SdkCallbacks &) = delete;
    SdkCallbacks &operator=(const SdkCallbacks &) = delete;

    /// Registers a handler; the token is the SDK's user data.
    void *add(Progress progress, Close close = {});
    /// Sets the close action of a registration (once its SDK handle is known).
    void setClose(void *token, Close close);
    /// Keeps `hold` (a job's BatchContext::slot()) until the registration ends, so that its device
    /// stays in flight for the run's parallel limit.
    void setHold(void *token, std::shared_ptr<void> hold);
    /// Ends a registration; true when it was still registered (false: someone else ended it).
    bool remove(void *token);
    int size() const;
    /// Removes every registration and runs its close action.
    void closeAll();

    /// For H264_DVR_Upgrade: looks the token up and calls its handler, or ignores the report.
    static void upgradeProgress(long loginId, long upgradeHandle, int total, int position, void *user);

    struct Entry; ///< one registration (internal)
    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};
