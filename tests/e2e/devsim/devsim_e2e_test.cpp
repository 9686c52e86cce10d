// The simulator driven through the real SDK client: what the application will see, and what the
// devices wrote into their state directories.

#include "devsimfleet.h"
#include "netsdk/netsdk.h"
#include "oemid/oemidcipher.h"
#include "testfiles.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>
#include <thread>

using namespace devsimtest;

namespace
{

// This test's own loopback range and ports.
const char kBase[] = "127.0.77.10";
const int kPort = 47567;
const int kSearchPort = 47569;
const char kHardware[] = "HI3520D-NVR";

std::string macOf(int i)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "00:77:00:00:00:%02x", i);
    return buf;
}

std::string ipOf(int last)
{
    return "127.0.77." + std::to_string(last);
}

class DevsimE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(1500, 1);
        H264_DVR_SetSearchPort(kSearchPort);
    }
    static void TearDownTestSuite() { H264_DVR_Cleanup(); }

    void TearDown() override { sim.stop(); }

    /// Starts the simulator with these devices (fleet-file objects; ip and mac filled in when
    /// missing: device i gets 127.0.77.(10+i) and 00:77:00:00:00:i).
    void startFleet(Json::Value devices)
    {
        ASSERT_NE(std::getenv("TALLOW_DEVSIM"), nullptr) << "run through ctest (TALLOW_DEVSIM)";
        for (Json::ArrayIndex i = 0; i < devices.size(); ++i) {
            if (!devices[i].isMember("mac"))
                devices[i]["mac"] = macOf(int(i));
            if (!devices[i].isMember("hardware"))
                devices[i]["hardware"] = kHardware;
            devices[i]["upgradeMs"] = 200;
            devices[i]["rebootMs"] = 600;
        }
        Json::Value root;
        root["devices"] = devices;
        writeFile(dir / "fleet.json", Json::StyledWriter().write(root));
        DevsimOptions o;
        o.fleetFile = QString::fromStdString(dir / "fleet.json");
        o.baseIp = QString::fromLatin1(kBase);
        o.port = kPort;
        o.searchPort = kSearchPort;
        ASSERT_TRUE(sim.start(o)) << sim.error().toStdString();
    }

    Json::Value state(int i) { return parse(readFile(deviceFile(i, "state.json"))); }
    std::string deviceFile(int i, const std::string &name)
    {
        return sim.deviceDir(QString::fromStdString(macOf(i))).toStdString() + "/" + name;
    }

    long login(const std::string &ip, const char *user, const char *password, int *error,
               H264_DVR_DEVICEINFO *info = nullptr)
    {
        H264_DVR_DEVICEINFO local;
        return H264_DVR_Login(ip.c_str(), kPort, user, password, info ? info : &local, 1, error);
    }

    std::vector<SDK_CONFIG_NET_COMMON_V2> search()
    {
        std::vector<SDK_CONFIG_NET_COMMON_V2> buf(256);
        int len = 0;
        H264_DVR_SearchDevice(reinterpret_cast<char *>(buf.data()), int(buf.size() * sizeof buf[0]), &len,
                              800);
        buf.resize(size_t(len) / sizeof buf[0]);
        return buf;
    }

    TempDir dir;
    DevsimFleet sim;
};

TEST_F(DevsimE2E, SearchFindsTheFleet)
{
    Json::Value devs(Json::arrayValue);
    for (int i = 0; i < 3; ++i) {
        Json::Value d;
        d["serial"] = "a0b1c2d3e4f5000" + std::to_string(i);
        d["deviceType"] = 4 - i;
        d["version"] = "V9.9." + std::to_string(i);
        devs.append(d);
    }
    devs[2]["faults"]["searchSilent"] = true;
    devs[1]["serialInSearch"] = false;
    startFleet(devs);

    const auto found = search();
    ASSERT_EQ(found.size(), 2u);
    for (const auto &r : found) {
        const std::string mac = r.sMac;
        const int i = mac == macOf(0) ? 0 : 1;
        EXPECT_EQ(mac, macOf(i));
        EXPECT_EQ(std::to_string(r.HostIP[0]) + "." + std::to_string(r.HostIP[1]) + "." +
                      std::to_string(r.HostIP[2]) + "." + std::to_string(r.HostIP[3]),
                  ipOf(10 + i));
        EXPECT_EQ(r.NetValues[1], kPort);
        EXPECT_EQ(r.DeviceType, 4 - i);
        EXPECT_EQ(std::string(r.sSoftWareVersion), "V9.9." + std::to_string(i));
        EXPECT_EQ(std::string(r.sSn), i == 0 ? "a0b1c2d3e4f50000" : "");
        EXPECT_EQ(r.BuildYear, 2021);
    }
}

