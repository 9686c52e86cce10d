// The SDK's ONVIF side through the C interface, against a small ONVIF device on loopback: the search
// lists it, logins authenticate (token digest on a skewed clock, HTTP Digest, faults), and the calls
// the application makes become the ONVIF calls the device records.
#include "fakeonvif.h"
#include "netsdk/netsdk.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace
{

std::string fieldText(const char *p, size_t n)
{
    return std::string(p, strnlen(p, n));
}

/* The text of the first element with this local name in a recorded request body. */
std::string valueIn(const std::string &xml, const char *local)
{
    xmlDoc *d = xmlReadMemory(xml.data(), int(xml.size()), "b.xml", nullptr, XML_PARSE_NONET);
    if (!d)
        return "<unparsable>";
    std::string out = "<absent>";
    std::vector<xmlNode *> todo{xmlDocGetRootElement(d)};
    while (!todo.empty() && out == "<absent>") {
        xmlNode *n = todo.back();
        todo.pop_back();
        for (; n; n = n->next) {
            if (n->type == XML_ELEMENT_NODE &&
                std::strcmp(reinterpret_cast<const char *>(n->name), local) == 0) {
                xmlChar *c = xmlNodeGetContent(n);
                out = reinterpret_cast<const char *>(c);
                xmlFree(c);
                break;
            }
            if (n->children)
                todo.push_back(n->children);
        }
    }
    xmlFreeDoc(d);
    return out;
}

class OnvifSdkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
        ::setenv("TALLOW_NETSDK_SEARCH_PORT", "1", 1); // nothing of our own protocol answers there
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(1500, 1);
        H264_DVR_SetOnvifSearchLogin("admin", "secret");
    }
    void TearDown() override
    {
        H264_DVR_Cleanup();
        ::unsetenv("TALLOW_NETSDK_ONVIF_PORT");
        ::unsetenv("TALLOW_NETSDK_ONVIF_PROBE");
        H264_DVR_SetOnvifProbeAddresses("");
    }

    std::vector<SDK_CONFIG_NET_COMMON_V2> search(const FakeOnvif &dev, int ms = 1500)
    {
        ::setenv("TALLOW_NETSDK_ONVIF_PORT", std::to_string(dev.discoveryPort()).c_str(), 1);
        H264_DVR_SetOnvifProbeAddresses("127.0.0.1");
        std::vector<SDK_CONFIG_NET_COMMON_V2> buf(16);
        int len = 0;
        EXPECT_TRUE(H264_DVR_SearchDevice(reinterpret_cast<char *>(buf.data()),
                                          int(buf.size() * sizeof buf[0]), &len, ms));
        buf.resize(size_t(len) / sizeof buf[0]);
        return buf;
    }

    long login(const FakeOnvif &dev, const char *password, int *error, H264_DVR_DEVICEINFO *info)
    {
        return H264_DVR_Login("127.0.0.1", dev.httpPort(), "admin", password, info, 0, error);
    }
};

TEST_F(OnvifSdkTest, SearchListsTheDeviceIdentified)
{
    FakeOnvif dev(FakeOnvif::Options{});
    const auto found = search(dev);
    ASSERT_EQ(found.size(), 1u);
    const SDK_CONFIG_NET_COMMON_V2 &r = found[0];
    EXPECT_EQ(r.Protocol, NETSDK_PROTOCOL_ONVIF);
    EXPECT_EQ(r.DeviceType, NETSDK_ONVIF_SEARCH_TYPE);
    EXPECT_EQ(fieldText(r.sMac, sizeof r.sMac), "00:12:34:ab:cd:ef");
    EXPECT_EQ(r.NetValues[1], dev.httpPort());
    EXPECT_EQ(r.HostIP[0], 127);
    EXPECT_EQ(r.HostIP[3], 1);
    EXPECT_EQ(fieldText(r.sSoftWareVersion, sizeof r.sSoftWareVersion), "V2.1.0");
    EXPECT_EQ(fieldText(r.sSn, sizeof r.sSn), "SN0042");
    EXPECT_EQ(fieldText(r.HostName, sizeof r.HostName), "cam");
    EXPECT_EQ(r.Submask[0], 255);
    EXPECT_EQ(r.Submask[1], 0);
    EXPECT_EQ(dev.wire().find("secret"), std::string::npos);
}

