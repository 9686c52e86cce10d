/*
 * onvifclient.cpp - ONVIF devices behind the SDK's C interface: WS-Discovery, SOAP over HTTP (libcurl),
 * UsernameToken digest with the device's clock offset, HTTP Digest where the device asks for it.
 */
#include "onvifclient.h"

#include "curllib.h"
#include "onvifwire.h"
#include "xmllib.h"

#include <arpa/inet.h>
#include <openssl/rand.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <set>

namespace netsdk
{
namespace detail
{

using namespace onvif;

namespace
{

/* Each identifying call during a search waits at most this long (and never past the search). */
constexpr int kIdentifyCallMs = 2000;
constexpr int kIdentifyThreads = 16;
/* A UsernameToken's Created is checked by the device against its own clock: we say its time. */
constexpr long kMaxClockOffset = 20L * 365 * 86400;

struct Found {
    std::string serviceUrl;
    std::string mac;
};

/* What searches found, and the credentials of the last login per device (an address change
 * without a login handle needs them). */
struct OnvifState {
    std::mutex m;
    std::map<std::string, Found> byAddress; /* "ip:port" */
    struct Known {
        std::string serviceUrl, user, password;
        long clockOffset = 0;
        bool httpDigest = false;
        std::string interfaceToken;
    };
    std::map<std::string, Known> byMac;
};

OnvifState &state()
{
    static OnvifState *s = new OnvifState;
    return *s;
}

std::string addressKey(const std::string &ip, uint16_t port)
{
    return ip + ":" + std::to_string(port);
}

/* The library for one request: every call below is made only after this has given one. */
const CurlLib &curl()
{
    return *curlLib();
}

struct HttpReply {
    CURLcode curl = CURLE_OK;
    long status = 0;
    std::string body;
    bool tooBig = false;
    bool digestOffered = false;
};

size_t collect(char *p, size_t size, size_t n, void *user)
{
    auto *r = static_cast<HttpReply *>(user);
    const size_t len = size * n;
    if (r->body.size() + len > kMaxReplyBytes) {
        r->tooBig = true;
        return 0; /* aborts the transfer */
    }
    r->body.append(p, len);
    return len;
}

struct CurlFree {
    void operator()(CURL *c) const { curl().easy_cleanup(c); }
};
struct SlistFree {
    void operator()(curl_slist *l) const { curl().slist_free_all(l); }
};

/* The options every request of ours has: plain HTTP to the address given, no proxy from the
 * environment, no redirects, an overall deadline. */
void baseOptions(CURL *c, const std::string &url, int waitMs)
{
    curl().easy_setopt(c, CURLOPT_URL, url.c_str());
    curl().easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl().easy_setopt(c, CURLOPT_PROXY, "");
    curl().easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl().easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(c, CURLOPT_TIMEOUT_MS, long(std::max(1, waitMs)));
    curl().easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(1, waitMs)));
}

HttpReply httpPost(const std::string &url, const std::string &body, const char *action, int waitMs,
                   const std::string *digestUser, const std::string *digestPassword)
{
    HttpReply r;
    if (!curlLib()) {
        r.curl = CURLE_FAILED_INIT;
        return r;
    }
    std::unique_ptr<CURL, CurlFree> c(curl().easy_init());
    if (!c) {
        r.curl = CURLE_FAILED_INIT;
        return r;
    }
    baseOptions(c.get(), url, waitMs);
    const std::string type = std::string("Content-Type: application/soap+xml; charset=utf-8; action=\"") +
                             nsUri(Ns::Device) + "/" + action + "\"";
    std::unique_ptr<curl_slist, SlistFree> headers(curl().slist_append(nullptr, type.c_str()));
    headers.reset(curl().slist_append(headers.release(), "Expect:"));
    curl().easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
    curl().easy_setopt(c.get(), CURLOPT_POSTFIELDS, body.data());
    curl().easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl().easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, collect);
    curl().easy_setopt(c.get(), CURLOPT_WRITEDATA, &r);
    if (digestUser && digestPassword) {
        /* Digest only: a device cannot talk us into sending the password in clear (Basic). */
        curl().easy_setopt(c.get(), CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
        curl().easy_setopt(c.get(), CURLOPT_USERNAME, digestUser->c_str());
        curl().easy_setopt(c.get(), CURLOPT_PASSWORD, digestPassword->c_str());
    }
    r.curl = curl().easy_perform(c.get());
    curl().easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &r.status);
    long avail = 0;
    curl().easy_getinfo(c.get(), CURLINFO_HTTPAUTH_AVAIL, &avail);
    r.digestOffered = (avail & CURLAUTH_DIGEST) != 0;
    return r;
}

long curlError(const HttpReply &r)
{
    if (r.tooBig)
        return NETSDK_ERR_PROTOCOL;
    switch (r.curl) {
    case CURLE_OK:
        return 0;
    case CURLE_OPERATION_TIMEDOUT:
        return NETSDK_ERR_TIMEOUT;
    case CURLE_WRITE_ERROR:
        return NETSDK_ERR_PROTOCOL;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_COULDNT_CONNECT:
    default:
        return NETSDK_ERR_NETWORK;
    }
}

long faultError(const Fault &f)
{
    if (f.subcode == "NotAuthorized" || f.subcode == "FailedAuthentication" || f.subcode == "InvalidSecurity")
        return NETSDK_ERR_PASSWORD;
    if (f.subcode == "ActionNotSupported" || f.code == "ActionNotSupported")
        return NETSDK_ERR_NOT_SUPPORTED;
    return NETSDK_ERR_DEVICE_FAULT;
}

std::string randomNonce()
{
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1)
        return std::string();
    return std::string(reinterpret_cast<const char *>(b), sizeof b);
}

/* How a call authenticates. */
struct Auth {
    const std::string *user = nullptr;
    const std::string *password = nullptr;
    long clockOffset = 0;
    bool *httpDigest = nullptr; /* in: what we know; out: what the device wanted */
};