TEST_F(DevsimE2E, LoginAnswersEveryCode)
{
    struct Case {
        const char *what;
        Json::Value faults;
        const char *user;
        const char *password;
        int error;
    };
    auto fault = [](const char *key, int v) {
        Json::Value f;
        f[key] = v;
        return f;
    };
    Json::Value silent;
    silent["silent"] = true;
    const Case cases[] = {
        {"good", Json::Value(), "admin", "pw", 0},
        {"wrong password", Json::Value(), "admin", "nope", NETSDK_ERR_PASSWORD},
        {"no such user", Json::Value(), "guest", "pw", NETSDK_ERR_NO_USER},
        {"busy", fault("loginError", 7), "admin", "pw", 7},
        {"locked", fault("loginError", NETSDK_ERR_USER_LOCKED), "admin", "pw", NETSDK_ERR_USER_LOCKED},
        {"logged in", fault("loginError", NETSDK_ERR_USER_LOGGED_IN), "admin", "pw",
         NETSDK_ERR_USER_LOGGED_IN},
        {"silent", silent, "admin", "pw", NETSDK_ERR_TIMEOUT},
    };
    Json::Value devs(Json::arrayValue);
    for (const Case &c : cases) {
        Json::Value d;
        d["password"] = "pw";
        if (!c.faults.isNull())
            d["faults"] = c.faults;
        devs.append(d);
    }
    startFleet(devs);
    int i = 0;
    for (const Case &c : cases) {
        int error = 12345;
        H264_DVR_DEVICEINFO info;
        const long handle = login(ipOf(10 + i), c.user, c.password, &error, &info);
        if (c.error == 0) {
            EXPECT_GT(handle, 0) << c.what << " error " << error;
            EXPECT_EQ(std::string(info.sHardWare), kHardware);
            EXPECT_EQ(std::string(info.sSerialNumber), state(i)["serial"].asString());
            H264_DVR_Logout(handle);
        } else {
            EXPECT_LE(handle, 0) << c.what;
            EXPECT_EQ(error, c.error) << c.what;
        }
        ++i;
    }
    // Nothing listens on an address outside the fleet: "network error", code 0.
    int error = 12345;
    EXPECT_LE(login(ipOf(200), "admin", "pw", &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(state(1)["counts"]["loginFailed"].asInt(), 1);
}

TEST_F(DevsimE2E, AddressChangeMovesTheDevice)
{
    Json::Value devs(Json::arrayValue);
    devs.append(Json::Value(Json::objectValue));
    Json::Value needsReboot;
    needsReboot["faults"]["results"]["ipchange"] = NETSDK_ERR_NEED_REBOOT;
    devs.append(needsReboot);
    startFleet(devs);

    const auto found = search();
    ASSERT_EQ(found.size(), 2u);
    for (const auto &r : found) {
        const bool plain = std::string(r.sMac) == macOf(0);
        SDK_NET_BLOCK block;
        std::memset(&block, 0, sizeof block);
        std::memcpy(block.HostName, r.HostName, sizeof block.HostName);
        std::memcpy(block.HostIP, r.HostIP, 4);
        std::memcpy(block.Submask, r.Submask, 4);
        std::memcpy(block.Gateway, r.Gateway, 4);
        std::memcpy(block.NetValues, r.NetValues, sizeof block.NetValues);
        std::memcpy(block.sMac, r.sMac, sizeof block.sMac);
        block.HostIP[3] = plain ? 40 : 41;
        block.ChangeFlag = 1;
        const long ret = H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block),
                                                   sizeof block, 3000);
        if (plain)
            EXPECT_TRUE(ret == 0 || ret == 1) << ret;
        else
            EXPECT_EQ(ret, NETSDK_ERR_NEED_REBOOT);
    }

    int error = 0;
    const long moved = login(ipOf(40), "admin", "", &error);
    EXPECT_GT(moved, 0) << error;
    H264_DVR_Logout(moved);
    EXPECT_LE(login(ipOf(10), "admin", "", &error), 0) << "the old address still answers";
    EXPECT_EQ(state(0)["ip"].asString(), ipOf(40));
    EXPECT_EQ(state(0)["counts"]["ipChange"].asInt(), 1);

    // "Need reboot": still on the old address, the new one waits for the reboot.
    const long stays = login(ipOf(11), "admin", "", &error);
    EXPECT_GT(stays, 0) << error;
    EXPECT_EQ(state(1)["pendingIp"].asString(), ipOf(41));
    EXPECT_TRUE(H264_DVR_ControlDVR(stays, 0, 3000) != 0 || H264_DVR_GetLastError() == NETSDK_ERR_TIMEOUT);
    H264_DVR_Logout(stays);
    long back = 0;
    for (int i = 0; i < 40 && back <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        back = login(ipOf(41), "admin", "", &error);
    }
    EXPECT_GT(back, 0) << "device did not come back on its new address";
    H264_DVR_Logout(back);
    EXPECT_EQ(state(1)["ip"].asString(), ipOf(41));

    const auto after = search();
    ASSERT_EQ(after.size(), 2u);
    for (const auto &r : after)
        EXPECT_EQ(r.HostIP[3], std::string(r.sMac) == macOf(0) ? 40 : 41);
}

