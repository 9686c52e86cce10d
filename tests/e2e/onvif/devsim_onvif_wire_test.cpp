// devsim's ONVIF face over real sockets, with libcurl as the HTTP client: unicast WS-Discovery,
// HTTP Digest as libmicrohttpd checks it, the fleet's faults, a firmware upload and the restart
// after it, an address change. (Multicast discovery and third-party clients: onvif-clients.sh.)

#include "devsimfleet.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include <chrono>
#include <ctime>
#include <thread>

using namespace devsimtest;

namespace
{

// This test's own loopback range and ports.
const char kBase[] = "127.0.78.";
const int kSdkPort = 47867;
const int kSearchPort = 47869;
const int kOnvifPort = 47880;
const int kDiscoveryPort = 47702;

std::string ip(int last)
{
    return kBase + std::to_string(last);
}

std::string serviceUrl(const std::string &address)
{
    return "http://" + address + ":" + std::to_string(kOnvifPort) + "/onvif/device_service";
}

std::string b64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    out.resize(
        size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                               reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()))));
    return out;
}

/// A SOAP request with a fresh UsernameToken on the station's clock (empty password: none).
std::string soap(const std::string &body, const std::string &password = std::string())
{
    std::string header;
    if (!password.empty()) {
        unsigned char nonce[16];
        RAND_bytes(nonce, sizeof nonce);
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&now, &tm);
        char created[32];
        std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%SZ", &tm);
        const std::string n(reinterpret_cast<char *>(nonce), sizeof nonce);
        const std::string in = n + created + password;
        unsigned char md[SHA_DIGEST_LENGTH];
        SHA1(reinterpret_cast<const unsigned char *>(in.data()), in.size(), md);
        header =
            "<wsse:Security xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/"
            "oasis-200401-wss-wssecurity-secext-1.0.xsd\" xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/"
            "oasis-200401-wss-wssecurity-utility-1.0.xsd\"><wsse:UsernameToken><wsse:Username>admin"
            "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
            "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
            b64(std::string(reinterpret_cast<char *>(md), sizeof md)) + "</wsse:Password><wsse:Nonce>" +
            b64(n) + "</wsse:Nonce><wsu:Created>" + created +
            "</wsu:Created></wsse:UsernameToken></wsse:Security>";
    }
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
           "<s:Header>" +
           header + "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

struct Reply {
    CURLcode curl = CURLE_OK;
    long status = 0;
    std::string body;
    /// The text of the first element of this local name ("<tds:Model>x</tds:Model>" -> "x").
    std::string field(const std::string &local) const
    {
        size_t at = body.find(":" + local + ">");
        if (at == std::string::npos)
            return std::string();
        at += local.size() + 2;
        const size_t end = body.find('<', at);
        return body.substr(at, end - at);
    }
};

size_t collect(char *p, size_t size, size_t n, void *out)
{
    static_cast<std::string *>(out)->append(p, size * n);
    return size * n;
}

/// A POST; digestPassword non-empty: HTTP Digest as user admin.
Reply post(const std::string &url, const std::string &body, const std::string &type = "application/soap+xml",
           const std::string &digestPassword = std::string(), long timeoutMs = 10000)
{
    Reply r;
    CURL *c = curl_easy_init();
    curl_slist *headers = curl_slist_append(nullptr, ("Content-Type: " + type).c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    if (!digestPassword.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
        curl_easy_setopt(c, CURLOPT_USERNAME, "admin");
        curl_easy_setopt(c, CURLOPT_PASSWORD, digestPassword.c_str());
    }
    r.curl = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    return r;
}

/// Sends a Probe to address:discovery port; the senders of the ProbeMatches that came back.
std::vector<std::string> probe(const std::string &address)
{
    const std::string msg =
        "<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Header><wsa:MessageID "
        "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">urn:uuid:7</wsa:MessageID></"
        "Header><Body>"
        "<Probe xmlns=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
        "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><Types>dn:NetworkVideoTransmitter</Types></"
        "Probe>"
        "</Body></Envelope>";
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval tv{0, 500000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscoveryPort);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    std::vector<std::string> from;
    char buf[65536];
    for (;;) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&a), &len);
        if (n <= 0)
            break;
        if (std::string(buf, size_t(n)).find("ProbeMatch") == std::string::npos)
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        from.push_back(text);
    }
    ::close(fd);
    return from;
}

