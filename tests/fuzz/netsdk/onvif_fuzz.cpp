// libFuzzer target for what an ONVIF device sends the SDK: the first byte picks the reader (a
// discovery answer, or one of the SOAP replies), the rest is the device's bytes.
#include "netsdk/onvifwire.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace netsdk::onvif;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t which = data[0] % 8;
    const char *p = reinterpret_cast<const char *>(data + 1);
    const size_t n = size - 1;
    Fault fault;
    switch (which) {
    case 0: {
        std::vector<ProbeMatch> out;
        if (parseProbeMatches(p, n, "urn:uuid:11111111-2222-4333-8444-555555555555", out)) {
            for (const ProbeMatch &m : out) {
                HttpUrl u;
                for (const std::string &x : m.xaddrs)
                    parseHttpUrl(x, u);
                scopeValue(m.scopes, "name");
            }
        }
        break;
    }
    case 1: {
        DeviceInformation info;
        parseDeviceInformation(p, n, info, fault);
        break;
    }
    case 2: {
        std::vector<NetworkInterface> list;
        if (parseNetworkInterfaces(p, n, list, fault) == ReplyStatus::Ok)
            for (const NetworkInterface &i : list)
                normalMac(i.mac);
        break;
    }
    case 3: {
        DateTime dt;
        std::time_t t;
        if (parseSystemDateAndTime(p, n, dt, fault) == ReplyStatus::Ok && dt.toEpoch(t)) {
            int m;
            zoneMinutes(dt.tz, m);
        }
        break;
    }
    case 4: {
        FirmwareUpload u;
        if (parseStartFirmwareUpgrade(p, n, u, fault) == ReplyStatus::Ok) {
            HttpUrl url;
            parseHttpUrl(u.uri, url);
        }
        break;
    }
    case 5: {
        std::string gw;
        parseDefaultGateway(p, n, gw, fault);
        break;
    }
    case 6:
        parseReply(p, n, "SystemRebootResponse", fault);
        break;
    default: {
        const std::string s(p, n);
        durationSeconds(s);
        int m;
        zoneMinutes(s, m);
        HttpUrl u;
        parseHttpUrl(s, u);
        break;
    }
    }
    return 0;
}
