#include "app/configkeys.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

class ConfigKeysTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("Config.ini")); }
    void SetUp() override { ConfigKeys::setConfigPath(path()); }
    void TearDown() override { ConfigKeys::setConfigPath(QString()); }
    void put(const QByteArray &data)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
};

TEST_F(ConfigKeysTest, MissingFileYieldsDefaults)
{
    EXPECT_EQ(ConfigKeys::intValue(Key::StartIndex), 20);
    EXPECT_FALSE(ConfigKeys::isOn(Key::ModifyIP));
    EXPECT_EQ(ConfigKeys::intValue(Key::CurrentIndex), 0);
    EXPECT_EQ(ConfigKeys::intValue(Key::UploadPort), 443);
    EXPECT_EQ(ConfigKeys::stringValue(Key::OemidAssigned), QStringLiteral("000"));
    EXPECT_EQ(ConfigKeys::stringValue(Key::UploadHost), QString());
    EXPECT_EQ(ConfigKeys::stringValue(Key::Version), QString());
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(ConfigKeysTest, AbsentKeysInPresentSectionsYieldDefaults)
{
    put("[UpgradeInfo]\r\nnCurrentIndex=2\r\n[OEMID]\r\n");
    EXPECT_EQ(ConfigKeys::intValue(Key::StartIndex), 20);
    EXPECT_FALSE(ConfigKeys::isOn(Key::ModifyIP));
    EXPECT_EQ(ConfigKeys::intValue(Key::CurrentIndex), 2);
    EXPECT_EQ(ConfigKeys::stringValue(Key::OemidAssigned), QStringLiteral("000"));
}

TEST_F(ConfigKeysTest, EditsWhileRunningAreSeen)
{
    put("[UpgradeInfo]\nModifyIP=0\n");
    EXPECT_FALSE(ConfigKeys::isOn(Key::ModifyIP));
    put("[UpgradeInfo]\nModifyIP=5\n");
    EXPECT_TRUE(ConfigKeys::isOn(Key::ModifyIP));
}

TEST_F(ConfigKeysTest, StringKeysAreKeptWhole)
{
    // 200 characters, a non-ASCII one among them: paths and links come back as they were stored.
    const QString text =
        QStringLiteral("/home/op/Pictures/") + QString::fromUtf8("\xC3\xA4") + QString(181, QLatin1Char('z'));
    ASSERT_EQ(text.size(), 200);
    for (const KeyInfo *k = ConfigKeys::begin(); k != ConfigKeys::end(); ++k) {
        if (k->type != KeyInfo::String)
            continue;
        ASSERT_TRUE(ConfigKeys::setString(k->key, text));
        EXPECT_EQ(ConfigKeys::stringValue(k->key), text) << ConfigKeys::path(k->key).toStdString();
    }
}

TEST_F(ConfigKeysTest, SwitchesAreWrittenAsZeroOrOne)
{
    ASSERT_TRUE(ConfigKeys::setInt(Key::OemidSetEn, 7));
    ASSERT_TRUE(ConfigKeys::setInt(Key::OemidRepeatEn, 0));
    ASSERT_TRUE(ConfigKeys::setInt(Key::CurrentIndex, 1));
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[OEMID]\nSetEn=1\nRepeatEn=0\n[UpgradeInfo]\nnCurrentIndex=1\n"));
}

// Pacing values out of range never reach a run: nonsense takes the default, too much the bound.
struct PacingCase {
    const char *ini;
    int spacingMs;
    int maxParallel;
};

class RunPacingTest : public ConfigKeysTest, public ::testing::WithParamInterface<PacingCase>
{
};

TEST_P(RunPacingTest, OutOfRangeValuesAreMadeSafe)
{
    put(GetParam().ini);
    const ConfigKeys::RunPacing pacing = ConfigKeys::runPacing();
    EXPECT_EQ(pacing.spacingMs, GetParam().spacingMs);
    EXPECT_EQ(pacing.maxParallel, GetParam().maxParallel);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunPacingTest,
    ::testing::Values(PacingCase{"", 1000, 32},
                      PacingCase{"[UpgradeInfo]\nStartSpacingMs=0\nMaxParallel=64\n", 0, 64},
                      PacingCase{"[UpgradeInfo]\nStartSpacingMs=-5\nMaxParallel=0\n", 1000, 32},
                      PacingCase{"[UpgradeInfo]\nMaxParallel=-3\n", 1000, 32},
                      PacingCase{"[UpgradeInfo]\nStartSpacingMs=999999999\nMaxParallel=100000\n", 60000, 256},
                      PacingCase{"[UpgradeInfo]\nStartSpacingMs=fast\nMaxParallel=lots\n", 1000, 32},
                      PacingCase{"[UpgradeInfo]\nStartSpacingMs=250\nMaxParallel=1\n", 250, 1}));

TEST(ConfigKeysTable, EveryKeyOnceWithItsDefault)
{
    QSet<QString> seen;
    int count = 0;
    for (const KeyInfo *k = ConfigKeys::begin(); k != ConfigKeys::end(); ++k, ++count) {
        const QString p = ConfigKeys::path(k->key);
        EXPECT_FALSE(seen.contains(p.toLower())) << p.toStdString();
        seen.insert(p.toLower());
        EXPECT_EQ(&ConfigKeys::info(k->key), k);
    }
    EXPECT_EQ(count, 26);
    EXPECT_EQ(ConfigKeys::path(Key::CurrentIndex), QStringLiteral("UpgradeInfo/nCurrentIndex"));
    EXPECT_EQ(ConfigKeys::path(Key::Solution), QStringLiteral("themes/Solution"));
}

TEST(ConfigKeysPath, DefaultIsBesideTheExecutable)
{
    ConfigKeys::setConfigPath(QString());
    EXPECT_TRUE(ConfigKeys::configPath().endsWith(QStringLiteral("/tests/Config.ini")))
        << ConfigKeys::configPath().toStdString();
}

} // namespace

namespace
{

// The sample delivered beside the executable lists every key at its default.
TEST(ConfigKeysSample, ListsEveryKeyAtItsDefault)
{
    const IniFile sample(QStringLiteral(TALLOW_SOURCE_DIR "/src/resources/Config.ini"));
    ASSERT_TRUE(QFile::exists(sample.path()));
    for (const KeyInfo *k = ConfigKeys::begin(); k != ConfigKeys::end(); ++k) {
        const QString path = ConfigKeys::path(k->key);
        QString value;
        ASSERT_TRUE(sample.lookup(QLatin1String(k->section), QLatin1String(k->name), &value))
            << path.toStdString();
        const QString expected =
            k->type == KeyInfo::String ? QString::fromUtf8(k->defaultString) : QString::number(k->defaultInt);
        EXPECT_EQ(value, expected) << path.toStdString();
    }
}

} // namespace