TEST_F(DevsimE2E, ConfigurationReachesTheDevice)
{
    Json::Value devs(Json::arrayValue);
    devs.append(Json::Value(Json::objectValue));
    startFleet(devs);
    int error = 0;
    const long h = login(ipOf(10), "admin", "", &error);
    ASSERT_GT(h, 0) << error;

    char reset[11];
    std::memset(reset, 1, 10);
    reset[10] = 0;
    EXPECT_GE(H264_DVR_SetDevConfig(h, NETSDK_CFG_RESET, -1, reset, 11, 3000), 0);
    EXPECT_LT(H264_DVR_SetDevConfig(h, NETSDK_CFG_RESET, -1, reset, 10, 3000), 0);
    int32_t zone[2] = {-345, 0};
    EXPECT_GE(H264_DVR_SetDevConfig(h, NETSDK_CFG_TIMEZONE, -1, reinterpret_cast<char *>(zone), 8, 3000), 0);
    char cfg[] = "[cfg]\nx=1\n";
    EXPECT_GE(H264_DVR_SetDevConfig(h, NETSDK_CFG_IMPORT, -1, cfg, sizeof cfg - 1, 3000), 0);

    SDK_LOGO_PART_INFO part;
    unsigned long got = 0;
    ASSERT_GE(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, reinterpret_cast<char *>(&part), sizeof part,
                                    &got, 3000),
              0);
    EXPECT_EQ(got, sizeof part);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(part.raw + 64)), kHardware);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(part.raw + 200)), "cramfs");

    // Producer information: written enciphered with the serial's key, read back.
    const std::string serial = state(0)["serial"].asString();
    const std::string text =
        "{\"Data\":\"" + oemid::encryptData("{\"MAC\":\"aa:bb:cc:dd:ee:ff\",\"OEMID\":\"E2E01\"}\n", serial) +
        "\"}\n";
    EXPECT_GT(H264_DVR_SetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_SET, -1, text.c_str(),
                                           int(text.size()), 1000),
              0);
    char buf[10240] = {};
    int len = 0;
    ASSERT_NE(H264_DVR_GetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buf, sizeof buf,
                                           &len, 1000),
              0);
    EXPECT_EQ(parse(buf)["ProducerInfo"]["OEMID"].asString(), "E2E01");
    H264_DVR_Logout(h);

    const Json::Value st = state(0);
    EXPECT_EQ(st["resetBytes"].asString(), "0101010101010101010100");
    EXPECT_EQ(st["counts"]["reset"].asInt(), 1);
    EXPECT_EQ(st["timeZone"].asInt(), -345);
    EXPECT_EQ(st["oemid"].asString(), "E2E01");
    EXPECT_EQ(readFile(deviceFile(0, "imported.cfg")), "[cfg]\nx=1\n");
}