QJsonObject onvifDevice(int last, QJsonObject extra = QJsonObject())
{
    extra[QStringLiteral("ip")] = QString::fromStdString(ip(last));
    extra[QStringLiteral("mac")] = QStringLiteral("00:78:00:00:00:%1").arg(last, 2, 16, QLatin1Char('0'));
    if (!extra.contains(QStringLiteral("protocol")))
        extra[QStringLiteral("protocol")] = QStringLiteral("onvif");
    extra[QStringLiteral("password")] = QStringLiteral("secret");
    extra[QStringLiteral("hardware")] = QStringLiteral("IPC-A");
    extra[QStringLiteral("model")] = QStringLiteral("Cam A");
    extra[QStringLiteral("upgradeMs")] = 100;
    extra[QStringLiteral("rebootMs")] = 400;
    return extra;
}

class DevsimOnvifWire : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    void start(const QJsonArray &devices)
    {
        ASSERT_TRUE(sim.start(devices, kSdkPort, kSearchPort, -1,
                              {QStringLiteral("--onvif-port"), QString::number(kOnvifPort),
                               QStringLiteral("--discovery-port"), QString::number(kDiscoveryPort)}))
            << sim.error().toStdString();
    }
    /// Waits for a line of devsim's output that contains `text`.
    bool saw(const std::string &text, int ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (sim.output(50).toStdString().find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    DevsimFleet sim;
};

TEST_F(DevsimOnvifWire, UnicastProbesAndFaults)
{
    QJsonObject silent{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("silent"), true}}}};
    QJsonObject quiet{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("searchSilent"), true}}}};
    QJsonObject failing{
        {QStringLiteral("faults"), QJsonObject{{QStringLiteral("soapFault"), QStringLiteral("*")}}}};
    QJsonObject sdk{{QStringLiteral("protocol"), QStringLiteral("sdk")}};
    start({onvifDevice(10), onvifDevice(11, silent), onvifDevice(12, quiet), onvifDevice(13, failing),
           onvifDevice(14, sdk)});
    struct Case {
        int device;
        bool answersProbe;
        long status;      ///< of an authenticated GetDeviceInformation; 0: no answer at all
        const char *text; ///< in the answer
    };
    const Case cases[] = {
        {10, true, 200, "Cam A"},  {11, true, 0, ""}, // silent: found, then never answers
        {12, false, 200, "Cam A"}, {13, true, 500, "ter:Action"},
        {14, false, 0, ""}, // speaks the SDK only
    };
    for (const Case &c : cases) {
        const std::vector<std::string> from = probe(ip(c.device));
        EXPECT_EQ(from.size(), c.answersProbe ? 1u : 0u) << ip(c.device);
        if (!from.empty()) {
            EXPECT_EQ(from.front(), ip(c.device)); // answered from the device's own address
        }
        const Reply r = post(serviceUrl(ip(c.device)), soap("<tds:GetDeviceInformation/>", "secret"),
                             "application/soap+xml", std::string(), 1500);
        EXPECT_EQ(r.status, c.status) << ip(c.device) << " " << curl_easy_strerror(r.curl);
        EXPECT_NE(r.body.find(c.text), std::string::npos) << ip(c.device) << ": " << r.body;
    }
    EXPECT_EQ(post(serviceUrl(ip(11)), soap("<tds:GetSystemDateAndTime/>"), "application/soap+xml",
                   std::string(), 1500)
                  .curl,
              CURLE_OPERATION_TIMEDOUT);
}

TEST_F(DevsimOnvifWire, HttpDigestAsTheDaemonChecksIt)
{
    start({onvifDevice(10), onvifDevice(11, QJsonObject{{QStringLiteral("httpDigest"), true}})});
    struct Case {
        int device;
        const char *digest; ///< HTTP Digest password; empty: none
        const char *token;  ///< UsernameToken password; empty: none
        long status;
    };
    const Case cases[] = {
        {11, "secret", "", 200},
        {11, "wrong", "", 401},
        {11, "", "secret", 401}, // the token alone is not
                                 // enough
        {10, "secret", "", 200},
        {10, "", "secret", 200},
        {10, "", "wrong", 400},
        {10, "", "", 401},
    };
    for (const Case &c : cases) {
        const Reply r = post(serviceUrl(ip(c.device)), soap("<tds:GetDeviceInformation/>", c.token),
                             "application/soap+xml", c.digest);
        EXPECT_EQ(r.status, c.status)
            << c.device << " digest=" << c.digest << " token=" << c.token << ": " << r.body;
        if (c.status == 200) {
            EXPECT_EQ(r.field("Model"), "Cam A");
        }
    }
}

