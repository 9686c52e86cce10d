#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/** A decoded picture as the logo checks see it. Only the dimensions matter to the checks; the
 *  raster is produced so that a picture counts as decodable only when every pixel could be made. */
struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelFormat = 0; // 0 RGB555, 1 RGB565, 2 the decoder's 24-bit rows
    int32_t stride = 0;
    int32_t planes = 1;
    std::vector<uint8_t> pixels;
};

enum LogoPixelFormat { PixelRgb555 = 0, PixelRgb565 = 1, PixelRgb888 = 2 };

/** Bytes per pixel of a pixel format: 2 for the 16-bit formats, 3 otherwise. */
inline int bytesPerPixel(int format)
{
    return (format == PixelRgb555 || format == PixelRgb565) ? 2 : 3;
}

/** Packs a colour into 16 bits; components are clamped to 0..255. Unknown formats give 0xFF00. */
uint16_t packColor16(int format, int r, int g, int b);

/** Rasters above this are refused rather than allocated: no logo comes near it, and a hostile header
 *  must not make us reserve gigabytes. */
constexpr size_t kMaxLogoRasterBytes = size_t(256) << 20;
