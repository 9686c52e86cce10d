#include "onvifservice.h"

#include "device.h"
#include "fileutil.h"

#include "netsdk/netsdk.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace devsim
{

namespace
{

constexpr int64_t kUploadValidSeconds = 600;
const char kDeviceIoNs[] = "http://www.onvif.org/ver10/deviceIO/wsdl";
// Local names of the operations anyone may call (the ONVIF access class PRE_AUTH).
const char *const kPreAuth[] = {"GetSystemDateAndTime",   "GetCapabilities", "GetServices",
                                "GetServiceCapabilities", "GetHostname",     "GetWsdlUrl",
                                "GetEndpointReference"};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trim(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    const size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A parameter of a header value such as `multipart/related; boundary="x"; start="<root>"`.
std::string headerParam(const std::string &value, const std::string &name)
{
    size_t pos = 0;
    while ((pos = value.find(';', pos)) != std::string::npos) {
        ++pos;
        const size_t eq = value.find('=', pos);
        if (eq == std::string::npos)
            return std::string();
        if (lower(trim(value.substr(pos, eq - pos))) != name)
            continue;
        size_t v = eq + 1;
        while (v < value.size() && value[v] == ' ')
            ++v;
        if (v < value.size() && value[v] == '"') {
            const size_t end = value.find('"', v + 1);
            return end == std::string::npos ? std::string() : value.substr(v + 1, end - v - 1);
        }
        const size_t end = value.find(';', v);
        return trim(value.substr(v, end == std::string::npos ? std::string::npos : end - v));
    }
    return std::string();
}

std::string stripAngles(std::string s)
{
    s = trim(s);
    if (s.size() >= 2 && s.front() == '<' && s.back() == '>')
        s = s.substr(1, s.size() - 2);
    return s;
}

bool toBool(const std::string &text, bool *out)
{
    if (text == "true" || text == "1")
        *out = true;
    else if (text == "false" || text == "0")
        *out = false;
    else
        return false;
    return true;
}

bool toInt(const std::string &text, int lo, int hi, int *out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

std::string num(int64_t v)
{
    return std::to_string(v);
}

std::string maskFromPrefix(int prefix)
{
    const uint32_t m = prefix == 0 ? 0 : 0xffffffffu << (32 - prefix);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", m >> 24, (m >> 16) & 0xff, (m >> 8) & 0xff, m & 0xff);
    return buf;
}

int prefixFromMask(const std::string &mask)
{
    uint8_t b[4];
    if (!parseIPv4(mask, b))
        return 8;
    const uint32_t m = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    int n = 0;
    while (n < 32 && (m & (0x80000000u >> n)))
        ++n;
    return n;
}

// Writes the answer envelope around one body element.
class Answer
{
public:
    Answer()
    {
        w.open("env:Envelope", soapNamespaces());
        w.open("env:Body");
    }
    XmlWriter w;
    OnvifReply done()
    {
        OnvifReply r;
        r.body = w.finish();
        return r;
    }
};

void writeDateTime(XmlWriter &w, const char *element, int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    w.open(element);
    w.open("tt:Time");
    w.element("tt:Hour", num(tm.tm_hour));
    w.element("tt:Minute", num(tm.tm_min));
    w.element("tt:Second", num(tm.tm_sec));
    w.close();
    w.open("tt:Date");
    w.element("tt:Year", num(tm.tm_year + 1900));
    w.element("tt:Month", num(tm.tm_mon + 1));
    w.element("tt:Day", num(tm.tm_mday));
    w.close();
    w.close();
}

std::string serviceUri(const std::string &ip, uint16_t port)
{
    return "http://" + ip + ":" + std::to_string(port) + "/onvif/device_service";
}

// The device service's capabilities, as GetServices and GetServiceCapabilities report them.
void writeServiceCapabilities(XmlWriter &w, const DeviceSpec &spec)
{
    w.open("tds:Capabilities");
    w.open("tds:Network");
    w.attribute("IPFilter", "false");
    w.attribute("ZeroConfiguration", "false");
    w.attribute("IPVersion6", "false");
    w.attribute("DynDNS", "false");
    w.close();
    w.open("tds:Security");
    w.attribute("UsernameToken", spec.httpDigest ? "false" : "true");
    w.attribute("HttpDigest", "true");
    w.close();
    w.open("tds:System");
    w.attribute("FirmwareUpgrade", "true");
    w.attribute("HttpFirmwareUpgrade", spec.httpUpgrade ? "true" : "false");
    w.attribute("HttpSystemBackup", "false");
    w.attribute("HttpSystemLogging", "false");
    w.attribute("HttpSupportInformation", "false");
    w.close();
    w.close();
}

std::string makeToken()
{
    unsigned char raw[16];
    if (RAND_bytes(raw, sizeof raw) != 1)
        return std::string();
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string isoDuration(int ms)
{
    return "PT" + std::to_string((std::max(ms, 0) + 999) / 1000) + "S";
}

} // namespace

bool posixTzOffset(const std::string &tz, int64_t *eastSeconds)
{
    // std offset [dst [offset] [,rule]]: the standard name is 3+ letters or <...>, the offset
    // [+-]hh[:mm[:ss]] counts hours west of Greenwich. A ':' prefix names a zone file, which a
    // camera does not have.
    if (tz.empty() || tz.size() > 128)
        return false;
    size_t i = 0;
    if (tz[0] == '<') {
        const size_t end = tz.find('>');
        if (end == std::string::npos || end < 4)
            return false;
        i = end + 1;
    } else {
        while (i < tz.size() && std::isalpha(static_cast<unsigned char>(tz[i])))
            ++i;
        if (i < 3)
            return false;
    }
    int sign = 1;
    if (i < tz.size() && (tz[i] == '+' || tz[i] == '-'))
        sign = tz[i++] == '-' ? -1 : 1;
    int parts[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p) {
        const size_t start = i;
        int v = 0;
        while (i < tz.size() && std::isdigit(static_cast<unsigned char>(tz[i])) && i - start < 2)
            v = v * 10 + (tz[i++] - '0');
        if (i == start)
            return false;
        parts[p] = v;
        if (i >= tz.size() || tz[i] != ':')
            break;
        ++i;
    }
    if (parts[0] > 24 || parts[1] > 59 || parts[2] > 59)
        return false;
    // What follows (a DST name, its offset and rules) must at least be printable and plain.
    for (size_t k = i; k < tz.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(tz[k]);
        if (!std::isalnum(c) && !std::strchr("<>+-:,./", c))
            return false;
    }
    *eastSeconds = -int64_t(sign) * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
    return true;
}

bool splitMultipart(const std::string &contentType, const std::string &body, std::vector<MimePart> *parts)
{
    parts->clear();
    const std::string boundary = headerParam(contentType, "boundary");
    if (boundary.empty() || boundary.size() > 200)
        return false;
    const std::string delim = "--" + boundary;
    size_t pos = body.find(delim);
    if (pos == std::string::npos)
        return false;
    for (;;) {
        pos += delim.size();
        if (body.compare(pos, 2, "--") == 0)
            return !parts->empty();
        if (body.compare(pos, 2, "\r\n") != 0)
            return false;
        pos += 2;
        const size_t headEnd = body.find("\r\n\r\n", pos);
        if (headEnd == std::string::npos)
            return false;
        MimePart part;
        size_t line = pos;
        while (line < headEnd) {
            size_t eol = body.find("\r\n", line);
            if (eol == std::string::npos || eol > headEnd)
                eol = headEnd;
            const std::string h = body.substr(line, eol - line);
            const size_t colon = h.find(':');
            if (colon != std::string::npos) {
                const std::string name = lower(trim(h.substr(0, colon)));
                const std::string value = trim(h.substr(colon + 1));
                if (name == "content-id")
                    part.contentId = stripAngles(value);
                else if (name == "content-type")
                    part.contentType = value;
            }
            line = eol + 2;
        }
        const size_t dataStart = headEnd + 4;
        const size_t next = body.find("\r\n" + delim, dataStart);
        if (next == std::string::npos)
            return false;
        part.body = body.substr(dataStart, next - dataStart);
        parts->push_back(std::move(part));
        if (parts->size() > 16)
            return false;
        pos = next + 2;
    }
}

OnvifReply soapFault(bool sender, const std::vector<std::string> &subcodes, const std::string &reason)
{
    XmlWriter w;
    w.open("env:Envelope", soapNamespaces());
    w.open("env:Body");
    w.open("env:Fault");
    w.open("env:Code");
    w.element("env:Value", sender ? "env:Sender" : "env:Receiver");
    for (const std::string &s : subcodes) {
        w.open("env:Subcode");
        w.element("env:Value", s);
    }
    for (size_t i = 0; i < subcodes.size(); ++i)
        w.close();
    w.close();
    w.open("env:Reason");
    w.open("env:Text");
    w.attribute("xml:lang", "en");
    w.text(reason);
    w.close();
    w.close();
    OnvifReply r;
    r.body = w.finish();
    // SOAP 1.2 over HTTP: a sender's fault is 400, the receiver's own 500.
    r.httpStatus = sender ? 400 : 500;
    return r;
}

OnvifService::OnvifService(Device &device, std::function<bool(const std::string &)> addressFree)
    : device_(device), addressFree_(std::move(addressFree))
{
}

bool OnvifService::isPreAuth(const std::string &operation)
{
    for (const char *op : kPreAuth)
        if (operation == op)
            return true;
    return false;
}

const char *OnvifService::uploadPrefix()
{
    return "/onvif/firmware/";
}

OnvifReply OnvifService::handle(const std::string &contentType, const std::string &body, HttpAuth httpAuth,
                                const std::string &ip, uint16_t port)
{
    const DeviceSpec &spec = device_.spec();
    if (body.empty() && httpAuth != HttpAuth::Valid) {
        // HTTP clients open a Digest exchange with an empty POST and send the body once challenged.
        OnvifReply r = soapFault(true, {"ter:NotAuthorized"}, "Sender not Authorized");
        r.httpStatus = 401;
        r.digestChallenge = true;
        r.staleNonce = httpAuth == HttpAuth::Stale;
        return r;
    }
    std::vector<MimePart> parts;
    const std::string *soapText = &body;
    if (lower(contentType).rfind("multipart/related", 0) == 0) {
        if (!splitMultipart(contentType, body, &parts))
            return soapFault(true, {"ter:InvalidArgVal"}, "malformed multipart body");
        // The root part is the one "start" names, else the first.
        const std::string start = stripAngles(headerParam(contentType, "start"));
        soapText = &parts.front().body;
        for (const MimePart &p : parts)
            if (!start.empty() && p.contentId == start)
                soapText = &p.body;
    }
    SoapRequest req;
    std::string error;
    if (!parseSoap(soapText->data(), soapText->size(), &req, &error))
        return soapFault(true, {"ter:WellFormed"}, error);

    const std::string op = req.operation.name;
    if (!isPreAuth(op)) {
        // A device that wants HTTP Digest ignores a UsernameToken; the others take either.
        bool ok = httpAuth == HttpAuth::Valid;
        TokenCheck check = TokenCheck::Missing;
        if (!ok && !spec.httpDigest && req.token.present) {
            check = tokens_.check(req.token, spec.user, spec.password, device_.clockNow());
            ok = check == TokenCheck::Ok;
        }
        if (!ok) {
            device_.noteOnvifRequest(true);
            OnvifReply r = soapFault(true, {"ter:NotAuthorized"}, "Sender not Authorized");
            if (spec.httpDigest || (!req.token.present && httpAuth == HttpAuth::None) ||
                httpAuth == HttpAuth::Stale || httpAuth == HttpAuth::Invalid) {
                r.httpStatus = 401;
                r.digestChallenge = true;
                r.staleNonce = httpAuth == HttpAuth::Stale;
            }
            if (check != TokenCheck::Missing)
                std::fprintf(stderr, "devsim %s: ONVIF %s refused: %s\n", spec.mac.c_str(), op.c_str(),
                             tokenCheckName(check));
            return r;
        }
    }
    device_.noteOnvifRequest(false);
    for (const std::string &f : spec.faults.soapFault)
        if (f == "*" || f == op)
            return soapFault(false, {"ter:Action"}, "the device failed to carry out " + op);
    return dispatch(req, parts, ip, port);
}

OnvifReply OnvifService::dispatch(const SoapRequest &req, const std::vector<MimePart> &parts,
                                  const std::string &ip, uint16_t port)
{
    const DeviceSpec &spec = device_.spec();
    const XmlNode &in = req.operation;
    const std::string &op = in.name;
    if (in.ns != ns::kDevice)
        return soapFault(false, {"ter:ActionNotSupported"}, "no such service on this device");
    Answer a;
    XmlWriter &w = a.w;

    if (op == "GetSystemDateAndTime") {
        const Device::OnvifClock c = device_.onvifClock();
        int64_t east = 0;
        const bool haveZone = posixTzOffset(c.tz, &east);
        w.open("tds:GetSystemDateAndTimeResponse");
        w.open("tds:SystemDateAndTime");
        w.element("tt:DateTimeType", c.ntp ? "NTP" : "Manual");
        w.element("tt:DaylightSavings", c.dst ? "true" : "false");
        w.open("tt:TimeZone");
        w.element("tt:TZ", c.tz);
        w.close();
        writeDateTime(w, "tt:UTCDateTime", c.utc);
        if (haveZone)
            writeDateTime(w, "tt:LocalDateTime", c.utc + east);
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetDeviceInformation") {
        w.open("tds:GetDeviceInformationResponse");
        w.element("tds:Manufacturer", spec.manufacturer);
        w.element("tds:Model", spec.modelOrHardware());
        w.element("tds:FirmwareVersion", device_.version());
        w.element("tds:SerialNumber", spec.serial);
        w.element("tds:HardwareId", spec.hardware);
        w.close();
        return a.done();
    }
    if (op == "GetHostname") {
        w.open("tds:GetHostnameResponse");
        w.open("tds:HostnameInformation");
        w.element("tt:FromDHCP", "false");
        w.element("tt:Name", device_.netInfo().hostName);
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetScopes") {
        w.open("tds:GetScopesResponse");
        for (const std::string &s : {std::string("onvif://www.onvif.org/type/video_encoder"),
                                     "onvif://www.onvif.org/hardware/" + spec.modelOrHardware(),
                                     "onvif://www.onvif.org/name/" + spec.manufacturer}) {
            w.open("tds:Scopes");
            w.element("tt:ScopeDef", "Fixed");
            w.element("tt:ScopeItem", s);
            w.close();
        }
        w.close();
        return a.done();
    }
    if (op == "GetNetworkInterfaces") {
        const Device::NetInfo n = device_.netInfo();
        w.open("tds:GetNetworkInterfacesResponse");
        w.open("tds:NetworkInterfaces");
        w.attribute("token", "eth0");
        w.element("tt:Enabled", "true");
        w.open("tt:Info");
        w.element("tt:Name", "eth0");
        w.element("tt:HwAddress", spec.mac);
        w.element("tt:MTU", "1500");
        w.close();
        w.open("tt:IPv4");
        w.element("tt:Enabled", "true");
        w.open("tt:Config");
        w.open("tt:Manual");
        w.element("tt:Address", n.ip);
        w.element("tt:PrefixLength", num(prefixFromMask(n.mask)));
        w.close();
        w.element("tt:DHCP", "false");
        w.close();
        w.close();
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetNetworkDefaultGateway") {
        w.open("tds:GetNetworkDefaultGatewayResponse");
        w.open("tds:NetworkGateway");
        w.element("tt:IPv4Address", device_.netInfo().gateway);
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetCapabilities") {
        const std::string xaddr = serviceUri(ip, port);
        w.open("tds:GetCapabilitiesResponse");
        w.open("tds:Capabilities");
        w.open("tt:Device");
        w.element("tt:XAddr", xaddr);
        w.open("tt:Network");
        w.element("tt:IPFilter", "false");
        w.element("tt:ZeroConfiguration", "false");
        w.element("tt:IPVersion6", "false");
        w.element("tt:DynDNS", "false");
        w.close();
        w.open("tt:System");
        w.element("tt:DiscoveryResolve", "false");
        w.element("tt:DiscoveryBye", "false");
        w.element("tt:RemoteDiscovery", "false");
        w.element("tt:SystemBackup", "false");
        w.element("tt:SystemLogging", "false");
        w.element("tt:FirmwareUpgrade", "true");
        w.open("tt:SupportedVersions");
        w.element("tt:Major", "2");
        w.element("tt:Minor", "60");
        w.close();
        w.close();
        w.open("tt:Security");
        for (const char *f : {"TLS1.1", "TLS1.2", "OnboardKeyGeneration", "AccessPolicyConfig", "X.509Token",
                              "SAMLToken", "KerberosToken", "RELToken"})
            w.element(std::string("tt:") + f, "false");
        w.close();
        w.close();
        w.open("tt:Extension");
        w.open("tt:DeviceIO");
        w.element("tt:XAddr", xaddr);
        for (const char *f : {"VideoSources", "VideoOutputs", "AudioSources", "AudioOutputs", "RelayOutputs"})
            w.element(std::string("tt:") + f, "0");
        w.close();
        w.close();
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetServices") {
        bool withCaps = false;
        toBool(in.textAt({"IncludeCapability"}), &withCaps);
        w.open("tds:GetServicesResponse");
        w.open("tds:Service");
        w.element("tds:Namespace", ns::kDevice);
        w.element("tds:XAddr", serviceUri(ip, port));
        if (withCaps) {
            w.open("tds:Capabilities");
            writeServiceCapabilities(w, spec);
            w.close();
        }
        w.open("tds:Version");
        w.element("tt:Major", "2");
        w.element("tt:Minor", "60");
        w.close();
        w.close();
        // The device-IO service shares the device service's address, as on many cameras; clients
        // that send SystemReboot to the device-IO address find the device there.
        w.open("tds:Service");
        w.element("tds:Namespace", kDeviceIoNs);
        w.element("tds:XAddr", serviceUri(ip, port));
        w.open("tds:Version");
        w.element("tt:Major", "2");
        w.element("tt:Minor", "60");
        w.close();
        w.close();
        w.close();
        return a.done();
    }
    if (op == "GetServiceCapabilities") {
        w.open("tds:GetServiceCapabilitiesResponse");
        writeServiceCapabilities(w, spec);
        w.close();
        return a.done();
    }
    if (op == "SetSystemDateAndTime") {
        const std::string type = in.textAt({"DateTimeType"});
        if (type != "Manual" && type != "NTP")
            return soapFault(true, {"ter:InvalidArgVal"}, "DateTimeType must be Manual or NTP");
        bool dst = false;
        if (!toBool(in.textAt({"DaylightSavings"}), &dst))
            return soapFault(true, {"ter:InvalidArgVal"}, "DaylightSavings must be a boolean");
        std::string tz;
        if (const XmlNode *zone = in.find({"TimeZone"})) {
            tz = zone->textAt({"TZ"});
            int64_t east;
            if (!posixTzOffset(tz, &east))
                return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidTimeZone"}, "not a POSIX time zone");
        }
        int64_t utc = 0;
        const XmlNode *dt = in.find({"UTCDateTime"});
        if (type == "Manual") {
            int y, mo, d, h, mi, s;
            if (!dt || !toInt(dt->textAt({"Date", "Year"}), 1970, 2099, &y) ||
                !toInt(dt->textAt({"Date", "Month"}), 1, 12, &mo) ||
                !toInt(dt->textAt({"Date", "Day"}), 1, 31, &d) ||
                !toInt(dt->textAt({"Time", "Hour"}), 0, 23, &h) ||
                !toInt(dt->textAt({"Time", "Minute"}), 0, 59, &mi) ||
                !toInt(dt->textAt({"Time", "Second"}), 0, 60, &s))
                return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidDateTime"},
                                 "not a valid UTC date and time");
            char text[32];
            std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, h, mi, s);
            int64_t check;
            // 31 February and the like: the calendar round trip must give the same day.
            if (!parseXsDateTime(text, &check) || formatXsDateTime(check).compare(0, 10, text, 10) != 0)
                return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidDateTime"}, "no such date");
            utc = check;
        }
        device_.setOnvifClock(type == "NTP", type == "Manual", utc, tz, dst);
        w.open("tds:SetSystemDateAndTimeResponse");
        w.close();
        return a.done();
    }
    if (op == "SystemReboot") {
        std::string moveTo;
        const int32_t code = device_.reboot(&moveTo);
        if (code != 0 && code != kNoAnswer)
            return soapFault(false, {"ter:Action"}, "the device refused to restart");
        w.open("tds:SystemRebootResponse");
        w.element("tds:Message", "Rebooting in " + std::to_string((spec.rebootMs + 999) / 1000) + " seconds");
        w.close();
        OnvifReply r = a.done();
        r.after = OnvifReply::After::Reboot;
        r.moveTo = moveTo;
        return r;
    }
    if (op == "SetSystemFactoryDefault") {
        const std::string kind = in.textAt({"FactoryDefault"});
        if (kind == "Hard")
            // A hard reset would drop the address too; this device lives on loopback and keeps it.
            return soapFault(false, {"ter:ActionNotSupported"}, "hard factory default is not offered");
        if (kind != "Soft")
            return soapFault(true, {"ter:InvalidArgVal"}, "FactoryDefault must be Hard or Soft");
        device_.softFactoryDefault();
        w.open("tds:SetSystemFactoryDefaultResponse");
        w.close();
        return a.done();
    }
    if (op == "SetNetworkDefaultGateway") {
        const std::string gw = in.textAt({"IPv4Address"});
        uint8_t b[4];
        if (!parseIPv4(gw, b))
            return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidGatewayAddress"}, "not an IPv4 address");
        device_.setGateway(gw);
        w.open("tds:SetNetworkDefaultGatewayResponse");
        w.close();
        return a.done();
    }
    if (op == "SetNetworkInterfaces") {
        if (in.textAt({"InterfaceToken"}) != "eth0")
            return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidNetworkInterface"}, "no such interface");
        const XmlNode *v4 = in.find({"NetworkInterface", "IPv4"});
        bool dhcp = false;
        if (v4 && v4->child("DHCP") && !toBool(v4->textAt({"DHCP"}), &dhcp))
            return soapFault(true, {"ter:InvalidArgVal"}, "DHCP must be a boolean");
        if (dhcp)
            return soapFault(false, {"ter:ActionNotSupported"}, "this device has a fixed address only");
        const std::string address = v4 ? v4->textAt({"Manual", "Address"}) : std::string();
        int prefix = 0;
        uint8_t b[4];
        if (!parseIPv4(address, b) || !toInt(v4->textAt({"Manual", "PrefixLength"}), 1, 32, &prefix))
            return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidIPv4Address"}, "not an IPv4 address");
        if (b[0] != 127)
            return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidIPv4Address"},
                             "this device lives on loopback and cannot take the address");
        const Device::NetInfo now = device_.netInfo();
        if (address != now.ip && !addressFree_(address))
            return soapFault(true, {"ter:InvalidArgVal", "ter:InvalidIPv4Address"}, "the address is in use");
        SDK_NET_BLOCK block;
        std::memset(&block, 0, sizeof block);
        std::memcpy(block.HostIP, b, 4);
        parseIPv4(maskFromPrefix(prefix), block.Submask);
        parseIPv4(now.gateway, block.Gateway);
        std::string moveTo;
        const int32_t code = device_.netSet(block, &moveTo);
        const bool pending = code == NETSDK_ERR_NEED_REBOOT;
        if (code < 0 && !pending && code != kNoAnswer)
            return soapFault(false, {"ter:Action"}, "the device refused the address");
        w.open("tds:SetNetworkInterfacesResponse");
        w.element("tds:RebootNeeded", pending ? "true" : "false");
        w.close();
        OnvifReply r = a.done();
        if (!moveTo.empty()) {
            r.after = OnvifReply::After::Move;
            r.moveTo = moveTo;
        }
        return r;
    }
    if (op == "StartFirmwareUpgrade") {
        if (!spec.httpUpgrade)
            return soapFault(false, {"ter:ActionNotSupported"},
                             "this device takes firmware by UpgradeSystemFirmware");
        const std::string token = makeToken();
        if (token.empty())
            return soapFault(false, {"ter:Action"}, "no random source");
        const std::string path = uploadPrefix() + token;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const int64_t now = device_.clockNow();
            for (auto it = uploads_.begin(); it != uploads_.end();)
                it = it->second < now ? uploads_.erase(it) : std::next(it);
            uploads_[path] = now + kUploadValidSeconds;
        }
        w.open("tds:StartFirmwareUpgradeResponse");
        w.element("tds:UploadUri", "http://" + ip + ":" + std::to_string(port) + path);
        w.element("tds:UploadDelay", "PT0S");
        w.element("tds:ExpectedDownTime", isoDuration(spec.upgradeMs + spec.rebootMs));
        w.close();
        return a.done();
    }
    if (op == "UpgradeSystemFirmware") {
        // The package travels as an MTOM attachment that Firmware's xop:Include names.
        const XmlNode *fw = in.child("Firmware");
        const XmlNode *inc = fw ? fw->child("Include", ns::kXop) : nullptr;
        const MimePart *package = nullptr;
        if (inc) {
            auto href = inc->attributes.find("href");
            const std::string cid =
                href == inc->attributes.end()
                    ? std::string()
                    : stripAngles(href->second.rfind("cid:", 0) == 0 ? href->second.substr(4) : href->second);
            for (const MimePart &p : parts)
                if (!cid.empty() && (p.contentId == cid))
                    package = &p;
        }
        if (!package)
            return soapFault(true, {"ter:InvalidArgVal"}, "no firmware attachment");
        const std::string scratch = device_.newUpgradeScratchPath();
        std::string error;
        if (!writeFileAtomic(scratch, package->body, &error))
            return soapFault(false, {"ter:Action"}, error);
        OnvifReply r = burnAndRestart(scratch);
        if (r.httpStatus != 200)
            return soapFault(false, {"ter:InvalidFirmware"}, r.body);
        w.open("tds:UpgradeSystemFirmwareResponse");
        w.element("tds:Message", "Upgrading; back in " + isoDuration(r.awayMs));
        w.close();
        OnvifReply ok = a.done();
        ok.after = r.after;
        ok.awayMs = r.awayMs;
        return ok;
    }
    return soapFault(false, {"ter:ActionNotSupported"}, op + " is not offered by this device");
}

bool OnvifService::uploadExpected(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = uploads_.find(path);
    return it != uploads_.end() && it->second >= device_.clockNow();
}

OnvifReply OnvifService::finishUpload(const std::string &path, const std::string &scratchPath)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!uploads_.erase(path)) {
            OnvifReply r;
            r.httpStatus = 404;
            r.contentType = "text/plain";
            r.body = "no upload expected here\n";
            ::unlink(scratchPath.c_str());
            return r;
        }
    }
    return burnAndRestart(scratchPath);
}

OnvifReply OnvifService::burnAndRestart(const std::string &packagePath)
{
    std::string error;
    const int32_t code = device_.burnPackage(packagePath, &error);
    OnvifReply r;
    r.contentType = "text/plain";
    if (code != 0) {
        std::fprintf(stderr, "devsim %s: package refused (%d): %s\n", device_.mac().c_str(), code,
                     error.c_str());
        // A package the device will not burn is the sender's fault; the text says why.
        r.httpStatus = 415;
        r.body = "package refused: " + error + "\n";
        return r;
    }
    r.body = "package accepted\n";
    r.after = OnvifReply::After::Restart;
    r.awayMs = device_.spec().upgradeMs + device_.spec().rebootMs;
    return r;
}

} // namespace devsim
