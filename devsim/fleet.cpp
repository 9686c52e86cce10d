#include "fleet.h"

#include "netsdk/protocol.h"

#include <json/json.h>

#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace devsim
{

bool parseIPv4(const std::string &text, uint8_t out[4])
{
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&a.s_addr);
    for (int i = 0; i < 4; ++i)
        out[i] = b[i];
    return true;
}

std::string formatIPv4(const uint8_t in[4])
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", in[0], in[1], in[2], in[3]);
    return buf;
}

bool offsetIPv4(const std::string &base, int count, std::string *out)
{
    uint8_t b[4];
    if (!parseIPv4(base, b) || count < 0)
        return false;
    uint32_t v = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    uint64_t n = uint64_t(v) + uint64_t(count);
    if ((n >> 24) != 127)
        return false;
    uint8_t r[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    *out = formatIPv4(r);
    return true;
}

std::string macDirName(const std::string &mac)
{
    std::string out;
    for (char c : mac)
        if (c != ':')
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

namespace
{

std::string defaultMac(int index)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "00:12:34:00:%02x:%02x", (index >> 8) & 0xff, index & 0xff);
    return buf;
}

std::string defaultSerial(int index)
{
    // Sixteen hexadecimal digits like a cloud identifier, unique within a fleet.
    char buf[17];
    std::snprintf(buf, sizeof buf, "a5d0c3e1b2%06x", index & 0xffffff);
    return buf;
}

struct TypeDefaults {
    int type;
    const char *hostName;
    const char *hardware;
};

const TypeDefaults kTypes[] = {
    {4, "NVR", "HI3520D-NVR"},
    {1, "DVR", "HI3521A-DVR"},
    {0, "IPC", "HI3516EV300-IPC"},
};

void applyOptions(DeviceSpec &d, const FleetOptions &options)
{
    if (options.upgradeMs >= 0)
        d.upgradeMs = options.upgradeMs;
    if (options.rebootMs >= 0)
        d.rebootMs = options.rebootMs;
    if (options.rebootAfterUpgrade >= 0)
        d.rebootAfterUpgrade = options.rebootAfterUpgrade == 1;
}

// Reads one optional member of the expected JSON type; a member of the wrong type is an error.
struct Reader {
    const Json::Value &obj;
    std::string where;
    std::string *error;
    bool ok = true;

    bool fail(const std::string &key, const char *what)
    {
        if (ok)
            *error = where + ": \"" + key + "\" must be " + what;
        ok = false;
        return false;
    }
    void str(const char *key, std::string &out)
    {
        if (!obj.isMember(key))
            return;
        if (!obj[key].isString()) {
            fail(key, "a string");
            return;
        }
        out = obj[key].asString();
    }
    template <typename T> void num(const char *key, T &out)
    {
        if (!obj.isMember(key))
            return;
        const Json::Value &v = obj[key];
        if (!v.isIntegral()) {
            fail(key, "an integer");
            return;
        }
        out = static_cast<T>(v.asInt64());
    }
    void flag(const char *key, bool &out)
    {
        if (!obj.isMember(key))
            return;
        if (!obj[key].isBool()) {
            fail(key, "true or false");
            return;
        }
        out = obj[key].asBool();
    }
};

bool readFaults(const Json::Value &v, const std::string &where, Faults &f, std::string *error)
{
    if (!v.isObject()) {
        *error = where + ": \"faults\" must be an object";
        return false;
    }
    Reader r{v, where + " faults", error};
    r.num("loginError", f.loginError);
    r.num("lockAfterFailures", f.lockAfterFailures);
    r.flag("silent", f.silent);
    r.flag("searchSilent", f.searchSilent);
    r.flag("multicastSilent", f.multicastSilent);
    r.num("bytesPerSecond", f.bytesPerSecond);
    r.num("dropAfterUpgradeBytes", f.dropAfterUpgradeBytes);
    r.num("upgradeResult", f.upgradeResult);
    r.flag("keepVersion", f.keepVersion);
    r.flag("progressFlood", f.progressFlood);
    r.num("progressTrickleMs", f.progressTrickleMs);
    r.num("producerGetRet", f.producerGetRet);
    r.flag("producerGetMalformed", f.producerGetMalformed);
    r.flag("producerGetUpper", f.producerGetUpper);
    r.num("producerSetRet", f.producerSetRet);
    r.num("locationGetRet", f.locationGetRet);
    r.num("clockSkewSeconds", f.clockSkewSeconds);
    if (!r.ok)
        return false;
    if (v.isMember("soapFault")) {
        const Json::Value &ops = v["soapFault"];
        if (ops.isString()) {
            f.soapFault.push_back(ops.asString());
        } else if (ops.isArray()) {
            for (const Json::Value &op : ops) {
                if (!op.isString()) {
                    *error = where + ": \"soapFault\" must hold operation names";
                    return false;
                }
                f.soapFault.push_back(op.asString());
            }
        } else {
            *error = where + ": \"soapFault\" must be an operation name or a list of them";
            return false;
        }
    }
    if (v.isMember("results")) {
        const Json::Value &res = v["results"];
        if (!res.isObject()) {
            *error = where + ": \"results\" must be an object";
            return false;
        }
        for (const auto &key : res.getMemberNames()) {
            if (!res[key].isIntegral()) {
                *error = where + ": results \"" + key + "\" must be an integer";
                return false;
            }
            f.results[key] = res[key].asInt();
        }
    }
    return true;
}

bool readDevice(const Json::Value &v, int index, DeviceSpec &d, std::string *error)
{
    const std::string where = "device " + std::to_string(index);
    if (!v.isObject()) {
        *error = where + ": must be an object";
        return false;
    }
    Reader r{v, where, error};
    r.str("hostName", d.hostName);
    r.str("ip", d.ip);
    r.str("mask", d.mask);
    r.str("gateway", d.gateway);
    r.str("mac", d.mac);
    r.str("serial", d.serial);
    r.flag("serialInSearch", d.serialInSearch);
    r.num("deviceType", d.deviceType);
    r.str("version", d.version);
    if (v.isMember("buildDate")) {
        std::string date;
        r.str("buildDate", date);
        if (r.ok && std::sscanf(date.c_str(), "%d-%d-%d", &d.buildYear, &d.buildMonth, &d.buildDay) != 3)
            r.fail("buildDate", "a date \"YYYY-MM-DD\"");
    }
    r.str("hardware", d.hardware);
    r.str("vendor", d.vendor);
    r.str("user", d.user);
    r.str("password", d.password);
    r.str("oemid", d.oemid);
    r.str("logoHardware", d.logoHardware);
    r.str("logoVendor", d.logoVendor);
    r.num("logoStart", d.logoStart);
    r.num("logoEnd", d.logoEnd);
    r.str("logoFsType", d.logoFsType);
    r.flag("appLinkIos", d.appLinkIos);
    if (v.isMember("appLinkSupported")) {
        bool known = true;
        r.flag("appLinkSupported", known);
        d.appLinkSupported = known ? 1 : 0;
    }
    r.flag("showH265X", d.showH265X);
    r.flag("languageNeedsReboot", d.languageNeedsReboot);
    r.num("timeZone", d.timeZone);
    r.num("upgradeMs", d.upgradeMs);
    r.num("rebootMs", d.rebootMs);
    r.flag("rebootAfterUpgrade", d.rebootAfterUpgrade);
    r.num("kdfIterations", d.kdfIterations);
    r.str("manufacturer", d.manufacturer);
    r.str("model", d.model);
    r.flag("httpDigest", d.httpDigest);
    r.flag("httpUpgrade", d.httpUpgrade);
    r.str("posixTz", d.posixTz);
    if (v.isMember("protocol")) {
        std::string protocol;
        r.str("protocol", protocol);
        if (protocol == "sdk")
            d.protocol = Protocol::Sdk;
        else if (protocol == "onvif")
            d.protocol = Protocol::Onvif;
        else if (protocol == "both")
            d.protocol = Protocol::Both;
        else if (r.ok)
            r.fail("protocol", "\"sdk\", \"onvif\" or \"both\"");
    }
    if (!r.ok)
        return false;
    if (v.isMember("location")) {
        if (!v["location"].isObject()) {
            *error = where + ": \"location\" must be an object";
            return false;
        }
        Json::FastWriter w;
        d.locationJson = w.write(v["location"]);
    }
    if (v.isMember("faults") && !readFaults(v["faults"], where, d.faults, error))
        return false;
    if (d.upgradeMs < 0 || d.rebootMs < 0) {
        *error = where + ": upgradeMs and rebootMs must not be negative";
        return false;
    }
    return true;
}

} // namespace

