#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

struct CrashCase {
    const char *mode;
    const char *expected; // text the report must hold
};

class CrashHandlerTest : public ::testing::TestWithParam<CrashCase>
{
};

// The helper is copied into a fresh directory: the report must land beside the executable, not in
// the working directory.
TEST_P(CrashHandlerTest, WritesReportBesideExecutableAndExits255)
{
    const CrashCase c = GetParam();
    QTemporaryDir appDir, workDir;
    const QString exe = appDir.filePath(QStringLiteral("crashhelper"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CRASHHELPER), exe));
    QProcess p;
    p.setWorkingDirectory(workDir.path());
    p.start(exe, {QString::fromLatin1(c.mode)});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << c.mode;
    EXPECT_EQ(p.exitCode(), 255) << c.mode << " " << p.readAllStandardError().toStdString();

    QFile report(appDir.filePath(QStringLiteral("CrashDumpFile.dmp")));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly)) << c.mode;
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.startsWith("Tallow crash report\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(c.expected)) << c.mode << ":\n" << text.toStdString();
    EXPECT_TRUE(text.contains("backtrace:\n")) << text.toStdString();
    // backtrace_symbols_fd names the module of each frame.
    EXPECT_TRUE(text.contains("crashhelper")) << text.toStdString();
    EXPECT_FALSE(QFile::exists(workDir.filePath(QStringLiteral("CrashDumpFile.dmp"))));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CrashHandlerTest,
    ::testing::Values(CrashCase{"segv", "signal: 11 (SIGSEGV)\ncode: 1\nfault address: 0x10\n"},
                      CrashCase{"abort", "(SIGABRT)"}, CrashCase{"fpe", "(SIGFPE)"},
                      CrashCase{"ill", "(SIGILL)"}, CrashCase{"bus", "(SIGBUS)"},
                      CrashCase{"throw", "terminate: uncaught exception: boom\n"},
                      CrashCase{"overflow", "(SIGSEGV)"}, CrashCase{"thread", "fault address: 0x10"},
                      CrashCase{"threadoverflow", "(SIGSEGV)"}, CrashCase{"qthreadoverflow", "(SIGSEGV)"},
                      CrashCase{"pooloverflow", "(SIGSEGV)"}, CrashCase{"foreign", "fault address: 0x10"},
                      CrashCase{"guard", "fault address: 0x10"}, CrashCase{"throwinloop", "from a slot"}),
    [](const ::testing::TestParamInfo<CrashCase> &i) { return std::string(i.param.mode); });

// An installed copy (its data in ../share/tallow) writes the report into the user's data directory,
// which may not exist yet, and never beside the executable.
TEST(CrashHandlerInstalled, WritesReportInTheUsersDataDirectory)
{
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("usr/share/tallow"))));
    const QString exe = bin + QStringLiteral("/crashhelper");
    ASSERT_TRUE(QFile::copy(QStringLiteral(CRASHHELPER), exe));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("home/data")));
    p.setProcessEnvironment(env);
    p.start(exe, {QStringLiteral("segv")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 255) << p.readAllStandardError().toStdString();
    QFile report(root.filePath(QStringLiteral("home/data/tallow/CrashDumpFile.dmp")));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("(SIGSEGV)"));
    EXPECT_FALSE(QFile::exists(bin + QStringLiteral("/CrashDumpFile.dmp")));
}

} // namespace
