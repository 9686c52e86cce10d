#pragma once

// Fixture makers and tool runners shared by the logo tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>

namespace logotest
{

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    QByteArray out(int(n), '\0');
    for (auto &c : out)
        c = char(rng() & 0xFF);
    return out;
}

/** A baseline JPEG of a smooth gradient (small files), RGB or greyscale. */
inline QByteArray makeJpeg(int width, int height, bool grey = false, int quality = 75)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&cinfo, &mem, &memSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(size_t(width) * size_t(cinfo.input_components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            if (grey) {
                row[size_t(x)] = uint8_t((x + y) & 0xFF);
            } else {
                row[size_t(x) * 3] = uint8_t(x * 255 / std::max(1, width));
                row[size_t(x) * 3 + 1] = uint8_t(y * 255 / std::max(1, height));
                row[size_t(x) * 3 + 2] = 128;
            }
        }
        JSAMPROW r[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char *>(mem), int(memSize));
    free(mem);
    return out;
}

/** A GIF made by giflib: real LZW compression, optionally interlaced. `indices` holds width*height
 *  palette indices in row order; rows are handed to giflib in the order the interlace asks for. */
inline QByteArray makeGif(int width, int height, const std::vector<uint8_t> &indices,
                          const std::vector<GifColorType> &palette, bool interlaced = false,
                          bool version89 = true)
{
    QByteArray out;
    int err = 0;
    GifFileType *g = EGifOpen(
        &out,
        [](GifFileType *f, const GifByteType *data, int len) {
            static_cast<QByteArray *>(f->UserData)->append(reinterpret_cast<const char *>(data), len);
            return len;
        },
        &err);
    if (!g)
        return {};
    EGifSetGifVersion(g, version89);
    ColorMapObject *map = GifMakeMapObject(int(palette.size()), palette.data());
    EGifPutScreenDesc(g, width, height, 8, 0, map);
    EGifPutImageDesc(g, 0, 0, width, height, interlaced, nullptr);
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    auto putRow = [&](int y) {
        for (int x = 0; x < width; ++x)
            row[size_t(x)] = indices[size_t(y) * size_t(width) + size_t(x)];
        EGifPutLine(g, row.data(), width);
    };
    if (interlaced) {
        const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = start[p]; y < height; y += step[p])
                putRow(y);
    } else {
        for (int y = 0; y < height; ++y)
            putRow(y);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    return out;
}

inline std::vector<GifColorType> greyPalette(int n)
{
    std::vector<GifColorType> p(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        p[size_t(i)] = GifColorType{uint8_t(i * 255 / std::max(1, n - 1)),
                                    uint8_t(255 - i * 255 / std::max(1, n - 1)), uint8_t((i * 37) & 0xFF)};
    return p;
}

/** Hand-made GIF pieces, for streams giflib would never write. */
struct RawGif {
    QByteArray bytes;

    RawGif &header(int w, int h, int globalEntries = 4, const char *sig = "GIF89a")
    {
        bytes += sig;
        put16(w);
        put16(h);
        if (globalEntries > 0) {
            int bits = 0;
            while ((2 << bits) < globalEntries)
                ++bits;
            bytes += char(0x80 | bits);
            bytes += char(0);
            bytes += char(0);
            for (int i = 0; i < (2 << bits); ++i) {
                bytes += char(i * 40);
                bytes += char(i * 20);
                bytes += char(i * 10);
            }
        } else {
            bytes += char(0);
            bytes += char(0);
            bytes += char(0);
        }
        return *this;
    }
    RawGif &image(int left, int top, int w, int h, int flags = 0)
    {
        bytes += char(0x2C);
        put16(left);
        put16(top);
        put16(w);
        put16(h);
        bytes += char(flags);
        return *this;
    }
    /** LZW data with a fixed code width (keep to fewer codes than would widen it). */
    RawGif &codes(int minCodeSize, const std::vector<int> &list, int width)
    {
        bytes += char(minCodeSize);
        QByteArray packed;
        uint32_t acc = 0;
        int bits = 0;
        for (int c : list) {
            acc |= uint32_t(c) << bits;
            bits += width;
            while (bits >= 8) {
                packed += char(acc & 0xFF);
                acc >>= 8;
                bits -= 8;
            }
        }
        if (bits > 0)
            packed += char(acc & 0xFF);
        for (int i = 0; i < packed.size(); i += 255) {
            const QByteArray chunk = packed.mid(i, 255);
            bytes += char(chunk.size());
            bytes += chunk;
        }
        bytes += char(0);
        return *this;
    }
    /** An uncompressed-style stream: clear codes often enough that the width stays 9 bits. */
    RawGif &literals(const std::vector<int> &pixels, bool withEnd = true)
    {
        std::vector<int> list;
        for (size_t i = 0; i < pixels.size(); ++i) {
            if (i % 200 == 0)
                list.push_back(256);
            list.push_back(pixels[i]);
        }
        if (withEnd)
            list.push_back(257);
        return codes(8, list, 9);
    }
    RawGif &raw(const QByteArray &b)
    {
        bytes += b;
        return *this;
    }
    RawGif &trailer()
    {
        bytes += char(0x3B);
        return *this;
    }
    void put16(int v)
    {
        bytes += char(v & 0xFF);
        bytes += char((v >> 8) & 0xFF);
    }
};

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
};

/** Finds a reference tool; a missing tool fails the calling test loudly. */
inline QString tool(const char *name)
{
    QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(QString::fromLatin1(name),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (path.isEmpty())
        ADD_FAILURE() << "reference tool " << name << " is not installed (the bootstrap installs it)";
    return path;
}

inline ToolRun run(const QString &program, const QStringList &args)
{
    ToolRun r;
    if (program.isEmpty())
        return r;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAll();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

} // namespace logotest
