/*
 * netsdk.cpp - the SDK client: sessions, discovery, configuration calls and upgrades.
 *
 * Threads: calls run on the caller's thread; the only threads of our own are one per running
 * upgrade. No global lock is held across network I/O or an application callback.
 */
#include "netsdk.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace netsdk;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr int kDefaultWaitMs = 3000;
constexpr int kMaxWaitMs = 600000;
constexpr int kUpgradeSilenceMs = 15000;
constexpr int kLogoutSendMs = 200;

thread_local long t_lastError = 0;
thread_local bool t_upgradeThread = false;

void setError(long code)
{
    t_lastError = code;
}

int clampWait(long ms)
{
    return ms <= 0 ? kDefaultWaitMs : int(std::min<long>(ms, kMaxWaitMs));
}

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return int(std::min<long long>(left, kMaxWaitMs));
}

/* ---- Sockets ---- */

enum class Io { Ok, Timeout, Closed, Bad };

struct Socket {
    int fd = -1;
    explicit Socket(int f) : fd(f) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    /* Wakes every thread blocked on this socket; the descriptor itself stays valid until the last
     * owner lets go, so no other thread can ever read a recycled descriptor. */
    void abort() { ::shutdown(fd, SHUT_RDWR); }
};

Io sendAll(int fd, const uint8_t *p, size_t n, Clock::time_point deadline, int idleMs = -1)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            p += k;
            n -= size_t(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Closed;
        int ms = idleMs >= 0 ? idleMs : remainingMs(deadline);
        if (ms <= 0)
            return Io::Timeout;
        pollfd pfd{fd, POLLOUT, 0};
        int r = ::poll(&pfd, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            return Io::Timeout;
        if (r < 0)
            return Io::Closed;
    }
    return Io::Ok;
}

inline Io sendAll(int fd, const proto::Bytes &b, Clock::time_point deadline, int idleMs = -1)
{
    return sendAll(fd, b.data(), b.size(), deadline, idleMs);
}

/* Next whole frame, or why there is none. Bytes of a frame that is still incomplete stay in the
 * reader, so a call that timed out mid-frame does not desynchronise the next one. */
Io readFrame(int fd, proto::FrameReader &reader, Clock::time_point deadline, proto::Frame &f)
{
    uint8_t buf[16384];
    for (;;) {
        proto::Result r = reader.next(f);
        if (r == proto::Result::Ok)
            return Io::Ok;
        if (r != proto::Result::Incomplete)
            return Io::Bad;
        int ms = remainingMs(deadline);
        pollfd pfd{fd, POLLIN, 0};
        int n = ::poll(&pfd, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Io::Closed;
        if (n == 0)
            return Io::Timeout;
        ssize_t k = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (k > 0)
            reader.feed(buf, size_t(k));
        else if (k == 0)
            return Io::Closed;
        else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Closed;
    }
}

bool parseIPv4(const char *text, in_addr &out)
{
    return text && ::inet_pton(AF_INET, text, &out) == 1;
}

/* Connect with the SDK's connect time-out per try. */
std::shared_ptr<Socket> connectTo(const in_addr &addr, uint16_t port, int waitMs, int tries)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    for (int t = 0; t < tries; ++t) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        auto sock = std::make_shared<Socket>(fd);
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        int r = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        if (r != 0 && errno != EINPROGRESS)
            continue;
        if (r != 0) {
            pollfd pfd{fd, POLLOUT, 0};
            int n;
            do {
                n = ::poll(&pfd, 1, remainingMs(deadline));
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
                continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return sock;
    }
    return nullptr;
}

/* ---- State ---- */

/* A lock with a deadline. (std::timed_mutex would do, but the thread sanitizer misreads its
 * clock-based wait, and every report must be a real one.) */
class TimedLock
{
public:
    void lock()
    {
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait(lk, [&] { return !held_; });
        held_ = true;
    }
    bool try_lock()
    {
        std::lock_guard<std::mutex> lk(m_);
        if (held_)
            return false;
        held_ = true;
        return true;
    }
    bool try_lock_until(Clock::time_point deadline)
    {
        std::unique_lock<std::mutex> lk(m_);
        if (!cv_.wait_until(lk, deadline, [&] { return !held_; }))
            return false;
        held_ = true;
        return true;
    }
    void unlock()
    {
        {
            std::lock_guard<std::mutex> lk(m_);
            held_ = false;
        }
        cv_.notify_one();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false;
};

struct Session {
    long handle = 0;
    char ip[16] = {};
    uint16_t port = 0;
    uint32_t id = 0;
    std::shared_ptr<Socket> sock;

    TimedLock io; /* one exchange at a time; guards seq and reader */
    uint32_t seq = 0;
    proto::FrameReader reader;

    std::atomic<bool> upgrading{false};
    std::atomic<bool> lost{false};
};

struct Upgrade {
    long handle = 0;
    long loginId = 0;
    std::shared_ptr<Session> session;
    int fileFd = -1;
    uint32_t total = 0;
    int32_t type = 0;
    std::string baseName;
    fUpgradeCallBack cb = nullptr;
    void *user = nullptr;

    std::mutex m; /* guards closed, inCallback, cbThread */
    std::condition_variable cv;
    bool closed = false;
    bool inCallback = false;
    std::thread::id cbThread;
    std::atomic<bool> stop{false};

    ~Upgrade()
    {
        if (fileFd >= 0)
            ::close(fileFd);
    }
};

struct Sdk {
    std::mutex m;
    int refs = 0;
    fDisConnect disconnectCb = nullptr;
    unsigned long disconnectUser = 0;
    int connectWaitMs = kDefaultWaitMs;
    int connectTries = 1;
    std::map<long, std::shared_ptr<Session>> sessions;
    std::map<long, std::shared_ptr<Upgrade>> upgrades;
    long nextLogin = 1;
    long nextUpgrade = 1;
    int upgradeThreads = 0;
    std::condition_variable threadsDone;
    std::atomic<int> searchPort{0}; /* 0: not set by the application */
};

/* Never destroyed: upgrade threads may still be leaving while the process exits. */
Sdk &sdk()
{
    static Sdk *s = new Sdk;
    return *s;
}

/* Handles stay positive 32-bit values (DEV_INFO keeps them in an int32). */
template <class Map> long nextHandle(long &next, const Map &inUse)
{
    for (;;) {
        long h = next;
        next = next >= 0x7fffffff ? 1 : next + 1;
        if (!inUse.count(h))
            return h;
    }
}

std::shared_ptr<Session> findSession(long handle)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.sessions.find(handle);
    return it == s.sessions.end() ? nullptr : it->second;
}

/* A session whose connection broke. True the first time, when the application is to be told (by
 * notifyLost, once no lock of ours is held any more). */
bool markLost(const std::shared_ptr<Session> &sess)
{
    if (sess->lost.exchange(true))
        return false;
    sess->sock->abort();
    return true;
}

void notifyLost(const std::shared_ptr<Session> &sess)
{
    fDisConnect cb;
    unsigned long user;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        if (!s.sessions.count(sess->handle))
            return; /* logged out meanwhile: no news for the application */
        cb = s.disconnectCb;
        user = s.disconnectUser;
    }
    if (cb) {
        char ip[16];
        std::memcpy(ip, sess->ip, sizeof ip);
        cb(sess->handle, ip, sess->port, user);
    }
}

