#include "onvifhttp.h"

#include "device.h"

#include <microhttpd.h>
#include <openssl/rand.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace devsim
{

namespace
{

const char kRealm[] = "ONVIF";
const char kServicePath[] = "/onvif/device_service";
constexpr unsigned kNonceSeconds = 300;

} // namespace

struct OnvifHttp::Request {
    std::string path, method, contentType;
    std::string body;
    FILE *upload = nullptr; ///< open while a package streams in
    std::string scratch;    ///< where it streams to
    uint64_t received = 0;
    bool tooLarge = false;
    bool started = false;
    OnvifReply reply; ///< what went out (for the action after it)
    ~Request()
    {
        if (upload)
            std::fclose(upload);
    }
};

OnvifHttp::OnvifHttp(OnvifService &service, std::function<void(const OnvifReply &)> after)
    : service_(service), after_(std::move(after))
{
    RAND_bytes(nonceSeed_, sizeof nonceSeed_);
}

OnvifHttp::~OnvifHttp()
{
    stop();
}

bool OnvifHttp::start(const std::string &ip, uint16_t port, std::string *error)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 || (ntohl(a.sin_addr.s_addr) >> 24) != 127) {
        *error = ip + " is not a loopback address";
        return false;
    }
    ip_ = ip;
    port_ = port;
    daemon_ = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL, port, nullptr, nullptr,
        reinterpret_cast<MHD_AccessHandlerCallback>(&OnvifHttp::onRequest), this, MHD_OPTION_SOCK_ADDR, &a,
        MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u, MHD_OPTION_NOTIFY_COMPLETED,
        reinterpret_cast<MHD_RequestCompletedCallback>(&OnvifHttp::onCompleted), this,
        MHD_OPTION_DIGEST_AUTH_RANDOM, sizeof nonceSeed_, nonceSeed_, MHD_OPTION_NONCE_NC_SIZE, 1024u,
        MHD_OPTION_CONNECTION_LIMIT, 64u, MHD_OPTION_CONNECTION_TIMEOUT, 60u, MHD_OPTION_END);
    if (!daemon_) {
        *error = "cannot serve ONVIF on " + ip + ":" + std::to_string(port);
        return false;
    }
    return true;
}

