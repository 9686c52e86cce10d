#include "fakeonvif.h"

#include <arpa/inet.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>

namespace
{

const char kSoap[] = "http://www.w3.org/2003/05/soap-envelope";
const char kWsse[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
const char kWsu[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";

std::string hex(const unsigned char *p, unsigned n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

std::string md5hex(const std::string &s)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(s.data(), s.size(), md, &n, EVP_md5(), nullptr);
    return hex(md, n);
}

std::string b64(const unsigned char *p, size_t n)
{
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    int k = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]), p, int(n));
    out.resize(size_t(k));
    return out;
}

std::string unb64(const std::string &s)
{
    std::string out(s.size(), '\0');
    int k = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                            reinterpret_cast<const unsigned char *>(s.data()), int(s.size()));
    if (k < 0)
        return std::string();
    size_t pad = 0;
    for (size_t i = s.size(); i > 0 && s[i - 1] == '='; --i)
        ++pad;
    out.resize(size_t(k) - pad);
    return out;
}

/* Depth-first search by namespace and local name. */
const xmlNode *find(const xmlNode *n, const char *ns, const char *name)
{
    for (; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && n->ns &&
            std::strcmp(reinterpret_cast<const char *>(n->ns->href), ns) == 0 &&
            std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0)
            return n;
        if (const xmlNode *c = find(n->children, ns, name))
            return c;
    }
    return nullptr;
}

std::string content(const xmlNode *n)
{
    if (!n)
        return std::string();
    xmlChar *c = xmlNodeGetContent(n);
    std::string s(reinterpret_cast<const char *>(c));
    xmlFree(c);
    return s;
}

std::string envelope(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope "
           "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
           " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\""
           " xmlns:ter=\"http://www.onvif.org/ver10/error\"><s:Body>" +
           body + "</s:Body></s:Envelope>";
}

std::string fault(const char *sub)
{
    return envelope(
        std::string("<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:") + sub +
        "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">refused</s:Text></s:Reason>"
        "</s:Fault>");
}

std::string headerValue(const std::string &headers, const std::string &name)
{
    size_t p = 0;
    while ((p = headers.find("\r\n", p)) != std::string::npos) {
        p += 2;
        if (strncasecmp(headers.c_str() + p, (name + ":").c_str(), name.size() + 1) == 0) {
            size_t e = headers.find("\r\n", p);
            std::string v = headers.substr(p + name.size() + 1, e - p - name.size() - 1);
            return v.substr(v.find_first_not_of(' '));
        }
    }
    return std::string();
}