TEST_F(OnvifSdkTest, SearchWithoutTheRightLoginStillListsTheDeviceByItsEndpoint)
{
    H264_DVR_SetOnvifSearchLogin("admin", "wrong");
    FakeOnvif::Options o;
    o.mac = "00:12:34:00:00:09";
    FakeOnvif dev(o);
    const auto found = search(dev);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(fieldText(found[0].sMac, sizeof found[0].sMac), "00:12:34:00:00:09");
    EXPECT_EQ(fieldText(found[0].sSoftWareVersion, sizeof found[0].sSoftWareVersion), "");
}

TEST_F(OnvifSdkTest, AnAddressNotFoundAsOnvifIsNotLoggedInOverOnvif)
{
    FakeOnvif dev(FakeOnvif::Options{});
    int error = 1;
    H264_DVR_DEVICEINFO info{};
    EXPECT_EQ(login(dev, "secret", &error, &info), 0);
    EXPECT_TRUE(dev.calls().empty());
}

struct LoginCase {
    const char *name;
    FakeOnvif::Auth auth;
    long skew;
    const char *password;
    const char *action; // reply override, or ""
    FakeOnvif::Reply reply;
    int error;                 // 0: logs in
    bool anonymousInfo = true; // the search identifies without a login; the login is what is tested
};

class OnvifLogins : public OnvifSdkTest, public ::testing::WithParamInterface<LoginCase>
{
};

