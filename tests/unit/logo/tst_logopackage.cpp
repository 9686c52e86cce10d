#include "logo/applinkfile.h"
#include "logo/cramfswriter.h"
#include "logo/logopackage.h"

#include "logotestutil.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace logotest;

namespace
{

const char kFlashList[] = "\t\"SupportFlashType\": [\n"
                          "\t  {\n"
                          "\t\t\"FlashID\": \"0x00EF4017\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00EF4018\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00C22017\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00C22018\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00C22019\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00C84017\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00C84018\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x001C7017\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x001C7018\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00207017\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"0x00207018\"\n\t  },\n\t  \t\t\t\t\t{\n"
                          "\t\t\"FlashID\": \"SkipCheck\"\n"
                          "\t  }\n"
                          "\t],\n";

const char kHead[] = "{\n"
                     "\t\"UpgradeCommand\" : [\n"
                     "\t{\n"
                     "\t\t\"Command\" : \"Burn\",\n"
                     "\t\t\"FileName\" : \"logo-x.cramfs.img\"\n"
                     "\t}\n"
                     "\t],\n";

LogoPartInfo part(const char *hw, const char *vendor = "General", uint32_t start = 0, uint32_t end = 0,
                  const char *fs = "cramfs")
{
    SDK_LOGO_PART_INFO rec;
    std::memset(&rec, 0, sizeof rec);
    std::strncpy(reinterpret_cast<char *>(rec.raw + 64), hw, 63);
    std::strncpy(reinterpret_cast<char *>(rec.raw + 128), vendor, 63);
    for (int i = 0; i < 4; ++i) {
        rec.raw[192 + i] = uint8_t(start >> (8 * i));
        rec.raw[196 + i] = uint8_t(end >> (8 * i));
    }
    std::strncpy(reinterpret_cast<char *>(rec.raw + 200), fs, 63);
    return LogoPartInfo::fromRecord(rec);
}

} // namespace

TEST(InstallDesc, DeviceForm)
{
    const QByteArray expected = QByteArray(kHead) + "\t\"Hardware\" : \"HI3511-BB1.0\",\n" + kFlashList +
                                "\t\"Vendor\" : \"General\",\n"
                                "\t\"HardWareVersion\" : -1,\n"
                                "\t\"CompatibleVersion\" : -1\n"
                                "}\n";
    EXPECT_EQ(LogoPackageBuilder::installDescText(-1, part("HI3511-BB1.0")), expected);
}

TEST(InstallDesc, FixedTypeForms)
{
    const struct {
        int type;
        const char *hardware;
    } cases[] = {
        {0, "HI3511-BB1.0"}, {1, "HI3511-EB2.0"}, {2, "HI3511-BS1.0"}, {3, "HI3511"}, {4, ""}, {-2, ""}};
    for (const auto &c : cases) {
        const QByteArray expected = QByteArray(kHead) + "\t\"Hardware\" : \"" + c.hardware + "\",\n" +
                                    kFlashList +
                                    "\t\"HardWareVersion\" : -1,\n"
                                    "\t\"Vendor\" : \"General\"\n"
                                    "}\n";
        EXPECT_EQ(LogoPackageBuilder::installDescText(c.type, part("ignored", "ignored")), expected)
            << c.type;
    }
}

TEST(InstallDesc, DeviceNamesAreEscaped)
{
    const QByteArray text = LogoPackageBuilder::installDescText(-1, part("HW\"x\\y", "V\tz"));
    EXPECT_TRUE(text.contains("\t\"Hardware\" : \"HW\\\"x\\\\y\",\n"));
    EXPECT_TRUE(text.contains("\t\"Vendor\" : \"V\\tz\",\n"));
}

TEST(PartInfo, ReadsRecord)
{
    const LogoPartInfo p = part("HI3511-IPC", "Acme", 0x12345678, 0x9ABCDEF0, "squashfs");
    EXPECT_EQ(p.hardware, QByteArray("HI3511-IPC"));
    EXPECT_EQ(p.vendor, QByteArray("Acme"));
    EXPECT_EQ(p.start, 0x12345678u);
    EXPECT_EQ(p.end, 0x9ABCDEF0u);
    EXPECT_TRUE(p.isSquashfs());
    EXPECT_FALSE(part("x", "y", 0, 0, "squashfs2").isSquashfs());
}

struct AddressCase {
    int devType;
    const char *hardware;
    uint32_t infoStart, infoEnd, start, end;
};

