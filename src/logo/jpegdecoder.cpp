#include "logo/jpegdecoder.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace
{

// The library reports fatal errors by calling error_exit, which must not return. We jump back to
// the phase that called into the library; no C++ object with a destructor lives in those frames.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {}

class JpegSession
{
public:
    JpegSession()
    {
        std::memset(&m_cinfo, 0, sizeof m_cinfo);
        std::memset(&m_err, 0, sizeof m_err);
        m_cinfo.err = jpeg_std_error(&m_err.pub);
        m_err.pub.error_exit = jpegErrorExit;
        m_err.pub.output_message = jpegOutputMessage;
    }
    ~JpegSession()
    {
        if (m_created)
            jpeg_destroy_decompress(&m_cinfo);
    }
    JpegSession(const JpegSession &) = delete;
    JpegSession &operator=(const JpegSession &) = delete;

    bool readHeader(const uint8_t *data, size_t size)
    {
        if (setjmp(m_err.jump))
            return false;
        jpeg_create_decompress(&m_cinfo);
        m_created = true;
        jpeg_mem_src(&m_cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&m_cinfo, TRUE);
        m_cinfo.out_color_space = JCS_RGB;
        return true;
    }

    bool start()
    {
        if (setjmp(m_err.jump))
            return false;
        jpeg_start_decompress(&m_cinfo);
        return true;
    }

    bool readRows(uint8_t *pixels, size_t stride, uint8_t *row, int format)
    {
        if (setjmp(m_err.jump))
            return false;
        const JDIMENSION width = m_cinfo.output_width;
        while (m_cinfo.output_scanline < m_cinfo.output_height) {
            JSAMPROW rows[1] = {row};
            if (jpeg_read_scanlines(&m_cinfo, rows, 1) != 1)
                return false;
            uint8_t *dst = pixels + size_t(m_cinfo.output_scanline - 1) * stride;
            if (format == PixelRgb555 || format == PixelRgb565) {
                auto *out = reinterpret_cast<uint16_t *>(dst);
                for (JDIMENSION x = 0; x < width; ++x)
                    out[x] = packColor16(format, row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
            } else {
                std::memcpy(dst, row, size_t(width) * 3);
            }
        }
        jpeg_finish_decompress(&m_cinfo);
        return true;
    }

    jpeg_decompress_struct &cinfo() { return m_cinfo; }
    const char *message() const { return m_err.message; }

private:
    jpeg_decompress_struct m_cinfo;
    JpegErrorManager m_err;
    bool m_created = false;
};

} // namespace

std::optional<DecodedImage> decodeJpegData(const uint8_t *data, size_t size, int format,
                                           size_t maxRasterBytes, QString *error)
{
    auto fail = [error](const QString &text) -> std::optional<DecodedImage> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    JpegSession session;
    if (!session.readHeader(data, size))
        return fail(QString::fromLocal8Bit(session.message()));

    jpeg_decompress_struct &cinfo = session.cinfo();
    const int bpp = bytesPerPixel(format);
    // Checked before the library sizes its own buffers for the picture.
    const uint64_t raster = uint64_t(cinfo.image_width) * uint64_t(bpp) * (uint64_t(cinfo.image_height) + 1);
    if (raster > maxRasterBytes)
        return fail(
            QStringLiteral("picture too large: %1 x %2").arg(cinfo.image_width).arg(cinfo.image_height));

    if (!session.start())
        return fail(QString::fromLocal8Bit(session.message()));
    if (cinfo.output_components != 3)
        return fail(QStringLiteral("unexpected colour components: %1").arg(cinfo.output_components));

    DecodedImage img;
    img.width = int32_t(cinfo.output_width & ~1u);
    img.height = int32_t(cinfo.output_height);
    img.pixelFormat = format;
    img.stride = int32_t(cinfo.output_width) * bpp;
    img.planes = 1;
    std::vector<uint8_t> row;
    try {
        img.pixels.assign(size_t(cinfo.output_width) * size_t(bpp) * (size_t(cinfo.output_height) + 1), 0);
        row.assign(size_t(cinfo.output_width) * 3, 0);
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("out of memory"));
    }
    if (!session.readRows(img.pixels.data(), size_t(img.stride), row.data(), format))
        return fail(QString::fromLocal8Bit(session.message()));
    return img;
}

std::optional<DecodedImage> decodeJpegFile(const QString &path, int format, qint64 maxFileBytes,
                                           PictureFile *status)
{
    QByteArray data;
    const PictureFile read = readPictureFile(path, maxFileBytes, &data);
    if (status)
        *status = read;
    if (read == PictureFile::CannotOpen)
        std::fprintf(stderr, "open %s failed\n", QFile::encodeName(path).constData());
    if (read != PictureFile::Ok)
        return std::nullopt;
    return decodeJpegData(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()), format);
}