/* One SOAP call. Returns 0 with the reply body, or an SDK error code. */
long soapCall(const std::string &url, const char *action, const Element &body, const Auth *auth, int waitMs,
              std::string &reply)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    bool digest = auth && auth->httpDigest && *auth->httpDigest;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UsernameToken token;
        const bool wsse = auth && !digest;
        if (wsse) {
            token.user = *auth->user;
            token.password = *auth->password;
            token.nonce = randomNonce();
            if (token.nonce.empty())
                return NETSDK_ERR_LOGIN_OTHER;
            token.created = utcText(std::time(nullptr) + auth->clockOffset);
        }
        const std::string req = buildRequest(body, wsse ? &token : nullptr);
        const int left = remainingMs(deadline);
        if (left <= 0)
            return NETSDK_ERR_TIMEOUT;
        HttpReply r = httpPost(url, req, action, left, digest ? auth->user : nullptr,
                               digest ? auth->password : nullptr);
        if (long e = curlError(r))
            return e;
        /* A device that wants HTTP Digest answers 401 to a request that only carries the token. */
        if (r.status == 401 && auth && !digest && r.digestOffered) {
            digest = true;
            if (auth->httpDigest)
                *auth->httpDigest = true;
            continue;
        }
        if (r.status == 401)
            return auth ? NETSDK_ERR_PASSWORD : NETSDK_ERR_HANDLE;
        /* SOAP faults come with 400 or 500; anything else without a 200 is not SOAP. */
        if (r.status != 200 && r.status != 400 && r.status != 500)
            return NETSDK_ERR_PROTOCOL;
        reply = std::move(r.body);
        return 0;
    }
    return NETSDK_ERR_PASSWORD;
}

template <class Parse> long parsed(ReplyStatus st, const Fault &fault, Parse)
{
    if (st == ReplyStatus::Fault)
        return faultError(fault);
    if (st == ReplyStatus::Malformed)
        return NETSDK_ERR_PROTOCOL;
    return 0;
}

long callGetSystemDateAndTime(const std::string &url, int waitMs, DateTime &dt)
{
    std::string reply;
    if (long e = soapCall(url, "GetSystemDateAndTime", Element(Ns::Device, "GetSystemDateAndTime"), nullptr,
                          waitMs, reply))
        return e;
    Fault f;
    return parsed(parseSystemDateAndTime(reply.data(), reply.size(), dt, f), f, 0);
}

long callGetDeviceInformation(const std::string &url, const Auth *auth, int waitMs, DeviceInformation &info)
{
    std::string reply;
    if (long e = soapCall(url, "GetDeviceInformation", Element(Ns::Device, "GetDeviceInformation"), auth,
                          waitMs, reply))
        return e;
    Fault f;
    return parsed(parseDeviceInformation(reply.data(), reply.size(), info, f), f, 0);
}

long callGetNetworkInterfaces(const std::string &url, const Auth *auth, int waitMs,
                              std::vector<NetworkInterface> &list)
{
    std::string reply;
    if (long e = soapCall(url, "GetNetworkInterfaces", Element(Ns::Device, "GetNetworkInterfaces"), auth,
                          waitMs, reply))
        return e;
    Fault f;
    return parsed(parseNetworkInterfaces(reply.data(), reply.size(), list, f), f, 0);
}

/* A call whose answer carries nothing we read: only success or the fault matters. */
long callSimple(const std::string &url, const char *action, const char *response, const Element &body,
                const Auth *auth, int waitMs)
{
    std::string reply;
    if (long e = soapCall(url, action, body, auth, waitMs, reply))
        return e;
    Fault f;
    return parsed(parseReply(reply.data(), reply.size(), response, f), f, 0);
}

/* The interface a device is reached on: the one holding the address we talk to, else the first. */
const NetworkInterface *pickInterface(const std::vector<NetworkInterface> &list, const std::string &ip)
{
    for (const NetworkInterface &n : list)
        if (n.address == ip)
            return &n;
    return list.empty() ? nullptr : &list.front();
}

void putText(char *field, size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

bool putIPv4(uint8_t out[4], const std::string &dotted)
{
    in_addr a{};
    if (!isDottedIPv4(dotted) || inet_pton(AF_INET, dotted.c_str(), &a) != 1)
        return false;
    std::memcpy(out, &a, 4);
    return true;
}

void putMask(uint8_t out[4], int prefix)
{
    if (prefix < 0 || prefix > 32)
        return;
    uint32_t m = prefix == 0 ? 0 : htonl(0xffffffffu << (32 - prefix));
    std::memcpy(out, &m, 4);
}

int prefixOf(const uint8_t mask[4])
{
    uint32_t m;
    std::memcpy(&m, mask, 4);
    m = ntohl(m);
    int n = 0;
    while (n < 32 && (m & (0x80000000u >> n)))
        ++n;
    return (n == 32 || (m << n) == 0) ? n : -1;
}

/* The MAC a device's endpoint reference carries when it follows the common urn:uuid form whose last
 * group is the MAC; used only when the device will not tell us its interfaces before a login. */
std::string macFromEndpoint(const std::string &endpoint)
{
    const size_t dash = endpoint.rfind('-');
    if (endpoint.compare(0, 9, "urn:uuid:") != 0 || dash == std::string::npos)
        return std::string();
    return normalMac(endpoint.substr(dash + 1));
}

long clockOffsetOf(const DateTime &dt)
{
    std::time_t device;
    if (!dt.toEpoch(device))
        return 0;
    const long off = long(device - std::time(nullptr));
    return off > kMaxClockOffset || off < -kMaxClockOffset ? 0 : off;
}

/* ---- Discovery ---- */

uint16_t discoveryPort()
{
    if (const char *env = std::getenv("TALLOW_NETSDK_ONVIF_PORT")) {
        char *end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0 && v <= 65535)
            return uint16_t(v);
    }
    return uint16_t(kDiscoveryPort);
}

bool loopbackScope()
{
    if (const char *env = std::getenv("TALLOW_NETSDK_SEARCH_SCOPE")) {
        if (std::strcmp(env, "all") == 0)
            return false;
        if (std::strcmp(env, "loopback") == 0)
            return true;
    }
    return searchPort() != proto::kDefaultSearchPort || discoveryPort() != kDiscoveryPort;
}

