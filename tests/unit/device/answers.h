#pragma once

#include "netsdk/netsdk.h"

#include <cstring>
#include <string>

// A search answer as a device would send it.
inline SDK_CONFIG_NET_COMMON_V2 makeAnswer(const std::string &mac, uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                           const std::string &version = "V1.0", int32_t type = 1,
                                           const std::string &cloud = std::string())
{
    SDK_CONFIG_NET_COMMON_V2 rec;
    std::memset(&rec, 0, sizeof rec);
    std::strncpy(rec.HostName, "dev", sizeof rec.HostName);
    const uint8_t ip[4] = {a, b, c, d};
    std::memcpy(rec.HostIP, ip, 4);
    const uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(rec.Submask, mask, 4);
    const uint8_t gw[4] = {a, b, c, 1};
    std::memcpy(rec.Gateway, gw, 4);
    rec.NetValues[1] = 34567;
    std::memcpy(rec.sMac, mac.data(), std::min(mac.size(), sizeof rec.sMac));
    std::memcpy(rec.sSn, cloud.data(), std::min(cloud.size(), sizeof rec.sSn));
    rec.DeviceType = type;
    std::memcpy(rec.sSoftWareVersion, version.data(), std::min(version.size(), sizeof rec.sSoftWareVersion));
    rec.BuildYear = 2020;
    rec.BuildMonth = 1;
    rec.BuildDay = 13;
    return rec;
}
