#include "device.h"

#include "cramfsreader.h"
#include "fileutil.h"
#include "packagecheck.h"
#include "producerinfo.h"

#include "netsdk/protocol.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <unistd.h>

namespace devsim
{

namespace
{

constexpr size_t kMaxImportSize = 1u << 20;

const char *const kLanguages[] = {
    "SimpChinese", "TradChinese", "English",  "Italian", "Spanish",    "Japanese",  "Russian",
    "French",      "German",      "Portugal", "Turkey",  "Poland",     "Romanian",  "Hungarian",
    "Finnish",     "Farsi",       "Thai",     "Greek",   "Vietnamese", "Brazilian", "Hebrew",
    "Indonesian",  "Arabic",      "Swedish",  "Czech",   "Bulgarian",  "Slovakia",  "Dutch"};

void putField(char *field, size_t width, const std::string &text)
{
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

bool parseJson(const std::string &text, Json::Value *out)
{
    Json::CharReaderBuilder b;
    std::string errs;
    std::istringstream in(text);
    return Json::parseFromStream(b, in, out, &errs);
}

std::string compact(const Json::Value &v)
{
    Json::FastWriter w;
    return w.write(v);
}

int32_t le32s(const uint8_t *p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void putLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

Device::Device(const DeviceSpec &spec, const std::string &stateRoot)
    : spec_(spec), dir_(stateRoot + "/" + (spec.stateName.empty() ? macDirName(spec.mac) : spec.stateName))
{
    // A real device keeps a random salt beside its key; ours is fixed by its identity, so a restarted
    // fleet announces the same salt (and a station's key cache stays warm across runs).
    netsdk::proto::Sha256 salt;
    const std::string seed = "devsim login salt\n" + spec_.mac + "\n" + spec_.serial;
    salt.update(reinterpret_cast<const uint8_t *>(seed.data()), seed.size());
    salt_ = salt.final();
    ip_ = spec_.ip;
    mask_ = spec_.mask;
    gateway_ = spec_.gateway;
    hostName_ = spec_.hostName;
    oemid_ = spec_.oemid;
    version_ = spec_.version;
    buildYear_ = spec_.buildYear;
    buildMonth_ = spec_.buildMonth;
    buildDay_ = spec_.buildDay;
    clockOffset_ = spec_.faults.clockSkewSeconds;
    resetSettingsLocked();
}

std::string Device::defaultLocationJson()
{
    Json::Value loc(Json::objectValue);
    loc["Language"] = "English";
    loc["VideoFormat"] = "PAL";
    loc["DateFormat"] = "YYMMDD";
    loc["DateSeparator"] = "-";
    loc["TimeFormat"] = "24";
    loc["DSTRule"] = "Off";
    loc["WorkDay"] = 62;
    return compact(loc);
}

void Device::resetSettingsLocked()
{
    locationJson_ = spec_.locationJson.empty() ? defaultLocationJson() : spec_.locationJson;
    showH265X_ = spec_.showH265X;
    timeZone_ = spec_.timeZone;
    posixTz_ = spec_.posixTz;
    clockDst_ = false;
}

bool Device::init(std::string *error)
{
    if (!makeDirs(dir_, error))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    loadPersistedLocked();
    return persistLocked(error);
}

void Device::loadPersistedLocked()
{
    std::string text, error;
    if (!readWholeFile(dir_ + "/state.json", &text, &error))
        return;
    Json::Value s;
    if (!parseJson(text, &s) || !s.isObject() || s["mac"].asString() != spec_.mac)
        return;
    uint8_t b[4];
    if (s["ip"].isString() && parseIPv4(s["ip"].asString(), b) && b[0] == 127)
        ip_ = s["ip"].asString();
    if (s["pendingIp"].isString())
        pendingIp_ = s["pendingIp"].asString();
    if (s["oemid"].isString())
        oemid_ = s["oemid"].asString();
    if (s["location"].isObject())
        locationJson_ = compact(s["location"]);
    if (s["showH265X"].isBool())
        showH265X_ = s["showH265X"].asBool();
    if (s["timeZone"].isInt())
        timeZone_ = s["timeZone"].asInt();
    if (s["posixTz"].isString())
        posixTz_ = s["posixTz"].asString();
    if (s["dateTimeType"].isString())
        clockNtp_ = s["dateTimeType"].asString() == "NTP";
    const Json::Value &t = s["time"];
    if (t.isArray() && t.size() == 8) {
        timeRecord_.clear();
        for (const Json::Value &v : t)
            timeRecord_.push_back(v.asInt());
        timeCommand_ = s["timeCommand"].asUInt();
    }
    const Json::Value &c = s["counts"];
    if (c.isObject()) {
        counts_.login = c["login"].asInt();
        counts_.loginFailed = c["loginFailed"].asInt();
        counts_.reset = c["reset"].asInt();
        counts_.reboot = c["reboot"].asInt();
        counts_.ipChange = c["ipChange"].asInt();
        counts_.import = c["import"].asInt();
        counts_.upgrade = c["upgrade"].asInt();
        counts_.producerWrite = c["producerWrite"].asInt();
        counts_.timeWrite = c["timeWrite"].asInt();
        counts_.timeZoneWrite = c["timeZoneWrite"].asInt();
        counts_.locationWrite = c["locationWrite"].asInt();
        counts_.showH265XWrite = c["showH265XWrite"].asInt();
        counts_.appLinkRead = c["appLinkRead"].asInt();
        counts_.partInfoRead = c["partInfoRead"].asInt();
        counts_.onvifRequest = c["onvifRequest"].asInt();
        counts_.onvifAuthFailed = c["onvifAuthFailed"].asInt();
    }
}

bool Device::persistLocked(std::string *error)
{
    Json::Value s(Json::objectValue);
    s["mac"] = spec_.mac;
    s["serial"] = spec_.serial;
    s["hostName"] = hostName_;
    s["ip"] = ip_;
    s["mask"] = mask_;
    s["gateway"] = gateway_;
    if (!pendingIp_.empty())
        s["pendingIp"] = pendingIp_;
    s["hardware"] = spec_.hardware;
    s["version"] = version_;
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", buildYear_, buildMonth_, buildDay_);
    s["buildDate"] = date;
    s["oemid"] = oemid_;
    s["producerMac"] = producerMac_;
    Json::Value loc;
    if (parseJson(locationJson_, &loc))
        s["location"] = loc;
    s["showH265X"] = showH265X_;
    s["timeZone"] = timeZone_;
    if (spec_.speaksOnvif()) {
        s["posixTz"] = posixTz_;
        s["dateTimeType"] = clockNtp_ ? "NTP" : "Manual";
        s["daylightSavings"] = clockDst_;
        s["clockOffset"] = Json::Int64(clockOffset_);
    }
    if (!timeRecord_.empty()) {
        Json::Value t(Json::arrayValue);
        for (int32_t v : timeRecord_)
            t.append(v);
        s["time"] = t;
        s["timeCommand"] = timeCommand_;
    }
    if (!resetBytes_.empty())
        s["resetBytes"] = resetBytes_;
    Json::Value c(Json::objectValue);
    c["login"] = counts_.login;
    c["loginFailed"] = counts_.loginFailed;
    c["reset"] = counts_.reset;
    c["reboot"] = counts_.reboot;
    c["ipChange"] = counts_.ipChange;
    c["import"] = counts_.import;
    c["upgrade"] = counts_.upgrade;
    c["producerWrite"] = counts_.producerWrite;
    c["timeWrite"] = counts_.timeWrite;
    c["timeZoneWrite"] = counts_.timeZoneWrite;
    c["locationWrite"] = counts_.locationWrite;
    c["showH265XWrite"] = counts_.showH265XWrite;
    c["appLinkRead"] = counts_.appLinkRead;
    c["partInfoRead"] = counts_.partInfoRead;
    c["onvifRequest"] = counts_.onvifRequest;
    c["onvifAuthFailed"] = counts_.onvifAuthFailed;
    s["counts"] = c;
    if (!importedConfig_.empty()) {
        s["importedConfig"] = importedConfig_;
        s["importedConfigSize"] = Json::UInt64(importedSize_);
    }
    if (upgrade_.any) {
        Json::Value u(Json::objectValue);
        u["result"] = upgrade_.result;
        u["kind"] = upgrade_.kind;
        u["file"] = upgrade_.file;
        u["size"] = Json::UInt64(upgrade_.size);
        u["hardware"] = upgrade_.hardware;
        u["error"] = upgrade_.error;
        if (upgrade_.kind == "logo") {
            u["fsType"] = upgrade_.fsType;
            Json::Value files(Json::arrayValue);
            for (const auto &f : upgrade_.logoFiles)
                files.append(f);
            u["logoFiles"] = files;
        }
        s["lastUpgrade"] = u;
    }
    Json::StyledWriter w;
    std::string ignored;
    if (!writeFileAtomic(dir_ + "/state.json", w.write(s), error ? error : &ignored)) {
        std::fprintf(stderr, "devsim: %s\n", (error ? error : &ignored)->c_str());
        return false;
    }
    return true;
}

std::string Device::ip() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ip_;
}

bool Device::forcedResult(const std::string &key, int32_t *code) const
{
    auto it = spec_.faults.results.find(key);
    if (it == spec_.faults.results.end())
        return false;
    *code = it->second;
    return true;
}

SDK_CONFIG_NET_COMMON_V2 Device::searchRecord(uint16_t servicePort) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    SDK_CONFIG_NET_COMMON_V2 r;
    std::memset(&r, 0, sizeof r);
    putField(r.HostName, sizeof r.HostName, hostName_);
    parseIPv4(ip_, r.HostIP);
    parseIPv4(mask_, r.Submask);
    parseIPv4(gateway_, r.Gateway);
    r.NetValues[0] = 0; // HTTP port unused on loopback
    r.NetValues[1] = servicePort;
    r.NetValues[2] = 80;
    r.NetByte = 1;
    putField(r.sMac, sizeof r.sMac, spec_.mac);
    if (spec_.serialInSearch)
        putField(r.sSn, sizeof r.sSn, spec_.serial);
    r.DeviceType = spec_.deviceType;
    putField(r.sSoftWareVersion, sizeof r.sSoftWareVersion, version_);
    r.BuildYear = buildYear_;
    r.BuildMonth = buildMonth_;
    r.BuildDay = buildDay_;
    return r;
}

H264_DVR_DEVICEINFO Device::deviceInfo() const
{
    H264_DVR_DEVICEINFO info;
    std::memset(&info, 0, sizeof info);
    std::lock_guard<std::mutex> lock(mutex_);
    putField(info.sSoftWareVersion, sizeof info.sSoftWareVersion, version_);
    info.BuildYear = buildYear_;
    info.BuildMonth = buildMonth_;
    info.BuildDay = buildDay_;
    putField(info.sSerialNumber, sizeof info.sSerialNumber, spec_.serial);
    putField(info.sHardWare, sizeof info.sHardWare, spec_.hardware);
    info.DeviceType = spec_.deviceType;
    return info;
}

bool Device::loginKey(std::array<uint8_t, 32> *key)
{
    if (spec_.kdfIterations < netsdk::proto::kMinKdfIterations ||
        spec_.kdfIterations > netsdk::proto::kMaxKdfIterations)
        return false;
    std::lock_guard<std::mutex> lock(keyMutex_);
    if (!haveKey_) {
        key_ = netsdk::proto::loginKey(spec_.password, salt_, spec_.kdfIterations);
        haveKey_ = true;
    }
    *key = key_;
    return true;
}

int32_t Device::login(const std::string &user, bool digestOk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t code = 0;
    const Faults &f = spec_.faults;
    if (f.loginError != 0)
        code = f.loginError;
    else if (f.lockAfterFailures > 0 && lockFailures_ >= f.lockAfterFailures)
        code = NETSDK_ERR_USER_LOCKED;
    else if (user != spec_.user)
        code = NETSDK_ERR_NO_USER;
    else if (!digestOk) {
        code = NETSDK_ERR_PASSWORD;
        ++lockFailures_;
    }
    if (code == 0) {
        lockFailures_ = 0;
        ++counts_.login;
    } else {
        ++counts_.loginFailed;
    }
    persistLocked();
    return code;
}

int32_t Device::getConfig(uint32_t command, uint16_t servicePort, std::vector<uint8_t> *out)
{
    int32_t forced;
    if (forcedResult(std::to_string(command), &forced) && forced != 0)
        return forced;
    std::lock_guard<std::mutex> lock(mutex_);
    out->clear();
    switch (command) {
    case NETSDK_CFG_NET_COMMON: {
        SDK_NET_BLOCK b;
        std::memset(&b, 0, sizeof b);
        putField(b.HostName, sizeof b.HostName, hostName_);
        parseIPv4(ip_, b.HostIP);
        parseIPv4(mask_, b.Submask);
        parseIPv4(gateway_, b.Gateway);
        b.NetValues[1] = servicePort;
        b.NetValues[2] = 80;
        b.NetByte = 1;
        putField(b.sMac, sizeof b.sMac, spec_.mac);
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&b);
        out->assign(p, p + 144);
        return 0;
    }
    case NETSDK_CFG_LOGO_PART: {
        ++counts_.partInfoRead;
        persistLocked();
        SDK_LOGO_PART_INFO rec;
        std::memset(&rec, 0, sizeof rec);
        char *raw = reinterpret_cast<char *>(rec.raw);
        putField(raw + 64, 64, spec_.logoHardware.empty() ? spec_.hardware : spec_.logoHardware);
        putField(raw + 128, 64, spec_.logoVendor.empty() ? spec_.vendor : spec_.logoVendor);
        putLe32(rec.raw + 192, spec_.logoStart);
        putLe32(rec.raw + 196, spec_.logoEnd);
        putField(raw + 200, 64, spec_.logoFsType);
        out->assign(rec.raw, rec.raw + sizeof rec.raw);
        return 0;
    }
    case NETSDK_CFG_APP_LINK: {
        ++counts_.appLinkRead;
        persistLocked();
        if (!spec_.knowsAppLink())
            return kErrNotSupported;
        SDK_APP_LINK_INFO rec;
        std::memset(&rec, 0, sizeof rec);
        rec.raw[0] = spec_.appLinkIos ? 1 : 0;
        out->assign(rec.raw, rec.raw + sizeof rec.raw);
        return 0;
    }
    case NETSDK_CFG_TIMEZONE: {
        uint8_t rec[8] = {};
        putLe32(rec, uint32_t(timeZone_));
        out->assign(rec, rec + 8);
        return 0;
    }
    default:
        return kErrNotSupported;
    }
}

int32_t Device::setConfig(uint32_t command, const uint8_t *data, size_t size)
{
    int32_t forced = 0;
    const bool isForced = forcedResult(std::to_string(command), &forced);
    std::lock_guard<std::mutex> lock(mutex_);
    // Every time and zone write is counted, a refused one too (the tests ask whether one was sent).
    int *written = command == NETSDK_CFG_TIMEZONE ? &counts_.timeZoneWrite
                   : command == NETSDK_CFG_SYSTIME || command == NETSDK_CFG_SYSTIME_V2 ? &counts_.timeWrite
                                                                                       : nullptr;
    if (written) {
        ++*written;
        persistLocked();
    }
    // A forced refusal changes nothing; -11401 and a lost answer still apply the change.
    if (isForced && forced != NETSDK_ERR_NEED_REBOOT && forced != kNoAnswer && forced < 0)
        return forced;
    std::string error;
    switch (command) {
    case NETSDK_CFG_RESET:
        if (size != 11)
            return kErrBadParam;
        resetBytes_ = hexText(data, size);
        ++counts_.reset;
        resetSettingsLocked();
        break;
    case NETSDK_CFG_IMPORT:
        if (size == 0 || size > kMaxImportSize)
            return kErrBadParam;
        if (!writeFileAtomic(dir_ + "/imported.cfg", data, size, &error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return kErrBadParam;
        }
        importedConfig_ = "imported.cfg";
        importedSize_ = size;
        ++counts_.import;
        break;
    case NETSDK_CFG_TIMEZONE: {
        if (size != 8)
            return kErrBadParam;
        const int32_t zone = le32s(data);
        if (zone < -840 || zone > 840 || le32s(data + 4) != 0)
            return kErrBadParam;
        timeZone_ = zone;
        break;
    }
    case NETSDK_CFG_SYSTIME:
    case NETSDK_CFG_SYSTIME_V2: {
        if (size != 32)
            return kErrBadParam;
        std::vector<int32_t> t(8);
        for (int i = 0; i < 8; ++i)
            t[i] = le32s(data + 4 * i);
        if (t[0] < 1970 || t[0] > 2100 || t[1] < 1 || t[1] > 12 || t[2] < 1 || t[2] > 31 || t[4] < 0 ||
            t[4] > 23 || t[5] < 0 || t[5] > 59 || t[6] < 0 || t[6] > 60)
            return kErrBadParam;
        timeRecord_ = t;
        timeCommand_ = command;
        break;
    }
    default:
        return kErrNotSupported;
    }
    persistLocked();
    return isForced && forced < 0 ? forced : 0;
}

JsonAnswer Device::jsonReply(const std::string &name, int ret, int32_t status)
{
    Json::Value v(Json::objectValue);
    v["Name"] = name;
    v["Ret"] = ret;
    return JsonAnswer{status, compact(v)};
}

JsonAnswer Device::getJson(const std::string &name, uint32_t command)
{
    int32_t forced;
    if (forcedResult(std::to_string(command), &forced) && forced != 0)
        return JsonAnswer{forced, std::string()};
    std::lock_guard<std::mutex> lock(mutex_);
    Json::Value v(Json::objectValue);
    v["Name"] = name;
    if (command == NETSDK_JSON_PRODUCER_GET && name == "ProducerInfo") {
        const Faults &f = spec_.faults;
        if (f.producerGetMalformed)
            return JsonAnswer{0, "{\"Name\":\"ProducerInfo\",\"ProducerInfo\":{\"OEMID\":"};
        int ret = oemid_.empty() ? 109 : 100;
        if (f.producerGetRet != 0)
            ret = f.producerGetRet;
        if (ret == 100) {
            Json::Value p(Json::objectValue);
            std::string oemid = oemid_;
            if (f.producerGetUpper)
                std::transform(oemid.begin(), oemid.end(), oemid.begin(),
                               [](unsigned char c) { return char(std::toupper(c)); });
            p["OEMID"] = oemid;
            p["SerialNo"] = spec_.serial;
            p["MAC"] = spec_.mac;
            v["ProducerInfo"] = p;
        }
        v["Ret"] = ret;
        return JsonAnswer{0, compact(v)};
    }
    if (command != NETSDK_JSON_GET)
        return JsonAnswer{kErrNotSupported, std::string()};
    if (name == "General.Location") {
        if (spec_.faults.locationGetRet != 0) {
            v["Ret"] = spec_.faults.locationGetRet;
            return JsonAnswer{0, compact(v)};
        }
        Json::Value loc;
        parseJson(locationJson_, &loc);
        v[name] = loc;
    } else if (name == "Custom.ShowH265X") {
        Json::Value c(Json::objectValue);
        c["ShowH265X"] = showH265X_;
        v[name] = c;
    } else {
        return JsonAnswer{kErrNotSupported, std::string()};
    }
    v["Ret"] = 100;
    return JsonAnswer{0, compact(v)};
}

JsonAnswer Device::setJson(const std::string &name, uint32_t command, const std::string &text)
{
    int32_t forced = 0;
    const bool isForced = forcedResult(std::to_string(command), &forced);
    if (command == NETSDK_JSON_SET && (name == "General.Location" || name == "Custom.ShowH265X")) {
        // Counted like the time and zone writes: refused ones too.
        std::lock_guard<std::mutex> lock(mutex_);
        ++(name == "General.Location" ? counts_.locationWrite : counts_.showH265XWrite);
        persistLocked();
    }
    if (isForced && forced != NETSDK_ERR_NEED_REBOOT && forced != kNoAnswer && forced < 0)
        return jsonReply(name, 103, forced);
    if (command == NETSDK_JSON_PRODUCER_SET && name == "ProducerInfo") {
        JsonAnswer a = producerSet(text);
        if (isForced && a.status == 0 && (forced == kNoAnswer || forced == NETSDK_ERR_NEED_REBOOT))
            a.status = forced;
        return a;
    }
    if (command != NETSDK_JSON_SET)
        return JsonAnswer{kErrNotSupported, std::string()};

    Json::Value doc;
    if (!parseJson(text, &doc) || !doc.isObject())
        return jsonReply(name, 103, kErrBadParam);
    // Clients send either the whole document or the object stored under the name.
    const Json::Value &obj = doc[name].isObject() ? doc[name] : doc;
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == "General.Location") {
        Json::Value loc;
        parseJson(locationJson_, &loc);
        const std::string oldLanguage = loc["Language"].asString();
        for (const auto &key : obj.getMemberNames()) {
            if (key == "Name" || key == "Ret" || key == "SessionID")
                continue;
            if (key == "Language") {
                const std::string lang = obj[key].asString();
                bool known = false;
                for (const char *l : kLanguages)
                    known = known || lang == l;
                if (!obj[key].isString() || !known)
                    return jsonReply(name, 103, kErrBadParam);
            }
            loc[key] = obj[key];
        }
        locationJson_ = compact(loc);
        keepTextLocked("location.json", text);
        if (spec_.languageNeedsReboot && loc["Language"].asString() != oldLanguage && !isForced) {
            persistLocked();
            return jsonReply(name, 603, NETSDK_ERR_NEED_REBOOT);
        }
    } else if (name == "Custom.ShowH265X") {
        if (!obj["ShowH265X"].isBool())
            return jsonReply(name, 103, kErrBadParam);
        showH265X_ = obj["ShowH265X"].asBool();
        keepTextLocked("showh265x.json", text);
    } else {
        return JsonAnswer{kErrNotSupported, std::string()};
    }
    persistLocked();
    const bool refused = isForced && forced < 0;
    return jsonReply(name, refused ? 603 : 100, refused ? forced : 0);
}

void Device::keepTextLocked(const std::string &file, const std::string &text)
{
    std::string error;
    if (!writeFileAtomic(dir_ + "/" + file, text, &error))
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
}

JsonAnswer Device::producerSet(const std::string &text)
{
    const std::string name = "ProducerInfo";
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.producerWrite;
    Json::Value doc;
    std::string plain, error;
    int ret = 100;
    std::string oemid, mac;
    if (!parseJson(text, &doc) || !doc.isObject() || !doc["Data"].isString()) {
        ret = 109;
        error = "no \"Data\" member";
    } else if (!decodeProducerData(spec_.serial, doc["Data"].asString(), &plain, &error)) {
        ret = 109;
    } else if (!parseProducerPlain(plain, &oemid, &mac, &error)) {
        ret = 109;
    }
    if (spec_.faults.producerSetRet != 0)
        ret = spec_.faults.producerSetRet;
    if (ret == 100) {
        oemid_ = oemid;
        producerMac_ = mac;
    } else if (!error.empty()) {
        std::fprintf(stderr, "devsim %s: producer information refused: %s\n", spec_.mac.c_str(),
                     error.c_str());
    }
    persistLocked();
    return jsonReply(name, ret, ret == 100 ? 0 : kErrBadParam);
}

int32_t Device::netSet(const SDK_NET_BLOCK &block, std::string *moveTo)
{
    moveTo->clear();
    int32_t forced = 0;
    const bool isForced = forcedResult("ipchange", &forced);
    if (isForced && forced < 0 && forced != NETSDK_ERR_NEED_REBOOT && forced != kNoAnswer)
        return forced;
    const std::string newIp = formatIPv4(block.HostIP);
    if (block.HostIP[0] != 127)
        return kErrBadParam; // this device lives on loopback and cannot take the address
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.ipChange;
    const std::string host(block.HostName, strnlen(block.HostName, sizeof block.HostName));
    if (!host.empty())
        hostName_ = host;
    mask_ = formatIPv4(block.Submask);
    gateway_ = formatIPv4(block.Gateway);
    if (isForced && forced == NETSDK_ERR_NEED_REBOOT) {
        // Accepted; the address takes effect with the next reboot.
        pendingIp_ = newIp;
        persistLocked();
        return forced;
    }
    pendingIp_.clear();
    if (newIp != ip_)
        *moveTo = newIp;
    persistLocked();
    return isForced ? forced : 1;
}

void Device::addressChanged(const std::string &ip)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ip_ = ip;
    persistLocked();
}

