#include "recordservice.h"

#include "oemid/oemidcipher.h"

#include <json/json.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace devsim
{

struct RecordService::Faults {
    bool handshakeFail = false;
    bool noResume = false;
    bool resumeAbort = false;
    bool split = false;
    int delayMs = 0;
    int trickleMs = 0; ///< the answer goes out one byte every this many ms
    struct Answer {
        std::string kind; // "ret", "ret-text", "no-brace"
        int code = 0;
        std::string serial;
    };
    std::vector<Answer> answers;
};

namespace
{

const char kPath[] = "/privateApi/putFactoryDeviceInfo";

std::string sslErrors()
{
    std::string out;
    unsigned long e;
    char buf[256];
    while ((e = ERR_get_error()) != 0) {
        ERR_error_string_n(e, buf, sizeof buf);
        out += out.empty() ? "" : "; ";
        out += buf;
    }
    return out;
}

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509 *p) const { X509_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

bool addExt(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

Cert makeCert(EVP_PKEY *key, const char *cn, X509 *issuer, EVP_PKEY *issuerKey, bool ca, long serial)
{
    Cert cert(X509_new());
    if (!cert)
        return nullptr;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Tallow devsim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(cn), -1, -1,
                               0);
    X509 *iss = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(iss));
    bool ok = true;
    if (ca) {
        ok = addExt(cert.get(), iss, NID_basic_constraints, "critical,CA:TRUE") &&
             addExt(cert.get(), iss, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             addExt(cert.get(), iss, NID_subject_key_identifier, "hash");
    } else {
        ok = addExt(cert.get(), iss, NID_basic_constraints, "critical,CA:FALSE") &&
             addExt(cert.get(), iss, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExt(cert.get(), iss, NID_ext_key_usage, "serverAuth") &&
             addExt(cert.get(), iss, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
             addExt(cert.get(), iss, NID_authority_key_identifier, "keyid");
    }
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

bool writePem(const std::string &path, X509 *cert, EVP_PKEY *key)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = cert ? PEM_write_X509(f, cert) == 1
                   : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

std::string recordKey(const Json::Value &v)
{
    static const char *order[] = {"serialNumber", "devMac", "oemId", "burnTime", "pcMac", "checkCode"};
    std::string line;
    for (int i = 0; i < 6; ++i)
        line += (i ? "," : "") + v[order[i]].asString();
    return line;
}

bool sslWriteAll(SSL *ssl, const std::string &data)
{
    return data.empty() ||
           SSL_write(ssl, data.data(), static_cast<int>(data.size())) == static_cast<int>(data.size());
}

} // namespace

RecordService::RecordService(std::string stateDir) : m_dir(fs::path(stateDir) / "records") {}

RecordService::~RecordService()
{
    stop();
}

std::string RecordService::caFile() const
{
    return (fs::path(m_dir) / "ca.pem").string();
}
std::string RecordService::faultFile() const
{
    return (fs::path(m_dir) / "faults.txt").string();
}

std::size_t RecordService::acceptedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepted.size();
}

bool RecordService::makeCredentials(std::string *error)
{
    const std::string caPath = caFile(), caKeyPath = (fs::path(m_dir) / "ca-key.pem").string();
    Pkey caKey;
    Cert caCert;
    if (fs::exists(caPath) && fs::exists(caKeyPath)) {
        if (FILE *f = std::fopen(caKeyPath.c_str(), "rb")) {
            caKey.reset(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
            std::fclose(f);
        }
        if (FILE *f = std::fopen(caPath.c_str(), "rb")) {
            caCert.reset(PEM_read_X509(f, nullptr, nullptr, nullptr));
            std::fclose(f);
        }
    }
    if (!caKey || !caCert) {
        caKey.reset(EVP_EC_gen("P-256"));
        if (caKey)
            caCert = makeCert(caKey.get(), "Tallow devsim record CA", nullptr, nullptr, true, 1);
        if (!caKey || !caCert || !writePem(caKeyPath, nullptr, caKey.get()) ||
            !writePem(caPath, caCert.get(), nullptr)) {
            *error = "cannot make the record service's CA in " + m_dir + ": " + sslErrors();
            return false;
        }
    }
    Pkey key(EVP_EC_gen("P-256"));
    const long serial =
        static_cast<long>(std::chrono::system_clock::now().time_since_epoch().count() & 0x7fffffff);
    Cert cert = key ? makeCert(key.get(), "localhost", caCert.get(), caKey.get(), false, serial) : nullptr;
    if (!cert || !writePem((fs::path(m_dir) / "server.pem").string(), cert.get(), nullptr)) {
        *error = "cannot make the record service's certificate: " + sslErrors();
        return false;
    }
    m_ctx = SSL_CTX_new(TLS_server_method());
    if (!m_ctx || SSL_CTX_use_certificate(m_ctx, cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(m_ctx, key.get()) != 1 ||
        SSL_CTX_add_extra_chain_cert(m_ctx, X509_dup(caCert.get())) != 1) {
        *error = "cannot set up the record service's TLS context: " + sslErrors();
        return false;
    }
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    // Resumption by ticket only, so that the ticket callback alone decides whether a session is
    // taken; one ticket per connection is all a one-request client can use.
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(m_ctx, 1);
    SSL_CTX_set_session_ticket_cb(m_ctx, nullptr, &RecordService::decryptTicket, this);
    return true;
}

int RecordService::decryptTicket(SSL *, SSL_SESSION *, const unsigned char *, std::size_t, int status,
                                 void *arg)
{
    auto *self = static_cast<RecordService *>(arg);
    if (status == SSL_TICKET_EMPTY || status == SSL_TICKET_NONE)
        return SSL_TICKET_RETURN_IGNORE_RENEW; // no session offered
    ++self->m_offers;
    if (self->m_resumeNow == Resume::Abort)
        return SSL_TICKET_RETURN_ABORT;
    if (self->m_resumeNow == Resume::Refuse || status == SSL_TICKET_NO_DECRYPT)
        return SSL_TICKET_RETURN_IGNORE_RENEW; // a full handshake, and a fresh ticket all the same
    if (status == SSL_TICKET_SUCCESS)
        return SSL_TICKET_RETURN_USE;
    if (status == SSL_TICKET_SUCCESS_RENEW)
        return SSL_TICKET_RETURN_USE_RENEW;
    return SSL_TICKET_RETURN_ABORT;
}

bool RecordService::start(const std::string &addr, uint16_t port, std::string *error)
{
    std::string dummy;
    if (!error)
        error = &dummy;
    if (m_thread.joinable()) {
        *error = "the record service is already running";
        return false;
    }
    std::error_code ec;
    fs::create_directories(m_dir, ec);
    if (ec) {
        *error = "cannot create " + m_dir + ": " + ec.message();
        return false;
    }
    {
        struct sigaction sa;
        if (sigaction(SIGPIPE, nullptr, &sa) == 0 && sa.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
    }
    if (!m_ctx && !makeCredentials(error))
        return false;

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepted.clear();
        std::ifstream in((fs::path(m_dir) / "accepted.log").string());
        std::string line;
        while (std::getline(in, line))
            if (!line.empty())
                m_accepted.insert(line);
    }

    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
        *error = "not an IPv4 address: " + addr;
        return false;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof sa;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::listen(m_listen, 64) != 0 || getsockname(m_listen, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        *error = "record service cannot listen on " + addr + ":" + std::to_string(port) + ": " +
                 std::strerror(errno);
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
        return false;
    }
    m_port = ntohs(sa.sin_port);
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void RecordService::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
    if (m_ctx)
        SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
}

void RecordService::run()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 100) != 1)
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        serve(fd);
        ::close(fd);
    }
}

RecordService::Faults RecordService::readFaults() const
{
    Faults f;
    std::ifstream in(faultFile());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string word;
        if (!(s >> word) || word[0] == '#')
            continue;
        if (word == "handshake-fail") {
            f.handshakeFail = true;
        } else if (word == "no-resume") {
            f.noResume = true;
        } else if (word == "resume-abort") {
            f.resumeAbort = true;
        } else if (word == "split") {
            f.split = true;
        } else if (word == "delay") {
            s >> f.delayMs;
        } else if (word == "trickle") {
            s >> f.trickleMs;
        } else if (word == "ret" || word == "ret-text" || word == "no-brace") {
            Faults::Answer a;
            a.kind = word;
            if (word == "ret")
                s >> a.code;
            s >> a.serial;
            f.answers.push_back(a);
        }
    }
    return f;
}

