#include "cramfsreader.h"
#include "testfiles.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

using devsim::CramfsEntry;
using devsim::CramfsReader;
using namespace devsimtest;

namespace
{

std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 31 + seed * 7 + (i >> 5)) & 0xff);
    return s;
}

// Recomputes the superblock CRC after a deliberate change, so that deeper checks are reached.
void fixCrc(std::string &img)
{
    std::memset(&img[32], 0, 4);
    uint32_t size;
    std::memcpy(&size, &img[4], 4);
    size = uint32_t(std::min<size_t>(size, img.size()));
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(img.data()), uInt(size));
    const uint32_t c = uint32_t(crc);
    std::memcpy(&img[32], &c, 4);
}

const uint8_t *bytesIn(const std::string &s)
{
    return reinterpret_cast<const uint8_t *>(s.data());
}

class CramfsReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTool("/usr/sbin/mkfs.cramfs"))
            GTEST_SKIP() << "mkfs.cramfs not installed";
        const std::string src = dir / "src";
        ::mkdir(src.c_str(), 0755);
        ::mkdir((src + "/VideoLoss").c_str(), 0755);
        ::mkdir((src + "/VideoBlank").c_str(), 0755);
        ::mkdir((src + "/Colse").c_str(), 0755);
        files = {
            {"h264dvr.jpg", pattern(10000, 1)},
            {"VideoLoss/videoLoss.gif", pattern(4097, 2)},
            {"VideoBlank/blind.gif", pattern(4096, 3)},
            {"VideoBlank/copy.gif", pattern(4097, 2)}, // same bytes as videoLoss.gif: stored once
            {"AppDowloadLink.custom", "{\n   \"AndroidEnable\" : true\n}\n"},
            {"empty.txt", ""},
        };
        for (const auto &f : files)
            writeFile(src + "/" + f.first, f.second);
        image = mkCramfs(src, dir / "image.cramfs");
        ASSERT_FALSE(image.empty()) << "mkfs.cramfs failed";
    }

    TempDir dir;
    std::map<std::string, std::string> files;
    std::string image;
};

TEST_F(CramfsReaderTest, ReadsEveryEntryOfAnImageMadeByMkfsCramfs)
{
    std::vector<CramfsEntry> entries;
    std::string error;
    ASSERT_TRUE(CramfsReader::read(bytesIn(image), image.size(), &entries, &error)) << error;
    std::map<std::string, std::string> seen;
    std::vector<std::string> dirs;
    for (const auto &e : entries) {
        if (e.isDir)
            dirs.push_back(e.path);
        else
            seen[e.path] = std::string(e.data.begin(), e.data.end());
    }
    EXPECT_EQ(seen, files);
    EXPECT_EQ(dirs, (std::vector<std::string>{"Colse", "VideoBlank", "VideoLoss"}));
}

TEST_F(CramfsReaderTest, ExtractWritesTheFilesBelowTheTarget)
{
    const std::string out = dir / "out";
    ::mkdir(out.c_str(), 0755);
    std::vector<std::string> written;
    std::string error;
    ASSERT_TRUE(CramfsReader::extract(bytesIn(image), image.size(), out, &written, &error)) << error;
    EXPECT_EQ(written.size(), files.size());
    for (const auto &f : files)
        EXPECT_EQ(readFile(out + "/" + f.first), f.second) << f.first;
}

TEST_F(CramfsReaderTest, RefusesDamagedImages)
{
    struct Case {
        const char *what;
        std::function<void(std::string &)> damage;
        const char *error;
    };
    const Case cases[] = {
        {"a changed data byte", [](std::string &s) { s[s.size() / 2] ^= 0x40; }, "CRC"},
        {"bad magic", [](std::string &s) { s[0] = 0; }, "magic"},
        {"truncated", [](std::string &s) { s.resize(s.size() - 100); }, "size"},
        {"too short for a superblock", [](std::string &s) { s.resize(40); }, "magic"},
        {"entry renamed to ..",
         [](std::string &s) {
             const size_t at = s.find("h264dvr.jpg");
             std::memcpy(&s[at], "..\0\0\0\0\0\0\0\0\0\0", 12);
             fixCrc(s);
         },
         "unsafe"},
    };
    for (const Case &c : cases) {
        std::string img = image;
        c.damage(img);
        std::vector<CramfsEntry> entries;
        std::string error;
        EXPECT_FALSE(CramfsReader::read(bytesIn(img), img.size(), &entries, &error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
}

// Every single-byte change with a correct CRC either reads or is refused with a reason; run under
// the sanitizer build this also proves no read leaves the image.
TEST_F(CramfsReaderTest, SurvivesEveryByteFlippedWithAValidCrc)
{
    uint32_t size;
    std::memcpy(&size, &image[4], 4);
    for (size_t i = 0; i < size; i += 3) {
        if (i >= 32 && i < 36)
            continue;
        std::string img = image;
        img[i] ^= char(0xA5);
        fixCrc(img);
        std::vector<CramfsEntry> entries;
        std::string error;
        const bool ok = CramfsReader::read(bytesIn(img), img.size(), &entries, &error);
        EXPECT_TRUE(ok || !error.empty()) << "byte " << i << " refused without a reason";
    }
}

} // namespace
