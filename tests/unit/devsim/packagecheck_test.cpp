#include "imageheader.h"
#include "packagecheck.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace devsimtest;
using devsim::checkPackage;
using devsim::PackageCheck;
using devsim::PackageTarget;

namespace
{

const char kHardware[] = "HI3520D-NVR";

// The device form of InstallDesc as the logo package builder writes it (flash list shortened).
std::string installDesc(const std::string &hardware, const std::string &member = "logo-x.cramfs.img")
{
    return "{\n\t\"UpgradeCommand\" : [\n\t{\n\t\t\"Command\" : \"Burn\",\n\t\t\"FileName\" : \"" + member +
           "\"\n\t}\n\t],\n\t\"Hardware\" : \"" + hardware +
           "\",\n\t\"SupportFlashType\": [\n\t  {\n\t\t\"FlashID\": \"SkipCheck\"\n\t  }\n\t],\n\t\"Vendor\" "
           ": "
           "\"General\",\n\t\"HardWareVersion\" : -1,\n\t\"CompatibleVersion\" : -1\n}\n";
}

class PackageCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTool("/usr/sbin/mkfs.cramfs") || !haveTool("/usr/bin/mkimage"))
            GTEST_SKIP() << "mkfs.cramfs or mkimage not installed";
        const std::string src = dir / "logo";
        ::mkdir(src.c_str(), 0755);
        ::mkdir((src + "/VideoLoss").c_str(), 0755);
        writeFile(src + "/h264dvr.jpg", std::string(3000, 'j'));
        writeFile(src + "/VideoLoss/videoLoss.gif", "GIF89a-not-really");
        cramfs = mkCramfs(src, dir / "logo-x.cramfs");
        ASSERT_FALSE(cramfs.empty());
        logoImage = mkImage(dir / "logo-x.cramfs", dir / "logo-x.cramfs.img");
        ASSERT_EQ(logoImage.size(), cramfs.size() + 64);
        target.hardware = kHardware;
        target.logoStart = 0x349E0000;
        target.logoEnd = 0x34A00000;
    }

    std::string wrap(const std::string &payload, const std::string &name)
    {
        writeFile(dir / name, payload);
        return mkImage(dir / name, dir / (name + ".img"));
    }

    TempDir dir;
    std::string cramfs, logoImage;
    PackageTarget target;
};

