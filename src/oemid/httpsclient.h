#pragma once

// A small HTTPS client for the factory-record service: one TLS connection per request, HTTP/1.0.
// Plain C++ on OpenSSL so the benchmark and the simulator's tests can use it without Qt.
//
// One client serves one upload run. The connections after the first resume the TLS session that
// the same host and port gave before (the certificate was verified when it was made); the host name
// is checked against the certificate on every connection, and a service that refuses to resume
// simply gets a full handshake.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

/// The TLS sessions one client may resume, one per host and port: a session is only ever offered
/// to the host and port that issued it.
class TlsSessionCache
{
public:
    TlsSessionCache() = default;
    ~TlsSessionCache();
    TlsSessionCache(const TlsSessionCache &) = delete;
    TlsSessionCache &operator=(const TlsSessionCache &) = delete;

    static std::string key(const std::string &host, int port);
    /// The session to offer to host:port, or null; it stays owned by the cache.
    SSL_SESSION *find(const std::string &key) const;
    /// Keeps `session` (taking its reference) as the one to offer to `key`, replacing the older one.
    void store(const std::string &key, SSL_SESSION *session);
    void drop(const std::string &key);
    std::size_t size() const { return m_sessions.size(); }

    /// What became of an offered session. A peer that refuses twice in a row is offered none for
    /// the rest of the cache's life: a full handshake is all it takes, and the offer costs both ends.
    void offerTaken(const std::string &key, bool resumed);
    bool worthOffering(const std::string &key) const;

private:
    static constexpr int kRefusalsBeforeGivingUp = 2;
    std::map<std::string, SSL_SESSION *> m_sessions;
    std::map<std::string, int> m_refusals; ///< refusals in a row, per host and port
};

class HttpsClient
{
public:
    struct Options {
        std::string caFile;          ///< PEM file of trusted CAs; empty = the system's CAs
        int connectTimeoutMs = 5000; ///< the TCP connect (within the request's deadline)
        /// One deadline for the whole request: connect, TLS handshake, sending and the whole answer.
        /// A server that trickles its bytes cannot hold a request past it.
        int requestTimeoutMs = 10000;
        /// Asked while a request waits (at least every kCancelPollMs); true ends the request at once.
        std::function<bool()> cancelled;
    };
    static constexpr int kCancelPollMs = 50;

    HttpsClient();
    explicit HttpsClient(Options options);
    ~HttpsClient();
    HttpsClient(const HttpsClient &) = delete;
    HttpsClient &operator=(const HttpsClient &) = delete;

    /// The request bytes: request line, Host, the fixed header block, Content-Length, body.
    static std::string buildRequest(const std::string &host, int port, const std::string &path,
                                    const std::string &body);

    /// Sends one POST and reads the response until the server closes (or the buffer is full).
    /// pResponse may be null; *pnLen passes its capacity in and the bytes read out (the data is
    /// NUL-terminated, so at most capacity - 1 bytes are kept).
    /// Returns 0 when sent and answered, -1 when the connection or the TLS objects cannot be set
    /// up (or no answer arrives), -2 when the host cannot be resolved or the handshake fails
    /// (including a certificate that does not verify for the host), kTimedOut when the request's
    /// deadline passed first and kCancelled when the options' cancel said so.
    static constexpr int kTimedOut = -3;
    static constexpr int kCancelled = -4;
    int post(const std::string &strHost, int nPort, const std::string &strPath, const char *pData,
             int nDataLen, char *pResponse, int *pnLen);

    /// Loads the trusted CAs (the CA file, or the system's) now; false with the reason when they
    /// cannot be loaded, in which case every post fails with -1.
    bool loadTrust(std::string *error = nullptr);

    bool lastHandshakeOk() const { return m_handshakeOk; }
    /// Whether the last request's connection resumed an earlier TLS session.
    bool lastResumed() const { return m_lastResumed; }
    const std::string &lastError() const { return m_lastError; }

    struct Stats {
        int fullHandshakes = 0;
        int resumedHandshakes = 0;
    };
    const Stats &stats() const { return m_stats; }

private:
    enum class Attempt { Done, ResumeFailed };
    using Deadline = std::chrono::steady_clock::time_point;
    bool ensureContext();
    int attempt(const std::string &strHost, int nPort, const std::string &request, char *pResponse,
                int capacity, int *pnLen, bool offerSession, Deadline deadline, Attempt *how);
    static int onNewSession(SSL *ssl, SSL_SESSION *session);

    Options m_options;
    SSL_CTX *m_ctx = nullptr; // kept across requests: loading the CA store is the costly part
    TlsSessionCache m_sessions;
    std::map<std::string, sockaddr_in> m_resolved; ///< host:port -> address, for this client's life
    bool m_handshakeOk = true;
    bool m_lastResumed = false;
    Stats m_stats;
    std::string m_lastError;
};