std::vector<DeviceSpec> makeDefaultFleet(int count, const FleetOptions &options)
{
    std::vector<DeviceSpec> fleet;
    for (int i = 0; i < count; ++i) {
        DeviceSpec d;
        const TypeDefaults &t = kTypes[i % 3];
        char name[32];
        std::snprintf(name, sizeof name, "%s%03d", t.hostName, i + 1);
        d.hostName = name;
        d.deviceType = t.type;
        d.hardware = t.hardware;
        d.mac = defaultMac(i);
        d.serial = defaultSerial(i);
        if (!offsetIPv4(options.baseIp, i, &d.ip))
            break;
        applyOptions(d, options);
        fleet.push_back(d);
    }
    return fleet;
}

std::vector<DeviceSpec> makeOnvifCameras(int count, int firstIndex, const FleetOptions &options)
{
    std::vector<DeviceSpec> cams;
    for (int i = 0; i < count; ++i) {
        const int index = firstIndex + i;
        DeviceSpec d;
        char name[32];
        std::snprintf(name, sizeof name, "CAM%03d", i + 1);
        d.hostName = name;
        d.protocol = Protocol::Onvif;
        d.deviceType = 0;
        d.hardware = "HI3516EV300-IPC";
        d.model = "IPC-4MP";
        d.mac = defaultMac(index);
        d.serial = defaultSerial(index);
        if (!offsetIPv4(options.baseIp, index, &d.ip))
            break;
        d.stateName = macDirName(d.mac);
        applyOptions(d, options);
        cams.push_back(d);
    }
    return cams;
}