class Addresses : public ::testing::TestWithParam<AddressCase>
{
};

TEST_P(Addresses, Table)
{
    const AddressCase &c = GetParam();
    uint32_t s = 1, e = 1;
    LogoPackageBuilder::partitionAddresses(c.devType, part(c.hardware, "v", c.infoStart, c.infoEnd), s, e);
    EXPECT_EQ(s, c.start);
    EXPECT_EQ(e, c.end);
}

INSTANTIATE_TEST_SUITE_P(Table, Addresses,
                         ::testing::Values(AddressCase{-1, "X", 0x100, 0x200, 0x100, 0x200},
                                           AddressCase{-1, "HI3511-BB1.0", 0, 0x200, 0x34770000, 0x34780000},
                                           AddressCase{-1, "HI3511-AB1.0", 0x100, 0, 0x34770000, 0x34780000},
                                           AddressCase{-1, "HI3511-IPC", 0, 0, 0x34770000, 0x34780000},
                                           AddressCase{-1, "OTHER", 0, 0, 0x349E0000, 0x34A00000},
                                           AddressCase{0, "OTHER", 0x100, 0x200, 0x34770000, 0x34780000},
                                           AddressCase{2, "HI3511-IPC", 0x100, 0x200, 0x100, 0x200}));

// ---- the app-link file ----

TEST(AppLink, ExampleBytes)
{
    const QByteArray expected = "{\n"
                                "   \"AndroidEnable\" : true,\n"
                                "   \"AndroidLink\" : \"abc\",\n"
                                "   \"IOSEnable\" : false,\n"
                                "   \"OtherEnable\" : false,\n"
                                "   \"SNEnable\" : true\n"
                                "}\n";
    EXPECT_EQ(appLinkFileText({QStringLiteral("abc"), QStringLiteral("ignored while hidden"), false}),
              expected);
}

TEST(AppLink, Table)
{
    const struct {
        AppLinkInput in;
        QByteArray mustHave;
        QByteArray mustLack;
    } cases[] = {
        {{QString(), QString(), false}, "\"IOSEnable\" : false", "Link"},
        {{QString(), QStringLiteral("id1"), true},
         "\"IOSLink\" : \"https://apps.apple.com/app/id1\"",
         "AndroidLink"},
        {{QStringLiteral("a\"b\\c"), QString(), true}, "\"AndroidLink\" : \"a\\\"b\\\\c\"", "IOSLink"},
        {{QStringLiteral("x"), QStringLiteral("y"), true}, "\"IOSEnable\" : true", "\"OtherEnable\" : true"},
        // Links are written as typed, in UTF-8, not as \u escapes; control characters stay escaped.
        {{QStringLiteral("https://例え.jp/下载"), QString(), false},
         "\"AndroidLink\" : \"https://\xe4\xbe\x8b\xe3\x81\x88.jp/\xe4\xb8\x8b\xe8\xbd\xbd\"",
         "\\u"},
        {{QString(), QStringLiteral("app/été\u00e9"), true},
         "\"IOSLink\" : \"https://apps.apple.com/app/app/\xc3\xa9t\xc3\xa9\xc3\xa9\"",
         "\\u"},
        {{QStringLiteral("a\tb\x01😀"), QString(), false},
         "\"AndroidLink\" : \"a\\tb\\u0001\xf0\x9f\x98\x80\"",
         "\\ud83d"},
    };
    for (const auto &c : cases) {
        const QByteArray text = appLinkFileText(c.in);
        EXPECT_TRUE(text.contains(c.mustHave)) << text.toStdString();
        EXPECT_FALSE(text.contains(c.mustLack)) << text.toStdString();
        EXPECT_TRUE(text.contains("\"AndroidEnable\" : true"));
        EXPECT_TRUE(text.contains("\"SNEnable\" : true"));
    }
}