TEST_P(OnvifLogins, AuthenticateOrSayWhy)
{
    const LoginCase &c = GetParam();
    FakeOnvif::Options o;
    o.auth = c.auth;
    o.clockSkewSeconds = c.skew;
    o.anonymousInfo = c.anonymousInfo;
    FakeOnvif dev(o);
    ASSERT_EQ(search(dev).size(), 1u);
    if (*c.action)
        dev.setReply(c.action, c.reply);
    int error = 12345;
    H264_DVR_DEVICEINFO info{};
    const long h = login(dev, c.password, &error, &info);
    EXPECT_EQ(error, c.error);
    if (c.error == 0) {
        ASSERT_GT(h, 0);
        EXPECT_EQ(fieldText(info.sSoftWareVersion, sizeof info.sSoftWareVersion), "V2.1.0");
        EXPECT_EQ(fieldText(info.sSerialNumber, sizeof info.sSerialNumber), "SN0042");
        EXPECT_EQ(fieldText(info.sHardWare, sizeof info.sHardWare), "HW-77");
        EXPECT_EQ(fieldText(info.sModel, sizeof info.sModel), "CAM-1");
        EXPECT_EQ(info.Protocol, NETSDK_PROTOCOL_ONVIF);
        EXPECT_EQ(info.DeviceType, NETSDK_ONVIF_LOGIN_TYPE);
        EXPECT_EQ(H264_DVR_Logout(h), 1);
        EXPECT_EQ(H264_DVR_Logout(h), 0);
    } else {
        EXPECT_EQ(h, 0);
    }
    EXPECT_EQ(dev.wire().find("secret"), std::string::npos) << "no password in clear on the wire";
    EXPECT_EQ(dev.wire().find("Basic "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OnvifLogins,
    ::testing::Values(
        LoginCase{"token", FakeOnvif::Auth::UsernameToken, 0, "secret", "", FakeOnvif::Reply::Normal, 0},
        LoginCase{"clock_ahead_3h", FakeOnvif::Auth::UsernameToken, 3 * 3600, "secret", "",
                  FakeOnvif::Reply::Normal, 0},
        LoginCase{"clock_behind_5h", FakeOnvif::Auth::UsernameToken, -5 * 3600, "secret", "",
                  FakeOnvif::Reply::Normal, 0},
        LoginCase{"http_digest", FakeOnvif::Auth::HttpDigest, 0, "secret", "", FakeOnvif::Reply::Normal, 0},
        LoginCase{"wrong_password", FakeOnvif::Auth::UsernameToken, 0, "guess", "", FakeOnvif::Reply::Normal,
                  NETSDK_ERR_PASSWORD},
        // HTTP Digest credentials go out only when challenged, so this device asks for them everywhere.
        LoginCase{"wrong_password_digest", FakeOnvif::Auth::HttpDigest, 0, "guess", "",
                  FakeOnvif::Reply::Normal, NETSDK_ERR_PASSWORD, false},
        LoginCase{"soap_fault", FakeOnvif::Auth::UsernameToken, 0, "secret", "GetDeviceInformation",
                  FakeOnvif::Reply::Fault, NETSDK_ERR_DEVICE_FAULT},
        LoginCase{"garbled", FakeOnvif::Auth::UsernameToken, 0, "secret", "GetDeviceInformation",
                  FakeOnvif::Reply::Garbled, NETSDK_ERR_PROTOCOL},
        LoginCase{"silent", FakeOnvif::Auth::UsernameToken, 0, "secret", "GetSystemDateAndTime",
                  FakeOnvif::Reply::Silent, NETSDK_ERR_TIMEOUT}),
    [](const ::testing::TestParamInfo<LoginCase> &i) { return std::string(i.param.name); });

class OnvifJobs : public OnvifSdkTest
{
protected:
    void SetUp() override
    {
        OnvifSdkTest::SetUp();
        FakeOnvif::Options o;
        o.clockSkewSeconds = 7200;
        dev = std::make_unique<FakeOnvif>(o);
        ASSERT_EQ(search(*dev).size(), 1u);
        int error = 1;
        H264_DVR_DEVICEINFO info{};
        handle = login(*dev, "secret", &error, &info);
        ASSERT_GT(handle, 0);
    }
    void TearDown() override
    {
        if (handle > 0)
            H264_DVR_Logout(handle);
        OnvifSdkTest::TearDown();
        dev.reset();
    }
    /* The last recorded call of this action. */
    std::string last(const std::string &action)
    {
        std::string body = "<none>";
        for (const FakeOnvif::Call &c : dev->calls())
            if (c.action == action)
                body = c.body;
        return body;
    }
    std::unique_ptr<FakeOnvif> dev;
    long handle = 0;
};

TEST_F(OnvifJobs, RebootIsSystemReboot)
{
    EXPECT_EQ(H264_DVR_ControlDVR(handle, 0, 2000), 1);
    EXPECT_NE(last("SystemReboot"), "<none>");
    dev->setReply("SystemReboot", FakeOnvif::Reply::Fault);
    EXPECT_EQ(H264_DVR_ControlDVR(handle, 0, 2000), 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_DEVICE_FAULT);
}

TEST_F(OnvifJobs, ResetIsASoftFactoryDefault)
{
    char flags[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(handle, NETSDK_CFG_RESET, -1, flags, sizeof flags, 2000), 1);
    EXPECT_EQ(valueIn(last("SetSystemFactoryDefault"), "FactoryDefault"), "Soft");
}

TEST_F(OnvifJobs, ClockIsSetInUtcKeepingTheZone)
{
    int32_t rec[8] = {2027, 3, 4, 0, 5, 6, 7, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(handle, NETSDK_CFG_SYSTIME, -1, reinterpret_cast<char *>(rec), 32, 2000),
              1);
    const std::string body = last("SetSystemDateAndTime");
    EXPECT_EQ(valueIn(body, "Year"), "2027");
    EXPECT_EQ(valueIn(body, "Month"), "3");
    EXPECT_EQ(valueIn(body, "Day"), "4");
    EXPECT_EQ(valueIn(body, "Hour"), "5");
    EXPECT_EQ(valueIn(body, "Minute"), "6");
    EXPECT_EQ(valueIn(body, "Second"), "7");
    EXPECT_EQ(valueIn(body, "TZ"), "CST-8");
    EXPECT_EQ(valueIn(body, "DateTimeType"), "Manual");
}

TEST_F(OnvifJobs, ZoneIsAPosixString)
{
    struct {
        int32_t minutes;
        const char *tz;
    } cases[] = {{-480, "UTC-8"}, {210, "UTC+3:30"}, {0, "UTC0"}};
    for (const auto &c : cases) {
        int32_t rec[2] = {c.minutes, 0};
        EXPECT_EQ(
            H264_DVR_SetDevConfig(handle, NETSDK_CFG_TIMEZONE, -1, reinterpret_cast<char *>(rec), 8, 2000),
            1);
        EXPECT_EQ(valueIn(last("SetSystemDateAndTime"), "TZ"), c.tz);
    }
}

TEST_F(OnvifJobs, WhatOnvifCannotDoSaysSo)
{
    char buf[512];
    int len = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig_JsonV2(handle, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buf,
                                           sizeof buf, &len, 1000),
              0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_ONVIF_UNSUPPORTED);
    EXPECT_EQ(H264_DVR_SetDevConfig_JsonV2(handle, "General.Location", NETSDK_JSON_SET, -1, "{}", 2, 1000),
              NETSDK_ERR_ONVIF_UNSUPPORTED);
    unsigned long got = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig(handle, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 1000),
              NETSDK_ERR_ONVIF_UNSUPPORTED);
    EXPECT_EQ(H264_DVR_ControlDVR(handle, 7, 1000), 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_ONVIF_UNSUPPORTED);
}