bool parseFleetText(const std::string &text, const FleetOptions &options, std::vector<DeviceSpec> *fleet,
                    std::string *error)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value root;
    std::string errs;
    std::istringstream in(text);
    if (!Json::parseFromStream(builder, in, &root, &errs)) {
        *error = "fleet file is not valid JSON: " + errs;
        return false;
    }
    const Json::Value &list = root.isObject() ? root["devices"] : root;
    if (!list.isArray() || list.empty()) {
        *error = "fleet file needs a non-empty \"devices\" array";
        return false;
    }
    std::vector<DeviceSpec> out;
    std::set<std::string> ips, macs;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        DeviceSpec d;
        const int idx = int(i);
        if (!readDevice(list[i], idx, d, error))
            return false;
        if (d.ip.empty() && !offsetIPv4(options.baseIp, idx, &d.ip)) {
            *error = "device " + std::to_string(idx) + ": no loopback address left above the base address";
            return false;
        }
        uint8_t b[4];
        if (!parseIPv4(d.ip, b) || b[0] != 127) {
            *error = "device " + std::to_string(idx) + ": \"" + d.ip + "\" is not a 127.x.x.x address";
            return false;
        }
        if (d.mac.empty())
            d.mac = defaultMac(idx);
        if (!netsdk::proto::isMacText(d.mac)) {
            *error = "device " + std::to_string(idx) + ": \"" + d.mac + "\" is not a MAC address";
            return false;
        }
        if (!list[i].isMember("serial"))
            d.serial = defaultSerial(idx);
        if (!ips.insert(d.ip).second) {
            *error = "device " + std::to_string(idx) + ": address used twice";
            return false;
        }
        d.stateName = macDirName(d.mac);
        if (!macs.insert(d.stateName).second)
            d.stateName += "-" + std::to_string(idx);
        applyOptions(d, options);
        out.push_back(d);
    }
    *fleet = std::move(out);
    return true;
}

bool loadFleetFile(const std::string &path, const FleetOptions &options, std::vector<DeviceSpec> *fleet,
                   std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open fleet file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!parseFleetText(text.str(), options, fleet, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

} // namespace devsim