long ioError(Io io)
{
    switch (io) {
    case Io::Timeout:
        return NETSDK_ERR_TIMEOUT;
    case Io::Bad:
        return NETSDK_ERR_PROTOCOL;
    default:
        return NETSDK_ERR_NETWORK;
    }
}

/* One request/answer exchange on a session. Returns 0 or an SDK error code. A connection closed
 * while we wait for the answer gives `closedWhileWaiting`. The caller holds sess.io. */
long exchangeLocked(const std::shared_ptr<Session> &sess, const proto::Bytes &req, uint16_t reqType,
                    uint32_t seq, Clock::time_point deadline, proto::Frame &answer, long closedWhileWaiting,
                    bool &lostNow)
{
    if (sess->lost)
        return NETSDK_ERR_NETWORK;
    Io io = sendAll(sess->sock->fd, req, deadline);
    if (io != Io::Ok) {
        /* Part of the frame may be on the stream: the connection cannot be used any more. */
        lostNow = markLost(sess);
        return ioError(io);
    }
    for (;;) {
        io = readFrame(sess->sock->fd, sess->reader, deadline, answer);
        if (io != Io::Ok)
            break;
        /* Late answers to requests that timed out, and stray events, are skipped. */
        if (answer.header.type == proto::answerOf(reqType) && answer.header.seq == seq) {
            if (answer.header.session == sess->id)
                return 0;
            io = Io::Bad;
            break;
        }
    }
    if (io == Io::Timeout)
        return NETSDK_ERR_TIMEOUT; /* a late answer is skipped by its seq */
    lostNow = markLost(sess);
    return io == Io::Closed ? closedWhileWaiting : long(NETSDK_ERR_PROTOCOL);
}

/* Runs one request on a login: handle lookup, busy check, the lock wait counted into the call's
 * wait, then the exchange. */
template <class Build>
long request(long lLoginID, int waitMs, uint16_t reqType, Build build, proto::Frame &answer,
             long closedWhileWaiting = NETSDK_ERR_NETWORK)
{
    std::shared_ptr<Session> sess = findSession(lLoginID);
    if (!sess)
        return NETSDK_ERR_HANDLE;
    if (sess->upgrading)
        return NETSDK_ERR_BUSY;
    if (sess->lost)
        return NETSDK_ERR_NETWORK;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    bool lostNow = false;
    long r;
    {
        std::unique_lock<TimedLock> lk(sess->io, std::defer_lock);
        if (!lk.try_lock_until(deadline))
            return NETSDK_ERR_TIMEOUT;
        if (sess->upgrading)
            return NETSDK_ERR_BUSY;
        uint32_t seq = ++sess->seq;
        proto::Bytes req = build(seq, sess->id);
        r = exchangeLocked(sess, req, reqType, seq, deadline, answer, closedWhileWaiting, lostNow);
    }
    if (lostNow)
        notifyLost(sess);
    return r;
}

