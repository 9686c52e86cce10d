// The ONVIF messages as the SDK builds and reads them: canned device replies (good, fault, malformed,
// oversized, wrong namespace, hostile XML), discovery answers, request escaping and the small
// conversions (durations, zones, addresses).
#include "netsdk/onvifwire.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

using namespace netsdk::onvif;

namespace
{

const char kEnvOpen[] = "<?xml version=\"1.0\"?>"
                        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
                        " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
                        " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
                        " xmlns:ter=\"http://www.onvif.org/ver10/error\"><s:Body>";
const char kEnvClose[] = "</s:Body></s:Envelope>";

std::string envelope(const std::string &body)
{
    return kEnvOpen + body + kEnvClose;
}

const std::string kInfo =
    "<tds:GetDeviceInformationResponse><tds:Manufacturer>Acme</tds:Manufacturer>"
    "<tds:Model>CAM-1</tds:Model><tds:FirmwareVersion>V2.1.0 build 20261001</tds:FirmwareVersion>"
    "<tds:SerialNumber>SN0042</tds:SerialNumber><tds:HardwareId>HW-77</tds:HardwareId>"
    "</tds:GetDeviceInformationResponse>";

const std::string kFault =
    "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:NotAuthorized"
    "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">Sender not authorized"
    "</s:Text></s:Reason></s:Fault>";

struct InfoCase {
    const char *name;
    std::string reply;
    ReplyStatus status;
    const char *firmware; // when Ok
    const char *subcode;  // when Fault
};

class DeviceInformationReplies : public ::testing::TestWithParam<InfoCase>
{
};

TEST_P(DeviceInformationReplies, AreReadOrRefused)
{
    const InfoCase &c = GetParam();
    DeviceInformation info;
    info.firmware = "untouched";
    Fault fault;
    EXPECT_EQ(parseDeviceInformation(c.reply.data(), c.reply.size(), info, fault), c.status);
    if (c.status == ReplyStatus::Ok) {
        EXPECT_EQ(info.firmware, c.firmware);
        EXPECT_EQ(info.serial, "SN0042");
        EXPECT_EQ(info.hardwareId, "HW-77");
        EXPECT_EQ(info.model, "CAM-1");
    } else {
        EXPECT_EQ(info.firmware, "untouched") << "nothing of a refused reply is kept";
    }
    if (c.status == ReplyStatus::Fault) {
        EXPECT_EQ(fault.subcode, c.subcode);
    }
}

std::string oversized()
{
    std::string pad(kMaxReplyBytes, ' ');
    return envelope(kInfo + "<!--" + pad + "-->");
}

const std::string kLaughs =
    "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">"
    "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;\">]>"
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
    "<s:Body><tds:GetDeviceInformationResponse><tds:FirmwareVersion>&lol3;</tds:FirmwareVersion>"
    "</tds:GetDeviceInformationResponse></s:Body></s:Envelope>";

const std::string kExternal =
    "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY ext SYSTEM \"file:///etc/passwd\">]>"
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
    "<s:Body><tds:GetDeviceInformationResponse><tds:FirmwareVersion>&ext;</tds:FirmwareVersion>"
    "</tds:GetDeviceInformationResponse></s:Body></s:Envelope>";

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceInformationReplies,
    ::testing::Values(
        InfoCase{"good", envelope(kInfo), ReplyStatus::Ok, "V2.1.0 build 20261001", ""},
        InfoCase{"other_prefixes",
                 "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>"
                 "<d:GetDeviceInformationResponse xmlns:d=\"http://www.onvif.org/ver10/device/wsdl\">"
                 "<d:Model>CAM-1</d:Model><d:FirmwareVersion> 3.0 </d:FirmwareVersion><d:SerialNumber>SN0042"
                 "</d:SerialNumber><d:HardwareId>HW-77</d:HardwareId></d:GetDeviceInformationResponse>"
                 "</e:Body></e:Envelope>",
                 ReplyStatus::Ok, "3.0", ""},
        InfoCase{"soap_fault", envelope(kFault), ReplyStatus::Fault, "", "NotAuthorized"},
        InfoCase{"truncated", envelope(kInfo).substr(0, 200), ReplyStatus::Malformed, "", ""},
        InfoCase{"not_xml", "HTTP/1.1 200 OK garbage", ReplyStatus::Malformed, "", ""},
        InfoCase{"empty", "", ReplyStatus::Malformed, "", ""},
        InfoCase{"oversized", oversized(), ReplyStatus::Malformed, "", ""},
        InfoCase{"soap11_envelope",
                 "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                 "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><s:Body>" +
                     kInfo + "</s:Body></s:Envelope>",
                 ReplyStatus::Malformed, "", ""},
        InfoCase{"wrong_device_namespace",
                 "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
                 "xmlns:tds=\"http://www.onvif.org/ver20/device/wsdl\"><s:Body>" +
                     kInfo + "</s:Body></s:Envelope>",
                 ReplyStatus::Malformed, "", ""},
        InfoCase{"other_response", envelope("<tds:GetNetworkInterfacesResponse/>"), ReplyStatus::Malformed,
                 "", ""},
        InfoCase{"no_firmware_field",
                 envelope("<tds:GetDeviceInformationResponse><tds:Model>x</tds:Model>"
                          "</tds:GetDeviceInformationResponse>"),
                 ReplyStatus::Malformed, "", ""},
        InfoCase{"entity_expansion", kLaughs, ReplyStatus::Malformed, "", ""},
        InfoCase{"external_entity", kExternal, ReplyStatus::Malformed, "", ""}),
    [](const ::testing::TestParamInfo<InfoCase> &i) { return std::string(i.param.name); });

