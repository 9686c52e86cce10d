/*
 * sdkinternal.h - what the SDK's own sources share: sockets, the login and upgrade state, and the
 * one-exchange helper every configuration call runs through. Not installed; the application sees
 * netsdk.h only.
 *
 * Threads: calls run on the caller's thread; the only threads of our own are one per running
 * upgrade. No global lock is held across network I/O or an application callback.
 */
#pragma once

#include "netsdk.h"
#include "packagedigest.h"
#include "protocol.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace netsdk
{
namespace detail
{

using Clock = std::chrono::steady_clock;

constexpr int kDefaultWaitMs = 3000;
constexpr int kMaxWaitMs = 600000;
constexpr int kUpgradeSilenceMs = 15000;
/* From the package's acceptance to the device's verdict. Genuine devices flash in a few minutes;
 * a device that keeps trickling or flooding progress must not hold its row for ever. */
constexpr int kFlashDeadlineMs = 600000;
/* Device progress reaches the application at most this often per upgrade (the final 100 % and
 * the final report always do). */
constexpr int kProgressIntervalMs = 100;
constexpr int kLogoutSendMs = 200;
/* Search answers kept from one sender address (a device answers for itself; a few spare places for
 * a host that fronts several devices). */
constexpr int kMaxSearchAnswersPerSource = 4;

/* The code H264_DVR_GetLastError gives on this thread. */
void setError(long code);
long lastError();
/* True on the SDK's own upgrade threads (clean-up from a final report must not wait for itself). */
extern thread_local bool t_upgradeThread;

inline int clampWait(long ms)
{
    return ms <= 0 ? kDefaultWaitMs : int(std::min<long>(ms, kMaxWaitMs));
}

inline int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return int(std::min<long long>(left, kMaxWaitMs));
}

/* ---- Sockets (sockets.cpp) ---- */

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

/* `flags` go to send() as they are (MSG_MORE for a frame head whose payload follows). */
Io sendAll(int fd, const uint8_t *p, size_t n, Clock::time_point deadline, int idleMs = -1, int flags = 0);

inline Io sendAll(int fd, const proto::Bytes &b, Clock::time_point deadline, int idleMs = -1)
{
    return sendAll(fd, b.data(), b.size(), deadline, idleMs);
}

/* Next whole frame, or why there is none. Bytes of a frame that is still incomplete stay in the
 * reader, so a call that timed out mid-frame does not desynchronise the next one. */
Io readFrame(int fd, proto::FrameReader &reader, Clock::time_point deadline, proto::Frame &f);
bool parseIPv4(const char *text, in_addr &out);
/* Connect with the SDK's connect time-out per try. */
std::shared_ptr<Socket> connectTo(const in_addr &addr, uint16_t port, int waitMs, int tries);

/* ---- State (sessions.cpp) ---- */

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

struct OnvifSession; /* onvifclient.h */

struct Upgrade {
    long handle = 0;
    long loginId = 0;
    std::shared_ptr<Session> session;
    std::shared_ptr<OnvifSession> onvif; /* instead of `session` for an ONVIF device */
    int fileFd = -1;
    FileKey key;         /* the file as it was opened: what the digest must belong to */
    bool pinned = false; /* only the version whose digest is `expected` may be sent */
    Digest expected{};
    bool copyFallback = false; /* the file cannot be spliced: copy it through a buffer */
    uint32_t total = 0;
    int32_t type = 0;
    std::string baseName;
    int flashDeadlineMs = kFlashDeadlineMs;
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
    /* ONVIF logins share the handle space of `sessions`. */
    std::map<long, std::shared_ptr<OnvifSession>> onvifSessions;
    long nextLogin = 1;
    long nextUpgrade = 1;
    int upgradeThreads = 0;
    std::condition_variable threadsDone;
    std::atomic<int> searchPort{0}; /* 0: not set by the application */
    std::atomic<int> flashDeadlineMs{kFlashDeadlineMs};
    /* The MAC each address announced in our last searches: a login there expects that identity. */
    std::map<uint32_t, std::string> searchedMacs;
    /* Derived login keys by (password, salt, iterations); see loginKeyFor. */
    std::map<std::string, std::array<uint8_t, proto::kDigestSize>> loginKeys;
};

/* Remembers the identity a search answer announced for its address, when it came from that address
 * (network order): one host cannot pin identities on other devices' addresses. */
void rememberSearchedMac(const SDK_CONFIG_NET_COMMON_V2 &rec, uint32_t from);
/* A device confirmed an address change: it is known at its new address (network order) only. */
void deviceMoved(const std::string &mac, uint32_t address);
/* The MAC a search found at this address (network order), or empty. */
std::string searchedMacAt(uint32_t address);
/* The login key for (password, salt, iterations), derived once and kept: the slow derivation is paid
 * once per device password, not once per login. */
std::array<uint8_t, proto::kDigestSize> loginKeyFor(const std::string &password,
                                                    const std::array<uint8_t, proto::kSaltSize> &salt,
                                                    uint32_t iterations);

/* Never destroyed: upgrade threads may still be leaving while the process exits. */
Sdk &sdk();
bool initialised();

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

/* A login handle free in both kinds of login. Called with s.m held. */
long nextLoginHandle(Sdk &s);

std::shared_ptr<Session> findSession(long handle);
/* A session whose connection broke. True the first time, when the application is to be told (by
 * notifyLost, once no lock of ours is held any more). */
bool markLost(const std::shared_ptr<Session> &sess);
void notifyLost(const std::shared_ptr<Session> &sess);
long ioError(Io io);
/* One request/answer exchange on a session. Returns 0 or an SDK error code. A connection closed
 * while we wait for the answer gives `closedWhileWaiting`. The caller holds sess.io. */
long exchangeLocked(const std::shared_ptr<Session> &sess, const proto::Bytes &req, uint16_t reqType,
                    uint32_t seq, Clock::time_point deadline, proto::Frame &answer, long closedWhileWaiting,
                    bool &lostNow);

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

/* ---- Discovery (discovery.cpp) ---- */

uint16_t searchPort();
/* A UDP socket that has sent `datagram` to every target; null when nothing could be sent. */
std::unique_ptr<Socket> udpBroadcast(const proto::Bytes &datagram);
/* Next valid datagram before the deadline; false at the deadline. */
/* The next valid frame before the deadline; `from` (if given) gets the sender's IPv4 address. */
bool readDatagram(int fd, Clock::time_point deadline, proto::Frame &f, uint32_t *from = nullptr);
uint32_t randomSeq();

/* ---- Upgrade streaming (upgrade.cpp) ---- */

void upgradeThread(std::shared_ptr<Upgrade> u);
/* An ONVIF device's upgrade (onvifclient.cpp): `progress` passes (total, sent) on. Returns the final
 * report (-1, -2) and sets `lastError` for a failure. */
int onvifTransfer(Upgrade &u, const std::function<void(int, int)> &progress, long &lastError);
/* The login ends with its upgrade, as for the devices' own protocol. */
void onvifEndSession(const std::shared_ptr<OnvifSession> &s);
/* After this, no callback of `u` runs (unless we are that callback's own thread, which returns to
 * the SDK right after). */
void closeUpgrade(Upgrade &u);
std::string baseNameOf(const char *path);

} // namespace detail
} // namespace netsdk
