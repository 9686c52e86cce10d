#include "logo/logoprogress.h"
#include "upgrade/upgradelists.h"
#include "upgrade/upgradeprogress.h"

#include "netsdk/netsdk.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace
{

struct ProgressCase {
    int total;
    int position;
    const char *oemid;
    ProgressReport::Kind kind;
    const char *text;
    /// What the row is told the report means.
    StatusOutcome outcome = StatusOutcome::Neutral;
};

class ProgressTest : public ::testing::TestWithParam<ProgressCase>
{
};

TEST_P(ProgressTest, DescribesReport)
{
    const ProgressCase &c = GetParam();
    const ProgressReport report = describeProgress(c.total, c.position, QString::fromUtf8(c.oemid));
    EXPECT_EQ(report.kind, c.kind);
    EXPECT_EQ(report.text, QString::fromUtf8(c.text));
    EXPECT_EQ(report.outcome(), c.outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ProgressTest,
    ::testing::Values(
        ProgressCase{1000, 250, "", ProgressReport::Sending, "Send Progress: 25"},
        // 60,000,000 * 100 does not fit 32 bits.
        ProgressCase{100000000, 60000000, "", ProgressReport::Sending, "Send Progress: 60"},
        ProgressCase{2147483647, 2147483647, "", ProgressReport::Sending, "Send Progress: 100"},
        ProgressCase{3, 2, "", ProgressReport::Sending, "Send Progress: 66"}, // truncated
        // 0.29 * 100 is 28.999... in binary floating point.
        ProgressCase{100, 29, "", ProgressReport::Sending, "Send Progress: 29"},
        ProgressCase{100, 57, "", ProgressReport::Sending, "Send Progress: 57"},
        ProgressCase{1000, 0, "", ProgressReport::Sending, "Send Progress: 0"},
        ProgressCase{1000, 999, "", ProgressReport::Sending, "Send Progress: 99"},
        ProgressCase{-1, 57, "", ProgressReport::DeviceProgress, "Upgrade Progress: 57"},
        ProgressCase{-1, -1, "Set OEMID Success(ABC)", ProgressReport::Success,
                     "Upgrade Success  Set OEMID Success(ABC)", StatusOutcome::Success},
        ProgressCase{5000, -1, "", ProgressReport::Success, "Upgrade Success  ", StatusOutcome::Success},
        ProgressCase{-1, -2, "X", ProgressReport::Failure, "Upgrade FailX", StatusOutcome::Failure},
        ProgressCase{0, -11807, "X", ProgressReport::DeviceError, "Invalid hardware", StatusOutcome::Failure},
        ProgressCase{0, -11812, "", ProgressReport::DeviceError, "Unknow error", StatusOutcome::Failure},
        ProgressCase{-1, -10011, "X", ProgressReport::DeviceError,
                     "Upgrade timed out: the device did not finish in time", StatusOutcome::Failure},
        ProgressCase{0, 10, "", ProgressReport::None, ""},
        ProgressCase{-5, 10, "", ProgressReport::None, ""}));

TEST(UpgradeErrorText, MapsEveryDeviceCode)
{
    const std::vector<std::pair<int, const char *>> cases = {
        {-11804, "No enough memory"},
        {-11805, "Invaild upgrade packet"},
        {-11806, "Some part upgrade fail"},
        {-11807, "Invalid hardware"},
        {-11808, "Invalid vendor"},
        {-11809, "Invalid compalible"},
        {-11810, "Invalid version"},
        {-11811, "Invalid wifi drive"},
        {NETSDK_ERR_UPG_DEADLINE, "Upgrade timed out: the device did not finish in time"},
        {-11803, "Unknow error"},
        {-11812, "Unknow error"},
        {-3, "Unknow error"}};
    for (const auto &c : cases)
        EXPECT_EQ(upgradeErrorText(c.first), QString::fromUtf8(c.second)) << c.first;
}

TEST(LogoProgress, FinalTextsCarryTheCodeOnlyWithoutATextOfTheirOwn)
{
    const struct {
        int position;
        long lastError;
        const char *text;
    } cases[] = {
        {-1, 0, "Upgrade Success"},
        {-2, NETSDK_ERR_NETWORK, "Upgrade Fail code:-10004"},
        {-11807, -11807, "Invalid hardware"},
        {-11812, -11812, "Unknow error code:-11812"},
        {NETSDK_ERR_UPG_DEADLINE, NETSDK_ERR_TIMEOUT, "Upgrade timed out: the device did not finish in time"},
    };
    for (const auto &c : cases) {
        const ProgressReport report = describeLogoProgress(-1, c.position, c.lastError);
        EXPECT_EQ(report.text, QString::fromUtf8(c.text)) << c.position;
        EXPECT_EQ(report.outcome(), c.position == -1 ? StatusOutcome::Success : StatusOutcome::Failure);
    }
}

TEST(OemidResultTexts, ConcurrentWritersAndReaders)
{
    OemidResultTexts texts;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&texts, t] {
            for (int i = 0; i < 1000; ++i) {
                texts.set(t * 1000 + i, QString::number(i));
                (void)texts.value(i);
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(texts.value(3999), QStringLiteral("999"));
    EXPECT_EQ(texts.value(5000), QString());
    texts.clear();
    EXPECT_EQ(texts.value(3999), QString());
}

TEST(UpgradeLists, PendingCopiesTakenShares)
{
    UpgradeLists lists;
    DEV_INFO a = {};
    a.nIndex = 1;
    lists.pushDevice(a, UpgradeLists::Pending);
    a.nIndex = 2; // the pending list holds its own copy
    lists.pushDevice(a, UpgradeLists::Pending);
    EXPECT_EQ(lists.deviceCount(UpgradeLists::Pending), 2);

    UpgradeLists::Record first = lists.popDevice(UpgradeLists::Pending);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->nIndex, 1);
    lists.pushDevice(first, UpgradeLists::Taken);
    UpgradeLists::Record taken = lists.popDevice(UpgradeLists::Taken);
    EXPECT_EQ(taken.get(), first.get());
    lists.pushDevice(taken, UpgradeLists::Taken);

    // A record still used elsewhere survives the clearing of the lists.
    lists.clearLists();
    EXPECT_EQ(lists.deviceCount(UpgradeLists::Pending), 0);
    EXPECT_EQ(lists.deviceCount(UpgradeLists::Taken), 0);
    EXPECT_EQ(first->nIndex, 1);
    EXPECT_FALSE(lists.popDevice(UpgradeLists::Pending));
}

} // namespace
