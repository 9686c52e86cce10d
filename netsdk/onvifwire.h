/*
 * onvifwire.h - the ONVIF side's messages: WS-Discovery probes and their answers, SOAP 1.2 device
 * management requests with a WS-Security UsernameToken, and the replies the SDK reads. No I/O here:
 * requests are built with libxml2's tree (every value escaped by the library) and replies are parsed
 * with it, bounded in size, without DTDs or entity expansion and without network access.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace netsdk
{
namespace onvif
{

/* Replies and discovery answers larger than this are refused unread. */
constexpr size_t kMaxReplyBytes = 1 << 20;
constexpr size_t kMaxDatagramBytes = 65536;
constexpr int kDiscoveryPort = 3702;
constexpr const char *kDiscoveryGroup = "239.255.255.250";

enum class Ns { Soap, Device, Schema, Wsse, Wsu, Wsa, Wsd, Dn, Error, Xop };
const char *nsUri(Ns ns);

/* A request body: one element, text or children, in a known namespace. Text is escaped on output. */
struct Element {
    Ns ns = Ns::Device;
    std::string name;
    std::string text;
    std::vector<Element> children;
    std::vector<std::pair<std::string, std::string>> attributes; /* unqualified; values escaped */

    Element() = default;
    Element(Ns n, std::string nm, std::string t = std::string())
        : ns(n), name(std::move(nm)), text(std::move(t))
    {
    }
    Element &add(Element e)
    {
        children.push_back(std::move(e));
        return children.back();
    }
};

/* WS-Security UsernameToken with PasswordDigest = Base64(SHA-1(nonce + created + password)). */
struct UsernameToken {
    std::string user;
    std::string password;
    std::string nonce;   /* raw bytes (16 random bytes) */
    std::string created; /* xs:dateTime in UTC, the device's clock */
};
std::string passwordDigest(const std::string &nonce, const std::string &created, const std::string &password);
std::string base64(const std::string &raw);
/* "2026-12-11T08:40:00Z" for a UTC time. */
std::string utcText(std::time_t t);

/* A whole SOAP 1.2 envelope; the security header only when `token` is given. */
std::string buildRequest(const Element &body, const UsernameToken *token);

/* WS-Discovery (2005/04) Probe for NetworkVideoTransmitter devices. */
std::string buildProbe(const std::string &messageId);

struct ProbeMatch {
    std::string endpoint;            /* EndpointReference/Address, e.g. urn:uuid:... */
    std::vector<std::string> xaddrs; /* service addresses, http://host:port/path */
    std::string types;
    std::vector<std::string> scopes;
};
/* The ProbeMatches of an answer to the probe with `messageId`; false for anything else. */
bool parseProbeMatches(const char *data, size_t size, const std::string &messageId,
                       std::vector<ProbeMatch> &out);

/* What a scope list says: onvif://www.onvif.org/<key>/<value> (value percent-decoded), or empty. */
std::string scopeValue(const std::vector<std::string> &scopes, const std::string &key);

struct HttpUrl {
    std::string host; /* dotted IPv4 only */
    uint16_t port = 80;
    std::string path = "/";
};
/* http://a.b.c.d[:port][/path] with an IPv4 host; false for anything else (names, https, IPv6). */
bool parseHttpUrl(const std::string &url, HttpUrl &out);

enum class ReplyStatus { Ok, Fault, Malformed };

struct Fault {
    std::string code;    /* local name of Code/Value, e.g. "Sender" */
    std::string subcode; /* local name of the innermost Subcode/Value, e.g. "NotAuthorized" */
    std::string reason;
};

struct DeviceInformation {
    std::string manufacturer, model, firmware, serial, hardwareId;
};

struct NetworkInterface {
    std::string token;
    std::string mac;
    std::string address; /* dotted IPv4, manual or from DHCP */
    int prefixLength = -1;
    bool dhcp = false;
};

struct DateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::string dateTimeType; /* Manual or NTP */
    bool daylightSavings = false;
    std::string tz;
    bool hasUtc = false;
    /* Seconds since the epoch for the UTC time; false when the fields are out of range. */
    bool toEpoch(std::time_t &out) const;
};

struct FirmwareUpload {
    std::string uri;
    int delaySeconds = 0;
    int downSeconds = 0;
};

/* The parsed reply of one call. The body's first element must be `expected` in the device namespace. */
ReplyStatus parseReply(const char *data, size_t size, const char *expected, Fault &fault);
ReplyStatus parseDeviceInformation(const char *data, size_t size, DeviceInformation &out, Fault &fault);
ReplyStatus parseNetworkInterfaces(const char *data, size_t size, std::vector<NetworkInterface> &out,
                                   Fault &fault);
ReplyStatus parseSystemDateAndTime(const char *data, size_t size, DateTime &out, Fault &fault);
ReplyStatus parseStartFirmwareUpgrade(const char *data, size_t size, FirmwareUpload &out, Fault &fault);
ReplyStatus parseDefaultGateway(const char *data, size_t size, std::string &gateway, Fault &fault);

/* xs:duration "PT30S", "PT1M5S", "P0DT0H0M10S" to whole seconds (bounded to a day); -1 if unreadable. */
int durationSeconds(const std::string &text);
/* The POSIX TZ string for a zone given as minutes to add to local time to get UTC (-60 → "UTC-1"). */
std::string posixZone(int minutesToUtc);
/* The offset a POSIX TZ string states, as minutes to add to local time to get UTC; false if none. */
bool zoneMinutes(const std::string &tz, int &minutesToUtc);
bool isDottedIPv4(const std::string &text);
/* "aa:bb:cc:dd:ee:ff" from the usual MAC spellings (":" or "-" separated, or 12 hex digits). */
std::string normalMac(const std::string &text);

} // namespace onvif
} // namespace netsdk
