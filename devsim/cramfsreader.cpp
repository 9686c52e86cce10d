#include "cramfsreader.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/stat.h>

namespace devsim
{

namespace
{

constexpr size_t kSuperSize = 76;
constexpr size_t kBlockSize = 4096;
constexpr uint32_t kFlagVersion2 = 0x1;
constexpr uint32_t kFlagSorted = 0x2;
constexpr uint32_t kFlagHoles = 0x100;
constexpr uint32_t kFlagWrongSignature = 0x200;
constexpr uint32_t kFlagShiftedRoot = 0x400;
constexpr int kMaxDepth = 64;
// Guards against a hostile image inflating far beyond what a logo partition can hold.
constexpr uint64_t kMaxTotalBytes = 256u << 20;

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Inode {
    uint32_t mode, uid, size, gid, nameLen, offset;
};

Inode decodeInode(const uint8_t *p)
{
    const uint32_t w0 = le32(p), w1 = le32(p + 4), w2 = le32(p + 8);
    return Inode{w0 & 0xffff, w0 >> 16, w1 & 0xffffff, w1 >> 24, (w2 & 0x3f) * 4, (w2 >> 6) * 4};
}

struct Walker {
    const uint8_t *img;
    size_t size;
    uint32_t flags;
    std::string *error;
    std::vector<CramfsEntry> *out;
    std::set<uint32_t> seenDirs;
    uint64_t total = 0;

    bool fail(const std::string &msg)
    {
        *error = msg;
        return false;
    }

    bool readData(const Inode &ino, const std::string &path, std::vector<uint8_t> *data)
    {
        data->clear();
        if (ino.size == 0)
            return true;
        total += ino.size;
        if (total > kMaxTotalBytes)
            return fail("cramfs: content too large");
        const uint64_t blocks = (uint64_t(ino.size) - 1) / kBlockSize + 1;
        const uint64_t tableEnd = uint64_t(ino.offset) + blocks * 4;
        if (ino.offset < kSuperSize || tableEnd > size)
            return fail("cramfs: block table of " + path + " outside the image");
        data->resize(ino.size);
        uint64_t start = tableEnd;
        for (uint64_t b = 0; b < blocks; ++b) {
            const uint32_t end = le32(img + ino.offset + b * 4);
            const size_t want = std::min<size_t>(kBlockSize, ino.size - b * kBlockSize);
            uint8_t *dst = data->data() + b * kBlockSize;
            if (end & 0xC0000000u)
                return fail("cramfs: unsupported block flags in " + path);
            if (end < start || end > size)
                return fail("cramfs: block pointer of " + path + " outside the image");
            if (end == start) {
                if (!(flags & kFlagHoles))
                    return fail("cramfs: empty block in " + path);
                std::memset(dst, 0, want);
                continue;
            }
            uLongf got = uLongf(want);
            const int rc = uncompress(dst, &got, img + start, uLong(end - start));
            if (rc != Z_OK || got != want)
                return fail("cramfs: block " + std::to_string(b) + " of " + path + " does not decompress");
            start = end;
        }
        return true;
    }

    bool walkDir(const Inode &dir, const std::string &prefix, int depth)
    {
        if (depth > kMaxDepth)
            return fail("cramfs: directories nested too deeply");
        if (dir.size == 0)
            return true;
        if (!seenDirs.insert(dir.offset).second)
            return fail("cramfs: directory listed twice");
        uint64_t pos = dir.offset;
        const uint64_t end = pos + dir.size;
        if (pos < kSuperSize || end > size)
            return fail("cramfs: directory " + prefix + " outside the image");
        while (pos < end) {
            if (pos + 12 > end)
                return fail("cramfs: truncated directory entry");
            const Inode ino = decodeInode(img + pos);
            pos += 12;
            if (ino.nameLen == 0 || pos + ino.nameLen > end)
                return fail("cramfs: bad name length");
            const char *name = reinterpret_cast<const char *>(img + pos);
            const size_t len = strnlen(name, ino.nameLen);
            std::string entryName(name, len);
            pos += ino.nameLen;
            if (entryName.empty() || entryName == "." || entryName == ".." ||
                entryName.find('/') != std::string::npos)
                return fail("cramfs: unsafe entry name");
            CramfsEntry e;
            e.path = prefix.empty() ? entryName : prefix + "/" + entryName;
            e.mode = ino.mode;
            e.size = ino.size;
            e.isDir = S_ISDIR(ino.mode);
            if (!e.isDir && (S_ISREG(ino.mode) || S_ISLNK(ino.mode)) && !readData(ino, e.path, &e.data))
                return false;
            out->push_back(std::move(e));
            if (S_ISDIR(ino.mode) && !walkDir(ino, out->back().path, depth + 1))
                return false;
        }
        return true;
    }
};

bool writeFile(const std::string &path, const std::vector<uint8_t> &data, std::string *error)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = (data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size());
    if (std::fclose(f) != 0 || !ok) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace

bool CramfsReader::verify(const uint8_t *image, size_t size, std::string *error)
{
    if (size < kSuperSize || le32(image) != kMagic) {
        *error = "cramfs: bad magic";
        return false;
    }
    if (std::memcmp(image + 16, "Compressed ROMFS", 16) != 0) {
        *error = "cramfs: bad signature";
        return false;
    }
    const uint32_t flags = le32(image + 8);
    const uint32_t known = 0xff | kFlagHoles | kFlagWrongSignature | kFlagShiftedRoot;
    if ((flags & ~known) || !(flags & kFlagVersion2)) {
        *error = "cramfs: unsupported flags";
        return false;
    }
    const uint32_t imageSize = le32(image + 4);
    if (imageSize < kSuperSize || imageSize > size) {
        *error = "cramfs: size field does not match the image";
        return false;
    }
    uint8_t zero[4] = {0, 0, 0, 0};
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, image, 32);
    crc = crc32(crc, zero, 4);
    crc = crc32(crc, image + 36, uInt(imageSize - 36));
    if (crc != le32(image + 32)) {
        *error = "cramfs: CRC mismatch";
        return false;
    }
    (void)kFlagSorted;
    return true;
}

bool CramfsReader::read(const uint8_t *image, size_t size, std::vector<CramfsEntry> *entries,
                        std::string *error)
{
    if (!verify(image, size, error))
        return false;
    const uint32_t imageSize = le32(image + 4);
    const uint32_t flags = le32(image + 8);
    const Inode root = decodeInode(image + 64);
    if (!S_ISDIR(root.mode)) {
        *error = "cramfs: root is not a directory";
        return false;
    }
    entries->clear();
    Walker w{image, imageSize, flags, error, entries};
    return w.walkDir(root, std::string(), 0);
}

bool CramfsReader::extract(const uint8_t *image, size_t size, const std::string &destDir,
                           std::vector<std::string> *written, std::string *error)
{
    std::vector<CramfsEntry> entries;
    if (!read(image, size, &entries, error))
        return false;
    written->clear();
    for (const CramfsEntry &e : entries) {
        const std::string target = destDir + "/" + e.path;
        if (e.isDir) {
            if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
                *error = "cannot create " + target + ": " + std::strerror(errno);
                return false;
            }
        } else if (S_ISREG(e.mode)) {
            if (!writeFile(target, e.data, error))
                return false;
            written->push_back(e.path);
        }
    }
    return true;
}

} // namespace devsim