std::string digestField(const std::string &h, const std::string &key)
{
    size_t p = h.find(key + "=");
    if (p == std::string::npos)
        return std::string();
    p += key.size() + 1;
    if (h[p] == '"') {
        size_t e = h.find('"', p + 1);
        return h.substr(p + 1, e - p - 1);
    }
    size_t e = h.find_first_of(", ", p);
    return h.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

int bindLoopback(int type, const std::string &ip, uint16_t &port)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("bind");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace

FakeOnvif::FakeOnvif(Options o) : o_(std::move(o))
{
    udp_ = bindLoopback(SOCK_DGRAM, o_.ip, udpPort_);
    tcp_ = bindLoopback(SOCK_STREAM, o_.ip, httpPort_);
    ::listen(tcp_, 64);
    udpThread_ = std::thread([this] { udpLoop(); });
    httpThread_ = std::thread([this] { httpLoop(); });
}

FakeOnvif::~FakeOnvif()
{
    stop_ = true;
    ::shutdown(udp_, SHUT_RDWR);
    ::shutdown(tcp_, SHUT_RDWR);
    udpThread_.join();
    httpThread_.join();
    for (std::thread &t : conns_)
        t.join();
    ::close(udp_);
    ::close(tcp_);
}

std::string FakeOnvif::serviceUrl() const
{
    return "http://" + o_.ip + ":" + std::to_string(httpPort_) + "/onvif/device_service";
}

void FakeOnvif::setReply(const std::string &action, Reply r)
{
    std::lock_guard<std::mutex> lk(m_);
    replies_[action] = r;
}

std::vector<FakeOnvif::Call> FakeOnvif::calls() const
{
    std::lock_guard<std::mutex> lk(m_);
    return calls_;
}

std::vector<std::string> FakeOnvif::uploads() const
{
    std::lock_guard<std::mutex> lk(m_);
    return uploads_;
}

std::string FakeOnvif::wire() const
{
    std::lock_guard<std::mutex> lk(m_);
    return wire_;
}

void FakeOnvif::udpLoop()
{
    char buf[65536];
    while (!stop_) {
        pollfd p{udp_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n <= 0)
            continue;
        xmlDoc *d = xmlReadMemory(buf, int(n), "p.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
        if (!d)
            continue;
        const std::string id = content(
            find(xmlDocGetRootElement(d), "http://schemas.xmlsoap.org/ws/2004/08/addressing", "MessageID"));
        const bool isProbe =
            find(xmlDocGetRootElement(d), "http://schemas.xmlsoap.org/ws/2005/04/discovery", "Probe");
        xmlFreeDoc(d);
        if (!isProbe || id.empty())
            continue;
        ++probes_;
        std::string macHex;
        for (char c : o_.mac)
            if (c != ':')
                macHex.push_back(c);
        const std::string answer =
            "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
            "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
            "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><s:Header><a:RelatesTo>" +
            id +
            "</a:RelatesTo></s:Header><s:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>"
            "urn:uuid:aaaaaaaa-bbbb-4ccc-8ddd-" +
            macHex +
            "</a:Address></a:EndpointReference><d:Types>dn:NetworkVideoTransmitter</d:Types><d:Scopes>"
            "onvif://www.onvif.org/name/cam onvif://www.onvif.org/hardware/" +
            o_.hardwareId + "</d:Scopes><d:XAddrs>" + serviceUrl() +
            "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches></s:Body></"
            "s:Envelope>";
        ::sendto(udp_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
}

void FakeOnvif::httpLoop()
{
    while (!stop_) {
        pollfd p{tcp_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        int fd = ::accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lk(m_);
        conns_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

void FakeOnvif::serve(int fd)
{
    std::string in;
    char buf[65536];
    for (;;) {
        size_t end = in.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::string headers = in.substr(0, end + 2);
            const size_t length = std::strtoul(headerValue(headers, "Content-Length").c_str(), nullptr, 10);
            if (in.size() >= end + 4 + length) {
                const std::string body = in.substr(end + 4, length);
                in.erase(0, end + 4 + length);
                int status = 200;
                std::string extra;
                const std::string reply = handle(headers, body, status, extra);
                if (status == 0) {
                    // silent: holds the connection without a word until the client gives up
                    while (!stop_) {
                        pollfd p{fd, POLLIN, 0};
                        if (::poll(&p, 1, 100) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0)
                            return;
                    }
                    return;
                }
                const std::string out =
                    "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
                    "\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
                    std::to_string(reply.size()) + "\r\n" + extra + "\r\n" + reply;
                if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0)
                    return;
                continue;
            }
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            if (stop_)
                return;
            continue;
        }
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        in.append(buf, size_t(n));
        std::lock_guard<std::mutex> lk(m_);
        wire_.append(buf, size_t(n));
    }
}

std::string FakeOnvif::handle(const std::string &headers, const std::string &body, int &status,
                              std::string &extra)
{
    if (headers.rfind("POST /upload ", 0) == 0) {
        status = o_.uploadStatus;
        if (status == 200) {
            std::lock_guard<std::mutex> lk(m_);
            uploads_.push_back(body);
        }
        return std::string();
    }
    if (headers.find("Content-Type: multipart/related") != std::string::npos) {
        // UpgradeSystemFirmware as MTOM: the SOAP part, then the attachment the Include names.
        const std::string id = "Content-ID: <firmware@tallow>";
        const size_t at = body.find(id);
        const size_t start = at == std::string::npos ? at : body.find("\r\n\r\n", at);
        const std::string ct = headerValue(headers, "Content-Type");
        const std::string boundary = "\r\n--" + digestField(ct, "boundary");
        const size_t end = start == std::string::npos ? start : body.find(boundary, start + 4);
        if (end == std::string::npos || body.find("cid:firmware@tallow") == std::string::npos) {
            status = 400;
            return fault("BadRequest");
        }
        {
            std::lock_guard<std::mutex> lk(m_);
            uploads_.push_back(body.substr(start + 4, end - start - 4));
            calls_.push_back(Call{"UpgradeSystemFirmware", body.substr(0, at), true});
        }
        return envelope("<tds:UpgradeSystemFirmwareResponse><tds:Message>ok</tds:Message>"
                        "</tds:UpgradeSystemFirmwareResponse>");
    }
    // An HTTP client negotiating Digest may send its first POST without the body.
    if (body.empty() && o_.auth == Auth::HttpDigest) {
        status = 401;
        extra = "WWW-Authenticate: Digest realm=\"onvif\", qop=\"auth\", nonce=\"n0nce\", algorithm=MD5\r\n";
        return std::string();
    }
    xmlDoc *d =
        xmlReadMemory(body.data(), int(body.size()), "r.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
    if (!d) {
        status = 400;
        return fault("BadRequest");
    }
    std::unique_ptr<xmlDoc, void (*)(xmlDoc *)> doc(d, xmlFreeDoc);
    const xmlNode *bodyNode = find(xmlDocGetRootElement(d), kSoap, "Body");
    const xmlNode *first = bodyNode ? bodyNode->children : nullptr;
    while (first && first->type != XML_ELEMENT_NODE)
        first = first->next;
    const std::string action = first ? reinterpret_cast<const char *>(first->name) : "";
    const std::time_t now = std::time(nullptr) + o_.clockSkewSeconds;

    bool authenticated = false;
    bool presented = false; // credentials offered, right or wrong
    if (o_.auth == Auth::HttpDigest) {
        const std::string h = headerValue(headers, "Authorization");
        presented = !h.empty();
        if (h.rfind("Digest ", 0) == 0 && digestField(h, "username") == o_.user) {
            const std::string ha1 = md5hex(o_.user + ":onvif:" + o_.password);
            const std::string ha2 = md5hex("POST:" + digestField(h, "uri"));
            const std::string expect =
                md5hex(ha1 + ":" + digestField(h, "nonce") + ":" + digestField(h, "nc") + ":" +
                       digestField(h, "cnonce") + ":" + digestField(h, "qop") + ":" + ha2);
            authenticated = digestField(h, "response") == expect && digestField(h, "nonce") == "n0nce";
        }
    } else if (const xmlNode *tok = find(xmlDocGetRootElement(d), kWsse, "UsernameToken")) {
        presented = true;
        const std::string user = content(find(tok->children, kWsse, "Username"));
        const std::string digest = content(find(tok->children, kWsse, "Password"));
        const std::string nonce = unb64(content(find(tok->children, kWsse, "Nonce")));
        const std::string created = content(find(tok->children, kWsu, "Created"));
        std::tm tm{};
        const char *end = strptime(created.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
        const long age = end ? long(now - timegm(&tm)) : 1000000;
        const std::string all = nonce + created + o_.password;
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned n = 0;
        EVP_Digest(all.data(), all.size(), md, &n, EVP_sha1(), nullptr);
        authenticated = user == o_.user && digest == b64(md, n) && age > -300 && age < 300;
    }

    Reply mode = Reply::Normal;
    {
        std::lock_guard<std::mutex> lk(m_);
        auto it = replies_.find(action);
        if (it != replies_.end())
            mode = it->second;
    }
    const bool open =
        action == "GetSystemDateAndTime" ||
        (o_.anonymousInfo && (action == "GetDeviceInformation" || action == "GetNetworkInterfaces"));
    // Credentials that are offered are checked, even for a call open to anyone.
    if ((!open || presented) && !authenticated) {
        if (o_.auth == Auth::HttpDigest) {
            status = 401;
            extra =
                "WWW-Authenticate: Digest realm=\"onvif\", qop=\"auth\", nonce=\"n0nce\", algorithm=MD5\r\n";
            return std::string();
        }
        status = 400;
        return fault("NotAuthorized");
    }
    {
        std::lock_guard<std::mutex> lk(m_);
        calls_.push_back(Call{action, body, authenticated});
    }
    switch (mode) {
    case Reply::Silent:
        status = 0;
        return std::string();
    case Reply::Fault:
        status = 500;
        return fault("ActionFailed");
    case Reply::Garbled:
        return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><tds:Get";
    case Reply::Normal:
        break;
    }
    if (action == "GetSystemDateAndTime") {
        std::tm tm{};
        gmtime_r(&now, &tm);
        char b[512];
        std::snprintf(
            b, sizeof b,
            "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</"
            "tt:DateTimeType>"
            "<tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>%s</tt:TZ></tt:TimeZone>"
            "<tt:UTCDateTime><tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second>"
            "</tt:Time><tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date>"
            "</tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
            o_.tz.c_str(), tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        return envelope(b);
    }
    if (action == "GetDeviceInformation")
        return envelope(
            "<tds:GetDeviceInformationResponse><tds:Manufacturer>Acme</tds:Manufacturer><tds:Model>" +
            o_.model + "</tds:Model><tds:FirmwareVersion>" + o_.firmware +
            "</tds:FirmwareVersion><tds:SerialNumber>" + o_.serial + "</tds:SerialNumber><tds:HardwareId>" +
            o_.hardwareId + "</tds:HardwareId></tds:GetDeviceInformationResponse>");
    if (action == "GetNetworkInterfaces")
        return envelope(
            "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\"><tt:Enabled>true"
            "</tt:Enabled><tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>" +
            o_.mac +
            "</tt:HwAddress></tt:Info><tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual>"
            "<tt:Address>" +
            o_.ip +
            "</tt:Address><tt:PrefixLength>8</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP>"
            "</tt:Config></tt:IPv4></tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>");
    if (action == "GetNetworkDefaultGateway")
        return envelope(
            "<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway><tt:IPv4Address>127.0.0.254"
            "</tt:IPv4Address></tds:NetworkGateway></tds:GetNetworkDefaultGatewayResponse>");
    if (action == "SetNetworkInterfaces")
        return envelope("<tds:SetNetworkInterfacesResponse><tds:RebootNeeded>false</tds:RebootNeeded>"
                        "</tds:SetNetworkInterfacesResponse>");
    if (action == "StartFirmwareUpgrade" && o_.startFirmwareUpgrade)
        return envelope(
            "<tds:StartFirmwareUpgradeResponse><tds:UploadUri>http://" +
            (o_.uploadHost.empty() ? o_.ip : o_.uploadHost) + ":" + std::to_string(httpPort_) +
            "/upload</tds:UploadUri><tds:UploadDelay>PT0S</tds:UploadDelay>"
            "<tds:ExpectedDownTime>PT10S</tds:ExpectedDownTime></tds:StartFirmwareUpgradeResponse>");
    if (action == "SystemReboot")
        return envelope(
            "<tds:SystemRebootResponse><tds:Message>Rebooting</tds:Message></tds:SystemRebootResponse>");
    if (action == "SetSystemDateAndTime" || action == "SetSystemFactoryDefault" ||
        action == "SetNetworkDefaultGateway")
        return envelope("<tds:" + action + "Response/>");
    status = 400;
    return fault("ActionNotSupported");
}
