#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace devsim
{

/// One entry of a cramfs image, path relative to its root with "/" between levels.
struct CramfsEntry {
    std::string path;
    uint32_t mode = 0;
    uint32_t size = 0; ///< files: byte length; directories: bytes of their entries
    bool isDir = false;
    std::vector<uint8_t> data; ///< files and symbolic links: the uncompressed content
};

/// Reads a cramfs (version 2 layout, zlib blocks, little-endian) image the way a device's boot
/// code would before burning it: the image is not trusted, every offset and length is bounded.
class CramfsReader
{
public:
    /// Checks magic, size, flags and the image CRC only.
    static bool verify(const uint8_t *image, size_t size, std::string *error);
    /// Verifies, then lists every entry (pre-order) with file contents decompressed.
    static bool read(const uint8_t *image, size_t size, std::vector<CramfsEntry> *entries,
                     std::string *error);
    /// Reads the image and writes its directories and regular files below destDir
    /// (which must exist). Fills the list of files written, relative to destDir.
    static bool extract(const uint8_t *image, size_t size, const std::string &destDir,
                        std::vector<std::string> *written, std::string *error);

    static constexpr uint32_t kMagic = 0x28CD3D45;
};

} // namespace devsim
