#include "device/devicesession.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{

// Counts the logouts a session makes, by handle.
struct Logouts {
    std::vector<long> ids;
    DeviceSession session(long id)
    {
        return DeviceSession(id, [this](long loginId) { ids.push_back(loginId); });
    }
};

} // namespace

TEST(DeviceSession, OnlyAHandleIsLoggedIn)
{
    struct Case {
        long loginId;
        bool loggedIn;
    };
    // A failed login answers 0 or an error code; neither is a session.
    for (const Case c :
         {Case{42, true}, Case{1, true}, Case{0, false}, Case{-1, false}, Case{-11301, false}}) {
        Logouts logouts;
        {
            DeviceSession s = logouts.session(c.loginId);
            EXPECT_EQ(s.loggedIn(), c.loggedIn) << c.loginId;
            EXPECT_EQ(s.id(), c.loggedIn ? c.loginId : 0) << c.loginId;
        }
        EXPECT_EQ(logouts.ids, c.loggedIn ? std::vector<long>{c.loginId} : std::vector<long>{}) << c.loginId;
    }
    EXPECT_FALSE(DeviceSession().loggedIn());
}

TEST(DeviceSession, MovingHandsOverWithoutLoggingOut)
{
    Logouts logouts;
    DeviceSession a = logouts.session(7);
    DeviceSession b(std::move(a));
    EXPECT_FALSE(a.loggedIn());
    EXPECT_EQ(b.id(), 7);
    DeviceSession c;
    c = std::move(b);
    EXPECT_TRUE(logouts.ids.empty());
    c = std::move(c); // NOLINT: a self-move keeps the session
    EXPECT_EQ(c.id(), 7);
    c.reset();
    c.reset();
    EXPECT_EQ(logouts.ids, std::vector<long>{7});
}

TEST(DeviceSession, AssigningOverASessionEndsTheOldOne)
{
    Logouts logouts;
    DeviceSession held = logouts.session(1);
    held = logouts.session(2);
    EXPECT_EQ(logouts.ids, std::vector<long>{1});
    EXPECT_EQ(held.id(), 2);
    held = DeviceSession();
    EXPECT_EQ(logouts.ids, (std::vector<long>{1, 2}));
}

TEST(DeviceSession, SwappingLogsNothingOut)
{
    Logouts logouts;
    DeviceSession row = logouts.session(3);
    DeviceSession job = logouts.session(4);
    std::swap(row, job);
    EXPECT_EQ(row.id(), 4);
    EXPECT_EQ(job.id(), 3);
    EXPECT_TRUE(logouts.ids.empty());
}
