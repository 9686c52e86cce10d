#include "fakedevice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

using namespace netsdk::proto;

namespace
{

constexpr uint32_t kSession = 0x5eed;

std::array<uint8_t, kSaltSize> loginSalt()
{
    std::array<uint8_t, kSaltSize> salt{};
    for (size_t i = 0; i < salt.size(); ++i)
        salt[i] = uint8_t(0xa0 + i);
    return salt;
}

bool sendBytes(int fd, const Bytes &b)
{
    size_t off = 0;
    while (off < b.size()) {
        ssize_t k = ::send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        off += size_t(k);
    }
    return true;
}

uint16_t boundPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    return ntohs(sa.sin_port);
}

} // namespace

FakeDevice::FakeDevice(DeviceScript script, bool withSearch) : script_(std::move(script))
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 64) != 0)
        throw std::runtime_error("fake device: cannot listen");
    port_ = boundPort(listenFd_);
    acceptThread_ = std::thread([this] { acceptLoop(); });

    if (withSearch) {
        /* Bound to the wildcard address: a socket on one 127.0.0.x address misses the broadcast. */
        udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (::bind(udpFd_, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
            throw std::runtime_error("fake device: cannot bind UDP");
        searchPort_ = boundPort(udpFd_);
        searchThread_ = std::thread([this] { searchLoop(); });
    }
}

FakeDevice::~FakeDevice()
{
    stop_ = true;
    acceptThread_.join();
    if (searchThread_.joinable())
        searchThread_.join();
    std::vector<std::thread> conns;
    {
        std::lock_guard<std::mutex> lk(m_);
        conns.swap(conns_);
        for (int fd : open_)
            ::shutdown(fd, SHUT_RDWR); /* wakes a connection's blocked receive */
    }
    for (auto &t : conns)
        t.join();
    ::close(listenFd_);
    if (udpFd_ >= 0)
        ::close(udpFd_);
}

FakeDevice::Seen FakeDevice::seen()
{
    std::lock_guard<std::mutex> lk(m_);
    return seen_;
}

void FakeDevice::addSearchDatagram(Bytes datagram, const std::string &fromIp)
{
    std::lock_guard<std::mutex> lk(m_);
    extraSearch_.push_back({std::move(datagram), fromIp});
}

void FakeDevice::acceptLoop()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lk(m_);
        open_.insert(fd);
        conns_.emplace_back([this, fd] { serve(fd); });
    }
}

void FakeDevice::serve(int fd)
{
    /* A plain blocking receive, as a device's own loop would be (the destructor's shutdown wakes
     * it): one call per chunk while a client streams, no timer, and the chunks are hashed where they
     * were received. */
    FrameReader reader;
    Conn conn;
    bool open = true;
    while (open && !stop_) {
        size_t room = 65536 + kHeaderSize + 4;
        uint8_t *to = reader.space(room);
        ssize_t k = ::recv(fd, to, room, 0);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        reader.commit(size_t(k));
        FrameView v;
        Result r;
        while (open && (r = reader.next(v)) == Result::Ok)
            open = v.header.type == MSG_UPGRADE_DATA ? handleData(fd, conn, v) : handle(fd, conn, v.copy());
        if (open && r != Result::Incomplete)
            open = false; /* a header we cannot trust: drop the connection */
    }
    std::lock_guard<std::mutex> lk(m_);
    open_.erase(fd); /* closed under the lock: the destructor never shuts a reused descriptor */
    ::close(fd);
}

bool FakeDevice::handleData(int fd, Conn &c, const FrameView &f)
{
    const DeviceScript &s = script_;
    const uint32_t session = f.header.session;
    uint32_t off;
    const uint8_t *p;
    size_t n;
    if (s.silentAfterLogin)
        return true;
    if (!c.sha || decodeUpgradeData(f, off, p, n) != Result::Ok || off != c.received)
        return false;
    if (s.dataDelayMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(s.dataDelayMs));
    c.sha->update(p, n);
    c.received += uint32_t(n);
    if (s.stallAfterBytes && c.received >= s.stallAfterBytes) {
        while (!stop_) /* reads nothing more, and keeps the connection */
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return false;
    }
    if (s.earlyProgress && c.received == n)
        sendBytes(fd, encodeUpgradeProgress(session, 5));
    if (s.resultAfterChunks && !c.resultSent) {
        c.resultSent = true;
        sendBytes(fd, encodeUpgradeResult(session, s.resultAfterChunks));
    }
    return true;
}

