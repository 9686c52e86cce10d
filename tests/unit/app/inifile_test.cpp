#include "app/inifile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

class IniFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("Config.ini")); }
    void put(const QByteArray &data)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray get() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

TEST_F(IniFileTest, ReadsHandEditedWindowsFile)
{
    put("\xEF\xBB\xBF; factory settings\r\n"
        "[themes]\r\n"
        "Solution = SimpChinese \r\n"
        "\r\n"
        "  [ UpgradeInfo ]  \r\n"
        "; ModifyIP=1\r\n"
        "nCurrentIndex=\t2\r\n"
        "StartIndex = 30 ; comment is not part of a number\r\n"
        "[Logo]\r\n"
        "Boot=\"  spaced  \"\r\n");
    IniFile ini(path());
    EXPECT_EQ(ini.value(QStringLiteral("themes/Solution")), QStringLiteral("SimpChinese"));
    EXPECT_EQ(ini.profileString(QStringLiteral("THEMES"), QStringLiteral("solution")),
              QStringLiteral("SimpChinese"));
    EXPECT_EQ(ini.intValue(QStringLiteral("UpgradeInfo/nCurrentIndex"), 0), 2);
    EXPECT_EQ(ini.profileInt(QStringLiteral("UpgradeInfo"), QStringLiteral("StartIndex"), 20), 30);
    EXPECT_FALSE(ini.contains(QStringLiteral("UpgradeInfo/ModifyIP"))); // commented out
    EXPECT_EQ(ini.profileInt(QStringLiteral("UpgradeInfo"), QStringLiteral("ModifyIP"), 0), 0);
    EXPECT_EQ(ini.value(QStringLiteral("Logo/Boot")), QStringLiteral("  spaced  "));
}

struct IntCase {
    const char *text;
    int def;
    int expected;
};

class IniIntTest : public IniFileTest, public ::testing::WithParamInterface<IntCase>
{
};

TEST_P(IniIntTest, ParsesLeadingDecimal)
{
    const IntCase c = GetParam();
    put(QByteArray("[S]\nK=") + c.text + "\n");
    IniFile ini(path());
    EXPECT_EQ(ini.profileInt(QStringLiteral("S"), QStringLiteral("K"), c.def), c.expected) << c.text;
    EXPECT_EQ(ini.intValue(QStringLiteral("S/K"), c.def), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Values, IniIntTest,
                         ::testing::Values(IntCase{"0", 20, 0}, IntCase{"17", 0, 17}, IntCase{"-3", 0, -3},
                                           IntCase{"12abc", 0, 12}, IntCase{"abc", 20, 20},
                                           IntCase{"", 20, 20}, IntCase{"99999999999", 0, 2147483647}));

TEST_F(IniFileTest, ProfileStringsAreKeptWhole)
{
    IniFile ini(path());
    for (int length : {63, 64, 200, 4000}) {
        const QString s = QString(length - 1, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80");
        ASSERT_TRUE(ini.writeProfileString(QStringLiteral("AppLink"), QStringLiteral("IOS"), s));
        EXPECT_EQ(ini.profileString(QStringLiteral("AppLink"), QStringLiteral("IOS")), s) << length;
        EXPECT_EQ(ini.value(QStringLiteral("AppLink/IOS")), s) << length;
        EXPECT_EQ(ini.profileString(QStringLiteral("AppLink"), QStringLiteral("Android"), s), s) << length;
    }
}

TEST_F(IniFileTest, WritesKeepOtherLinesAndLineEnds)
{
    const QByteArray before = "\xEF\xBB\xBF; keep me\r\n[UpgradeInfo]\r\nnCurrentIndex = 0\r\n; note\r\n"
                              "ModifyIP=1\r\n\r\n[Logo]\r\nBoot=C:\\a.jpg\r\n";
    put(before);
    IniFile ini(path());
    ASSERT_TRUE(ini.setValue(QStringLiteral("UpgradeInfo/nCurrentIndex"), 1));
    ASSERT_TRUE(ini.writeProfileInt(QStringLiteral("UpgradeInfo"), QStringLiteral("StartIndex"), 25));
    ASSERT_TRUE(
        ini.writeProfileString(QStringLiteral("Version"), QStringLiteral("Version"), QStringLiteral("V2")));
    EXPECT_EQ(get(), QByteArray("\xEF\xBB\xBF; keep me\r\n[UpgradeInfo]\r\nnCurrentIndex=1\r\n; note\r\n"
                                "ModifyIP=1\r\nStartIndex=25\r\n\r\n[Logo]\r\nBoot=C:\\a.jpg\r\n"
                                "[Version]\r\nVersion=V2\r\n"));
    EXPECT_EQ(ini.profileString(QStringLiteral("Logo"), QStringLiteral("Boot")), QStringLiteral("C:\\a.jpg"));
}

TEST_F(IniFileTest, WritesCreateFileWithDecimalIntegers)
{
    IniFile ini(path());
    EXPECT_EQ(ini.value(QStringLiteral("UpgradeInfo/nCurrentIndex"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    EXPECT_EQ(get(), QByteArray("<missing>")); // reads never create the file
    ASSERT_TRUE(ini.writeProfileInt(QStringLiteral("OEMID"), QStringLiteral("SetEn"), 1));
    ASSERT_TRUE(ini.setValue(QStringLiteral("UpgradeInfo/nCurrentIndex"), -2));
    ASSERT_TRUE(ini.setValue(QStringLiteral("AppLink/IOS"), QStringLiteral("https://x.example/a?b=c")));
    EXPECT_EQ(get(), QByteArray("[OEMID]\nSetEn=1\n[UpgradeInfo]\nnCurrentIndex=-2\n"
                                "[AppLink]\nIOS=https://x.example/a?b=c\n"));
    EXPECT_EQ(ini.value(QStringLiteral("AppLink/IOS")), QStringLiteral("https://x.example/a?b=c"));
}

TEST_F(IniFileTest, RejectsValuesThatWouldBreakTheFile)
{
    put("[S]\nK=1\n");
    IniFile ini(path());
    const IniResult r = ini.setValue(QStringLiteral("S/K"), QStringLiteral("a\nB=2"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(get(), QByteArray("[S]\nK=1\n"));
}

TEST_F(IniFileTest, UnwritableLocationReportsError)
{
    IniFile ini(dir.filePath(QStringLiteral("no/such/dir/Config.ini")));
    const IniResult r = ini.setValue(QStringLiteral("S/K"), 1);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("Config.ini"))) << r.error.toStdString();
}

} // namespace