std::string messageId()
{
    const std::string r = randomNonce();
    char buf[64];
    const auto *b = reinterpret_cast<const uint8_t *>(r.data());
    if (r.size() < 16)
        return "urn:uuid:00000000-0000-4000-8000-000000000000";
    std::snprintf(buf, sizeof buf,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-4%01x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6] & 15, b[7], (b[8] & 0x3f) | 0x80, b[9], b[10], b[11],
                  b[12], b[13], b[14], b[15]);
    return buf;
}

struct Candidate {
    ProbeMatch match;
    HttpUrl url;
    std::string serviceUrl;
};

/* Identifies one discovered device into a search record; false when it cannot be listed. */
bool identify(const Candidate &c, Clock::time_point deadline, const std::string &user,
              const std::string &pass, SDK_CONFIG_NET_COMMON_V2 &rec)
{
    std::memset(&rec, 0, sizeof rec);
    putIPv4(rec.HostIP, c.url.host);
    rec.NetValues[1] = c.url.port;
    rec.Protocol = NETSDK_PROTOCOL_ONVIF;
    rec.DeviceType = NETSDK_ONVIF_SEARCH_TYPE;
    putText(rec.HostName, sizeof rec.HostName, scopeValue(c.match.scopes, "name"));

    auto wait = [&] { return std::min(kIdentifyCallMs, remainingMs(deadline)); };
    DateTime dt;
    long offset = 0;
    if (wait() > 0 && callGetSystemDateAndTime(c.serviceUrl, wait(), dt) == 0)
        offset = clockOffsetOf(dt);
    /* Many devices answer these without a login; those that do not get the search credentials. */
    bool digest = false;
    Auth auth{&user, &pass, offset, &digest};
    DeviceInformation info;
    std::vector<NetworkInterface> nics;
    const Auth *use = nullptr;
    long e =
        wait() > 0 ? callGetDeviceInformation(c.serviceUrl, nullptr, wait(), info) : long(NETSDK_ERR_TIMEOUT);
    if (e == NETSDK_ERR_PASSWORD || e == NETSDK_ERR_HANDLE || e == NETSDK_ERR_DEVICE_FAULT) {
        use = &auth;
        e = wait() > 0 ? callGetDeviceInformation(c.serviceUrl, use, wait(), info) : long(NETSDK_ERR_TIMEOUT);
    }
    if (e == 0) {
        putText(rec.sSoftWareVersion, sizeof rec.sSoftWareVersion, info.firmware);
        putText(rec.sSn, sizeof rec.sSn, info.serial);
    }
    std::string mac;
    if (wait() > 0) {
        e = callGetNetworkInterfaces(c.serviceUrl, use, wait(), nics);
        if (e != 0 && !use && wait() > 0) {
            use = &auth;
            e = callGetNetworkInterfaces(c.serviceUrl, use, wait(), nics);
        }
        if (e == 0) {
            if (const NetworkInterface *n = pickInterface(nics, c.url.host)) {
                mac = n->mac;
                putMask(rec.Submask, n->prefixLength);
            }
        }
    }
    if (mac.empty())
        mac = macFromEndpoint(c.match.endpoint);
    if (mac.empty())
        return false;
    putText(rec.sMac, sizeof rec.sMac, mac);
    return true;
}

/* Targets of the unicast probe: TALLOW_NETSDK_ONVIF_PROBE and H264_DVR_SetOnvifProbeAddresses. */
std::vector<in_addr> &probeTargets()
{
    static std::vector<in_addr> *t = new std::vector<in_addr>;
    return *t;
}
std::mutex &probeTargetsLock()
{
    static std::mutex *m = new std::mutex;
    return *m;
}

std::vector<in_addr> parseAddressList(const char *list)
{
    std::vector<in_addr> out;
    if (!list)
        return out;
    std::string all(list), one;
    all.push_back(',');
    for (char ch : all) {
        if (ch == ',' || ch == ' ' || ch == ';' || ch == '\n') {
            in_addr a{};
            if (!one.empty() && isDottedIPv4(one) && inet_pton(AF_INET, one.c_str(), &a) == 1 &&
                out.size() < 1024)
                out.push_back(a);
            one.clear();
        } else {
            one.push_back(ch);
        }
    }
    return out;
}

struct SearchLogin {
    std::mutex m;
    std::string user = "admin";
    std::string password;
};
SearchLogin &searchLogin()
{
    static SearchLogin *s = new SearchLogin;
    return *s;
}

} // namespace

std::shared_ptr<OnvifSession> findOnvifSession(long handle)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.onvifSessions.find(handle);
    return it == s.onvifSessions.end() ? nullptr : it->second;
}

std::string onvifServiceAt(const char *ip, uint16_t port)
{
    if (!ip)
        return std::string();
    OnvifState &st = state();
    std::lock_guard<std::mutex> lk(st.m);
    auto it = st.byAddress.find(addressKey(ip, port));
    return it == st.byAddress.end() ? std::string() : it->second.serviceUrl;
}

