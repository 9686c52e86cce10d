#include "answers.h"
#include "device/devicetable.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace
{

void fill(DeviceTable &table, int rows)
{
    for (int i = 0; i < rows; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "aa:00:00:00:00:%02x", i);
        table.appendRow(*fillFromSearch(table.variant(), makeAnswer(mac, 127, 0, 0, uint8_t(i + 2)), i));
    }
}

QString cell(const DeviceTable &table, int row, int col)
{
    return table.model()->index(row, col).data().toString();
}

} // namespace

TEST(DeviceTable, WorkerTextsCoalesceNewestWins)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 3);
    QSignalSpy changes(table.model(), &QAbstractItemModel::dataChanged);

    std::vector<std::thread> workers;
    for (int row = 0; row < 3; ++row) {
        workers.emplace_back([&table, row] {
            for (int i = 0; i <= 1000; ++i)
                table.setStatusText(row, StatusOutcome::Neutral, QStringLiteral("Send Progress:%1").arg(i));
        });
    }
    for (auto &w : workers)
        w.join();
    EXPECT_TRUE(cell(table, 0, 3).isEmpty()); // nothing reaches the model off the GUI thread

    QCoreApplication::processEvents();
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(cell(table, row, 3), QStringLiteral("Send Progress:1000"));
    EXPECT_EQ(changes.count(), 3); // one model write per cell, not 3003
}

TEST(DeviceTable, GuiWriteSupersedesOlderParkedText)
{
    DeviceTable table(TabKind::Logo);
    fill(table, 1);
    std::thread([&table] { table.setStatusText(0, StatusOutcome::Failure, QStringLiteral("old")); }).join();
    table.setStatusText(0, StatusOutcome::Success, QStringLiteral("new"));
    QCoreApplication::processEvents();
    EXPECT_EQ(cell(table, 0, 3), QStringLiteral("new"));
    EXPECT_EQ(table.statusOutcome(0), StatusOutcome::Success);
}

TEST(DeviceTable, AccessorsWorkOnCopiesAndRefuseMissingRows)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 2);
    EXPECT_EQ(table.rowCount(), 2);
    DEV_INFO copy;
    ASSERT_TRUE(table.device(table.generation(), 1, &copy));
    EXPECT_EQ(copy.nIndex, 1);
    copy.nPort = 5; // a copy: the row is not touched
    EXPECT_NE(table.store().record(table.generation(), 1).value().nPort, 5);

    EXPECT_FALSE(table.device(table.generation(), -1, &copy));
    EXPECT_FALSE(table.store().record(table.generation(), 9).ok());
    table.setCellText(9, 3, StatusOutcome::Failure, QStringLiteral("x")); // no row: ignored
    table.setCellValue(0, 8, QStringLiteral("x"));
    EXPECT_EQ(table.model()->rowCount(), 2);
}

TEST(DeviceTable, RowsHoldSessionsAndGiveBackWhatTheyReplace)
{
    std::vector<long> logouts;
    auto session = [&logouts](long id) {
        return DeviceSession(id, [&logouts](long l) { logouts.push_back(l); });
    };
    {
        DeviceTable table(TabKind::Firmware);
        fill(table, 2);
        const quint64 gen = table.generation();

        EXPECT_FALSE(table.giveSession(gen, 1, session(77)).loggedIn()) << "the row held none";
        EXPECT_EQ(table.store().record(table.generation(), 1).value().lLoginID, 77)
            << "a copy names the row's session for the SDK call";
        // Writing the handle through the record changes nothing: only a session logs a row in.
        table.updateDevice(gen, 1, [](DEV_INFO &r) { r.lLoginID = 5; });
        EXPECT_EQ(table.store().record(table.generation(), 1).value().lLoginID, 77);
        table.updateDevice(gen, 0, [](DEV_INFO &r) { r.lLoginID = 5; });
        EXPECT_EQ(table.store().record(table.generation(), 0).value().lLoginID, 0);

        DeviceSession replaced = table.giveSession(gen, 1, session(78));
        EXPECT_EQ(replaced.id(), 77);
        replaced.reset();
        EXPECT_EQ(logouts, std::vector<long>{77});

        struct Case {
            const char *what;
            quint64 generation;
            int row;
        };
        // A session for a row that is gone comes straight back, to be ended by the one who gave it.
        for (const Case c : {Case{"an earlier generation", gen - 1, 0}, Case{"no such row", gen, 2},
                             Case{"a negative row", gen, -1}}) {
            EXPECT_EQ(table.giveSession(c.generation, c.row, session(90)).id(), 90) << c.what;
            EXPECT_FALSE(table.takeSession(c.generation, c.row).loggedIn()) << c.what;
        }
        EXPECT_EQ(logouts, (std::vector<long>{77, 90, 90, 90}));

        DeviceSession taken = table.takeSession(gen, 1);
        EXPECT_EQ(taken.id(), 78);
        EXPECT_EQ(table.store().record(table.generation(), 1).value().lLoginID, 0);
        EXPECT_FALSE(table.takeSession(gen, 1).loggedIn());
        table.giveSession(gen, 1, std::move(taken));

        table.giveSession(gen, 0, session(79));
        table.clear();
        std::sort(logouts.begin(), logouts.end());
        EXPECT_EQ(logouts, (std::vector<long>{77, 78, 79, 90, 90, 90}))
            << "clear ends what the rows held, once";
        logouts.clear();
        fill(table, 1);
        table.giveSession(table.generation(), 0, session(80));
    }
    EXPECT_EQ(logouts, std::vector<long>{80}) << "the table's end ends its sessions";
}