TEST(OnvifReplies, NetworkInterfacesGiveMacAddressAndPrefix)
{
    const std::string reply = envelope(
        "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces "
        "token=\"eth0\"><tt:Enabled>true</tt:Enabled>"
        "<tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>00-12-34-AB-CD-EF</tt:HwAddress></tt:Info>"
        "<tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>127.0.3.7</tt:Address>"
        "<tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4>"
        "</tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>");
    std::vector<NetworkInterface> list;
    Fault f;
    ASSERT_EQ(parseNetworkInterfaces(reply.data(), reply.size(), list, f), ReplyStatus::Ok);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].token, "eth0");
    EXPECT_EQ(list[0].mac, "00:12:34:ab:cd:ef");
    EXPECT_EQ(list[0].address, "127.0.3.7");
    EXPECT_EQ(list[0].prefixLength, 24);
    EXPECT_FALSE(list[0].dhcp);
}

TEST(OnvifReplies, SystemDateAndTimeGivesUtcAndZone)
{
    const std::string reply = envelope(
        "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</tt:DateTimeType>"
        "<tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>CST-8</tt:TZ></tt:TimeZone>"
        "<tt:UTCDateTime><tt:Time><tt:Hour>23</tt:Hour><tt:Minute>59</tt:Minute><tt:Second>58</tt:Second>"
        "</tt:Time><tt:Date><tt:Year>2026</tt:Year><tt:Month>12</tt:Month><tt:Day>31</tt:Day></tt:Date>"
        "</tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>");
    DateTime dt;
    Fault f;
    ASSERT_EQ(parseSystemDateAndTime(reply.data(), reply.size(), dt, f), ReplyStatus::Ok);
    std::time_t t = 0;
    ASSERT_TRUE(dt.toEpoch(t));
    EXPECT_EQ(utcText(t), "2026-12-31T23:59:58Z");
    EXPECT_EQ(dt.tz, "CST-8");

    const std::string bad =
        envelope("<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:UTCDateTime><tt:Time><tt:Hour>"
                 "25</tt:Hour>"
                 "<tt:Minute>0</tt:Minute><tt:Second>0</tt:Second></tt:Time><tt:Date><tt:Year>2026</tt:Year>"
                 "<tt:Month>1</tt:Month><tt:Day>1</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime>"
                 "</tds:GetSystemDateAndTimeResponse>");
    EXPECT_EQ(parseSystemDateAndTime(bad.data(), bad.size(), dt, f), ReplyStatus::Malformed);
}

