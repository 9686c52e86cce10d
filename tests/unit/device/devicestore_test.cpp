#include "answers.h"
#include "device/devicerecord.h"
#include "device/devicestore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

DEV_INFO recordOf(int i)
{
    return DeviceRecord::recordFromSearch(
        makeAnswer("aa:00:00:00:00:0" + std::to_string(i), 127, 0, 0, uint8_t(i + 2)), 0);
}

// Two rows of generation 1 (one clear behind), the second logged in as 41.
struct TwoRows {
    std::vector<long> logouts;
    DeviceStore store{tableVariant(TabKind::Firmware)};
    quint64 generation = 0;

    TwoRows()
    {
        store.appendRow(recordOf(9));
        generation = store.clear();
        store.appendRow(recordOf(0));
        store.appendRow(recordOf(1), session(41));
    }
    DeviceSession session(long id)
    {
        return DeviceSession(id, [this](long l) { logouts.push_back(l); });
    }
};

} // namespace

// Every way into a row names a generation and a row; each refuses an address that is not a current row.
TEST(DeviceStore, EveryAccessRefusesRowsOfAnotherGenerationOrOutOfRange)
{
    struct Address {
        const char *what;
        int generationOffset; ///< from the current generation
        int row;
        DeviceStore::Error error;
    };
    const Address gone[] = {{"an earlier generation", -1, 1, DeviceStore::RowsReplaced},
                            {"a later generation", +1, 1, DeviceStore::RowsReplaced},
                            {"a row past the end", 0, 2, DeviceStore::NoSuchRow},
                            {"a negative row", 0, -1, DeviceStore::NoSuchRow}};
    for (const Address &a : gone) {
        TwoRows t;
        const quint64 g = t.generation + quint64(qint64(a.generationOffset));
        DEV_INFO out = recordOf(7);
        EXPECT_FALSE(t.store.device(g, a.row, &out)) << a.what;
        EXPECT_EQ(out.nPort, recordOf(7).nPort) << a.what << ": nothing copied";
        bool changed = false;
        EXPECT_FALSE(t.store.updateDevice(g, a.row, [&changed](DEV_INFO &) { changed = true; })) << a.what;
        EXPECT_FALSE(changed) << a.what;
        EXPECT_FALSE(t.store.takeSession(g, a.row).loggedIn()) << a.what;
        EXPECT_EQ(t.store.giveSession(g, a.row, t.session(90)).id(), 90) << a.what << ": comes straight back";
        const Result<DEV_INFO> r = t.store.record(g, a.row);
        EXPECT_FALSE(r.ok()) << a.what;
        EXPECT_EQ(r.code(), a.error) << a.what;
        EXPECT_FALSE(r.error().isEmpty()) << a.what;

        // The current row 1 is untouched by all of it.
        ASSERT_TRUE(t.store.device(t.generation, 1, &out)) << a.what;
        EXPECT_EQ(out.lLoginID, 41) << a.what;
        EXPECT_EQ(out.nIndex, 1) << a.what;
    }
}

TEST(DeviceStore, RecordsAreCopiesAndTheHandleComesOnlyFromTheSession)
{
    TwoRows t;
    const Result<DEV_INFO> r = t.store.record(t.generation, 1);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.code(), 0);
    EXPECT_EQ(r.value().lLoginID, 41);
    EXPECT_EQ(r.value().nIndex, 1) << "the row's index, not the one the record came with";

    ASSERT_TRUE(t.store.updateDevice(t.generation, 0, [](DEV_INFO &d) {
        d.nPort = 5;
        d.lLoginID = 99;
    }));
    DEV_INFO out;
    ASSERT_TRUE(t.store.device(t.generation, 0, &out));
    EXPECT_EQ(out.nPort, 5);
    EXPECT_EQ(out.lLoginID, 0) << "writing a handle logs nobody in";
    out.nPort = 6;
    ASSERT_TRUE(t.store.device(t.generation, 0, &out));
    EXPECT_EQ(out.nPort, 5);
}