TEST(AppLink, LinksLongerThanTheDeviceTakesAreRefused)
{
    const int prefix = int(appStoreLinkPrefix().toUtf8().size());
    const QString u3 = QStringLiteral("下"); // three bytes in UTF-8
    const struct {
        AppLinkInput in;
        const char *refused; // the start of the text, or null when the links fit
    } cases[] = {
        {{QString(255, QLatin1Char('a')), QString(), false}, nullptr},
        {{QString(256, QLatin1Char('a')), QString(), false}, "The Android app link is too long"},
        {{QString(85, u3.at(0)), QString(), false}, nullptr},                                   // 255 bytes
        {{QString(85, u3.at(0)) + QLatin1Char('a'), QString(), false}, "The Android app link"}, // 256
        {{QString(), QString(255 - prefix, QLatin1Char('i')), true}, nullptr},
        {{QString(), QString(256 - prefix, QLatin1Char('i')), true}, "The iOS app link is too long"},
        // A hidden iOS row sends no iOS link, whatever the field holds.
        {{QString(), QString(400, QLatin1Char('i')), false}, nullptr},
    };
    for (const auto &c : cases) {
        const QString problem = appLinkProblem(c.in);
        if (!c.refused) {
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        } else {
            EXPECT_TRUE(problem.startsWith(QLatin1String(c.refused))) << problem.toStdString();
            EXPECT_TRUE(problem.contains(QStringLiteral("at most 255"))) << problem.toStdString();
        }
    }
}

TEST(AppLink, WritesFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AppDowloadLink.custom"));
    ASSERT_TRUE(writeFile(path, QByteArray(4000, 'z'))); // truncated, not overwritten in place
    const AppLinkInput in{QStringLiteral("abc"), QString(), false};
    EXPECT_EQ(makeAppLinkFile(path, in), 1);
    EXPECT_EQ(readFile(path), appLinkFileText(in));
    EXPECT_EQ(makeAppLinkFile(dir.filePath(QStringLiteral("no/such/dir/f")), in), 0);
}

// ---- staging and building ----

class Package : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        pics = tmp.filePath(QStringLiteral("pics"));
        app = tmp.filePath(QStringLiteral("app"));
        QDir().mkpath(pics);
        QDir().mkpath(app);
        boot = pic("boot.jpg", makeJpeg(320, 240));
        gif = pic("loss.gif", RawGif()
                                  .header(4, 3)
                                  .image(0, 0, 4, 3)
                                  .literals({0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3})
                                  .trailer()
                                  .bytes);
    }
    QString pic(const char *name, const QByteArray &data)
    {
        const QString p = pics + QLatin1Char('/') + QString::fromLatin1(name);
        EXPECT_TRUE(writeFile(p, data));
        return p;
    }
    QString logo(const QString &rel) const { return app + QStringLiteral("/Logo/") + rel; }
    /** Unzips a package into a fresh directory and returns its path. */
    QString unpack(const QString &package)
    {
        const QString dest = tmp.filePath(QStringLiteral("unpacked%1").arg(++unpacks));
        const ToolRun t = run(tool("unzip"), {QStringLiteral("-t"), package});
        EXPECT_EQ(t.exitCode, 0) << t.out.toStdString();
        const ToolRun x = run(tool("unzip"), {QStringLiteral("-q"), package, QStringLiteral("-d"), dest});
        EXPECT_EQ(x.exitCode, 0) << x.out.toStdString();
        return dest;
    }
    QTemporaryDir tmp;
    QString pics, app, boot, gif;
    int unpacks = 0;
};

TEST_F(Package, StagingBootOnly)
{
    LogoPackageBuilder b(app);
    // Left over from an earlier run: the video-loss directory and a shutdown picture.
    QDir().mkpath(logo(QStringLiteral("VideoLoss")));
    QDir().mkpath(logo(QStringLiteral("Colse")));
    ASSERT_TRUE(writeFile(logo(QStringLiteral("VideoLoss/videoLoss.gif")), "old"));
    ASSERT_TRUE(writeFile(logo(QStringLiteral("Colse/close.jpg")), "old"));
    ASSERT_TRUE(writeFile(logo(QStringLiteral("AppDowloadLink.custom")), "old"));
    QDir().mkpath(app + QStringLiteral("/Image/sub"));
    ASSERT_TRUE(writeFile(app + QStringLiteral("/Image/sub/stale"), "x"));

    ASSERT_TRUE(b.dealWithLogo({{boot}, false, true, {}})) << b.lastError().toStdString();
    EXPECT_EQ(readFile(logo(QStringLiteral("h264dvr.jpg"))), readFile(boot));
    EXPECT_TRUE(QDir(logo(QStringLiteral("VideoLoss"))).exists());
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("VideoLoss/videoLoss.gif"))));
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("Colse/close.jpg"))));
    EXPECT_FALSE(QDir(logo(QStringLiteral("VideoBlank"))).exists());
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("AppDowloadLink.custom"))));
    EXPECT_TRUE(QDir(app + QStringLiteral("/Image")).isEmpty());
    for (const char *d : {"/LogoTmp", "/LogoBinTmp", "/LogoBin"})
        EXPECT_TRUE(QDir(app + QString::fromLatin1(d)).exists()) << d;
}

