#pragma once

#include "onvifservice.h"

#include <cstdint>
#include <functional>
#include <string>

struct MHD_Daemon;

namespace devsim
{

/// The HTTP side of one device's ONVIF face: a libmicrohttpd daemon on the device's address,
/// POSTs to /onvif/device_service go to the service, POSTs to an upload URI stream the package to
/// the device's scratch file. HTTP Digest (MD5) is checked by libmicrohttpd itself.
class OnvifHttp
{
public:
    /// after is called (on the daemon's thread) once an answer that restarts or moves the device
    /// has gone out completely.
    OnvifHttp(OnvifService &service, std::function<void(const OnvifReply &)> after);
    ~OnvifHttp();
    OnvifHttp(const OnvifHttp &) = delete;
    OnvifHttp &operator=(const OnvifHttp &) = delete;

    bool start(const std::string &ip, uint16_t port, std::string *error);
    /// Ends every connection and the daemon's thread; never call it from the daemon's thread.
    void stop();
    bool running() const { return daemon_ != nullptr; }

    /// The largest body the device takes: a firmware package.
    static constexpr uint64_t kMaxUpload = 256ull << 20;

private:
    struct Request;
    static int onRequest(void *cls, void *connection, const char *url, const char *method,
                         const char *version, const char *uploadData, size_t *uploadSize, void **context);
    static void onCompleted(void *cls, void *connection, void **context, int how);
    int respond(void *connection, Request &r);
    HttpAuth digestAuth(void *connection);

    OnvifService &service_;
    std::function<void(const OnvifReply &)> after_;
    MHD_Daemon *daemon_ = nullptr;
    std::string ip_;
    uint16_t port_ = 0;
    unsigned char nonceSeed_[32] = {};
};

} // namespace devsim
