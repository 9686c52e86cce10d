#include "server.h"

#include "netsdk/protocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace devsim
{

namespace proto = netsdk::proto;
using Clock = std::chrono::steady_clock;

static_assert(kErrNotSupported == NETSDK_ERR_NOT_SUPPORTED, "device and SDK agree on 'not supported'");
static_assert(kErrBadParam == NETSDK_ERR_PARAM, "device and SDK agree on 'bad request'");

namespace
{

// A device flashes in ten visible steps; the client shows each one.
constexpr int kProgressSteps = 10;
// A peer that stops reading must not pin a connection thread forever.
constexpr int kSendTimeoutSeconds = 10;
// Connections one device serves at once (a real one serves a handful; the protocol asks for 8).
constexpr size_t kMaxSessionsPerDevice = 64;

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool isLoopback(const sockaddr_in &a)
{
    return (ntohl(a.sin_addr.s_addr) >> 24) == 127;
}

} // namespace

// One TCP connection to one device: login, configuration, reboot and upgrade.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(Server &server, Device &device, int fd) : server_(server), device_(device), fd_(fd) {}
    ~Session()
    {
        if (thread_.joinable())
            thread_.join();
        closeFd(fd_);
    }

    void start()
    {
        thread_ = std::thread([this] { run(); });
    }
    /// Wakes the connection thread; it ends on its own.
    void interrupt()
    {
        stop_ = true;
        {
            std::lock_guard<std::mutex> lock(waitMutex_);
        }
        wait_.notify_all();
        ::shutdown(fd_, SHUT_RDWR);
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool finished() const { return finished_; }
    Device *device() { return &device_; }

private:
    void run();
    bool handle(const proto::Frame &f);
    bool send(const proto::Bytes &b);
    void throttle(size_t n);
    bool sleepFor(std::chrono::milliseconds d);
    bool handleLogin(const proto::Frame &f);
    bool handleUpgrade(const proto::Frame &f);
    void abortUpgrade(const std::string &why);
    void flash(uint32_t session, int32_t code);

    Server &server_;
    Device &device_;
    int fd_;
    std::thread thread_;
    std::thread flashThread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::mutex sendMutex_;
    std::mutex waitMutex_;
    std::condition_variable wait_;

    uint32_t session_ = 0;
    bool haveNonce_ = false;
    uint8_t nonce_[proto::kNonceSize] = {};

    // Throttle of a slow link: bytes moved since the connection started.
    Clock::time_point linkStart_ = Clock::now();
    uint64_t linkBytes_ = 0;
    std::mutex linkMutex_;

    struct Upgrade {
        bool active = false;
        FILE *file = nullptr;
        uint32_t total = 0;
        uint64_t received = 0;
        std::unique_ptr<proto::Sha256> sha;
    } up_;
};

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
        if (!proto::makeNonce(nonce_))
            return send(proto::encodeLoginChallengeAnswer(seq, NETSDK_ERR_LOGIN_OTHER, nullptr));
        haveNonce_ = true;
        return send(proto::encodeLoginChallengeAnswer(seq, 0, nonce_));
    }
    proto::Login m;
    if (proto::decodeLogin(f, m) != proto::Result::Ok)
        return send(proto::encodeLoginAnswer(seq, 0, kErrBadParam, nullptr));
    if (!haveNonce_)
        return send(proto::encodeLoginAnswer(seq, 0, NETSDK_ERR_LOGIN_OTHER, nullptr));
    haveNonce_ = false; // a nonce proves one login only
    const auto expected = proto::loginDigest(device_.password(), nonce_, m.user);
    const int32_t code = device_.login(m.user, proto::digestEqual(expected.data(), m.digest.data()));
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
    device_.upgradeAborted(why);
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
        up_.file = std::fopen(device_.upgradeScratchPath().c_str(), "wb");
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
    const int32_t code = device_.burnPackage(device_.upgradeScratchPath(), &error);
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
    const int ms = device_.spec().upgradeMs;
    const int steps = std::max(kProgressSteps, (ms + 999) / 1000);
    const int lastStep = code == 0 ? steps : steps / 2;
    bool ok = true;
    for (int step = 0; ok && step <= lastStep; ++step) {
        ok = send(proto::encodeUpgradeProgress(session, step * 100 / steps));
        if (ok && step < lastStep)
            ok = sleepFor(std::chrono::milliseconds(ms / steps));
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

// ---- Server ----

Server::Server(std::vector<std::unique_ptr<Device>> devices, const ServerOptions &options) : options_(options)
{
    for (auto &d : devices) {
        auto slot = std::make_unique<Slot>();
        slot->device = std::move(d);
        slots_.push_back(std::move(slot));
    }
}

Server::~Server()
{
    stop();
}

Server::Slot *Server::slotOf(Device *device)
{
    for (auto &s : slots_)
        if (s->device.get() == device)
            return s.get();
    return nullptr;
}

bool Server::setUpgrading(Device *device, bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Slot *s = slotOf(device);
    if (!s)
        return false;
    if (on && s->upgrading)
        return false;
    s->upgrading = on;
    return true;
}

int Server::bindListener(const std::string &ip, std::string *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(options_.servicePort);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 || !isLoopback(a)) {
        ::close(fd);
        *error = ip + " is not a loopback address";
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        *error = "cannot listen on " + ip + ":" + std::to_string(options_.servicePort) + ": " +
                 std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Server::start(std::string *error)
{
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "pipe failed";
        return false;
    }
    udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    ::setsockopt(udpFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(udpFd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(options_.searchPort);
    // Probes arrive on loopback and on broadcast addresses; only loopback senders get an answer.
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (udpFd_ < 0 || ::bind(udpFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        *error = "cannot bind the search port " + std::to_string(options_.searchPort) + ": " +
                 std::strerror(errno);
        return false;
    }
    for (auto &s : slots_) {
        s->listenFd = bindListener(s->device->ip(), error);
        if (s->listenFd < 0)
            return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void Server::wake()
{
    const char c = 1;
    if (::write(wakePipe_[1], &c, 1) < 0) {
        // the pipe is full: the loop is awake already
    }
}

void Server::stop()
{
    if (stopping_.exchange(true))
        return;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    std::list<std::shared_ptr<Session>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all.swap(sessions_);
    }
    for (auto &s : all)
        s->interrupt();
    for (auto &s : all)
        s->join();
    all.clear();
    for (auto &s : slots_)
        closeFd(s->listenFd);
    closeFd(udpFd_);
    closeFd(wakePipe_[0]);
    closeFd(wakePipe_[1]);
}

void Server::closeSessionsOf(Device *device)
{
    // Caller holds mutex_.
    for (auto &s : sessions_)
        if (s->device() == device)
            s->interrupt();
}

void Server::scheduleReboot(Device *device, const std::string &moveTo)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot *s = slotOf(device);
        if (!s)
            return;
        // The listener itself is closed by the network thread, the only one that touches it.
        s->away = true;
        s->backAt = Clock::now() + std::chrono::milliseconds(device->spec().rebootMs);
        s->moveOnReturn = moveTo;
        closeSessionsOf(device);
    }
    std::printf("reboot %s away for %d ms\n", device->mac().c_str(), device->spec().rebootMs);
    std::fflush(stdout);
    wake();
}

void Server::reapSessions(bool all)
{
    std::list<std::shared_ptr<Session>> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (all || (*it)->finished()) {
                done.push_back(*it);
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &s : done)
        s->join();
}

void Server::acceptOn(Slot &slot)
{
    for (;;) {
        const int fd = ::accept4(slot.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_t open = 0;
            for (const auto &s : sessions_)
                open += (s->device() == slot.device.get() && !s->finished()) ? 1 : 0;
            // Down for a reboot since the poll, or out of connections: the peer sees a closed line.
            if (slot.away || open >= kMaxSessionsPerDevice) {
                ::close(fd);
                continue;
            }
            session = std::make_shared<Session>(*this, *slot.device, fd);
            sessions_.push_back(session);
        }
        session->start();
    }
}

void Server::handleUdp()
{
    uint8_t buf[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(udpFd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 0)
            return;
        if (!isLoopback(from))
            continue;
        proto::Frame f;
        if (proto::decodeDatagram(buf, size_t(n), f) != proto::Result::Ok)
            continue;
        auto reply = [&](const proto::Bytes &b) {
            ::sendto(udpFd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&from), sizeof from);
        };
        if (f.header.type == proto::MSG_SEARCH) {
            int answered = 0;
            for (auto &s : slots_) {
                bool away;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    away = s->away;
                }
                if (away || s->device->spec().faults.searchSilent)
                    continue;
                reply(proto::encodeSearchAnswer(f.header.seq, s->device->searchRecord(options_.servicePort)));
                // Real devices answer at slightly different moments; a large fleet answering in
                // one instant would overrun a searcher's receive buffer.
                if (++answered % 32 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            continue;
        }
        if (f.header.type != proto::MSG_NET_SET)
            continue;
        proto::NetSet m;
        if (proto::decodeNetSet(f, m) != proto::Result::Ok)
            continue;
        const std::string mac = proto::fieldText(m.block.sMac, sizeof m.block.sMac);
        for (auto &s : slots_) {
            if (!proto::macEqual(mac, s->device->mac()))
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (s->away)
                    break;
            }
            std::string moveTo;
            if (m.command != NETSDK_CFG_NET_COMMON) {
                reply(proto::encodeNetSetAnswer(f.header.seq, kErrNotSupported, s->device->mac()));
                break;
            }
            int32_t status = s->device->netSet(m.block, &moveTo);
            int newFd = -1;
            if (!moveTo.empty()) {
                std::string error;
                newFd = bindListener(moveTo, &error);
                if (newFd < 0) {
                    std::fprintf(stderr, "devsim %s: %s\n", mac.c_str(), error.c_str());
                    status = kErrBadParam;
                }
            }
            if (status != kNoAnswer)
                reply(proto::encodeNetSetAnswer(f.header.seq, status, s->device->mac()));
            if (newFd >= 0) {
                closeFd(s->listenFd);
                s->listenFd = newFd;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    closeSessionsOf(s->device.get());
                }
                s->device->addressChanged(moveTo);
                std::printf("moved %s to %s:%u\n", s->device->mac().c_str(), moveTo.c_str(),
                            unsigned(options_.servicePort));
                std::fflush(stdout);
            }
            break;
        }
    }
}

void Server::run()
{
    std::vector<pollfd> fds;
    std::vector<Slot *> owners;
    while (!stopping_) {
        fds.clear();
        owners.clear();
        fds.push_back({wakePipe_[0], POLLIN, 0});
        fds.push_back({udpFd_, POLLIN, 0});
        int timeout = 500;
        const auto now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto &s : slots_) {
                if (s->away) {
                    closeFd(s->listenFd);
                    const auto left =
                        std::chrono::duration_cast<std::chrono::milliseconds>(s->backAt - now).count();
                    timeout = int(std::max<int64_t>(0, std::min<int64_t>(timeout, left)));
                    continue;
                }
                if (s->listenFd >= 0) {
                    fds.push_back({s->listenFd, POLLIN, 0});
                    owners.push_back(s.get());
                }
            }
        }
        const int rc = ::poll(fds.data(), fds.size(), timeout);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        if (stopping_)
            break;
        if (fds[1].revents & POLLIN)
            handleUdp();
        for (size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                acceptOn(*owners[i - 2]);
        // Devices coming back from a reboot.
        for (auto &s : slots_) {
            std::string ip;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!s->away || Clock::now() < s->backAt)
                    continue;
                ip = s->moveOnReturn.empty() ? s->device->ip() : s->moveOnReturn;
            }
            std::string error;
            const int fd = bindListener(ip, &error);
            std::lock_guard<std::mutex> lock(mutex_);
            if (fd < 0) {
                s->backAt = Clock::now() + std::chrono::seconds(1);
                std::fprintf(stderr, "devsim %s: back from reboot failed: %s\n", s->device->mac().c_str(),
                             error.c_str());
                continue;
            }
            s->listenFd = fd;
            s->away = false;
            if (!s->moveOnReturn.empty())
                s->device->addressChanged(ip);
            s->moveOnReturn.clear();
            std::printf("back %s %s:%u\n", s->device->mac().c_str(), ip.c_str(),
                        unsigned(options_.servicePort));
            std::fflush(stdout);
        }
        reapSessions(false);
    }
}

} // namespace devsim
