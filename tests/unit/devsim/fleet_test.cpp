#include "fleet.h"
#include "netsdk/protocol.h"

#include <gtest/gtest.h>

#include <set>

using devsim::DeviceSpec;
using devsim::FleetOptions;

namespace
{

TEST(Fleet, QuickFormPlacesDevicesOnConsecutiveAddresses)
{
    FleetOptions o;
    o.baseIp = "127.0.9.254";
    o.upgradeMs = 50;
    auto fleet = devsim::makeDefaultFleet(4, o);
    ASSERT_EQ(fleet.size(), 4u);
    // ONVIF cameras follow the SDK devices on the next addresses, with MACs and serials of their own.
    const auto cams = devsim::makeOnvifCameras(2, 4, o);
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0].ip, "127.0.10.2");
    for (const auto &c : cams) {
        EXPECT_TRUE(c.speaksOnvif());
        EXPECT_FALSE(c.speaksSdk());
    }
    fleet.insert(fleet.end(), cams.begin(), cams.end());
    EXPECT_EQ(fleet[0].ip, "127.0.9.254");
    EXPECT_EQ(fleet[2].ip, "127.0.10.0");
    std::set<std::string> macs, serials;
    for (const auto &d : fleet) {
        EXPECT_TRUE(netsdk::proto::isMacText(d.mac)) << d.mac;
        macs.insert(d.mac);
        serials.insert(d.serial);
        EXPECT_EQ(d.upgradeMs, 50);
    }
    EXPECT_EQ(macs.size(), 6u);
    EXPECT_EQ(serials.size(), 6u);
    EXPECT_EQ(fleet[0].deviceType, 4);
    EXPECT_EQ(fleet[1].deviceType, 1);
    EXPECT_EQ(fleet[2].deviceType, 0);
    // The quick form never leaves 127.0.0.0/8.
    o.baseIp = "127.255.255.254";
    EXPECT_EQ(devsim::makeDefaultFleet(5, o).size(), 2u);
}

TEST(Fleet, ReadsEveryFieldAndFault)
{
    const char *text = R"({"devices": [
        {"ip": "127.0.5.1", "mac": "00:AA:BB:CC:DD:EE", "serial": "0123456789abcdef", "hostName": "cam",
         "deviceType": 4, "buildDate": "2019-12-31", "hardware": "HI3511-BB1.0", "vendor": "Acme",
         "password": "secret", "oemid": "OEM7", "logoStart": 10, "logoEnd": 20, "logoFsType": "squashfs",
         "appLinkIos": false, "location": {"Language": "German"}, "showH265X": false, "timeZone": 60,
         "upgradeMs": 0, "rebootMs": 100, "kdfIterations": 250000, "protocol": "onvif", "model": "Cam One",
         "manufacturer": "Acme", "httpDigest": true, "httpUpgrade": false, "posixTz": "UTC0",
         "faults": {"clockSkewSeconds": -10800, "soapFault": ["SystemReboot", "SetSystemDateAndTime"],
                    "loginError": -11303, "bytesPerSecond": 1000, "dropAfterUpgradeBytes": 5,
                    "upgradeResult": -11810, "results": {"ipchange": -11401, "52": -10005},
                    "producerGetRet": 103, "producerGetMalformed": true, "silent": true,
                    "locationGetRet": 104, "progressFlood": true, "progressTrickleMs": 14000}},
        {}
    ]})";
    FleetOptions o;
    o.baseIp = "127.0.6.1";
    std::vector<DeviceSpec> fleet;
    std::string error;
    ASSERT_TRUE(devsim::parseFleetText(text, o, &fleet, &error)) << error;
    ASSERT_EQ(fleet.size(), 2u);
    const DeviceSpec &d = fleet[0];
    EXPECT_EQ(d.ip, "127.0.5.1");
    EXPECT_EQ(d.buildYear * 10000 + d.buildMonth * 100 + d.buildDay, 20191231);
    EXPECT_EQ(d.logoFsType, "squashfs");
    EXPECT_EQ(d.logoEnd, 20u);
    EXPECT_FALSE(d.appLinkIos);
    EXPECT_NE(d.locationJson.find("German"), std::string::npos);
    EXPECT_EQ(d.faults.loginError, -11303);
    EXPECT_EQ(d.faults.dropAfterUpgradeBytes, 5);
    EXPECT_EQ(d.faults.results.at("ipchange"), -11401);
    EXPECT_EQ(d.faults.results.at("52"), -10005);
    EXPECT_TRUE(d.faults.producerGetMalformed);
    EXPECT_EQ(d.faults.locationGetRet, 104);
    EXPECT_TRUE(d.faults.silent);
    EXPECT_EQ(d.kdfIterations, 250000u);
    EXPECT_TRUE(d.faults.progressFlood);
    EXPECT_EQ(d.faults.progressTrickleMs, 14000);
    EXPECT_FALSE(fleet[1].faults.progressFlood);
    EXPECT_EQ(fleet[1].kdfIterations, 100000u);
    EXPECT_TRUE(d.speaksOnvif());
    EXPECT_FALSE(d.speaksSdk());
    EXPECT_EQ(d.modelOrHardware(), "Cam One");
    EXPECT_EQ(d.manufacturer, "Acme");
    EXPECT_TRUE(d.httpDigest);
    EXPECT_FALSE(d.httpUpgrade);
    EXPECT_EQ(d.posixTz, "UTC0");
    EXPECT_EQ(d.faults.clockSkewSeconds, -10800);
    EXPECT_EQ(d.faults.soapFault, (std::vector<std::string>{"SystemReboot", "SetSystemDateAndTime"}));
    // Old fleet files (no "protocol") keep meaning SDK devices.
    EXPECT_TRUE(fleet[1].speaksSdk());
    EXPECT_FALSE(fleet[1].speaksOnvif());
    EXPECT_EQ(fleet[1].modelOrHardware(), fleet[1].hardware);
    // The empty second device gets an address from the base (by its index) and made-up identity.
    EXPECT_EQ(fleet[1].ip, "127.0.6.2");
    EXPECT_TRUE(netsdk::proto::isMacText(fleet[1].mac));
    EXPECT_FALSE(fleet[1].serial.empty());
}

TEST(Fleet, RefusesUnusableFilesWithAReason)
{
    struct Case {
        const char *text;
        const char *reason;
    };
    const Case cases[] = {
        {"not json", "not valid JSON"},
        {R"({"devices": []})", "non-empty"},
        {R"({"devices": [42]})", "must be an object"},
        {R"([{"ip": "192.168.1.10"}])", "not a 127"},
        {R"([{"mac": "00:11:22:33:44"}])", "not a MAC"},
        {R"([{"ip": "127.0.0.9"}, {"ip": "127.0.0.9"}])", "used twice"},
        {R"([{"faults": {"loginError": "x"}}])", "loginError"},
        {R"([{"upgradeMs": -1}])", "negative"},
        {R"([{"protocol": "rtsp"}])", "protocol"},
        {R"([{"faults": {"soapFault": 3}}])", "soapFault"},
        {R"([{"faults": {"soapFault": [3]}}])", "soapFault"},
        {R"([{"buildDate": "yesterday"}])", "buildDate"},
        {R"([{"faults": {"results": {"52": "fail"}}}])", "results"},
    };
    for (const Case &c : cases) {
        std::vector<DeviceSpec> fleet;
        std::string error;
        EXPECT_FALSE(devsim::parseFleetText(c.text, FleetOptions(), &fleet, &error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
    }
}

} // namespace
