// Staged runs: the wave sizes, the halt threshold, the [Waves] texts, and the sequencing of check and
// waves on a real device batch over plain rows.

#include "configini.h"
#include "device/devicebatch.h"
#include "flash/waveplan.h"
#include "flash/waverun.h"
#include "memoryrows.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>

#include <mutex>
#include <set>

namespace
{

WaveSettings settings(const char *first, const char *growth, const char *halt)
{
    WaveSettings s;
    QString problem;
    EXPECT_TRUE(s.parse(QLatin1String(first), QLatin1String(growth), QLatin1String(halt), &problem))
        << problem.toStdString();
    return s;
}

} // namespace

TEST(WavePlan, SizesAddUpAndFollowTheGrowth)
{
    const struct {
        int devices;
        const char *first, *growth;
        std::vector<int> sizes;
    } cases[] = {
        {0, "1", "x2", {}},
        {1, "1", "x2", {1}},
        {7, "1", "x2", {1, 2, 4}},
        {10, "1", "x2", {1, 2, 4, 3}},
        {10, "", "", {1, 2, 4, 3}}, // the defaults: one device, then doubling
        {5, "8", "x2", {5}},        // a first wave larger than the run takes all of it
        {20, "10%", "x2", {2, 4, 8, 6}},
        {30, "10%", "x3", {3, 9, 18}}, // 10 % of 30 is exactly 3
        {21, "10%", "x2", {3, 6, 12}}, // a share rounds up
        {3, "1%", "x2", {1, 2}},       // a share never makes an empty wave
        {10, "2", "+3", {2, 5, 3}},    // 2, 5 (2+3), then the 3 left of 8
        {6, "2", "1", {2, 2, 2}},      // times 1: waves of the first size
        {10, "2", "x1.5", {2, 3, 5}},  // 2, 3 (2*1.5), then 4.5 rounds up to 5
        {4, "1", "x1000000", {1, 3}},  // a huge factor takes what is left
        {256, "1", "x2", {1, 2, 4, 8, 16, 32, 64, 128, 1}},
    };
    for (const auto &c : cases) {
        const WaveSettings s = settings(c.first, c.growth, "1");
        EXPECT_EQ(WavePlan::sizes(c.devices, s), c.sizes) << c.devices << " " << c.first << " " << c.growth;
    }
}

TEST(WavePlan, SplitKeepsTableOrder)
{
    const std::vector<int> rows = {4, 0, 9, 2, 7};
    const auto waves = WavePlan::split(rows, settings("1", "x2", "1"));
    ASSERT_EQ(waves.size(), 3u);
    EXPECT_EQ(waves[0], (std::vector<int>{4}));
    EXPECT_EQ(waves[1], (std::vector<int>{0, 9}));
    EXPECT_EQ(waves[2], (std::vector<int>{2, 7}));
}

TEST(WavePlan, HaltsWhenTheFailuresReachTheThreshold)
{
    const struct {
        const char *halt;
        int size, failed;
        bool halts;
    } cases[] = {
        {"", 1, 0, false}, // the default: any failure halts
        {"", 1, 1, true},      {"", 16, 1, true},    {"1", 16, 0, false}, {"3", 16, 2, false},
        {"3", 16, 3, true},    {"3", 2, 2, false}, // a wave too small to reach the threshold never halts
        {"10%", 16, 1, false},                     // 1 of 16 is 6.25 %
        {"10%", 16, 2, true},                      // 12.5 %
        {"10%", 10, 1, true},                      // exactly 10 %
        {"10%", 1, 1, true},                       // a share of a one-device wave is that device
        {"10%", 1, 0, false},  {"50%", 4, 1, false}, {"50%", 4, 2, true}, {"100%", 4, 3, false},
        {"100%", 4, 4, true},
    };
    for (const auto &c : cases) {
        const WaveSettings s = settings("1", "x2", c.halt);
        EXPECT_EQ(WavePlan::halts(c.size, c.failed, s), c.halts)
            << c.halt << " size " << c.size << " failed " << c.failed;
    }
}

