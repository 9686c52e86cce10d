#include "qtfiles.h"
#include "testzip.h"
#include "upgrade/upgradepackage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace
{

class PackageTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QString path(const QString &name) const { return tmp.path() + QLatin1Char('/') + name; }
    std::string spath(const QString &name) const { return path(name).toStdString(); }
    QTemporaryDir tmp;
};

TEST_F(PackageTest, UnpacksEntriesAndOneDirectoryLevel)
{
    ASSERT_TRUE(testzip::write(spath("p.zip"), {{"InstallDesc", "{}"},
                                                {"sub/", ""},
                                                {"sub/a.bin", std::string(100000, 'x')},
                                                {"deep/er/b.bin", "b"}}));
    QDir().mkdir(path("out"));
    QStringList skipped;
    EXPECT_EQ(UpgradePackage::unzipToDirectory(path("p.zip"), path("out"), &skipped), 0);
    EXPECT_EQ(readFile(path("out/InstallDesc")), QByteArray("{}"));
    EXPECT_EQ(readFile(path("out/sub/a.bin")).size(), 100000); // larger than one copy block
    // Only one directory level is created, so the deeper entry is skipped.
    EXPECT_FALSE(QFileInfo::exists(path("out/deep/er/b.bin")));
    EXPECT_TRUE(skipped.contains(QStringLiteral("deep/er/b.bin")));
    EXPECT_TRUE(skipped.contains(QStringLiteral("sub/")));
}

TEST_F(PackageTest, NeverWritesOutsideTheDirectory)
{
    QDir().mkpath(path("scratch/inner"));
    QDir().mkdir(path("elsewhere"));
    // A link left in the scratch directory that points outside it must not be followed.
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("scratch/link")));
    const std::string abs = path("abs.txt").toStdString();
    ASSERT_TRUE(testzip::write(spath("evil.zip"), {{"../climb.txt", "x"},
                                                   {"inner/../../climb2.txt", "x"},
                                                   {abs, "x"},
                                                   {"..\\win.txt", "x"},
                                                   {"link/through.txt", "x"},
                                                   {"ok.txt", "fine"}}));
    QStringList skipped;
    EXPECT_EQ(UpgradePackage::unzipToDirectory(path("evil.zip"), path("scratch"), &skipped), 0);
    EXPECT_FALSE(QFileInfo::exists(path("climb.txt")));
    EXPECT_FALSE(QFileInfo::exists(path("climb2.txt")));
    EXPECT_FALSE(QFileInfo::exists(path("abs.txt")));
    EXPECT_FALSE(QFileInfo::exists(path("elsewhere/through.txt")));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{QStringLiteral("evil.zip")});
    EXPECT_EQ(readFile(path("scratch/ok.txt")), QByteArray("fine"));
    EXPECT_EQ(skipped.size(), 5);
}

TEST_F(PackageTest, UnzipOfNonArchiveFails)
{
    writeFile(path("not.zip"), "this is no zip archive");
    EXPECT_EQ(UpgradePackage::unzipToDirectory(path("not.zip"), tmp.path()), -1);
    EXPECT_EQ(UpgradePackage::unzipToDirectory(path("missing.zip"), tmp.path()), -1);
}

