// libFuzzer target: the legacy image header check of a device.
#include "imageheader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    devsim::LegacyImageHeader header;
    std::string error;
    if (devsim::checkLegacyImage(data, size, &header, &error) &&
        (header.dataSize != size - devsim::LegacyImageHeader::kSize || header.name.size() > 32))
        std::abort();
    return 0;
}