void OnvifHttp::stop()
{
    if (daemon_)
        MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

int OnvifHttp::onRequest(void *cls, void *connection, const char *url, const char *method, const char *,
                         const char *uploadData, size_t *uploadSize, void **context)
{
    auto *self = static_cast<OnvifHttp *>(cls);
    auto *c = static_cast<MHD_Connection *>(connection);
    auto *r = static_cast<Request *>(*context);
    if (!r) {
        r = new Request;
        *context = r;
        r->path = url ? url : "";
        r->method = method ? method : "";
        const char *type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
        r->contentType = type ? type : "";
        if (r->method == "POST" && r->path.rfind(OnvifService::uploadPrefix(), 0) == 0 &&
            self->service_.uploadExpected(r->path)) {
            r->scratch = self->service_.device().newUpgradeScratchPath();
            r->upload = std::fopen(r->scratch.c_str(), "wb");
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        r->received += *uploadSize;
        // A package, posted to its upload address or inline (MTOM), loses its connection as an SDK
        // upgrade does under the same fault.
        const int64_t dropAt = self->service_.device().spec().faults.dropAfterUpgradeBytes;
        const bool package = r->upload || r->contentType.rfind("multipart/related", 0) == 0;
        if (package && dropAt >= 0 && int64_t(r->received) >= dropAt) {
            const std::string why = "connection dropped after " + std::to_string(dropAt) + " bytes (fault)";
            if (r->upload) {
                std::fclose(r->upload);
                r->upload = nullptr;
            }
            self->service_.device().upgradeAborted(why, r->scratch);
            return MHD_NO;
        }
        if (r->upload) {
            if (r->received > kMaxUpload || std::fwrite(uploadData, 1, *uploadSize, r->upload) != *uploadSize)
                r->tooLarge = true;
        } else if (r->received > kMaxSoapBytes + (64u << 20)) {
            // SOAP messages and MTOM packages are held in memory: bounded.
            r->tooLarge = true;
        } else if (!r->tooLarge) {
            r->body.append(uploadData, *uploadSize);
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    return self->respond(connection, *r);
}

HttpAuth OnvifHttp::digestAuth(void *connection)
{
    auto *c = static_cast<MHD_Connection *>(connection);
    const char *authz = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (!authz || strncasecmp(authz, "Digest ", 7) != 0)
        return HttpAuth::None;
    const DeviceSpec &spec = service_.device().spec();
    const int ok = MHD_digest_auth_check2(c, kRealm, spec.user.c_str(), spec.password.c_str(), kNonceSeconds,
                                          MHD_DIGEST_ALG_MD5);
    return ok == MHD_YES ? HttpAuth::Valid : ok == MHD_INVALID_NONCE ? HttpAuth::Stale : HttpAuth::Invalid;
}

int OnvifHttp::respond(void *connection, Request &r)
{
    auto *c = static_cast<MHD_Connection *>(connection);
    OnvifReply reply;
    if (r.tooLarge) {
        reply.httpStatus = 413;
        reply.contentType = "text/plain";
        reply.body = "request too large\n";
        if (r.upload) {
            std::fclose(r.upload);
            r.upload = nullptr;
            service_.device().upgradeAborted("package larger than the device takes", r.scratch);
        }
    } else if (r.upload) {
        std::fclose(r.upload);
        r.upload = nullptr;
        const DeviceSpec &spec = service_.device().spec();
        const HttpAuth auth = spec.httpDigest ? digestAuth(c) : HttpAuth::Valid;
        if (auth != HttpAuth::Valid) {
            // A device that wants HTTP Digest guards its upload address too; the address stays
            // valid for the authenticated retry (HTTP clients open with an empty POST).
            reply.httpStatus = 401;
            reply.digestChallenge = true;
            reply.staleNonce = auth == HttpAuth::Stale;
            reply.contentType = "text/plain";
            reply.body = "authentication required\n";
            ::unlink(r.scratch.c_str());
        } else if (r.received == 0) {
            reply.httpStatus = 400;
            reply.contentType = "text/plain";
            reply.body = "no package in the request\n";
            ::unlink(r.scratch.c_str());
        } else {
            reply = service_.finishUpload(r.path, r.scratch);
        }
    } else if (r.method != "POST") {
        reply.httpStatus = 405;
        reply.contentType = "text/plain";
        reply.body = "POST a SOAP request\n";
    } else if (r.path != kServicePath) {
        reply.httpStatus = 404;
        reply.contentType = "text/plain";
        reply.body = "no such service\n";
    } else {
        reply = service_.handle(r.contentType, r.body, digestAuth(c), ip_, port_);
    }
    MHD_Response *response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    MHD_Result ret;
    if (reply.digestChallenge)
        ret = MHD_queue_auth_fail_response2(c, kRealm, "devsim", response,
                                            reply.staleNonce ? MHD_YES : MHD_NO, MHD_DIGEST_ALG_MD5);
    else
        ret = MHD_queue_response(c, unsigned(reply.httpStatus), response);
    MHD_destroy_response(response);
    r.reply = reply;
    return ret;
}

void OnvifHttp::onCompleted(void *cls, void *, void **context, int how)
{
    auto *self = static_cast<OnvifHttp *>(cls);
    auto *r = static_cast<Request *>(*context);
    *context = nullptr;
    if (!r)
        return;
    if (r->upload) {
        // The client left before the package was complete.
        std::fclose(r->upload);
        r->upload = nullptr;
        self->service_.device().upgradeAborted("upload ended early", r->scratch);
    }
    if (how == MHD_REQUEST_TERMINATED_COMPLETED_OK && r->reply.after != OnvifReply::After::None &&
        self->after_)
        self->after_(r->reply);
    delete r;
}

} // namespace devsim