struct UpgradeWatch {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int final = 0;
    int maxPercent = -1;

    static void callback(long, long, int total, int pos, void *user)
    {
        auto *w = static_cast<UpgradeWatch *>(user);
        std::lock_guard<std::mutex> lock(w->m);
        if (pos < 0) {
            w->done = true;
            w->final = pos;
            w->cv.notify_all();
        } else if (total == -1) {
            w->maxPercent = std::max(w->maxPercent, pos);
        }
    }
    bool wait(int ms)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
    }
};

/// Sends `package` over the logged-in handle `h` and expects the device to report success.
void burnExpectingSuccess(long h, const std::string &package)
{
    UpgradeWatch w;
    const long u = H264_DVR_Upgrade(h, package.c_str(), 0, &UpgradeWatch::callback, &w);
    ASSERT_GT(u, 0);
    ASSERT_TRUE(w.wait(20000));
    H264_DVR_CloseUpgradeHandle(u);
    EXPECT_EQ(w.final, -1);
}

TEST_F(DevsimE2E, UpgradeChecksThePackageAndBurnsIt)
{
    if (!haveTool("/usr/sbin/mkfs.cramfs") || !haveTool("/usr/bin/mkimage"))
        GTEST_SKIP() << "mkfs.cramfs or mkimage not installed";
    const std::string logoDir = dir / "logo";
    ::mkdir(logoDir.c_str(), 0755);
    ::mkdir((logoDir + "/VideoLoss").c_str(), 0755);
    writeFile(logoDir + "/h264dvr.jpg", std::string(5000, 'J'));
    writeFile(logoDir + "/VideoLoss/videoLoss.gif", "GIF89a");
    ASSERT_FALSE(mkCramfs(logoDir, dir / "logo-x.cramfs").empty());
    const std::string image = mkImage(dir / "logo-x.cramfs", dir / "logo-x.cramfs.img");
    std::string corrupt = image;
    corrupt[64 + 300] ^= 0x10; // data CRC no longer matches

    const std::string logoDesc =
        "{\"Hardware\":\"" + std::string(kHardware) +
        "\",\"UpgradeCommand\":[{\"Command\":\"Burn\",\"FileName\":\"logo-x.cramfs.img\"}]}";
    const std::string fwDesc = "{\"Hardware\":\"" + std::string(kHardware) + "\"}";
    const std::string firmware = dir / "firmware.bin";
    std::string romfs(300000, '\0'); // incompressible, so that the package is as large as its content
    uint32_t seed = 7;
    for (char &c : romfs)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    ASSERT_TRUE(makeZip(firmware, {{"InstallDesc", fwDesc}, {"romfs.img", romfs}}));
    const std::string wrongHw = dir / "wronghw.bin";
    ASSERT_TRUE(makeZip(wrongHw, {{"InstallDesc", "{\"Hardware\":\"HI3511-BB1.0\"}"}}));
    const std::string goodLogo = dir / "good_Logo.bin";
    ASSERT_TRUE(makeZip(goodLogo, {{"InstallDesc", logoDesc}, {"logo-x.cramfs.img", image}}));
    const std::string badLogo = dir / "bad_Logo.bin";
    ASSERT_TRUE(makeZip(badLogo, {{"InstallDesc", logoDesc}, {"logo-x.cramfs.img", corrupt}}));

    struct Case {
        const char *what;
        Json::Value faults;
        std::string package;
        int final;
    };
    Json::Value forced, drop;
    forced["upgradeResult"] = NETSDK_ERR_UPG_VERSION;
    drop["dropAfterUpgradeBytes"] = 100000;
    const Case cases[] = {
        {"firmware", Json::Value(), firmware, -1},
        {"wrong hardware", Json::Value(), wrongHw, NETSDK_ERR_UPG_HARDWARE},
        {"logo", Json::Value(), goodLogo, -1},
        {"corrupt logo", Json::Value(), badLogo, NETSDK_ERR_UPG_BAD_PACKET},
        {"forced result", forced, firmware, NETSDK_ERR_UPG_VERSION},
        {"dropped connection", drop, firmware, -2},
    };
    Json::Value devs(Json::arrayValue);
    for (const Case &c : cases) {
        Json::Value d(Json::objectValue);
        if (!c.faults.isNull())
            d["faults"] = c.faults;
        devs.append(d);
    }
    startFleet(devs);

    std::vector<std::unique_ptr<UpgradeWatch>> watches;
    std::vector<long> handles;
    int i = 0;
    for (const Case &c : cases) {
        int error = 0;
        const long h = login(ipOf(10 + i++), "admin", "", &error);
        ASSERT_GT(h, 0) << c.what << " " << error;
        watches.push_back(std::make_unique<UpgradeWatch>());
        handles.push_back(
            H264_DVR_Upgrade(h, c.package.c_str(), 0, &UpgradeWatch::callback, watches.back().get()));
        EXPECT_GT(handles.back(), 0) << c.what;
    }
    i = 0;
    for (const Case &c : cases) {
        UpgradeWatch &w = *watches[size_t(i)];
        ASSERT_TRUE(w.wait(20000)) << c.what << ": no final report";
        EXPECT_EQ(w.final, c.final) << c.what;
        if (c.final == -1) {
            EXPECT_EQ(w.maxPercent, 100) << c.what;
        }
        H264_DVR_CloseUpgradeHandle(handles[size_t(i)]);
        const Json::Value last = state(i)["lastUpgrade"];
        EXPECT_EQ(last["result"].asInt(), c.final == -1 ? 0 : c.final) << c.what;
        ++i;
    }
    EXPECT_EQ(readFile(deviceFile(0, "firmware.bin")), readFile(firmware));
    EXPECT_FALSE(fileExists(deviceFile(1, "firmware.bin")));
    EXPECT_EQ(readFile(deviceFile(2, "logo/h264dvr.jpg")), std::string(5000, 'J'));
    EXPECT_EQ(readFile(deviceFile(2, "logo/VideoLoss/videoLoss.gif")), "GIF89a");
    EXPECT_EQ(state(2)["lastUpgrade"]["fsType"].asString(), "cramfs");
    EXPECT_EQ(readFile(deviceFile(2, "logo.img")), image);
    EXPECT_FALSE(fileExists(deviceFile(3, "logo.img")));
    EXPECT_FALSE(fileExists(deviceFile(5, "firmware.bin")));
    EXPECT_FALSE(fileExists(deviceFile(5, "upgrade.part")));
}

