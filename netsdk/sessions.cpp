/*
 * sessions.cpp - the SDK's state: logins, their handles, and one request/answer exchange on a login.
 */
#include "sdkinternal.h"

#include <cstring>

namespace netsdk
{
namespace detail
{

namespace
{
thread_local long t_lastError = 0;
} // namespace

void setError(long code)
{
    t_lastError = code;
}

long lastError()
{
    return t_lastError;
}

Sdk &sdk()
{
    static Sdk *s = new Sdk;
    return *s;
}

long nextLoginHandle(Sdk &s)
{
    for (;;) {
        const long h = nextHandle(s.nextLogin, s.sessions);
        if (!s.onvifSessions.count(h))
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

std::array<uint8_t, proto::kDigestSize> loginKeyFor(const std::string &password,
                                                    const std::array<uint8_t, proto::kSaltSize> &salt,
                                                    uint32_t iterations)
{
    proto::Sha256 h;
    h.update(reinterpret_cast<const uint8_t *>(password.data()), password.size());
    const auto pw = h.final();
    std::string id(pw.begin(), pw.end());
    id.append(salt.begin(), salt.end());
    id.append(reinterpret_cast<const char *>(&iterations), sizeof iterations);
    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.loginKeys.find(id);
        if (it != s.loginKeys.end())
            return it->second;
    }
    /* Derived outside the lock: other logins go on meanwhile. Two logins racing for the same key
     * both derive it once; that only happens on the first round. */
    const auto key = proto::loginKey(password, salt, iterations);
    std::lock_guard<std::mutex> lk(s.m);
    if (s.loginKeys.size() >= 1024)
        s.loginKeys.clear();
    s.loginKeys[id] = key;
    return key;
}

bool initialised()
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    return s.refs > 0;
}

} // namespace detail
} // namespace netsdk
