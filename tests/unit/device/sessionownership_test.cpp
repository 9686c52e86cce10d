// Sessions belong to whoever holds them: the rows, or a job that took its row's. Clearing the rows
// while jobs run ends the rows' sessions, never a job's, and every job's result still reaches its
// device's history and the run log.

#include "answers.h"
#include "device/devicebatch.h"
#include "device/devicetable.h"
#include "device/heldrows.h"
#include "device/runlog.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace
{

// Counts every logout by handle, from any thread.
class Ledger
{
public:
    DeviceSession session(long id)
    {
        return DeviceSession(id, [this](long l) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_logouts[l];
        });
    }
    int logouts(long id) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_logouts.find(id);
        return it == m_logouts.end() ? 0 : it->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<long, int> m_logouts;
};

QString macOf(int row)
{
    return QStringLiteral("aa:00:00:00:00:%1").arg(row, 2, 10, QLatin1Char('0'));
}

void fill(DeviceTable &table, int rows)
{
    for (int i = 0; i < rows; ++i)
        table.appendRow(*fillFromSearch(table.variant(),
                                        makeAnswer(macOf(i).toStdString(), 127, 0, 0, uint8_t(i + 2)), i));
}

} // namespace

TEST(SessionOwnership, ClearingTheRowsWhileJobsRunEndsNoSessionUnderAJob)
{
    using namespace std::chrono;
    QTemporaryDir logDir;
    Ledger ledger;
    // How a job holds its row's session, and what it then reports.
    struct Job {
        bool heldView; ///< through HeldRows (the OEMID tab), else taken and given back (the runs)
        StatusOutcome outcome;
        const char *text;
    };
    const Job jobs[] = {{true, StatusOutcome::Success, "Upgrade Success"},
                        {false, StatusOutcome::Failure, "Upgrade Failed"},
                        {true, StatusOutcome::Failure, "Set OEMID Failed"},
                        {false, StatusOutcome::Success, "Reboot Successfully"}};
    constexpr int jobRows = 4;
    constexpr int idleRows = 2;
    const auto handle = [](int row) { return long(100 + row); };
    {
        DeviceTable table(TabKind::Firmware);
        table.setRunLog(std::make_unique<RunLog>(logDir.path(), QStringLiteral("Upgrade")));
        fill(table, jobRows + idleRows);
        const quint64 generation = table.generation();
        for (int r = 0; r < jobRows + idleRows; ++r)
            EXPECT_FALSE(table.giveSession(generation, r, ledger.session(handle(r))).loggedIn());

        std::atomic<int> holding{0};
        std::atomic<bool> go{false};
        std::atomic<int> endedUnderAJob{0};
        std::atomic<int> wrongHandle{0};
        auto batch = DeviceBatch::create(table);
        BatchPlan plan;
        for (int r = 0; r < jobRows; ++r)
            plan.rows.push_back(r);
        plan.options.maxParallel = jobRows;
        plan.job = [&](BatchContext &ctx) {
            const Job &job = jobs[ctx.row()];
            std::optional<HeldRows> view;
            DeviceSession own;
            long id = 0;
            if (job.heldView) {
                view.emplace(ctx.rows(), ctx.row());
                DEV_INFO record;
                if (view->device(ctx.rows().generation(), ctx.row(), &record))
                    id = record.lLoginID;
            } else {
                own = ctx.rows().takeSession(ctx.row());
                id = own.id();
            }
            if (id != handle(ctx.row()))
                ++wrongHandle;
            ++holding;
            while (!go.load())
                std::this_thread::sleep_for(milliseconds(2));
            // The device's answer arrives on a session that must still be open.
            if (ledger.logouts(id) != 0)
                ++endedUnderAJob;
            ctx.status(job.outcome, QString::fromLatin1(job.text));
            if (!job.heldView) {
                // The rows are gone: the session comes straight back and ends here.
                EXPECT_EQ(ctx.rows().giveSession(ctx.row(), std::move(own)).id(), id);
            }
        };
        ASSERT_TRUE(batch->start(plan));
        const auto deadline = steady_clock::now() + seconds(10);
        while (holding.load() < jobRows && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(2));
        ASSERT_EQ(holding.load(), jobRows);
        EXPECT_EQ(wrongHandle.load(), 0);

        table.clear(); // a new search
        for (int r = 0; r < jobRows; ++r)
            EXPECT_EQ(ledger.logouts(handle(r)), 0) << "row " << r << ": a running job's session";
        for (int r = jobRows; r < jobRows + idleRows; ++r)
            EXPECT_EQ(ledger.logouts(handle(r)), 1) << "row " << r << ": the rows' own session";
        fill(table, jobRows + idleRows); // the same devices found again

        go = true;
        ASSERT_TRUE(batch->waitForDone(10000));
        QCoreApplication::processEvents();
        table.flushPending();
        EXPECT_EQ(endedUnderAJob.load(), 0);
        for (int r = 0; r < jobRows + idleRows; ++r)
            EXPECT_EQ(ledger.logouts(handle(r)), 1) << "row " << r;

        QFile log(RunLog(logDir.path(), QStringLiteral("Upgrade")).fileFor(QDate::currentDate()));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QString logText = QString::fromUtf8(log.readAll());
        for (int r = 0; r < jobRows; ++r) {
            SCOPED_TRACE(r);
            // The new rows show nothing of the old run...
            EXPECT_TRUE(table.statusText(r).isEmpty());
            DEV_INFO old;
            EXPECT_FALSE(table.device(generation, r, &old));
            // ...but each device's history and the run log have its job's real result.
            ASSERT_EQ(table.deviceKey(r), macOf(r));
            const QList<HistoryEntry> history = table.history(r);
            ASSERT_FALSE(history.isEmpty());
            EXPECT_EQ(history.last().text, QString::fromLatin1(jobs[r].text));
            EXPECT_EQ(history.last().outcome, jobs[r].outcome);
            EXPECT_TRUE(logText.contains(macOf(r) + QLatin1Char('\t') + QStringLiteral("Destribe") +
                                         QLatin1Char('\t') + QString::fromLatin1(jobs[r].text)))
                << logText.toStdString();
        }
        EXPECT_TRUE(table.failedRows().isEmpty()) << "the old run's failures are not the new rows'";
    }
    for (int r = 0; r < jobRows + idleRows; ++r)
        EXPECT_EQ(ledger.logouts(handle(r)), 1) << "row " << r << " after the table went";
}
