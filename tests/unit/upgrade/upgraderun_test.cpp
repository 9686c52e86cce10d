// The firmware run against a scripted SDK and an in-memory table: every step of a device's upgrade,
// the configuration import, the dispatcher's order and spacing, and the callback's life cycle.

#include "logo/logorun.h"
#include "upgrade/upgraderun.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

struct FakeDevice {
    std::string password = "pw";
    std::string hardware = "HW-1";
    std::string model;  // an ONVIF device's model
    bool onvif = false; // the login says ONVIF
    long importResult = 1;
    bool startFails = false;
};

struct StartedUpgrade {
    long handle;
    fUpgradeCallBack callback;
    void *user;
    std::string path;
    std::string sha256; // what the run pinned the file to; empty: nothing
};

// The scripted SDK: one instance, reached through the free functions below.
struct Script {
    std::mutex lock;
    std::map<std::string, FakeDevice> devices; // by IP text
    std::vector<std::string> logins;           // "ip/password"
    std::vector<Clock::time_point> loginTimes;
    std::vector<long> logouts;
    std::vector<std::string> imports;
    std::vector<StartedUpgrade> upgrades;
    std::set<long> closed;
    long nextHandle = 100;

    void reset()
    {
        std::lock_guard<std::mutex> g(lock);
        devices.clear();
        logins.clear();
        loginTimes.clear();
        logouts.clear();
        imports.clear();
        upgrades.clear();
        closed.clear();
    }
};
Script script;
thread_local long lastErrorCode = 0;
std::map<long, std::string> handleIp; // login handle -> ip (under script.lock)

long fakeLogin(const char *ip, unsigned short, const char *, const char *password, H264_DVR_DEVICEINFO *info,
               int, int *error)
{
    std::lock_guard<std::mutex> g(script.lock);
    script.logins.push_back(std::string(ip) + "/" + password);
    script.loginTimes.push_back(Clock::now());
    auto it = script.devices.find(ip);
    if (it == script.devices.end()) {
        *error = -11307;
        return 0;
    }
    if (it->second.password != password) {
        *error = -11301;
        return 0;
    }
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->sHardWare, it->second.hardware.c_str(), sizeof info->sHardWare - 1);
    std::strncpy(info->sModel, it->second.model.c_str(), sizeof info->sModel - 1);
    info->Protocol = it->second.onvif ? NETSDK_PROTOCOL_ONVIF : NETSDK_PROTOCOL_OWN;
    const long handle = script.nextHandle++;
    handleIp[handle] = ip;
    return handle;
}

long fakeLogout(long id)
{
    std::lock_guard<std::mutex> g(script.lock);
    script.logouts.push_back(id);
    return 1;
}

long fakeLastError()
{
    return lastErrorCode;
}

long fakeSetConfig(long id, unsigned long cmd, int channel, char *buf, unsigned long size, int wait)
{
    std::lock_guard<std::mutex> g(script.lock);
    EXPECT_EQ(cmd, 52u);
    EXPECT_EQ(channel, -1);
    EXPECT_EQ(wait, 10000);
    script.imports.push_back(std::string(buf, size));
    return script.devices[handleIp[id]].importResult;
}

long fakeUpgrade(long id, const char *path, int, const unsigned char *sha256, fUpgradeCallBack cb, void *user)
{
    std::lock_guard<std::mutex> g(script.lock);
    if (script.devices[handleIp[id]].startFails) {
        lastErrorCode = -11806;
        return 0;
    }
    const long handle = 5000 + long(script.upgrades.size());
    script.upgrades.push_back(
        {handle, cb, user, path,
         sha256 ? std::string(reinterpret_cast<const char *>(sha256), 32) : std::string()});
    return handle;
}

int fakeClose(long handle)
{
    std::lock_guard<std::mutex> g(script.lock);
    script.closed.insert(handle);
    return 1;
}

UpgradeSdk fakeSdk()
{
    UpgradeSdk sdk;
    sdk.login = &fakeLogin;
    sdk.logout = &fakeLogout;
    sdk.lastError = &fakeLastError;
    sdk.setDevConfig = &fakeSetConfig;
    sdk.upgrade = &fakeUpgrade;
    sdk.closeUpgrade = &fakeClose;
    return sdk;
}