TEST(WaveSettings, ReadsTheConfigTextsOrNamesTheBadOne)
{
    const struct {
        const char *first, *growth, *halt;
        const char *badKey; ///< null: reads
        const char *firstBack, *growthBack, *haltBack;
    } cases[] = {
        {"", "", "", nullptr, "1", "x2", "1"},
        {"4", "x3", "2", nullptr, "4", "x3", "2"},
        {" 25% ", "+8", "10%", nullptr, "25%", "+8", "10%"},
        {"1", "2.5", "100%", nullptr, "1", "x2.5", "100%"},
        {"1", "X2", "1", nullptr, "1", "x2", "1"},
        {"0", "x2", "1", "First", "", "", ""},
        {"-1", "x2", "1", "First", "", "", ""},
        {"1.5", "x2", "1", "First", "", "", ""},
        {"0%", "x2", "1", "First", "", "", ""},
        {"101%", "x2", "1", "First", "", "", ""},
        {"abc", "x2", "1", "First", "", "", ""},
        {"1", "x0.5", "1", "Growth", "", "", ""},
        {"1", "+0", "1", "Growth", "", "", ""},
        {"1", "double", "1", "Growth", "", "", ""},
        {"1", "xinf", "1", "Growth", "", "", ""},
        {"1", "x2", "0", "Halt", "", "", ""},
        {"1", "x2", "0%", "Halt", "", "", ""},
        {"1", "x2", "any", "Halt", "", "", ""},
    };
    for (const auto &c : cases) {
        WaveSettings s;
        s.first.value = 7; // a failed read leaves everything as it was
        QString problem;
        const bool ok =
            s.parse(QLatin1String(c.first), QLatin1String(c.growth), QLatin1String(c.halt), &problem);
        const std::string name = std::string(c.first) + "|" + c.growth + "|" + c.halt;
        if (!c.badKey) {
            ASSERT_TRUE(ok) << name << problem.toStdString();
            if (QLatin1String(c.first).isEmpty())
                EXPECT_EQ(s.first.value, 7) << name;
            else
                EXPECT_EQ(WaveSettings::text(s.first), QLatin1String(c.firstBack)) << name;
            EXPECT_EQ(WaveSettings::text(s.growth), QLatin1String(c.growthBack)) << name;
            EXPECT_EQ(WaveSettings::text(s.halt), QLatin1String(c.haltBack)) << name;
        } else {
            EXPECT_FALSE(ok) << name;
            EXPECT_TRUE(problem.contains(QLatin1String(c.badKey))) << name << problem.toStdString();
            EXPECT_EQ(s.first.value, 7) << name;
        }
    }
}

TEST(WaveSettings, ReadFromTheWavesSection)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.ini"));
    const struct {
        const char *text;
        bool ok, enabled;
        const char *first, *growth, *halt;
    } cases[] = {
        {"", true, false, "1", "x2", "1"},
        {"[Waves]\r\nEnabled=1\r\nFirst=10%\r\nGrowth=+4\r\nHalt=2\r\n", true, true, "10%", "+4", "2"},
        {"[waves]\nenabled = 1\nhalt = 25%\n", true, true, "1", "x2", "25%"},
        {"[Waves]\nEnabled=1\nHalt=none\n", false, true, "", "", ""},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(useConfigIni(ini, QByteArray(c.text)));
        WaveSettings s;
        QString problem;
        EXPECT_EQ(WaveSettings::fromConfig(&s, &problem), c.ok) << c.text;
        EXPECT_EQ(WaveSettings::enabledInConfig(), c.enabled) << c.text;
        if (c.ok) {
            EXPECT_EQ(WaveSettings::text(s.first), QLatin1String(c.first)) << c.text;
            EXPECT_EQ(WaveSettings::text(s.growth), QLatin1String(c.growth)) << c.text;
            EXPECT_EQ(WaveSettings::text(s.halt), QLatin1String(c.halt)) << c.text;
        } else {
            EXPECT_TRUE(problem.contains(QLatin1String("Halt=none"))) << problem.toStdString();
        }
    }
    ConfigKeys::setConfigPath(QString());
}

