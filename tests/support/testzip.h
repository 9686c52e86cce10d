#pragma once

// Builds small zip archives for the firmware tests (minizip).

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
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

/// A zip bomb: InstallDesc naming `hardware`, then a member of `zeroBytes` zeros, deflated as a
/// stream so that neither the zeros nor the archive are ever held whole. A few hundred MiB of zeros
/// make an archive of well under 1 MiB.
inline bool writeBomb(const std::string &path, const std::string &hardware, uint64_t zeroBytes)
{
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    const std::string desc = "{ \"Hardware\" : \"" + hardware + "\" }";
    zip_fileinfo info = {};
    bool ok = zipOpenNewFileInZip64(zf, "InstallDesc", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6,
                                    1) == ZIP_OK &&
              zipWriteInFileInZip(zf, desc.data(), unsigned(desc.size())) == ZIP_OK &&
              zipCloseFileInZip(zf) == ZIP_OK;
    // Raw mode: we deflate ourselves and state the sizes and CRC at the end.
    int method = Z_DEFLATED, level = 1;
    ok = ok && zipOpenNewFileInZip2_64(zf, "image.bin", &info, nullptr, 0, nullptr, 0, nullptr, method, level,
                                       1, 1) == ZIP_OK;
    z_stream z = {};
    ok = ok && deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    std::vector<unsigned char> zeros(1 << 20, 0), out(1 << 16);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t left = zeroBytes;
    while (ok) {
        const unsigned chunk = unsigned(std::min<uint64_t>(left, zeros.size()));
        crc = crc32(crc, zeros.data(), chunk);
        left -= chunk;
        z.next_in = zeros.data();
        z.avail_in = chunk;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int rc = Z_OK;
        do {
            z.next_out = out.data();
            z.avail_out = unsigned(out.size());
            rc = deflate(&z, flush);
            const unsigned have = unsigned(out.size() - z.avail_out);
            if (have > 0 && zipWriteInFileInZip(zf, out.data(), have) != ZIP_OK)
                ok = false;
        } while (ok && z.avail_out == 0);
        if (flush == Z_FINISH) {
            ok = ok && rc == Z_STREAM_END;
            break;
        }
    }
    deflateEnd(&z);
    ok = zipCloseFileInZipRaw64(zf, zeroBytes, crc) == ZIP_OK && ok;
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

/// How patchMember spoils a member that was written stored.
struct Patch {
    int method = -1;        ///< a compression method to state instead (-1: keep), e.g. 12 = bzip2
    uint16_t flagsOr = 0;   ///< general-purpose flags to add, e.g. 1 = encrypted
    bool flipData = false;  ///< flip the member's first data byte (its CRC no longer matches)
    bool wrongSize = false; ///< state one byte more than the member holds
};

/// Changes the headers (or the data) of the stored member `name` in the archive at `path`, the way
/// an archiver with other methods, an encrypting one, or a broken disk would have left it.
inline bool patchMember(const std::string &path, const std::string &name, const Patch &patch)
{
    std::string zip;
    {
        std::ifstream in(path, std::ios::binary);
        zip.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto put16 = [&zip](size_t at, uint16_t v) {
        zip[at] = char(v & 0xff);
        zip[at + 1] = char(v >> 8);
    };
    auto get16 = [&zip](size_t at) { return uint16_t(uint8_t(zip[at]) | uint8_t(zip[at + 1]) << 8); };
    auto get32 = [&](size_t at) { return uint32_t(get16(at)) | uint32_t(get16(at + 2)) << 16; };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, uint16_t(v & 0xffff));
        put16(at + 2, uint16_t(v >> 16));
    };
    int patched = 0;
    // Local headers: "PK\3\4", name length at 26, name at 30; central: "PK\1\2", name length at 28,
    // name at 46. Flags at 6/8, method at 8/10, sizes at 22/24.
    for (size_t i = 0; i + 46 < zip.size(); ++i) {
        const bool local = zip.compare(i, 4, "PK\3\4") == 0;
        const bool central = zip.compare(i, 4, "PK\1\2") == 0;
        if (!local && !central)
            continue;
        const size_t nameAt = i + (local ? 30 : 46);
        const uint16_t nameLen = get16(i + (local ? 26 : 28));
        if (nameLen != name.size() || zip.compare(nameAt, nameLen, name) != 0)
            continue;
        const size_t flags = i + (local ? 6 : 8), method = flags + 2, size = i + (local ? 22 : 24);
        put16(flags, uint16_t(get16(flags) | patch.flagsOr));
        if (patch.method >= 0)
            put16(method, uint16_t(patch.method));
        if (patch.wrongSize)
            put32(size, get32(size) + 1);
        if (local && patch.flipData)
            zip[nameAt + nameLen + get16(i + 28)] ^= 0x20;
        ++patched;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(zip.data(), std::streamsize(zip.size()));
    return patched == 2 && bool(out);
}

} // namespace testzip