class FakeTable : public DeviceRows
{
public:
    quint64 generation() const override { return 0; }
    int rowCount() const override
    {
        std::lock_guard<std::mutex> g(lock);
        return int(rows.size());
    }
    bool device(quint64, int row, DEV_INFO *out) const override
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = rows.find(row);
        if (it == rows.end())
            return false;
        *out = it->second;
        out->lLoginID = int32_t(sessions[row].id());
        return true;
    }
    DeviceSession takeSession(quint64, int row) override
    {
        std::lock_guard<std::mutex> g(lock);
        return rows.count(row) ? std::move(sessions[row]) : DeviceSession();
    }
    DeviceSession giveSession(quint64, int row, DeviceSession session) override
    {
        std::lock_guard<std::mutex> g(lock);
        if (rows.count(row))
            std::swap(session, sessions[row]);
        return session;
    }
    /// A login the row holds, ended through the fake SDK.
    void logIn(int row, long loginId)
    {
        std::lock_guard<std::mutex> g(lock);
        sessions[row] = DeviceSession(loginId, &fakeLogout);
    }
    bool loggedIn(int row)
    {
        std::lock_guard<std::mutex> g(lock);
        return sessions[row].loggedIn();
    }
    bool updateDevice(quint64, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = rows.find(row);
        if (it == rows.end())
            return false;
        change(it->second);
        return true;
    }
    void post(const RowEvent &event) override
    {
        std::lock_guard<std::mutex> g(lock);
        cells[{event.row, event.cell}].push_back(event.text);
        outcomes[{event.row, event.cell}].push_back(event.outcome);
    }
    QStringList status(int row)
    {
        std::lock_guard<std::mutex> g(lock);
        return cells[{row, Field::Status}];
    }
    /// What the job said of each status text, in order.
    QList<StatusOutcome> said(int row)
    {
        std::lock_guard<std::mutex> g(lock);
        return outcomes[{row, Field::Status}];
    }
    void clearCells()
    {
        std::lock_guard<std::mutex> g(lock);
        cells.clear();
        outcomes.clear();
    }
    DEV_INFO &addRow(int row, const char *ip, const char *password = "")
    {
        DEV_INFO r = {};
        r.nIndex = row;
        r.nPort = 34567;
        std::strcpy(r.szIpaddress, ip);
        std::strcpy(r.szUserName, "admin");
        std::strcpy(r.szPsw, password);
        rows[row] = r;
        return rows[row];
    }

    mutable std::mutex lock;
    std::map<int, DEV_INFO> rows;
    mutable std::map<int, DeviceSession> sessions; // by row, beside rows
    std::map<std::pair<int, Field>, QStringList> cells;
    std::map<std::pair<int, Field>, QList<StatusOutcome>> outcomes;
};

constexpr StatusOutcome kNeutral = StatusOutcome::Neutral;
constexpr StatusOutcome kSuccess = StatusOutcome::Success;
constexpr StatusOutcome kFailure = StatusOutcome::Failure;

class UpgradeRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        script.reset();
        hooks.loginErrorText = [](int code) { return QStringLiteral("login error %1").arg(code); };
        params.packagePath = QStringLiteral("/pkg/fw.bin");
        params.packageHardware = "HW-1";
        params.packageSha256 = QByteArray(32, 'd');
        params.tabPassword = "pw";
    }
    std::shared_ptr<DEV_INFO> record(int row) { return std::make_shared<DEV_INFO>(table.rows.at(row)); }
    StartedUpgrade upgradeOf(size_t i)
    {
        std::lock_guard<std::mutex> g(script.lock);
        return script.upgrades.at(i);
    }

    FakeTable table;
    UpgradeHooks hooks;
    UpgradeParams params;
};

