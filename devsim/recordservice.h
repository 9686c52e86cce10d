#pragma once

// The factory-record service: HTTPS on a loopback port, one JSON record per POST to
// "/privateApi/putFactoryDeviceInfo". Plain C++17 on OpenSSL.
//
// Files below <stateDir>/records/:
//   ca.pem, ca-key.pem   a self-signed CA, made on first start and reused afterwards; give ca.pem
//                        to the client as its CA file ([Upload] CAFile)
//   server.pem           the server certificate of this start (CN and SAN "localhost", IP 127.0.0.1)
//   accepted.log         every accepted record as its six fields joined by ",", one per line
//   faults.txt           optional fault switches, read again for every connection, one per line:
//       handshake-fail           close each connection before the TLS handshake
//       ret <code> [serial]      answer {"ret":<code>} without keeping the record
//       ret-text [serial]        answer {"ret":"200"} (ret as text)
//       no-brace [serial]        answer with the HTTP head only (no JSON body)
//       split                    send the head and the body as two TLS records
//       delay <ms>               wait before answering each record
//       no-resume                refuse to resume TLS sessions: every connection gets a full
//                                handshake, though session tickets are still handed out
//       resume-abort             end the handshake of any connection that offers a session
//     Lines starting with '#' are comments. A serial limits the switch to that record.
//
// TLS sessions are resumed (TLS 1.3 tickets, or TLS 1.2 session tickets) unless refused, by the fault
// switch or setRefuseResumption().
//
// Answers ("ret"): 200 new record kept; 507 the same record is already held; 400 not a JSON
// record of six string members; 403 check code wrong; 404 another path.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace devsim
{

class RecordService
{
public:
    explicit RecordService(std::string stateDir);
    ~RecordService();
    RecordService(const RecordService &) = delete;
    RecordService &operator=(const RecordService &) = delete;

    /// Listens on addr:port (port 0 picks a free one); false with a reason if it cannot.
    bool start(const std::string &addr, uint16_t port, std::string *error);
    void stop();

    uint16_t port() const { return m_port; }
    std::string caFile() const;
    std::string faultFile() const;
    std::size_t acceptedCount() const;
    std::size_t connectionCount() const { return m_connections; }
    /// Connections that offered a session to resume (whether taken or not), and those resumed.
    std::size_t resumptionOffers() const { return m_offers; }
    std::size_t resumedCount() const { return m_resumed; }
    /// Refuse every resumption from now on, as the fault switch "no-resume" does.
    void setRefuseResumption(bool refuse) { m_refuseAlways = refuse; }

private:
    struct Faults;
    bool makeCredentials(std::string *error);
    void run();
    void serve(int fd);
    Faults readFaults() const;
    std::string handle(const std::string &body, const Faults &faults, int *httpStatus, std::string *serial);
    static int decryptTicket(SSL *ssl, SSL_SESSION *session, const unsigned char *keyName,
                             std::size_t keyNameLength, int status, void *arg);

    std::string m_dir;
    SSL_CTX *m_ctx = nullptr;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_connections{0};
    std::atomic<std::size_t> m_offers{0};
    std::atomic<std::size_t> m_resumed{0};
    std::atomic<bool> m_refuseAlways{false};
    enum class Resume { Accept, Refuse, Abort };
    Resume m_resumeNow = Resume::Accept; ///< this connection's choice (the service thread only)
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::set<std::string> m_accepted;
};

} // namespace devsim
