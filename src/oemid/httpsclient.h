#pragma once

// A small HTTPS client for the factory-record service: one TLS connection per request, HTTP/1.0.
// Plain C++ on OpenSSL so the benchmark and the simulator's tests can use it without Qt.

#include <cstdint>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

class HttpsClient
{
public:
    struct Options {
        std::string caFile; ///< PEM file of trusted CAs; empty = the system's CAs
        int connectTimeoutMs = 5000;
        int ioTimeoutMs = 10000; ///< each handshake step, write and read
    };

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
    /// (including a certificate that does not verify for the host).
    int post(const std::string &strHost, int nPort, const std::string &strPath, const char *pData,
             int nDataLen, char *pResponse, int *pnLen);

    /// Loads the trusted CAs (the CA file, or the system's) now; false with the reason when they
    /// cannot be loaded, in which case every post fails with -1.
    bool loadTrust(std::string *error = nullptr);

    bool lastHandshakeOk() const { return m_handshakeOk; }
    const std::string &lastError() const { return m_lastError; }

private:
    bool ensureContext();

    Options m_options;
    SSL_CTX *m_ctx = nullptr; // kept across requests: loading the CA store is the costly part
    bool m_handshakeOk = true;
    std::string m_lastError;
};
