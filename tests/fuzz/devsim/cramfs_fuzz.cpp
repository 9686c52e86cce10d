// libFuzzer target: the simulator's cramfs reader, as a device reads a logo image before burning it
// (checks, listing, and extraction below a scratch directory that nothing may leave). Each input is
// read as it is and once more with its CRC made right, so that the search gets past the checksum
// into the directory and block parsing.
#include "cramfsreader.h"
#include "fuzztemp.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace
{

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void readImage(const uint8_t *data, size_t size)
{
    std::string error;
    devsim::CramfsReader::verify(data, size, &error);
    std::vector<devsim::CramfsEntry> entries;
    if (!devsim::CramfsReader::read(data, size, &entries, &error))
        return;
    const std::string dest = fuzztemp::dir() + "/x";
    mkdir(dest.c_str(), 0700);
    std::vector<std::string> written;
    devsim::CramfsReader::extract(data, size, dest, &written, &error);
    for (const std::string &w : written) {
        // A name may hold dots ("a..b"); only an absolute path or a ".." step leaves the directory.
        bool climbs = w.empty() || w[0] == '/';
        for (size_t at = 0; at <= w.size() && !climbs;) {
            const size_t slash = std::min(w.find('/', at), w.size());
            climbs = w.compare(at, slash - at, "..") == 0;
            at = slash + 1;
        }
        if (climbs) {
            std::fprintf(stderr, "extracted outside the directory: %s\n", w.c_str());
            std::abort();
        }
    }
    if (std::system(("rm -rf '" + dest + "'").c_str()) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    readImage(data, size);
    // The superblock's CRC covers the image as its size field states, with the CRC field as zeros.
    if (size < 64)
        return 0;
    const uint32_t imageSize = le32(data + 4);
    if (imageSize < 64 || imageSize > size)
        return 0;
    std::vector<uint8_t> fixed(data, data + size);
    std::memset(fixed.data() + 32, 0, 4);
    const uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), fixed.data(), uInt(imageSize)));
    for (int i = 0; i < 4; ++i)
        fixed[32 + i] = uint8_t(crc >> (8 * i));
    readImage(fixed.data(), fixed.size());
    return 0;
}