TEST_F(DevsimE2E, SlowLinkStretchesTheTransfer)
{
    std::string content(120000, '\0');
    uint32_t seed = 11;
    for (char &c : content)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    const std::string package = dir / "slow.bin";
    ASSERT_TRUE(makeZip(package, {{"InstallDesc", "{\"Hardware\":\"" + std::string(kHardware) + "\"}"},
                                  {"romfs.img", content}}));
    Json::Value devs(Json::arrayValue);
    Json::Value slow;
    slow["faults"]["bytesPerSecond"] = 200000;
    devs.append(slow);
    startFleet(devs);
    int error = 0;
    const long h = login(ipOf(10), "admin", "", &error);
    ASSERT_GT(h, 0) << error;
    UpgradeWatch w;
    const auto start = std::chrono::steady_clock::now();
    const long u = H264_DVR_Upgrade(h, package.c_str(), 0, &UpgradeWatch::callback, &w);
    ASSERT_GT(u, 0);
    ASSERT_TRUE(w.wait(20000));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    H264_DVR_CloseUpgradeHandle(u);
    EXPECT_EQ(w.final, -1);
    // The throttle is a floor: 120 KB at 200 KB/s cannot arrive in less than 0.6 s.
    EXPECT_GE(ms, 600);
}

TEST_F(DevsimE2E, RestartsAfterAnUpgradeWhenConfigured)
{
    const std::string package = dir / "fw.bin";
    ASSERT_TRUE(makeZip(package, {{"InstallDesc", "{\"Hardware\":\"" + std::string(kHardware) + "\"}"}}));
    Json::Value devs(Json::arrayValue);
    Json::Value d;
    d["rebootAfterUpgrade"] = true;
    devs.append(d);
    startFleet(devs);
    int error = 0;
    const long h = login(ipOf(10), "admin", "", &error);
    ASSERT_GT(h, 0) << error;
    ASSERT_NO_FATAL_FAILURE(burnExpectingSuccess(h, package));
    EXPECT_TRUE(sim.output(2000).contains("reboot 00:77:00:00:00:00"));
    EXPECT_LE(login(ipOf(10), "admin", "", &error), 0) << "still there right after the burn";
    long back = 0;
    for (int i = 0; i < 40 && back <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        back = login(ipOf(10), "admin", "", &error);
    }
    EXPECT_GT(back, 0);
    H264_DVR_Logout(back);
    EXPECT_EQ(state(0)["counts"]["reboot"].asInt(), 1);
}

