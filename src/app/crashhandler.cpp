#include "app/crashhandler.h"

#include "app/apppaths.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstring>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <typeinfo>
#include <unistd.h>

namespace
{

constexpr int signals_[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int ExitCode = 255;

// Everything the handler needs is prepared at install time: inside a signal handler only
// async-signal-safe calls are allowed (no malloc, no stdio, no Qt).
char g_reportPath[4096];
std::atomic<long> g_crashingThread{0};
alignas(16) char g_altStack[64 * 1024];
bool g_installed = false;

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

void put(int fd, const char *s)
{
    size_t n = strlen(s);
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w <= 0)
            return;
        s += w;
        n -= size_t(w);
    }
}

void putNumber(int fd, unsigned long long v, int base)
{
    char buf[32];
    int i = sizeof buf - 1;
    buf[i] = '\0';
    do {
        buf[--i] = "0123456789abcdef"[v % unsigned(base)];
        v /= unsigned(base);
    } while (v != 0 && i > 0);
    if (base == 16)
        put(fd, "0x");
    put(fd, buf + i);
}

[[noreturn]] void writeReportAndExit(int sig, const siginfo_t *info, const char *what)
{
    const long self = long(syscall(SYS_gettid));
    long expected = 0;
    if (!g_crashingThread.compare_exchange_strong(expected, self)) {
        // A fault inside the handler itself ends at once; another thread that faults meanwhile waits
        // for the first report to finish (its _exit ends every thread).
        if (expected == self)
            _exit(ExitCode);
        for (;;)
            pause();
    }
    if (g_reportPath[0] != '\0') {
        int fd = ::open(g_reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            put(fd, "Tallow crash report\n");
            if (sig != 0) {
                put(fd, "signal: ");
                putNumber(fd, unsigned(sig), 10);
                put(fd, " (");
                put(fd, signalName(sig));
                put(fd, ")\n");
                if (info) {
                    put(fd, "code: ");
                    putNumber(fd, unsigned(info->si_code), 10);
                    put(fd, "\nfault address: ");
                    putNumber(fd, reinterpret_cast<unsigned long long>(info->si_addr), 16);
                    put(fd, "\n");
                }
            }
            if (what) {
                put(fd, "terminate: ");
                put(fd, what);
                put(fd, "\n");
            }
            put(fd, "pid: ");
            putNumber(fd, unsigned(getpid()), 10);
            put(fd, "\nthread: ");
            putNumber(fd, unsigned(self), 10);
            put(fd, "\nbacktrace:\n");
            void *frames[64];
            int n = backtrace(frames, 64);
            backtrace_symbols_fd(frames, n, fd);
            ::close(fd);
        }
    }
    _exit(ExitCode);
}

void onSignal(int sig, siginfo_t *info, void *)
{
    writeReportAndExit(sig, info, nullptr);
}

[[noreturn]] void onTerminate()
{
    // Not a signal context: describing the exception is allowed here, but keep it allocation-light.
    static char what[512];
    const char *text = "no active exception";
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception &ex) {
            strncpy(what, "uncaught exception: ", sizeof what - 1);
            strncat(what, ex.what(), sizeof what - strlen(what) - 1);
            text = what;
        } catch (...) {
            text = "uncaught exception of unknown type";
        }
    }
    writeReportAndExit(0, nullptr, text);
}

bool isOurs(const struct sigaction &sa)
{
    return (sa.sa_flags & SA_SIGINFO) && sa.sa_sigaction == onSignal;
}

void installOne(int sig)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = onSignal;
    sigemptyset(&sa.sa_mask);
    // SA_NODEFER: a fault inside the handler re-enters it and ends the process instead of
    // being blocked (a blocked synchronous fault would kill the process without a report).
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigaction(sig, &sa, nullptr);
}

void setAltStack()
{
    // A stack overflow can only be reported from a stack of its own.
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = g_altStack;
    ss.ss_size = sizeof g_altStack;
    sigaltstack(&ss, nullptr);
}

} // namespace

namespace CrashHandler
{

void install()
{
    // Beside the executable in a build tree, in the user's data directory for an installed copy.
    const QString reportFile = AppPaths::current().crashReport();
    QDir().mkpath(QFileInfo(reportFile).absolutePath());
    const QByteArray report = QFile::encodeName(reportFile);
    g_reportPath[0] = '\0';
    if (!report.isEmpty() && size_t(report.size()) < sizeof g_reportPath)
        memcpy(g_reportPath, report.constData(), size_t(report.size()) + 1);
    // The first backtrace() call loads the unwinder; do it now rather than inside the handler.
    void *warm[2];
    backtrace(warm, 2);
    setAltStack();
    for (int sig : signals_)
        installOne(sig);
    std::set_terminate(onTerminate);
    g_installed = true;
}

int reassert()
{
    if (!g_installed)
        return 0;
    int displaced = 0;
    for (int sig : signals_) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && !isOurs(old)) {
            qWarning("crash handler: %s handler was replaced by other code; installing ours again",
                     signalName(sig));
            installOne(sig);
            ++displaced;
        }
    }
    if (std::get_terminate() != onTerminate) {
        qWarning("crash handler: terminate handler was replaced by other code; installing ours again");
        std::set_terminate(onTerminate);
        ++displaced;
    }
    return displaced;
}

void startGuard(QObject *owner, int intervalMs)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [] { reassert(); });
    timer->start(intervalMs);
}

const char *reportPath()
{
    return g_reportPath;
}

bool isInForce()
{
    if (!g_installed || std::get_terminate() != onTerminate)
        return false;
    for (int sig : signals_) {
        struct sigaction cur;
        if (sigaction(sig, nullptr, &cur) != 0 || !isOurs(cur))
            return false;
    }
    return true;
}

} // namespace CrashHandler