/* Returns false to close the connection. */
bool FakeDevice::handle(int fd, Conn &c, const Frame &f)
{
    const DeviceScript &s = script_;
    const uint32_t seq = f.header.seq;
    switch (f.header.type) {
    case MSG_LOGIN_CHALLENGE: {
        if (s.silentLogin)
            return true;
        if (decodeLoginChallenge(f, c.clientNonce) != Result::Ok || !makeNonce(c.deviceNonce.data()))
            return false;
        {
            std::lock_guard<std::mutex> lk(m_);
            seen_.clientNonces.push_back(c.clientNonce);
        }
        c.challenged = true;
        LoginChallengeAnswer a;
        a.deviceNonce = c.deviceNonce;
        a.kdf = s.kdf;
        a.iterations = s.kdfIterations;
        a.salt = loginSalt();
        a.mac = s.mac;
        sendBytes(fd, encodeLoginChallengeAnswer(seq, s.challengeStatus, &a));
        return s.challengeStatus == 0;
    }
    case MSG_LOGIN: {
        Login l;
        if (decodeLogin(f, l) != Result::Ok || !c.challenged)
            return false;
        {
            std::lock_guard<std::mutex> lk(m_);
            ++seen_.loginAttempts;
        }
        int32_t status = s.loginStatus;
        if (status == 0 && l.user != s.user)
            status = NETSDK_ERR_NO_USER;
        if (status == 0) {
            const auto key = storedKey(s.password, s.kdfIterations);
            if (!digestEqual(l.digest.data(),
                             loginProof(key, c.clientNonce, c.deviceNonce, s.mac, s.user).data()))
                status = NETSDK_ERR_PASSWORD;
        }
        H264_DVR_DEVICEINFO info{};
        setField(info.sSoftWareVersion, sizeof info.sSoftWareVersion, "V1.0.0");
        setField(info.sHardWare, sizeof info.sHardWare, "HW-TEST");
        setField(info.sSerialNumber, sizeof info.sSerialNumber, "SN0001");
        info.BuildYear = 2024;
        info.BuildMonth = 5;
        info.BuildDay = 6;
        sendBytes(fd, encodeLoginAnswer(seq, kSession, status, &info));
        if (status == 0) {
            std::lock_guard<std::mutex> lk(m_);
            ++seen_.logins;
        }
        return status == 0;
    }
    default:
        break;
    }
    if (s.silentAfterLogin)
        return true;
    const uint32_t session = f.header.session;
    switch (f.header.type) {
    case MSG_LOGOUT: {
        std::lock_guard<std::mutex> lk(m_);
        ++seen_.logouts;
        return false;
    }
    case MSG_CONFIG_GET: {
        if (s.configGetReply) {
            sendBytes(fd, s.configGetReply(seq, session));
            return true;
        }
        ConfigGet g;
        if (decodeConfigGet(f, g) != Result::Ok) {
            sendBytes(fd, encodeAnswer(MSG_CONFIG_GET, seq, session, NETSDK_ERR_PARAM));
            return true;
        }
        if (g.command != NETSDK_CFG_LOGO_PART) {
            sendBytes(fd, encodeAnswer(MSG_CONFIG_GET, seq, session, NETSDK_ERR_NOT_SUPPORTED));
            return true;
        }
        Bytes rec(264, 0);
        setField(reinterpret_cast<char *>(rec.data() + 200), 64, "squashfs");
        if (g.maxSize < rec.size())
            sendBytes(fd, encodeAnswer(MSG_CONFIG_GET, seq, session, NETSDK_ERR_BUFFER));
        else
            sendBytes(fd, encodeAnswer(MSG_CONFIG_GET, seq, session, 0, rec.data(), rec.size()));
        return true;
    }
    case MSG_CONFIG_SET: {
        ConfigSet c;
        if (decodeConfigSet(f, c) != Result::Ok)
            return false;
        {
            std::lock_guard<std::mutex> lk(m_);
            seen_.configSets.push_back(c);
        }
        sendBytes(fd, encodeAnswer(MSG_CONFIG_SET, seq, session, s.configSetStatus));
        return true;
    }
    case MSG_JSON_GET: {
        JsonGet g;
        if (decodeJsonGet(f, g) != Result::Ok)
            return false;
        std::string t = "{\"Name\":\"" + g.name + "\",\"" + g.name + "\":{\"OEMID\":\"123\"},\"Ret\":100}";
        if (t.size() > g.maxSize)
            sendBytes(fd, encodeAnswer(MSG_JSON_GET, seq, session, NETSDK_ERR_BUFFER));
        else
            sendBytes(fd, encodeAnswer(MSG_JSON_GET, seq, session, 0,
                                       reinterpret_cast<const uint8_t *>(t.data()), t.size()));
        return true;
    }
    case MSG_JSON_SET: {
        JsonSet j;
        if (decodeJsonSet(f, j) != Result::Ok)
            return false;
        {
            std::lock_guard<std::mutex> lk(m_);
            seen_.jsonSets.push_back(j);
        }
        std::string t = "{\"Name\":\"" + j.name + "\",\"Ret\":100}";
        sendBytes(fd, encodeAnswer(MSG_JSON_SET, seq, session, 0, reinterpret_cast<const uint8_t *>(t.data()),
                                   t.size()));
        return true;
    }
    case MSG_CONTROL:
        if (!s.rebootDropsFirst)
            sendBytes(fd, encodeAnswer(MSG_CONTROL, seq, session, 0));
        return false;
    case MSG_UPGRADE_BEGIN: {
        UpgradeBegin b;
        if (decodeUpgradeBegin(f, b) != Result::Ok || s.dropAfterBegin)
            return false;
        {
            std::lock_guard<std::mutex> lk(m_);
            seen_.upgradeName = b.fileName;
        }
        c.sha = std::make_unique<Sha256>();
        c.expected = b.total;
        c.received = 0;
        c.resultSent = false;
        sendBytes(fd, encodeAnswer(MSG_UPGRADE_BEGIN, seq, session, s.beginStatus));
        return s.beginStatus == 0;
    }
    case MSG_UPGRADE_END: {
        UpgradeEnd e;
        if (!c.sha || decodeUpgradeEnd(f, e) != Result::Ok)
            return false;
        const auto got = c.sha->final();
        bool ok = e.total == c.received && c.received == c.expected && e.sha256 == got;
        {
            std::lock_guard<std::mutex> lk(m_);
            seen_.upgradeSha = got;
            seen_.upgradeBytes = c.received;
            seen_.upgradeDigestOk = ok;
            seen_.upgradesOk += ok;
        }
        sendBytes(fd, encodeAnswer(MSG_UPGRADE_END, seq, session, ok ? 0 : NETSDK_ERR_UPG_BAD_PACKET));
        if (!ok || s.silentAfterEnd)
            return !ok ? false : true;
        if (s.floodProgress) {
            /* 1 %, 2 %, 1 %, ... as fast as the connection takes them, until the client leaves. */
            for (int i = 0; !stop_ && sendBytes(fd, encodeUpgradeProgress(session, 1 + i % 2)); ++i) {
            }
            return false;
        }
        for (int pct : s.progress) {
            if (s.progressGapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(s.progressGapMs));
            if (stop_ || !sendBytes(fd, encodeUpgradeProgress(session, pct)))
                return false;
        }
        sendBytes(fd, encodeUpgradeResult(session, s.upgradeResult));
        return false;
    }
    default:
        sendBytes(fd, encodeAnswer(f.header.type, seq, session, NETSDK_ERR_NOT_SUPPORTED));
        return true;
    }
}

