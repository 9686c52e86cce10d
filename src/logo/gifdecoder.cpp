#include "logo/gifdecoder.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <new>

namespace
{

constexpr int kMaxCodes = 4096;
constexpr int kStackSize = 4097;

inline int le16(const uint8_t *p)
{
    return p[0] | (p[1] << 8);
}

} // namespace

uint16_t packColor16(int format, int r, int g, int b)
{
    auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
    r = clamp(r);
    g = clamp(g);
    b = clamp(b);
    switch (format) {
    case PixelRgb555:
        return uint16_t(((r << 7) & 0x7C00) | ((g << 2) & 0x03E0) | ((b >> 3) & 0x1F));
    case PixelRgb565:
        return uint16_t(((r << 8) & 0xF800) | ((g << 3) & 0x07E0) | ((b >> 3) & 0x1F));
    default:
        return 0xFF00;
    }
}

void GifDecoder::reset()
{
    m_image.reset();
    m_version = 0;
    m_screenWidth = m_screenHeight = 0;
    m_loopCount = -1;
    m_delayMs = 0;
    m_transparent = -1;
    m_imagesCompleted = 0;
    m_hasGlobal = m_hasLocal = false;
    std::memset(m_global, 0, sizeof m_global);
    std::memset(m_local, 0, sizeof m_local);
}

std::optional<DecodedImage> GifDecoder::decode(const uint8_t *data, size_t size)
{
    reset();
    State st = State::Signature;
    size_t need = 6;
    size_t pos = 0;
    while (st != State::Done && st != State::Error && st != State::OutOfMemory) {
        if (size - pos < need)
            break; // the file simply ends: keep what was decoded
        const uint8_t *p = data + pos;
        pos += need;
        st = step(st, p, need);
    }
    if (st == State::Error || st == State::OutOfMemory)
        return std::nullopt;
    return std::move(m_image);
}

