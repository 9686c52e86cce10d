// A program that crashes on purpose, in the way its first argument names, with the crash handler
// installed the way main() installs it.
#include "app/crashhandler.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace
{

void foreignHandler(int)
{
    _exit(3);
}

void installForeign()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = foreignHandler;
    sigaction(SIGSEGV, &sa, nullptr);
    std::set_terminate([] { _exit(4); });
}

volatile bool keepGoing = true;

void segv()
{
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int *>(address) = 1;
}

int recurse(int n)
{
    volatile char pad[4096];
    pad[0] = char(n);
    return keepGoing ? recurse(n + 1) + pad[0] : n;
}

} // namespace

int main(int argc, char **argv)
{
    installCrashHandler();
    const char *mode = argc > 1 ? argv[1] : "";
    if (!strcmp(mode, "segv"))
        segv();
    else if (!strcmp(mode, "abort"))
        abort();
    else if (!strcmp(mode, "fpe"))
        raise(SIGFPE);
    else if (!strcmp(mode, "ill"))
        __builtin_trap();
    else if (!strcmp(mode, "bus"))
        raise(SIGBUS);
    else if (!strcmp(mode, "throw"))
        throw std::runtime_error("boom");
    else if (!strcmp(mode, "overflow"))
        return recurse(0);
    else if (!strcmp(mode, "thread"))
        std::thread(segv).join();
    // A stack overflow on each kind of thread the application starts: std::thread (as the SDK's),
    // QThread, and the toolkit's pool workers.
    else if (!strcmp(mode, "threadoverflow"))
        std::thread([] { recurse(0); }).join();
    else if (!strcmp(mode, "qthreadoverflow")) {
        QThread *t = QThread::create([] { recurse(0); });
        t->start();
        t->wait();
    } else if (!strcmp(mode, "pooloverflow")) {
        QThreadPool::globalInstance()->start([] { recurse(0); });
        QThreadPool::globalInstance()->waitForDone();
    } else if (!strcmp(mode, "foreign")) {
        // Code running between install and the re-assertion after the application object exists.
        installForeign();
        QCoreApplication app(argc, argv);
        CrashHandler::reassert();
        segv();
    } else if (!strcmp(mode, "guard")) {
        // A registration made while the event loop already runs.
        QCoreApplication app(argc, argv);
        CrashHandler::startGuard(&app, 20);
        QTimer::singleShot(0, &app, [] { installForeign(); });
        QTimer::singleShot(200, &app, [] { segv(); });
        return app.exec();
    } else if (!strcmp(mode, "throwinloop")) {
        QCoreApplication app(argc, argv);
        CrashHandler::reassert();
        QTimer::singleShot(0, &app, [] { throw std::logic_error("from a slot"); });
        return app.exec();
    }
    fprintf(stderr, "usage: crashhelper "
                    "segv|abort|fpe|ill|bus|throw|overflow|thread|threadoverflow|qthreadoverflow|"
                    "pooloverflow|foreign|guard|throwinloop\n");
    return 1;
}