/* ---- Search port and scope ---- */

uint16_t searchPort()
{
    int p = sdk().searchPort.load();
    if (p > 0)
        return uint16_t(p);
    if (const char *env = std::getenv("TALLOW_NETSDK_SEARCH_PORT")) {
        char *end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0 && v <= 65535)
            return uint16_t(v);
    }
    return proto::kDefaultSearchPort;
}

/* Interface broadcasts only in the real deployment: with a port moved away from the default (tests,
 * simulated fleets) the probe stays on loopback unless asked otherwise. */
bool searchAllInterfaces(uint16_t port)
{
    if (const char *env = std::getenv("TALLOW_NETSDK_SEARCH_SCOPE")) {
        if (std::strcmp(env, "all") == 0)
            return true;
        if (std::strcmp(env, "loopback") == 0)
            return false;
    }
    return port == proto::kDefaultSearchPort;
}

std::vector<sockaddr_in> broadcastTargets(uint16_t port)
{
    std::vector<sockaddr_in> out;
    sockaddr_in lo{};
    lo.sin_family = AF_INET;
    lo.sin_port = htons(port);
    lo.sin_addr.s_addr = htonl(0x7fffffff); /* 127.255.255.255 */
    out.push_back(lo);
    if (!searchAllInterfaces(port))
        return out;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            !(i->ifa_flags & IFF_BROADCAST) || (i->ifa_flags & IFF_LOOPBACK) || !i->ifa_broadaddr)
            continue;
        sockaddr_in b = *reinterpret_cast<sockaddr_in *>(i->ifa_broadaddr);
        b.sin_port = htons(port);
        bool dup = false;
        for (const auto &o : out)
            dup = dup || o.sin_addr.s_addr == b.sin_addr.s_addr;
        if (!dup)
            out.push_back(b);
    }
    ::freeifaddrs(list);
    return out;
}

/* A UDP socket that has sent `datagram` to every target; null when nothing could be sent. */
std::unique_ptr<Socket> udpBroadcast(const proto::Bytes &datagram)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    auto sock = std::make_unique<Socket>(fd);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    // A full fleet answers a search in one burst (256 records); the default receive buffer drops
    // part of it before the first read.
    int rcvbuf = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
        return nullptr;
    int sent = 0;
    for (const sockaddr_in &to : broadcastTargets(searchPort())) {
        if (::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to) == ssize_t(datagram.size()))
            ++sent;
    }
    return sent ? std::move(sock) : nullptr;
}

/* Next valid datagram before the deadline; false at the deadline. */
bool readDatagram(int fd, Clock::time_point deadline, proto::Frame &f)
{
    uint8_t buf[2048];
    for (;;) {
        int ms = remainingMs(deadline);
        if (ms <= 0)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        int n = ::poll(&pfd, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        ssize_t k = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (k <= 0)
            continue;
        if (proto::decodeDatagram(buf, size_t(k), f) == proto::Result::Ok)
            return true;
    }
}

uint32_t randomSeq()
{
    uint8_t b[proto::kNonceSize];
    uint32_t v = 0;
    if (proto::makeNonce(b))
        std::memcpy(&v, b, sizeof v);
    if (v == 0)
        v = uint32_t(Clock::now().time_since_epoch().count()) | 1u;
    return v;
}

bool initialised()
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    return s.refs > 0;
}

/* ---- Upgrade ---- */

int silenceMs()
{
    if (const char *env = std::getenv("TALLOW_NETSDK_UPGRADE_SILENCE_MS")) {
        long v = std::strtol(env, nullptr, 10);
        if (v > 0 && v <= kMaxWaitMs)
            return int(v);
    }
    return kUpgradeSilenceMs;
}

/* One progress report, unless the handle was closed. The application may close the handle (or call
 * anything else of the SDK) from inside the callback. */
void report(Upgrade &u, int total, int position)
{
    {
        std::lock_guard<std::mutex> lk(u.m);
        if (u.closed || !u.cb)
            return;
        u.inCallback = true;
        u.cbThread = std::this_thread::get_id();
    }
    u.cb(u.loginId, u.handle, total, position, u.user);
    {
        std::lock_guard<std::mutex> lk(u.m);
        u.inCallback = false;
    }
    u.cv.notify_all();
}

int finalOf(int32_t deviceStatus)
{
    if (deviceStatus == 0)
        return -1;
    if (deviceStatus < -2)
        return deviceStatus;
    return -2;
}

