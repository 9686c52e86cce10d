#pragma once

#include "onvifxml.h"
#include "wssecurity.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace devsim
{

class Device;

/// What the HTTP layer found in the request's HTTP Digest authorization.
enum class HttpAuth { None, Valid, Invalid, Stale };

/// One part of a multipart/related (MTOM) body.
struct MimePart {
    std::string contentId; ///< without the angle brackets
    std::string contentType;
    std::string body;
};

/// Splits a multipart body by the boundary of its Content-Type; false on anything malformed.
bool splitMultipart(const std::string &contentType, const std::string &body, std::vector<MimePart> *parts);

/// An answer of the ONVIF face, and what the device does once it has gone out.
struct OnvifReply {
    int httpStatus = 200;
    std::string body;
    std::string contentType = "application/soap+xml; charset=utf-8";
    /// 401 with an HTTP Digest challenge (stale: the client's nonce expired).
    bool digestChallenge = false;
    bool staleNonce = false;
    enum class After { None, Reboot, Move, Restart } after = After::None;
    std::string moveTo; ///< Reboot / Move: the address the device takes
    int awayMs = 0;     ///< Restart: how long the device is off the network
};

/// The device-management service of one device's ONVIF face: reads a request, checks who sent
/// it, answers. No sockets here (the HTTP layer and the tests call it alike); every method is
/// thread-safe.
class OnvifService
{
public:
    /// addressFree tells whether a loopback address is taken by no other device of the fleet.
    OnvifService(Device &device, std::function<bool(const std::string &)> addressFree);

    /// Answers one POST to the device service. contentType/body as received; ip/port are where
    /// the device serves (for the addresses it announces).
    OnvifReply handle(const std::string &contentType, const std::string &body, HttpAuth httpAuth,
                      const std::string &ip, uint16_t port);

    /// Path of the upload URI a StartFirmwareUpgrade handed out ("/onvif/firmware/<token>").
    static const char *uploadPrefix();
    /// Whether a path is a live upload URI; it stays valid for one upload.
    bool uploadExpected(const std::string &path);
    /// A complete upload (already streamed to the device's scratch file): check and burn it.
    OnvifReply finishUpload(const std::string &path, const std::string &scratchPath);

    /// The operations that need no authentication (a client needs them to find the device's
    /// clock and services before it can log in).
    static bool isPreAuth(const std::string &operation);

    Device &device() { return device_; }

private:
    OnvifReply dispatch(const SoapRequest &req, const std::vector<MimePart> &parts, const std::string &ip,
                        uint16_t port);
    OnvifReply burnAndRestart(const std::string &packagePath);

    Device &device_;
    std::function<bool(const std::string &)> addressFree_;
    TokenChecker tokens_;
    std::mutex mutex_;
    std::map<std::string, int64_t> uploads_; ///< upload path -> expiry (device clock, seconds)
};

/// A SOAP 1.2 fault: env:Sender or env:Receiver, ONVIF subcodes (e.g. {"ter:NotAuthorized"}).
OnvifReply soapFault(bool sender, const std::vector<std::string> &subcodes, const std::string &reason);

/// UTC offset in seconds east of Greenwich of a POSIX TZ text's standard time ("CST-8" -> +28800);
/// false when the text is not a POSIX TZ.
bool posixTzOffset(const std::string &tz, int64_t *eastSeconds);

} // namespace devsim