TEST(OnvifReplies, StartFirmwareUpgradeGivesUriAndDelays)
{
    const std::string reply =
        envelope("<tds:StartFirmwareUpgradeResponse><tds:UploadUri>http://127.0.0.5:8080/fw"
                 "</tds:UploadUri><tds:UploadDelay>PT2S</tds:UploadDelay>"
                 "<tds:ExpectedDownTime>PT1M5S</tds:ExpectedDownTime>"
                 "</tds:StartFirmwareUpgradeResponse>");
    FirmwareUpload u;
    Fault f;
    ASSERT_EQ(parseStartFirmwareUpgrade(reply.data(), reply.size(), u, f), ReplyStatus::Ok);
    EXPECT_EQ(u.uri, "http://127.0.0.5:8080/fw");
    EXPECT_EQ(u.delaySeconds, 2);
    EXPECT_EQ(u.downSeconds, 65);
}

// ---- discovery answers ----

const char kMsgId[] = "urn:uuid:11111111-2222-4333-8444-555555555555";

std::string probeMatches(const std::string &relatesTo, const std::string &matches,
                         const char *dNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery")
{
    return std::string(
               "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
               "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" xmlns:d=\"") +
           dNs + "\"><s:Header><a:RelatesTo>" + relatesTo +
           "</a:RelatesTo></s:Header><s:Body><d:ProbeMatches>" + matches +
           "</d:ProbeMatches></s:Body></s:Envelope>";
}

const std::string kMatch =
    "<d:ProbeMatch><a:EndpointReference><a:Address>urn:uuid:aaaaaaaa-bbbb-4ccc-8ddd-001234abcdef</a:Address>"
    "</a:EndpointReference><d:Types>dn:NetworkVideoTransmitter</d:Types>"
    "<d:Scopes>onvif://www.onvif.org/name/Front%20Door onvif://www.onvif.org/hardware/HW-77</d:Scopes>"
    "<d:XAddrs>http://127.0.3.7:8080/onvif/device_service http://[::1]/onvif/device_service</d:XAddrs>"
    "<d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch>";

struct ProbeCase {
    const char *name;
    std::string datagram;
    bool accepted;
};

class ProbeAnswers : public ::testing::TestWithParam<ProbeCase>
{
};

TEST_P(ProbeAnswers, AreTakenOnlyWhenTheyAnswerOurProbe)
{
    const ProbeCase &c = GetParam();
    std::vector<ProbeMatch> out;
    EXPECT_EQ(parseProbeMatches(c.datagram.data(), c.datagram.size(), kMsgId, out), c.accepted);
    if (c.accepted) {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].xaddrs.front(), "http://127.0.3.7:8080/onvif/device_service");
        EXPECT_EQ(out[0].xaddrs.size(), 2u);
        EXPECT_EQ(scopeValue(out[0].scopes, "name"), "Front Door");
        EXPECT_EQ(scopeValue(out[0].scopes, "hardware"), "HW-77");
    } else {
        EXPECT_TRUE(out.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeAnswers,
    ::testing::Values(
        ProbeCase{"good", probeMatches(kMsgId, kMatch), true},
        ProbeCase{"other_probe", probeMatches("urn:uuid:other", kMatch), false},
        ProbeCase{"no_match", probeMatches(kMsgId, ""), false},
        ProbeCase{"no_xaddrs",
                  probeMatches(kMsgId, "<d:ProbeMatch><d:Types>dn:NetworkVideoTransmitter</d:Types>"
                                       "</d:ProbeMatch>"),
                  false},
        ProbeCase{"wrong_namespace",
                  probeMatches(kMsgId, kMatch, "http://docs.oasis-open.org/ws-dd/ns/discovery/2009/01"),
                  false},
        ProbeCase{"truncated", probeMatches(kMsgId, kMatch).substr(0, 300), false},
        ProbeCase{"oversized", probeMatches(kMsgId, kMatch + std::string(kMaxDatagramBytes, ' ')), false},
        ProbeCase{"binary", std::string("\x00\xff\xfe<s:Envelope", 14), false}),
    [](const ::testing::TestParamInfo<ProbeCase> &i) { return std::string(i.param.name); });

// ---- requests ----

std::string textOf(const std::string &xml, const char *ns, const char *local)
{
    xmlDoc *d = xmlReadMemory(xml.data(), int(xml.size()), "r.xml", nullptr, XML_PARSE_NONET);
    if (!d)
        return "<unparsable>";
    std::string found = "<absent>";
    std::vector<xmlNode *> stack{xmlDocGetRootElement(d)};
    while (!stack.empty()) {
        xmlNode *n = stack.back();
        stack.pop_back();
        for (; n; n = n->next) {
            if (n->type == XML_ELEMENT_NODE && n->ns &&
                std::string(reinterpret_cast<const char *>(n->ns->href)) == ns &&
                std::string(reinterpret_cast<const char *>(n->name)) == local) {
                xmlChar *c = xmlNodeGetContent(n);
                found = reinterpret_cast<const char *>(c);
                xmlFree(c);
            }
            if (n->children)
                stack.push_back(n->children);
        }
    }
    xmlFreeDoc(d);
    return found;
}

const char kWsse[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
const char kTds[] = "http://www.onvif.org/ver10/device/wsdl";

TEST(OnvifRequests, ValuesAreEscapedNotSpliced)
{
    UsernameToken t;
    t.user = "ad</wsse:Username><x>min&";
    t.password = "pw";
    t.nonce = std::string(16, '\x01');
    t.created = "2026-12-11T08:00:00Z";
    Element body(Ns::Device, "SetNetworkDefaultGateway");
    body.add(Element(Ns::Device, "IPv4Address", "1.2.3.4</tds:IPv4Address><tds:Evil/>"));
    const std::string req = buildRequest(body, &t);
    EXPECT_EQ(textOf(req, kWsse, "Username"), t.user);
    EXPECT_EQ(textOf(req, kTds, "IPv4Address"), "1.2.3.4</tds:IPv4Address><tds:Evil/>");
    EXPECT_EQ(textOf(req, kTds, "Evil"), "<absent>");
    EXPECT_EQ(req.find("pw"), std::string::npos) << "the password itself never goes out";
}

TEST(OnvifRequests, PasswordDigestMatchesTheStandardsExample)
{
    // The worked example of the ONVIF application programmer's guide.
    std::string nonce = "LKqI6G/AikKCQrN0zqZFlg==";
    unsigned char raw[32];
    const int n =
        EVP_DecodeBlock(raw, reinterpret_cast<const unsigned char *>(nonce.data()), int(nonce.size()));
    ASSERT_EQ(n, 18); // 16 bytes and two pad bytes
    EXPECT_EQ(passwordDigest(std::string(reinterpret_cast<char *>(raw), 16), "2010-09-16T07:50:45Z",
                             "userpassword"),
              "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
}

TEST(OnvifRequests, ProbeNamesItsIdAndType)
{
    const std::string p = buildProbe(kMsgId);
    EXPECT_EQ(textOf(p, "http://schemas.xmlsoap.org/ws/2004/08/addressing", "MessageID"), kMsgId);
    EXPECT_EQ(textOf(p, "http://schemas.xmlsoap.org/ws/2005/04/discovery", "Types"),
              "dn:NetworkVideoTransmitter");
}

// ---- conversions ----

struct DurationCase {
    const char *text;
    int seconds;
};
class Durations : public ::testing::TestWithParam<DurationCase>
{
};
TEST_P(Durations, Convert)
{
    EXPECT_EQ(durationSeconds(GetParam().text), GetParam().seconds) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(Cases, Durations,
                         ::testing::Values(DurationCase{"PT0S", 0}, DurationCase{"PT30S", 30},
                                           DurationCase{"PT1M5S", 65}, DurationCase{"P0DT0H0M10S", 10},
                                           DurationCase{"PT2.5S", 2}, DurationCase{"PT1H", 3600},
                                           DurationCase{"P2D", -1}, DurationCase{"PT", 0},
                                           DurationCase{"30", -1}, DurationCase{"PT5", -1},
                                           DurationCase{"PTXS", -1}, DurationCase{"PT99999999999S", -1}));

struct ZoneCase {
    int minutes;
    const char *tz;
};
class Zones : public ::testing::TestWithParam<ZoneCase>
{
};
TEST_P(Zones, RoundTrip)
{
    EXPECT_EQ(posixZone(GetParam().minutes), GetParam().tz);
    int back = 12345;
    ASSERT_TRUE(zoneMinutes(GetParam().tz, back));
    EXPECT_EQ(back, GetParam().minutes);
}
// The zone list's values are minutes to add to local time to get UTC, which is POSIX's own sign.
INSTANTIATE_TEST_SUITE_P(Cases, Zones,
                         ::testing::Values(ZoneCase{0, "UTC0"}, ZoneCase{-480, "UTC-8"},
                                           ZoneCase{720, "UTC+12"}, ZoneCase{210, "UTC+3:30"},
                                           ZoneCase{-345, "UTC-5:45"}, ZoneCase{-780, "UTC-13"}));

struct UrlCase {
    const char *url;
    bool ok;
    const char *host;
    int port;
    const char *path;
};
class Urls : public ::testing::TestWithParam<UrlCase>
{
};
TEST_P(Urls, Parse)
{
    const UrlCase &c = GetParam();
    HttpUrl u;
    ASSERT_EQ(parseHttpUrl(c.url, u), c.ok) << c.url;
    if (c.ok) {
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.path, c.path);
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, Urls,
                         ::testing::Values(UrlCase{"http://127.0.3.7:8080/onvif/device_service", true,
                                                   "127.0.3.7", 8080, "/onvif/device_service"},
                                           UrlCase{"http://10.0.0.1", true, "10.0.0.1", 80, "/"},
                                           UrlCase{"https://10.0.0.1/x", false, "", 0, ""},
                                           UrlCase{"http://camera.local/x", false, "", 0, ""},
                                           UrlCase{"http://[::1]/x", false, "", 0, ""},
                                           UrlCase{"http://10.0.0.256/x", false, "", 0, ""},
                                           UrlCase{"http://10.0.0.1:0/x", false, "", 0, ""},
                                           UrlCase{"http://10.0.0.1:70000/x", false, "", 0, ""},
                                           UrlCase{"http://10.0.0.1/a b", false, "", 0, ""},
                                           UrlCase{"http://user@10.0.0.1/x", false, "", 0, ""}));

TEST(OnvifConversions, MacSpellings)
{
    EXPECT_EQ(normalMac("00:12:34:AB:cd:EF"), "00:12:34:ab:cd:ef");
    EXPECT_EQ(normalMac("00-12-34-ab-cd-ef"), "00:12:34:ab:cd:ef");
    EXPECT_EQ(normalMac("001234abcdef"), "00:12:34:ab:cd:ef");
    EXPECT_EQ(normalMac("00:12:34:ab:cd"), "");
    EXPECT_EQ(normalMac("00:12:34:ab:cd:eg"), "");
    EXPECT_EQ(normalMac("00 12 34 ab cd ef"), "");
}

} // namespace
