// The device-batch engine: pacing, cancelling, shutdown with jobs still waiting, SDK callbacks that
// arrive late, and results for rows that a new search replaced.

#include "answers.h"
#include "device/devicebatch.h"
#include "device/devicetable.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void fill(DeviceTable &table, int rows)
{
    for (int i = 0; i < rows; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "aa:00:00:00:01:%02x", unsigned(i & 0xff));
        table.appendRow(*fillFromSearch(table.variant(), makeAnswer(mac, 127, 0, 0, uint8_t(i + 2)), i));
    }
}

QString statusCell(const DeviceTable &table, int row)
{
    return table.model()->index(row, table.variant().statusColumn).data().toString();
}

struct Starts {
    std::mutex lock;
    std::vector<std::pair<int, Clock::time_point>> at;
    void add(int row)
    {
        std::lock_guard<std::mutex> g(lock);
        at.emplace_back(row, Clock::now());
    }
    std::vector<int> rows()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<int> r;
        for (const auto &s : at)
            r.push_back(s.first);
        return r;
    }
};

TEST(DeviceBatch, StartsDevicesInOrderWithTheirSpacingAndReportsTheEnd)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 4);
    auto batch = DeviceBatch::create(table);
    QSignalSpy finished(batch.get(), &DeviceBatch::finished);
    Starts starts;
    BatchPlan plan;
    plan.rows = {2, 0, 3, 1};
    plan.options.spacingMs = 80;
    plan.options.maxParallel = 4;
    plan.prepare = [](BatchContext &ctx) { return ctx.row() != 3; }; // row 3 skipped, no spacing
    plan.job = [&starts](BatchContext &ctx) {
        starts.add(ctx.row());
        ctx.status(StatusOutcome::Success, QStringLiteral("done %1").arg(ctx.row()));
        if (ctx.row() == 0)
            ctx.fail();
    };
    const auto begin = Clock::now();
    ASSERT_TRUE(batch->start(plan));
    EXPECT_FALSE(batch->start(plan)); // one run at a time
    ASSERT_TRUE(batch->waitForDone(5000));
    EXPECT_EQ(starts.rows(), (std::vector<int>{2, 0, 1}));
    {
        std::lock_guard<std::mutex> g(starts.lock);
        EXPECT_GE(starts.at[1].second - starts.at[0].second, milliseconds(75));
        EXPECT_GE(starts.at[2].second - starts.at[1].second, milliseconds(75));
        EXPECT_GE(starts.at[2].second - begin, milliseconds(155));
    }
    // finished() travels through the event loop after the run has ended.
    if (finished.count() == 0)
        finished.wait(2000);
    ASSERT_EQ(finished.count(), 1);
    const auto summary = finished.at(0).at(0).value<BatchSummary>();
    EXPECT_EQ(summary.devices, 4);
    EXPECT_EQ(summary.started, 3);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_FALSE(summary.cancelled);
    EXPECT_EQ(statusCell(table, 2), QStringLiteral("done 2"));
    EXPECT_EQ(statusCell(table, 3), QString());
    // A finished batch takes the next run.
    plan.rows = {1};
    EXPECT_TRUE(batch->start(plan));
    EXPECT_TRUE(batch->waitForDone(5000));
}

TEST(DeviceBatch, OneAtATimeRunsEachJobToItsEndFirst)
{
    DeviceTable table(TabKind::Oemid);
    fill(table, 3);
    auto batch = DeviceBatch::create(table);
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    Starts starts;
    BatchPlan plan;
    plan.rows = {0, 1, 2};
    plan.options.startDelayMs = 50;
    plan.job = [&](BatchContext &ctx) {
        most = std::max(most.load(), ++running);
        starts.add(ctx.row());
        std::this_thread::sleep_for(milliseconds(20));
        --running;
    };
    const auto begin = Clock::now();
    ASSERT_TRUE(batch->start(plan));
    ASSERT_TRUE(batch->waitForDone(5000));
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(starts.rows(), (std::vector<int>{0, 1, 2}));
    std::lock_guard<std::mutex> g(starts.lock);
    EXPECT_GE(starts.at[0].second - begin, milliseconds(45));
}