std::vector<SDK_CONFIG_NET_COMMON_V2> onvifSearch(Clock::time_point deadline, size_t capacity)
{
    std::vector<SDK_CONFIG_NET_COMMON_V2> out;
    /* The first search is where the ONVIF libraries are loaded; without them it finds no cameras. */
    if (!onvif::xmlLib() || !curlLib())
        return out;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return out;
    Socket sock(fd);
    int rcvbuf = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
        return out;
    unsigned char ttl = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    unsigned char loop = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    const uint16_t port = discoveryPort();
    const bool loopOnly = loopbackScope();
    if (loopOnly) {
        /* Tests and simulated fleets: the group is only asked on the loopback interface. */
        in_addr lo{};
        lo.s_addr = htonl(INADDR_LOOPBACK);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
    }
    const std::string id = messageId();
    const std::string probe = buildProbe(id);
    std::vector<sockaddr_in> targets;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(port);
    inet_pton(AF_INET, kDiscoveryGroup, &group.sin_addr);
    targets.push_back(group);
    if (loopOnly) {
        /* A loopback without a multicast route still carries the broadcast, which devices on
         * loopback answer as they answer the group. */
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in bc = group;
        bc.sin_addr.s_addr = htonl(0x7fffffff); /* 127.255.255.255 */
        targets.push_back(bc);
    }
    {
        std::lock_guard<std::mutex> lk(probeTargetsLock());
        std::vector<in_addr> list = probeTargets();
        std::vector<in_addr> env = parseAddressList(std::getenv("TALLOW_NETSDK_ONVIF_PROBE"));
        list.insert(list.end(), env.begin(), env.end());
        for (const in_addr &a : list) {
            sockaddr_in t = group;
            t.sin_addr = a;
            targets.push_back(t);
        }
    }
    for (const sockaddr_in &t : targets)
        ::sendto(fd, probe.data(), probe.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&t),
                 sizeof t);

    std::string user, pass;
    {
        SearchLogin &sl = searchLogin();
        std::lock_guard<std::mutex> lk(sl.m);
        user = sl.user;
        pass = sl.password;
    }

    /* Answers are identified as they arrive, on a few threads, all within the search time. */
    std::mutex qm;
    std::condition_variable qcv;
    std::deque<Candidate> queue;
    bool receiving = true;
    std::vector<SDK_CONFIG_NET_COMMON_V2> records;
    std::vector<Found> founds;
    std::vector<std::thread> workers;
    auto work = [&] {
        for (;;) {
            Candidate c;
            {
                std::unique_lock<std::mutex> lk(qm);
                qcv.wait(lk, [&] { return !queue.empty() || !receiving; });
                if (queue.empty())
                    return;
                c = std::move(queue.front());
                queue.pop_front();
            }
            SDK_CONFIG_NET_COMMON_V2 rec;
            if (remainingMs(deadline) > 0 && identify(c, deadline, user, pass, rec)) {
                std::lock_guard<std::mutex> lk(qm);
                records.push_back(rec);
                founds.push_back(Found{c.serviceUrl, proto::fieldText(rec.sMac, sizeof rec.sMac)});
            }
        }
    };

    std::set<std::string> seen;
    std::map<uint32_t, int> perSource;
    std::vector<char> buf(kMaxDatagramBytes);
    for (;;) {
        const int ms = remainingMs(deadline);
        if (ms <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        const int n = ::poll(&pfd, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sockaddr_in src{};
        socklen_t len = sizeof src;
        const ssize_t k =
            ::recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&src), &len);
        if (k <= 0)
            continue;
        std::vector<ProbeMatch> matches;
        if (!parseProbeMatches(buf.data(), size_t(k), id, matches))
            continue;
        char from[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &src.sin_addr, from, sizeof from);
        for (ProbeMatch &m : matches) {
            Candidate c;
            /* A device answers for itself: a service address on another host is not taken, so one
             * answer cannot send our requests elsewhere. */
            for (const std::string &x : m.xaddrs) {
                HttpUrl u;
                if (parseHttpUrl(x, u) && u.host == from) {
                    c.url = u;
                    c.serviceUrl = x;
                    break;
                }
            }
            if (c.serviceUrl.empty() || !seen.insert(c.serviceUrl).second)
                continue;
            int &taken = perSource[src.sin_addr.s_addr];
            if (taken >= kMaxSearchAnswersPerSource || seen.size() > capacity)
                continue;
            ++taken;
            c.match = std::move(m);
            {
                std::lock_guard<std::mutex> lk(qm);
                queue.push_back(std::move(c));
                if (workers.size() < size_t(kIdentifyThreads) &&
                    workers.size() < queue.size() + workers.size()) {
                    try {
                        workers.emplace_back(work);
                    } catch (...) {
                        /* fewer threads: the others take the queue */
                    }
                }
            }
            qcv.notify_one();
        }
    }
    {
        std::lock_guard<std::mutex> lk(qm);
        receiving = false;
        queue.clear(); /* the search time is over: what was not identified is not listed */
    }
    qcv.notify_all();
    for (std::thread &t : workers)
        t.join();
    {
        OnvifState &st = state();
        std::lock_guard<std::mutex> lk(st.m);
        for (const Found &f : founds) {
            HttpUrl u;
            if (!parseHttpUrl(f.serviceUrl, u))
                continue;
            if (st.byAddress.size() >= 4096)
                st.byAddress.clear();
            st.byAddress[addressKey(u.host, u.port)] = f;
        }
    }
    if (records.size() > capacity)
        records.resize(capacity);
    return records;
}