TEST_F(OnvifJobs, NetworkBlockComesFromTheInterfaces)
{
    SDK_NET_BLOCK block{};
    unsigned long got = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig(handle, NETSDK_CFG_NET_COMMON, -1, reinterpret_cast<char *>(&block),
                                    sizeof block, &got, 2000),
              1);
    EXPECT_EQ(got, 144u);
    EXPECT_EQ(fieldText(block.sMac, sizeof block.sMac), "00:12:34:ab:cd:ef");
    EXPECT_EQ(block.HostIP[0], 127);
    EXPECT_EQ(block.Submask[0], 255);
    EXPECT_EQ(block.Submask[1], 0);
    EXPECT_EQ(block.Gateway[3], 254);
}

TEST_F(OnvifJobs, AddressChangeSetsGatewayAndInterface)
{
    SDK_NET_BLOCK block{};
    const uint8_t ip[4] = {127, 0, 9, 9}, mask[4] = {255, 255, 0, 0}, gw[4] = {127, 0, 0, 1};
    std::memcpy(block.HostIP, ip, 4);
    std::memcpy(block.Submask, mask, 4);
    std::memcpy(block.Gateway, gw, 4);
    std::strcpy(block.sMac, "00:12:34:AB:CD:EF");
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, -1, reinterpret_cast<char *>(&block),
                                        sizeof block, 2000),
              1);
    const std::string iface = last("SetNetworkInterfaces");
    EXPECT_EQ(valueIn(iface, "InterfaceToken"), "eth0");
    EXPECT_EQ(valueIn(iface, "Address"), "127.0.9.9");
    EXPECT_EQ(valueIn(iface, "PrefixLength"), "16");
    EXPECT_EQ(valueIn(iface, "DHCP"), "false");
    EXPECT_EQ(valueIn(last("SetNetworkDefaultGateway"), "IPv4Address"), "127.0.0.1");
}

struct UpgradeCase {
    const char *name;
    bool startFirmwareUpgrade;
    const char *uploadHost;
    int uploadStatus;
    const char *faultAction; // "", or a call that faults
    bool pinWrongDigest;
    int final;
    long lastError; // for a failure
    bool uploaded;
};

