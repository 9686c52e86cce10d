#include "linkbucket.h"

#include <algorithm>

namespace devsim
{

namespace
{

LinkBucket::Clock::duration timeFor(uint64_t bytes, uint64_t bytesPerSecond)
{
    // In nanoseconds; 128-bit to keep gigabytes at gigabit rates exact.
    const unsigned __int128 ns = (unsigned __int128)bytes * 1000000000u / bytesPerSecond;
    return std::chrono::duration_cast<LinkBucket::Clock::duration>(std::chrono::nanoseconds(int64_t(ns)));
}

} // namespace

LinkBucket::LinkBucket(uint64_t bitsPerSecond, uint64_t burstBytes)
    : bytesPerSecond_(std::max<uint64_t>(1, bitsPerSecond / 8)), burst_(timeFor(burstBytes, bytesPerSecond_))
{
}

uint64_t LinkBucket::defaultBurst(uint64_t bitsPerSecond)
{
    return std::max<uint64_t>(64 * 1024, bitsPerSecond / 8 / 100);
}

LinkBucket::Clock::time_point LinkBucket::take(uint64_t bytes, Clock::time_point now)
{
    std::lock_guard<std::mutex> guard(lock_);
    // An idle link saves up at most one burst of allowance.
    if (!started_ || busyUntil_ < now - burst_) {
        busyUntil_ = now - burst_;
        started_ = true;
    }
    busyUntil_ += timeFor(bytes, bytesPerSecond_);
    return std::max(busyUntil_, now);
}

} // namespace devsim