TEST_F(PackageTest, ClearDirectoryRemovesContentButNotLinkTargets)
{
    QDir().mkpath(path("d/a/b"));
    writeFile(path("d/a/b/f"), "1");
    writeFile(path("d/g"), "2");
    QDir().mkdir(path("keep"));
    writeFile(path("keep/precious"), "3");
    ASSERT_TRUE(QFile::link(path("keep"), path("d/link")));
    EXPECT_TRUE(UpgradePackage::clearDirectory(path("d")));
    EXPECT_TRUE(QFileInfo(path("d")).isDir());
    EXPECT_TRUE(
        QDir(path("d")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    EXPECT_EQ(readFile(path("keep/precious")), QByteArray("3"));
    EXPECT_FALSE(UpgradePackage::clearDirectory(path("nope")));
}

struct HardwareCase {
    const char *desc;
    QByteArray expected;
};

class HardwareTest : public ::testing::TestWithParam<HardwareCase>
{
};

TEST_P(HardwareTest, ReadsHardwareMember)
{
    EXPECT_EQ(UpgradePackage::hardwareFromInstallDesc(GetParam().desc), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    InstallDesc, HardwareTest,
    ::testing::Values(HardwareCase{"{\"Hardware\":\"HI3520D_V300\",\"Vendor\":\"x\"}", "HI3520D_V300"},
                      HardwareCase{"{\"Vendor\":\"x\"}", ""}, HardwareCase{"not json at all", ""},
                      HardwareCase{"[\"Hardware\"]", ""}, HardwareCase{"{\"Hardware\":{\"a\":1}}", ""},
                      HardwareCase{"{\"Hardware\":123}", "123"}, HardwareCase{"{\"Hardware\":null}", ""},
                      HardwareCase{"{\"Hardware\":\""
                                   "HHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHH"
                                   "\"}",
                                   QByteArray(64, 'H')}));

TEST_F(PackageTest, InspectReadsHardwareAndTheDigestOfTheFile)
{
    ASSERT_TRUE(testzip::writePackage(spath("fw.bin"), "NBD80X16S-KL"));
    const auto result = UpgradePackage::inspect(path("fw.bin"));
    EXPECT_EQ(result.status, UpgradePackage::Inspection::Ok);
    EXPECT_EQ(result.hardware, QByteArray("NBD80X16S-KL"));
    EXPECT_EQ(result.sha256, QCryptographicHash::hash(readFile(path("fw.bin")), QCryptographicHash::Sha256));
    // Nothing is unpacked anywhere.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("fw.bin")});
}

// A package whose own description cannot be read is refused, whatever a scratch directory left by an
// earlier, interrupted inspection holds: that stale description must never stand in for it.
struct BadPackageCase {
    const char *name;
    std::vector<testzip::Entry> entries;
    testzip::Patch patch; // applied to the InstallDesc member
    UpgradePackage::Inspection::Status expected;
};

class BadPackageTest : public PackageTest, public ::testing::WithParamInterface<BadPackageCase>
{
};

TEST_P(BadPackageTest, IsRefused)
{
    const BadPackageCase &c = GetParam();
    const std::string desc = "{ \"Hardware\" : \"NEW-HW\" }";
    std::vector<testzip::Entry> entries = c.entries;
    if (entries.empty())
        entries = {{"InstallDesc", desc}, {"u-boot.bin.img", "img"}};
    ASSERT_TRUE(testzip::write(spath("fw.bin"), entries, true));
    const bool patch = c.patch.method >= 0 || c.patch.flagsOr || c.patch.flipData || c.patch.wrongSize;
    if (patch) {
        ASSERT_TRUE(testzip::patchMember(spath("fw.bin"), "InstallDesc", c.patch));
    }
    QDir().mkdir(path("Temp"));
    writeFile(path("Temp/InstallDesc"), "{ \"Hardware\" : \"OLD-HW\" }");

    const auto result = UpgradePackage::inspect(path("fw.bin"));
    EXPECT_EQ(result.status, c.expected);
    EXPECT_TRUE(result.hardware.isEmpty());
    EXPECT_TRUE(result.sha256.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Inspect, BadPackageTest,
    ::testing::Values(
        BadPackageCase{"Bzip2", {}, {12, 0, false, false}, UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{"Encrypted", {}, {-1, 1, false, false}, UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{
            "CrcMismatch", {}, {-1, 0, true, false}, UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{
            "SizeMismatch", {}, {-1, 0, false, true}, UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{
            "Missing", {{"u-boot.bin.img", "abc"}}, {}, UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{
            "Twice",
            {{"InstallDesc", "{ \"Hardware\" : \"A\" }"}, {"InstallDesc", "{ \"Hardware\" : \"B\" }"}},
            {},
            UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{"InSubdirectoryOnly",
                       {{"sub/InstallDesc", "{ \"Hardware\" : \"NEW-HW\" }"}},
                       {},
                       UpgradePackage::Inspection::InstallDescFailed},
        BadPackageCase{"TooLarge",
                       {{"InstallDesc",
                         "{ \"Hardware\" : \"NEW-HW\", \"Pad\" : \"" + std::string(1 << 20, 'x') + "\" }"}},
                       {},
                       UpgradePackage::Inspection::InstallDescFailed}),
    [](const ::testing::TestParamInfo<BadPackageCase> &info) { return std::string(info.param.name); });

TEST_F(PackageTest, InspectOfNonArchiveFails)
{
    writeFile(path("garbage.bin"), "garbage");
    EXPECT_EQ(UpgradePackage::inspect(path("garbage.bin")).status, UpgradePackage::Inspection::UnzipFailed);
    EXPECT_EQ(UpgradePackage::inspect(path("missing.bin")).status, UpgradePackage::Inspection::UnzipFailed);
    EXPECT_EQ(UpgradePackage::inspect(tmp.path()).status, UpgradePackage::Inspection::UnzipFailed);
}

TEST_F(PackageTest, DeflatedInstallDescIsRead)
{
    ASSERT_TRUE(testzip::write(spath("fw.bin"), {{"InstallDesc", "{ \"Hardware\" : \"HW-D\", \"Pad\" : \"" +
                                                                     std::string(5000, 'a') + "\" }"},
                                                 {"image", "x"}}));
    const auto result = UpgradePackage::inspect(path("fw.bin"));
    EXPECT_EQ(result.status, UpgradePackage::Inspection::Ok);
    EXPECT_EQ(result.hardware, QByteArray("HW-D"));
}

TEST_F(PackageTest, InspectStopsWhenCancelled)
{
    ASSERT_TRUE(testzip::writePackage(spath("fw.bin"), "HW"));
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(UpgradePackage::inspect(path("fw.bin"), UpgradePackage::Limits(), &cancel).status,
              UpgradePackage::Inspection::Cancelled);
}

} // namespace

// A zip bomb is refused by what its directory states: nothing of it is ever unpacked.
TEST_F(PackageTest, InspectRefusesAZipBomb)
{
    ASSERT_TRUE(testzip::writeBomb(spath("bomb.bin"), "HW", 600ull << 20));
    ASSERT_LT(QFileInfo(path("bomb.bin")).size(), 4 << 20);
    const auto result = UpgradePackage::inspect(path("bomb.bin"));
    EXPECT_EQ(result.status, UpgradePackage::Inspection::TooLarge);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("bomb.bin")});
}