class OnvifUpgrades : public OnvifSdkTest, public ::testing::WithParamInterface<UpgradeCase>
{
protected:
    struct Reports {
        std::mutex m;
        std::condition_variable cv;
        std::vector<std::pair<int, int>> list;
        bool done = false;
        long lastError = 0;
    };
    static void onReport(long, long, int total, int sent, void *user)
    {
        auto *r = static_cast<Reports *>(user);
        const long err = total == -1 && sent < -1 ? H264_DVR_GetLastError() : 0;
        std::lock_guard<std::mutex> lk(r->m);
        r->list.emplace_back(total, sent);
        if (total == -1 && (sent == -1 || sent < -1)) {
            r->done = true;
            r->lastError = err;
        }
        r->cv.notify_all();
    }
};

TEST_P(OnvifUpgrades, SendThePackageToTheDeviceOnly)
{
    const UpgradeCase &c = GetParam();
    FakeOnvif::Options o;
    o.startFirmwareUpgrade = c.startFirmwareUpgrade;
    o.uploadHost = c.uploadHost;
    o.uploadStatus = c.uploadStatus;
    FakeOnvif dev(o);
    ASSERT_EQ(search(dev).size(), 1u);
    if (*c.faultAction)
        dev.setReply(c.faultAction, FakeOnvif::Reply::Fault);
    int error = 1;
    H264_DVR_DEVICEINFO info{};
    const long h = login(dev, "secret", &error, &info);
    ASSERT_GT(h, 0);

    std::string package(300 * 1024 + 17, '\0');
    std::mt19937 rng(7);
    for (char &ch : package)
        ch = char(rng());
    const std::string path = ::testing::TempDir() + "onvif_package.bin";
    std::ofstream(path, std::ios::binary).write(package.data(), std::streamsize(package.size()));
    unsigned char digest[32];
    unsigned n = 0;
    EVP_Digest(package.data(), package.size(), digest, &n, EVP_sha256(), nullptr);
    if (c.pinWrongDigest)
        digest[0] ^= 1;

    Reports r;
    const long up = H264_DVR_UpgradePinned(h, path.c_str(), 0, digest, onReport, &r);
    ASSERT_GT(up, 0);
    {
        std::unique_lock<std::mutex> lk(r.m);
        ASSERT_TRUE(r.cv.wait_for(lk, std::chrono::seconds(60), [&] { return r.done; }));
    }
    H264_DVR_CloseUpgradeHandle(up);
    EXPECT_EQ(r.list.back().second, c.final);
    if (c.final != -1) {
        EXPECT_EQ(r.lastError, c.lastError);
    } else {
        ASSERT_GE(r.list.size(), 2u);
        const auto &sendEnd = r.list[r.list.size() - 2];
        EXPECT_EQ(sendEnd.first, int(package.size()));
        EXPECT_EQ(sendEnd.second, int(package.size()));
    }
    const std::vector<std::string> got = dev.uploads();
    if (c.uploaded) {
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(got[0] == package) << "received " << got[0].size() << " bytes";
    } else {
        EXPECT_TRUE(got.empty());
    }
    EXPECT_EQ(H264_DVR_Logout(h), 0) << "the login ends with its upgrade";
    EXPECT_EQ(dev.wire().find("secret"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OnvifUpgrades,
    ::testing::Values(
        UpgradeCase{"upload", true, "", 200, "", false, -1, 0, true},
        UpgradeCase{"inline_only", false, "", 200, "", false, -1, 0, true},
        UpgradeCase{"start_fault", true, "", 200, "StartFirmwareUpgrade", false, -2, NETSDK_ERR_DEVICE_FAULT,
                    false},
        UpgradeCase{"upload_elsewhere", true, "127.0.0.2", 200, "", false, -2, NETSDK_ERR_PROTOCOL, false},
        UpgradeCase{"upload_refused", true, "", 500, "", false, -2, NETSDK_ERR_DEVICE_FAULT, false},
        UpgradeCase{"package_changed", true, "", 200, "", true, -2, NETSDK_ERR_FILE_CHANGED, false}),
    [](const ::testing::TestParamInfo<UpgradeCase> &i) { return std::string(i.param.name); });

} // namespace