GifDecoder::State GifDecoder::step(State st, const uint8_t *p, size_t &need)
{
    switch (st) {
    case State::Signature:
        if (std::memcmp(p, "GIF89a", 6) == 0)
            m_version = 89;
        else if (std::memcmp(p, "GIF87a", 6) == 0)
            m_version = 87;
        else
            return State::Error;
        need = 7;
        return State::ScreenDescriptor;

    case State::ScreenDescriptor: {
        m_screenWidth = le16(p);
        m_screenHeight = le16(p + 2);
        const int flags = p[4];
        const size_t evenWidth = size_t((m_screenWidth + 1) & ~1);
        const size_t rasterBytes = evenWidth * 2 * size_t(m_screenHeight);
        if (rasterBytes > m_maxRasterBytes)
            return State::OutOfMemory;
        try {
            DecodedImage img;
            img.width = m_screenWidth;
            img.height = m_screenHeight;
            img.pixelFormat = PixelRgb555;
            img.stride = (m_screenWidth * 2 + 3) & ~3;
            img.planes = 1;
            img.pixels.assign(rasterBytes, 0);
            m_image = std::move(img);
        } catch (const std::bad_alloc &) {
            return State::OutOfMemory;
        }
        if (flags & 0x80) {
            need = size_t(3) * (2u << (flags & 7));
            return State::GlobalColourTable;
        }
        need = 1;
        return State::BlockStart;
    }

    case State::GlobalColourTable:
        std::memcpy(m_global, p, need);
        m_hasGlobal = true;
        need = 1;
        return State::BlockStart;

    case State::BlockStart:
        switch (p[0]) {
        case 0x3B:
            return State::Done;
        case 0x21:
            need = 2;
            return State::Extension;
        case 0x2C:
            need = 9;
            return State::ImageDescriptor;
        default:
            // Trailing garbage after a good picture is tolerated, like the trailer itself.
            return m_imagesCompleted == 0 ? State::Error : State::Done;
        }

    case State::ImageDescriptor: {
        m_left = le16(p);
        m_top = le16(p + 2);
        m_width = le16(p + 4);
        m_height = le16(p + 6);
        const int flags = p[8];
        if (m_imagesCompleted == 0 &&
            (m_height > m_screenHeight || m_width > m_screenWidth || m_version <= 87)) {
            // The screen follows the first image; the raster keeps the header's size and clips.
            m_screenWidth = m_width;
            m_screenHeight = m_height;
            m_left = m_top = 0;
        }
        if (m_width == 0)
            m_width = m_screenWidth;
        if (m_height == 0)
            m_height = m_screenHeight;
        if (m_width == 0 || m_height == 0)
            return State::Error;
        m_rowsRemaining = m_height;
        m_interlaced = (flags & 0x40) != 0;
        m_hasLocal = false;
        if (flags & 0x80) {
            need = size_t(3) * (2u << (flags & 7));
            return State::LocalColourTable;
        }
        if (!m_hasGlobal)
            return State::Error;
        need = 1;
        return State::LzwStart;
    }

    case State::LocalColourTable:
        std::memset(m_local, 0, sizeof m_local);
        std::memcpy(m_local, p, need);
        m_hasLocal = true;
        need = 1;
        return State::LzwStart;

    case State::LzwStart:
        m_dataSize = p[0];
        if (m_dataSize > 12 || !startImage())
            return State::Error;
        need = 1;
        return State::SubBlockLength;

    case State::SubBlockLength:
        if (p[0] != 0) {
            need = p[0];
            return State::LzwData;
        }
        ++m_imagesCompleted;
        need = 1;
        return State::BlockStart;

    case State::LzwData:
        if (!decodeLzw(p, need))
            return State::Error;
        need = 1;
        return State::SubBlockLength;

    case State::Extension: {
        const int label = p[0];
        const size_t n = p[1];
        if (n == 0) {
            need = 1;
            return State::BlockStart;
        }
        need = n;
        switch (label) {
        case 0xF9:
            return State::GraphicControl;
        case 0xFF:
            return State::Application;
        default: // comments and unknown extensions are skipped alike
            return State::SkipData;
        }
    }

    case State::GraphicControl:
        if ((p[0] & 1) && need >= 4)
            m_transparent = p[3];
        if (need >= 3)
            m_delayMs = le16(p + 1) * 10;
        need = 1;
        return State::SkipLength;

    case State::Application:
        if (need >= 11 &&
            (std::memcmp(p, "NETSCAPE2.0", 11) == 0 || std::memcmp(p, "ANIMEXTS1.0", 11) == 0)) {
            need = 1;
            return State::LoopingLength;
        }
        need = 1;
        return State::SkipLength;

    case State::LoopingLength:
        if (p[0] == 0) {
            need = 1;
            return State::BlockStart;
        }
        need = p[0];
        return State::LoopingData;

    case State::LoopingData:
        switch (p[0] & 7) {
        case 1:
            if (need >= 3)
                m_loopCount = le16(p + 1);
            break;
        case 2: // buffering hint, ignored
            break;
        default:
            return State::Error;
        }
        need = 1;
        return State::LoopingLength;

    case State::SkipLength:
        if (p[0] == 0) {
            need = 1;
            return State::BlockStart;
        }
        need = p[0];
        return State::SkipData;

    case State::SkipData:
        need = 1;
        return State::SkipLength;

    case State::Done:
    case State::OutOfMemory:
    case State::Error:
        break;
    }
    return st;
}

