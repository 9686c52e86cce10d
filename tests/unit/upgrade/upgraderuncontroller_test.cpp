// The firmware tab's controller without any widget: what an Upgrade click refuses and says, which rows
// its run takes, and that its end silences an inspection still under way.

#include "testzip.h"

#include "device/devicebatch.h"
#include "device/ipchange.h"
#include "memoryrows.h"
#include "oemid/oemidwriter.h"
#include "upgrade/upgraderuncontroller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace
{

std::mutex loginLock;
std::set<std::string> loginIps; // every address a run tried to log in to

long refusingLogin(const char *ip, unsigned short, const char *, const char *, H264_DVR_DEVICEINFO *, int,
                   int *error)
{
    std::lock_guard<std::mutex> g(loginLock);
    loginIps.insert(ip);
    *error = -11301;
    return 0;
}

long lastError()
{
    return -11301;
}

UpgradeSdk refusingSdk()
{
    UpgradeSdk sdk;
    sdk.login = &refusingLogin;
    sdk.lastError = &lastError;
    sdk.logout = [](long) {};
    return sdk;
}

DEV_INFO device(int row, const char *ip)
{
    DEV_INFO d{};
    d.nIndex = row;
    d.nPort = 34567;
    std::strcpy(d.szIpaddress, ip);
    std::strcpy(d.szUserName, "admin");
    return d;
}

bool waitFor(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class UpgradeRunControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        good = dir.filePath(QStringLiteral("good.bin"));
        ASSERT_TRUE(testzip::writePackage(good.toStdString(), "HW"));
        garbage = dir.filePath(QStringLiteral("garbage.bin"));
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("no zip here");
        std::lock_guard<std::mutex> g(loginLock);
        loginIps.clear();
    }

    UpgradeRequest request(const QString &package) const
    {
        UpgradeRequest r;
        r.packagePath = package;
        r.dataDir = dir.path();
        r.spacingMs = 0;
        r.assignedOemid = QStringLiteral("123");
        return r;
    }

    QTemporaryDir dir;
    QString good;
    QString garbage;
};

TEST_F(UpgradeRunControllerTest, ClickChecksSayWhyNothingStarts)
{
    struct Case {
        const char *name;
        std::function<void(UpgradeRequest &)> change;
        std::vector<int> rows;
        bool searchMeanwhile; ///< the rows are replaced between the click and the run's start
        QString prompt;       ///< empty: the run starts
        std::set<std::string> logins;
    };
    const QString noDevice = QStringLiteral("Please Select a Device");
    const std::vector<Case> cases = {
        {"no package",
         [](UpgradeRequest &r) { r.packagePath.clear(); },
         {0},
         false,
         QStringLiteral("Please Select a Program"),
         {}},
        {"start index out of range",
         [](UpgradeRequest &r) { r.modifyIP = true, r.startIndex = 255; },
         {0},
         false,
         IpChange::startIndexProblem(255),
         {}},
        // The start index matters only when addresses are changed.
        {"start index unused", [](UpgradeRequest &r) { r.startIndex = 255; }, {0}, false, {}, {"10.0.0.1"}},
        {"unassigned OEMID",
         [](UpgradeRequest &r) { r.setOEMID = true, r.assignedOemid = QStringLiteral("000"); },
         {0},
         false,
         OemidWriter::assignedOemidProblem(QStringLiteral("000")),
         {}},
        {"not a package",
         [this](UpgradeRequest &r) { r.packagePath = garbage; },
         {0},
         false,
         QStringLiteral("UnZip Program Fail"),
         {}},
        {"no row ticked", {}, {}, false, noDevice, {}},
        {"rows replaced by a search", {}, {0, 1}, true, noDevice, {}},
        {"ticked rows only", {}, {1}, false, {}, {"10.0.0.2"}},
        {"rows out of the table", {}, {1, 7}, false, {}, {"10.0.0.2"}},
    };
    // The cases whose refusal is the package's own (a caller tells those apart without the words).
    const std::set<std::string> refusedPackage = {"not a package"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> g(loginLock);
            loginIps.clear();
        }
        MemoryRows rows({device(0, "10.0.0.1"), device(1, "10.0.0.2")});
        DeviceBatch batch(rows);
        UpgradeRunController controller(batch, UpgradeHooks{}, refusingSdk());
        QStringList prompts;
        int started = 0;
        int packageRefusals = 0;
        QObject::connect(&controller, &UpgradeRunController::prompt,
                         [&prompts](const QString &text) { prompts << text; });
        QObject::connect(&controller, &UpgradeRunController::runStarted, [&started] { ++started; });
        QObject::connect(&controller, &UpgradeRunController::packageRefused,
                         [&packageRefusals] { ++packageRefusals; });

        UpgradeRequest r = request(good);
        if (c.change)
            c.change(r);
        controller.startUpgrade(r, rows.generation(), c.rows);
        if (c.searchMeanwhile)
            rows.replace({device(0, "10.0.0.3"), device(1, "10.0.0.4")});
        ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));

        if (c.prompt.isEmpty()) {
            EXPECT_TRUE(prompts.isEmpty()) << prompts.join(QLatin1Char('|')).toStdString();
            EXPECT_EQ(started, 1);
        } else {
            EXPECT_EQ(prompts, QStringList{c.prompt});
            EXPECT_EQ(started, 0);
        }
        EXPECT_EQ(packageRefusals, refusedPackage.count(c.name) ? 1 : 0);
        std::lock_guard<std::mutex> g(loginLock);
        EXPECT_EQ(loginIps, c.logins);
    }
}