void RecordService::serve(int fd)
{
    const Faults faults = readFaults();
    if (faults.handshakeFail)
        return; // the client sees the connection close in the middle of its handshake

    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    SSL *ssl = SSL_new(m_ctx);
    if (!ssl)
        return;
    SSL_set_fd(ssl, fd);
    m_resumeNow = faults.resumeAbort                  ? Resume::Abort
                  : faults.noResume || m_refuseAlways ? Resume::Refuse
                                                      : Resume::Accept;
    if (SSL_accept(ssl) != 1) {
        ERR_clear_error();
        SSL_free(ssl);
        return;
    }
    if (SSL_session_reused(ssl))
        ++m_resumed;

    // Read the head, then Content-Length bytes of body (bounded).
    std::string in;
    char buf[4096];
    std::size_t headEnd = std::string::npos, need = 0;
    while (in.size() < 65536) {
        const int n = SSL_read(ssl, buf, sizeof buf);
        if (n <= 0)
            break;
        in.append(buf, static_cast<std::size_t>(n));
        if (headEnd == std::string::npos && (headEnd = in.find("\r\n\r\n")) != std::string::npos) {
            headEnd += 4;
            const std::size_t cl = in.find("Content-Length:");
            need =
                cl != std::string::npos && cl < headEnd ? std::strtoul(in.c_str() + cl + 15, nullptr, 10) : 0;
        }
        if (headEnd != std::string::npos && in.size() >= headEnd + need)
            break;
    }

    int status = 200;
    std::string serial, body;
    if (headEnd == std::string::npos) {
        status = 400;
        body = "{\"ret\":400}";
    } else if (in.compare(0, 5 + std::strlen(kPath), std::string("POST ") + kPath) != 0) {
        status = 404;
        body = "{\"ret\":404}";
    } else {
        body = handle(in.substr(headEnd, need), faults, &status, &serial);
    }
    if (faults.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults.delayMs));

    const Faults::Answer *forced = nullptr;
    for (const auto &a : faults.answers)
        if (a.serial.empty() || a.serial == serial)
            forced = &a;
    if (forced && forced->kind == "no-brace")
        body.clear();

    std::string head =
        "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n";
    if (faults.trickleMs > 0) {
        // A slow service: a byte at a time, until the client goes away.
        const std::string all = head + body;
        for (char c : all) {
            if (!sslWriteAll(ssl, std::string(1, c)))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(faults.trickleMs));
        }
    } else if (faults.split)
        sslWriteAll(ssl, head) && sslWriteAll(ssl, body);
    else
        sslWriteAll(ssl, head + body);
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
}