TEST(DeviceTable, ClearDropsRowsRecordsAndPendingTexts)
{
    DeviceTable table(TabKind::Oemid);
    fill(table, 2);
    const quint64 generation = table.generation();
    std::thread([&table] { table.setStatusText(1, StatusOutcome::Failure, QStringLiteral("late")); }).join();
    table.clear();
    EXPECT_NE(table.generation(), generation);
    fill(table, 2);
    QCoreApplication::processEvents();
    EXPECT_TRUE(cell(table, 1, 2).isEmpty());
    EXPECT_TRUE(table.failedRows().isEmpty()); // the failure was the old row's
    EXPECT_EQ(table.rowCount(), 2);
}

TEST(DeviceTable, CheckBoxesOnlyWhereTheTabHasThem)
{
    DeviceTable fw(TabKind::Firmware);
    fill(fw, 3);
    fw.setChecked(0, true);
    fw.setChecked(2, true);
    EXPECT_EQ(fw.checkedRows(), (QList<int>{0, 2}));

    DeviceTable oemid(TabKind::Oemid);
    fill(oemid, 2);
    oemid.setChecked(0, true);
    EXPECT_TRUE(oemid.checkedRows().isEmpty());
    EXPECT_FALSE(oemid.model()->flags(oemid.model()->index(0, 0)) & Qt::ItemIsUserCheckable);
}

// The model the view reads: rows come and go with the table, every change is announced the way views
// expect (the tester fails on a change announced wrong), and only a tab with tick boxes takes a tick.
TEST(DeviceTable, ModelAnnouncesRowsCellsAndTicksAsViewsExpect)
{
    struct Case {
        TabKind kind;
        bool ticks;
    };
    for (const Case c :
         {Case{TabKind::Firmware, true}, Case{TabKind::Logo, true}, Case{TabKind::Oemid, false}}) {
        DeviceTable table(c.kind);
        QAbstractItemModelTester tester(table.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy inserted(table.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(table.model(), &QAbstractItemModel::rowsRemoved);
        fill(table, 3);
        EXPECT_EQ(inserted.count(), 3);
        EXPECT_EQ(table.model()->rowCount(), 3);

        const QModelIndex first = table.model()->index(1, 0);
        EXPECT_EQ(table.model()->setData(first, int(Qt::Checked), Qt::CheckStateRole), c.ticks);
        EXPECT_EQ(table.checkedRows(), c.ticks ? QList<int>{1} : QList<int>{});
        EXPECT_EQ(bool(table.model()->flags(first) & Qt::ItemIsUserCheckable), c.ticks);
        EXPECT_EQ(first.data(Qt::CheckStateRole).isValid(), c.ticks);
        EXPECT_FALSE(
            table.model()->setData(table.model()->index(1, 1), QStringLiteral("typed"), Qt::EditRole))
            << "cells are written by jobs, never typed";

        std::thread([&table] {
            table.setStatusText(2, StatusOutcome::Success, QStringLiteral("done"));
        }).join();
        QCoreApplication::processEvents();
        EXPECT_EQ(table.statusText(2), QStringLiteral("done"));

        table.clear();
        EXPECT_EQ(removed.count(), 1);
        EXPECT_EQ(table.model()->rowCount(), 0);
        table.clear(); // nothing to remove: nothing announced
        EXPECT_EQ(removed.count(), 1);
    }
}
