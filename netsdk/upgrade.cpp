/*
 * upgrade.cpp - streaming a package to a device on its own thread and passing on the device's
 * progress and verdict.
 */
#include "sdkinternal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace netsdk
{
namespace detail
{

thread_local bool t_upgradeThread = false;

namespace
{

/* Chunks sent between two looks for what the device says meanwhile: 1 MiB of 64 KiB chunks. */
constexpr int kLookEveryChunks = 16;

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

/* Device progress as the application sees it: only rising percentages, at most one report per
 * kProgressIntervalMs (a rise held back meanwhile goes out when its turn comes), 100 % at once. A
 * device alternating 1 % and 2 % as fast as it can thus costs the application three callbacks. */
struct ProgressGate {
    int shown = -1;   /* the last percentage passed on */
    int pending = -1; /* a higher one waiting for its turn, or -1 */
    Clock::time_point shownAt{};

    Clock::time_point due() const { return shownAt + std::chrono::milliseconds(kProgressIntervalMs); }
    void offer(Upgrade &u, int pct)
    {
        if (pct <= std::max(shown, pending))
            return;
        pending = pct;
        if (pct >= 100 || Clock::now() >= due())
            flush(u);
    }
    /* Passes on the pending rise when its turn has come. */
    void flush(Upgrade &u)
    {
        if (pending < 0)
            return;
        shown = pending;
        pending = -1;
        shownAt = Clock::now();
        report(u, -1, shown);
    }
};

/* Handles frames the device sends on its own while we stream or wait. Returns true with `out` set
 * when the upgrade is over. Device progress is passed on (through `gate`) only once the package is
 * accepted, so the application never sees a send report after a flashing report. */
bool onUpgradeFrame(Upgrade &u, const proto::Frame &f, ProgressGate *gate, Outcome &out)
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
        if (gate)
            gate->offer(u, pct);
    }
    return false;
}

/* Waits for the answer to `reqType`/`seq`, at most `silence` in all (events the device sends
 * meanwhile do not extend the wait). */
bool awaitAnswer(Upgrade &u, Session &s, uint16_t reqType, uint32_t seq, int silence, Outcome &out)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(silence);
    proto::Frame f;
    for (;;) {
        if (u.stop) {
            out = failed(NETSDK_ERR_NETWORK);
            return true;
        }
        Io io = readFrame(s.sock->fd, s.reader, deadline, f);
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
        if (onUpgradeFrame(u, f, nullptr, out))
            return true;
    }
}

bool peerGone(int err)
{
    return err == EPIPE || err == ECONNRESET || err == ENOTCONN || err == ESHUTDOWN || err == ETIMEDOUT;
}

/* The package streams through a blocking socket whose sends give up after the silence limit: a
 * sendfile that finds the device's window full then sleeps in the kernel until there is room,
 * rather than coming back for a poll and another call each time. Everything else on the session
 * passes MSG_DONTWAIT or polls first, and the session ends with the upgrade, so nothing else sees
 * the change. False leaves the socket as it was (non-blocking). */
