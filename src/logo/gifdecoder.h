#pragma once

#include "logo/decodedimage.h"
#include "logo/picturefile.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

/** Byte-driven GIF decoder. The whole file is handed over at once: running out of data ends decoding
 *  with what exists (a record once the screen descriptor was read), while a malformed stream yields
 *  nothing. Pixels are written as RGB555 and never outside the raster made from the header. */
class GifDecoder
{
public:
    explicit GifDecoder(size_t maxRasterBytes = kMaxLogoRasterBytes) : m_maxRasterBytes(maxRasterBytes) {}

    std::optional<DecodedImage> decode(const uint8_t *data, size_t size);

    // Extension data seen by the last decode().
    int version() const { return m_version; }
    int loopCount() const { return m_loopCount; }
    int delayMs() const { return m_delayMs; }
    int transparentIndex() const { return m_transparent; }
    int imagesCompleted() const { return m_imagesCompleted; }

private:
    enum class State {
        Signature,
        ScreenDescriptor,
        GlobalColourTable,
        BlockStart,
        ImageDescriptor,
        LocalColourTable,
        LzwStart,
        SubBlockLength,
        LzwData,
        Extension,
        GraphicControl,
        Application,
        LoopingLength,
        LoopingData,
        SkipLength,
        SkipData,
        Done,
        OutOfMemory,
        Error
    };

    void reset();
    State step(State st, const uint8_t *p, size_t &need);
    bool startImage();
    bool decodeLzw(const uint8_t *p, size_t n);
    void outputRow();

    size_t m_maxRasterBytes;
    std::optional<DecodedImage> m_image;

    int m_version = 0;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_loopCount = -1;
    int m_delayMs = 0;
    int m_transparent = -1;
    int m_imagesCompleted = 0;

    uint8_t m_global[256 * 3] = {};
    uint8_t m_local[256 * 3] = {};
    bool m_hasGlobal = false;
    bool m_hasLocal = false;
    uint16_t m_palette[256] = {};

    // Current image.
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_interlaced = false;
    int m_rowsRemaining = 0;
    int m_irow = 0;
    int m_ipass = 1;
    std::vector<uint8_t> m_row;
    size_t m_rowPos = 0;

    // LZW.
    int m_dataSize = 0;
    int m_clearCode = 0;
    int m_codeSize = 0;
    int m_codeMask = 0;
    int m_avail = 0;
    int m_oldCode = -1;
    uint8_t m_firstChar = 0;
    uint32_t m_datum = 0;
    int m_bits = 0;
    bool m_lzwEnded = false;
    uint16_t m_prefix[4096] = {};
    uint8_t m_suffix[4096] = {};
    uint8_t m_stack[4097] = {};
};

/** Reads the whole file (at most `maxFileBytes`) and decodes it; nothing for an unreadable or too
 *  large file or a bad stream. `status` tells why nothing was read. */
std::optional<DecodedImage> decodeGifFile(const QString &path, qint64 maxFileBytes = kMaxPictureFileBytes,
                                          PictureFile *status = nullptr);
