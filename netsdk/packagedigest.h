/*
 * packagedigest.h - the SHA-256 of an upgrade package, computed once for every upgrade that sends
 * the same unchanged file at the same time (or shortly after).
 */
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace netsdk
{
namespace detail
{

/* One version of one file: a file replaced on disk (a new inode) or written to (a new size or
 * modification time) has another key, so it never gets the digest of what it was before. The change
 * time is left out: renaming another file over this one changes it, not the bytes. */
struct FileKey {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;

    bool operator==(const FileKey &o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
    }
    bool operator!=(const FileKey &o) const { return !(*this == o); }
};

FileKey fileKeyOf(const struct stat &st);
/* The key of the file open as `fd` now; false when it cannot be read. */
bool currentFileKey(int fd, FileKey &out);

using Digest = std::array<uint8_t, 32>;

/* SHA-256 of the file open as `fd`, whose key was `key` when it was opened. The first caller for a
 * key hashes the file; callers for the same key meanwhile wait for that result, and later ones take
 * it from a small cache of recent keys. Returns 0, NETSDK_ERR_FILE when the file cannot be read or
 * changed while it was hashed, or NETSDK_ERR_NETWORK when `stop` was set while waiting. */
long packageDigest(int fd, const FileKey &key, const std::atomic<bool> &stop, Digest &out);

/* How many times a package was hashed in this process (tests and benchmarks). */
uint64_t packageHashCount();

} // namespace detail
} // namespace netsdk
