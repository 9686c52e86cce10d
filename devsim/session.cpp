#include "session.h"

#include "server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace devsim
{

using Clock = std::chrono::steady_clock;

namespace
{

// A device flashes in ten visible steps; the client shows each one.
constexpr int kProgressSteps = 10;
// A peer that stops reading must not pin a connection thread forever.
constexpr int kSendTimeoutSeconds = 10;

} // namespace

Session::~Session()
{
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        ::close(fd_);
}

void Session::throttle(size_t n)
{
    const uint32_t bps = device_.spec().faults.bytesPerSecond;
    if (bps == 0)
        return;
    Clock::time_point due;
    {
        std::lock_guard<std::mutex> lock(linkMutex_);
        linkBytes_ += n;
        due = linkStart_ + std::chrono::microseconds(linkBytes_ * 1000000ull / bps);
    }
    const auto now = Clock::now();
    if (due > now)
        sleepFor(std::chrono::duration_cast<std::chrono::milliseconds>(due - now) +
                 std::chrono::milliseconds(1));
}

void Session::shareLink(size_t n)
{
    LinkBucket *link = server_.link();
    if (!link)
        return;
    const auto when = link->take(n, Clock::now());
    std::unique_lock<std::mutex> lock(waitMutex_);
    wait_.wait_until(lock, when, [this] { return stop_.load(); });
}

bool Session::sleepFor(std::chrono::milliseconds d)
{
    std::unique_lock<std::mutex> lock(waitMutex_);
    return !wait_.wait_for(lock, d, [this] { return stop_.load(); });
}

bool Session::send(const proto::Bytes &b)
{
    throttle(b.size());
    std::lock_guard<std::mutex> lock(sendMutex_);
    size_t off = 0;
    while (off < b.size()) {
        const ssize_t n = ::send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}

void Session::run()
{
    timeval tv{kSendTimeoutSeconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const Faults &faults = device_.spec().faults;
    proto::FrameReader reader;
    std::vector<uint8_t> buf(65536);
    // A slow link reads in small bites so that the sender feels the throttle.
    size_t bite = buf.size();
    if (faults.bytesPerSecond > 0)
        bite = std::max<size_t>(64, std::min<size_t>(buf.size(), faults.bytesPerSecond / 20));
    bool alive = true;
    while (alive && !stop_) {
        const ssize_t n = ::recv(fd_, buf.data(), bite, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (faults.silent)
            continue; // accepts and reads, never answers
        throttle(size_t(n));
        shareLink(size_t(n));
        reader.feed(buf.data(), size_t(n));
        proto::Frame f;
        for (;;) {
            const proto::Result r = reader.next(f);
            if (r == proto::Result::Incomplete)
                break;
            if (r != proto::Result::Ok) {
                std::fprintf(stderr, "devsim %s: closing a connection: %s\n", device_.mac().c_str(),
                             proto::resultText(r));
                alive = false;
                break;
            }
            if (!handle(f)) {
                alive = false;
                break;
            }
        }
    }
    if (up_.active)
        abortUpgrade("connection closed after " + std::to_string(up_.received) + " bytes");
    stop_ = true;
    wait_.notify_all();
    if (flashThread_.joinable())
        flashThread_.join();
    ::shutdown(fd_, SHUT_RDWR);
    finished_ = true;
}

bool Session::handleLogin(const proto::Frame &f)
{
    const uint32_t seq = f.header.seq;
    if (f.header.type == proto::MSG_LOGIN_CHALLENGE) {
        // A busy device says so at once and takes no session.
        if (device_.spec().faults.loginError == NETSDK_ERR_SYSTEM_BUSY) {
            device_.login(std::string(), false);
            send(proto::encodeLoginChallengeAnswer(seq, NETSDK_ERR_SYSTEM_BUSY, nullptr));
            return false;
        }
        if (proto::decodeLoginChallenge(f, clientNonce_) != proto::Result::Ok)
            return send(proto::encodeLoginChallengeAnswer(seq, kErrBadParam, nullptr));
        if (!proto::makeNonce(deviceNonce_.data()))
            return send(proto::encodeLoginChallengeAnswer(seq, NETSDK_ERR_LOGIN_OTHER, nullptr));
        haveNonce_ = true;
        proto::LoginChallengeAnswer a;
        a.deviceNonce = deviceNonce_;
        a.iterations = device_.kdfIterations();
        a.salt = device_.loginSalt();
        a.mac = device_.mac();
        return send(proto::encodeLoginChallengeAnswer(seq, 0, &a));
    }
    proto::Login m;
    if (proto::decodeLogin(f, m) != proto::Result::Ok)
        return send(proto::encodeLoginAnswer(seq, 0, kErrBadParam, nullptr));
    if (!haveNonce_)
        return send(proto::encodeLoginAnswer(seq, 0, NETSDK_ERR_LOGIN_OTHER, nullptr));
    haveNonce_ = false; // a nonce proves one login only
    // The proof is bound to this device's own MAC and both nonces: one made for another device's
    // challenge (relayed to us) does not match.
    std::array<uint8_t, proto::kDigestSize> key{};
    bool proofOk = device_.loginKey(&key);
    if (proofOk) {
        const auto expected = proto::loginProof(key, clientNonce_, deviceNonce_, device_.mac(), m.user);
        proofOk = proto::digestEqual(expected.data(), m.digest.data());
    }
    const int32_t code = device_.login(m.user, proofOk);
    if (code != 0) {
        send(proto::encodeLoginAnswer(seq, 0, code, nullptr));
        return false; // a refused login ends the connection
    }
    session_ = server_.nextSession_++;
    if (session_ == 0)
        session_ = server_.nextSession_++;
    const H264_DVR_DEVICEINFO info = device_.deviceInfo();
    return send(proto::encodeLoginAnswer(seq, session_, 0, &info));
}

bool Session::handle(const proto::Frame &f)
{
    const proto::Header &h = f.header;
    if (h.type & proto::kAnswerBit || (h.type & 0x4000))
        return false; // a client sends requests only
    if (h.type == proto::MSG_LOGIN_CHALLENGE || h.type == proto::MSG_LOGIN)
        return handleLogin(f);
    if (h.type == proto::MSG_UPGRADE_DATA && session_ != 0 && h.session == session_)
        return handleUpgrade(f);
    if (session_ == 0 || h.session != session_) {
        if (h.type == proto::MSG_UPGRADE_DATA)
            return false;
        send(proto::encodeAnswer(h.type, h.seq, h.session, proto::ERR_SESSION));
        return session_ != 0; // before login the connection ends
    }
    const uint32_t seq = h.seq;
    switch (h.type) {
    case proto::MSG_LOGOUT:
        send(proto::encodeAnswer(h.type, seq, session_, 0));
        return false;
    case proto::MSG_CONFIG_GET: {
        proto::ConfigGet m;
        if (proto::decodeConfigGet(f, m) != proto::Result::Ok)
            return send(proto::encodeAnswer(h.type, seq, session_, kErrBadParam));
        std::vector<uint8_t> data;
        int32_t status = device_.getConfig(m.command, server_.options_.servicePort, &data);
        if (status == kNoAnswer)
            return true;
        if (status == 0 && data.size() > m.maxSize)
            status = NETSDK_ERR_BUFFER;
        if (status != 0)
            return send(proto::encodeAnswer(h.type, seq, session_, status));
        return send(proto::encodeAnswer(h.type, seq, session_, 0, data.data(), data.size()));
    }
    case proto::MSG_CONFIG_SET: {
        proto::ConfigSet m;
        if (proto::decodeConfigSet(f, m) != proto::Result::Ok)
            return send(proto::encodeAnswer(h.type, seq, session_, kErrBadParam));
        const int32_t status = device_.setConfig(m.command, m.data.data(), m.data.size());
        if (status == kNoAnswer)
            return true;
        return send(proto::encodeAnswer(h.type, seq, session_, status));
    }
    case proto::MSG_JSON_GET: {
        proto::JsonGet m;
        if (proto::decodeJsonGet(f, m) != proto::Result::Ok)
            return send(proto::encodeAnswer(h.type, seq, session_, kErrBadParam));
        JsonAnswer a = device_.getJson(m.name, m.command);
        if (a.status == kNoAnswer)
            return true;
        if (a.status == 0 && a.text.size() > m.maxSize)
            a.status = NETSDK_ERR_BUFFER;
        if (a.status != 0)
            return send(proto::encodeAnswer(h.type, seq, session_, a.status));
        return send(proto::encodeAnswer(h.type, seq, session_, 0,
                                        reinterpret_cast<const uint8_t *>(a.text.data()), a.text.size()));
    }
    case proto::MSG_JSON_SET: {
        proto::JsonSet m;
        if (proto::decodeJsonSet(f, m) != proto::Result::Ok)
            return send(proto::encodeAnswer(h.type, seq, session_, kErrBadParam));
        JsonAnswer a = device_.setJson(m.name, m.command, m.text);
        if (a.status == kNoAnswer)
            return true;
        return send(proto::encodeAnswer(h.type, seq, session_, a.status,
                                        reinterpret_cast<const uint8_t *>(a.text.data()), a.text.size()));
    }
    case proto::MSG_CONTROL: {
        proto::Control m;
        if (proto::decodeControl(f, m) != proto::Result::Ok || m.type != proto::kControlReboot)
            return send(proto::encodeAnswer(h.type, seq, session_, kErrNotSupported));
        std::string moveTo;
        const int32_t status = device_.reboot(&moveTo);
        if (status != 0 && status != kNoAnswer)
            return send(proto::encodeAnswer(h.type, seq, session_, status));
        if (status == 0)
            send(proto::encodeAnswer(h.type, seq, session_, 0));
        server_.scheduleReboot(&device_, moveTo);
        return false;
    }
    case proto::MSG_UPGRADE_BEGIN:
    case proto::MSG_UPGRADE_END:
        return handleUpgrade(f);
    default:
        return send(proto::encodeAnswer(h.type, seq, session_, kErrNotSupported));
    }
}

void Session::abortUpgrade(const std::string &why)
{
    if (up_.file)
        std::fclose(up_.file);
    up_.file = nullptr;
    up_.active = false;
    up_.sha.reset();
    device_.upgradeAborted(why, up_.path);
    server_.setUpgrading(&device_, false);
}

bool Session::handleUpgrade(const proto::Frame &f)
{
    const proto::Header &h = f.header;
    if (h.type == proto::MSG_UPGRADE_BEGIN) {
        proto::UpgradeBegin m;
        if (proto::decodeUpgradeBegin(f, m) != proto::Result::Ok)
            return send(proto::encodeAnswer(h.type, h.seq, session_, kErrBadParam));
        if (up_.active || flashThread_.joinable() || !server_.setUpgrading(&device_, true))
            return send(proto::encodeAnswer(h.type, h.seq, session_, NETSDK_ERR_BUSY));
        up_ = Upgrade();
        // Streamed to disk: a device never holds a whole package in memory.
        up_.path = device_.newUpgradeScratchPath();
        up_.file = std::fopen(up_.path.c_str(), "wb");
        if (!up_.file) {
            server_.setUpgrading(&device_, false);
            return send(proto::encodeAnswer(h.type, h.seq, session_, NETSDK_ERR_UPG_NO_MEMORY));
        }
        up_.active = true;
        up_.total = m.total;
        up_.sha.reset(new proto::Sha256);
        return send(proto::encodeAnswer(h.type, h.seq, session_, 0));
    }
    if (h.type == proto::MSG_UPGRADE_DATA) {
        uint32_t offset = 0;
        const uint8_t *data = nullptr;
        size_t n = 0;
        if (!up_.active)
            return false; // data without a begun upgrade: the stream is out of step
        if (proto::decodeUpgradeData(f, offset, data, n) != proto::Result::Ok || offset != up_.received ||
            up_.received + n > up_.total) {
            abortUpgrade("upgrade data out of order");
            send(proto::encodeUpgradeResult(session_, NETSDK_ERR_UPG_BAD_PACKET));
            return false;
        }
        const int64_t dropAt = device_.spec().faults.dropAfterUpgradeBytes;
        if (dropAt >= 0 && int64_t(up_.received + n) >= dropAt) {
            abortUpgrade("connection dropped after " + std::to_string(dropAt) + " bytes (fault)");
            return false;
        }
        if (std::fwrite(data, 1, n, up_.file) != n) {
            abortUpgrade("cannot store the package");
            send(proto::encodeUpgradeResult(session_, NETSDK_ERR_UPG_NO_MEMORY));
            return false;
        }
        up_.sha->update(data, n);
        up_.received += n;
        return true;
    }
    // UPGRADE_END: the device checks what it received before it answers.
    if (!up_.active)
        return send(proto::encodeAnswer(h.type, h.seq, session_, kErrBadParam));
    proto::UpgradeEnd m;
    const bool decoded = proto::decodeUpgradeEnd(f, m) == proto::Result::Ok;
    const bool closed = std::fclose(up_.file) == 0;
    up_.file = nullptr;
    const auto digest = up_.sha->final();
    if (!decoded || !closed || m.total != up_.total || up_.received != up_.total || digest != m.sha256) {
        abortUpgrade("package incomplete or its digest does not match");
        send(proto::encodeAnswer(h.type, h.seq, session_, NETSDK_ERR_UPG_BAD_PACKET));
        return false;
    }
    up_.active = false;
    std::string error;
    const int32_t code = device_.burnPackage(up_.path, &error);
    const int32_t forced = device_.spec().faults.upgradeResult;
    if (code != 0)
        std::fprintf(stderr, "devsim %s: upgrade ends with %d: %s\n", device_.mac().c_str(), code,
                     error.c_str());
    if (code != 0 && code != forced) {
        // Refused package: the END answer carries the verdict and the session is over.
        server_.setUpgrading(&device_, false);
        send(proto::encodeAnswer(h.type, h.seq, session_, code));
        return false;
    }
    if (!send(proto::encodeAnswer(h.type, h.seq, session_, 0))) {
        server_.setUpgrading(&device_, false);
        return false;
    }
    flashThread_ = std::thread([this, id = session_, code] { flash(id, code); });
    return true;
}

void Session::flash(uint32_t session, int32_t code)
{
    // Progress at least once a second so that a long flash never looks like a silent device; a
    // forced failure stops half-way.
    const Faults &faults = device_.spec().faults;
    bool ok = true;
    if (faults.progressFlood) {
        // 1 %, 2 %, 1 %, ... as fast as the connection takes them, never a result: only the
        // client's flash deadline ends it.
        for (uint32_t i = 0; ok && !stop_; ++i)
            ok = send(proto::encodeUpgradeProgress(session, int32_t(1 + i % 2)));
        ok = false;
    } else if (faults.progressTrickleMs > 0) {
        // One step every progressTrickleMs, inside the client's silence limit but past any sane
        // flash time.
        for (int pct = 0; ok && pct <= 100; ++pct) {
            ok = send(proto::encodeUpgradeProgress(session, pct));
            if (ok && pct < 100)
                ok = sleepFor(std::chrono::milliseconds(faults.progressTrickleMs));
        }
    } else {
        const int ms = device_.spec().upgradeMs;
        const int steps = std::max(kProgressSteps, (ms + 999) / 1000);
        const int lastStep = code == 0 ? steps : steps / 2;
        for (int step = 0; ok && step <= lastStep; ++step) {
            ok = send(proto::encodeUpgradeProgress(session, step * 100 / steps));
            if (ok && step < lastStep)
                ok = sleepFor(std::chrono::milliseconds(ms / steps));
        }
    }
    if (ok)
        send(proto::encodeUpgradeResult(session, code));
    server_.setUpgrading(&device_, false);
    // The session ends with the result; a device that restarts after a burn goes away now.
    ::shutdown(fd_, SHUT_RDWR);
    if (code == 0 && device_.spec().rebootAfterUpgrade) {
        std::string moveTo;
        const int32_t r = device_.reboot(&moveTo);
        if (r == 0 || r == kNoAnswer)
            server_.scheduleReboot(&device_, moveTo);
    }
}

} // namespace devsim
