#include "server.h"

#include "session.h"
#include "wsdiscovery.h"

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

// Sends one datagram from the device's own address, as a real device's answer comes: the searcher
// keeps only a few answers per sender. The shared socket stands in if that address cannot be bound.
void sendFromDevice(int sharedFd, const std::string &deviceIp, const proto::Bytes &b, const sockaddr_in &to)
{
    sockaddr_in own{};
    own.sin_family = AF_INET;
    int fd = -1;
    if (inet_pton(AF_INET, deviceIp.c_str(), &own.sin_addr) == 1)
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own) == 0) {
        ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        ::close(fd);
        return;
    }
    if (fd >= 0)
        ::close(fd);
    ::sendto(sharedFd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

} // namespace

Server::Server(std::vector<std::unique_ptr<Device>> devices, const ServerOptions &options) : options_(options)
{
    for (auto &d : devices) {
        auto slot = std::make_unique<Slot>();
        slot->device = std::move(d);
        if (slot->device->spec().speaksOnvif()) {
            Device *device = slot->device.get();
            slot->onvif = std::make_unique<OnvifService>(
                *device, [this](const std::string &ip) { return addressFree(ip); });
            slot->http = std::make_unique<OnvifHttp>(
                *slot->onvif, [this, device](const OnvifReply &reply) { afterOnvif(device, reply); });
        }
        slots_.push_back(std::move(slot));
    }
}

bool Server::addressFree(const std::string &ip)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &s : slots_)
        if (s->device->ip() == ip || s->moveTo == ip)
            return false;
    return true;
}

void Server::afterOnvif(Device *device, const OnvifReply &reply)
{
    // Called on the device's HTTP thread once the answer is out; the network thread does the rest.
    switch (reply.after) {
    case OnvifReply::After::Reboot:
        scheduleReboot(device, reply.moveTo);
        break;
    case OnvifReply::After::Restart:
        scheduleReboot(device, std::string(), reply.awayMs);
        break;
    case OnvifReply::After::Move: {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Slot *s = slotOf(device);
            if (!s)
                return;
            s->moveTo = reply.moveTo;
        }
        wake();
        break;
    }
    case OnvifReply::After::None:
        break;
    }
}

