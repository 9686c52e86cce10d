#include "httpsclient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

namespace
{

const char kFixedHeaders[] = "User-Agent: Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
                             "Cache-Control: no-cache\r\n"
                             "Accept: */*\r\n"
                             "Content-Type: application/json;charset=UTF-8\r\n";

std::string tlsErrors()
{
    std::string out;
    unsigned long e;
    char buf[256];
    while ((e = ERR_get_error()) != 0) {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty())
            out += "; ";
        out += buf;
    }
    return out;
}

// Host names are checked before any resolver sees them: a name that cannot be a host name is
// unresolvable by definition and must not turn into a DNS query.
bool plausibleHostName(const std::string &host)
{
    if (host.empty() || host.size() > 253)
        return false;
    std::size_t label = 0;
    for (char c : host) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_';
        if (!ok || ++label > 63)
            return false;
    }
    return true;
}

bool isIpLiteral(const std::string &host)
{
    in_addr a4;
    in6_addr a6;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

using Clock = std::chrono::steady_clock;

enum class Wait { Ready, TimedOut, Cancelled };

// Waits until `fd` is ready for `events`, the deadline passes or the request is cancelled. With a
// cancel to ask, the wait is cut into slices so that a cancel is seen within one.
Wait waitReady(int fd, short events, Clock::time_point deadline, const std::function<bool()> &cancelled)
{
    for (;;) {
        if (cancelled && cancelled())
            return Wait::Cancelled;
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Wait::TimedOut;
        const long long slice = cancelled ? std::min<long long>(left, HttpsClient::kCancelPollMs)
                                          : std::min<long long>(left, std::numeric_limits<int>::max());
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, int(slice));
        if (rc > 0 || (rc < 0 && errno != EINTR))
            return Wait::Ready; // the next call on the socket tells what became of it
    }
}

// Runs one TLS call on the non-blocking socket until it gets through: its result, or -1 with
// `*wait` saying that the deadline or a cancel came first.
template <typename Call>
int runTls(SSL *ssl, int fd, const Call &call, Clock::time_point deadline,
           const std::function<bool()> &cancelled, Wait *wait)
{
    *wait = Wait::Ready;
    for (;;) {
        const int n = call();
        if (n > 0)
            return n;
        const int error = SSL_get_error(ssl, n);
        short events;
        if (error == SSL_ERROR_WANT_READ)
            events = POLLIN;
        else if (error == SSL_ERROR_WANT_WRITE)
            events = POLLOUT;
        else
            return n;
        *wait = waitReady(fd, events, deadline, cancelled);
        if (*wait != Wait::Ready)
            return -1;
    }
}

// Where a connection's new sessions go (the connection's application data).
struct SessionTarget {
    TlsSessionCache *cache;
    std::string key;
};

// Every connection, resumed or not, must present a certificate for the host we asked for: a resumed
// session carries the certificate verified when it was made.
bool certificateNamesHost(SSL *ssl, const std::string &host)
{
    X509 *peer = SSL_get0_peer_certificate(ssl);
    if (!peer || SSL_get_verify_result(ssl) != X509_V_OK)
        return false;
    if (isIpLiteral(host))
        return X509_check_ip_asc(peer, host.c_str(), 0) == 1;
    return X509_check_host(peer, host.data(), host.size(), 0, nullptr) == 1;
}

// Starts the connect on the non-blocking socket and waits for it until `by`.
Wait connectBy(int fd, const sockaddr *addr, socklen_t len, Clock::time_point by,
               const std::function<bool()> &cancelled, bool *connected)
{
    *connected = false;
    if (::connect(fd, addr, len) == 0) {
        *connected = true;
        return Wait::Ready;
    }
    if (errno != EINPROGRESS)
        return Wait::Ready;
    const Wait w = waitReady(fd, POLLOUT, by, cancelled);
    if (w != Wait::Ready)
        return w;
    int err = 0;
    socklen_t el = sizeof err;
    *connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0;
    return Wait::Ready;
}

} // namespace

