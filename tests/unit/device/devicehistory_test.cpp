// "Select failed", CSV export and the per-device history of the device table.

#include "answers.h"
#include "device/devicecsv.h"
#include "device/devicetable.h"
#include "device/runlog.h"
#include "device/statusoutcome.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iterator>
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

} // namespace

// "Select failed" after one run over a table, each device's texts exactly as the jobs write them
// (codes, OEMIDs and notes included) with what the jobs say they mean: the words play no part.
TEST(DeviceHistory, SelectFailedPicksTheRowsWhoseJobsReportedAFailure)
{
    const StatusOutcome n = StatusOutcome::Neutral, s = StatusOutcome::Success, f = StatusOutcome::Failure;
    struct Report {
        Field cell;
        StatusOutcome outcome;
        const char *text;
    };
    const struct {
        TabKind tab;
        std::vector<Report> reports;
        bool failed;
    } cases[] = {
        {TabKind::Oemid,
         {{Field::Status, s, "Set OEMID Success"},
          {Field::Oemid, f, "synchronization time fail ret=-10005,code:-10005"}},
         true},
        {TabKind::Oemid,
         {{Field::Status, f, "Set OEMID Failed ret=-10002,code:-10002"},
          {Field::Oemid, s, "set language success"}},
         true},
        {TabKind::Oemid, {{Field::Status, n, "OTHER9"}, {Field::Status, f, "OEMID Repeat(OTHER9)"}}, true},
        {TabKind::Oemid,
         {{Field::Status, f,
           "Creat logfile Failed; OEMID writing stopped: factory records cannot be saved (No space left on "
           "device)"},
          {Field::Oemid, s, "synchronization time successful"}},
         true},
        {TabKind::Firmware,
         {{Field::Status, n, "Login Success"},
          {Field::Status, f,
           "OEMID not written: 1 factory records cannot be saved (No space left on device); free space for "
           "them"}},
         true},
        {TabKind::Oemid,
         {{Field::Status, s, "Set OEMID Success"}, {Field::Oemid, s, "set language success(need reboot)"}},
         false},
        {TabKind::Logo, {{Field::Status, f, "Get Upgrade information failed,ErrorCode:-10002"}}, true},
        {TabKind::Logo,
         {{Field::Status, n, "Login Success"}, {Field::Status, f, "Make Program Failed code:-60"}},
         true},
        {TabKind::Logo, {{Field::Status, f, "Get applink information failed,ErrorCode:-10002"}}, true},
        {TabKind::Logo,
         {{Field::Status, n, "Upgrade Progress: 80"}, {Field::Status, s, "Upgrade Success"}},
         false},
        {TabKind::Firmware,
         {{Field::Status, n, "Login Success"}, {Field::Status, f, "Upgrade Failed,-11000"}},
         true},
        {TabKind::Firmware, {{Field::Status, f, "Unknow Error nError:-10000,code:-10000"}}, true},
        {TabKind::Firmware,
         {{Field::Status, f, "ImportConfigFailed"},
          {Field::Status, n, "Send Progress: 45"},
          {Field::Status, s, "Upgrade Success  Set OEMID Success(ACME01)"}},
         true},
        {TabKind::Firmware,
         {{Field::Status, s, "Upgrade Success  "}, {Field::Status, f, "Not verified: no answer after 180 s"}},
         true},
        {TabKind::Firmware,
         {{Field::Status, s, "Upgrade Success  "}, {Field::Status, s, "Verified V5.00.R02 2024-06-30"}},
         false},
        {TabKind::Firmware, {{Field::Status, s, "Ready"}}, false},
        {TabKind::Firmware, {{Field::Status, n, "Start Upgrade"}}, false},
    };
    for (TabKind tab : {TabKind::Firmware, TabKind::Logo, TabKind::Oemid}) {
        DeviceTable table(tab);
        fill(table, int(std::size(cases)));
        std::vector<int> all;
        for (int r = 0; r < int(std::size(cases)); ++r)
            all.push_back(r);
        table.runStarted(table.generation(), all);
        QList<int> expected;
        for (int r = 0; r < int(std::size(cases)); ++r) {
            if (cases[r].tab != tab)
                continue;
            for (const Report &report : cases[r].reports)
                table.post(RowEvent::report(r, table.generation(), report.cell, report.outcome,
                                            QString::fromLatin1(report.text)));
            if (cases[r].failed)
                expected << r;
        }
        EXPECT_EQ(table.failedRows(), expected) << int(tab);
    }
}

