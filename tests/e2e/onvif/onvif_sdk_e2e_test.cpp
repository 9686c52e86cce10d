// The SDK's ONVIF side against devsim's ONVIF face, in a network namespace of the test's own whose
// loopback carries the WS-Discovery group: a mixed fleet is searched, logged in, and serviced through
// the same C calls the application makes; each check reads what the simulated device stored.
#include "devsimfleet.h"
#include "netsdk/netsdk.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "testfiles.h"

namespace
{

constexpr int kPort = 34620;
constexpr int kSearchPort = 34621;
const char kHardware[] = "HI3516EV300-IPC";

std::string text(const char *p, size_t n)
{
    return std::string(p, strnlen(p, n));
}

QJsonObject onvifDevice(const char *ip, const char *mac, QJsonObject extra = QJsonObject())
{
    QJsonObject d{{"ip", ip},
                  {"mac", mac},
                  {"protocol", "onvif"},
                  {"password", "secret"},
                  {"hardware", kHardware},
                  {"model", "IPC-4MP"},
                  {"version", "V1.0.old"},
                  {"upgradeMs", 300},
                  {"rebootMs", 300}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        d[it.key()] = it.value();
    return d;
}

class OnvifE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(3000, 1);
        H264_DVR_SetSearchPort(kSearchPort);
        H264_DVR_SetOnvifSearchLogin("admin", "secret");
        const QJsonArray devices{
            QJsonObject{{"ip", "127.0.0.10"}, {"mac", "00:12:34:00:00:10"}, {"hostName", "dvr10"}},
            onvifDevice("127.0.0.11", "00:12:34:00:00:11"),
            onvifDevice("127.0.0.12", "00:12:34:00:00:12",
                        QJsonObject{{"httpDigest", true},
                                    {"httpUpgrade", false},
                                    {"faults", QJsonObject{{"clockSkewSeconds", 3 * 3600}}}}),
            onvifDevice("127.0.0.13", "00:12:34:00:00:13", QJsonObject{{"protocol", "both"}}),
            onvifDevice(
                "127.0.0.14", "00:12:34:00:00:14",
                QJsonObject{{"faults", QJsonObject{{"soapFault", "SystemReboot"}, {"keepVersion", true}}}}),
        };
        ASSERT_TRUE(m_fleet.start(devices, kPort, kSearchPort)) << m_fleet.error().toStdString();
    }
    void TearDown() override { H264_DVR_Cleanup(); }

    std::map<std::string, SDK_CONFIG_NET_COMMON_V2> search()
    {
        std::vector<SDK_CONFIG_NET_COMMON_V2> buf(64);
        int len = 0;
        EXPECT_TRUE(H264_DVR_SearchDevice(reinterpret_cast<char *>(buf.data()),
                                          int(buf.size() * sizeof buf[0]), &len, 3000));
        std::map<std::string, SDK_CONFIG_NET_COMMON_V2> byMac;
        for (int i = 0; i < len / int(sizeof buf[0]); ++i)
            byMac[text(buf[size_t(i)].sMac, sizeof buf[0].sMac)] = buf[size_t(i)];
        return byMac;
    }
    long login(const SDK_CONFIG_NET_COMMON_V2 &r, const char *password, int *error, H264_DVR_DEVICEINFO *info)
    {
        char ip[16];
        std::snprintf(ip, sizeof ip, "%d.%d.%d.%d", r.HostIP[0], r.HostIP[1], r.HostIP[2], r.HostIP[3]);
        return H264_DVR_Login(ip, uint16_t(r.NetValues[1]), "admin", password, info, 0, error);
    }
    QJsonObject state(const char *mac) { return m_fleet.state(QString::fromLatin1(mac)); }

    DevsimFleet m_fleet;
};

