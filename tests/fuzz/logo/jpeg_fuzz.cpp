// libFuzzer target: JPEG decoding as the logo check runs it, fatal library errors included.
#include "logo/jpegdecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (int format : {0, 2}) {
        const auto img = decodeJpegData(data, size, format, size_t(16) << 20);
        if (img && !img->pixels.empty()) {
            volatile uint8_t sink = img->pixels.back();
            (void)sink;
        }
    }
    return 0;
}
