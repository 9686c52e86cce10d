#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace devsim
{

/// One link shared by every device of the fleet (a station behind one switch port): a token bucket
/// that every device's received bytes pass through. Thread-safe. The clock is the caller's: each call
/// says what time it is, so the bucket itself never reads a clock.
class LinkBucket
{
public:
    using Clock = std::chrono::steady_clock;

    /// `bitsPerSecond` > 0. The bucket holds at most `burstBytes` of unused allowance, so over any
    /// interval of length T at most rate × T + burstBytes pass.
    LinkBucket(uint64_t bitsPerSecond, uint64_t burstBytes);
    /// A link of `megabitsPerSecond` with a burst of 10 ms of traffic (at least 64 KiB), small enough
    /// to leave the rate visible at every scale a benchmark measures.
    static uint64_t defaultBurst(uint64_t bitsPerSecond);

    /// Takes `bytes` from the bucket at time `now`; returns when they may go (now, or later when the
    /// link is busy). The caller waits until then. Later calls queue behind earlier ones.
    Clock::time_point take(uint64_t bytes, Clock::time_point now);

    uint64_t bytesPerSecond() const { return bytesPerSecond_; }

private:
    const uint64_t bytesPerSecond_;
    const Clock::duration burst_; // the burst, as the time the link takes to send it
    std::mutex lock_;
    // When every byte taken so far has passed; never further back than `burst_` before now.
    Clock::time_point busyUntil_{};
    bool started_ = false;
};

} // namespace devsim