TEST_F(DevsimOnvifWire, FirmwareUploadThenRestartWithTheNewVersion)
{
    start({onvifDevice(10), onvifDevice(11, QJsonObject{{QStringLiteral("httpDigest"), true}})});
    TempDir dir;
    auto package = [&](const std::string &hardware, const std::string &version) {
        const std::string desc = "{\"Hardware\":\"" + hardware + "\",\"Version\":\"" + version +
                                 "\",\"UpgradeCommand\":[{\"Command\":\"Burn\",\"FileName\":\"romfs.img\"}]}";
        const std::string path = dir / (version + ".zip");
        EXPECT_TRUE(makeZip(path, {{"InstallDesc", desc}, {"romfs.img", std::string(300000, 'f')}}));
        return readFile(path);
    };
    struct Case {
        int device;
        const char *digest;
        std::string package;
        long status;
        const char *versionAfter;
    };
    const Case cases[] = {
        {10, "", package("OTHER", "V2.0"), 415, nullptr},
        {10, "", package("IPC-A", "V2.0"), 200, "V2.0"},
        {11, "secret", package("Cam A", "V3.0"), 200,
         "V3.0"}, // by model; curl opens Digest with an empty POST
    };
    for (const Case &c : cases) {
        const std::string url = serviceUrl(ip(c.device));
        const Reply start = post(url, soap("<tds:StartFirmwareUpgrade/>", c.digest[0] ? "" : "secret"),
                                 "application/soap+xml", c.digest);
        ASSERT_EQ(start.status, 200) << start.body;
        const std::string uploadUri = start.field("UploadUri");
        EXPECT_EQ(start.field("ExpectedDownTime"), "PT1S");
        const Reply up = post(uploadUri, c.package, "application/octet-stream", c.digest);
        EXPECT_EQ(up.status, c.status) << up.body;
        if (c.status != 200)
            continue;
        EXPECT_TRUE(
            saw("reboot 00:78:00:00:00:" + std::string(c.device == 10 ? "0a" : "0b") + " away for 500 ms"));
        // Away, then back with the package's version.
        std::string version;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (version.empty() && std::chrono::steady_clock::now() < end) {
            const Reply info = post(url, soap("<tds:GetDeviceInformation/>", c.digest[0] ? "" : "secret"),
                                    "application/soap+xml", c.digest, 1000);
            if (info.status == 200)
                version = info.field("FirmwareVersion");
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(version, c.versionAfter);
    }
}

TEST_F(DevsimOnvifWire, UploadCutShortIsRecordedAndNothingBurns)
{
    start({onvifDevice(10)});
    const Reply start = post(serviceUrl(ip(10)), soap("<tds:StartFirmwareUpgrade/>", "secret"));
    ASSERT_EQ(start.status, 200) << start.body;
    const std::string uri = start.field("UploadUri");
    const std::string prefix = "http://" + ip(10) + ":" + std::to_string(kOnvifPort);
    ASSERT_EQ(uri.compare(0, prefix.size(), prefix), 0) << uri;
    // Announce 100000 bytes, send 1000, leave.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kOnvifPort);
    inet_pton(AF_INET, ip(10).c_str(), &to.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    const std::string head = "POST " + uri.substr(prefix.size()) + " HTTP/1.1\r\nHost: " + ip(10) +
                             "\r\nContent-Type: application/octet-stream\r\nContent-Length: 100000\r\n\r\n" +
                             std::string(1000, 'p');
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), ssize_t(head.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(fd);
    const std::string statePath =
        sim.deviceDir(QStringLiteral("00:78:00:00:00:0a")).toStdString() + "/state.json";
    std::string kind;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (kind != "aborted" && std::chrono::steady_clock::now() < end) {
        kind = parse(readFile(statePath))["lastUpgrade"]["kind"].asString();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(kind, "aborted");
    EXPECT_FALSE(saw("reboot 00:78:00:00:00:0a", 500)); // no restart
    const Reply info = post(serviceUrl(ip(10)), soap("<tds:GetDeviceInformation/>", "secret"));
    EXPECT_EQ(info.field("FirmwareVersion"), parse(readFile(statePath))["version"].asString());
    EXPECT_TRUE(QDir(sim.deviceDir(QStringLiteral("00:78:00:00:00:0a")))
                    .entryList({QStringLiteral("*.part")}, QDir::Files)
                    .isEmpty());
}

TEST_F(DevsimOnvifWire, OverlappingUploadsKeepTheirOwnPackages)
{
    start({onvifDevice(10)});
    TempDir dir;
    auto package = [&](const std::string &hardware, const std::string &version) {
        const std::string desc = "{\"Hardware\":\"" + hardware + "\",\"Version\":\"" + version + "\"}";
        const std::string path = dir / (version + ".zip");
        EXPECT_TRUE(makeZip(path, {{"InstallDesc", desc}, {"romfs.img", std::string(200000, 'f')}}));
        return readFile(path);
    };
    const std::string prefix = "http://" + ip(10) + ":" + std::to_string(kOnvifPort);
    auto uploadUri = [&] {
        const Reply start = post(serviceUrl(ip(10)), soap("<tds:StartFirmwareUpgrade/>", "secret"));
        EXPECT_EQ(start.status, 200) << start.body;
        return start.field("UploadUri");
    };
    const std::string first = uploadUri(), second = uploadUri();
    ASSERT_EQ(first.compare(0, prefix.size(), prefix), 0) << first;
    // The first package half sent, a second upload comes and goes (refused), then the rest.
    const std::string good = package("IPC-A", "V2.0");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kOnvifPort);
    inet_pton(AF_INET, ip(10).c_str(), &to.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    const std::string head =
        "POST " + first.substr(prefix.size()) + " HTTP/1.1\r\nHost: " + ip(10) +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(good.size()) +
        "\r\n\r\n" + good.substr(0, good.size() / 2);
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), ssize_t(head.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(post(second, package("OTHER", "V3.0"), "application/octet-stream").status, 415);
    const std::string rest = good.substr(good.size() / 2);
    ASSERT_EQ(::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL), ssize_t(rest.size()));
    std::string answer;
    char buf[4096];
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    for (ssize_t n; answer.find("\r\n\r\n") == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        answer.append(buf, size_t(n));
    ::close(fd);
    EXPECT_EQ(answer.compare(0, 12, "HTTP/1.1 200"), 0) << answer;
    EXPECT_TRUE(saw("reboot 00:78:00:00:00:0a"));
    const std::string statePath =
        sim.deviceDir(QStringLiteral("00:78:00:00:00:0a")).toStdString() + "/state.json";
    EXPECT_EQ(parse(readFile(statePath))["version"].asString(), "V2.0");
    EXPECT_EQ(readFile(sim.deviceDir(QStringLiteral("00:78:00:00:00:0a")).toStdString() + "/firmware.bin"),
              good);
}

TEST_F(DevsimOnvifWire, AddressChangeMovesTheService)
{
    start({onvifDevice(10)});
    const Reply r =
        post(serviceUrl(ip(10)),
             soap("<tds:SetNetworkInterfaces><tds:InterfaceToken>eth0</tds:InterfaceToken>"
                  "<tds:NetworkInterface><tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Manual><tt:Address>" +
                      ip(50) +
                      "</tt:Address><tt:PrefixLength>8</tt:PrefixLength></tt:Manual><tt:DHCP>false"
                      "</tt:DHCP></tt:IPv4></tds:NetworkInterface></tds:SetNetworkInterfaces>",
                  "secret"));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.field("RebootNeeded"), "false");
    ASSERT_TRUE(saw("moved 00:78:00:00:00:0a to " + ip(50)));
    EXPECT_EQ(post(serviceUrl(ip(50)), soap("<tds:GetNetworkInterfaces/>", "secret")).field("Address"),
              ip(50));
    EXPECT_EQ(
        post(serviceUrl(ip(10)), soap("<tds:GetSystemDateAndTime/>"), "application/soap+xml", "", 1500).curl,
        CURLE_COULDNT_CONNECT);
    EXPECT_EQ(probe(ip(50)).size(), 1u);
}

} // namespace
