// The logo tab's row click without the tab: what it tells the row for each kind of device, and that
// every login it makes or takes from the row ends exactly once, in the row or with the probe.

#include "logo/logorowprobe.h"
#include "memoryrows.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace
{

struct Device {
    int buildYear = 2021;
    bool loginOk = true;
    long linkResult = 516; ///< what reading the app-link record returns; <= 0 fails
    uint8_t iosByte = 1;
};

std::mutex lock;
Device scripted;
int logins = 0;
std::map<long, int> logouts; // handle -> times logged out

long fakeLogin(const char *, unsigned short, const char *, const char *, H264_DVR_DEVICEINFO *info, int,
               int *error)
{
    std::lock_guard<std::mutex> g(lock);
    if (!scripted.loginOk) {
        *error = -11301;
        return 0;
    }
    info->BuildYear = scripted.buildYear;
    info->BuildMonth = 1;
    info->BuildDay = 1;
    return 500 + ++logins;
}

long fakeLastError()
{
    return -11302;
}

long fakeGetConfig(long, unsigned long, int, char *out, unsigned long size, unsigned long *returned, int)
{
    std::lock_guard<std::mutex> g(lock);
    if (scripted.linkResult <= 0)
        return scripted.linkResult;
    std::memset(out, 0, size);
    out[0] = char(scripted.iosByte);
    *returned = size;
    return scripted.linkResult;
}

LogoDevice::Sdk fakeSdk()
{
    LogoDevice::Sdk sdk;
    sdk.login = &fakeLogin;
    sdk.lastError = &fakeLastError;
    sdk.getDevConfig = &fakeGetConfig;
    sdk.logout = [](long id) {
        std::lock_guard<std::mutex> g(lock);
        ++logouts[id];
    };
    return sdk;
}

std::optional<LogoProbeReport> probe(MemoryRows &rows, LogoRowProbe &probe, int row,
                                     bool searchMeanwhile = false)
{
    std::optional<LogoProbeReport> got;
    QObject::connect(&probe, &LogoRowProbe::finished, [&got](const LogoProbeReport &r) { got = r; });
    LogoRowProbe::Request request;
    request.row = row;
    request.generation = rows.generation();
    request.password = "pw";
    if (!probe.start(request))
        return std::nullopt;
    if (searchMeanwhile)
        rows.replace({MemoryRows::loggedIn(0, 0)});
    QDeadlineTimer deadline(10000);
    while (!got && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return got;
}

TEST(LogoRowProbe, TellsTheRowWhatTheDeviceIs)
{
    using Outcome = LogoDevice::Probe::Outcome;
    struct Case {
        const char *name;
        Device device;
        long rowLogin; ///< the row's session before the click (0: none)
        Outcome outcome;
        std::vector<StatusOutcome> said;
        std::optional<bool> appLinks;
        std::optional<bool> iosRow;
        bool rowKeepsLogin; ///< the row holds a session afterwards
    };
    Device refuses;
    refuses.loginOk = false;
    Device old;
    old.buildYear = 2019;
    Device noLink;
    noLink.linkResult = -1;
    Device androidOnly;
    androidOnly.iosByte = 0;
    const std::vector<Case> cases = {
        {"login refused", refuses, 0, Outcome::LoginFailed, {StatusOutcome::Failure}, {}, {}, false},
        {"old build", old, 0, Outcome::OldBuild, {StatusOutcome::Success}, false, {}, false},
        {"app links", Device(), 0, Outcome::AppLink, {StatusOutcome::Success}, true, true, false},
        {"android link only", androidOnly, 0, Outcome::AppLink, {StatusOutcome::Success}, true, false, false},
        // The device stays logged in for the next click when its record could not be read.
        {"link record unreadable",
         noLink,
         0,
         Outcome::AppLinkFailed,
         {StatusOutcome::Neutral, StatusOutcome::Failure},
         true,
         {},
         true},
        // The row's own login is used and, once the probe is done, ended.
        {"row logged in", Device(), 77, Outcome::AppLink, {StatusOutcome::Success}, true, true, false},
        {"row logged in, record unreadable",
         noLink,
         77,
         Outcome::AppLinkFailed,
         {StatusOutcome::Neutral, StatusOutcome::Failure},
         true,
         {},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> g(lock);
            scripted = c.device;
            logouts.clear();
        }
        MemoryRows rows;
        rows.setLogout(fakeSdk().logout);
        DEV_INFO listed = MemoryRows::loggedIn(0, c.rowLogin);
        listed.NetDevInfo.BuildYear = 2021; // as the row's own login read it
        rows.replace({listed});
        {
            LogoRowProbe prober(rows, fakeSdk());
            const std::optional<LogoProbeReport> report = probe(rows, prober, 0);
            ASSERT_TRUE(report);
            EXPECT_TRUE(report->stored);
            EXPECT_EQ(report->outcome, c.outcome);
            std::vector<StatusOutcome> said;
            for (const LogoProbeReport::Line &line : report->status) {
                said.push_back(line.outcome);
                EXPECT_FALSE(line.text.isEmpty());
            }
            EXPECT_EQ(said, c.said);
            EXPECT_EQ(report->appLinks, c.appLinks);
            EXPECT_EQ(report->iosRow, c.iosRow);
            DEV_INFO after;
            ASSERT_TRUE(rows.device(rows.generation(), 0, &after));
            EXPECT_EQ(after.lLoginID > 0, c.rowKeepsLogin);
        }
        rows.replace({}); // a new search ends the row's session
        std::lock_guard<std::mutex> g(lock);
        for (const auto &[id, times] : logouts)
            EXPECT_EQ(times, 1) << id;
        const int made = c.device.loginOk && c.rowLogin == 0 ? 1 : 0;
        EXPECT_EQ(logouts.size(), size_t(made + (c.rowLogin ? 1 : 0)));
    }
}

TEST(LogoRowProbe, RowReplacedMeanwhileGetsNothing)
{
    {
        std::lock_guard<std::mutex> g(lock);
        scripted = Device();
        scripted.linkResult = -1; // the probe would leave its login to the row
        logouts.clear();
    }
    MemoryRows rows;
    rows.setLogout(fakeSdk().logout);
    rows.replace({MemoryRows::loggedIn(0, 0)});
    LogoRowProbe prober(rows, fakeSdk());
    const std::optional<LogoProbeReport> report = probe(rows, prober, 0, true);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->stored);
    EXPECT_TRUE(report->status.empty());
    DEV_INFO after;
    ASSERT_TRUE(rows.device(rows.generation(), 0, &after));
    EXPECT_EQ(after.lLoginID, 0); // the new row is not handed the old device's login
    std::lock_guard<std::mutex> g(lock);
    ASSERT_EQ(logouts.size(), 1u);
    EXPECT_EQ(logouts.begin()->second, 1);
}

TEST(LogoRowProbe, OneRowAtATime)
{
    {
        std::lock_guard<std::mutex> g(lock);
        scripted = Device();
    }
    MemoryRows rows({MemoryRows::loggedIn(0, 0), MemoryRows::loggedIn(1, 0)});
    LogoRowProbe prober(rows, fakeSdk());
    LogoRowProbe::Request first;
    first.row = 0;
    first.generation = rows.generation();
    ASSERT_TRUE(prober.start(first));
    LogoRowProbe::Request second = first;
    second.row = 1;
    EXPECT_FALSE(prober.start(second));
    LogoRowProbe::Request gone = first;
    gone.generation = rows.generation() + 1;
    EXPECT_FALSE(LogoRowProbe(rows, fakeSdk()).start(gone));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