TEST_F(OnvifE2E, MixedFleetIsListedOnceEachAndIdentified)
{
    const auto found = search();
    ASSERT_EQ(found.size(), 5u);
    struct Want {
        const char *mac;
        uint8_t protocol;
    } wants[] = {{"00:12:34:00:00:10", NETSDK_PROTOCOL_OWN},
                 {"00:12:34:00:00:11", NETSDK_PROTOCOL_ONVIF},
                 {"00:12:34:00:00:12", NETSDK_PROTOCOL_ONVIF},
                 {"00:12:34:00:00:13", NETSDK_PROTOCOL_OWN}, // both: listed once, by our own protocol
                 {"00:12:34:00:00:14", NETSDK_PROTOCOL_ONVIF}};
    for (const Want &w : wants) {
        SCOPED_TRACE(w.mac);
        auto it = found.find(w.mac);
        ASSERT_NE(it, found.end());
        EXPECT_EQ(it->second.Protocol, w.protocol);
        if (w.protocol == NETSDK_PROTOCOL_ONVIF) {
            EXPECT_EQ(it->second.NetValues[1], 8080);
            EXPECT_EQ(text(it->second.sSoftWareVersion, sizeof it->second.sSoftWareVersion), "V1.0.old");
        }
    }
}

TEST_F(OnvifE2E, LoginsAuthenticateWhateverTheClockAndScheme)
{
    const auto found = search();
    struct Case {
        const char *mac;
        const char *password;
        int error;
    } cases[] = {{"00:12:34:00:00:11", "secret", 0},
                 {"00:12:34:00:00:12", "secret", 0}, // HTTP Digest only, clock three hours ahead
                 {"00:12:34:00:00:11", "wrong", NETSDK_ERR_PASSWORD},
                 {"00:12:34:00:00:12", "wrong", NETSDK_ERR_PASSWORD}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mac) + " " + c.password);
        ASSERT_TRUE(found.count(c.mac));
        int error = 1;
        H264_DVR_DEVICEINFO info{};
        const long h = login(found.at(c.mac), c.password, &error, &info);
        EXPECT_EQ(error, c.error);
        if (c.error == 0) {
            ASSERT_GT(h, 0);
            EXPECT_EQ(text(info.sHardWare, sizeof info.sHardWare), kHardware);
            EXPECT_EQ(text(info.sSoftWareVersion, sizeof info.sSoftWareVersion), "V1.0.old");
            EXPECT_EQ(info.Protocol, NETSDK_PROTOCOL_ONVIF);
            H264_DVR_Logout(h);
        } else {
            EXPECT_EQ(h, 0);
        }
    }
}

TEST_F(OnvifE2E, JobsReachTheDevice)
{
    const auto found = search();
    int error = 1;
    H264_DVR_DEVICEINFO info{};
    const long h = login(found.at("00:12:34:00:00:12"), "secret", &error, &info);
    ASSERT_GT(h, 0) << error;

    int32_t when[8] = {2027, 3, 4, 0, 5, 6, 7, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(h, NETSDK_CFG_SYSTIME, -1, reinterpret_cast<char *>(when), 32, 3000), 1);
    int32_t zone[2] = {-330, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(h, NETSDK_CFG_TIMEZONE, -1, reinterpret_cast<char *>(zone), 8, 3000), 1);
    const QJsonObject st = state("00:12:34:00:00:12");
    EXPECT_EQ(st["posixTz"].toString().toStdString(), "UTC-5:30");
    EXPECT_EQ(st["dateTimeType"].toString().toStdString(), "Manual");

    char flags[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(h, NETSDK_CFG_RESET, -1, flags, sizeof flags, 3000), 1);
    EXPECT_EQ(state("00:12:34:00:00:12")["posixTz"].toString().toStdString(), "CST-8") << "soft reset";

    char buf[256];
    int len = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buf, sizeof buf,
                                           &len, 1000),
              0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_ONVIF_UNSUPPORTED);

    EXPECT_EQ(H264_DVR_ControlDVR(h, 0, 3000), 1);
    EXPECT_EQ(m_fleet.count(QStringLiteral("00:12:34:00:00:12"), "reboot"), 1);
    H264_DVR_Logout(h);

    const long f = login(found.at("00:12:34:00:00:14"), "secret", &error, &info);
    ASSERT_GT(f, 0) << error;
    EXPECT_EQ(H264_DVR_ControlDVR(f, 0, 3000), 0) << "a SOAP fault is a failure";
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_DEVICE_FAULT);
    EXPECT_EQ(m_fleet.count(QStringLiteral("00:12:34:00:00:14"), "reboot"), 0);
    H264_DVR_Logout(f);
}