TEST_F(PackageCheckTest, JudgesPackagesAsTheDeviceDoes)
{
    std::string badCramfs = cramfs;
    badCramfs[100] ^= 1; // cramfs CRC broken, wrapper made afterwards so its own CRCs hold
    std::string headerCrcBroken = logoImage;
    headerCrcBroken[10] ^= 1;
    std::string dataCrcBroken = logoImage;
    dataCrcBroken[64 + 200] ^= 1;
    const std::string squashfs = wrap("hsqs" + std::string(2000, 's'), "squash");
    const std::string neither = wrap(std::string(2000, 'x'), "junk");
    const std::string wrappedBadCramfs = wrap(badCramfs, "badcramfs");

    struct Case {
        const char *what;
        std::vector<std::pair<std::string, std::string>> members; // empty: not a zip at all
        int code;
        bool logo;
        const char *fsType;
    };
    const std::string fw = "{\"Hardware\":\"" + std::string(kHardware) +
                           "\",\"UpgradeCommand\":[{\"Command\":\"Burn\",\"FileName\":\"romfs.img\"}]}";
    const Case cases[] = {
        {"not a zip", {}, -11805, false, ""},
        {"zip without InstallDesc", {{"romfs.img", "x"}}, -11805, false, ""},
        {"InstallDesc not JSON", {{"InstallDesc", "Hardware=HI3520D-NVR"}}, -11805, false, ""},
        {"other hardware",
         {{"InstallDesc", installDesc("HI3511-BB1.0")}, {"logo-x.cramfs.img", logoImage}},
         -11807,
         false,
         ""},
        {"no Hardware", {{"InstallDesc", "{\"Vendor\":\"General\"}"}}, -11807, false, ""},
        {"firmware", {{"InstallDesc", fw}, {"romfs.img", std::string(70000, 'f')}}, 0, false, ""},
        {"burn member missing", {{"InstallDesc", fw}}, -11805, false, ""},
        {"logo cramfs",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", logoImage}},
         0,
         true,
         "cramfs"},
        {"logo squashfs",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", squashfs}},
         0,
         true,
         "squashfs"},
        {"header CRC broken",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", headerCrcBroken}},
         -11805,
         false,
         ""},
        {"data CRC broken",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", dataCrcBroken}},
         -11805,
         false,
         ""},
        {"cramfs CRC broken",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", wrappedBadCramfs}},
         -11805,
         false,
         ""},
        {"neither cramfs nor squashfs",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", neither}},
         -11805,
         false,
         ""},
        {"no wrapper",
         {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", cramfs}},
         -11805,
         false,
         ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string path = dir / ("p" + std::to_string(n++) + ".bin");
        if (c.members.empty())
            writeFile(path, "this is not a zip archive");
        else
            ASSERT_TRUE(makeZip(path, c.members)) << c.what;
        const PackageCheck r = checkPackage(path, target);
        EXPECT_EQ(r.code, c.code) << c.what << ": " << r.error;
        EXPECT_EQ(r.isLogo, c.logo) << c.what;
        EXPECT_EQ(r.fsType, c.fsType) << c.what;
        if (c.code != 0) {
            EXPECT_FALSE(r.error.empty()) << c.what;
        }
    }
}

TEST_F(PackageCheckTest, LogoImageMustFitThePartition)
{
    const std::string path = dir / "logo.bin";
    ASSERT_TRUE(makeZip(path, {{"InstallDesc", installDesc(kHardware)}, {"logo-x.cramfs.img", logoImage}}));
    struct Case {
        uint32_t room;
        int code;
    };
    const Case cases[] = {{uint32_t(logoImage.size()), 0}, {uint32_t(logoImage.size() - 1), -11804}};
    for (const Case &c : cases) {
        target.logoEnd = target.logoStart + c.room;
        EXPECT_EQ(checkPackage(path, target).code, c.code) << "room " << c.room;
    }
}

TEST(LegacyImageHeader, ReadsTheFieldsMkimageWrites)
{
    if (!haveTool("/usr/bin/mkimage"))
        GTEST_SKIP() << "mkimage not installed";
    TempDir dir;
    writeFile(dir / "payload", std::string(1000, 'p'));
    const std::string img = mkImage(dir / "payload", dir / "payload.img", "34770000", "34780000");
    devsim::LegacyImageHeader h;
    std::string error;
    ASSERT_TRUE(
        devsim::checkLegacyImage(reinterpret_cast<const uint8_t *>(img.data()), img.size(), &h, &error))
        << error;
    EXPECT_EQ(h.dataSize, 1000u);
    EXPECT_EQ(h.loadAddress, 0x34770000u);
    EXPECT_EQ(h.entryPoint, 0x34780000u);
    EXPECT_EQ(h.name, "Linux");
    EXPECT_EQ(h.os, 5);
    EXPECT_EQ(h.arch, 2);
    EXPECT_EQ(h.type, 2);
    EXPECT_EQ(h.compression, 1);
    // A trailing byte beyond the announced data size is refused.
    const std::string longer = img + "x";
    EXPECT_FALSE(devsim::checkLegacyImage(reinterpret_cast<const uint8_t *>(longer.data()), longer.size(), &h,
                                          &error));
}

} // namespace

namespace
{

TEST_F(PackageCheckTest, DamagedFirmwareMemberIsRefused)
{
    std::string content(50000, '\0');
    uint32_t seed = 3;
    for (char &c : content)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    const std::string desc = "{\"Hardware\":\"" + std::string(kHardware) +
                             "\",\"UpgradeCommand\":[{\"Command\":\"Burn\",\"FileName\":\"romfs.img\"}]}";
    const std::string path = dir / "fw.bin";
    ASSERT_TRUE(makeZip(path, {{"InstallDesc", desc}, {"romfs.img", content}}));
    EXPECT_EQ(checkPackage(path, target).code, 0);
    std::string zip = readFile(path);
    zip[zip.size() / 2] ^= 0x5a; // inside the member's data
    writeFile(path, zip);
    const PackageCheck r = checkPackage(path, target);
    EXPECT_EQ(r.code, -11805);
    EXPECT_NE(r.error.find("romfs.img"), std::string::npos) << r.error;
}

} // namespace