namespace
{

// A tab's steps on plain rows: the check says "Ready" except for the devices told to fail it; a
// wave's job "sends" to its device (noted) and reports a success, or a failure for the devices told
// to fail.
class FakeSteps
{
public:
    explicit FakeSteps(DeviceBatch &batch) : m_batch(batch) {}

    WaveRun::Steps steps()
    {
        WaveRun::Steps s;
        s.check = [this](const std::vector<int> &rows) {
            ++checks;
            return run(rows, notReady, StatusOutcome::Success, false);
        };
        s.wave = [this](const std::vector<int> &rows) {
            waves.push_back(rows);
            return run(rows, failing, StatusOutcome::Success, true);
        };
        s.endedWell = [this](int row) {
            std::lock_guard<std::mutex> lock(m_lock);
            return m_last.count(row) && m_last.at(row) == StatusOutcome::Success;
        };
        return s;
    }
    std::set<int> sentTo() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_sent;
    }

    std::set<int> notReady, failing;
    int checks = 0;
    std::vector<std::vector<int>> waves;

private:
    bool run(const std::vector<int> &rows, const std::set<int> &bad, StatusOutcome good, bool send)
    {
        BatchPlan plan;
        plan.rows = rows;
        plan.options.maxParallel = 4;
        plan.job = [this, bad, good, send](BatchContext &ctx) {
            const StatusOutcome outcome = bad.count(ctx.row()) ? StatusOutcome::Failure : good;
            ctx.status(outcome,
                       outcome == StatusOutcome::Success ? QStringLiteral("ok") : QStringLiteral("bad"));
            std::lock_guard<std::mutex> lock(m_lock);
            m_last[ctx.row()] = outcome;
            if (send)
                m_sent.insert(ctx.row());
        };
        return m_batch.start(std::move(plan));
    }

    DeviceBatch &m_batch;
    mutable std::mutex m_lock;
    std::map<int, StatusOutcome> m_last;
    std::set<int> m_sent;
};

std::vector<DEV_INFO> devices(int count)
{
    std::vector<DEV_INFO> out;
    for (int i = 0; i < count; ++i)
        out.push_back(MemoryRows::loggedIn(i, 0));
    return out;
}

} // namespace

