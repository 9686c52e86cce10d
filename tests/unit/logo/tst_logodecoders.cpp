#include "logo/gifdecoder.h"
#include "logo/jpegdecoder.h"
#include "logo/logocheck.h"

#include "logotestutil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace logotest;

namespace
{

uint16_t pixelAt(const DecodedImage &img, int x, int y)
{
    uint16_t v;
    std::memcpy(&v, img.pixels.data() + size_t(y) * size_t(img.stride) + size_t(x) * 2, 2);
    return v;
}

std::optional<DecodedImage> decodeGif(const QByteArray &b, GifDecoder *decoder = nullptr)
{
    GifDecoder local;
    GifDecoder &d = decoder ? *decoder : local;
    return d.decode(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()));
}

} // namespace

// ---- colour packing ----

struct PackCase {
    int format, r, g, b;
    uint16_t expected;
};

class PackColor : public ::testing::TestWithParam<PackCase>
{
};

TEST_P(PackColor, Packs)
{
    const PackCase &c = GetParam();
    EXPECT_EQ(packColor16(c.format, c.r, c.g, c.b), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PackColor,
                         ::testing::Values(PackCase{0, 255, 255, 255, 0x7FFF}, PackCase{0, 0, 0, 0, 0},
                                           PackCase{0, 255, 0, 0, 0x7C00}, PackCase{0, 0, 255, 0, 0x03E0},
                                           PackCase{0, 0, 0, 255, 0x001F}, PackCase{0, -5, 300, 8, 0x03E1},
                                           PackCase{1, 255, 255, 255, 0xFFFF}, PackCase{1, 0, 255, 0, 0x07E0},
                                           PackCase{1, 300, -1, 7, 0xF800}, PackCase{2, 1, 2, 3, 0xFF00},
                                           PackCase{-1, 1, 2, 3, 0xFF00}));

// ---- GIF: pictures made by giflib decode to the same pixels ----

struct GifCase {
    int width, height, colours;
    bool interlaced, version89;
};

class GifRoundTrip : public ::testing::TestWithParam<GifCase>
{
};

TEST_P(GifRoundTrip, MatchesEncoder)
{
    const GifCase &c = GetParam();
    std::mt19937 rng(uint32_t(c.width * 131 + c.height));
    std::vector<uint8_t> idx(size_t(c.width) * size_t(c.height));
    // Runs and noise mixed, so the dictionary fills, widens and gets cleared.
    for (size_t i = 0; i < idx.size(); ++i)
        idx[i] = uint8_t((rng() % 4 == 0 ? rng() : i / 7) % uint32_t(c.colours));
    const auto palette = greyPalette(c.colours);
    const QByteArray gif = makeGif(c.width, c.height, idx, palette, c.interlaced, c.version89);
    ASSERT_FALSE(gif.isEmpty());

    GifDecoder decoder;
    const auto img = decodeGif(gif, &decoder);
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(img->width, c.width);
    EXPECT_EQ(img->height, c.height);
    EXPECT_EQ(img->pixelFormat, 0);
    EXPECT_EQ(img->stride, (c.width * 2 + 3) & ~3);
    EXPECT_EQ(img->pixels.size(), size_t((c.width + 1) & ~1) * 2 * size_t(c.height));
    EXPECT_EQ(decoder.imagesCompleted(), 1);
    int mismatches = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const GifColorType &col = palette[idx[size_t(y) * size_t(c.width) + size_t(x)]];
            if (pixelAt(*img, x, y) != packColor16(0, col.Red, col.Green, col.Blue))
                ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, GifRoundTrip,
                         ::testing::Values(GifCase{1, 1, 2, false, true}, GifCase{7, 5, 4, false, true},
                                           GifCase{7, 5, 4, true, true}, GifCase{200, 100, 16, false, false},
                                           GifCase{200, 100, 256, true, true}, GifCase{3, 13, 2, true, true},
                                           GifCase{640, 480, 256, false, true}));

// ---- GIF: streams out of the ordinary ----

struct GifStreamCase {
    const char *name;
    QByteArray (*make)();
    bool accepted;
};

namespace
{

std::vector<int> ramp(int n)
{
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = i % 4;
    return v;
}

QByteArray goodGif()
{
    return RawGif().header(4, 3).image(0, 0, 4, 3).literals(ramp(12)).trailer().bytes;
}

} // namespace

class GifStream : public ::testing::TestWithParam<GifStreamCase>
{
};

TEST_P(GifStream, Verdict)
{
    const QByteArray gif = GetParam().make();
    EXPECT_EQ(decodeGif(gif).has_value(), GetParam().accepted) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GifStream,
    ::testing::Values(
        GifStreamCase{"complete", [] { return goodGif(); }, true},
        GifStreamCase{"no trailer", [] { return goodGif().chopped(1); }, true},
        GifStreamCase{
            "data ends inside the image",
            [] { return RawGif().header(40, 30).image(0, 0, 40, 30).literals(ramp(1200)).bytes.left(300); },
            true},
        GifStreamCase{"ends after the screen descriptor", [] { return RawGif().header(4, 3).bytes; }, true},
        GifStreamCase{"ends inside the signature", [] { return QByteArray("GIF8"); }, false},
        GifStreamCase{"bad signature", []() -> QByteArray { return QByteArray("GIF88a") + goodGif().mid(6); },
                      false},
        GifStreamCase{"87a",
                      [] {
                          return RawGif()
                              .header(4, 3, 4, "GIF87a")
                              .image(0, 0, 4, 3)
                              .literals(ramp(12))
                              .trailer()
                              .bytes;
                      },
                      true},
        GifStreamCase{
            "end code before the last row",
            [] { return RawGif().header(4, 3).image(0, 0, 4, 3).literals(ramp(8)).trailer().bytes; }, false},
        GifStreamCase{"unknown byte after the first image",
                      []() -> QByteArray { return goodGif().chopped(1) + QByteArray("\x99garbage"); }, true},
        GifStreamCase{"unknown byte before any image", [] { return RawGif().header(4, 3).raw("\x99").bytes; },
                      false},
        GifStreamCase{
            "no colour table at all",
            [] { return RawGif().header(4, 3, 0).image(0, 0, 4, 3).literals(ramp(12)).trailer().bytes; },
            false},
        GifStreamCase{"local colour table only",
                      [] {
                          return RawGif()
                              .header(4, 3, 0)
                              .image(0, 0, 4, 3, 0x81)
                              .raw(QByteArray(12, '\x10'))
                              .literals(ramp(12))
                              .trailer()
                              .bytes;
                      },
                      true},
        GifStreamCase{"minimum code size 13",
                      [] { return RawGif().header(4, 3).image(0, 0, 4, 3).codes(13, {8192}, 14).bytes; },
                      false},
        GifStreamCase{"zero-sized image on a zero-sized screen",
                      [] { return RawGif().header(0, 0).image(0, 0, 0, 0).literals(ramp(1)).bytes; }, false},
        GifStreamCase{
            "code that is its own prefix",
            [] {
                return RawGif().header(4, 3).image(0, 0, 4, 3).codes(8, {256, 258, 258, 258}, 9).bytes;
            },
            false},
        GifStreamCase{
            "prefix cycle overflows the stack",
            [] {
                return RawGif().header(40, 30).image(0, 0, 40, 30).codes(8, {256, 259, 258, 0, 258}, 9).bytes;
            },
            false},
        GifStreamCase{"netscape loop block",
                      [] {
                          return RawGif()
                              .header(4, 3)
                              .raw(QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x05\x00\x00", 19))
                              .image(0, 0, 4, 3)
                              .literals(ramp(12))
                              .trailer()
                              .bytes;
                      },
                      true},
        GifStreamCase{"loop block with an unknown kind",
                      [] {
                          return RawGif()
                              .header(4, 3)
                              .raw(QByteArray("\x21\xFF\x0B"
                                              "ANIMEXTS1.0\x03\x03\x05\x00\x00",
                                              19))
                              .image(0, 0, 4, 3)
                              .literals(ramp(12))
                              .trailer()
                              .bytes;
                      },
                      false},
        GifStreamCase{"comment and unknown extensions are skipped",
                      [] {
                          return RawGif()
                              .header(4, 3)
                              .raw(QByteArray("\x21\xFE\x03"
                                              "abc\x02xy\x00\x21\x01\x01z\x00",
                                              14))
                              .image(0, 0, 4, 3)
                              .literals(ramp(12))
                              .trailer()
                              .bytes;
                      },
                      true}),
    [](const ::testing::TestParamInfo<GifStreamCase> &info) {
        std::string n = info.param.name;
        for (char &c : n)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST(GifDecoder, ReadsExtensionValues)
{
    const QByteArray gif = RawGif()
                               .header(4, 3)
                               .raw(QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x05\x00\x00", 19))
                               .raw(QByteArray("\x21\xF9\x04\x01\x0A\x00\x02\x00", 8))
                               .image(0, 0, 4, 3)
                               .literals(ramp(12))
                               .trailer()
                               .bytes;
    GifDecoder d;
    ASSERT_TRUE(decodeGif(gif, &d).has_value());
    EXPECT_EQ(d.loopCount(), 5);
    EXPECT_EQ(d.delayMs(), 100);
    EXPECT_EQ(d.transparentIndex(), 2);
    EXPECT_EQ(d.version(), 89);
}

TEST(GifDecoder, TwoImagesInARow)
{
    const QByteArray gif = RawGif()
                               .header(4, 3)
                               .image(0, 0, 4, 3)
                               .literals(ramp(12))
                               .image(1, 1, 2, 2)
                               .literals({3, 3, 3, 3})
                               .trailer()
                               .bytes;
    GifDecoder d;
    const auto img = decodeGif(gif, &d);
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(d.imagesCompleted(), 2);
    EXPECT_EQ(pixelAt(*img, 0, 0), packColor16(0, 0, 0, 0));
    EXPECT_EQ(pixelAt(*img, 1, 1), packColor16(0, 120, 60, 30)); // second image's colour 3
}

// A first image larger than the screen, or placed beyond it, is clipped to the header's raster.
struct ClipCase {
    int screenW, screenH, left, top, w, h, firstImages;
};

class GifClip : public ::testing::TestWithParam<ClipCase>
{
};

TEST_P(GifClip, StaysInsideRaster)
{
    const ClipCase &c = GetParam();
    RawGif g;
    g.header(c.screenW, c.screenH);
    for (int i = 0; i < c.firstImages; ++i)
        g.image(0, 0, 1, 1).literals({1});
    std::vector<int> px(size_t(c.w) * size_t(c.h), 2);
    g.image(c.left, c.top, c.w, c.h).literals(px).trailer();
    const auto img = decodeGif(g.bytes);
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(img->width, c.screenW);
    EXPECT_EQ(img->height, c.screenH);
    EXPECT_EQ(img->pixels.size(), size_t((c.screenW + 1) & ~1) * 2 * size_t(c.screenH));
}

INSTANTIATE_TEST_SUITE_P(Table, GifClip,
                         ::testing::Values(ClipCase{4, 3, 0, 0, 30, 20, 0}, ClipCase{4, 3, 2, 2, 30, 20, 1},
                                           ClipCase{4, 3, 60000, 60000, 3, 3, 1},
                                           ClipCase{5, 1, 3, 0, 5, 1, 1}, ClipCase{0, 0, 0, 0, 6, 6, 0}));

TEST(GifDecoder, RefusesHugeRaster)
{
    const QByteArray gif = RawGif().header(65535, 65535).image(0, 0, 1, 1).literals({1}).trailer().bytes;
    GifDecoder d(1 << 20);
    EXPECT_FALSE(decodeGif(gif, &d).has_value());
}

// ---- JPEG ----

struct JpegCase {
    int width, height;
    bool grey;
    int format;
    int expectedWidth, expectedStride;
};

class JpegDecode : public ::testing::TestWithParam<JpegCase>
{
};

TEST_P(JpegDecode, Dimensions)
{
    const JpegCase &c = GetParam();
    const QByteArray jpg = makeJpeg(c.width, c.height, c.grey);
    const auto img =
        decodeJpegData(reinterpret_cast<const uint8_t *>(jpg.constData()), size_t(jpg.size()), c.format);
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(img->width, c.expectedWidth);
    EXPECT_EQ(img->height, c.height);
    EXPECT_EQ(img->stride, c.expectedStride);
    EXPECT_EQ(img->pixels.size(), size_t(c.expectedStride) * size_t(c.height + 1));
}

INSTANTIATE_TEST_SUITE_P(Table, JpegDecode,
                         ::testing::Values(JpegCase{800, 600, false, 0, 800, 1600},
                                           JpegCase{801, 600, false, 0, 800, 1602},
                                           JpegCase{33, 17, true, 0, 32, 66},
                                           JpegCase{33, 17, false, 2, 32, 99},
                                           JpegCase{1, 1, false, 1, 0, 2}));

TEST(JpegDecode, PixelsArePacked)
{
    const QByteArray jpg = makeJpeg(16, 16, false, 100);
    const auto img =
        decodeJpegData(reinterpret_cast<const uint8_t *>(jpg.constData()), size_t(jpg.size()), 0);
    ASSERT_TRUE(img.has_value());
    // The fixture's blue channel is 128 everywhere: 5-bit blue 16, give or take the codec.
    const int blue = pixelAt(*img, 8, 8) & 0x1F;
    EXPECT_NEAR(blue, 16, 1);
}

TEST(JpegDecode, BadInputYieldsNothing)
{
    QString error;
    const QByteArray jpg = makeJpeg(64, 64);
    const QByteArray cases[] = {QByteArray(), QByteArray("not a jpeg at all"), jpg.left(20), goodGif()};
    for (const QByteArray &b : cases) {
        EXPECT_FALSE(decodeJpegData(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()), 0,
                                    kMaxLogoRasterBytes, &error)
                         .has_value());
        EXPECT_FALSE(error.isEmpty());
    }
    // Too large for the caller's bound: refused before the library sizes its buffers.
    EXPECT_FALSE(
        decodeJpegData(reinterpret_cast<const uint8_t *>(jpg.constData()), size_t(jpg.size()), 0, 1000)
            .has_value());
}

// ---- the logo check ----

class LogoCheckTest : public ::testing::Test
{
protected:
    QString file(const QString &name, const QByteArray &data)
    {
        const QString p = dir.filePath(name);
        EXPECT_TRUE(writeFile(p, data));
        return p;
    }
    // A picture followed by zeros up to `size` bytes, as a sparse file: cheap however large.
    QString sparse(const QString &name, const QByteArray &data, qint64 size)
    {
        const QString p = file(name, data);
        EXPECT_TRUE(QFile::resize(p, size));
        return p;
    }
    static QByteArray padded(QByteArray b, int size)
    {
        // Bytes after the end-of-image marker are never read by the decoder.
        b.append(QByteArray(size - b.size(), '\0'));
        return b;
    }
    QTemporaryDir dir;
};

TEST_F(LogoCheckTest, Table)
{
    const QString good = file("boot.jpg", makeJpeg(800, 600));
    const QString gif = file("loss.gif", goodGif());
    const QString jpegAsGif = file("jpeg.gif", makeJpeg(100, 50));
    const QString broken =
        file("broken.gif", RawGif().header(4, 3).image(0, 0, 4, 3).literals(ramp(8)).bytes);
    ASSERT_LT(readFile(good).size(), 120000);

    struct Case {
        const char *name;
        LogoPaths paths;
        int nType;
        LogoCheck::Result result;
    } cases[] = {
        {"empty boot, others chosen", {QString(), good, gif, gif}, 0, LogoCheck::NoBootLogo},
        {"exactly 120000 bytes", {file("b120000.jpg", padded(makeJpeg(800, 600), 120000))}, 1, LogoCheck::Ok},
        {"120001 bytes",
         {file("b120001.jpg", padded(makeJpeg(800, 600), 120001))},
         1,
         LogoCheck::BootTooLarge},
        {"missing boot file", {dir.filePath("nothing.jpg")}, 1, LogoCheck::BootAbnormal},
        {"boot is a GIF", {gif}, 1, LogoCheck::BootAbnormal},
        {"800 x 600", {good}, 1, LogoCheck::Ok},
        {"800 x 601", {file("b800x601.jpg", makeJpeg(800, 601))}, 1, LogoCheck::BootBadDimensions},
        {"801 x 600", {file("b801x600.jpg", makeJpeg(801, 600))}, 1, LogoCheck::Ok},
        {"802 x 600", {file("b802x600.jpg", makeJpeg(802, 600))}, 1, LogoCheck::BootBadDimensions},
        {"1 x 1 rounds to zero width", {file("b1x1.jpg", makeJpeg(1, 1))}, 1, LogoCheck::BootBadDimensions},
        {"greyscale boot", {file("grey.jpg", makeJpeg(320, 200, true))}, 1, LogoCheck::Ok},
        {"JPEG under a .gif name", {good, QString(), jpegAsGif}, 1, LogoCheck::LossAbnormal},
        {"GIF ending early", {good, QString(), broken}, 1, LogoCheck::LossAbnormal},
        {"bad shutdown logo", {good, gif, gif}, 1, LogoCheck::CloseAbnormal},
        {"big shutdown logo has no limit",
         {good, file("close.jpg", makeJpeg(1920, 1080)), gif, gif},
         1,
         LogoCheck::Ok},
        {"bad blind logo", {good, QString(), gif, jpegAsGif}, 1, LogoCheck::BlindAbnormal},
        {"all four good", {good, good, gif, gif}, 0, LogoCheck::Ok},
        // Every picture read is bounded: a file that no logo comes near is refused, never read whole.
        {"shutdown logo at the picture limit",
         {good, sparse("close16.jpg", makeJpeg(64, 64), LogoCheck::kMaxPictureBytes)},
         1,
         LogoCheck::Ok},
        {"shutdown logo above the picture limit",
         {good, sparse("close17.jpg", makeJpeg(64, 64), LogoCheck::kMaxPictureBytes + 1)},
         1,
         LogoCheck::PictureTooLarge},
        {"loss logo above the picture limit",
         {good, QString(), sparse("loss17.gif", goodGif(), LogoCheck::kMaxPictureBytes + 1)},
         1,
         LogoCheck::PictureTooLarge},
        {"blind logo above the picture limit",
         {good, QString(), gif, sparse("blind17.gif", goodGif(), LogoCheck::kMaxPictureBytes + 1)},
         1,
         LogoCheck::PictureTooLarge},
    };
    for (const Case &c : cases) {
        const LogoCheck::Outcome o = LogoCheck::check(c.paths, c.nType);
        EXPECT_EQ(o.result, c.result) << c.name;
    }
}

TEST_F(LogoCheckTest, Messages)
{
    const QString good = file("boot.jpg", makeJpeg(640, 480));
    EXPECT_EQ(LogoCheck::check({good}, 0).message, QStringLiteral("Logo meets requirements"));
    EXPECT_TRUE(LogoCheck::check({good}, 1).message.isEmpty()); // the silent pre-check
    EXPECT_EQ(LogoCheck::check({}, 1).message, QStringLiteral("Please select logo first"));
    EXPECT_EQ(LogoCheck::check({file("b.jpg", makeJpeg(800, 601))}, 1).message,
              QStringLiteral("Logo cannot be used,please check whether the picture meets the requirements "));
    EXPECT_EQ(LogoCheck::check({good, QString(), dir.filePath("none.gif")}, 0).message,
              QStringLiteral("Channel logo is abnormal"));
    const QString huge = sparse("huge.jpg", makeJpeg(64, 64), 1LL << 33);
    EXPECT_EQ(LogoCheck::check({good, huge}, 0).message,
              QStringLiteral("A logo picture cannot be larger than 16 MB: %1").arg(huge));
}