void FakeDevice::searchLoop()
{
    uint8_t buf[2048];
    while (!stop_) {
        pollfd p{udpFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t k = ::recvfrom(udpFd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        Frame f;
        if (k <= 0 || decodeDatagram(buf, size_t(k), f) != Result::Ok)
            continue;
        std::vector<ExtraAnswer> out;
        if (f.header.type == MSG_SEARCH) {
            SDK_CONFIG_NET_COMMON_V2 rec{};
            setField(rec.HostName, sizeof rec.HostName, "fake");
            setField(rec.sMac, sizeof rec.sMac, script_.mac);
            rec.HostIP[0] = 127;
            rec.HostIP[3] = 1;
            rec.NetValues[1] = port_;
            std::lock_guard<std::mutex> lk(m_);
            ++seen_.searches;
            out.push_back({encodeSearchAnswer(f.header.seq, rec), {}});
            for (ExtraAnswer e : extraSearch_) {
                /* the test's own datagrams get the probe's seq */
                for (int i = 0; i < 4; ++i)
                    e.datagram[8 + i] = uint8_t(f.header.seq >> (8 * i));
                out.push_back(std::move(e));
            }
        } else if (f.header.type == MSG_NET_SET) {
            NetSet n;
            if (decodeNetSet(f, n) != Result::Ok ||
                !macEqual(fieldText(n.block.sMac, sizeof n.block.sMac), script_.mac))
                continue; /* not for us: stay silent */
            {
                std::lock_guard<std::mutex> lk(m_);
                seen_.netSets.push_back(n);
            }
            out.push_back({encodeNetSetAnswer(f.header.seq, script_.configSetStatus, script_.mac), {}});
        }
        for (const ExtraAnswer &e : out) {
            int fd = udpFd_;
            if (!e.fromIp.empty()) {
                sockaddr_in own{};
                own.sin_family = AF_INET;
                fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                if (inet_pton(AF_INET, e.fromIp.c_str(), &own.sin_addr) != 1 ||
                    ::bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own) != 0) {
                    ::close(fd);
                    continue;
                }
            }
            ::sendto(fd, e.datagram.data(), e.datagram.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
            if (fd != udpFd_)
                ::close(fd);
        }
    }
}

std::array<uint8_t, 32> FakeDevice::storedKey(const std::string &password, uint32_t iterations)
{
    std::lock_guard<std::mutex> lk(m_);
    if (keyIterations_ == 0 || password != keyPassword_ || iterations != keyIterations_) {
        key_ = loginKey(password, loginSalt(), iterations);
        keyPassword_ = password;
        keyIterations_ = iterations;
    }
    return key_;
}