struct Outcome {
    int final;      /* -1, -2 or a device code below -2 */
    long lastError; /* what GetLastError tells the final callback */
};

Outcome failed(long err)
{
    return {-2, err};
}
Outcome fromDevice(int32_t status)
{
    return {finalOf(status), status == 0 ? 0 : status};
}

/* Handles frames the device sends on its own while we stream or wait. Returns true with `out` set
 * when the upgrade is over. Device progress is passed on only once the package is accepted, so the
 * application never sees a send report after a flashing report. */
bool onUpgradeFrame(Upgrade &u, const proto::Frame &f, bool flashing, Outcome &out)
{
    if (f.header.type == proto::EVT_UPGRADE_RESULT) {
        out = fromDevice(f.header.status);
        return true;
    }
    if (f.header.type == proto::EVT_UPGRADE_PROGRESS) {
        int32_t pct = 0;
        if (proto::decodeUpgradeProgress(f, pct) != proto::Result::Ok) {
            out = failed(NETSDK_ERR_PROTOCOL);
            return true;
        }
        if (flashing)
            report(u, -1, pct);
    }
    return false;
}

/* Waits for the answer to `reqType`/`seq`, forwarding device events meanwhile. */
bool awaitAnswer(Upgrade &u, Session &s, uint16_t reqType, uint32_t seq, int silence, Outcome &out)
{
    proto::Frame f;
    for (;;) {
        if (u.stop) {
            out = failed(NETSDK_ERR_NETWORK);
            return true;
        }
        Io io = readFrame(s.sock->fd, s.reader, Clock::now() + std::chrono::milliseconds(silence), f);
        if (io != Io::Ok) {
            out = failed(ioError(io));
            return true;
        }
        if (f.header.session != s.id) {
            out = failed(NETSDK_ERR_PROTOCOL);
            return true;
        }
        if (f.header.type == proto::answerOf(reqType) && f.header.seq == seq) {
            if (f.header.status != 0) {
                out = fromDevice(f.header.status);
                return true;
            }
            return false;
        }
        if (onUpgradeFrame(u, f, false, out))
            return true;
    }
}

Outcome transfer(Upgrade &u)
{
    Session &s = *u.session;
    const int silence = silenceMs();
    std::unique_lock<TimedLock> lk(s.io); /* bounded by the wait of a call still running */
    if (u.stop || s.lost)
        return failed(NETSDK_ERR_NETWORK);
    const int fd = s.sock->fd;
    auto far = Clock::now() + std::chrono::hours(1); /* sends below are bounded by `silence` instead */
    Outcome out{};

    proto::UpgradeBegin begin;
    begin.total = u.total;
    begin.type = u.type;
    begin.chunk = proto::kMaxUpgradeChunk;
    begin.fileName = u.baseName;
    uint32_t seq = ++s.seq;
    Io io = sendAll(fd, proto::encodeUpgradeBegin(seq, s.id, begin), far, silence);
    if (io != Io::Ok)
        return failed(ioError(io));
    if (awaitAnswer(u, s, proto::MSG_UPGRADE_BEGIN, seq, silence, out))
        return out;

    proto::Sha256 sha;
    std::vector<uint8_t> chunk(proto::kMaxUpgradeChunk);
    uint32_t sent = 0;
    int lastPercent = -1;
    while (sent < u.total) {
        if (u.stop)
            return failed(NETSDK_ERR_NETWORK);
        size_t want = std::min<size_t>(chunk.size(), u.total - sent);
        ssize_t k;
        do {
            k = ::pread(u.fileFd, chunk.data(), want, off_t(sent));
        } while (k < 0 && errno == EINTR);
        if (k <= 0)
            return failed(NETSDK_ERR_FILE); /* the file shrank or became unreadable */
        sha.update(chunk.data(), size_t(k));
        io =
            sendAll(fd, proto::encodeUpgradeData(++s.seq, s.id, sent, chunk.data(), size_t(k)), far, silence);
        if (io != Io::Ok)
            return failed(ioError(io));
        sent += uint32_t(k);

        /* The device may stop us at any time; look without waiting. */
        proto::Frame f;
        for (;;) {
            io = readFrame(fd, s.reader, Clock::now(), f);
            if (io == Io::Timeout)
                break;
            if (io != Io::Ok)
                return failed(ioError(io));
            if (f.header.session != s.id)
                return failed(NETSDK_ERR_PROTOCOL);
            if (onUpgradeFrame(u, f, false, out))
                return out;
        }

        int percent = int(uint64_t(sent) * 100 / u.total);
        if (percent != lastPercent || sent == u.total) {
            lastPercent = percent;
            report(u, int(u.total), int(sent));
        }
    }

    proto::UpgradeEnd end;
    end.total = u.total;
    end.sha256 = sha.final();
    seq = ++s.seq;
    io = sendAll(fd, proto::encodeUpgradeEnd(seq, s.id, end), far, silence);
    if (io != Io::Ok)
        return failed(ioError(io));
    if (awaitAnswer(u, s, proto::MSG_UPGRADE_END, seq, silence, out))
        return out;

    proto::Frame f;
    for (;;) {
        if (u.stop)
            return failed(NETSDK_ERR_NETWORK);
        io = readFrame(fd, s.reader, Clock::now() + std::chrono::milliseconds(silence), f);
        if (io != Io::Ok)
            return failed(ioError(io));
        if (f.header.session != s.id)
            return failed(NETSDK_ERR_PROTOCOL);
        if (onUpgradeFrame(u, f, true, out))
            return out;
    }
}

