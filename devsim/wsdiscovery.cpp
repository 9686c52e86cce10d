#include "wsdiscovery.h"

#include "device.h"
#include "fleet.h"

#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <sstream>

namespace devsim
{

namespace
{

const char kMatchesAction[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
const char kAnonymous[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
constexpr size_t kMaxMessageId = 256;

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w && out.size() < 64)
        out.push_back(w);
    return out;
}

// Scope segments are URIs: anything outside the unreserved set is percent-encoded, so a name with
// spaces stays one scope.
std::string scopeEscape(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string randomUuid()
{
    unsigned char b[16];
    RAND_bytes(b, sizeof b);
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    char buf[48];
    std::snprintf(buf, sizeof buf,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

} // namespace

bool parseProbe(const char *data, size_t size, Probe *probe, std::string *error)
{
    SoapRequest msg;
    if (!parseSoap(data, size, &msg, error))
        return false;
    if (msg.operation.name != "Probe" || msg.operation.ns != ns::kDiscovery) {
        *error = "not a Probe";
        return false;
    }
    *probe = Probe();
    if (msg.messageId.size() > kMaxMessageId) {
        *error = "MessageID too long";
        return false;
    }
    probe->messageId = msg.messageId;
    if (const XmlNode *types = msg.operation.child("Types", ns::kDiscovery)) {
        for (const std::string &qname : words(types->text)) {
            const size_t colon = qname.find(':');
            const std::string prefix = colon == std::string::npos ? std::string() : qname.substr(0, colon);
            const std::string local = colon == std::string::npos ? qname : qname.substr(colon + 1);
            auto it = types->scope.find(prefix);
            if (it == types->scope.end()) {
                *error = "type prefix \"" + prefix + "\" is not declared";
                return false;
            }
            probe->types.emplace_back(it->second, local);
        }
    }
    if (const XmlNode *scopes = msg.operation.child("Scopes", ns::kDiscovery)) {
        auto rule = scopes->attributes.find("MatchBy");
        if (rule != scopes->attributes.end() &&
            rule->second != "http://schemas.xmlsoap.org/ws/2005/04/discovery/rfc3986") {
            *error = "unsupported scope matching rule";
            return false;
        }
        probe->scopes = words(scopes->text);
    }
    return true;
}

bool probeMatches(const Probe &probe, const std::vector<std::string> &deviceScopes)
{
    for (const auto &t : probe.types) {
        const bool nvt = t.first == ns::kNetwork && t.second == "NetworkVideoTransmitter";
        const bool device = t.first == ns::kDevice && t.second == "Device";
        if (!nvt && !device)
            return false;
    }
    for (const std::string &want : probe.scopes) {
        bool found = false;
        std::string w = want;
        while (w.size() > 1 && w.back() == '/')
            w.pop_back();
        for (const std::string &have : deviceScopes)
            found = found || have == w || (have.compare(0, w.size(), w) == 0 && have[w.size()] == '/');
        if (!found)
            return false;
    }
    return true;
}

std::vector<std::string> deviceScopes(const Device &device)
{
    const DeviceSpec &s = device.spec();
    return {"onvif://www.onvif.org/type/video_encoder",
            "onvif://www.onvif.org/type/Network_Video_Transmitter",
            "onvif://www.onvif.org/Profile/Streaming",
            "onvif://www.onvif.org/hardware/" + scopeEscape(s.modelOrHardware()),
            "onvif://www.onvif.org/name/" + scopeEscape(s.manufacturer),
            "onvif://www.onvif.org/location/loopback"};
}

std::string endpointAddress(const Device &device)
{
    const std::string mac = macDirName(device.spec().mac);
    return "urn:uuid:5f5a69c2-e0ae-504f-829b-" + (mac.size() == 12 ? mac : std::string("000000000000"));
}

std::string probeMatchesMessage(const Probe &probe, const Device &device, const std::string &xaddr)
{
    XmlWriter w;
    w.open("env:Envelope", {{"env", ns::kSoapEnv},
                            {"wsa", ns::kAddressing},
                            {"d", ns::kDiscovery},
                            {"dn", ns::kNetwork},
                            {"tds", ns::kDevice}});
    w.open("env:Header");
    w.element("wsa:MessageID", randomUuid());
    if (!probe.messageId.empty())
        w.element("wsa:RelatesTo", probe.messageId);
    w.element("wsa:To", kAnonymous);
    w.element("wsa:Action", kMatchesAction);
    w.close();
    w.open("env:Body");
    w.open("d:ProbeMatches");
    w.open("d:ProbeMatch");
    w.open("wsa:EndpointReference");
    w.element("wsa:Address", endpointAddress(device));
    w.close();
    w.element("d:Types", "dn:NetworkVideoTransmitter tds:Device");
    std::string scopes;
    for (const std::string &s : deviceScopes(device))
        scopes += (scopes.empty() ? "" : " ") + s;
    w.element("d:Scopes", scopes);
    w.element("d:XAddrs", xaddr);
    w.element("d:MetadataVersion", "1");
    w.close();
    w.close();
    w.close();
    return w.finish();
}

} // namespace devsim
