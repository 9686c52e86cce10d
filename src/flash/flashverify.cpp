#include "flashverify.h"

#include "device/devicerecord.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

QString trUpgrade(const char *text)
{
    return QCoreApplication::translate("UpgradeWidget", text);
}

// Starts a non-blocking connect; -1 when it failed at once (nothing listens, or no address).
int startConnect(const QByteArray &ip, uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.constData(), &addr.sin_addr) != 1)
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0 || errno == EINPROGRESS)
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

namespace VerifyText
{

QString verified(const QByteArray &version, int year, int month, int day)
{
    // ONVIF devices report no build date; a row of zeros would read as a date.
    if (year == 0 && month == 0 && day == 0)
        return trUpgrade("Verified %1").arg(QString::fromLatin1(version));
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(year, 4, 10, QLatin1Char('0'))
                             .arg(month, 2, 10, QLatin1Char('0'))
                             .arg(day, 2, 10, QLatin1Char('0'));
    return trUpgrade("Verified %1 %2").arg(QString::fromLatin1(version), date);
}

QString unchanged()
{
    return trUpgrade("Not verified: version unchanged");
}

QString noAnswer(int seconds)
{
    return trUpgrade("Not verified: no answer after %1 s").arg(seconds);
}

} // namespace VerifyText

struct UpgradeVerifier::Watch {
    Watch(const BatchContext &c) : ctx(c) {}
    BatchContext ctx;
    VerifyTarget target;
    int timeoutSeconds = 0;
    Clock::time_point deadline, nextProbe, probeStarted;
    void *token = nullptr;
    std::atomic<bool> closed{false}; // the batch closed the registration
    // Watcher thread only, or under the verifier's lock:
    int fd = -1;
    bool sawAway = false;
    bool loggingIn = false;
    bool done = false;
};

UpgradeVerifier::UpgradeVerifier(Sdk sdk) : m_sdk(sdk), m_pool(std::make_unique<QThreadPool>())
{
    m_pool->setMaxThreadCount(MaxLogins);
}

UpgradeVerifier::~UpgradeVerifier()
{
    stop();
}

void UpgradeVerifier::open()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_accepting = true;
}

int UpgradeVerifier::watching() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    int n = 0;
    for (const auto &w : m_watches)
        n += w->done ? 0 : 1;
    return n;
}

bool UpgradeVerifier::watch(const BatchContext &ctx, const VerifyTarget &target, int timeoutSeconds)
{
    auto w = std::make_shared<Watch>(ctx);
    w->target = target;
    w->timeoutSeconds = timeoutSeconds;
    const Clock::time_point now = Clock::now();
    w->deadline = now + std::chrono::seconds(timeoutSeconds);
    // The device needs a moment to go down; the first probe right away would only see it still up.
    w->nextProbe = now + std::chrono::milliseconds(ProbeIntervalMs);
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_accepting)
        return false;
    std::weak_ptr<Watch> weak = w;
    w->token = ctx.callbacks().add({}, [weak] {
        if (auto watch = weak.lock())
            watch->closed = true;
    });
    m_watches.push_back(w);
    if (!m_thread.joinable()) {
        m_quit = false;
        m_thread = std::thread([this] { loop(); });
    }
    m_wake.notify_all();
    return true;
}

void UpgradeVerifier::stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_accepting = false;
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_pool->waitForDone();
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto &w : m_watches) {
        if (w->fd >= 0)
            ::close(w->fd);
        w->fd = -1;
        w->done = true;
    }
    m_watches.clear();
    m_quit = false;
}

void UpgradeVerifier::finish(const std::shared_ptr<Watch> &w, StatusOutcome outcome, const QString &text,
                             const H264_DVR_DEVICEINFO *running)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (w->done)
            return;
        w->done = true;
    }
    if (w->closed)
        return;
    if (running) {
        w->ctx.value(Field::Version,
                     QString::fromLocal8Bit(DeviceRecord::fieldBytes(running->sSoftWareVersion)));
        w->ctx.value(Field::BuildDate,
                     DeviceRecord::buildDateText(running->BuildYear, running->BuildMonth, running->BuildDay));
    }
    if (!text.isEmpty())
        w->ctx.status(outcome, text);
    // The status comes first: the batch may report its end as soon as the registration is gone.
    w->ctx.callbacks().remove(w->token);
}

bool VerifyTarget::unchangedIn(const H264_DVR_DEVICEINFO &running) const
{
    return DeviceRecord::fieldBytes(running.sSoftWareVersion) == oldVersion && running.BuildYear == oldYear &&
           running.BuildMonth == oldMonth && running.BuildDay == oldDay;
}