/* The login ends with its upgrade: the device restarts, and the application regards the device as
 * logged out after the final report. */
void endSession(const std::shared_ptr<Session> &sess)
{
    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.sessions.find(sess->handle);
        if (it != s.sessions.end() && it->second == sess)
            s.sessions.erase(it);
    }
    sess->lost = true;
    sess->sock->abort();
}

void upgradeThread(std::shared_ptr<Upgrade> u)
{
    t_upgradeThread = true;
    Outcome out = transfer(*u);
    endSession(u->session);
    if (out.lastError != 0)
        setError(out.lastError);
    report(*u, -1, out.final);
    {
        std::lock_guard<std::mutex> lk(u->m);
        u->closed = true;   /* exactly one final report */
        u->session.reset(); /* the connection closes now, not when the handle is closed */
    }
    if (u->fileFd >= 0) {
        ::close(u->fileFd);
        u->fileFd = -1;
    }
    u.reset();
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    --s.upgradeThreads;
    s.threadsDone.notify_all();
}

/* After this, no callback of `u` runs (unless we are that callback's own thread, which returns to
 * the SDK right after). */
void closeUpgrade(Upgrade &u)
{
    std::unique_lock<std::mutex> lk(u.m);
    u.closed = true;
    u.stop = true;
    if (u.session)
        u.session->sock->abort();
    u.cv.wait(lk, [&] { return !u.inCallback || u.cbThread == std::this_thread::get_id(); });
}

std::string baseNameOf(const char *path)
{
    std::string p(path);
    size_t slash = p.find_last_of('/');
    std::string b = slash == std::string::npos ? p : p.substr(slash + 1);
    std::string clean;
    for (char c : b)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            clean += c;
    return clean.substr(0, proto::kFileNameField - 1);
}

long configResult(const proto::Frame &answer)
{
    if (answer.header.status < 0) {
        setError(answer.header.status);
        return answer.header.status;
    }
    return 1;
}

} // namespace

/* ==== The C interface ==== */

long H264_DVR_Init(fDisConnect cbDisConnect, unsigned long dwUser)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    ++s.refs;
    s.disconnectCb = cbDisConnect;
    s.disconnectUser = dwUser;
    return 1;
}

int H264_DVR_Cleanup(void)
{
    Sdk &s = sdk();
    std::map<long, std::shared_ptr<Session>> sessions;
    std::map<long, std::shared_ptr<Upgrade>> upgrades;
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0)
            return 0; /* one clean-up too many is harmless */
        if (--s.refs > 0)
            return 1;
        sessions.swap(s.sessions);
        upgrades.swap(s.upgrades);
        s.disconnectCb = nullptr;
    }
    for (auto &u : upgrades)
        closeUpgrade(*u.second);
    for (auto &sess : sessions) {
        sess.second->lost = true;
        sess.second->sock->abort();
    }
    std::unique_lock<std::mutex> lk(s.m);
    const int own = t_upgradeThread ? 1 : 0;
    s.threadsDone.wait(lk, [&] { return s.upgradeThreads <= own || s.refs > 0; });
    return 1;
}

long H264_DVR_GetLastError(void)
{
    return t_lastError;
}

int H264_DVR_SetConnectTime(long nWaitTime, long nTryTimes)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    s.connectWaitMs = clampWait(nWaitTime);
    s.connectTries = int(std::max(1L, std::min(nTryTimes, 100L)));
    return 1;
}

void H264_DVR_SetSearchPort(unsigned short wPort)
{
    sdk().searchPort = wPort;
}