struct Final {
    std::mutex m;
    std::condition_variable cv;
    int result = 0;
    long lastError = 0;
    static void callback(long, long, int total, int sent, void *user)
    {
        auto *f = static_cast<Final *>(user);
        if (total != -1 || sent > -1)
            return;
        const long err = H264_DVR_GetLastError();
        std::lock_guard<std::mutex> lk(f->m);
        f->result = sent;
        f->lastError = err;
        f->cv.notify_all();
    }
};

TEST_F(OnvifE2E, UpgradeByUploadAndInlineThenTheVersionReadsBack)
{
    const auto found = search();
    char path[] = "/tmp/onvif-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(path), nullptr);
    const std::string package = std::string(path) + "/fw.bin";
    ASSERT_TRUE(devsimtest::makeZip(
        package, {{"InstallDesc", std::string("{\"Hardware\":\"") + kHardware +
                                      "\",\"Version\":\"V5.00.R02\",\"BuildDate\":\"2024-06-30\"}"},
                  {"romfs", std::string(200000, 'x')}}));
    struct Case {
        const char *mac;
        const char *after;                           // the version read back after the restart
    } cases[] = {{"00:12:34:00:00:11", "V5.00.R02"}, // StartFirmwareUpgrade + POST
                 {"00:12:34:00:00:12", "V5.00.R02"}, // UpgradeSystemFirmware, HTTP Digest
                 {"00:12:34:00:00:14", "V1.0.old"}}; // takes the upload, keeps its version
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mac);
        int error = 1;
        H264_DVR_DEVICEINFO info{};
        const long h = login(found.at(c.mac), "secret", &error, &info);
        ASSERT_GT(h, 0) << error;
        Final f;
        const long u = H264_DVR_UpgradePinned(h, package.c_str(), 0, nullptr, &Final::callback, &f);
        ASSERT_GT(u, 0);
        {
            std::unique_lock<std::mutex> lk(f.m);
            ASSERT_TRUE(f.cv.wait_for(lk, std::chrono::seconds(60), [&] { return f.result != 0; }));
        }
        H264_DVR_CloseUpgradeHandle(u);
        EXPECT_EQ(f.result, -1) << f.lastError;
        // Back from its restart: the version it runs now.
        long again = 0;
        for (int i = 0; i < 100 && again <= 0; ++i) {
            again = login(found.at(c.mac), "secret", &error, &info);
            if (again <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        ASSERT_GT(again, 0) << error;
        EXPECT_EQ(text(info.sSoftWareVersion, sizeof info.sSoftWareVersion), c.after);
        H264_DVR_Logout(again);
    }
}

TEST_F(OnvifE2E, AddressChangeMovesTheDeviceOnceLoggedIn)
{
    const auto found = search();
    SDK_NET_BLOCK block{};
    const uint8_t ip[4] = {127, 0, 0, 41}, mask[4] = {255, 0, 0, 0}, gw[4] = {127, 0, 0, 1};
    std::memcpy(block.HostIP, ip, 4);
    std::memcpy(block.Submask, mask, 4);
    std::memcpy(block.Gateway, gw, 4);
    std::strcpy(block.sMac, "00:12:34:00:00:11");
    // Found but never logged in to: refused, not a broadcast whose silence would read as done.
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, -1, reinterpret_cast<char *>(&block),
                                        sizeof block, 3000),
              NETSDK_ERR_HANDLE);
    int error = 1;
    H264_DVR_DEVICEINFO info{};
    const long h = login(found.at("00:12:34:00:00:11"), "secret", &error, &info);
    ASSERT_GT(h, 0) << error;
    H264_DVR_Logout(h);
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, -1, reinterpret_cast<char *>(&block),
                                        sizeof block, 3000),
              1);
    long moved = 0;
    for (int i = 0; i < 50 && moved <= 0; ++i) {
        moved = H264_DVR_Login("127.0.0.41", 8080, "admin", "secret", &info, 0, &error);
        if (moved <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(moved, 0) << error;
    H264_DVR_Logout(moved);
}

} // namespace