long onvifLogin(const std::string &serviceUrl, const char *ip, uint16_t port, const std::string &user,
                const std::string &password, H264_DVR_DEVICEINFO *lpInfo, int *error, int waitMs)
{
    auto fail = [&](int code, long last) -> long {
        if (error)
            *error = code;
        setError(last);
        return 0;
    };
    auto callFail = [&](long e) -> long {
        if (e == NETSDK_ERR_NETWORK)
            return fail(0, NETSDK_ERR_NETWORK);
        return fail(int(e), e);
    };
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    auto sess = std::make_shared<OnvifSession>();
    sess->serviceUrl = serviceUrl;
    std::strncpy(sess->ip, ip, sizeof sess->ip - 1);
    sess->port = port;
    sess->user = user;
    sess->password = password;

    /* The clock first: the token's Created must be the device's time, however far off it is. */
    DateTime dt;
    long e = callGetSystemDateAndTime(serviceUrl, std::max(1, remainingMs(deadline)), dt);
    if (e == NETSDK_ERR_NETWORK || e == NETSDK_ERR_TIMEOUT)
        return callFail(e);
    sess->clockOffset = e == 0 ? clockOffsetOf(dt) : 0;

    bool digest = false;
    Auth auth{&sess->user, &sess->password, sess->clockOffset, &digest};
    DeviceInformation info;
    e = callGetDeviceInformation(serviceUrl, &auth, std::max(1, remainingMs(deadline)), info);
    if (e != 0)
        return callFail(e);
    sess->httpDigest = digest;
    std::vector<NetworkInterface> nics;
    std::string mac;
    e = callGetNetworkInterfaces(serviceUrl, &auth, std::max(1, remainingMs(deadline)), nics);
    if (e == NETSDK_ERR_NETWORK || e == NETSDK_ERR_TIMEOUT)
        return callFail(e);
    if (const NetworkInterface *n = e == 0 ? pickInterface(nics, ip) : nullptr) {
        mac = n->mac;
        sess->interfaceToken = n->token;
    }

    H264_DVR_DEVICEINFO out;
    std::memset(&out, 0, sizeof out);
    putText(out.sSoftWareVersion, sizeof out.sSoftWareVersion, info.firmware);
    putText(out.sSerialNumber, sizeof out.sSerialNumber, info.serial);
    /* The hardware a package is checked against: the device's hardware ID, or its model when the
     * device has no hardware ID. */
    putText(out.sHardWare, sizeof out.sHardWare, info.hardwareId.empty() ? info.model : info.hardwareId);
    putText(out.sModel, sizeof out.sModel, info.model);
    out.DeviceType = NETSDK_ONVIF_LOGIN_TYPE;
    out.Protocol = NETSDK_PROTOCOL_ONVIF;

    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0)
            return fail(NETSDK_ERR_NOT_INIT, NETSDK_ERR_NOT_INIT);
        sess->handle = nextLoginHandle(s);
        s.onvifSessions[sess->handle] = sess;
    }
    if (!mac.empty()) {
        OnvifState &st = state();
        std::lock_guard<std::mutex> lk(st.m);
        if (st.byMac.size() >= 4096)
            st.byMac.clear();
        st.byMac[mac] = OnvifState::Known{
            serviceUrl, user, password, sess->clockOffset, sess->httpDigest, sess->interfaceToken};
    }
    if (lpInfo)
        *lpInfo = out;
    if (error)
        *error = 0;
    return sess->handle;
}

long onvifLogout(long handle)
{
    std::shared_ptr<OnvifSession> sess;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.onvifSessions.find(handle);
        if (it == s.onvifSessions.end())
            return 0;
        sess = it->second;
        s.onvifSessions.erase(it);
    }
    sess->closed = true;
    return 1;
}

namespace
{

Auth authOf(const std::shared_ptr<OnvifSession> &s)
{
    return Auth{&s->user, &s->password, s->clockOffset, nullptr};
}

Element dateTimeElement(const char *name, std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    Element e(Ns::Schema, name);
    Element &d = e.add(Element(Ns::Schema, "Date"));
    d.add(Element(Ns::Schema, "Year", std::to_string(tm.tm_year + 1900)));
    d.add(Element(Ns::Schema, "Month", std::to_string(tm.tm_mon + 1)));
    d.add(Element(Ns::Schema, "Day", std::to_string(tm.tm_mday)));
    Element &tt = e.add(Element(Ns::Schema, "Time"));
    tt.add(Element(Ns::Schema, "Hour", std::to_string(tm.tm_hour)));
    tt.add(Element(Ns::Schema, "Minute", std::to_string(tm.tm_min)));
    tt.add(Element(Ns::Schema, "Second", std::to_string(tm.tm_sec)));
    return e;
}

long setDateAndTime(const std::shared_ptr<OnvifSession> &s, const std::string &tz, std::time_t utc,
                    int waitMs)
{
    Element body(Ns::Device, "SetSystemDateAndTime");
    body.add(Element(Ns::Device, "DateTimeType", "Manual"));
    body.add(Element(Ns::Device, "DaylightSavings", "false"));
    if (!tz.empty())
        body.add(Element(Ns::Device, "TimeZone")).add(Element(Ns::Schema, "TZ", tz));
    Element when = dateTimeElement("UTCDateTime", utc);
    when.ns = Ns::Device;
    body.add(when);
    const Auth a = authOf(s);
    return callSimple(s->serviceUrl, "SetSystemDateAndTime", "SetSystemDateAndTimeResponse", body, &a,
                      waitMs);
}

int32_t le32(const char *p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v; /* the records are little-endian, as this host */
}

} // namespace

long onvifSetConfig(const std::shared_ptr<OnvifSession> &s, unsigned long command, const char *in,
                    unsigned long inSize, int waitMs)
{
    if (s->upgrading)
        return NETSDK_ERR_BUSY;
    const Auth a = authOf(s);
    switch (command) {
    case NETSDK_CFG_RESET: {
        if (inSize != 11)
            return NETSDK_ERR_PARAM;
        Element body(Ns::Device, "SetSystemFactoryDefault");
        body.add(Element(Ns::Device, "FactoryDefault", "Soft"));
        return callSimple(s->serviceUrl, "SetSystemFactoryDefault", "SetSystemFactoryDefaultResponse", body,
                          &a, waitMs);
    }
    case NETSDK_CFG_SYSTIME:
    case NETSDK_CFG_SYSTIME_V2: {
        if (inSize != 32 || !in)
            return NETSDK_ERR_PARAM;
        std::tm tm{};
        tm.tm_year = le32(in) - 1900;
        tm.tm_mon = le32(in + 4) - 1;
        tm.tm_mday = le32(in + 8);
        tm.tm_hour = le32(in + 16);
        tm.tm_min = le32(in + 20);
        tm.tm_sec = le32(in + 24);
        if (tm.tm_year < 70 || tm.tm_year > 300 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 ||
            tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 ||
            tm.tm_sec < 0 || tm.tm_sec > 60)
            return NETSDK_ERR_PARAM;
        const std::time_t utc = timegm(&tm);
        /* The device keeps its zone: only its clock is set. */
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        DateTime dt;
        long e = callGetSystemDateAndTime(s->serviceUrl, waitMs, dt);
        if (e != 0)
            return e;
        return setDateAndTime(s, dt.tz, utc, std::max(1, remainingMs(deadline)));
    }
    case NETSDK_CFG_TIMEZONE: {
        if (inSize != 8 || !in)
            return NETSDK_ERR_PARAM;
        const int32_t minutes = le32(in);
        if (minutes < -24 * 60 || minutes > 24 * 60)
            return NETSDK_ERR_PARAM;
        /* The zone alone: the device's clock is written back as it reads now. */
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        DateTime dt;
        long e = callGetSystemDateAndTime(s->serviceUrl, waitMs, dt);
        if (e != 0)
            return e;
        std::time_t utc;
        if (!dt.toEpoch(utc))
            utc = std::time(nullptr) + s->clockOffset;
        return setDateAndTime(s, posixZone(minutes), utc, std::max(1, remainingMs(deadline)));
    }
    default:
        return NETSDK_ERR_ONVIF_UNSUPPORTED;
    }
}