bool GifDecoder::startImage()
{
    const uint8_t *table = m_hasGlobal ? m_global : m_local;
    for (int i = 0; i < 256; ++i)
        m_palette[i] = packColor16(PixelRgb555, table[i * 3], table[i * 3 + 1], table[i * 3 + 2]);

    m_clearCode = 1 << m_dataSize;
    m_avail = m_clearCode + 2;
    m_codeSize = m_dataSize + 1;
    m_codeMask = (1 << m_codeSize) - 1;
    m_oldCode = -1;
    m_firstChar = 0;
    m_datum = 0;
    m_bits = 0;
    m_lzwEnded = false;
    for (int i = 0; i < m_clearCode && i < kMaxCodes; ++i) {
        m_prefix[i] = 0;
        m_suffix[i] = uint8_t(i);
    }
    m_irow = 0;
    m_ipass = 1;
    m_rowPos = 0;
    try {
        m_row.assign(size_t(m_width), 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void GifDecoder::outputRow()
{
    m_rowPos = 0;
    if (m_rowsRemaining <= 0)
        return;
    DecodedImage &img = *m_image;
    const int y = m_top + m_irow;
    if (y < img.height && m_left < img.width) {
        const int count = std::min(m_width, img.width - m_left);
        auto *dst = reinterpret_cast<uint16_t *>(img.pixels.data() + size_t(y) * size_t(img.stride)) + m_left;
        const uint8_t *src = m_row.data();
        for (int x = 0; x < count; ++x)
            dst[x] = m_palette[src[x]];
    }

    if (m_interlaced) {
        do {
            switch (m_ipass) {
            case 1:
                m_irow += 8;
                if (m_irow >= m_height) {
                    m_ipass = 2;
                    m_irow = 4;
                }
                break;
            case 2:
                m_irow += 8;
                if (m_irow >= m_height) {
                    m_ipass = 3;
                    m_irow = 2;
                }
                break;
            case 3:
                m_irow += 4;
                if (m_irow >= m_height) {
                    m_ipass = 4;
                    m_irow = 1;
                }
                break;
            case 4:
                m_irow += 2;
                if (m_irow >= m_height) {
                    m_ipass = 5;
                    m_irow = 0;
                }
                break;
            default:
                break;
            }
        } while (m_irow > m_height - 1);
    } else {
        ++m_irow;
    }
    --m_rowsRemaining;
}

bool GifDecoder::decodeLzw(const uint8_t *p, size_t n)
{
    if (m_lzwEnded)
        return true; // bytes after the end code are ignored

    // Work on locals; the hot loop runs once per code.
    uint32_t datum = m_datum;
    int bits = m_bits;
    int codeSize = m_codeSize;
    int codeMask = m_codeMask;
    int avail = m_avail;
    int oldCode = m_oldCode;
    uint8_t firstChar = m_firstChar;
    const int clearCode = m_clearCode;
    const int endCode = clearCode + 1;
    uint8_t *row = m_row.data();
    const size_t rowLen = m_row.size();
    size_t rowPos = m_rowPos;
    bool ok = true;

    auto put = [&](uint8_t v) {
        row[rowPos++] = v;
        if (rowPos == rowLen) {
            outputRow();
            rowPos = 0;
        }
    };

    for (size_t i = 0; i < n; ++i) {
        datum |= uint32_t(p[i]) << bits;
        bits += 8;
        while (bits >= codeSize) {
            int code = int(datum & uint32_t(codeMask));
            datum >>= codeSize;
            bits -= codeSize;

            if (code == clearCode) {
                codeSize = m_dataSize + 1;
                codeMask = (1 << codeSize) - 1;
                avail = clearCode + 2;
                oldCode = -1;
                continue;
            }
            if (code == endCode) {
                // The end code is only valid once every row has been filled.
                m_lzwEnded = true;
                ok = m_rowsRemaining == 0;
                goto out;
            }
            if (code >= kMaxCodes) {
                ok = false;
                goto out;
            }
            if (oldCode == -1) {
                firstChar = m_suffix[code];
                oldCode = code;
                if (m_rowsRemaining > 0)
                    put(firstChar);
                continue;
            }

            const int inCode = code;
            int sp = 0;
            if (code >= avail) {
                m_stack[sp++] = firstChar;
                code = oldCode;
            }
            while (code >= clearCode) {
                if (code >= kMaxCodes || code == m_prefix[code]) {
                    ok = false;
                    goto out;
                }
                m_stack[sp++] = m_suffix[code];
                code = m_prefix[code];
                if (sp == kStackSize) {
                    ok = false;
                    goto out;
                }
            }
            firstChar = m_suffix[code];
            m_stack[sp++] = firstChar;

            if (avail < kMaxCodes) {
                m_prefix[avail] = uint16_t(oldCode);
                m_suffix[avail] = firstChar;
                ++avail;
                if ((avail & codeMask) == 0 && avail < kMaxCodes) {
                    ++codeSize;
                    codeMask += avail;
                }
            }
            oldCode = inCode;

            if (m_rowsRemaining > 0) {
                while (sp > 0) {
                    put(m_stack[--sp]);
                    if (m_rowsRemaining == 0)
                        break;
                }
            }
        }
    }
out:
    m_datum = datum;
    m_bits = bits;
    m_codeSize = codeSize;
    m_codeMask = codeMask;
    m_avail = avail;
    m_oldCode = oldCode;
    m_firstChar = firstChar;
    m_rowPos = rowPos;
    return ok;
}

std::optional<DecodedImage> decodeGifFile(const QString &path, qint64 maxFileBytes, PictureFile *status)
{
    QByteArray data;
    const PictureFile read = readPictureFile(path, maxFileBytes, &data);
    if (status)
        *status = read;
    if (read != PictureFile::Ok)
        return std::nullopt;
    GifDecoder decoder;
    return decoder.decode(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
}
