#include "device/searchresults.h"

#include "device/devicerecord.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace SearchResults
{

uint64_t addressKey(const uint8_t ip[4])
{
    return uint64_t(ip[0]) << 24 | uint64_t(ip[1]) << 16 | uint64_t(ip[2]) << 8 | uint64_t(ip[3]);
}

std::vector<SDK_CONFIG_NET_COMMON_V2> select(const char *buffer, int bufferSize, int length)
{
    const int usable = std::clamp(length, 0, std::max(bufferSize, 0));
    const int count = std::min(usable / RecordSize, MaxRecords);

    std::map<std::string, SDK_CONFIG_NET_COMMON_V2> byMac;
    for (int i = 0; i < count; ++i) {
        SDK_CONFIG_NET_COMMON_V2 rec;
        std::memcpy(&rec, buffer + std::size_t(i) * RecordSize, sizeof rec);
        const std::string mac = DeviceRecord::fixedText(rec.sMac);
        if (mac.empty())
            continue;
        byMac[mac] = rec;
    }

    // Walking the MACs in ascending order lets the last MAC of equal keys overwrite the others.
    std::map<uint64_t, SDK_CONFIG_NET_COMMON_V2> byKey;
    for (const auto &entry : byMac)
        byKey[addressKey(entry.second.HostIP)] = entry.second;

    std::vector<SDK_CONFIG_NET_COMMON_V2> out;
    out.reserve(byKey.size());
    for (const auto &entry : byKey)
        out.push_back(entry.second);
    return out;
}

} // namespace SearchResults