HttpsClient::HttpsClient() = default;

HttpsClient::HttpsClient(Options options) : m_options(std::move(options)) {}

HttpsClient::~HttpsClient()
{
    if (m_ctx)
        SSL_CTX_free(m_ctx);
}

TlsSessionCache::~TlsSessionCache()
{
    for (auto &s : m_sessions)
        SSL_SESSION_free(s.second);
}

std::string TlsSessionCache::key(const std::string &host, int port)
{
    return host + ":" + std::to_string(port);
}

SSL_SESSION *TlsSessionCache::find(const std::string &key) const
{
    const auto it = m_sessions.find(key);
    return it == m_sessions.end() ? nullptr : it->second;
}

void TlsSessionCache::store(const std::string &key, SSL_SESSION *session)
{
    SSL_SESSION *&slot = m_sessions[key];
    if (slot)
        SSL_SESSION_free(slot);
    slot = session;
}

void TlsSessionCache::offerTaken(const std::string &key, bool resumed)
{
    int &refused = m_refusals[key];
    refused = resumed ? 0 : refused + 1;
}

bool TlsSessionCache::worthOffering(const std::string &key) const
{
    const auto it = m_refusals.find(key);
    return it == m_refusals.end() || it->second < kRefusalsBeforeGivingUp;
}

void TlsSessionCache::drop(const std::string &key)
{
    const auto it = m_sessions.find(key);
    if (it == m_sessions.end())
        return;
    SSL_SESSION_free(it->second);
    m_sessions.erase(it);
}

std::string HttpsClient::buildRequest(const std::string &host, int port, const std::string &path,
                                      const std::string &body)
{
    std::string r;
    r.reserve(body.size() + 512);
    r += "POST " + path + " HTTP/1.0\r\n";
    r += "Host: " + host + ":" + std::to_string(port) + "\r\n";
    r += kFixedHeaders;
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    r += body;
    return r;
}

bool HttpsClient::ensureContext()
{
    if (m_ctx)
        return true;
    static std::once_flag once;
    std::call_once(once, [] {
        // A peer closing mid-write must give an error code, not end the process.
        struct sigaction sa;
        if (sigaction(SIGPIPE, nullptr, &sa) == 0 && sa.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    });
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return false;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // Sessions (TLS 1.3 tickets arrive after the handshake) go to this client's own cache, under the
    // host and port of the connection that got them; OpenSSL's cache is not used.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &HttpsClient::onNewSession);
    const bool loaded = m_options.caFile.empty()
                            ? SSL_CTX_set_default_verify_paths(ctx) == 1
                            : SSL_CTX_load_verify_locations(ctx, m_options.caFile.c_str(), nullptr) == 1;
    if (!loaded) {
        m_lastError = "cannot load the CA certificates " +
                      (m_options.caFile.empty() ? std::string("of the system") : m_options.caFile) + ": " +
                      tlsErrors();
        SSL_CTX_free(ctx);
        return false;
    }
    m_ctx = ctx;
    return true;
}

bool HttpsClient::loadTrust(std::string *error)
{
    m_lastError.clear();
    const bool ok = ensureContext();
    if (!ok && error)
        *error = m_lastError;
    return ok;
}

int HttpsClient::onNewSession(SSL *ssl, SSL_SESSION *session)
{
    auto *target = static_cast<SessionTarget *>(SSL_get_app_data(ssl));
    if (!target || !SSL_SESSION_is_resumable(session))
        return 0;
    target->cache->store(target->key, session);
    return 1; // the cache holds the reference now
}

int HttpsClient::post(const std::string &strHost, int nPort, const std::string &strPath, const char *pData,
                      int nDataLen, char *pResponse, int *pnLen)
{
    const int capacity = pnLen ? *pnLen : 0;
    if (pnLen)
        *pnLen = 0;
    m_handshakeOk = true;
    m_lastResumed = false;
    m_lastError.clear();
    ERR_clear_error();

    if (nDataLen < 0 || (!pData && nDataLen > 0)) {
        m_lastError = "no request body";
        return -1;
    }
    if (!plausibleHostName(strHost) || nPort <= 0 || nPort > 65535) {
        m_lastError = "not a host name: \"" + strHost + "\"";
        return -2;
    }
    // One deadline for everything the request does, the second try after a refused resumption too.
    const Deadline deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, m_options.requestTimeoutMs));
    const std::string request = buildRequest(
        strHost, nPort, strPath, pData ? std::string(pData, std::size_t(nDataLen)) : std::string());
    Attempt how = Attempt::Done;
    int rc = attempt(strHost, nPort, request, pResponse, capacity, pnLen, true, deadline, &how);
    if (how == Attempt::ResumeFailed) {
        // The service would not take the session we offered: forget it and shake hands in full.
        m_sessions.drop(TlsSessionCache::key(strHost, nPort));
        m_handshakeOk = true;
        m_lastError.clear();
        rc = attempt(strHost, nPort, request, pResponse, capacity, pnLen, false, deadline, &how);
    }
    return rc;
}