TEST_F(DevsimE2E, ABurnTakesThePackagesVersion)
{
    // Devices 0..2 receive the same kind of package; what each one runs afterwards differs by the
    // package's description and the device's fault.
    struct Case {
        std::string desc; // InstallDesc members after "Hardware"
        bool keepVersion;
        std::string version;  // expected after the burn; empty = the fleet's version plus "-1"
        int year, month, day; // 0 = the current date
    };
    const std::vector<Case> cases = {
        {",\"Version\":\"V5.00.R02\",\"BuildDate\":\"2024-06-30\"", false, "V5.00.R02", 2024, 6, 30},
        {"", false, "", 0, 0, 0},
        {",\"Version\":\"V5.00.R02\",\"BuildDate\":\"2024-06-30\"", true, "V1.0.old", 2019, 2, 3},
    };
    Json::Value devs(Json::arrayValue);
    for (const Case &c : cases) {
        Json::Value d;
        d["version"] = "V1.0.old";
        d["buildDate"] = "2019-02-03";
        d["faults"]["keepVersion"] = c.keepVersion;
        devs.append(d);
    }
    startFleet(devs);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string package = dir / ("fw" + std::to_string(i) + ".bin");
        ASSERT_TRUE(makeZip(package, {{"InstallDesc", "{\"Hardware\":\"" + std::string(kHardware) + "\"" +
                                                          cases[i].desc + "}"}}));
        int error = 0;
        const std::string ip = ipOf(10 + int(i));
        const long h = login(ip, "admin", "", &error);
        ASSERT_GT(h, 0) << error;
        ASSERT_NO_FATAL_FAILURE(burnExpectingSuccess(h, package));
        H264_DVR_Logout(h);
        H264_DVR_DEVICEINFO info;
        const long again = login(ip, "admin", "", &error, &info);
        ASSERT_GT(again, 0) << error;
        H264_DVR_Logout(again);
        EXPECT_EQ(std::string(info.sSoftWareVersion),
                  cases[i].version.empty() ? "V1.0.old-1" : cases[i].version);
        EXPECT_EQ(info.BuildYear, cases[i].year ? cases[i].year : utc.tm_year + 1900);
        EXPECT_EQ(info.BuildMonth, cases[i].year ? cases[i].month : utc.tm_mon + 1);
        EXPECT_EQ(info.BuildDay, cases[i].year ? cases[i].day : utc.tm_mday);
        EXPECT_EQ(state(int(i))["version"].asString(), std::string(info.sSoftWareVersion));
    }
}

TEST_F(DevsimE2E, StopsCleanlyOnSignal)
{
    Json::Value devs(Json::arrayValue);
    devs.append(Json::Value(Json::objectValue));
    startFleet(devs);
    int error = 0;
    const long h = login(ipOf(10), "admin", "", &error); // an open session must not hold it up
    EXPECT_GT(h, 0);
    EXPECT_EQ(sim.stop(SIGINT), 0);
    H264_DVR_Logout(h);
}

} // namespace
