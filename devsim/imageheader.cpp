#include "imageheader.h"

#include <zlib.h>

#include <cstring>

namespace devsim
{

namespace
{
uint32_t be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
} // namespace

bool checkLegacyImage(const uint8_t *data, size_t size, LegacyImageHeader *header, std::string *error)
{
    if (size < LegacyImageHeader::kSize) {
        *error = "image header: file shorter than 64 bytes";
        return false;
    }
    LegacyImageHeader h;
    h.magic = be32(data);
    h.headerCrc = be32(data + 4);
    h.time = be32(data + 8);
    h.dataSize = be32(data + 12);
    h.loadAddress = be32(data + 16);
    h.entryPoint = be32(data + 20);
    h.dataCrc = be32(data + 24);
    h.os = data[28];
    h.arch = data[29];
    h.type = data[30];
    h.compression = data[31];
    h.name.assign(reinterpret_cast<const char *>(data + 32),
                  strnlen(reinterpret_cast<const char *>(data + 32), 32));
    if (h.magic != LegacyImageHeader::kMagic) {
        *error = "image header: bad magic";
        return false;
    }
    uint8_t copy[LegacyImageHeader::kSize];
    std::memcpy(copy, data, sizeof copy);
    std::memset(copy + 4, 0, 4);
    if (crc32(crc32(0L, Z_NULL, 0), copy, sizeof copy) != h.headerCrc) {
        *error = "image header: header CRC mismatch";
        return false;
    }
    if (uint64_t(h.dataSize) != uint64_t(size) - LegacyImageHeader::kSize) {
        *error = "image header: data size does not match the image";
        return false;
    }
    if (crc32(crc32(0L, Z_NULL, 0), data + LegacyImageHeader::kSize, uInt(h.dataSize)) != h.dataCrc) {
        *error = "image header: data CRC mismatch";
        return false;
    }
    *header = h;
    return true;
}

} // namespace devsim