int H264_DVR_SearchDevice(char *pBuf, int nBufLen, int *pRetLen, int nSearchTime)
{
    if (pRetLen)
        *pRetLen = 0;
    if (!pBuf || nBufLen < 0 || !pRetLen) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return 0;
    }
    const size_t capacity = size_t(nBufLen) / sizeof(SDK_CONFIG_NET_COMMON_V2);
    const uint32_t seq = randomSeq();
    std::unique_ptr<Socket> sock = udpBroadcast(proto::encodeSearch(seq));
    if (!sock) {
        setError(NETSDK_ERR_NETWORK);
        return 0;
    }
    const int searchMs = std::max(0, std::min(nSearchTime, kMaxWaitMs));
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(searchMs);
    std::vector<SDK_CONFIG_NET_COMMON_V2> found;
    proto::Frame f;
    while (found.size() < capacity && readDatagram(sock->fd, deadline, f)) {
        if (f.header.type != proto::answerOf(proto::MSG_SEARCH) || f.header.seq != seq)
            continue;
        SDK_CONFIG_NET_COMMON_V2 rec;
        if (proto::decodeSearchAnswer(f, rec) != proto::Result::Ok)
            continue;
        auto same = std::find_if(found.begin(), found.end(), [&](const SDK_CONFIG_NET_COMMON_V2 &o) {
            return std::memcmp(o.HostIP, rec.HostIP, 4) == 0 && std::strncmp(o.sMac, rec.sMac, sizeof o.sMac) == 0;
        });
        if (same != found.end())
            *same = rec;
        else
            found.push_back(rec);
    }
    if (!found.empty())
        std::memcpy(pBuf, found.data(), found.size() * sizeof(SDK_CONFIG_NET_COMMON_V2));
    *pRetLen = int(found.size() * sizeof(SDK_CONFIG_NET_COMMON_V2));
    return 1;
}

long H264_DVR_Login(const char *sDeviceIP, unsigned short wDevicePort, const char *sUserName, const char *sPassword,
                    H264_DVR_DEVICEINFO *lpDeviceInfo, int nMode, int *error)
{
    auto fail = [&](int code, long last) -> long {
        if (error)
            *error = code;
        setError(last);
        return 0;
    };
    Sdk &s = sdk();
    int waitMs, tries;
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0)
            return fail(NETSDK_ERR_NOT_INIT, NETSDK_ERR_NOT_INIT);
        waitMs = s.connectWaitMs;
        tries = s.connectTries;
    }
    std::string user = sUserName ? sUserName : "";
    std::string password = sPassword ? sPassword : "";
    if (user.empty() || user.size() >= proto::kUserField)
        return fail(NETSDK_ERR_PARAM, NETSDK_ERR_PARAM);
    in_addr addr{};
    if (!parseIPv4(sDeviceIP, addr) || wDevicePort == 0)
        return fail(0, NETSDK_ERR_NETWORK);

    std::shared_ptr<Socket> sock = connectTo(addr, wDevicePort, waitMs, tries);
    if (!sock)
        return fail(0, NETSDK_ERR_NETWORK);

    /* The exchange after the connect gets the connect time-out too. */
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    proto::FrameReader reader;
    proto::Frame f;
    auto awaitAnswer = [&](uint16_t type, uint32_t seq) -> Io {
        for (;;) {
            Io io = readFrame(sock->fd, reader, deadline, f);
            if (io != Io::Ok || (f.header.type == proto::answerOf(type) && f.header.seq == seq))
                return io;
        }
    };
    auto ioFail = [&](Io io) -> long {
        if (io == Io::Timeout)
            return fail(NETSDK_ERR_TIMEOUT, NETSDK_ERR_TIMEOUT);
        if (io == Io::Bad)
            return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
        return fail(0, NETSDK_ERR_NETWORK);
    };

    Io io = sendAll(sock->fd, proto::encodeLoginChallenge(1), deadline);
    if (io == Io::Ok)
        io = awaitAnswer(proto::MSG_LOGIN_CHALLENGE, 1);
    if (io != Io::Ok)
        return ioFail(io);
    std::array<uint8_t, proto::kNonceSize> nonce{};
    if (proto::decodeLoginChallengeAnswer(f, nonce) != proto::Result::Ok)
        return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
    if (f.header.status != 0)
        return fail(f.header.status, f.header.status);

    proto::Login login;
    login.user = user;
    login.digest = proto::loginDigest(password, nonce.data(), user);
    login.mode = nMode;
    io = sendAll(sock->fd, proto::encodeLogin(2, login), deadline);
    if (io == Io::Ok)
        io = awaitAnswer(proto::MSG_LOGIN, 2);
    if (io != Io::Ok)
        return ioFail(io);
    H264_DVR_DEVICEINFO info;
    if (proto::decodeLoginAnswer(f, info) != proto::Result::Ok)
        return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
    if (f.header.status != 0)
        return fail(f.header.status, f.header.status);

    auto sess = std::make_shared<Session>();
    std::strncpy(sess->ip, sDeviceIP, sizeof sess->ip - 1);
    sess->port = wDevicePort;
    sess->id = f.header.session;
    sess->sock = sock;
    sess->seq = 2;
    sess->reader = std::move(reader);
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0) /* cleaned up while we were logging in */
            return fail(NETSDK_ERR_NOT_INIT, NETSDK_ERR_NOT_INIT);
        sess->handle = nextHandle(s.nextLogin, s.sessions);
        s.sessions[sess->handle] = sess;
    }
    if (lpDeviceInfo)
        *lpDeviceInfo = info;
    if (error)
        *error = 0;
    return sess->handle;
}