TEST_F(Package, StagingAllPicturesAndLinks)
{
    LogoPackageBuilder b(app);
    QDir().mkpath(logo(QStringLiteral("Colse")));
    ASSERT_TRUE(writeFile(logo(QStringLiteral("Colse/stray.jpg")), "emptied"));
    const LogoStageInput in{{boot, boot, gif, gif}, true, true, {QStringLiteral("abc"), QString(), false}};
    ASSERT_TRUE(b.dealWithLogo(in)) << b.lastError().toStdString();
    EXPECT_EQ(readFile(logo(QStringLiteral("Colse/close.jpg"))), readFile(boot));
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("Colse/stray.jpg"))));
    EXPECT_EQ(readFile(logo(QStringLiteral("VideoLoss/videoLoss.gif"))), readFile(gif));
    EXPECT_EQ(readFile(logo(QStringLiteral("VideoBlank/blind.gif"))), readFile(gif));
    EXPECT_EQ(readFile(logo(QStringLiteral("AppDowloadLink.custom"))), appLinkFileText(in.links));

    // Links wanted but not supported by the device: no file.
    ASSERT_TRUE(b.dealWithLogo({{boot}, true, false, in.links}));
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("AppDowloadLink.custom"))));

    // A link the device cannot hold: refused with the reason, nothing staged, never cut.
    const LogoStageInput tooLong{{boot}, true, true, {QString(300, QLatin1Char('z')), QString(), false}};
    EXPECT_FALSE(b.dealWithLogo(tooLong));
    EXPECT_TRUE(b.lastError().startsWith(QLatin1String("The Android app link is too long")))
        << b.lastError().toStdString();
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("AppDowloadLink.custom"))));
    // ... though when the device takes no links, the link is not sent and nothing is refused.
    EXPECT_TRUE(b.dealWithLogo({{boot}, true, false, tooLong.links}));
}

TEST_F(Package, StagingReportsAMissingPicture)
{
    LogoPackageBuilder b(app);
    EXPECT_FALSE(b.dealWithLogo({{pics + QStringLiteral("/gone.jpg")}, false, false, {}}));
    EXPECT_FALSE(b.lastError().isEmpty());
    EXPECT_FALSE(b.dealWithLogo({{boot, pics + QStringLiteral("/gone.jpg")}, false, false, {}}));
    LogoPackageBuilder nowhere(tmp.filePath(QStringLiteral("no/such/app")));
    EXPECT_FALSE(nowhere.dealWithLogo({{boot}, false, false, {}}));
}

TEST_F(Package, CramfsPackageForADevice)
{
    LogoPackageBuilder b(app);
    b.setPartitionInfo(part("HI3511-BB1.0", "General", 0x34000000, 0x34100000));
    const LogoStageInput in{{boot, QString(), gif}, true, true, {QStringLiteral("abc"), QString(), false}};
    ASSERT_TRUE(b.dealWithLogo(in));
    QString src, dst;
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, true, nullptr), 0) << b.lastError().toStdString();
    EXPECT_EQ(dst, app + QStringLiteral("/LogoBinTmp/HI3511-BB1.0_Logo.bin"));
    EXPECT_TRUE(QDir(app + QStringLiteral("/Image")).isEmpty());
    EXPECT_TRUE(QDir(app + QStringLiteral("/LogoTmp")).isEmpty());

    const QString dir = unpack(dst);
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("InstallDesc"), QStringLiteral("logo-x.cramfs.img")}));
    EXPECT_EQ(readFile(dir + QStringLiteral("/InstallDesc")),
              LogoPackageBuilder::installDescText(-1, b.partitionInfo()));

    const QString img = dir + QStringLiteral("/logo-x.cramfs.img");
    const ToolRun list = run(tool("dumpimage"), {QStringLiteral("-l"), img});
    EXPECT_TRUE(list.out.contains("ARM Linux Kernel Image")) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("Load Address: 34000000"));
    EXPECT_TRUE(list.out.contains("Entry Point:  34100000"));

    ASSERT_TRUE(writeFile(dir + QStringLiteral("/raw"), readFile(img).mid(64)));
    const QString back = dir + QStringLiteral("/tree");
    const ToolRun fsck =
        run(tool("fsck.cramfs"), {QStringLiteral("--extract=") + back, dir + QStringLiteral("/raw")});
    ASSERT_EQ(fsck.exitCode, 0) << fsck.out.toStdString();
    EXPECT_EQ(readFile(back + QStringLiteral("/h264dvr.jpg")), readFile(boot));
    EXPECT_EQ(readFile(back + QStringLiteral("/VideoLoss/videoLoss.gif")), readFile(gif));
    EXPECT_EQ(readFile(back + QStringLiteral("/AppDowloadLink.custom")), appLinkFileText(in.links));

    // Built again without link support: the link file leaves the image.
    ASSERT_TRUE(b.dealWithLogo(in));
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), 0);
    EXPECT_FALSE(QFile::exists(logo(QStringLiteral("AppDowloadLink.custom"))));
}