void UpgradeVerifier::startLogin(const std::shared_ptr<Watch> &w)
{
    w->loggingIn = true;
    const Sdk sdk = m_sdk;
    m_pool->start([this, w, sdk] {
        const VerifyTarget &t = w->target;
        H264_DVR_DEVICEINFO info;
        std::memset(&info, 0, sizeof info);
        int error = 0;
        const long id = w->closed || w->ctx.cancelled()
                            ? 0
                            : sdk.login(t.ip.constData(), t.port, t.user.constData(), t.password.constData(),
                                        &info, 1, &error);
        if (DeviceSession session(id, sdk.logout); session) {
            session.reset(); // the check's own login: the answer is all it wanted
            const QByteArray version = DeviceRecord::fieldBytes(info.sSoftWareVersion);
            if (t.unchangedIn(info))
                finish(w, StatusOutcome::Failure, VerifyText::unchanged());
            else
                finish(w, StatusOutcome::Success,
                       VerifyText::verified(version, info.BuildYear, info.BuildMonth, info.BuildDay), &info);
            return;
        }
        bool give = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const Clock::time_point now = Clock::now();
            if (now >= w->deadline) {
                give = true;
            } else {
                // Up but not answering yet (still starting its services): probe again.
                w->loggingIn = false;
                w->nextProbe = now + std::chrono::milliseconds(ProbeIntervalMs);
            }
        }
        m_wake.notify_all();
        if (give)
            finish(w, StatusOutcome::Failure, VerifyText::noAnswer(w->timeoutSeconds));
    });
}

void UpgradeVerifier::loop()
{
    std::vector<std::shared_ptr<Watch>> probing;
    std::vector<pollfd> fds;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_quit) {
        const Clock::time_point now = Clock::now();
        std::vector<std::shared_ptr<Watch>> ended, expired;
        probing.clear();
        fds.clear();
        for (const auto &w : m_watches) {
            if (w->done || w->loggingIn)
                continue;
            if (w->closed || w->ctx.cancelled()) {
                ended.push_back(w);
                continue;
            }
            if (now >= w->deadline) {
                expired.push_back(w);
                continue;
            }
            if (w->fd < 0 && now >= w->nextProbe) {
                w->fd = startConnect(w->target.ip, w->target.port);
                w->probeStarted = now;
                if (w->fd < 0) {
                    w->sawAway = true;
                    w->nextProbe = now + std::chrono::milliseconds(ProbeIntervalMs);
                }
            }
            if (w->fd >= 0) {
                probing.push_back(w);
                fds.push_back(pollfd{w->fd, POLLOUT, 0});
            }
        }
        for (const auto &w : expired) {
            if (w->fd >= 0)
                ::close(w->fd);
            w->fd = -1;
            if (w->sawAway) {
                lock.unlock();
                finish(w, StatusOutcome::Failure, VerifyText::noAnswer(w->timeoutSeconds));
                lock.lock();
            } else {
                // Never seen going away: what it runs now is the verdict.
                startLogin(w);
            }
        }
        for (const auto &w : ended) {
            if (w->fd >= 0)
                ::close(w->fd);
            w->fd = -1;
            lock.unlock();
            finish(w, StatusOutcome::Neutral, QString());
            lock.lock();
        }
        m_watches.erase(std::remove_if(m_watches.begin(), m_watches.end(),
                                       [](const std::shared_ptr<Watch> &w) { return w->done; }),
                        m_watches.end());
        if (m_watches.empty()) {
            m_wake.wait_for(lock, std::chrono::milliseconds(ProbeIntervalMs));
            continue;
        }
        lock.unlock();
        const int ready = fds.empty() ? 0 : ::poll(fds.data(), nfds_t(fds.size()), 100);
        if (fds.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lock.lock();
        const Clock::time_point after = Clock::now();
        for (size_t i = 0; i < probing.size(); ++i) {
            const auto &w = probing[i];
            bool answered = false, reached = false;
            if (ready > 0 && fds[i].revents) {
                int err = 0;
                socklen_t len = sizeof err;
                answered = true;
                reached = ::getsockopt(w->fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0 &&
                          !(fds[i].revents & (POLLERR | POLLHUP));
            } else if (after - w->probeStarted >= std::chrono::milliseconds(ConnectTimeoutMs)) {
                answered = true;
            }
            if (!answered)
                continue;
            ::close(w->fd);
            w->fd = -1;
            w->nextProbe = after + std::chrono::milliseconds(ProbeIntervalMs);
            if (w->done)
                continue;
            if (!reached)
                w->sawAway = true;
            else if (w->sawAway)
                startLogin(w);
        }
    }
}
