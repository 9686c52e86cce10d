#include "app/apppaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// One executable directory and the user's XDG directories, all below one temporary root.
struct Tree {
    QTemporaryDir root;
    QString path(const char *rel) const { return root.path() + QLatin1Char('/') + QLatin1String(rel); }
    AppPaths::Inputs inputs(const char *exeDir, bool writable) const
    {
        return {path(exeDir), writable, path("home/config"), path("home/data"), path("home/cache")};
    }
};

struct LayoutCase {
    const char *name;
    const char *exeDir;      // below the root
    const char *shippedData; // a directory made below the root, or nullptr
    bool writable;
    bool installed;
    const char *expectShipped, *expectConfig, *expectData, *expectTemp;
};

class AppPathsLayout : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(AppPathsLayout, PlacesEveryFile)
{
    const LayoutCase c = GetParam();
    Tree t;
    ASSERT_TRUE(QDir().mkpath(t.path(c.exeDir)));
    if (c.shippedData) {
        ASSERT_TRUE(QDir().mkpath(t.path(c.shippedData)));
    }
    const AppPaths p = AppPaths::resolve(t.inputs(c.exeDir, c.writable));
    EXPECT_EQ(p.installed(), c.installed);
    EXPECT_EQ(p.executableDir(), t.path(c.exeDir));
    EXPECT_EQ(p.shippedDataDir(), QDir(t.path(c.expectShipped)).canonicalPath());
    EXPECT_EQ(p.configFile(), t.path(c.expectConfig));
    EXPECT_EQ(p.configDefaults(), QDir(t.path(c.expectShipped)).canonicalPath() + "/Config.ini");
    EXPECT_EQ(p.userDataDir(), t.path(c.expectData));
    EXPECT_EQ(p.runLogDir(), t.path(c.expectData) + "/RunLog");
    EXPECT_EQ(p.crashReport(), t.path(c.expectData) + "/CrashDumpFile.dmp");
    EXPECT_EQ(p.tempDir(), t.path(c.expectTemp));
    // The About box and tallowctl --version name every place in use.
    const QString text = p.describe();
    for (const QString &shown : {p.configFile(), p.runLogDir(), p.tempDir(), p.crashReport()})
        EXPECT_TRUE(text.contains(shown)) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AppPathsLayout,
    ::testing::Values(
        // A build tree: everything beside the executable.
        LayoutCase{"buildtree", "build/bin", nullptr, true, false, "build/bin", "build/bin/Config.ini",
                   "build/bin", "build/bin/Temp"},
        // An install tree: data in share/tallow, the user's files in the XDG directories, even when
        // the bin directory is writable (root, or a prefix of the user's own).
        LayoutCase{"prefix", "usr/bin", "usr/share/tallow", true, true, "usr/share/tallow",
                   "home/config/tallow/Config.ini", "home/data/tallow", "home/cache/tallow/Temp"},
        LayoutCase{"readonlyprefix", "usr/bin", "usr/share/tallow", false, true, "usr/share/tallow",
                   "home/config/tallow/Config.ini", "home/data/tallow", "home/cache/tallow/Temp"},
        // A copy of a build tree the user cannot write: its data stays where it is, its settings move.
        LayoutCase{"readonlycopy", "opt/tallow", nullptr, false, true, "opt/tallow",
                   "home/config/tallow/Config.ini", "home/data/tallow", "home/cache/tallow/Temp"},
        // A share/ directory of some other program is no install tree of ours.
        LayoutCase{"othershare", "usr/bin", "usr/share/other", true, false, "usr/bin", "usr/bin/Config.ini",
                   "usr/bin", "usr/bin/Temp"}),
    [](const ::testing::TestParamInfo<LayoutCase> &i) { return std::string(i.param.name); });

TEST(AppPathsPrepare, SeedsConfigOnceAndNeverTouchesTheUsersFiles)
{
    Tree t;
    ASSERT_TRUE(writeFile(t.path("usr/share/tallow/Config.ini"), "[OEMID]\nAssigned=000\n"));
    ASSERT_TRUE(QDir().mkpath(t.path("usr/bin")));
    const AppPaths p = AppPaths::resolve(t.inputs("usr/bin", false));
    ASSERT_TRUE(p.installed());

    // First start: the directories appear and the defaults are copied.
    EXPECT_EQ(p.prepare(), QString());
    EXPECT_EQ(readFile(p.configFile()), QByteArray("[OEMID]\nAssigned=000\n"));
    for (const QString &dir : {p.userDataDir(), p.tempDir().section('/', 0, -2)})
        EXPECT_TRUE(QDir(dir).exists()) << dir.toStdString();
    EXPECT_FALSE(QFile::exists(p.configFile() + ".new"));

    // The user edits, keeps records and logs; then a newer package brings other defaults.
    ASSERT_TRUE(writeFile(p.configFile(), "[OEMID]\nAssigned=123\n"));
    ASSERT_TRUE(writeFile(p.runLogDir() + "/2026-12-10_firmware.log", "log line\n"));
    ASSERT_TRUE(writeFile(p.userDataDir() + "/oemidupload/unupload/AABB2026-12-10.log", "record\n"));
    ASSERT_TRUE(writeFile(t.path("usr/share/tallow/Config.ini"), "[OEMID]\nAssigned=999\n"));
    EXPECT_EQ(p.prepare(), QString());
    EXPECT_EQ(readFile(p.configFile()), QByteArray("[OEMID]\nAssigned=123\n"));
    EXPECT_EQ(readFile(p.runLogDir() + "/2026-12-10_firmware.log"), QByteArray("log line\n"));
    EXPECT_EQ(readFile(p.userDataDir() + "/oemidupload/unupload/AABB2026-12-10.log"), QByteArray("record\n"));
}

TEST(AppPathsPrepare, BuildTreeIsLeftAsTheBuildLaidItOut)
{
    Tree t;
    ASSERT_TRUE(QDir().mkpath(t.path("build/bin")));
    const AppPaths p = AppPaths::resolve(t.inputs("build/bin", true));
    EXPECT_EQ(p.prepare(), QString());
    EXPECT_FALSE(QFile::exists(p.configFile()));
    EXPECT_FALSE(QDir(t.path("home")).exists());
}

TEST(AppPathsPrepare, SaysWhatCouldNotBeMade)
{
    Tree t;
    ASSERT_TRUE(QDir().mkpath(t.path("usr/share/tallow")));
    ASSERT_TRUE(QDir().mkpath(t.path("usr/bin")));
    // A plain file where the data directory's parent should be.
    ASSERT_TRUE(writeFile(t.path("home/data"), "not a directory"));
    const AppPaths p = AppPaths::resolve(t.inputs("usr/bin", false));
    const QString problem = p.prepare();
    EXPECT_TRUE(problem.contains(p.userDataDir())) << problem.toStdString();
}

} // namespace
