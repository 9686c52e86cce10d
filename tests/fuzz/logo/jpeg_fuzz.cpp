// libFuzzer target: JPEG decoding as the logo check runs it, fatal library errors included.
#include "logo/jpegdecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (int format : {0, 2}) {
        // Rasters up to 2 MiB: every logo the rules allow (800 x 600 at 2 bytes a pixel) fits, and
        // larger pictures only slow the search down in the library's own code.
        const auto img = decodeJpegData(data, size, format, size_t(2) << 20);
        if (img && !img->pixels.empty()) {
            volatile uint8_t sink = img->pixels.back();
            (void)sink;
        }
    }
    return 0;
}