TEST(DeviceBatch, CancelStopsFurtherStartsAndShutdownWaitsForSlowJobs)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 8);
    Starts starts;
    std::atomic<int> ended{0};
    {
        auto batch = DeviceBatch::create(table);
        BatchPlan plan;
        for (int r = 0; r < 8; ++r)
            plan.rows.push_back(r);
        plan.options.spacingMs = 60000; // only the first device starts before the cancel
        plan.options.maxParallel = 8;
        plan.job = [&](BatchContext &ctx) {
            starts.add(ctx.row());
            // A slow device: the job waits, but gives up when the run is cancelled.
            ctx.sleepFor(30000);
            std::this_thread::sleep_for(milliseconds(100)); // work that cannot be interrupted
            ++ended;
        };
        ASSERT_TRUE(batch->start(plan));
        for (int i = 0; i < 200 && starts.rows().empty(); ++i)
            std::this_thread::sleep_for(milliseconds(5));
        const auto before = Clock::now();
        batch.reset(); // the deleter cancels and waits
        EXPECT_LT(Clock::now() - before, milliseconds(5000));
        EXPECT_EQ(ended.load(), 1); // the running job was waited for, not abandoned
    }
    EXPECT_EQ(starts.rows(), std::vector<int>{0});
}

TEST(DeviceBatch, RunEndsOnlyWithItsLastCallbackAndLateReportsReachNothing)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 1);
    std::atomic<int> reports{0};
    std::atomic<int> closed{0};
    void *token = nullptr;
    {
        auto batch = DeviceBatch::create(table);
        BatchPlan plan;
        plan.rows = {0};
        plan.job = [&](BatchContext &ctx) {
            token = ctx.callbacks().add([&](long, long, int, int) { ++reports; }, [&] { ++closed; });
        };
        ASSERT_TRUE(batch->start(plan));
        EXPECT_FALSE(batch->waitForDone(200)); // the registered callback keeps the run open
        SdkCallbacks::upgradeProgress(1, 2, 100, 50, token);
        EXPECT_EQ(reports.load(), 1);
        EXPECT_TRUE(batch->isActive());
    } // destroyed with the registration still there: it is closed
    EXPECT_EQ(closed.load(), 1);
    SdkCallbacks::upgradeProgress(1, 2, 100, 60, token);
    SdkCallbacks::upgradeProgress(1, 2, 100, 60, nullptr);
    EXPECT_EQ(reports.load(), 1);

    // A registration removed by its owner ends the run.
    auto batch = DeviceBatch::create(table);
    BatchPlan plan;
    plan.rows = {0};
    void *second = nullptr;
    plan.job = [&](BatchContext &ctx) { second = ctx.callbacks().add([](long, long, int, int) {}); };
    ASSERT_TRUE(batch->start(plan));
    EXPECT_FALSE(batch->waitForDone(100));
    EXPECT_TRUE(batch->callbacks().remove(second));
    EXPECT_FALSE(batch->callbacks().remove(second));
    EXPECT_TRUE(batch->waitForDone(1000));
}

