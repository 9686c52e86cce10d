#include "device.h"
#include "oemid/oemidcipher.h"
#include "testfiles.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <sstream>

using namespace devsimtest;
using devsim::Device;
using devsim::DeviceSpec;

namespace
{

DeviceSpec spec()
{
    DeviceSpec d;
    d.ip = "127.0.7.1";
    d.mac = "00:12:34:56:78:9a";
    d.serial = "9f3c0a51d27e4b68";
    d.password = "pw";
    return d;
}

class DeviceTest : public ::testing::Test
{
protected:
    std::unique_ptr<Device> make(const DeviceSpec &s)
    {
        auto d = std::make_unique<Device>(s, dir.path());
        std::string error;
        EXPECT_TRUE(d->init(&error)) << error;
        return d;
    }
    Json::Value state() { return parse(readFile(dir / "00123456789a/state.json")); }

    static std::string producerData(const std::string &oemid, const std::string &serial)
    {
        const std::string plain = "{\"MAC\":\"a0:b1:c2:d3:e4:f5\",\"OEMID\":\"" + oemid + "\"}\n";
        return "{\"Data\":\"" + oemid::encryptData(plain, serial) + "\"}\n";
    }

    TempDir dir;
};

TEST_F(DeviceTest, ProducerInfoWriteDeciphersWithTheSerialKey)
{
    auto d = make(spec());
    EXPECT_EQ(parse(d->getJson("ProducerInfo", 2162).text)["Ret"].asInt(), 109); // no OEMID yet

    struct Case {
        const char *what;
        std::string text;
        int32_t status;
        const char *oemidAfter;
    };
    const Case cases[] = {
        {"key of another serial", producerData("BAD1", "0000000000000000"), NETSDK_ERR_PARAM, ""},
        {"Data not Base64", "{\"Data\":\"@@@@\"}\n", NETSDK_ERR_PARAM, ""},
        {"no Data member", "{\"OEMID\":\"X\"}\n", NETSDK_ERR_PARAM, ""},
        {"not JSON", "Data=1", NETSDK_ERR_PARAM, ""},
        {"good write", producerData("OEM42", spec().serial), 0, "OEM42"},
    };
    for (const Case &c : cases) {
        const devsim::JsonAnswer a = d->setJson("ProducerInfo", 2160, c.text);
        EXPECT_EQ(a.status, c.status) << c.what;
        EXPECT_EQ(parse(a.text)["Ret"].asInt(), c.status == 0 ? 100 : 109) << c.what;
        EXPECT_EQ(state()["oemid"].asString(), c.oemidAfter) << c.what;
    }
    const Json::Value read = parse(d->getJson("ProducerInfo", 2162).text);
    EXPECT_EQ(read["Ret"].asInt(), 100);
    EXPECT_EQ(read["ProducerInfo"]["OEMID"].asString(), "OEM42");
    EXPECT_EQ(state()["producerMac"].asString(), "a0:b1:c2:d3:e4:f5");
}

TEST_F(DeviceTest, BadProducerInfoFaults)
{
    DeviceSpec s = spec();
    s.oemid = "OLD";
    s.faults.producerGetRet = 103;
    auto d = make(s);
    const Json::Value v = parse(d->getJson("ProducerInfo", 2162).text);
    EXPECT_EQ(v["Ret"].asInt(), 103);
    EXPECT_FALSE(v.isMember("ProducerInfo"));

    s.faults = devsim::Faults();
    s.faults.producerGetMalformed = true;
    s.faults.producerSetRet = 103;
    auto m = make(s);
    Json::Value ignored;
    Json::CharReaderBuilder b;
    std::string errs;
    std::istringstream in(m->getJson("ProducerInfo", 2162).text);
    EXPECT_FALSE(Json::parseFromStream(b, in, &ignored, &errs));
    EXPECT_EQ(m->setJson("ProducerInfo", 2160, producerData("NEW", s.serial)).status, NETSDK_ERR_PARAM);
}

TEST_F(DeviceTest, BinaryConfigurationChecksSizesAndStores)
{
    DeviceSpec s = spec();
    s.faults.results["165"] = NETSDK_ERR_NOT_SUPPORTED;
    auto d = make(s);
    const std::string reset(10, '\1');
    std::string time(32, '\0');
    const int32_t t[8] = {2026, 12, 10, 0, 2, 30, 59, 0};
    std::memcpy(&time[0], t, 32);
    std::string badTime = time;
    badTime[4] = 13; // month 13
    struct Case {
        const char *what;
        uint32_t command;
        std::string data;
        int32_t status;
    };
    const Case cases[] = {
        {"reset of 10 bytes", 33, reset, NETSDK_ERR_PARAM},
        {"reset of 11 bytes", 33, reset + std::string(1, '\0'), 0},
        {"time of 31 bytes", 244, time.substr(0, 31), NETSDK_ERR_PARAM},
        {"month 13", 265, badTime, NETSDK_ERR_PARAM},
        {"time", 265, time, 0},
        {"zone refused by fault", 165, std::string(8, '\0'), NETSDK_ERR_NOT_SUPPORTED},
        {"empty import", 52, "", NETSDK_ERR_PARAM},
        {"import", 52, "[General]\nName=x\n", 0},
        {"unknown command", 999, "x", NETSDK_ERR_NOT_SUPPORTED},
    };
    for (const Case &c : cases)
        EXPECT_EQ(d->setConfig(c.command, reinterpret_cast<const uint8_t *>(c.data.data()), c.data.size()),
                  c.status)
            << c.what;
    const Json::Value st = state();
    EXPECT_EQ(st["resetBytes"].asString(), "0101010101010101010100");
    EXPECT_EQ(st["counts"]["reset"].asInt(), 1);
    EXPECT_EQ(st["time"][4].asInt(), 2);
    EXPECT_EQ(st["timeCommand"].asInt(), 265);
    EXPECT_EQ(st["timeZone"].asInt(), -480);
    EXPECT_EQ(readFile(dir / "00123456789a/imported.cfg"), "[General]\nName=x\n");

    std::vector<uint8_t> rec;
    ASSERT_EQ(d->getConfig(61, 34567, &rec), 0);
    ASSERT_EQ(rec.size(), 264u);
    EXPECT_STREQ(reinterpret_cast<const char *>(&rec[64]), s.hardware.c_str());
    EXPECT_STREQ(reinterpret_cast<const char *>(&rec[200]), "cramfs");
    ASSERT_EQ(d->getConfig(20, 34567, &rec), 0);
    ASSERT_EQ(rec.size(), 144u);
    EXPECT_STREQ(reinterpret_cast<const char *>(&rec[109]), s.mac.c_str());
}

TEST_F(DeviceTest, ForcedResultsFromTheFleetFile)
{
    struct Case {
        int32_t forced;
        int32_t status;
        bool stored;
    };
    const Case cases[] = {
        {NETSDK_ERR_NEED_REBOOT, NETSDK_ERR_NEED_REBOOT, true}, // accepted, reboot needed
        {NETSDK_ERR_TIMEOUT, devsim::kNoAnswer, true},          // done, the answer never comes
        {NETSDK_ERR_PARAM, NETSDK_ERR_PARAM, false},            // refused
    };
    const std::string cfg = "[cfg]";
    for (const Case &c : cases) {
        TempDir own;
        DeviceSpec s = spec();
        s.faults.results["52"] = c.forced;
        s.faults.results["2160"] = c.forced;
        Device d(s, own.path());
        std::string error;
        ASSERT_TRUE(d.init(&error)) << error;
        EXPECT_EQ(d.setConfig(52, reinterpret_cast<const uint8_t *>(cfg.data()), cfg.size()), c.status)
            << c.forced;
        EXPECT_EQ(fileExists(own / "00123456789a/imported.cfg"), c.stored) << c.forced;
        EXPECT_EQ(d.setJson("ProducerInfo", 2160, producerData("F1", s.serial)).status, c.status) << c.forced;
        const Json::Value st = parse(readFile(own / "00123456789a/state.json"));
        EXPECT_EQ(st["oemid"].asString(), c.stored ? "F1" : "") << c.forced;
    }
}

TEST_F(DeviceTest, LocationAndCodecSettings)
{
    DeviceSpec s = spec();
    s.languageNeedsReboot = true;
    auto d = make(s);
    EXPECT_EQ(parse(d->getJson("General.Location", 1042).text)["General.Location"]["Language"].asString(),
              "English");
    struct Case {
        const char *name;
        std::string text;
        int32_t status;
    };
    const Case cases[] = {
        {"General.Location", "{\n   \"Language\" : \"Klingon\"\n}\n", NETSDK_ERR_PARAM},
        {"General.Location", "{\n   \"Language\" : \"German\",\n   \"VideoFormat\" : \"NTSC\"\n}\n",
         NETSDK_ERR_NEED_REBOOT},
        {"General.Location", "{\"General.Location\":{\"Language\":\"German\",\"TimeFormat\":\"12\"}}", 0},
        {"General.Location", "not json", NETSDK_ERR_PARAM},
        {"Custom.ShowH265X", "{\"ShowH265X\":false}\n", 0},
        {"Custom.ShowH265X", "{\"ShowH265X\":0}\n", NETSDK_ERR_PARAM},
        {"Unknown.Thing", "{}", NETSDK_ERR_NOT_SUPPORTED},
    };
    for (const Case &c : cases)
        EXPECT_EQ(d->setJson(c.name, 1040, c.text).status, c.status) << c.name << " " << c.text;
    const Json::Value st = state();
    EXPECT_EQ(st["location"]["Language"].asString(), "German");
    EXPECT_EQ(st["location"]["VideoFormat"].asString(), "NTSC");
    EXPECT_EQ(st["location"]["TimeFormat"].asString(), "12");
    EXPECT_FALSE(st["showH265X"].asBool());

    // The last accepted texts are kept as received; every write is counted, refused ones too.
    EXPECT_EQ(readFile(dir / "00123456789a/location.json"),
              "{\"General.Location\":{\"Language\":\"German\",\"TimeFormat\":\"12\"}}");
    EXPECT_EQ(readFile(dir / "00123456789a/showh265x.json"), "{\"ShowH265X\":false}\n");
    EXPECT_EQ(st["counts"]["locationWrite"].asInt(), 4);
    EXPECT_EQ(st["counts"]["showH265XWrite"].asInt(), 2);

    // The settings survive a restart of the simulator on the same state directory.
    d.reset();
    auto again = make(s);
    EXPECT_EQ(parse(again->getJson("Custom.ShowH265X", 1042).text)["Custom.ShowH265X"]["ShowH265X"].asBool(),
              false);
    EXPECT_EQ(state()["location"]["Language"].asString(), "German");
    EXPECT_EQ(state()["counts"]["locationWrite"].asInt(), 4);
}

TEST_F(DeviceTest, LocationReadWithAnotherRet)
{
    DeviceSpec s = spec();
    s.faults.locationGetRet = 107;
    auto d = make(s);
    const devsim::JsonAnswer a = d->getJson("General.Location", 1042);
    EXPECT_EQ(a.status, 0); // the read itself succeeds
    const Json::Value v = parse(a.text);
    EXPECT_EQ(v["Ret"].asInt(), 107);
    EXPECT_EQ(v["Name"].asString(), "General.Location");
    EXPECT_FALSE(v.isMember("General.Location"));
}

TEST_F(DeviceTest, TimeAndZoneWritesCountedAndKeptOverARestart)
{
    DeviceSpec s = spec();
    s.faults.results["244"] = NETSDK_ERR_NOT_SUPPORTED;
    auto d = make(s);
    std::string time(32, '\0');
    const int32_t t[8] = {2026, 12, 10, 0, 23, 59, 58, 0};
    std::memcpy(&time[0], t, 32);
    const int32_t z[2] = {-345, 0};
    const auto bytes = [](const std::string &x) { return reinterpret_cast<const uint8_t *>(x.data()); };
    EXPECT_EQ(d->setConfig(244, bytes(time), 32), NETSDK_ERR_NOT_SUPPORTED);
    EXPECT_EQ(d->setConfig(265, bytes(time), 32), 0);
    EXPECT_EQ(d->setConfig(165, reinterpret_cast<const uint8_t *>(z), 8), 0);
    d.reset();
    make(s);
    const Json::Value st = state();
    EXPECT_EQ(st["counts"]["timeWrite"].asInt(), 2);
    EXPECT_EQ(st["counts"]["timeZoneWrite"].asInt(), 1);
    EXPECT_EQ(st["timeZone"].asInt(), -345);
    EXPECT_EQ(st["timeCommand"].asInt(), 265);
    ASSERT_EQ(st["time"].size(), 8u);
    for (Json::ArrayIndex i = 0; i < 8; ++i)
        EXPECT_EQ(st["time"][i].asInt(), t[i]) << i;
}

TEST_F(DeviceTest, LoginCodes)
{
    DeviceSpec s = spec();
    s.faults.lockAfterFailures = 2;
    auto d = make(s);
    EXPECT_EQ(d->login("root", true), NETSDK_ERR_NO_USER);
    EXPECT_EQ(d->login("admin", false), NETSDK_ERR_PASSWORD);
    EXPECT_EQ(d->login("admin", true), 0); // a success clears the count
    EXPECT_EQ(d->login("admin", false), NETSDK_ERR_PASSWORD);
    EXPECT_EQ(d->login("admin", false), NETSDK_ERR_PASSWORD);
    EXPECT_EQ(d->login("admin", true), NETSDK_ERR_USER_LOCKED);
    EXPECT_EQ(state()["counts"]["login"].asInt(), 1);

    s.faults = devsim::Faults();
    s.faults.loginError = NETSDK_ERR_USER_BLACKLIST;
    EXPECT_EQ(make(s)->login("admin", true), NETSDK_ERR_USER_BLACKLIST);
}

TEST_F(DeviceTest, AddressChange)
{
    SDK_NET_BLOCK block;
    std::memset(&block, 0, sizeof block);
    std::strcpy(block.sMac, "00:12:34:56:78:9a");
    const uint8_t ip[4] = {127, 0, 7, 25}, mask[4] = {255, 0, 0, 0}, gw[4] = {127, 0, 0, 1};
    std::memcpy(block.HostIP, ip, 4);
    std::memcpy(block.Submask, mask, 4);
    std::memcpy(block.Gateway, gw, 4);

    auto d = make(spec());
    std::string moveTo;
    EXPECT_EQ(d->netSet(block, &moveTo), 1);
    EXPECT_EQ(moveTo, "127.0.7.25");
    SDK_NET_BLOCK away = block;
    away.HostIP[0] = 192;
    EXPECT_EQ(d->netSet(away, &moveTo), NETSDK_ERR_PARAM);
    EXPECT_TRUE(moveTo.empty());

    // "Need reboot": accepted, the address takes effect with the next reboot.
    DeviceSpec s = spec();
    s.faults.results["ipchange"] = NETSDK_ERR_NEED_REBOOT;
    auto r = make(s);
    EXPECT_EQ(r->netSet(block, &moveTo), NETSDK_ERR_NEED_REBOOT);
    EXPECT_TRUE(moveTo.empty());
    EXPECT_EQ(state()["pendingIp"].asString(), "127.0.7.25");
    EXPECT_EQ(r->reboot(&moveTo), 0);
    EXPECT_EQ(moveTo, "127.0.7.25");
    EXPECT_EQ(state()["counts"]["reboot"].asInt(), 1);
}

TEST_F(DeviceTest, BurntLogoFilesLandInTheStateDirectory)
{
    if (!haveTool("/usr/sbin/mkfs.cramfs") || !haveTool("/usr/bin/mkimage") ||
        !haveTool("/usr/bin/mksquashfs") || !haveTool("/usr/bin/unsquashfs"))
        GTEST_SKIP() << "mkfs.cramfs, mkimage or squashfs-tools not installed";
    const std::string src = dir / "src";
    ::mkdir(src.c_str(), 0755);
    ::mkdir((src + "/Colse").c_str(), 0755);
    writeFile(src + "/h264dvr.jpg", "JPEG");
    writeFile(src + "/Colse/close.jpg", "CLOSE");
    ASSERT_FALSE(mkCramfs(src, dir / "fs.cramfs").empty());
    ASSERT_EQ(run("mksquashfs '" + src + "' '" + dir / "fs.squashfs" + "' -noappend -b 4k"), 0);
    DeviceSpec s = spec();
    auto d = make(s);
    const std::string desc =
        "{\"Hardware\":\"" + s.hardware +
        "\",\"UpgradeCommand\":[{\"Command\":\"Burn\",\"FileName\":\"logo-x.cramfs.img\"}]}";
    for (const char *fs : {"fs.cramfs", "fs.squashfs"}) {
        const std::string image = mkImage(dir / fs, dir / (std::string(fs) + ".img"));
        ASSERT_FALSE(image.empty());
        const std::string package = dir / "package.bin";
        ASSERT_TRUE(makeZip(package, {{"InstallDesc", desc}, {"logo-x.cramfs.img", image}}));
        // Files of an earlier burn do not survive the next one.
        const std::string stray = dir / "00123456789a/logo/stray.txt";
        writeFile(stray, "old");
        std::string error;
        EXPECT_EQ(d->burnPackage(package, &error), 0) << fs << ": " << error;
        EXPECT_FALSE(fileExists(stray)) << fs;
        EXPECT_EQ(readFile(dir / "00123456789a/logo/h264dvr.jpg"), "JPEG") << fs;
        EXPECT_EQ(readFile(dir / "00123456789a/logo/Colse/close.jpg"), "CLOSE") << fs;
        const Json::Value last = state()["lastUpgrade"];
        EXPECT_EQ(last["fsType"].asString(), std::string(fs).substr(3)) << fs;
        EXPECT_EQ(last["logoFiles"].size(), 2u) << fs;
        EXPECT_EQ(readFile(dir / "00123456789a/logo.img"), image) << fs;
    }
}

} // namespace