bool blockWhileStreaming(int fd, int silence)
{
    const timeval limit{silence / 1000, (silence % 1000) * 1000};
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 &&
           ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

/* Bytes [offset, offset + n) of the package onto the socket: straight from the page cache where the
 * kernel can, else through a small buffer. `blocking`: the socket blocks up to the silence limit
 * (blockWhileStreaming). Returns 0 or an SDK error code. */
long sendFileRange(int sock, Upgrade &u, uint32_t offset, size_t n, int silence, bool blocking)
{
    off_t pos = off_t(offset);
    const off_t end = pos + off_t(n);
    while (pos < end) {
        if (u.stop)
            return NETSDK_ERR_NETWORK;
        if (u.copyFallback) {
            uint8_t buf[16384];
            const size_t want = std::min<size_t>(sizeof buf, size_t(end - pos));
            const ssize_t k = ::pread(u.fileFd, buf, want, pos);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                return NETSDK_ERR_FILE; /* the file shrank or became unreadable */
            const Io io = sendAll(sock, buf, size_t(k), Clock::now() + std::chrono::hours(1), silence);
            if (io != Io::Ok)
                return ioError(io);
            pos += k;
            continue;
        }
        const ssize_t k = ::sendfile(sock, u.fileFd, &pos, size_t(end - pos));
        if (k > 0)
            continue;
        if (k == 0)
            return NETSDK_ERR_FILE; /* the file ends before its size said */
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (blocking)
                return NETSDK_ERR_TIMEOUT; /* not a byte taken for the whole silence limit */
            pollfd pfd{sock, POLLOUT, 0};
            const int r = ::poll(&pfd, 1, silence);
            if (r == 0)
                return NETSDK_ERR_TIMEOUT;
            if (r < 0 && errno != EINTR)
                return NETSDK_ERR_NETWORK;
            continue;
        }
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            u.copyFallback = true; /* a file system the kernel cannot splice from */
            continue;
        }
        return peerGone(errno) ? long(NETSDK_ERR_NETWORK) : long(NETSDK_ERR_FILE);
    }
    return 0;
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

    /* One digest for every device that gets this file now, before anything goes out. */
    Digest digest{};
    if (const long r = packageDigest(u.fileFd, u.key, u.stop, digest))
        return failed(r);
    /* Another file than the one the application checked (replaced or rewritten since): nothing of it
     * goes out, not even its name. */
    if (u.pinned && !proto::digestEqual(digest.data(), u.expected.data()))
        return failed(NETSDK_ERR_FILE_CHANGED);

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

    const bool blocking = blockWhileStreaming(fd, silence);
    uint32_t sent = 0;
    int lastPercent = -1;
    int chunks = 0;
    while (sent < u.total) {
        if (u.stop)
            return failed(NETSDK_ERR_NETWORK);
        const size_t n = std::min<size_t>(proto::kMaxUpgradeChunk, u.total - sent);
        const auto head = proto::encodeUpgradeDataHead(++s.seq, s.id, sent, n);
        io = sendAll(fd, head.data(), head.size(), far, silence, MSG_MORE);
        if (io != Io::Ok)
            return failed(ioError(io));
        const long r = sendFileRange(fd, u, sent, n, silence, blocking);
        if (r != 0)
            return failed(r);
        sent += uint32_t(n);

        /* The device may stop us at any time; look without waiting, once a megabyte: a look is a
         * system call, and after every 64 KiB chunk it was a third of the streaming's. A bounded
         * look: a device flooding events must not keep us from sending. */
        proto::Frame f;
        const bool look = ++chunks % kLookEveryChunks == 0 || sent == u.total;
        for (int frames = 0; look && frames < 256; ++frames) {
            io = readFrame(fd, s.reader, Clock::now(), f);
            if (io == Io::Timeout)
                break;
            if (io != Io::Ok)
                return failed(ioError(io));
            if (f.header.session != s.id)
                return failed(NETSDK_ERR_PROTOCOL);
            if (onUpgradeFrame(u, f, nullptr, out))
                return out;
        }

        int percent = int(uint64_t(sent) * 100 / u.total);
        if (percent != lastPercent || sent == u.total) {
            lastPercent = percent;
            report(u, int(u.total), int(sent));
        }
    }

    /* The bytes on the wire came from the file as it is now: it must still be the version that was
     * hashed, or the digest would vouch for other bytes. */
    FileKey now;
    if (!currentFileKey(u.fileFd, now) || now != u.key)
        return failed(NETSDK_ERR_FILE);

    proto::UpgradeEnd end;
    end.total = u.total;
    end.sha256 = digest;
    seq = ++s.seq;
    io = sendAll(fd, proto::encodeUpgradeEnd(seq, s.id, end), far, silence);
    if (io != Io::Ok)
        return failed(ioError(io));
    if (awaitAnswer(u, s, proto::MSG_UPGRADE_END, seq, silence, out))
        return out;

    /* Flashing: the device's progress, then its verdict, within the flash deadline however
     * often it speaks. */
    const Clock::time_point flashDeadline = Clock::now() + std::chrono::milliseconds(u.flashDeadlineMs);
    Clock::time_point heardAt = Clock::now();
    ProgressGate gate;
    proto::Frame f;
    for (;;) {
        if (u.stop)
            return failed(NETSDK_ERR_NETWORK);
        const Clock::time_point now = Clock::now();
        if (now >= flashDeadline)
            return {NETSDK_ERR_UPG_DEADLINE, NETSDK_ERR_TIMEOUT};
        if (gate.pending >= 0 && now >= gate.due()) {
            gate.flush(u);
            continue;
        }
        Clock::time_point wake = std::min(heardAt + std::chrono::milliseconds(silence), flashDeadline);
        if (gate.pending >= 0)
            wake = std::min(wake, gate.due());
        io = readFrame(fd, s.reader, wake, f);
        if (io == Io::Timeout && Clock::now() < heardAt + std::chrono::milliseconds(silence))
            continue; /* a held-back report's turn, or the deadline: both looked at above */
        if (io != Io::Ok)
            return failed(ioError(io));
        heardAt = Clock::now();
        if (f.header.session != s.id)
            return failed(NETSDK_ERR_PROTOCOL);
        if (onUpgradeFrame(u, f, &gate, out))
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

} // namespace

void upgradeThread(std::shared_ptr<Upgrade> u)
{
    t_upgradeThread = true;
    /* Named for whoever looks at the process: a debugger, top -H, a profile split by thread name. */
    ::pthread_setname_np(::pthread_self(), "netsdk-upgrade");
    Outcome out;
    if (u->onvif) {
        out.final = onvifTransfer(
            *u, [&](int total, int sent) { report(*u, total, sent); }, out.lastError);
        onvifEndSession(u->onvif);
    } else {
        out = transfer(*u);
        endSession(u->session);
    }
    if (out.lastError != 0)
        setError(out.lastError);
    report(*u, -1, out.final);
    {
        std::lock_guard<std::mutex> lk(u->m);
        u->closed = true;   /* exactly one final report */
        u->session.reset(); /* the connection closes now, not when the handle is closed */
        u->onvif.reset();
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

} // namespace detail
} // namespace netsdk
