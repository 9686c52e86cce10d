#include "cramfsreader.h"
#include "imageheader.h"
#include "logo/cramfswriter.h"
#include "logo/imagewrapper.h"
#include "packagecheck.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <map>

using namespace devsimtest;

namespace
{

TEST(ToolImage, DeviceReadsWhatTheLogoWriterMakes)
{
    TempDir dir;
    const std::string src = dir / "Logo";
    ::mkdir(src.c_str(), 0755);
    for (const char *d : {"/VideoLoss", "/Colse", "/VideoBlank", "/Empty"})
        ::mkdir((src + d).c_str(), 0755);
    std::string big(9000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + (i >> 8));
    const std::map<std::string, std::string> files = {
        {"h264dvr.jpg", big},
        {"VideoLoss/videoLoss.gif", "GIF89a..."},
        {"Colse/close.jpg", big}, // a duplicate: stored once, read twice
        {"VideoBlank/blind.gif", std::string(4096, 'b')},
        {"AppDowloadLink.custom", "{\n   \"AndroidEnable\" : true\n}\n"},
        {"zero.bin", ""},
    };
    for (const auto &f : files)
        writeFile(src + "/" + f.first, f.second);

    const std::string raw = dir / "logo-x.cramfs", wrapped = dir / "logo-x.cramfs.img";
    ASSERT_EQ(makeCramfsImage(QString::fromStdString(src), QString::fromStdString(raw)), 0);
    ASSERT_EQ(
        wrapImageFile(QString::fromStdString(raw), QString::fromStdString(wrapped), 0x349E0000, 0x34A00000),
        0);

    const std::string image = readFile(wrapped);
    devsim::LegacyImageHeader h;
    std::string error;
    ASSERT_TRUE(
        devsim::checkLegacyImage(reinterpret_cast<const uint8_t *>(image.data()), image.size(), &h, &error))
        << error;
    EXPECT_EQ(h.loadAddress, 0x349E0000u);
    EXPECT_EQ(h.entryPoint, 0x34A00000u);

    std::vector<devsim::CramfsEntry> entries;
    ASSERT_TRUE(devsim::CramfsReader::read(reinterpret_cast<const uint8_t *>(image.data()) + 64,
                                           image.size() - 64, &entries, &error))
        << error;
    std::map<std::string, std::string> seen;
    int dirs = 0;
    for (const auto &e : entries) {
        if (e.isDir)
            ++dirs;
        else
            seen[e.path] = std::string(e.data.begin(), e.data.end());
    }
    EXPECT_EQ(seen, files);
    EXPECT_EQ(dirs, 4);

    devsim::PackageTarget target;
    target.hardware = "HI3520D-NVR";
    target.logoStart = 0x349E0000;
    target.logoEnd = 0x34A00000;
    const std::string package = dir / "HI3520D-NVR_Logo.bin";
    ASSERT_TRUE(
        makeZip(package, {{"InstallDesc", "{\"Hardware\":\"HI3520D-NVR\",\"UpgradeCommand\":[{\"Command\":"
                                          "\"Burn\",\"FileName\":\"logo-x.cramfs.img\"}]}"},
                          {"logo-x.cramfs.img", image}}));
    const devsim::PackageCheck r = devsim::checkPackage(package, target);
    EXPECT_EQ(r.code, 0) << r.error;
    EXPECT_EQ(r.fsType, "cramfs");
}

} // namespace