long onvifGetConfig(const std::shared_ptr<OnvifSession> &s, unsigned long command, char *out,
                    unsigned long outSize, unsigned long *returned, int waitMs)
{
    if (s->upgrading)
        return NETSDK_ERR_BUSY;
    if (command != NETSDK_CFG_NET_COMMON)
        return NETSDK_ERR_ONVIF_UNSUPPORTED;
    const Auth a = authOf(s);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::vector<NetworkInterface> nics;
    if (long e = callGetNetworkInterfaces(s->serviceUrl, &a, waitMs, nics))
        return e;
    const NetworkInterface *n = pickInterface(nics, s->ip);
    if (!n)
        return NETSDK_ERR_PROTOCOL;
    SDK_NET_BLOCK block;
    std::memset(&block, 0, sizeof block);
    putIPv4(block.HostIP, n->address.empty() ? std::string(s->ip) : n->address);
    putMask(block.Submask, n->prefixLength);
    putText(block.sMac, sizeof block.sMac, n->mac);
    block.NetValues[1] = s->port;
    std::string reply;
    if (soapCall(s->serviceUrl, "GetNetworkDefaultGateway", Element(Ns::Device, "GetNetworkDefaultGateway"),
                 &a, std::max(1, remainingMs(deadline)), reply) == 0) {
        Fault f;
        std::string gw;
        if (parseDefaultGateway(reply.data(), reply.size(), gw, f) == ReplyStatus::Ok)
            putIPv4(block.Gateway, gw);
    }
    const unsigned long n144 = 144;
    if (outSize < n144)
        return NETSDK_ERR_BUFFER;
    std::memcpy(out, &block, n144);
    if (returned)
        *returned = n144;
    return 1;
}

long onvifControl(const std::shared_ptr<OnvifSession> &s, int type, int waitMs)
{
    if (s->upgrading)
        return NETSDK_ERR_BUSY;
    if (type != 0)
        return NETSDK_ERR_ONVIF_UNSUPPORTED;
    const Auth a = authOf(s);
    return callSimple(s->serviceUrl, "SystemReboot", "SystemRebootResponse",
                      Element(Ns::Device, "SystemReboot"), &a, waitMs);
}

long onvifSetNet(const SDK_NET_BLOCK &block, int waitMs)
{
    const std::string mac = normalMac(proto::fieldText(block.sMac, sizeof block.sMac));
    OnvifState::Known k;
    {
        OnvifState &st = state();
        std::lock_guard<std::mutex> lk(st.m);
        auto it = st.byMac.find(mac);
        if (mac.empty())
            return NETSDK_ERR_NO_DEVICE;
        if (it == st.byMac.end()) {
            /* A camera a search found but nobody logged in to: it does not hear our own address
             * change, so a broadcast would only time out, which reads as a change made. */
            for (const auto &found : st.byAddress)
                if (normalMac(found.second.mac) == mac)
                    return NETSDK_ERR_HANDLE;
            return NETSDK_ERR_NO_DEVICE;
        }
        k = it->second;
    }
    char ip[INET_ADDRSTRLEN] = {}, gw[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, block.HostIP, ip, sizeof ip);
    inet_ntop(AF_INET, block.Gateway, gw, sizeof gw);
    const int prefix = prefixOf(block.Submask);
    if (prefix <= 0 || prefix >= 32 || k.interfaceToken.empty())
        return NETSDK_ERR_PARAM;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    bool digest = k.httpDigest;
    Auth a{&k.user, &k.password, k.clockOffset, &digest};
    Element body(Ns::Device, "SetNetworkInterfaces");
    body.add(Element(Ns::Device, "InterfaceToken", k.interfaceToken));
    Element &ni = body.add(Element(Ns::Device, "NetworkInterface"));
    ni.add(Element(Ns::Schema, "Enabled", "true"));
    Element &v4 = ni.add(Element(Ns::Schema, "IPv4"));
    v4.add(Element(Ns::Schema, "Enabled", "true"));
    Element &manual = v4.add(Element(Ns::Schema, "Manual"));
    manual.add(Element(Ns::Schema, "Address", ip));
    manual.add(Element(Ns::Schema, "PrefixLength", std::to_string(prefix)));
    v4.add(Element(Ns::Schema, "DHCP", "false"));
    /* The gateway first: once the address moves, the old one no longer answers. */
    Element gwBody(Ns::Device, "SetNetworkDefaultGateway");
    gwBody.add(Element(Ns::Device, "IPv4Address", gw));
    long e = callSimple(k.serviceUrl, "SetNetworkDefaultGateway", "SetNetworkDefaultGatewayResponse", gwBody,
                        &a, waitMs);
    if (e != 0)
        return e;
    e = callSimple(k.serviceUrl, "SetNetworkInterfaces", "SetNetworkInterfacesResponse", body, &a,
                   std::max(1, remainingMs(deadline)));
    if (e != 0)
        return e;
    /* Known at its new address from now on. */
    HttpUrl u;
    if (parseHttpUrl(k.serviceUrl, u)) {
        const std::string moved = "http://" + std::string(ip) + ":" + std::to_string(u.port) + u.path;
        OnvifState &st = state();
        std::lock_guard<std::mutex> lk(st.m);
        st.byAddress.erase(addressKey(u.host, u.port));
        st.byAddress[addressKey(ip, u.port)] = Found{moved, mac};
        st.byMac[mac].serviceUrl = moved;
    }
    return 1;
}