bool Server::startOnvif(Slot &slot, std::string *error)
{
    if (!slot.onvif)
        return true;
    const std::string ip = slot.device->ip();
    if (slot.device->spec().faults.silent) {
        // Connections complete in the kernel's backlog and then wait for an answer that never comes.
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(options_.onvifPort);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        slot.silentFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(slot.silentFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (slot.silentFd < 0 || ::bind(slot.silentFd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(slot.silentFd, 64) != 0) {
            *error = "cannot listen on " + ip + ":" + std::to_string(options_.onvifPort);
            closeFd(slot.silentFd);
            return false;
        }
        return true;
    }
    return slot.http->start(ip, options_.onvifPort, error);
}

void Server::stopOnvif(Slot &slot)
{
    if (slot.http)
        slot.http->stop();
    closeFd(slot.silentFd);
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
    bool anyOnvif = false;
    for (auto &s : slots_) {
        if (s->device->spec().speaksSdk()) {
            s->listenFd = bindListener(s->device->ip(), error);
            if (s->listenFd < 0)
                return false;
        }
        if (!startOnvif(*s, error))
            return false;
        anyOnvif = anyOnvif || s->onvif;
    }
    if (anyOnvif) {
        discoveryFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::setsockopt(discoveryFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(discoveryFd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_port = htons(options_.discoveryPort);
        d.sin_addr.s_addr = htonl(INADDR_ANY);
        if (discoveryFd_ < 0 || ::bind(discoveryFd_, reinterpret_cast<sockaddr *>(&d), sizeof d) != 0) {
            // Another discovery service of this host holds the port: the fleet still serves, it is
            // found by address only.
            std::fprintf(
                stderr, "devsim: cannot bind the WS-Discovery port %u (%s); ONVIF devices answer no probes\n",
                unsigned(options_.discoveryPort), std::strerror(errno));
            closeFd(discoveryFd_);
        }
        // The group on the loopback interface only: probes from this host, never from a network.
        ip_mreq m{};
        inet_pton(AF_INET, "239.255.255.250", &m.imr_multiaddr);
        inet_pton(AF_INET, "127.0.0.1", &m.imr_interface);
        multicastJoined_ =
            discoveryFd_ >= 0 && ::setsockopt(discoveryFd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
        if (discoveryFd_ >= 0 && !multicastJoined_)
            std::fprintf(stderr,
                         "devsim: WS-Discovery hears unicast probes only (no multicast on loopback)\n");
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
    for (auto &s : slots_) {
        closeFd(s->listenFd);
        stopOnvif(*s);
    }
    closeFd(udpFd_);
    closeFd(discoveryFd_);
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

void Server::scheduleReboot(Device *device, const std::string &moveTo, int awayMs)
{
    if (awayMs < 0)
        awayMs = device->spec().rebootMs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot *s = slotOf(device);
        if (!s)
            return;
        // The listener itself is closed by the network thread, the only one that touches it.
        s->away = true;
        s->backAt = Clock::now() + std::chrono::milliseconds(awayMs);
        s->moveOnReturn = moveTo;
        closeSessionsOf(device);
    }
    std::printf("reboot %s away for %d ms\n", device->mac().c_str(), awayMs);
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
                if (away || s->device->spec().faults.searchSilent || !s->device->spec().speaksSdk())
                    continue;
                sendFromDevice(
                    udpFd_, s->device->ip(),
                    proto::encodeSearchAnswer(f.header.seq, s->device->searchRecord(options_.servicePort)),
                    from);
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
            if (!proto::macEqual(mac, s->device->mac()) || !s->device->spec().speaksSdk())
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
                if (s->onvif) {
                    stopOnvif(*s);
                    std::string error;
                    if (!startOnvif(*s, &error))
                        std::fprintf(stderr, "devsim %s: %s\n", mac.c_str(), error.c_str());
                }
                std::printf("moved %s to %s:%u\n", s->device->mac().c_str(), moveTo.c_str(),
                            unsigned(options_.servicePort));
                std::fflush(stdout);
            }
            break;
        }
    }
}

void Server::handleDiscovery()
{
    static thread_local std::vector<char> buf(65536);
    for (;;) {
        sockaddr_in from{};
        iovec iov{buf.data(), buf.size()};
        char control[256];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(discoveryFd_, &msg, 0);
        if (n < 0)
            return;
        if (!isLoopback(from))
            continue;
        in_addr to{};
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                to = reinterpret_cast<in_pktinfo *>(CMSG_DATA(c))->ipi_addr;
        Probe probe;
        std::string error;
        if (!parseProbe(buf.data(), size_t(n), &probe, &error))
            continue;
        // A probe to the group (or a broadcast) asks every device; one sent to a device's own
        // address asks that device only.
        const uint32_t dest = ntohl(to.s_addr);
        const bool everyone = (dest >> 28) == 14 || (dest & 0xff) == 0xff || dest == 0;
        char destText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &to, destText, sizeof destText);
        int answered = 0;
        for (auto &s : slots_) {
            if (!s->onvif)
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (s->away)
                    continue;
            }
            const Device &d = *s->device;
            const std::string ip = d.ip();
            if (d.spec().faults.searchSilent || (!everyone && ip != destText) ||
                (everyone && d.spec().faults.multicastSilent) || !probeMatches(probe, deviceScopes(d)))
                continue;
            const std::string xaddr =
                "http://" + ip + ":" + std::to_string(options_.onvifPort) + "/onvif/device_service";
            const std::string text = probeMatchesMessage(probe, d, xaddr);
            sendFromDevice(discoveryFd_, ip, proto::Bytes(text.begin(), text.end()), from);
            if (++answered % 32 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
        fds.push_back({discoveryFd_, POLLIN, 0});
        int timeout = 500;
        const auto now = Clock::now();
        std::vector<Slot *> goingAway;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto &s : slots_) {
                if (s->away) {
                    closeFd(s->listenFd);
                    if ((s->http && s->http->running()) || s->silentFd >= 0)
                        goingAway.push_back(s.get());
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
        // Outside the lock: stopping a daemon waits for its thread, which may be waiting for the
        // lock to report another answer.
        for (Slot *s : goingAway)
            stopOnvif(*s);
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
        if (fds[2].revents & POLLIN)
            handleDiscovery();
        for (size_t i = 3; i < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                acceptOn(*owners[i - 3]);
        // ONVIF address changes, once their answer is out.
        for (auto &s : slots_) {
            std::string to;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (s->moveTo.empty() || s->away)
                    continue;
                to = s->moveTo;
            }
            std::string error;
            int newFd = -1;
            if (s->device->spec().speaksSdk() && (newFd = bindListener(to, &error)) < 0) {
                std::fprintf(stderr, "devsim %s: %s\n", s->device->mac().c_str(), error.c_str());
            } else {
                closeFd(s->listenFd);
                s->listenFd = newFd;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    closeSessionsOf(s->device.get());
                }
                stopOnvif(*s);
                s->device->addressChanged(to);
                if (!startOnvif(*s, &error))
                    std::fprintf(stderr, "devsim %s: %s\n", s->device->mac().c_str(), error.c_str());
                std::printf("moved %s to %s:%u\n", s->device->mac().c_str(), to.c_str(),
                            unsigned(s->onvif ? options_.onvifPort : options_.servicePort));
                std::fflush(stdout);
            }
            std::lock_guard<std::mutex> lock(mutex_);
            s->moveTo.clear();
        }
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
            const int fd = s->device->spec().speaksSdk() ? bindListener(ip, &error) : -2;
            std::lock_guard<std::mutex> lock(mutex_);
            if (fd == -1) {
                s->backAt = Clock::now() + std::chrono::seconds(1);
                std::fprintf(stderr, "devsim %s: back from reboot failed: %s\n", s->device->mac().c_str(),
                             error.c_str());
                continue;
            }
            s->listenFd = fd < 0 ? -1 : fd;
            s->away = false;
            if (!s->moveOnReturn.empty())
                s->device->addressChanged(ip);
            s->moveOnReturn.clear();
            if (s->onvif && !startOnvif(*s, &error))
                std::fprintf(stderr, "devsim %s: ONVIF back from reboot failed: %s\n",
                             s->device->mac().c_str(), error.c_str());
            std::printf("back %s %s:%u\n", s->device->mac().c_str(), ip.c_str(),
                        unsigned(s->device->spec().speaksSdk() ? options_.servicePort : options_.onvifPort));
            std::fflush(stdout);
        }
        reapSessions(false);
    }
}

} // namespace devsim