TEST(DeviceStore, ClearAndDestructionEndEachRowSessionOnceButNotATakenOne)
{
    std::vector<long> logouts;
    auto session = [&logouts](long id) {
        return DeviceSession(id, [&logouts](long l) { logouts.push_back(l); });
    };
    {
        DeviceStore store(tableVariant(TabKind::Oemid));
        store.appendRow(recordOf(0), session(40));
        store.appendRow(recordOf(1), session(41));
        const quint64 g = store.generation();
        DeviceSession taken = store.takeSession(g, 1);
        const quint64 next = store.clear();
        EXPECT_NE(next, g);
        EXPECT_EQ(store.generation(), next);
        EXPECT_EQ(store.rowCount(), 0);
        EXPECT_EQ(logouts, std::vector<long>{40}) << "the job's session 41 is still its own";
        DeviceSession back = store.giveSession(g, 1, std::move(taken));
        EXPECT_EQ(back.id(), 41) << "its rows are gone: the job's session comes back to the job";
        EXPECT_EQ(logouts, std::vector<long>{40});
        back.reset();

        store.appendRow(recordOf(2), session(42));
    }
    EXPECT_EQ(logouts, (std::vector<long>{40, 41, 42})) << "the store's end ends what its rows hold";
}

// A report of the current rows is noted as the row's outcome; every posted event goes on to the
// listener (the history wants results of cleared rows too), except for cells the list lacks.
TEST(DeviceStore, PostNotesCurrentReportsAndPassesEventsOn)
{
    struct Case {
        const char *what;
        bool currentGeneration;
        Field cell;
        bool isReport;
        StatusOutcome outcome;
        StatusOutcome noted;
        bool passedOn;
    };
    const Case cases[] = {
        {"a failure of the current rows", true, Field::Status, true, StatusOutcome::Failure,
         StatusOutcome::Failure, true},
        {"a success of the current rows", true, Field::Status, true, StatusOutcome::Success,
         StatusOutcome::Success, true},
        {"a value says nothing", true, Field::Version, false, StatusOutcome::Neutral, StatusOutcome::Neutral,
         true},
        {"a report of cleared rows", false, Field::Status, true, StatusOutcome::Failure,
         StatusOutcome::Neutral, true},
        {"a cell the firmware list lacks", true, Field::Oemid, true, StatusOutcome::Failure,
         StatusOutcome::Neutral, false},
    };
    for (const Case &c : cases) {
        TwoRows t;
        std::vector<RowEvent> seen;
        t.store.setListener([&seen](const RowEvent &e) { seen.push_back(e); });
        const quint64 g = c.currentGeneration ? t.generation : t.generation - 1;
        t.store.post(c.isReport ? RowEvent::report(1, g, c.cell, c.outcome, QStringLiteral("x"))
                                : RowEvent::value(1, g, c.cell, QStringLiteral("x")));
        EXPECT_EQ(t.store.statusOutcome(1), c.noted) << c.what;
        EXPECT_EQ(t.store.failedRows(), c.noted == StatusOutcome::Failure ? QList<int>{1} : QList<int>{})
            << c.what;
        ASSERT_EQ(seen.size(), c.passedOn ? 1u : 0u) << c.what;
        if (c.passedOn) {
            EXPECT_EQ(seen[0].generation, g) << c.what;
        }
    }
}

TEST(DeviceStore, FailedRowsOfTheLastRunKeepAFailureALaterReportReplaced)
{
    TwoRows t;
    const quint64 g = t.generation;
    t.store.post(RowEvent::report(0, g, Field::Status, StatusOutcome::Failure, QStringLiteral("old")));
    t.store.runStarted(g, {1});
    EXPECT_TRUE(t.store.failedRows().isEmpty()) << "row 0 is not in the run, row 1 has not reported";
    t.store.post(RowEvent::report(1, g, Field::Status, StatusOutcome::Failure, QStringLiteral("step")));
    t.store.post(RowEvent::report(1, g, Field::Status, StatusOutcome::Success, QStringLiteral("end")));
    EXPECT_EQ(t.store.failedRows(), QList<int>{1});
    EXPECT_EQ(t.store.statusOutcome(1), StatusOutcome::Success);

    t.store.runStarted(g - 1, {0}); // a run on rows already replaced
    EXPECT_EQ(t.store.failedRows(), QList<int>{0}) << "then the rows' last reports count";
}
