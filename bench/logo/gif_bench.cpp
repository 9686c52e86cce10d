// Times the logo GIF decoder against giflib on one large picture (4000 x 3000 by default),
// alternating the two, and prints the medians and their ratio.
#include "logo/gifdecoder.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <gif_lib.h>

namespace
{

QByteArray encode(int w, int h)
{
    // Smooth areas with noise, like a dithered photo in 256 colours.
    std::mt19937 rng(7);
    std::vector<GifColorType> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[size_t(i)] = GifColorType{uint8_t(i), uint8_t(255 - i), uint8_t((i * 7) & 0xFF)};
    QByteArray out;
    int err = 0;
    GifFileType *g = EGifOpen(
        &out,
        [](GifFileType *f, const GifByteType *d, int n) {
            static_cast<QByteArray *>(f->UserData)->append(reinterpret_cast<const char *>(d), n);
            return n;
        },
        &err);
    ColorMapObject *map = GifMakeMapObject(256, palette.data());
    EGifPutScreenDesc(g, w, h, 8, 0, map);
    EGifPutImageDesc(g, 0, 0, w, h, false, nullptr);
    std::vector<GifPixelType> row(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double v = 128 + 60 * std::sin(x / 90.0) + 50 * std::cos(y / 70.0);
            row[size_t(x)] = GifPixelType(std::clamp(int(v) + int(rng() % 9) - 4, 0, 255));
        }
        EGifPutLine(g, row.data(), w);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    return out;
}

struct Reader {
    const QByteArray *data;
    int pos;
};

long long giflibDecode(const QByteArray &gif)
{
    Reader r{&gif, 0};
    int err = 0;
    GifFileType *g = DGifOpen(
        &r,
        [](GifFileType *f, GifByteType *buf, int n) {
            auto *rd = static_cast<Reader *>(f->UserData);
            n = std::min(n, int(rd->data->size()) - rd->pos);
            std::memcpy(buf, rd->data->constData() + rd->pos, size_t(n));
            rd->pos += n;
            return n;
        },
        &err);
    if (!g || DGifSlurp(g) != GIF_OK)
        return -1;
    long long sum = g->SavedImages[0].RasterBits[g->SWidth * g->SHeight / 2];
    DGifCloseFile(g, &err);
    return sum;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int w = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int h = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    const QByteArray gif = encode(w, h);
    std::printf("picture: %d x %d, %lld bytes\n", w, h, static_cast<long long>(gif.size()));
    std::vector<double> ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        GifDecoder decoder;
        const auto img =
            decoder.decode(reinterpret_cast<const uint8_t *>(gif.constData()), size_t(gif.size()));
        ours.push_back(t.nsecsElapsed() / 1e9);
        if (!img) {
            std::fprintf(stderr, "decoder refused the picture\n");
            return 1;
        }
        t.restart();
        if (giflibDecode(gif) < 0) {
            std::fprintf(stderr, "giflib refused the picture\n");
            return 1;
        }
        theirs.push_back(t.nsecsElapsed() / 1e9);
    }
    std::printf("median: GifDecoder %.4f s, giflib DGifSlurp %.4f s, ratio %.3f (target <= 1.5)\n",
                median(ours), median(theirs), median(ours) / median(theirs));
    return 0;
}
