// libFuzzer target: the legacy image header check of a device. Each input is checked as it is and
// once more with its data size and both CRCs made right, so that every field gets read.
#include "imageheader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <zlib.h>

namespace
{

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

void check(const uint8_t *data, size_t size)
{
    devsim::LegacyImageHeader header;
    std::string error;
    if (devsim::checkLegacyImage(data, size, &header, &error) &&
        (header.dataSize != size - devsim::LegacyImageHeader::kSize || header.name.size() > 32))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(data, size);
    const size_t kSize = devsim::LegacyImageHeader::kSize;
    if (size < kSize)
        return 0;
    std::vector<uint8_t> fixed(data, data + size);
    put32(fixed.data(), devsim::LegacyImageHeader::kMagic);
    put32(fixed.data() + 12, uint32_t(size - kSize));
    put32(fixed.data() + 24, uint32_t(crc32(crc32(0L, Z_NULL, 0), fixed.data() + kSize, uInt(size - kSize))));
    put32(fixed.data() + 4, 0);
    put32(fixed.data() + 4, uint32_t(crc32(crc32(0L, Z_NULL, 0), fixed.data(), uInt(kSize))));
    devsim::LegacyImageHeader header;
    std::string error;
    if (!devsim::checkLegacyImage(fixed.data(), fixed.size(), &header, &error))
        std::abort(); // a header made right must pass
    return 0;
}