TEST(WaveRun, ChecksThenRunsWavesUntilOneFailsPastTheThreshold)
{
    const struct {
        const char *name;
        int devices;
        const char *first, *growth, *halt;
        std::set<int> notReady, failing;
        std::vector<std::vector<int>> wavesRun;
        int haltedWave; ///< 0: the run ends
    } cases[] = {
        {"one device of wave 1 fails", 7, "1", "x2", "", {}, {0}, {{0}}, 1},
        {"nothing fails", 7, "1", "x2", "", {}, {}, {{0}, {1, 2}, {3, 4, 5, 6}}, 0},
        {"a failure in the last wave", 7, "1", "x2", "", {}, {6}, {{0}, {1, 2}, {3, 4, 5, 6}}, 3},
        {"1 of 16 below 10 %",
         33,
         "1",
         "x16",
         "10%",
         {},
         {5},
         {{0},
          {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
          {17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32}},
         0},
        {"2 of 16 reach 10 %",
         33,
         "1",
         "x16",
         "10%",
         {},
         {5, 9},
         {{0}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
         2},
        {"devices failing the check stay out", 5, "1", "x2", "", {0, 2}, {}, {{1}, {3, 4}}, 0},
        {"no device passes the check", 3, "1", "x2", "", {0, 1, 2}, {}, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MemoryRows rows(devices(c.devices));
        DeviceBatch::Ptr batch = DeviceBatch::create(rows);
        FakeSteps fake(*batch);
        fake.notReady = c.notReady;
        fake.failing = c.failing;
        WaveRun run(*batch);
        QSignalSpy halted(&run, &WaveRun::halted);
        QSignalSpy ended(&run, &WaveRun::ended);
        std::vector<int> all;
        for (int i = 0; i < c.devices; ++i)
            all.push_back(i);
        ASSERT_TRUE(run.start(all, settings(c.first, c.growth, c.halt), fake.steps()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return halted.count() + ended.count() > 0; }, 10000));
        QCoreApplication::processEvents();
        EXPECT_EQ(fake.checks, 1);
        EXPECT_EQ(fake.waves, c.wavesRun);

        // Only the devices of the waves that ran received anything.
        std::set<int> expectedSent;
        for (const auto &wave : c.wavesRun)
            expectedSent.insert(wave.begin(), wave.end());
        EXPECT_EQ(fake.sentTo(), expectedSent);

        std::map<int, int> waveOf;
        for (size_t w = 0; w < run.waves().size(); ++w)
            for (int row : run.waves()[w])
                waveOf[row] = int(w) + 1;
        for (int row = 0; row < c.devices; ++row) {
            const QStringList waveValues = rows.texts(row, Field::Wave);
            if (!waveOf.count(row)) {
                // Left out after its check: cleared of any earlier run's number, and no wave of its own.
                EXPECT_EQ(waveValues, QStringList{QStringLiteral("0")}) << row;
                continue;
            }
            EXPECT_EQ(waveValues.value(waveValues.size() - 1), QString::number(waveOf[row])) << row;
            const bool started = expectedSent.count(row) > 0;
            const QList<StatusOutcome> outcomes = rows.outcomes(row);
            if (started) {
                EXPECT_TRUE(rows.texts(row).contains(WaveRun::waveText(waveOf[row]))) << row;
                EXPECT_NE(outcomes.last(), StatusOutcome::Halted) << row;
            } else {
                EXPECT_EQ(rows.texts(row).last(), WaveRun::haltedText(c.haltedWave)) << row;
                EXPECT_EQ(outcomes.last(), StatusOutcome::Halted) << row;
            }
        }

        if (c.haltedWave) {
            ASSERT_EQ(halted.count(), 1);
            EXPECT_EQ(ended.count(), 0);
            const auto halt = halted.at(0).at(0).value<WaveHalt>();
            EXPECT_EQ(halt.wave, c.haltedWave);
            EXPECT_EQ(halt.size, int(c.wavesRun.back().size()));
            int failedInWave = 0;
            for (int row : c.wavesRun.back())
                failedInWave += int(c.failing.count(row));
            EXPECT_EQ(halt.failed, failedInWave);
            EXPECT_EQ(halt.notStarted, c.devices - int(expectedSent.size()) - int(c.notReady.size()));
            EXPECT_EQ(run.state(), WaveRun::State::Halted);
        } else {
            ASSERT_EQ(ended.count(), 1);
            EXPECT_EQ(halted.count(), 0);
            const auto end = ended.at(0).at(0).value<WaveEnd>();
            EXPECT_EQ(end.waves, int(c.wavesRun.size()));
            EXPECT_EQ(end.notReady, int(c.notReady.size()));
            EXPECT_FALSE(end.cancelled);
            EXPECT_EQ(run.state(), WaveRun::State::Idle);
        }
    }
}

TEST(WaveRun, ResumeGoesOnWithTheNextWave)
{
    MemoryRows rows(devices(7));
    DeviceBatch::Ptr batch = DeviceBatch::create(rows);
    FakeSteps fake(*batch);
    fake.failing = {0};
    WaveRun run(*batch);
    QSignalSpy halted(&run, &WaveRun::halted);
    QSignalSpy ended(&run, &WaveRun::ended);
    ASSERT_FALSE(run.resume()); // nothing halted yet
    ASSERT_TRUE(run.start({0, 1, 2, 3, 4, 5, 6}, settings("1", "x2", "1"), fake.steps()));
    EXPECT_TRUE(run.busy());
    EXPECT_FALSE(run.start({0}, settings("1", "x2", "1"), fake.steps())); // one run at a time
    ASSERT_TRUE(QTest::qWaitFor([&] { return halted.count() == 1; }, 10000));
    EXPECT_EQ(fake.sentTo(), (std::set<int>{0}));
    EXPECT_FALSE(run.busy());

    fake.failing.clear();
    ASSERT_TRUE(run.resume());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000));
    EXPECT_EQ(fake.waves, (std::vector<std::vector<int>>{{0}, {1, 2}, {3, 4, 5, 6}}));
    EXPECT_EQ(fake.checks, 1); // a resumed run is not checked again
    EXPECT_EQ(ended.at(0).at(0).value<WaveEnd>().waves, 3);
    // Every device of the resumed waves ended with its own result, none with the halt's.
    for (int row = 1; row < 7; ++row)
        EXPECT_EQ(rows.outcomes(row).last(), StatusOutcome::Success) << row;
    EXPECT_FALSE(run.resume());
}