namespace
{

/* The longest we wait before an upload the device asked us to delay. */
constexpr int kMaxUploadDelaySeconds = 300;

struct Upload {
    Upgrade *u = nullptr;
    off_t pos = 0;
    const std::function<void(int, int)> *progress = nullptr;
    int lastPercent = -1;
    bool fileError = false;
};

size_t readPackage(char *buf, size_t size, size_t n, void *user)
{
    auto *up = static_cast<Upload *>(user);
    const size_t want = std::min<size_t>(size * n, size_t(up->u->total) - size_t(up->pos));
    if (want == 0)
        return 0;
    ssize_t k;
    do {
        k = ::pread(up->u->fileFd, buf, want, up->pos);
    } while (k < 0 && errno == EINTR);
    if (k <= 0) {
        up->fileError = true; /* the file shrank or became unreadable */
        return CURL_READFUNC_ABORT;
    }
    up->pos += k;
    return size_t(k);
}

int seekPackage(void *user, curl_off_t offset, int origin)
{
    auto *up = static_cast<Upload *>(user);
    if (origin != SEEK_SET || offset < 0 || offset > curl_off_t(up->u->total))
        return CURL_SEEKFUNC_FAIL;
    up->pos = off_t(offset); /* a Digest challenge sends the body again */
    return CURL_SEEKFUNC_OK;
}

int uploadProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow)
{
    auto *up = static_cast<Upload *>(user);
    if (up->u->stop)
        return 1;
    const uint32_t total = up->u->total;
    const uint32_t sent = uint32_t(std::min<curl_off_t>(ulnow, total));
    const int percent = int(uint64_t(sent) * 100 / total);
    if (percent > up->lastPercent && sent > 0) {
        up->lastPercent = percent;
        (*up->progress)(int(total), int(sent));
    }
    return 0;
}

/* POST of the package to the address the device gave. Returns 0 or an SDK error code. */
long postPackage(Upgrade &u, OnvifSession &s, const std::string &uri,
                 const std::function<void(int, int)> &progress)
{
    std::unique_ptr<CURL, CurlFree> c(curlLib() ? curl().easy_init() : nullptr);
    if (!c)
        return NETSDK_ERR_NETWORK;
    /* No overall time-out: a large package on a slow link takes its time; a stalled one is cut by the
     * low-speed limit below. */
    baseOptions(c.get(), uri, kMaxWaitMs);
    curl().easy_setopt(c.get(), CURLOPT_TIMEOUT_MS, 0L);
    curl().easy_setopt(c.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easy_setopt(c.get(), CURLOPT_LOW_SPEED_TIME, long(kUpgradeSilenceMs / 1000));
    Upload up;
    up.u = &u;
    up.progress = &progress;
    std::unique_ptr<curl_slist, SlistFree> headers(
        curl().slist_append(nullptr, "Content-Type: application/octet-stream"));
    headers.reset(curl().slist_append(headers.release(), "Expect:"));
    curl().easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
    curl().easy_setopt(c.get(), CURLOPT_POST, 1L);
    curl().easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(u.total));
    curl().easy_setopt(c.get(), CURLOPT_READFUNCTION, readPackage);
    curl().easy_setopt(c.get(), CURLOPT_READDATA, &up);
    curl().easy_setopt(c.get(), CURLOPT_SEEKFUNCTION, seekPackage);
    curl().easy_setopt(c.get(), CURLOPT_SEEKDATA, &up);
    curl().easy_setopt(c.get(), CURLOPT_NOPROGRESS, 0L);
    curl().easy_setopt(c.get(), CURLOPT_XFERINFOFUNCTION, uploadProgress);
    curl().easy_setopt(c.get(), CURLOPT_XFERINFODATA, &up);
    HttpReply r;
    curl().easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, collect);
    curl().easy_setopt(c.get(), CURLOPT_WRITEDATA, &r);
    if (s.httpDigest) {
        curl().easy_setopt(c.get(), CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
        curl().easy_setopt(c.get(), CURLOPT_USERNAME, s.user.c_str());
        curl().easy_setopt(c.get(), CURLOPT_PASSWORD, s.password.c_str());
    }
    r.curl = curl().easy_perform(c.get());
    curl().easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &r.status);
    if (up.fileError)
        return NETSDK_ERR_FILE;
    if (u.stop)
        return NETSDK_ERR_NETWORK;
    if (r.curl == CURLE_ABORTED_BY_CALLBACK || r.curl == CURLE_READ_ERROR)
        return NETSDK_ERR_NETWORK;
    if (long e = curlError(r))
        return e;
    if (r.status == 401)
        return NETSDK_ERR_PASSWORD;
    if (r.status < 200 || r.status > 299)
        return NETSDK_ERR_DEVICE_FAULT;
    if (up.lastPercent < 100)
        progress(int(u.total), int(u.total));
    return 0;
}

/* Waits `seconds`, or less when the upgrade is closed meanwhile. */
bool pause(Upgrade &u, int seconds)
{
    const Clock::time_point until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        if (u.stop)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !u.stop;
}