TEST_F(Package, SquashfsPackage)
{
    LogoPackageBuilder b(app);
    b.setPartitionInfo(part("HI3516-X", "General", 0, 0, "squashfs"));
    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    QString src, dst;
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), 0) << b.lastError().toStdString();
    const QString dir = unpack(dst);
    const QByteArray img = readFile(dir + QStringLiteral("/logo-x.cramfs.img"));
    ASSERT_GT(img.size(), 68);
    EXPECT_EQ(img.mid(64, 4), QByteArray("hsqs"));
    ASSERT_TRUE(writeFile(dir + QStringLiteral("/raw"), img.mid(64)));
    const ToolRun list = run(tool("unsquashfs"), {QStringLiteral("-l"), dir + QStringLiteral("/raw")});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.out.contains("squashfs-root/h264dvr.jpg")) << list.out.toStdString();
}

TEST_F(Package, SquashfsToolFailure)
{
    LogoPackageBuilder b(app);
    b.setPartitionInfo(part("HI3516-X", "General", 0, 0, "squashfs"));
    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    // The application directory's own copy wins over PATH: one that makes nothing fails the build.
    const QString fake = app + QStringLiteral("/mksquashfs");
    ASSERT_TRUE(writeFile(fake, "#!/bin/sh\nexit 0\n"));
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QString src, dst;
    EXPECT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), -30);
    EXPECT_TRUE(dst.isEmpty());
    // A tool that hangs is ended after its waits.
    ASSERT_TRUE(writeFile(fake, "#!/bin/sh\nexec sleep 30\n"));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), -30);
    EXPECT_LT(t.elapsed(), 10000);
}

// The first fixed pair leaves 65536 bytes: a wrapped image must stay below that.
TEST_F(Package, PartitionLimit)
{
    LogoPackageBuilder b(app);
    b.setPartitionInfo(part("HI3511-IPC"));
    // Incompressible data makes the image 64 KiB or more.
    ASSERT_TRUE(writeFile(pics + QStringLiteral("/big.jpg"), randomBytes(70000, 11)));
    ASSERT_TRUE(b.dealWithLogo({{pics + QStringLiteral("/big.jpg")}, false, false, {}}));
    ASSERT_TRUE(writeFile(app + QStringLiteral("/LogoBinTmp/HI3511-IPC_Logo.bin"), "old package"));
    QString src, dst;
    EXPECT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), -60);
    EXPECT_TRUE(dst.isEmpty());
    EXPECT_EQ(readFile(app + QStringLiteral("/LogoBinTmp/HI3511-IPC_Logo.bin")), QByteArray("old package"));

    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), 0);
}

TEST_F(Package, PartitionLimitBoundary)
{
    // The check is on the wrapped image's size: 65535 bytes fit 0x34770000..0x34780000, 65536 do not.
    for (const int size : {65535 - 64, 65536 - 64}) {
        LogoPackageBuilder b(app);
        b.setPartitionInfo(part("HI3511-IPC", "General", 0, 0, "squashfs"));
        ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
        // A stand-in squashfs tool whose image has exactly the size under test.
        const QString fake = app + QStringLiteral("/mksquashfs");
        ASSERT_TRUE(writeFile(fake, QByteArray("#!/bin/sh\nprintf hsqs > \"$2\"\nhead -c ") +
                                        QByteArray::number(size - 4) + " /dev/zero >> \"$2\"\n"));
        QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString src, dst;
        EXPECT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), size + 64 == 65535 ? 0 : -60) << size + 64;
        QFile::remove(fake);
    }
}

