/*
 * onvifwire.cpp - building ONVIF requests and reading replies with libxml2.
 */
#include "onvifwire.h"

#include "xmllib.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace netsdk
{
namespace onvif
{

namespace
{

/* The library. Every public function below that builds or reads a document has made sure it is
 * loaded before anything reaches here. */
const XmlLib &xml()
{
    return *xmlLib();
}

struct NsInfo {
    const char *prefix;
    const char *uri;
};

const NsInfo kNs[] = {
    {"s", "http://www.w3.org/2003/05/soap-envelope"},
    {"tds", "http://www.onvif.org/ver10/device/wsdl"},
    {"tt", "http://www.onvif.org/ver10/schema"},
    {"wsse", "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd"},
    {"wsu", "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd"},
    {"wsa", "http://schemas.xmlsoap.org/ws/2004/08/addressing"},
    {"wsd", "http://schemas.xmlsoap.org/ws/2005/04/discovery"},
    {"dn", "http://www.onvif.org/ver10/network/wsdl"},
    {"ter", "http://www.onvif.org/ver10/error"},
    {"xop", "http://www.w3.org/2004/08/xop/include"},
};

const char kDigestType[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
const char kNonceEncoding[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64Binary";

const xmlChar *X(const char *s)
{
    return reinterpret_cast<const xmlChar *>(s);
}

struct DocFree {
    void operator()(xmlDoc *d) const { xml().FreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

/* Builds with every namespace the requests use declared once on the root. */
class Builder
{
public:
    Builder() { doc_.reset(xml().NewDoc(X("1.0"))); }
    xmlNode *root(Ns ns, const char *name, std::initializer_list<Ns> declare)
    {
        xmlNode *r = xml().NewDocNode(doc_.get(), nullptr, X(name), nullptr);
        xml().DocSetRootElement(doc_.get(), r);
        for (Ns n : declare)
            ns_[int(n)] = xml().NewNs(r, X(kNs[int(n)].uri), X(kNs[int(n)].prefix));
        xml().SetNs(r, nsOf(r, ns));
        return r;
    }
    xmlNode *child(xmlNode *parent, Ns ns, const char *name, const std::string &text = std::string())
    {
        xmlNode *c = xml().NewChild(parent, nsOf(parent, ns), X(name), nullptr);
        if (!text.empty())
            xml().NodeAddContentLen(c, X(text.c_str()), int(text.size())); /* escaped on output */
        return c;
    }
    void attr(xmlNode *n, const char *name, const std::string &value)
    {
        xml().NewProp(n, X(name), X(value.c_str())); /* escaped on output */
    }
    void attrNs(xmlNode *n, Ns ns, const char *name, const std::string &value)
    {
        xml().NewNsProp(n, nsOf(n, ns), X(name), X(value.c_str()));
    }
    void element(xmlNode *parent, const Element &e)
    {
        xmlNode *c = child(parent, e.ns, e.name.c_str(), e.text);
        for (const auto &a : e.attributes)
            attr(c, a.first.c_str(), a.second);
        for (const Element &k : e.children)
            element(c, k);
    }
    std::string text()
    {
        xmlChar *mem = nullptr;
        int len = 0;
        xml().DocDumpMemoryEnc(doc_.get(), &mem, &len, "UTF-8");
        std::string out(mem ? reinterpret_cast<const char *>(mem) : "", size_t(len > 0 ? len : 0));
        xml().Free(mem);
        return out;
    }

private:
    xmlNs *nsOf(xmlNode *at, Ns n)
    {
        if (ns_[int(n)])
            return ns_[int(n)];
        /* Not declared on the root: declare it where it is first used. */
        ns_[int(n)] = xml().NewNs(at, X(kNs[int(n)].uri), X(kNs[int(n)].prefix));
        return ns_[int(n)];
    }
    Doc doc_;
    xmlNs *ns_[sizeof kNs / sizeof kNs[0]] = {};
};

/* ---- reading ---- */

Doc parseDoc(const char *data, size_t size)
{
    if (!data || size == 0 || size > kMaxReplyBytes || !xmlLib())
        return nullptr;
    /* No network, no entity substitution, no DTD loading; errors stay quiet (they are the device's). */
    const int opts = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    Doc d(xml().ReadMemory(data, int(size), "reply.xml", nullptr, opts));
    if (!d || d->intSubset || !xml().DocGetRootElement(d.get()))
        return nullptr; /* a DTD has no place in a SOAP message */
    return d;
}

bool is(const xmlNode *n, Ns ns, const char *name)
{
    return n && n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
           std::strcmp(reinterpret_cast<const char *>(n->ns->href), kNs[int(ns)].uri) == 0 &&
           std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

const xmlNode *firstElement(const xmlNode *n)
{
    for (n = n ? n->children : nullptr; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE)
            return n;
    return nullptr;
}

const xmlNode *child(const xmlNode *parent, Ns ns, const char *name)
{
    for (const xmlNode *n = parent ? parent->children : nullptr; n; n = n->next)
        if (is(n, ns, name))
            return n;
    return nullptr;
}

template <class F> void eachChild(const xmlNode *parent, Ns ns, const char *name, F f)
{
    for (const xmlNode *n = parent ? parent->children : nullptr; n; n = n->next)
        if (is(n, ns, name))
            f(n);
}

/* Text content, trimmed, bounded: no device field we keep needs more. */
std::string text(const xmlNode *n, size_t limit = 1024)
{
    if (!n)
        return std::string();
    xmlChar *c = xml().NodeGetContent(n);
    std::string s(c ? reinterpret_cast<const char *>(c) : "");
    xml().Free(c);
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    s = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    if (s.size() > limit)
        s.resize(limit);
    return s;
}

std::string localOfQName(const std::string &q)
{
    size_t colon = q.rfind(':');
    return colon == std::string::npos ? q : q.substr(colon + 1);
}

bool intText(const xmlNode *n, int lo, int hi, int &out)
{
    const std::string t = text(n, 32);
    if (t.empty())
        return false;
    char *end = nullptr;
    long v = std::strtol(t.c_str(), &end, 10);
    if (*end || v < lo || v > hi)
        return false;
    out = int(v);
    return true;
}

/* The body's first element, or the fault. */
ReplyStatus openBody(const Doc &d, const char *expected, const xmlNode *&payload, Fault &fault)
{
    const xmlNode *env = xml().DocGetRootElement(d.get());
    if (!is(env, Ns::Soap, "Envelope"))
        return ReplyStatus::Malformed;
    const xmlNode *body = child(env, Ns::Soap, "Body");
    const xmlNode *first = firstElement(body);
    if (!first)
        return ReplyStatus::Malformed;
    if (is(first, Ns::Soap, "Fault")) {
        fault = Fault();
        const xmlNode *code = child(first, Ns::Soap, "Code");
        fault.code = localOfQName(text(child(code, Ns::Soap, "Value"), 256));
        for (const xmlNode *sub = child(code, Ns::Soap, "Subcode"); sub;
             sub = child(sub, Ns::Soap, "Subcode"))
            fault.subcode = localOfQName(text(child(sub, Ns::Soap, "Value"), 256));
        fault.reason = text(child(child(first, Ns::Soap, "Reason"), Ns::Soap, "Text"), 512);
        return ReplyStatus::Fault;
    }
    if (!is(first, Ns::Device, expected))
        return ReplyStatus::Malformed;
    payload = first;
    return ReplyStatus::Ok;
}

bool readDate(const xmlNode *dt, DateTime &out)
{
    const xmlNode *date = child(dt, Ns::Schema, "Date");
    const xmlNode *time = child(dt, Ns::Schema, "Time");
    return date && time && intText(child(date, Ns::Schema, "Year"), 1970, 2200, out.year) &&
           intText(child(date, Ns::Schema, "Month"), 1, 12, out.month) &&
           intText(child(date, Ns::Schema, "Day"), 1, 31, out.day) &&
           intText(child(time, Ns::Schema, "Hour"), 0, 23, out.hour) &&
           intText(child(time, Ns::Schema, "Minute"), 0, 59, out.minute) &&
           intText(child(time, Ns::Schema, "Second"), 0, 60, out.second);
}

} // namespace

const char *nsUri(Ns ns)
{
    return kNs[int(ns)].uri;
}

std::string base64(const std::string &raw)
{
    std::string out(4 * ((raw.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                            reinterpret_cast<const unsigned char *>(raw.data()), int(raw.size()));
    out.resize(size_t(n > 0 ? n : 0));
    return out;
}

std::string passwordDigest(const std::string &nonce, const std::string &created, const std::string &password)
{
    const std::string all = nonce + created + password;
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(all.data()), all.size(), md);
    return base64(std::string(reinterpret_cast<const char *>(md), sizeof md));
}

std::string utcText(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string buildRequest(const Element &body, const UsernameToken *token)
{
    if (!xmlLib())
        return std::string();
    Builder b;
    xmlNode *env = b.root(Ns::Soap, "Envelope", {Ns::Soap, Ns::Device, Ns::Schema});
    if (token) {
        xmlNode *header = b.child(env, Ns::Soap, "Header");
        xmlNode *sec = b.child(header, Ns::Wsse, "Security");
        b.attrNs(sec, Ns::Soap, "mustUnderstand", "true");
        xmlNode *ut = b.child(sec, Ns::Wsse, "UsernameToken");
        b.child(ut, Ns::Wsse, "Username", token->user);
        xmlNode *pw =
            b.child(ut, Ns::Wsse, "Password", passwordDigest(token->nonce, token->created, token->password));
        b.attr(pw, "Type", kDigestType);
        xmlNode *nonce = b.child(ut, Ns::Wsse, "Nonce", base64(token->nonce));
        b.attr(nonce, "EncodingType", kNonceEncoding);
        b.child(ut, Ns::Wsu, "Created", token->created);
    }
    xmlNode *bodyNode = b.child(env, Ns::Soap, "Body");
    b.element(bodyNode, body);
    return b.text();
}

std::string buildProbe(const std::string &messageId)
{
    if (!xmlLib())
        return std::string();
    Builder b;
    xmlNode *env = b.root(Ns::Soap, "Envelope", {Ns::Soap, Ns::Wsa, Ns::Wsd, Ns::Dn});
    xmlNode *header = b.child(env, Ns::Soap, "Header");
    b.child(header, Ns::Wsa, "MessageID", messageId);
    b.child(header, Ns::Wsa, "To", "urn:schemas-xmlsoap-org:ws:2005:04:discovery");
    b.child(header, Ns::Wsa, "Action", "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe");
    xmlNode *probe = b.child(b.child(env, Ns::Soap, "Body"), Ns::Wsd, "Probe");
    b.child(probe, Ns::Wsd, "Types", "dn:NetworkVideoTransmitter");
    return b.text();
}

bool parseProbeMatches(const char *data, size_t size, const std::string &messageId,
                       std::vector<ProbeMatch> &out)
{
    out.clear();
    if (size > kMaxDatagramBytes)
        return false;
    Doc d = parseDoc(data, size);
    if (!d)
        return false;
    const xmlNode *env = xml().DocGetRootElement(d.get());
    if (!is(env, Ns::Soap, "Envelope"))
        return false;
    /* An answer names the probe it answers: stray or replayed matches of other probes are not ours. */
    if (text(child(child(env, Ns::Soap, "Header"), Ns::Wsa, "RelatesTo"), 256) != messageId)
        return false;
    const xmlNode *matches = child(child(env, Ns::Soap, "Body"), Ns::Wsd, "ProbeMatches");
    if (!matches)
        return false;
    eachChild(matches, Ns::Wsd, "ProbeMatch", [&](const xmlNode *m) {
        if (out.size() >= 16) /* one sender answers for itself, a few at most */
            return;
        ProbeMatch pm;
        pm.endpoint = text(child(child(m, Ns::Wsa, "EndpointReference"), Ns::Wsa, "Address"), 256);
        pm.types = text(child(m, Ns::Wsd, "Types"), 512);
        std::string list = text(child(m, Ns::Wsd, "XAddrs"), 2048);
        for (size_t p = 0; p < list.size() && pm.xaddrs.size() < 8;) {
            size_t q = list.find_first_of(" \t\r\n", p);
            std::string one = list.substr(p, q == std::string::npos ? std::string::npos : q - p);
            if (!one.empty())
                pm.xaddrs.push_back(one);
            if (q == std::string::npos)
                break;
            p = q + 1;
        }
        list = text(child(m, Ns::Wsd, "Scopes"), 4096);
        for (size_t p = 0; p < list.size() && pm.scopes.size() < 32;) {
            size_t q = list.find_first_of(" \t\r\n", p);
            std::string one = list.substr(p, q == std::string::npos ? std::string::npos : q - p);
            if (!one.empty())
                pm.scopes.push_back(one);
            if (q == std::string::npos)
                break;
            p = q + 1;
        }
        if (!pm.xaddrs.empty())
            out.push_back(std::move(pm));
    });
    return !out.empty();
}

std::string scopeValue(const std::vector<std::string> &scopes, const std::string &key)
{
    const std::string prefix = "onvif://www.onvif.org/" + key + "/";
    for (const std::string &s : scopes) {
        if (s.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string v;
        for (size_t i = prefix.size(); i < s.size(); ++i) {
            if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(uint8_t(s[i + 1])) &&
                std::isxdigit(uint8_t(s[i + 2]))) {
                v.push_back(char(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16)));
                i += 2;
            } else {
                v.push_back(s[i]);
            }
        }
        return v;
    }
    return std::string();
}

bool isDottedIPv4(const std::string &t)
{
    int parts = 0;
    size_t i = 0;
    while (i <= t.size()) {
        size_t j = i;
        long v = 0;
        while (j < t.size() && std::isdigit(uint8_t(t[j])) && j - i < 3)
            v = v * 10 + (t[j++] - '0');
        if (j == i || v > 255)
            return false;
        ++parts;
        if (j == t.size())
            return parts == 4;
        if (t[j] != '.' || parts == 4)
            return false;
        i = j + 1;
    }
    return false;
}

bool parseHttpUrl(const std::string &url, HttpUrl &out)
{
    const std::string scheme = "http://";
    if (url.size() > 1024 || url.compare(0, scheme.size(), scheme) != 0)
        return false;
    const size_t hostStart = scheme.size();
    const size_t pathStart = url.find('/', hostStart);
    const std::string hostPort =
        url.substr(hostStart, pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
    HttpUrl u;
    const size_t colon = hostPort.find(':');
    u.host = hostPort.substr(0, colon);
    if (!isDottedIPv4(u.host))
        return false;
    if (colon != std::string::npos) {
        const std::string p = hostPort.substr(colon + 1);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
            return false;
        long v = std::strtol(p.c_str(), nullptr, 10);
        if (v < 1 || v > 65535)
            return false;
        u.port = uint16_t(v);
    }
    u.path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
    for (char c : u.path)
        if (uint8_t(c) <= 0x20 || uint8_t(c) >= 0x7f)
            return false;
    out = u;
    return true;
}

ReplyStatus parseReply(const char *data, size_t size, const char *expected, Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *payload = nullptr;
    return openBody(d, expected, payload, fault);
}

ReplyStatus parseDeviceInformation(const char *data, size_t size, DeviceInformation &out, Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *p = nullptr;
    ReplyStatus st = openBody(d, "GetDeviceInformationResponse", p, fault);
    if (st != ReplyStatus::Ok)
        return st;
    DeviceInformation info;
    info.manufacturer = text(child(p, Ns::Device, "Manufacturer"), 63);
    info.model = text(child(p, Ns::Device, "Model"), 63);
    info.firmware = text(child(p, Ns::Device, "FirmwareVersion"), 191);
    info.serial = text(child(p, Ns::Device, "SerialNumber"), 63);
    info.hardwareId = text(child(p, Ns::Device, "HardwareId"), 63);
    if (!child(p, Ns::Device, "FirmwareVersion"))
        return ReplyStatus::Malformed;
    out = info;
    return ReplyStatus::Ok;
}

std::string normalMac(const std::string &t)
{
    std::string hex;
    for (char c : t) {
        if (std::isxdigit(uint8_t(c)))
            hex.push_back(char(std::tolower(uint8_t(c))));
        else if (c != ':' && c != '-')
            return std::string();
    }
    if (hex.size() != 12)
        return std::string();
    std::string out;
    for (size_t i = 0; i < 12; i += 2) {
        if (i)
            out.push_back(':');
        out.append(hex, i, 2);
    }
    return out;
}

ReplyStatus parseNetworkInterfaces(const char *data, size_t size, std::vector<NetworkInterface> &out,
                                   Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *p = nullptr;
    ReplyStatus st = openBody(d, "GetNetworkInterfacesResponse", p, fault);
    if (st != ReplyStatus::Ok)
        return st;
    std::vector<NetworkInterface> list;
    eachChild(p, Ns::Device, "NetworkInterfaces", [&](const xmlNode *n) {
        if (list.size() >= 16)
            return;
        NetworkInterface ni;
        xmlChar *tok = xml().GetProp(n, X("token"));
        ni.token = tok ? reinterpret_cast<const char *>(tok) : "";
        xml().Free(tok);
        if (ni.token.size() > 64)
            return;
        ni.mac = normalMac(text(child(child(n, Ns::Schema, "Info"), Ns::Schema, "HwAddress"), 64));
        const xmlNode *cfg = child(child(n, Ns::Schema, "IPv4"), Ns::Schema, "Config");
        ni.dhcp = text(child(cfg, Ns::Schema, "DHCP"), 8) == "true";
        const xmlNode *addr = child(cfg, Ns::Schema, ni.dhcp ? "FromDHCP" : "Manual");
        if (!addr)
            addr = child(cfg, Ns::Schema, "Manual");
        const std::string a = text(child(addr, Ns::Schema, "Address"), 16);
        if (isDottedIPv4(a))
            ni.address = a;
        int prefix = -1;
        if (intText(child(addr, Ns::Schema, "PrefixLength"), 0, 32, prefix))
            ni.prefixLength = prefix;
        list.push_back(ni);
    });
    out = list;
    return ReplyStatus::Ok;
}

bool DateTime::toEpoch(std::time_t &out) const
{
    if (!hasUtc)
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    out = timegm(&tm);
    return out != std::time_t(-1);
}

ReplyStatus parseSystemDateAndTime(const char *data, size_t size, DateTime &out, Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *p = nullptr;
    ReplyStatus st = openBody(d, "GetSystemDateAndTimeResponse", p, fault);
    if (st != ReplyStatus::Ok)
        return st;
    const xmlNode *sdt = child(p, Ns::Device, "SystemDateAndTime");
    if (!sdt)
        return ReplyStatus::Malformed;
    DateTime dt;
    dt.dateTimeType = text(child(sdt, Ns::Schema, "DateTimeType"), 16);
    dt.daylightSavings = text(child(sdt, Ns::Schema, "DaylightSavings"), 8) == "true";
    dt.tz = text(child(child(sdt, Ns::Schema, "TimeZone"), Ns::Schema, "TZ"), 128);
    if (const xmlNode *utc = child(sdt, Ns::Schema, "UTCDateTime")) {
        if (!readDate(utc, dt))
            return ReplyStatus::Malformed;
        dt.hasUtc = true;
    }
    out = dt;
    return ReplyStatus::Ok;
}

ReplyStatus parseStartFirmwareUpgrade(const char *data, size_t size, FirmwareUpload &out, Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *p = nullptr;
    ReplyStatus st = openBody(d, "StartFirmwareUpgradeResponse", p, fault);
    if (st != ReplyStatus::Ok)
        return st;
    FirmwareUpload u;
    u.uri = text(child(p, Ns::Device, "UploadUri"), 1024);
    u.delaySeconds = durationSeconds(text(child(p, Ns::Device, "UploadDelay"), 64));
    u.downSeconds = durationSeconds(text(child(p, Ns::Device, "ExpectedDownTime"), 64));
    if (u.uri.empty() || u.delaySeconds < 0 || u.downSeconds < 0)
        return ReplyStatus::Malformed;
    out = u;
    return ReplyStatus::Ok;
}

ReplyStatus parseDefaultGateway(const char *data, size_t size, std::string &gateway, Fault &fault)
{
    Doc d = parseDoc(data, size);
    if (!d)
        return ReplyStatus::Malformed;
    const xmlNode *p = nullptr;
    ReplyStatus st = openBody(d, "GetNetworkDefaultGatewayResponse", p, fault);
    if (st != ReplyStatus::Ok)
        return st;
    const std::string g = text(child(child(p, Ns::Device, "NetworkGateway"), Ns::Schema, "IPv4Address"), 16);
    gateway = isDottedIPv4(g) ? g : std::string();
    return ReplyStatus::Ok;
}

int durationSeconds(const std::string &t)
{
    if (t.size() < 2 || t[0] != 'P' || t.size() > 40)
        return -1;
    long total = 0;
    bool inTime = false;
    long value = -1;
    for (size_t i = 1; i < t.size(); ++i) {
        char c = t[i];
        if (c == 'T') {
            if (inTime || value >= 0)
                return -1;
            inTime = true;
            continue;
        }
        if (std::isdigit(uint8_t(c))) {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 1000000)
                return -1;
            /* Fractions of a second are dropped. */
            continue;
        }
        if (c == '.' && inTime) {
            while (i + 1 < t.size() && std::isdigit(uint8_t(t[i + 1])))
                ++i;
            continue;
        }
        if (value < 0)
            return -1;
        long unit;
        if (!inTime && c == 'D')
            unit = 86400;
        else if (inTime && c == 'H')
            unit = 3600;
        else if (inTime && c == 'M')
            unit = 60;
        else if (inTime && c == 'S')
            unit = 1;
        else
            return -1;
        total += value * unit;
        value = -1;
        if (total > 86400)
            return -1;
    }
    return value >= 0 ? -1 : int(total);
}

std::string posixZone(int minutes)
{
    if (minutes == 0)
        return "UTC0";
    char buf[32];
    const int a = minutes < 0 ? -minutes : minutes;
    if (a % 60)
        std::snprintf(buf, sizeof buf, "UTC%c%d:%02d", minutes < 0 ? '-' : '+', a / 60, a % 60);
    else
        std::snprintf(buf, sizeof buf, "UTC%c%d", minutes < 0 ? '-' : '+', a / 60);
    return buf;
}

bool zoneMinutes(const std::string &tz, int &out)
{
    /* std name: letters, or <...> quoted; then [+-]hh[:mm[:ss]] */
    size_t i = 0;
    if (i < tz.size() && tz[i] == '<') {
        i = tz.find('>');
        if (i == std::string::npos)
            return false;
        ++i;
    } else {
        while (i < tz.size() && std::isalpha(uint8_t(tz[i])))
            ++i;
        if (i < 3)
            return false;
    }
    int sign = 1;
    if (i < tz.size() && (tz[i] == '+' || tz[i] == '-'))
        sign = tz[i++] == '-' ? -1 : 1;
    int h = 0, m = 0, digits = 0;
    while (i < tz.size() && std::isdigit(uint8_t(tz[i])) && digits < 2) {
        h = h * 10 + (tz[i++] - '0');
        ++digits;
    }
    if (!digits || h > 24)
        return false;
    if (i < tz.size() && tz[i] == ':') {
        ++i;
        digits = 0;
        while (i < tz.size() && std::isdigit(uint8_t(tz[i])) && digits < 2) {
            m = m * 10 + (tz[i++] - '0');
            ++digits;
        }
        if (digits != 2 || m > 59)
            return false;
    }
    out = sign * (h * 60 + m);
    return true;
}

} // namespace onvif
} // namespace netsdk