TEST_F(UpgradeRunControllerTest, SecondClickDuringARunIsRefused)
{
    MemoryRows rows({device(0, "10.0.0.1"), device(1, "10.0.0.2")});
    DeviceBatch batch(rows);
    UpgradeRunController controller(batch, UpgradeHooks{}, refusingSdk());
    QStringList prompts;
    QObject::connect(&controller, &UpgradeRunController::prompt,
                     [&prompts](const QString &text) { prompts << text; });
    // Held by its spacing: the run is still starting devices when the second click comes.
    UpgradeRequest r = request(good);
    r.spacingMs = 60000;
    controller.startUpgrade(r, rows.generation(), {0, 1});
    ASSERT_TRUE(waitFor([&] { return !controller.inspecting(); }));
    ASSERT_TRUE(controller.run().isActive());
    controller.startUpgrade(r, rows.generation(), {0, 1});
    controller.startCheck(r, {0});
    ASSERT_EQ(prompts.size(), 2);
    for (const QString &text : prompts)
        EXPECT_TRUE(text.startsWith(QStringLiteral("An upgrade is still running"))) << text.toStdString();
    EXPECT_TRUE(controller.refuseWhileRunning());
    controller.shutdown();
    EXPECT_FALSE(controller.run().isActive());
}

TEST_F(UpgradeRunControllerTest, EndDuringInspectionDeliversNothing)
{
    MemoryRows rows({device(0, "10.0.0.1")});
    DeviceBatch batch(rows);
    int told = 0;
    {
        UpgradeRunController controller(batch, UpgradeHooks{}, refusingSdk());
        QObject::connect(&controller, &UpgradeRunController::prompt, [&told] { ++told; });
        QObject::connect(&controller, &UpgradeRunController::runStarted, [&told] { ++told; });
        controller.startUpgrade(request(good), rows.generation(), {0});
        EXPECT_TRUE(controller.busy());
    }
    // Whatever the inspection had queued goes nowhere once its owner is gone.
    QCoreApplication::processEvents();
    EXPECT_EQ(told, 0);
    EXPECT_FALSE(batch.isActive());
    std::lock_guard<std::mutex> g(loginLock);
    EXPECT_TRUE(loginIps.empty());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
