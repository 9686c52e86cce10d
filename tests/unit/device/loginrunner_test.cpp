// The login runner: many logins at once share a small pool instead of a thread each, every job
// that is not abandoned is handed over on the runner's thread, and an abandoned one never is.

#include "device/loginrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace
{

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Jobs that wait until released: what logins to silent devices do.
struct Gate {
    std::mutex lock;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> waiting{0};
    void wait()
    {
        std::unique_lock<std::mutex> hold(lock);
        ++waiting;
        cv.wait(hold, [this] { return open; });
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            open = true;
        }
        cv.notify_all();
    }
};

} // namespace

TEST(LoginRunner, ManyLoginsShareABoundedPoolAndAllButTheAbandonedAreHandedOver)
{
    constexpr int jobs = 24;
    const int before = threadCount();
    Gate gate;
    std::set<int> delivered;
    const std::thread::id guiThread = std::this_thread::get_id();
    bool deliveredElsewhere = false;
    quint64 abandonedId = 0;
    {
        LoginRunner runner;
        for (int i = 0; i < jobs; ++i) {
            DEV_INFO record{};
            record.nIndex = i;
            const quint64 id = runner.run(
                record, [&gate](LoginRunner::Result &r) { gate.wait(), r.error = r.record.nIndex; },
                [&](LoginRunner::Result &r) {
                    deliveredElsewhere |= std::this_thread::get_id() != guiThread;
                    delivered.insert(r.error);
                });
            if (i == 5)
                abandonedId = id;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting.load() > 0; }, 5000));
        QTest::qWait(100); // let every thread the runner would start get going
        const int grown = threadCount() - before;
        EXPECT_LE(gate.waiting.load(), 4);
        EXPECT_LE(grown, 4) << grown << " threads for " << jobs << " waiting logins";
        EXPECT_TRUE(runner.running(abandonedId));
        runner.abandon(abandonedId);
        EXPECT_FALSE(runner.running(abandonedId));
        gate.release();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.busy(); }, 10000));
    }
    EXPECT_FALSE(deliveredElsewhere);
    EXPECT_EQ(int(delivered.size()), jobs - 1);
    EXPECT_EQ(delivered.count(5), 0u);
}

TEST(LoginRunner, DestroyedWithJobsUnderWayWaitsAndHandsNothingOver)
{
    Gate gate;
    std::atomic<int> finished{0};
    int delivered = 0;
    std::thread opener;
    {
        LoginRunner runner;
        for (int i = 0; i < 3; ++i)
            runner.run(
                DEV_INFO{}, [&](LoginRunner::Result &) { gate.wait(), ++finished; },
                [&](LoginRunner::Result &) { ++delivered; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting.load() == 3; }, 5000));
        opener = std::thread([&gate] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            gate.release();
        });
    } // waits for the three jobs
    opener.join();
    EXPECT_EQ(finished.load(), 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}
