#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim
{

/// The 64-byte legacy boot-loader image header (big-endian) that wraps a logo image.
struct LegacyImageHeader {
    uint32_t magic = 0;
    uint32_t headerCrc = 0;
    uint32_t time = 0;
    uint32_t dataSize = 0;
    uint32_t loadAddress = 0;
    uint32_t entryPoint = 0;
    uint32_t dataCrc = 0;
    uint8_t os = 0, arch = 0, type = 0, compression = 0;
    std::string name;

    static constexpr uint32_t kMagic = 0x27051956;
    static constexpr size_t kSize = 64;
};

/// Checks a wrapped image as the device's boot code does: magic, header CRC, a data size that
/// matches the bytes that follow, and the data CRC. On success *header is filled.
bool checkLegacyImage(const uint8_t *data, size_t size, LegacyImageHeader *header, std::string *error);

} // namespace devsim
