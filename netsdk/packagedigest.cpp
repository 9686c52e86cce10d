/*
 * packagedigest.cpp - one SHA-256 per package version, shared by the upgrades that send it.
 */
#include "packagedigest.h"

#include "netsdk.h"
#include "protocol.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace netsdk
{
namespace detail
{

namespace
{

/* Recent keys kept after their upgrades: a firmware run starts its devices a second apart, so the
 * next device usually asks for the digest after the previous transfer has ended. */
constexpr size_t kRecentKeys = 8;
constexpr size_t kReadSize = 256 * 1024;

struct Entry {
    FileKey key;
    bool done = false;
    long result = 0;
    Digest digest{};
};

struct Cache {
    std::mutex m;
    std::condition_variable cv;
    std::list<std::shared_ptr<Entry>> entries; /* most recently asked first */
    std::atomic<uint64_t> hashes{0};
};

/* Never destroyed: upgrade threads may still be leaving while the process exits. */
Cache &cache()
{
    static Cache *c = new Cache;
    return *c;
}

int64_t nanos(const struct timespec &t)
{
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

long hashFile(int fd, const FileKey &key, Digest &out)
{
    proto::Sha256 sha;
    std::vector<uint8_t> buf(kReadSize);
    off_t done = 0;
    while (done < key.size) {
        const size_t want = size_t(std::min<off_t>(off_t(buf.size()), key.size - done));
        const ssize_t k = ::pread(fd, buf.data(), want, done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return NETSDK_ERR_FILE;
        sha.update(buf.data(), size_t(k));
        done += k;
    }
    /* Written to while we read it: the digest belongs to no version of the file. */
    FileKey after;
    if (!currentFileKey(fd, after) || after != key)
        return NETSDK_ERR_FILE;
    out = sha.final();
    return 0;
}

} // namespace

FileKey fileKeyOf(const struct stat &st)
{
    FileKey k;
    k.dev = st.st_dev;
    k.ino = st.st_ino;
    k.size = st.st_size;
    k.mtimeNs = nanos(st.st_mtim);
    return k;
}

bool currentFileKey(int fd, FileKey &out)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    out = fileKeyOf(st);
    return true;
}

long packageDigest(int fd, const FileKey &key, const std::atomic<bool> &stop, Digest &out)
{
    Cache &c = cache();
    std::shared_ptr<Entry> e;
    {
        std::unique_lock<std::mutex> lk(c.m);
        auto it = std::find_if(c.entries.begin(), c.entries.end(),
                               [&](const std::shared_ptr<Entry> &x) { return x->key == key; });
        if (it != c.entries.end()) {
            e = *it;
            c.entries.splice(c.entries.begin(), c.entries, it);
            while (!e->done) {
                if (stop)
                    return NETSDK_ERR_NETWORK;
                c.cv.wait_for(lk, std::chrono::milliseconds(50));
            }
            if (e->result == 0)
                out = e->digest;
            return e->result;
        }
        e = std::make_shared<Entry>();
        e->key = key;
        c.entries.push_front(e);
        while (c.entries.size() > kRecentKeys && c.entries.back()->done)
            c.entries.pop_back();
    }
    Digest d{};
    const long r = hashFile(fd, key, d);
    ++c.hashes;
    {
        std::lock_guard<std::mutex> lk(c.m);
        e->done = true;
        e->result = r;
        e->digest = d;
        if (r != 0)
            c.entries.remove(e);
    }
    c.cv.notify_all();
    if (r == 0)
        out = d;
    return r;
}

uint64_t packageHashCount()
{
    return cache().hashes.load();
}

} // namespace detail
} // namespace netsdk