TEST_F(UpgradeRunTest, DeviceStopsAtTheFirstFailingStep)
{
    struct Case {
        const char *name;
        FakeDevice device;
        UpgradeRun::DeviceOutcome outcome;
        QStringList texts;
        QList<StatusOutcome> said;
        size_t upgrades;
    };
    FakeDevice wrongPassword;
    wrongPassword.password = "other";
    FakeDevice otherHardware;
    otherHardware.hardware = "HW-2";
    FakeDevice refuses;
    refuses.startFails = true;
    // ONVIF: a package naming the model is for the device as much as one naming its hardware ID.
    FakeDevice onvifByModel;
    onvifByModel.onvif = true;
    onvifByModel.hardware = "HWID-9";
    onvifByModel.model = "HW-1";
    FakeDevice onvifOther = onvifByModel;
    onvifOther.model = "CAM-2";
    // Only an ONVIF device's model counts: a model field from elsewhere is not a hardware name.
    FakeDevice ownWithModel = onvifByModel;
    ownWithModel.onvif = false;
    const std::vector<Case> cases = {
        {"login",
         wrongPassword,
         UpgradeRun::DeviceOutcome::LoginFailed,
         {"login error -11301"},
         {kFailure},
         0},
        {"hardware",
         otherHardware,
         UpgradeRun::DeviceOutcome::InvalidHardware,
         {"Login Success", "Invalid hardware"},
         {kNeutral, kFailure},
         0},
        {"start",
         refuses,
         UpgradeRun::DeviceOutcome::StartFailed,
         {"Login Success", "Upgrade Failed,-11806"},
         {kNeutral, kFailure},
         0},
        {"ok",
         FakeDevice(),
         UpgradeRun::DeviceOutcome::Started,
         {"Login Success", "Start Upgrade"},
         {kNeutral, kNeutral},
         1},
        {"onvif model",
         onvifByModel,
         UpgradeRun::DeviceOutcome::Started,
         {"Login Success", "Start Upgrade"},
         {kNeutral, kNeutral},
         1},
        {"onvif other model",
         onvifOther,
         UpgradeRun::DeviceOutcome::InvalidHardware,
         {"Login Success", "Invalid hardware"},
         {kNeutral, kFailure},
         0},
        {"own protocol model",
         ownWithModel,
         UpgradeRun::DeviceOutcome::InvalidHardware,
         {"Login Success", "Invalid hardware"},
         {kNeutral, kFailure},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        script.reset();
        table.clearCells();
        script.devices["10.0.0.1"] = c.device;
        table.addRow(0, "10.0.0.1");
        DeviceBatch batch(table);
        UpgradeRun run(batch, hooks, fakeSdk());
        EXPECT_EQ(run.upgradeDevice(record(0), params), c.outcome);
        EXPECT_EQ(table.status(0), c.texts);
        EXPECT_EQ(table.said(0), c.said);
        EXPECT_EQ(script.upgrades.size(), c.upgrades);
        EXPECT_TRUE(script.imports.empty()); // no configuration chosen
        // Stopped after a login: that session is closed again.
        const bool loggedIn = c.outcome != UpgradeRun::DeviceOutcome::LoginFailed;
        const bool stopped = c.outcome != UpgradeRun::DeviceOutcome::Started;
        EXPECT_EQ(script.logouts.size(), size_t(loggedIn && stopped ? 1 : 0));
        EXPECT_EQ(run.runningUpgrades(), int(c.upgrades));
    }
}

TEST_F(UpgradeRunTest, PasswordAndStaleLogin)
{
    script.devices["10.0.0.1"].password = "tabpw";
    script.devices["10.0.0.2"].password = "ownpw";
    table.addRow(0, "10.0.0.1", "");
    table.addRow(1, "10.0.0.2", "ownpw");
    table.logIn(1, 42); // still logged in from an earlier action
    params.tabPassword = "tabpw";
    DeviceBatch batch(table);
    UpgradeRun run(batch, hooks, fakeSdk());
    auto first = record(0);
    EXPECT_EQ(run.upgradeDevice(first, params), UpgradeRun::DeviceOutcome::Started);
    EXPECT_STREQ(first->szPsw, "tabpw");
    EXPECT_EQ(run.upgradeDevice(record(1), params), UpgradeRun::DeviceOutcome::Started);
    EXPECT_EQ(script.logins, (std::vector<std::string>{"10.0.0.1/tabpw", "10.0.0.2/ownpw"}));
    EXPECT_EQ(script.logouts, std::vector<long>{42});
    EXPECT_FALSE(table.loggedIn(1)); // the dead handle is gone from the row too

    // A tab password too long for the record is still used in full for the login.
    script.devices["10.0.0.1"].password = "a-long-password";
    params.tabPassword = "a-long-password";
    EXPECT_EQ(run.upgradeDevice(record(0), params), UpgradeRun::DeviceOutcome::Started);
}

TEST_F(UpgradeRunTest, CallbackReportsUntilTheFinalOne)
{
    script.devices["10.0.0.1"];
    table.addRow(0, "10.0.0.1");
    DeviceBatch batch(table);
    UpgradeRun run(batch, hooks, fakeSdk());
    auto rec = record(0);
    ASSERT_EQ(run.upgradeDevice(rec, params), UpgradeRun::DeviceOutcome::Started);
    const StartedUpgrade up = upgradeOf(0);
    EXPECT_EQ(up.path, "/pkg/fw.bin");
    EXPECT_EQ(up.sha256, std::string(32, 'd')); // the digest of the inspected file goes with the path
    const long jobLogin = rec->lLoginID;
    table.logIn(0, 77); // as a re-login would have left it
    script.logouts.clear();
    up.callback(rec->lLoginID, up.handle, 1000, 250, up.user);
    up.callback(rec->lLoginID, up.handle, 0, 5, up.user); // nothing to show
    up.callback(rec->lLoginID, up.handle, -1, 57, up.user);
    EXPECT_TRUE(run.isActive());
    up.callback(rec->lLoginID, up.handle, 0, -1, up.user);
    EXPECT_EQ(table.status(0), (QStringList{"Login Success", "Start Upgrade", "Send Progress: 25",
                                            "Upgrade Progress: 57", "Upgrade Success  "}));
    EXPECT_EQ(table.said(0), (QList<StatusOutcome>{kNeutral, kNeutral, kNeutral, kNeutral, kSuccess}));
    EXPECT_EQ(rec->lLoginID, 0);
    EXPECT_FALSE(table.loggedIn(0));
    // The device restarts: the job's session and the re-login's end, once each.
    std::vector<long> ended = script.logouts;
    std::sort(ended.begin(), ended.end());
    EXPECT_EQ(ended, (std::vector<long>{77, jobLogin}));
    EXPECT_EQ(script.closed, std::set<long>{up.handle});
    EXPECT_FALSE(run.isActive());
    // Reports after the final one, or without user data, change nothing.
    up.callback(rec->lLoginID, up.handle, 1000, 500, up.user);
    up.callback(rec->lLoginID, up.handle, 1000, 500, nullptr);
    EXPECT_EQ(table.status(0).size(), 5);
}

// A failure because the file was no longer the inspected one says so, not just "Upgrade Fail", in
// the firmware upgrade and in the logo burn alike.
TEST_F(UpgradeRunTest, FinalFailureOfAChangedPackageSaysSo)
{
    for (const bool logo : {false, true}) {
        SCOPED_TRACE(logo ? "logo" : "firmware");
        script.reset();
        table.clearCells();
        script.devices["10.0.0.1"];
        table.addRow(0, "10.0.0.1");
        DeviceBatch batch(table);
        UpgradeRun run(batch, hooks, fakeSdk());
        auto rec = record(0);
        QTemporaryDir dir;
        if (logo) {
            LogoRunParams burn;
            burn.password = "pw";
            auto state = std::make_shared<LogoRunState>(dir.path(), 1, nullptr);
            state->addPackage(dir.filePath(QStringLiteral("logo.bin")));
            BatchContext ctx = batch.contextFor(0);
            logoPlan({0}, burn, state, LogoRunHooks(), fakeSdk()).job(ctx);
            ASSERT_EQ(script.upgrades.size(), 1u);
        } else {
            ASSERT_EQ(run.upgradeDevice(rec, params), UpgradeRun::DeviceOutcome::Started);
        }
        const StartedUpgrade up = upgradeOf(0);
        lastErrorCode = NETSDK_ERR_FILE_CHANGED; // as the SDK's thread sees it in its final report
        up.callback(rec->lLoginID, up.handle, -1, -2, up.user);
        lastErrorCode = 0;
        EXPECT_EQ(table.status(0).value(table.status(0).size() - 1), UpgradeRun::packageChangedText());
        EXPECT_EQ(table.said(0).value(table.said(0).size() - 1), kFailure);
        EXPECT_FALSE(run.isActive());
    }
}

// Stands in for the device's answers to the OEMID step: row 0 takes the OEMID, row 1 refuses it.
class ScriptedOemidStep : public OemidStep
{
public:
    ScriptedOemidStep() : OemidStep(Params()) {}
    bool run(const BatchContext &ctx, DEV_INFO &r, QString *text) const override
    {
        const bool ok = r.nIndex == 0;
        *text = ok ? QStringLiteral("Set OEMID Success(ABC)") : QStringLiteral("Set OEMID Failed");
        ctx.status(ok ? StatusOutcome::Success : StatusOutcome::Failure, *text);
        return ok;
    }
};

TEST_F(UpgradeRunTest, OemidStepGatesTheUpgradeAndItsTextEndsTheStatus)
{
    script.devices["10.0.0.1"];
    script.devices["10.0.0.2"];
    table.addRow(0, "10.0.0.1");
    table.addRow(1, "10.0.0.2");
    params.oemidStep = std::make_shared<const ScriptedOemidStep>();
    params.setOEMID = true;
    DeviceBatch batch(table);
    UpgradeRun run(batch, hooks, fakeSdk());
    auto rec = record(0);
    EXPECT_EQ(run.upgradeDevice(rec, params), UpgradeRun::DeviceOutcome::Started);
    EXPECT_EQ(run.upgradeDevice(record(1), params), UpgradeRun::DeviceOutcome::OemidFailed);
    EXPECT_EQ(table.status(1).last(), QStringLiteral("Set OEMID Failed"));
    const StartedUpgrade up = upgradeOf(0);
    up.callback(0, up.handle, 0, -1, up.user);
    EXPECT_EQ(table.status(0).last(), QStringLiteral("Upgrade Success  Set OEMID Success(ABC)"));
    EXPECT_EQ(table.said(0).last(), kSuccess);
}

TEST_F(UpgradeRunTest, ConfigurationImport)
{
    QTemporaryDir dir;
    auto write = [&](const char *name, const QByteArray &data) {
        QFile f(dir.filePath(QLatin1String(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        return f.fileName();
    };
    const QString good = write("good.cfg", QByteArray("cfg\0data", 8));
    const QString empty = write("empty.cfg", "");
    const QString fits = write("fits.cfg", QByteArray(UpgradeRun::ImportBufferSize, 'c'));
    const QString large = write("large.cfg", QByteArray(UpgradeRun::ImportBufferSize + 1, 'c'));
    script.devices["10.0.0.1"];
    table.addRow(0, "10.0.0.1");
    DeviceBatch batch(table);
    UpgradeRun run(batch, hooks, fakeSdk());
    int error = 0;
    H264_DVR_DEVICEINFO info;
    const long id = fakeLogin("10.0.0.1", 0, "admin", "pw", &info, 1, &error);

    struct Case {
        QString path;
        long deviceAnswer;
        int result;
        QString status; // empty: none written
        StatusOutcome said;
        size_t sent;
    };
    const std::vector<Case> cases = {
        {QString(), 1, 0, QString(), kNeutral, 0},
        {dir.filePath(QStringLiteral("missing.cfg")), 1, -1, QString(), kNeutral, 0},
        {empty, 1, 0, QString(), kNeutral, 0},
        {good, 1, 1, QStringLiteral("ImportConfigSuccess"), kSuccess, 8},
        {good, -11401, -11401, QStringLiteral("ImportConfigSuccess"), kSuccess, 8},
        {good, -11000, -11000, QStringLiteral("ImportConfigFailed"), kFailure, 8},
        {fits, 0, 0, QStringLiteral("ImportConfigSuccess"), kSuccess, size_t(UpgradeRun::ImportBufferSize)},
        {large, 1, -1, QStringLiteral("ImportConfigFailed"), kFailure, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " " + std::to_string(c.deviceAnswer));
        script.imports.clear();
        table.clearCells();
        script.devices["10.0.0.1"].importResult = c.deviceAnswer;
        EXPECT_EQ(run.importDevConfig(id, 0, c.path), c.result);
        EXPECT_EQ(table.status(0), c.status.isEmpty() ? QStringList() : QStringList{c.status});
        EXPECT_EQ(table.said(0), c.status.isEmpty() ? QList<StatusOutcome>() : QList<StatusOutcome>{c.said});
        EXPECT_EQ(script.imports.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(script.imports[0].size(), c.sent);
        }
    }
    // The content arrives unchanged.
    script.devices["10.0.0.1"].importResult = 1;
    script.imports.clear();
    run.importDevConfig(id, 0, good);
    EXPECT_EQ(script.imports.at(0), std::string("cfg\0data", 8));
}

TEST_F(UpgradeRunTest, DispatcherSpacesWorkersAndSkipsFailedAddressChanges)
{
    for (int row = 0; row < 4; ++row) {
        const std::string ip = "10.0.0." + std::to_string(row + 1);
        table.addRow(row, ip.c_str());
        script.devices["10.0.1." + std::to_string(20 + row)];
    }
    std::vector<int> changed;
    hooks.modifyIP = [this, &changed](int row, const QByteArray &password) {
        EXPECT_EQ(password, QByteArray("pw"));
        changed.push_back(row);
        if (row == 2)
            return -1; // this device keeps its address and is skipped
        std::lock_guard<std::mutex> g(table.lock);
        const std::string ip = "10.0.1." + std::to_string(20 + row);
        std::strcpy(table.rows[row].szIpaddress, ip.c_str());
        return 1;
    };
    params.modifyIP = true;
    params.spacingMs = 120;
    params.ipChangeWaitMs = 30;
    DeviceBatch batch(table);
    UpgradeRun run(batch, hooks, fakeSdk());
    for (int row = 0; row < 4; ++row)
        run.lists().pushDevice(table.rows[row], UpgradeLists::Pending);
    ASSERT_TRUE(run.start(params));
    EXPECT_FALSE(run.start(params)); // one dispatcher at a time
    EXPECT_TRUE(run.isActive());
    // The last device's job may still be logging in when the dispatcher has started everyone.
    auto started = [] {
        std::lock_guard<std::mutex> g(script.lock);
        return script.upgrades.size();
    };
    for (int i = 0; i < 500 && (run.isDispatcherAlive() || started() < 3); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(run.isDispatcherAlive());
    ASSERT_EQ(started(), 3u);
    run.shutdown(); // joins the workers and closes the three upgrades

    EXPECT_EQ(changed, (std::vector<int>{0, 1, 2, 3}));
    std::vector<std::string> logins;
    {
        std::lock_guard<std::mutex> g(script.lock);
        logins = script.logins;
        ASSERT_EQ(script.loginTimes.size(), 3u);
        for (size_t i = 1; i < 3; ++i)
            EXPECT_GE(script.loginTimes[i] - script.loginTimes[i - 1],
                      std::chrono::milliseconds(120 + 30 - 10));
        EXPECT_EQ(script.closed.size(), 3u);
    }
    EXPECT_EQ(logins, (std::vector<std::string>{"10.0.1.20/pw", "10.0.1.21/pw", "10.0.1.23/pw"}));
    EXPECT_EQ(run.lists().deviceCount(UpgradeLists::Taken), 0);
    EXPECT_FALSE(run.isActive());
}

TEST_F(UpgradeRunTest, ShutdownCancelsTheDispatcherAndSilencesCallbacks)
{
    for (int row = 0; row < 3; ++row) {
        const std::string ip = "10.0.0." + std::to_string(row + 1);
        table.addRow(row, ip.c_str());
        script.devices[ip];
    }
    params.spacingMs = 60000;
    StartedUpgrade up;
    {
        DeviceBatch batch(table);
        UpgradeRun run(batch, hooks, fakeSdk());
        for (int row = 0; row < 3; ++row)
            run.lists().pushDevice(table.rows[row], UpgradeLists::Pending);
        ASSERT_TRUE(run.start(params));
        for (int i = 0; i < 200 && table.status(0).size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        up = upgradeOf(0);
        const auto before = Clock::now();
        run.shutdown();
        EXPECT_LT(Clock::now() - before, std::chrono::seconds(5)); // the 60 s wait was cancelled
        EXPECT_EQ(script.closed, std::set<long>{up.handle});
    }
    // A late report of the closed upgrade of a destroyed run reaches nothing.
    up.callback(0, up.handle, 0, -1, up.user);
    EXPECT_EQ(table.status(0), (QStringList{"Login Success", "Start Upgrade"}));
    EXPECT_TRUE(table.status(1).isEmpty());
}

} // namespace