TEST(WaveRun, RowsReplacedWhileHaltedAreNotResumed)
{
    MemoryRows rows(devices(3));
    DeviceBatch::Ptr batch = DeviceBatch::create(rows);
    FakeSteps fake(*batch);
    fake.failing = {0};
    WaveRun run(*batch);
    QSignalSpy halted(&run, &WaveRun::halted);
    ASSERT_TRUE(run.start({0, 1, 2}, settings("1", "x2", "1"), fake.steps()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return halted.count() == 1; }, 10000));
    rows.replace(devices(3)); // a new search
    EXPECT_FALSE(run.resume());
    EXPECT_EQ(run.state(), WaveRun::State::Idle);
    EXPECT_EQ(fake.waves.size(), 1u);
}

TEST(WaveRun, HaltMessageSaysWhichWaveFailedAndAsksOnlyWhileOneIsLeft)
{
    // Wave 2 of 4: 3 of its 8 devices failed, the run halts at 2.
    WaveHalt halt;
    halt.wave = 2;
    halt.size = 8;
    halt.failed = 3;
    halt.haltAt = 2;
    struct Case {
        const char *name;
        WaveRun::Goal goal;
        int notStarted;
        bool chinese;
        const char *text; // UTF-8
    };
    const Case cases[] = {
        {"firmware, waves left", WaveRun::Goal::Verified, 5, false,
         "Wave 2 of 4 failed: 3 of its 8 devices did not end verified (the run halts at 2). 5 devices were "
         "not "
         "started.\nGo on with wave 3?"},
        {"logo, waves left", WaveRun::Goal::Burnt, 5, false,
         "Wave 2 of 4 failed: 3 of its 8 devices did not end burnt (the run halts at 2). 5 devices were not "
         "started.\nGo on with wave 3?"},
        {"last wave: nothing to go on with", WaveRun::Goal::Verified, 0, false,
         "Wave 2 of 4 failed: 3 of its 8 devices did not end verified (the run halts at 2). 0 devices were "
         "not "
         "started."},
        // Each tab keeps its own Chinese wording, the question included.
        {"firmware in Chinese", WaveRun::Goal::Verified, 5, true,
         "第 2 批（共 4 批）失败：该批 8 台设备中有 3 台未通过验证（失败达到 2 台即暂停）。5 "
         "台设备未开始升级。\n"
         "继续升级第 3 批？"},
        {"logo in Chinese", WaveRun::Goal::Burnt, 5, true,
         "第 2 批（共 4 批）失败：该批 8 台设备中有 3 台未烧录成功（失败达到 2 台即暂停）。5 "
         "台设备未开始烧录。\n"
         "继续烧录第 3 批？"},
    };
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(TALLOW_APP_DIR "/language/tallow_zh.qm")));
    for (const Case &c : cases) {
        halt.notStarted = c.notStarted;
        if (c.chinese)
            QCoreApplication::installTranslator(&translator);
        const QString text = WaveRun::haltMessage(halt, 4, c.goal);
        QCoreApplication::removeTranslator(&translator);
        EXPECT_EQ(text.toStdString(), std::string(c.text)) << c.name;
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