std::string RecordService::handle(const std::string &text, const Faults &faults, int *httpStatus,
                                  std::string *serial)
{
    Json::Value v;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    std::string errs;
    static const char *members[] = {"serialNumber", "devMac", "oemId", "burnTime", "pcMac", "checkCode"};
    bool ok = reader->parse(text.data(), text.data() + text.size(), &v, &errs) && v.isObject();
    for (const char *m : members)
        ok = ok && v.isMember(m) && v[m].isString();
    if (!ok) {
        *httpStatus = 400;
        return "{\"ret\":400}";
    }
    *serial = v["serialNumber"].asString();

    for (const auto &a : faults.answers) {
        if (!a.serial.empty() && a.serial != *serial)
            continue;
        if (a.kind == "ret")
            return "{\"ret\":" + std::to_string(a.code) + "}";
        if (a.kind == "ret-text")
            return "{\"ret\":\"200\"}";
    }

    int h = -1, m = -1, s = -1, y, mo, d;
    const std::string burn = v["burnTime"].asString();
    if (std::sscanf(burn.c_str(), "%4d-%2d-%2d %2d-%2d-%2d", &y, &mo, &d, &h, &m, &s) != 6 ||
        oemid::makeCheckCode(*serial, v["pcMac"].asString(), v["oemId"].asString(), h, m, s) !=
            v["checkCode"].asString()) {
        return "{\"ret\":403}";
    }

    const std::string key = recordKey(v);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepted.insert(key).second)
        return "{\"ret\":507}";
    std::ofstream out((fs::path(m_dir) / "accepted.log").string(), std::ios::app);
    out << key << '\n';
    out.flush();
    if (!out) {
        m_accepted.erase(key);
        *httpStatus = 500;
        return "{\"ret\":500}";
    }
    return "{\"ret\":200}";
}

} // namespace devsim