int32_t Device::reboot(std::string *moveTo)
{
    moveTo->clear();
    int32_t forced = 0;
    const bool isForced = forcedResult("reboot", &forced);
    if (isForced && forced < 0 && forced != kNoAnswer)
        return forced;
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.reboot;
    if (!pendingIp_.empty()) {
        *moveTo = pendingIp_;
        pendingIp_.clear();
    }
    persistLocked();
    return isForced && forced < 0 ? forced : 0;
}

int32_t Device::burnPackage(const std::string &packagePath, std::string *error)
{
    PackageTarget target;
    target.hardware = spec_.hardware;
    if (spec_.speaksOnvif())
        target.model = spec_.modelOrHardware();
    target.logoStart = spec_.logoStart;
    target.logoEnd = spec_.logoEnd;
    PackageCheck check = checkPackage(packagePath, target);

    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.upgrade;
    upgrade_ = Upgrade();
    upgrade_.any = true;
    upgrade_.hardware = check.hardware;
    int32_t code = check.code;
    error->clear();
    if (code != 0)
        *error = check.error;
    if (code == 0 && spec_.faults.upgradeResult != 0) {
        code = spec_.faults.upgradeResult;
        *error = "forced by the fleet file";
    }
    if (code == 0 && check.isLogo) {
        upgrade_.kind = "logo";
        upgrade_.fsType = check.fsType;
        const std::string logoDir = dir_ + "/logo";
        std::string e;
        if (!writeFileAtomic(dir_ + "/logo.img", check.logoImage.data(), check.logoImage.size(), &e) ||
            !makeDirs(logoDir, &e) || !clearDir(logoDir, &e)) {
            code = NETSDK_ERR_UPG_PART_FAILED;
            *error = e;
        } else if (check.fsType == "cramfs" &&
                   !CramfsReader::extract(check.logoFs.data(), check.logoFs.size(), logoDir,
                                          &upgrade_.logoFiles, &e)) {
            code = NETSDK_ERR_UPG_PART_FAILED;
            *error = e;
        } else if (check.fsType == "squashfs") {
            // The files of a squashfs image are listed only where squashfs-tools are installed;
            // the burn itself does not depend on it.
            const std::string fs = dir_ + "/logo.squashfs";
            if (writeFileAtomic(fs, check.logoFs.data(), check.logoFs.size(), &e) &&
                runProgram({"unsquashfs", "-no-xattrs", "-f", "-d", logoDir, fs}, 20000) == 0)
                upgrade_.logoFiles = listFiles(logoDir);
            ::unlink(fs.c_str());
        }
        upgrade_.file = "logo.img";
        upgrade_.size = check.logoImage.size();
    } else if (code == 0) {
        upgrade_.kind = "firmware";
        upgrade_.file = "firmware.bin";
        const std::string target = dir_ + "/firmware.bin";
        if (::rename(packagePath.c_str(), target.c_str()) != 0) {
            code = NETSDK_ERR_UPG_PART_FAILED;
            *error = "cannot store the firmware";
        }
        FILE *f = std::fopen(target.c_str(), "rb");
        if (f) {
            std::fseek(f, 0, SEEK_END);
            upgrade_.size = uint64_t(std::ftell(f));
            std::fclose(f);
        }
        if (code == 0 && !spec_.faults.keepVersion)
            takeVersionLocked(check);
    }
    ::unlink(packagePath.c_str());
    upgrade_.result = code;
    upgrade_.error = *error;
    persistLocked();
    return code;
}

