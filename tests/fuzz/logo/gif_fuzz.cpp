// libFuzzer target: the GIF decoder must survive any bytes and never write outside its raster.
#include "logo/gifdecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    GifDecoder decoder(size_t(16) << 20);
    const auto img = decoder.decode(data, size);
    if (img && !img->pixels.empty()) {
        volatile uint8_t sink = img->pixels.back();
        (void)sink;
    }
    return 0;
}