long H264_DVR_Logout(long lLoginID)
{
    std::shared_ptr<Session> sess;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.sessions.find(lLoginID);
        if (it == s.sessions.end()) {
            setError(NETSDK_ERR_HANDLE);
            return 0;
        }
        sess = it->second;
        s.sessions.erase(it);
    }
    /* Polite goodbye only if nobody else is mid-exchange; either way the connection goes. */
    if (!sess->upgrading && !sess->lost) {
        std::unique_lock<TimedLock> lk(sess->io, std::try_to_lock);
        if (lk.owns_lock())
            sendAll(sess->sock->fd, proto::encodeLogout(++sess->seq, sess->id),
                    Clock::now() + std::chrono::milliseconds(kLogoutSendMs));
    }
    sess->lost = true;
    sess->sock->abort();
    return 1;
}

long H264_DVR_GetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpOutBuffer,
                           unsigned long dwOutBufferSize, unsigned long *lpBytesReturned, int waittime)
{
    if (lpBytesReturned)
        *lpBytesReturned = 0;
    if (!lpOutBuffer || dwOutBufferSize == 0 || dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    proto::ConfigGet m;
    m.command = uint32_t(dwCommand);
    m.channel = nChannelNO;
    m.maxSize = uint32_t(std::min<unsigned long>(dwOutBufferSize, proto::kMaxConfigData));
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONFIG_GET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeConfigGet(seq, id, m); }, answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    if (answer.header.status < 0)
        return configResult(answer);
    if (answer.payload.size() > m.maxSize) {
        setError(NETSDK_ERR_PROTOCOL);
        return NETSDK_ERR_PROTOCOL;
    }
    std::memcpy(lpOutBuffer, answer.payload.data(), answer.payload.size());
    if (lpBytesReturned)
        *lpBytesReturned = answer.payload.size();
    return 1;
}

long H264_DVR_SetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                           unsigned long dwInBufferSize, int waittime)
{
    if ((!lpInBuffer && dwInBufferSize) || dwInBufferSize > proto::kMaxConfigData ||
        dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONFIG_SET,
        [&](uint32_t seq, uint32_t id) {
            return proto::encodeConfigSet(seq, id, uint32_t(dwCommand), nChannelNO,
                                          reinterpret_cast<const uint8_t *>(lpInBuffer), dwInBufferSize);
        },
        answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    return configResult(answer);
}

long H264_DVR_SetConfigOverNet(unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                               unsigned long dwInBufferSize, int waittime)
{
    if (!lpInBuffer || dwInBufferSize != sizeof(SDK_NET_BLOCK) || dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    proto::NetSet m;
    m.command = uint32_t(dwCommand);
    m.channel = nChannelNO;
    std::memcpy(&m.block, lpInBuffer, sizeof m.block);
    const std::string mac = proto::fieldText(m.block.sMac, sizeof m.block.sMac);
    if (!proto::isMacText(mac) || !proto::fieldTerminated(m.block.HostName, sizeof m.block.HostName)) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    /* The station MAC is informational; an unterminated one is cut rather than refused. */
    m.block.sHostMac[sizeof m.block.sHostMac - 1] = 0;
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return NETSDK_ERR_NOT_INIT;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(clampWait(waittime));
    const uint32_t seq = randomSeq();
    std::unique_ptr<Socket> sock = udpBroadcast(proto::encodeNetSet(seq, m));
    if (!sock) {
        setError(NETSDK_ERR_NETWORK);
        return NETSDK_ERR_NETWORK;
    }
    proto::Frame f;
    while (readDatagram(sock->fd, deadline, f)) {
        std::string from;
        if (f.header.type != proto::answerOf(proto::MSG_NET_SET) || f.header.seq != seq ||
            proto::decodeNetSetAnswer(f, from) != proto::Result::Ok || !proto::macEqual(from, mac))
            continue;
        if (f.header.status < 0)
            setError(f.header.status);
        return f.header.status;
    }
    setError(NETSDK_ERR_TIMEOUT);
    return NETSDK_ERR_TIMEOUT;
}

int H264_DVR_ControlDVR(long lLoginID, int type, int waittime)
{
    proto::Control m;
    m.type = type;
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONTROL,
        [&](uint32_t seq, uint32_t id) { return proto::encodeControl(seq, id, m); }, answer,
        NETSDK_ERR_TIMEOUT /* a restarting device may drop us before it answers */);
    if (r != 0) {
        setError(r);
        return 0;
    }
    if (answer.header.status < 0) {
        setError(answer.header.status);
        return 0;
    }
    return 1;
}

long H264_DVR_Upgrade(long lLoginID, const char *sFileName, int nType, fUpgradeCallBack cbUpgrade,
                      void *dwUser)
{
    if (!sFileName || !*sFileName) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return 0;
    }
    std::shared_ptr<Session> sess = findSession(lLoginID);
    if (!sess) {
        setError(NETSDK_ERR_HANDLE);
        return 0;
    }
    if (sess->lost) {
        setError(NETSDK_ERR_NETWORK);
        return 0;
    }
    auto u = std::make_shared<Upgrade>();
    u->fileFd = ::open(sFileName, O_RDONLY | O_CLOEXEC);
    struct stat st {
    };
    if (u->fileFd < 0 || ::fstat(u->fileFd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        st.st_size > off_t(proto::kMaxUpgradeSize)) {
        setError(NETSDK_ERR_FILE);
        return 0;
    }
    if (sess->upgrading.exchange(true)) {
        setError(NETSDK_ERR_BUSY);
        return 0;
    }
    u->loginId = lLoginID;
    u->session = sess;
    u->total = uint32_t(st.st_size);
    u->type = nType;
    u->baseName = baseNameOf(sFileName);
    u->cb = cbUpgrade;
    u->user = dwUser;

    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0 || !s.sessions.count(lLoginID)) {
            sess->upgrading = false;
            setError(s.refs == 0 ? NETSDK_ERR_NOT_INIT : NETSDK_ERR_HANDLE);
            return 0;
        }
        u->handle = nextHandle(s.nextUpgrade, s.upgrades);
        s.upgrades[u->handle] = u;
        ++s.upgradeThreads;
    }
    try {
        std::thread(upgradeThread, u).detach();
    } catch (...) {
        std::lock_guard<std::mutex> lk(s.m);
        s.upgrades.erase(u->handle);
        --s.upgradeThreads;
        s.threadsDone.notify_all();
        sess->upgrading = false;
        setError(NETSDK_ERR_BUSY);
        return 0;
    }
    return u->handle;
}