/* UpgradeSystemFirmware: the package travels inside the request, as an MTOM attachment. */
long upgradeInline(Upgrade &u, OnvifSession &s)
{
    if (u.total > 64u * 1024 * 1024)
        return NETSDK_ERR_FILE; /* held in memory for the request: bounded */
    std::string package(u.total, '\0');
    for (size_t got = 0; got < package.size();) {
        const ssize_t k = ::pread(u.fileFd, &package[got], package.size() - got, off_t(got));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return NETSDK_ERR_FILE;
        got += size_t(k);
    }
    Element body(Ns::Device, "UpgradeSystemFirmware");
    Element &fw = body.add(Element(Ns::Device, "Firmware"));
    fw.add(Element(Ns::Xop, "Include")).attributes.emplace_back("href", "cid:firmware@tallow");
    UsernameToken token;
    if (!s.httpDigest) {
        token.user = s.user;
        token.password = s.password;
        token.nonce = randomNonce();
        token.created = utcText(std::time(nullptr) + s.clockOffset);
    }
    const std::string soap = buildRequest(body, s.httpDigest ? nullptr : &token);
    std::unique_ptr<CURL, CurlFree> c(curlLib() ? curl().easy_init() : nullptr);
    if (!c)
        return NETSDK_ERR_NETWORK;
    baseOptions(c.get(), s.serviceUrl, kMaxWaitMs);
    curl_mime *mime = curl().mime_init(c.get());
    std::unique_ptr<curl_mime, void (*)(curl_mime *)> mimeOwner(mime, curl().mime_free);
    curl_mimepart *root = curl().mime_addpart(mime);
    curl().mime_data(root, soap.data(), soap.size());
    curl().mime_type(root, "application/xop+xml; charset=UTF-8; type=\"application/soap+xml\"");
    curl_slist *rootHeaders = curl().slist_append(nullptr, "Content-ID: <root@tallow>");
    curl().mime_headers(root, rootHeaders, 1);
    curl_mimepart *att = curl().mime_addpart(mime);
    curl().mime_data(att, package.data(), package.size());
    curl().mime_type(att, "application/octet-stream");
    curl().mime_encoder(att, "binary");
    curl_slist *attHeaders = curl().slist_append(nullptr, "Content-ID: <firmware@tallow>");
    curl().mime_headers(att, attHeaders, 1);
    curl().easy_setopt(c.get(), CURLOPT_MIMEPOST, mime);
    std::unique_ptr<curl_slist, SlistFree> headers(curl().slist_append(
        nullptr, "Content-Type: multipart/related; type=\"application/xop+xml\"; start=\"<root@tallow>\"; "
                 "start-info=\"application/soap+xml\""));
    headers.reset(curl().slist_append(headers.release(), "Expect:"));
    curl().easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
    HttpReply r;
    curl().easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, collect);
    curl().easy_setopt(c.get(), CURLOPT_WRITEDATA, &r);
    if (s.httpDigest) {
        curl().easy_setopt(c.get(), CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
        curl().easy_setopt(c.get(), CURLOPT_USERNAME, s.user.c_str());
        curl().easy_setopt(c.get(), CURLOPT_PASSWORD, s.password.c_str());
    }
    r.curl = curl().easy_perform(c.get());
    curl().easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &r.status);
    if (long e = curlError(r))
        return e;
    if (r.status == 401)
        return NETSDK_ERR_PASSWORD;
    Fault f;
    return parsed(parseReply(r.body.data(), r.body.size(), "UpgradeSystemFirmwareResponse", f), f, 0);
}

} // namespace

int onvifTransfer(Upgrade &u, const std::function<void(int, int)> &progress, long &lastError)
{
    auto failed = [&](long e) {
        lastError = e;
        return -2;
    };
    OnvifSession &s = *u.onvif;
    Digest digest{};
    if (const long r = packageDigest(u.fileFd, u.key, u.stop, digest))
        return failed(r);
    /* Another file than the one the application checked: nothing of it goes out. */
    if (u.pinned && !proto::digestEqual(digest.data(), u.expected.data()))
        return failed(NETSDK_ERR_FILE_CHANGED);

    const Auth a{&s.user, &s.password, s.clockOffset, nullptr};
    std::string reply;
    long e = soapCall(s.serviceUrl, "StartFirmwareUpgrade", Element(Ns::Device, "StartFirmwareUpgrade"), &a,
                      kUpgradeSilenceMs, reply);
    FirmwareUpload up;
    if (e == 0) {
        Fault f;
        e = parsed(parseStartFirmwareUpgrade(reply.data(), reply.size(), up, f), f, 0);
    }
    if (e == NETSDK_ERR_NOT_SUPPORTED) {
        /* A device that offers only the older call. */
        e = upgradeInline(u, s);
        if (e != 0)
            return failed(e);
        progress(int(u.total), int(u.total));
        return -1;
    }
    if (e != 0)
        return failed(e);
    /* The package goes to the device itself, never to another host its answer names. */
    HttpUrl target, service;
    if (!parseHttpUrl(up.uri, target) || !parseHttpUrl(s.serviceUrl, service) || target.host != service.host)
        return failed(NETSDK_ERR_PROTOCOL);
    if (!pause(u, std::min(up.delaySeconds, kMaxUploadDelaySeconds)))
        return failed(NETSDK_ERR_NETWORK);
    e = postPackage(u, s, up.uri, progress);
    if (e != 0)
        return failed(e);
    /* The bytes sent came from the file as it is now: it must still be the version that was checked. */
    FileKey now;
    if (!currentFileKey(u.fileFd, now) || now != u.key)
        return failed(NETSDK_ERR_FILE);
    return -1;
}

void onvifEndSession(const std::shared_ptr<OnvifSession> &sess)
{
    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.onvifSessions.find(sess->handle);
        if (it != s.onvifSessions.end() && it->second == sess)
            s.onvifSessions.erase(it);
    }
    sess->closed = true;
}

void onvifForget()
{
    OnvifState &st = state();
    std::lock_guard<std::mutex> lk(st.m);
    st.byAddress.clear();
    st.byMac.clear();
}

} // namespace detail
} // namespace netsdk

/* ==== The ONVIF additions of the C interface ==== */

void H264_DVR_SetOnvifProbeAddresses(const char *sAddresses)
{
    using namespace netsdk::detail;
    std::vector<in_addr> list = parseAddressList(sAddresses);
    std::lock_guard<std::mutex> lk(probeTargetsLock());
    probeTargets() = list;
}

void H264_DVR_SetOnvifSearchLogin(const char *sUserName, const char *sPassword)
{
    using namespace netsdk::detail;
    SearchLogin &sl = searchLogin();
    std::lock_guard<std::mutex> lk(sl.m);
    sl.user = sUserName ? sUserName : "";
    sl.password = sPassword ? sPassword : "";
}