TEST(DeviceCsv, QuotesAndParsesBack)
{
    const QStringList tricky = {QStringLiteral("plain"),      QStringLiteral("a,b"),
                                QStringLiteral("say \"hi\""), QStringLiteral("two\nlines"),
                                QStringLiteral("cr\r\nlf"),   QString(),
                                QStringLiteral("升级成功"),   QStringLiteral("\"")};
    const QString text = DeviceCsv::record(tricky) + DeviceCsv::record({QStringLiteral("x")});
    EXPECT_TRUE(text.startsWith(QStringLiteral("plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"")));
    QList<QStringList> back;
    ASSERT_TRUE(DeviceCsv::parse(text, &back));
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0], tricky);
    EXPECT_EQ(back[1], QStringList{QStringLiteral("x")});

    EXPECT_FALSE(DeviceCsv::parse(QStringLiteral("\"open"), &back));
    EXPECT_FALSE(DeviceCsv::parse(QStringLiteral("ab\"c"), &back));
}

TEST(DeviceCsv, FormulaLikeCellsGetALeadingQuote)
{
    const struct {
        QString text, field;
    } cases[] = {
        {QStringLiteral("=1+1"), QStringLiteral("\"'=1+1\"")},
        {QStringLiteral("+1"), QStringLiteral("\"'+1\"")},
        {QStringLiteral("-11000"), QStringLiteral("\"'-11000\"")},
        {QStringLiteral("@SUM(A1)"), QStringLiteral("\"'@SUM(A1)\"")},
        {QStringLiteral("\t=1"), QStringLiteral("\"'\t=1\"")},
        {QStringLiteral("\r=1"), QStringLiteral("\"'\r=1\"")},
        {QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"),
         QStringLiteral("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"")},
        // Only the first character counts.
        {QStringLiteral("V1.0=2"), QStringLiteral("V1.0=2")},
        {QStringLiteral(" =1"), QStringLiteral(" =1")},
        {QStringLiteral("'=1"), QStringLiteral("'=1")},
        {QString(), QString()},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DeviceCsv::field(c.text), c.field) << c.text.toStdString();
        QList<QStringList> back;
        ASSERT_TRUE(DeviceCsv::parse(DeviceCsv::record({c.text, QStringLiteral("x")}), &back));
        ASSERT_EQ(back.size(), 1);
        EXPECT_EQ(back[0].value(0), DeviceCsv::formulaLike(c.text) ? QLatin1Char('\'') + c.text : c.text);
    }
}

TEST(DeviceCsv, WholeTableWithHeaderAndStatusTime)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 3);
    table.setCellText(0, 3, StatusOutcome::Failure, QStringLiteral("Upgrade Failed,-1"));
    table.setCellValue(1, 6, QStringLiteral("V1, \"beta\"\nbuild"));
    table.setCellValue(2, 6, QStringLiteral("=cmd|' /C calc'!A0")); // a device's version text
    // A staged run's wave numbers: the last column, empty for a device no wave took; a value of
    // rows a new search replaced, or of a row that does not exist, lands nowhere.
    const quint64 generation = table.generation();
    table.post(RowEvent::value(0, generation, Field::Wave, QStringLiteral("1")));
    table.post(RowEvent::value(2, generation, Field::Wave, QStringLiteral("3")));
    table.post(RowEvent::value(1, generation + 1, Field::Wave, QStringLiteral("2")));
    table.post(RowEvent::value(3, generation, Field::Wave, QStringLiteral("2")));
    QList<QStringList> back;
    ASSERT_TRUE(DeviceCsv::parse(DeviceCsv::table(table), &back));
    ASSERT_EQ(back.size(), 4);
    EXPECT_EQ(back[0].size(), 10);
    EXPECT_EQ(back[0][3], QStringLiteral("Destribe"));
    EXPECT_EQ(back[0][8], QStringLiteral("Last status time"));
    EXPECT_EQ(back[0][9], QStringLiteral("Wave"));
    const QString waves[] = {QStringLiteral("1"), QString(), QStringLiteral("3")};
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(back[r + 1].size(), 10);
        EXPECT_EQ(back[r + 1][9], waves[r]) << r;
        EXPECT_EQ(table.wave(r), waves[r].toInt()) << r;
        for (int c = 0; c < 8; ++c) {
            const QString shown = table.model()->index(r, c).data().toString();
            EXPECT_EQ(back[r + 1][c], DeviceCsv::formulaLike(shown) ? QLatin1Char('\'') + shown : shown)
                << r << c;
        }
    }
    EXPECT_EQ(back[3][6], QStringLiteral("'=cmd|' /C calc'!A0"));
    EXPECT_FALSE(back[1][8].isEmpty());
    EXPECT_TRUE(back[3][8].isEmpty()); // its status never changed

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.csv"));
    QString error;
    ASSERT_TRUE(DeviceCsv::write(table, path, &error));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), DeviceCsv::table(table));
    EXPECT_FALSE(DeviceCsv::write(table, dir.filePath(QStringLiteral("no/such/dir/t.csv")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(DeviceHistory, KeepsEveryShownTextPerDeviceAcrossSearches)
{
    DeviceTable table(TabKind::Oemid);
    fill(table, 2);
    table.setStatusText(0, StatusOutcome::Success, QStringLiteral("Login Success"));
    table.setCellValue(0, 3, QStringLiteral("OEM1"));
    table.setStatusText(0, StatusOutcome::Success, QStringLiteral("Login Success")); // a repeat is kept once
    table.setStatusText(0, StatusOutcome::Success, QStringLiteral("Set OEMID Success"));
    table.setStatusText(1, StatusOutcome::Failure, QStringLiteral("Login timeout"));
    table.setCellValue(0, 4, QStringLiteral("not a status column"));

    QList<HistoryEntry> h = table.history(0);
    ASSERT_EQ(h.size(), 3);
    EXPECT_EQ(h[0].text, QStringLiteral("Login Success"));
    EXPECT_EQ(h[1].field, Field::Oemid);
    EXPECT_EQ(h[1].text, QStringLiteral("OEM1"));
    EXPECT_EQ(h[2].text, QStringLiteral("Set OEMID Success"));
    EXPECT_LE(h[0].time, h[2].time);
    EXPECT_EQ(table.history(1).size(), 1);

    // The same devices found again in another order keep what they had.
    table.clear();
    char mac[] = "aa:00:00:00:00:01";
    table.appendRow(*fillFromSearch(table.variant(), makeAnswer(mac, 127, 0, 0, 3), 0));
    EXPECT_EQ(table.deviceKey(0), QStringLiteral("aa:00:00:00:00:01"));
    ASSERT_EQ(table.history(0).size(), 1);
    EXPECT_EQ(table.history(0)[0].text, QStringLiteral("Login timeout"));
    EXPECT_FALSE(table.lastStatusTime(0).isValid());
}

TEST(DeviceHistory, KeepsTheNewestTextsPerDevice)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 2);
    const int n = DeviceTable::MaxHistoryPerDevice;
    const StatusOutcome progress = StatusOutcome::Neutral;
    table.setStatusText(1, StatusOutcome::Success, QStringLiteral("Login Success"));
    // From a worker thread too, as an upgrade's progress arrives: parked, then flushed.
    std::thread worker([&] {
        for (int i = 0; i < 3 * n; ++i)
            table.setStatusText(0, progress, QStringLiteral("Upgrade Progress: %1").arg(i));
    });
    worker.join();
    table.flushPending();
    for (int i = 3 * n; i < 5 * n; ++i)
        table.setStatusText(0, progress, QStringLiteral("Upgrade Progress: %1").arg(i));

    const QList<HistoryEntry> h = table.history(0);
    ASSERT_EQ(h.size(), n);
    EXPECT_EQ(h.first().text, QStringLiteral("Upgrade Progress: %1").arg(4 * n));
    EXPECT_EQ(h.last().text, QStringLiteral("Upgrade Progress: %1").arg(5 * n - 1));
    // Another device's history is its own.
    ASSERT_EQ(table.history(1).size(), 1);
    EXPECT_EQ(table.history(1)[0].text, QStringLiteral("Login Success"));
}

TEST(DeviceHistory, FailedRowsAreThoseOfTheLastRun)
{
    const StatusOutcome failure = StatusOutcome::Failure, success = StatusOutcome::Success,
                        neutral = StatusOutcome::Neutral;
    DeviceTable table(TabKind::Firmware);
    fill(table, 4);
    table.setStatusText(0, failure, QStringLiteral("Upgrade Failed,-11000"));
    table.setStatusText(1, success, QStringLiteral("Upgrade Success  "));
    table.setStatusText(2, failure, QStringLiteral("Login timeout"));
    // Before any run, every row whose last report failed counts.
    EXPECT_EQ(table.failedRows(), (QList<int>{0, 2}));

    table.runStarted(table.generation(), {1, 2, 3});
    table.setStatusText(3, failure, QStringLiteral("Invalid hardware"));
    // Row 0 failed in an earlier run; row 2, not reached yet, still shows its failure.
    EXPECT_EQ(table.failedRows(), (QList<int>{2, 3}));
    table.setStatusText(2, neutral, QStringLiteral("Login Success"));
    table.setStatusText(2, success, QStringLiteral("Upgrade Success  "));
    EXPECT_EQ(table.failedRows(), (QList<int>{3}));
    // A value is no report: the version of a verified device leaves its outcome alone.
    table.setCellValue(3, 6, QStringLiteral("V5.00.R02"));
    EXPECT_EQ(table.statusOutcome(3), failure);

    // A worker's reports count as they arrive, a failure replaced in a burst before it was shown
    // included, and a later success of the run does not undo it; the history keeps the burst.
    std::thread worker([&table] {
        const quint64 g = table.generation();
        table.post(
            RowEvent::report(1, g, Field::Status, StatusOutcome::Neutral, QStringLiteral("Login Success")));
        table.post(RowEvent::report(1, g, Field::Status, StatusOutcome::Failure,
                                    QStringLiteral("ImportConfigFailed")));
        table.post(RowEvent::report(1, g, Field::Status, StatusOutcome::Neutral,
                                    QStringLiteral("Send Progress: 10")));
        table.post(RowEvent::value(1, g, Field::Version, QStringLiteral("V2")));
        table.post(RowEvent::report(1, g, Field::Status, StatusOutcome::Success,
                                    QStringLiteral("Upgrade Success  ")));
    });
    worker.join();
    EXPECT_EQ(table.failedRows(), (QList<int>{1, 3}));
    EXPECT_EQ(table.statusOutcome(1), success);
    table.flushPending();
    QStringList texts;
    QList<StatusOutcome> outcomes;
    for (const HistoryEntry &e : table.history(1)) {
        texts << e.text;
        outcomes << e.outcome;
    }
    EXPECT_EQ(texts, (QStringList{"Upgrade Success  ", "Login Success", "ImportConfigFailed",
                                  "Send Progress: 10", "Upgrade Success  "}));
    EXPECT_EQ(outcomes, (QList<StatusOutcome>{success, neutral, failure, neutral, success}));

    // The next run starts the rows afresh.
    table.runStarted(table.generation(), {1});
    table.setStatusText(1, success, QStringLiteral("Upgrade Success  "));
    EXPECT_TRUE(table.failedRows().isEmpty());

    table.clear(); // a run of an earlier list says nothing about the new one
    fill(table, 1);
    EXPECT_EQ(table.statusOutcome(0), neutral);
    table.setStatusText(0, failure, QStringLiteral("Reboot Failed"));
    EXPECT_EQ(table.failedRows(), (QList<int>{0}));
}

// On the OEMID tab a run writes into two result columns: a failure in "Destribe" counts although
// the settings' texts in "Status" came later and succeeded.
TEST(DeviceHistory, FailedRowsSeeEveryResultColumn)
{
    DeviceTable table(TabKind::Oemid);
    fill(table, 2);
    table.runStarted(table.generation(), {0, 1});
    const int status = table.variant().columnOf(Field::Oemid);
    table.setStatusText(0, StatusOutcome::Failure, QStringLiteral("Set OEMID Failed ret=-10002,code:-10002"));
    table.setCellText(0, status, StatusOutcome::Success, QStringLiteral("set time-zone success"));
    table.setStatusText(1, StatusOutcome::Success, QStringLiteral("Set OEMID Success"));
    table.setCellText(1, status, StatusOutcome::Failure,
                      QStringLiteral("synchronization time fail ret=-10005,code:-10005"));
    table.setCellValue(1, status, QStringLiteral("OEM1")); // an OEMID read back
    EXPECT_EQ(table.failedRows(), (QList<int>{0, 1}));
}

// A step the device cannot do (an OEMID over ONVIF) marks the row as neither failed nor done, even
// when the settings that follow in the other column succeed; a failure of the run outweighs it.
TEST(DeviceHistory, UnsupportedRowsAreNeitherFailedNorDone)
{
    using O = StatusOutcome;
    struct Case {
        const char *name;
        QList<std::pair<bool, O>> reports; ///< (in the OEMID tab's Status column, outcome), in order
        bool unsupported, failed;
    };
    const Case cases[] = {
        {"not supported alone", {{false, O::Unsupported}}, true, false},
        {"then the clock set", {{false, O::Unsupported}, {true, O::Success}}, true, false},
        {"then the clock failed", {{false, O::Unsupported}, {true, O::Failure}}, false, true},
        {"a failure first", {{false, O::Failure}, {true, O::Unsupported}}, false, true},
        {"settings only", {{true, O::Success}}, false, false},
        {"progress only", {{false, O::Neutral}}, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceTable table(TabKind::Oemid);
        fill(table, 2);
        table.runStarted(table.generation(), {0, 1});
        const int status = table.variant().columnOf(Field::Oemid);
        for (const auto &[settings, outcome] : c.reports) {
            if (settings)
                table.setCellText(1, status, outcome, QStringLiteral("text"));
            else
                table.setStatusText(1, outcome, QStringLiteral("text"));
        }
        table.setStatusText(0, O::Success, QStringLiteral("Set OEMID Success"));
        EXPECT_EQ(table.unsupportedRows(), c.unsupported ? QList<int>{1} : QList<int>{});
        EXPECT_EQ(table.failedRows(), c.failed ? QList<int>{1} : QList<int>{});
        // The next run starts the row afresh.
        table.runStarted(table.generation(), {1});
        table.setStatusText(1, O::Success, QStringLiteral("Set OEMID Success"));
        EXPECT_TRUE(table.unsupportedRows().isEmpty());
    }
}

TEST(RunLog, OneEscapedLinePerTextFlushedAtOnce)
{
    QTemporaryDir dir;
    DeviceTable table(TabKind::Firmware);
    table.setRunLog(
        std::make_unique<RunLog>(dir.filePath(QStringLiteral("RunLog")), QStringLiteral("firmware")));
    fill(table, 1);
    table.setStatusText(0, StatusOutcome::Neutral, QStringLiteral("Start Upgrade"));
    table.setStatusText(0, StatusOutcome::Neutral, QStringLiteral("two\nlines\tand \\ \x1b[31m"));

    const QString path = RunLog(dir.filePath(QStringLiteral("RunLog")), QStringLiteral("firmware"))
                             .fileFor(table.lastStatusTime(0).date());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString(); // read while the table still writes
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList last = lines[1].split(QLatin1Char('\t'));
    ASSERT_EQ(last.size(), 4);
    EXPECT_TRUE(QDateTime::fromString(last[0], Qt::ISODateWithMs).isValid());
    EXPECT_EQ(last[1], QStringLiteral("aa:00:00:00:00:00"));
    EXPECT_EQ(last[2], QStringLiteral("Destribe"));
    EXPECT_EQ(last[3], QStringLiteral("two\\nlines\\tand \\\\ \\x1b[31m"));
}

TEST(RunLog, EveryControlCharacterIsEscaped)
{
    const struct {
        QString field, escaped;
    } cases[] = {
        {QStringLiteral("plain 升级成功"), QStringLiteral("plain 升级成功")},
        {QStringLiteral("a\\b"), QStringLiteral("a\\\\b")},
        {QStringLiteral("\t\r\n"), QStringLiteral("\\t\\r\\n")},
        {QStringLiteral("\x1b[2J\x1b]0;title\x07"), QStringLiteral("\\x1b[2J\\x1b]0;title\\x07")},
        {QString(QChar(0)) + QStringLiteral("x"), QStringLiteral("\\x00x")},
        {QStringLiteral("\x01\x1f\x7f"), QStringLiteral("\\x01\\x1f\\x7f")},
        {QString(QChar(0x9b)) + QStringLiteral("31m"), QStringLiteral("\\u009b31m")},
        {QString(QChar(0x80)) + QChar(0x9f) + QChar(0xa0), QStringLiteral("\\u0080\\u009f") + QChar(0xa0)},
        {QStringLiteral("~"), QStringLiteral("~")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RunLog::escape(c.field), c.escaped) << c.field.toStdString();
}