TEST_F(Package, MakeOnlyNames)
{
    LogoPackageBuilder b(app);
    b.setModifyMode(false);
    b.setPartitionInfo(part("HI3520D"));
    DEV_INFO dev;
    std::memset(&dev, 0, sizeof dev);
    std::strcpy(dev.NetDevInfo.sSoftWareVersion, "V4.02.R11");
    dev.NetDevInfo.BuildYear = 2021;
    dev.NetDevInfo.BuildMonth = 2;
    dev.NetDevInfo.BuildDay = 3;
    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    QString src, dst;
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, &dev), 0);
    EXPECT_EQ(dst, app + QStringLiteral("/LogoBin/HI3520D_V4.02.R11_2021-02-03_Logo.bin"));
    EXPECT_TRUE(QFile::exists(dst));

    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), 0);
    EXPECT_EQ(dst, app + QStringLiteral("/LogoBin/HI3520D___Logo.bin"));

    // Device texts cannot steer the package out of its directory.
    b.setPartitionInfo(part("../../evil/x"));
    ASSERT_TRUE(b.dealWithLogo({{boot}, false, false, {}}));
    ASSERT_EQ(b.makeUpgradeBin(src, -1, dst, false, nullptr), 0);
    EXPECT_EQ(QFileInfo(dst).path(), app + QStringLiteral("/LogoBin"));
}

TEST_F(Package, ZipDirectory)
{
    const QString dir = tmp.filePath(QStringLiteral("z"));
    QDir().mkpath(dir + QStringLiteral("/sub"));
    ASSERT_TRUE(writeFile(dir + QStringLiteral("/a"), randomBytes(10000, 3)));
    ASSERT_TRUE(writeFile(dir + QStringLiteral("/sub/b"), "bee"));
    ASSERT_TRUE(writeFile(dir + QStringLiteral("/empty"), QByteArray()));
    const QString zip = tmp.filePath(QStringLiteral("z.zip"));
    ASSERT_TRUE(writeFile(zip, "previous content"));
    ASSERT_EQ(LogoPackageBuilder::zipDirectory(dir, zip), 0);
    const ToolRun list = run(tool("unzip"), {QStringLiteral("-Z"), QStringLiteral("-1"), zip});
    EXPECT_EQ(list.out, QByteArray("a\nempty\nsub/b\n"));
    const QString back = unpack(zip);
    EXPECT_EQ(readFile(back + QStringLiteral("/a")), readFile(dir + QStringLiteral("/a")));
    EXPECT_EQ(readFile(back + QStringLiteral("/sub/b")), QByteArray("bee"));
    const ToolRun verbose = run(tool("unzip"), {QStringLiteral("-Z"), QStringLiteral("-v"), zip});
    // Deflated, with zeroed dates and attributes and no extra fields or comments.
    for (const char *line : {"compression method:                             deflated",
                             "file last modified on (DOS date/time):          1980 Jan 0 00:00:00",
                             "length of extra field:                          0 bytes",
                             "length of file comment:                         0 characters",
                             "non-MSDOS external file attributes:             000000 hex",
                             "MS-DOS file attributes (00 hex):                none"})
        EXPECT_EQ(verbose.out.count(line), 3) << line << "\n" << verbose.out.toStdString();

    EXPECT_NE(LogoPackageBuilder::zipDirectory(dir, tmp.filePath(QStringLiteral("no/dir/z.zip"))), 0);
}

TEST_F(Package, ClearDirectoryKeepsItselfAndLinkTargets)
{
    const QString d = tmp.filePath(QStringLiteral("clear"));
    const QString outside = tmp.filePath(QStringLiteral("outside"));
    QDir().mkpath(d + QStringLiteral("/x/y"));
    QDir().mkpath(outside);
    ASSERT_TRUE(writeFile(outside + QStringLiteral("/keep"), "k"));
    ASSERT_TRUE(writeFile(d + QStringLiteral("/x/y/f"), "f"));
    ASSERT_TRUE(writeFile(d + QStringLiteral("/.hidden"), "h"));
    ASSERT_TRUE(QFile::link(outside, d + QStringLiteral("/link")));
    EXPECT_TRUE(LogoPackageBuilder::clearDirectory(d));
    EXPECT_TRUE(QDir(d).exists());
    EXPECT_TRUE(
        QDir(d).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty());
    EXPECT_TRUE(QFile::exists(outside + QStringLiteral("/keep")));
    EXPECT_FALSE(LogoPackageBuilder::clearDirectory(tmp.filePath(QStringLiteral("absent"))));
}