void Device::takeVersionLocked(const PackageCheck &check)
{
    // The package's own "Version" and "BuildDate" when it names them; otherwise a version that
    // still differs from the old one, so that a verifier can tell a burn from no burn.
    version_ = check.version.empty() ? version_ + "-" + std::to_string(counts_.upgrade) : check.version;
    int y = 0, m = 0, d = 0;
    if (!check.buildDate.empty() && std::sscanf(check.buildDate.c_str(), "%d-%d-%d", &y, &m, &d) == 3 &&
        y >= 1970 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= 31) {
        buildYear_ = y;
        buildMonth_ = m;
        buildDay_ = d;
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    buildYear_ = utc.tm_year + 1900;
    buildMonth_ = utc.tm_mon + 1;
    buildDay_ = utc.tm_mday;
}

int64_t Device::clockNow() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int64_t(std::time(nullptr)) + clockOffset_;
}

Device::OnvifClock Device::onvifClock() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    OnvifClock c;
    c.utc = int64_t(std::time(nullptr)) + clockOffset_;
    c.tz = posixTz_;
    c.ntp = clockNtp_;
    c.dst = clockDst_;
    return c;
}

void Device::setOnvifClock(bool ntp, bool setUtc, int64_t utc, const std::string &tz, bool dst)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.timeWrite;
    clockNtp_ = ntp;
    clockDst_ = dst;
    if (!tz.empty())
        posixTz_ = tz;
    if (setUtc) {
        clockOffset_ = utc - int64_t(std::time(nullptr));
        // Kept beside the SDK's time record: the last time set, as 8 integers (UTC).
        const std::time_t t = std::time_t(utc);
        std::tm tm{};
        gmtime_r(&t, &tm);
        timeRecord_ = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_wday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec,  0};
        timeCommand_ = 0;
    }
    persistLocked();
}

void Device::softFactoryDefault()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.reset;
    resetSettingsLocked();
    clockNtp_ = false;
    persistLocked();
}

void Device::setGateway(const std::string &gateway)
{
    std::lock_guard<std::mutex> lock(mutex_);
    gateway_ = gateway;
    persistLocked();
}

Device::NetInfo Device::netInfo() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return NetInfo{ip_, mask_, gateway_, hostName_};
}

std::string Device::version() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

void Device::noteOnvifRequest(bool authFailed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.onvifRequest;
    if (authFailed)
        ++counts_.onvifAuthFailed;
    persistLocked();
}

void Device::upgradeAborted(const std::string &why, const std::string &scratchPath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.upgrade;
    upgrade_ = Upgrade();
    upgrade_.any = true;
    upgrade_.result = -2;
    upgrade_.kind = "aborted";
    upgrade_.error = why;
    ::unlink(scratchPath.c_str());
    persistLocked();
}

} // namespace devsim