int HttpsClient::attempt(const std::string &strHost, int nPort, const std::string &request, char *pResponse,
                         int capacity, int *pnLen, bool offerSession, Deadline deadline, Attempt *how)
{
    *how = Attempt::Done;
    const std::function<bool()> &cancelled = m_options.cancelled;
    // The deadline or a cancel came before the request was through: nothing it got counts.
    const auto abandon = [&](Wait w, const char *phase) {
        if (w == Wait::Cancelled) {
            m_lastError = std::string("cancelled while ") + phase;
            return kCancelled;
        }
        m_lastError = std::string("no answer from ") + strHost + " within " +
                      std::to_string(m_options.requestTimeoutMs) + " ms (stopped while " + phase + ")";
        return kTimedOut;
    };
    if (cancelled && cancelled())
        return abandon(Wait::Cancelled, "starting");
    // One look-up per host and port for the client's life (one upload run), not one per record.
    const std::string peerKey = TlsSessionCache::key(strHost, nPort);
    auto resolved = m_resolved.find(peerKey);
    if (resolved == m_resolved.end()) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *res = nullptr;
        if (getaddrinfo(strHost.c_str(), std::to_string(nPort).c_str(), &hints, &res) != 0 || !res ||
            res->ai_addrlen != sizeof(sockaddr_in)) {
            if (res)
                freeaddrinfo(res);
            m_lastError = "cannot resolve " + strHost;
            return -2;
        }
        sockaddr_in addr{};
        std::memcpy(&addr, res->ai_addr, sizeof addr);
        freeaddrinfo(res);
        resolved = m_resolved.emplace(peerKey, addr).first;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_lastError = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    // Non-blocking from here on: every wait is a poll against the deadline.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    const Deadline connectLimit =
        Clock::now() + std::chrono::milliseconds(std::max(0, m_options.connectTimeoutMs));
    bool connected = false;
    const Wait connectWait =
        connectBy(fd, reinterpret_cast<const sockaddr *>(&resolved->second), sizeof(sockaddr_in),
                  std::min(deadline, connectLimit), cancelled, &connected);
    if (connectWait == Wait::Cancelled || (connectWait == Wait::TimedOut && deadline <= connectLimit)) {
        ::close(fd);
        return abandon(connectWait, "connecting");
    }
    if (!connected) {
        m_lastError = "cannot connect to " + strHost + ":" + std::to_string(nPort);
        ::close(fd);
        return -1;
    }

    SSL *ssl = nullptr;
    if (!ensureContext() || !(ssl = SSL_new(m_ctx)) || SSL_set_fd(ssl, fd) != 1) {
        if (m_lastError.empty())
            m_lastError = "TLS set-up failed: " + tlsErrors();
        if (ssl)
            SSL_free(ssl);
        ::close(fd);
        std::fprintf(stderr, "HttpsClient: %s\n", m_lastError.c_str());
        return -1;
    }
    SessionTarget target{&m_sessions, TlsSessionCache::key(strHost, nPort)};
    SSL_set_app_data(ssl, &target);
    // The service's certificate must name the host we asked for; the name goes out as SNI.
    if (isIpLiteral(strHost)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), strHost.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, strHost.c_str());
        SSL_set1_host(ssl, strHost.c_str());
    }
    SSL_SESSION *offered =
        offerSession && m_sessions.worthOffering(target.key) ? m_sessions.find(target.key) : nullptr;
    if (offered && (!SSL_SESSION_is_resumable(offered) || SSL_set_session(ssl, offered) != 1))
        offered = nullptr;
    Wait wait = Wait::Ready;
    const bool shook = runTls(
                           ssl, fd, [ssl] { return SSL_connect(ssl); }, deadline, cancelled, &wait) == 1;
    if (wait != Wait::Ready) {
        ERR_clear_error();
        SSL_set_app_data(ssl, nullptr);
        SSL_free(ssl);
        ::close(fd);
        return abandon(wait, "shaking hands");
    }
    const bool resumed = shook && SSL_session_reused(ssl) == 1;
    if (!shook || !certificateNamesHost(ssl, strHost)) {
        m_handshakeOk = false;
        const long verify = SSL_get_verify_result(ssl);
        m_lastError = "TLS handshake with " + strHost + " failed";
        if (shook)
            m_lastError += ": the certificate does not name the host";
        else if (verify != X509_V_OK)
            m_lastError += std::string(": ") + X509_verify_cert_error_string(verify);
        const std::string queue = tlsErrors();
        if (!queue.empty())
            m_lastError += " (" + queue + ")";
        SSL_set_app_data(ssl, nullptr);
        SSL_free(ssl);
        ::close(fd);
        m_sessions.drop(target.key);
        if (offered && !shook) {
            m_sessions.offerTaken(target.key, false);
            *how = Attempt::ResumeFailed;
            return -2;
        }
        std::fprintf(stderr, "HttpsClient: %s\n", m_lastError.c_str());
        return -2;
    }
    if (offered)
        m_sessions.offerTaken(target.key, resumed);
    m_lastResumed = resumed;
    ++(resumed ? m_stats.resumedHandshakes : m_stats.fullHandshakes);

    int result = 0;
    const int size = static_cast<int>(request.size());
    if (runTls(
            ssl, fd, [&] { return SSL_write(ssl, request.data(), size); }, deadline, cancelled, &wait) !=
        size) {
        result = wait != Wait::Ready ? abandon(wait, "sending") : -1;
        if (wait == Wait::Ready)
            m_lastError = "sending the request failed: " + tlsErrors();
    } else if (pResponse && capacity > 0) {
        // HTTP/1.0: the answer ends when the server closes, whatever its TLS record boundaries.
        int got = 0;
        while (got < capacity - 1) {
            const int n = runTls(
                ssl, fd, [&] { return SSL_read(ssl, pResponse + got, capacity - 1 - got); }, deadline,
                cancelled, &wait);
            if (n <= 0)
                break;
            got += n;
        }
        if (wait != Wait::Ready) {
            got = 0; // half an answer is none
            result = abandon(wait, "reading the answer");
        }
        pResponse[got] = '\0';
        *pnLen = got;
        if (got == 0 && result == 0) {
            m_lastError = "no answer from " + strHost;
            result = -1;
        }
    }
    if (wait == Wait::Ready)
        SSL_shutdown(ssl); // one try: the socket does not block
    ERR_clear_error();
    SSL_set_app_data(ssl, nullptr);
    SSL_free(ssl);
    ::close(fd);
    return result;
}
