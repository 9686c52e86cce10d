/*
 * onvifclient.h - the SDK's ONVIF side behind the C interface: WS-Discovery alongside the search, and
 * logins whose handles the configuration, control and upgrade calls recognise. Internal; the
 * application sees netsdk.h only.
 */
#pragma once

#include "sdkinternal.h"

#include <string>
#include <vector>

namespace netsdk
{
namespace detail
{

/* One ONVIF login: the device's service address, the credentials (kept in memory for the login's
 * calls: a UsernameToken needs the password for every request), and the device's clock offset. */
struct OnvifSession {
    long handle = 0;
    std::string serviceUrl;
    char ip[16] = {};
    uint16_t port = 0;
    std::string user;
    std::string password;
    long clockOffset = 0;    /* device UTC minus ours, seconds */
    bool httpDigest = false; /* the device wants HTTP Digest instead of the WS-Security header */
    std::string interfaceToken;
    std::atomic<bool> upgrading{false};
    std::atomic<bool> closed{false};
};

std::shared_ptr<OnvifSession> findOnvifSession(long handle);
/* The service address of an ONVIF device a search found at this address and port, or empty. */
std::string onvifServiceAt(const char *ip, uint16_t port);

/* Discovery and identification of ONVIF devices until `deadline`: records in the search layout. */
std::vector<SDK_CONFIG_NET_COMMON_V2> onvifSearch(Clock::time_point deadline, size_t capacity);

long onvifLogin(const std::string &serviceUrl, const char *ip, uint16_t port, const std::string &user,
                const std::string &password, H264_DVR_DEVICEINFO *info, int *error, int waitMs);
long onvifLogout(long handle);
long onvifGetConfig(const std::shared_ptr<OnvifSession> &s, unsigned long command, char *out,
                    unsigned long outSize, unsigned long *returned, int waitMs);
long onvifSetConfig(const std::shared_ptr<OnvifSession> &s, unsigned long command, const char *in,
                    unsigned long inSize, int waitMs);
long onvifControl(const std::shared_ptr<OnvifSession> &s, int type, int waitMs);
/* An address change for a device known as ONVIF by its MAC; NETSDK_ERR_NO_DEVICE when it is not. */
long onvifSetNet(const SDK_NET_BLOCK &block, int waitMs);
/* Forgets every ONVIF login and what searches found (the last Cleanup). */
void onvifForget();

} // namespace detail
} // namespace netsdk
