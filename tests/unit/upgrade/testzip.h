#pragma once

// Builds small zip archives for the firmware tests (minizip).

#include <minizip/zip.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testzip
{

using Entry = std::pair<std::string, std::string>; // name, content

/// Writes `entries` into a new archive at `path`; `store` skips compression. False on any error.
inline bool write(const std::string &path, const std::vector<Entry> &entries, bool store = false)
{
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    bool ok = true;
    for (const Entry &e : entries) {
        zip_fileinfo info = {};
        if (zipOpenNewFileInZip64(zf, e.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  store ? 0 : Z_DEFLATED, store ? 0 : 6, 1) != ZIP_OK) {
            ok = false;
            break;
        }
        if (!e.second.empty() &&
            zipWriteInFileInZip(zf, e.second.data(), unsigned(e.second.size())) != ZIP_OK)
            ok = false;
        zipCloseFileInZip(zf);
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

/// An upgrade package: InstallDesc naming `hardware`, plus a firmware image of `imageSize` bytes of
/// noise, stored uncompressed, so the package is a little larger than the image.
inline bool writePackage(const std::string &path, const std::string &hardware, size_t imageSize = 4096)
{
    std::string image(imageSize, '\0');
    uint64_t x = 0x9e3779b97f4a7c15ull ^ imageSize;
    for (size_t i = 0; i < imageSize; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        image[i] = char(x >> 24);
    }
    const std::string desc = "{\n   \"Hardware\" : \"" + hardware + "\",\n   \"Vendor\" : \"General\"\n}\n";
    return write(path, {{"InstallDesc", desc}, {"u-boot.bin.img", image}}, true);
}

} // namespace testzip
