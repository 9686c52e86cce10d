/*
 * discovery.cpp - the search port and scope, the UDP probe and its answers.
 */
#include "sdkinternal.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace netsdk
{
namespace detail
{

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

bool readDatagram(int fd, Clock::time_point deadline, proto::Frame &f, uint32_t *from)
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
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t k = ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&src), &len);
        if (k <= 0)
            continue;
        if (proto::decodeDatagram(buf, size_t(k), f) == proto::Result::Ok) {
            if (from)
                *from = src.sin_addr.s_addr;
            return true;
        }
    }
}

void rememberSearchedMac(const SDK_CONFIG_NET_COMMON_V2 &rec, uint32_t from)
{
    uint32_t address;
    std::memcpy(&address, rec.HostIP, sizeof address); /* dotted order = network order */
    const std::string mac = proto::fieldText(rec.sMac, sizeof rec.sMac);
    if (address != from || mac.empty())
        return;
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    /* Bounded: a long-running station meets many devices; forgetting only costs the check. */
    if (s.searchedMacs.size() >= 4096 && !s.searchedMacs.count(address))
        s.searchedMacs.clear();
    s.searchedMacs[address] = mac;
}

void deviceMoved(const std::string &mac, uint32_t address)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    for (auto it = s.searchedMacs.begin(); it != s.searchedMacs.end();)
        it = proto::macEqual(it->second, mac) ? s.searchedMacs.erase(it) : std::next(it);
    if (s.searchedMacs.size() < 4096)
        s.searchedMacs[address] = mac;
}

std::string searchedMacAt(uint32_t address)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.searchedMacs.find(address);
    return it == s.searchedMacs.end() ? std::string() : it->second;
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

} // namespace detail
} // namespace netsdk
