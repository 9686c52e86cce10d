#include "ctlinterrupt.h"

#include <QSocketNotifier>

#include <atomic>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{

int wakePipe[2] = {-1, -1};
std::atomic<int> caught{0};

void onSignal(int)
{
    caught.fetch_add(1, std::memory_order_relaxed);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

} // namespace

CtlInterrupt::CtlInterrupt(QObject *parent) : QObject(parent)
{
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
            ++m_count;
            emit interrupted(m_count);
        }
    });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

CtlInterrupt::~CtlInterrupt()
{
    struct sigaction sa {
    };
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

int CtlInterrupt::raised()
{
    return caught.load(std::memory_order_relaxed);
}
