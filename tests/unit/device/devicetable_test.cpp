#include "answers.h"
#include "device/devicetable.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QStandardItemModel>

#include <gtest/gtest.h>

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
    ASSERT_TRUE(table.setRowLogin(1, 77));
    DEV_INFO copy;
    ASSERT_TRUE(table.copyRowDevice(1, &copy));
    EXPECT_EQ(copy.lLoginID, 77);
    EXPECT_EQ(copy.nIndex, 1);
    copy.lLoginID = 5; // a copy: the row is not touched
    EXPECT_EQ(table.rowDevice(1)->lLoginID, 77);
    EXPECT_TRUE(table.clearRowLogin(1));
    EXPECT_EQ(table.rowDevice(1)->lLoginID, 0);

    EXPECT_FALSE(table.clearRowLogin(2));
    EXPECT_FALSE(table.copyRowDevice(-1, &copy));
    EXPECT_FALSE(table.rowDevice(9).has_value());
    table.setCellText(9, 3, StatusOutcome::Failure, QStringLiteral("x")); // no row: ignored
    table.setCellValue(0, 8, QStringLiteral("x"));
    EXPECT_EQ(table.model()->rowCount(), 2);
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
    EXPECT_FALSE(oemid.model()->item(0, 0)->isCheckable());
}