int H264_DVR_CloseUpgradeHandle(long lUpgradeHandle)
{
    std::shared_ptr<Upgrade> u;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.upgrades.find(lUpgradeHandle);
        if (it == s.upgrades.end()) {
            setError(NETSDK_ERR_HANDLE);
            return 0;
        }
        u = it->second;
        s.upgrades.erase(it);
    }
    closeUpgrade(*u);
    return 1;
}

long H264_DVR_GetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  char *szOutBuffer, int nOutBufferSize, int *pRetLen, int nWaitTime)
{
    if (pRetLen)
        *pRetLen = 0;
    if (!szCommandName || !proto::isConfigName(szCommandName) || !szOutBuffer || nOutBufferSize < 2 ||
        nCommand < 0) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    szOutBuffer[0] = 0;
    proto::JsonGet m;
    m.command = uint32_t(nCommand);
    m.channel = nChannelNO;
    m.maxSize = uint32_t(std::min<long>(nOutBufferSize - 1, proto::kMaxConfigData));
    m.name = szCommandName;
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(nWaitTime), proto::MSG_JSON_GET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeJsonGet(seq, id, m); }, answer);
    if (r == 0 && answer.header.status < 0)
        r = answer.header.status;
    std::string text;
    if (r == 0 &&
        (answer.payload.size() > m.maxSize || proto::decodeJsonText(answer, text) != proto::Result::Ok))
        r = NETSDK_ERR_PROTOCOL;
    if (r != 0) {
        setError(r);
        return 0;
    }
    std::memcpy(szOutBuffer, text.data(), text.size());
    szOutBuffer[text.size()] = 0;
    if (pRetLen)
        *pRetLen = int(text.size());
    return 1;
}

long H264_DVR_SetDevConfig_JsonV2_EX(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                     const char *szInBuffer, int nInBufferSize, char *szOutBuffer,
                                     int nOutBufferSize, int nWaitTime)
{
    if (szOutBuffer && nOutBufferSize > 0)
        szOutBuffer[0] = 0;
    if (!szCommandName || !proto::isConfigName(szCommandName) || nCommand < 0 || nInBufferSize < 0 ||
        (!szInBuffer && nInBufferSize > 0) || uint32_t(nInBufferSize) > proto::kMaxJsonText) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    proto::JsonSet m;
    m.command = uint32_t(nCommand);
    m.channel = nChannelNO;
    m.name = szCommandName;
    /* A C string's terminator counted into the length is not part of the text. */
    m.text.assign(szInBuffer ? szInBuffer : "", size_t(nInBufferSize));
    m.text.resize(std::strlen(m.text.c_str()));
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(nWaitTime), proto::MSG_JSON_SET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeJsonSet(seq, id, m); }, answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    std::string text;
    if (szOutBuffer && nOutBufferSize > 0 && proto::decodeJsonText(answer, text) == proto::Result::Ok) {
        size_t n = std::min(text.size(), size_t(nOutBufferSize - 1));
        std::memcpy(szOutBuffer, text.data(), n);
        szOutBuffer[n] = 0;
    }
    return configResult(answer);
}

long H264_DVR_SetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  const char *szInBuffer, int nInBufferSize, int nWaitTime)
{
    return H264_DVR_SetDevConfig_JsonV2_EX(lLoginID, szCommandName, nCommand, nChannelNO, szInBuffer,
                                           nInBufferSize, nullptr, 0, nWaitTime);
}