TEST(DeviceBatch, ResultsForReplacedRowsAreDropped)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 2);
    auto batch = DeviceBatch::create(table);
    std::atomic<bool> go{false};
    BatchPlan plan;
    plan.rows = {0, 1};
    plan.options.maxParallel = 2;
    plan.job = [&](BatchContext &ctx) {
        while (!go.load())
            std::this_thread::sleep_for(milliseconds(2));
        ctx.status(StatusOutcome::Failure, QStringLiteral("old result"));
        DEV_INFO record;
        EXPECT_FALSE(ctx.rows().device(ctx.row(), &record));
        EXPECT_FALSE(ctx.rows().updateDevice(ctx.row(), [](DEV_INFO &d) { d.lLoginID = 99; }));
    };
    ASSERT_TRUE(batch->start(plan));
    table.clear(); // a new search
    fill(table, 2);
    go = true;
    ASSERT_TRUE(batch->waitForDone(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(statusCell(table, 0), QString());
    EXPECT_EQ(statusCell(table, 1), QString());
    EXPECT_TRUE(table.failedRows().isEmpty()) << "a failure of the old rows is not the new rows'";
    EXPECT_EQ(table.store().record(table.generation(), 0).value().lLoginID, 0);

    // Events of the current rows arrive, coalesced: the newest text of a cell wins.
    BoundRows rows(table);
    std::thread worker([&rows] {
        for (int i = 0; i < 100; ++i)
            rows.status(1, StatusOutcome::Neutral, QStringLiteral("step %1").arg(i));
        rows.value(1, Field::Version, QStringLiteral("V2"));
        rows.report(1, Field::Oemid, StatusOutcome::Failure, QStringLiteral("not a column of this tab"));
    });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(statusCell(table, 1), QStringLiteral("step 99"));
    EXPECT_EQ(table.statusOutcome(1), StatusOutcome::Neutral);
    EXPECT_EQ(table.model()->index(1, table.variant().columnOf(Field::Version)).data().toString(), "V2");
}

// Spacing 0 starts devices as fast as the parallel limit lets it: never more devices in flight
// than the limit, a device's transfer (a registration holding its slot) counted until it ends, and
// every device started.
struct FloodCase {
    const char *name;
    int devices;
    int maxParallel;
    bool transfers; ///< the job registers a transfer that an SDK thread ends later
};

class DeviceBatchFlood : public ::testing::TestWithParam<FloodCase>
{
};

TEST_P(DeviceBatchFlood, SpacingZeroNeverExceedsTheParallelLimitAndStartsEveryDevice)
{
    const FloodCase c = GetParam();
    DeviceTable table(TabKind::Firmware);
    fill(table, c.devices);
    auto batch = DeviceBatch::create(table);
    QSignalSpy finished(batch.get(), &DeviceBatch::finished);

    std::atomic<int> busy{0};
    std::atomic<int> most{0};
    std::atomic<int> mostSeen{0}; // the engine's own count, as a job sees it
    std::atomic<int> ran{0};
    auto raise = [](std::atomic<int> &peak, int value) {
        int was = peak.load();
        while (value > was && !peak.compare_exchange_weak(was, value)) {
        }
    };
    // The fake SDK: ends each transfer a little after its start, on its own thread.
    std::mutex lock;
    std::condition_variable wake;
    std::vector<void *> transfers;
    bool stop = false;
    std::thread sdk([&] {
        std::unique_lock<std::mutex> l(lock);
        for (;;) {
            wake.wait(l, [&] { return stop || !transfers.empty(); });
            if (transfers.empty())
                return;
            void *token = transfers.front();
            transfers.erase(transfers.begin());
            l.unlock();
            std::this_thread::sleep_for(milliseconds(3));
            --busy;
            batch->callbacks().remove(token);
            l.lock();
        }
    });

    BatchPlan plan;
    for (int r = 0; r < c.devices; ++r)
        plan.rows.push_back(r);
    plan.options.spacingMs = 0;
    plan.options.maxParallel = c.maxParallel;
    plan.job = [&](BatchContext &ctx) {
        raise(most, ++busy);
        raise(mostSeen, batch->inFlight());
        ++ran;
        std::this_thread::sleep_for(milliseconds(1));
        if (!c.transfers) {
            --busy;
            return;
        }
        void *token = ctx.callbacks().add([](long, long, int, int) {});
        ctx.callbacks().setHold(token, ctx.slot());
        std::lock_guard<std::mutex> g(lock);
        transfers.push_back(token);
        wake.notify_one();
    };
    ASSERT_TRUE(batch->start(plan));
    const bool done = batch->waitForDone(30000);
    {
        std::lock_guard<std::mutex> g(lock);
        stop = true;
    }
    wake.notify_one();
    sdk.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(ran.load(), c.devices);
    EXPECT_LE(most.load(), c.maxParallel);
    EXPECT_LE(mostSeen.load(), c.maxParallel);
    EXPECT_EQ(batch->inFlight(), 0);
    if (finished.count() == 0)
        finished.wait(2000);
    ASSERT_EQ(finished.count(), 1);
    const auto summary = finished.at(0).at(0).value<BatchSummary>();
    EXPECT_EQ(summary.started, c.devices);
    EXPECT_FALSE(summary.cancelled);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceBatchFlood,
                         ::testing::Values(FloodCase{"jobsOnly", 64, 4, false},
                                           FloodCase{"transfersHoldTheirSlot", 64, 4, true},
                                           FloodCase{"oneAtATimeWithTransfers", 12, 1, true},
                                           FloodCase{"limitAboveTheFleet", 8, 32, true}),
                         [](const ::testing::TestParamInfo<FloodCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(DeviceBatch, CancelWhileWaitingForAFreeSlotEndsTheRun)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 4);
    auto batch = DeviceBatch::create(table);
    std::atomic<int> ran{0};
    std::vector<void *> tokens;
    std::mutex lock;
    BatchPlan plan;
    plan.rows = {0, 1, 2, 3};
    plan.options.spacingMs = 0;
    plan.options.maxParallel = 2;
    plan.job = [&](BatchContext &ctx) {
        ++ran;
        // A transfer that never ends by itself: the third device waits for a place.
        void *token = ctx.callbacks().add([](long, long, int, int) {});
        ctx.callbacks().setHold(token, ctx.slot());
        std::lock_guard<std::mutex> g(lock);
        tokens.push_back(token);
    };
    ASSERT_TRUE(batch->start(plan));
    for (int i = 0; i < 400 && batch->inFlight() < 2; ++i)
        std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(batch->inFlight(), 2);
    EXPECT_TRUE(batch->isDispatching());
    batch->cancelAndWait(); // closes the registrations, which frees their places
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(batch->inFlight(), 0);
    EXPECT_FALSE(batch->isActive());
}

} // namespace
