// The fleet's shared link: a token bucket on the caller's clock, so its bound is checked exactly.

#include "linkbucket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using devsim::LinkBucket;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace
{

const LinkBucket::Clock::time_point t0 = LinkBucket::Clock::time_point() + seconds(1000);

TEST(LinkBucket, AFullBucketPassesOneBurstThenTheRate)
{
    LinkBucket link(8000000, 65536); // 1 MB/s
    EXPECT_EQ(link.bytesPerSecond(), 1000000u);
    EXPECT_EQ(link.take(65536, t0), t0);
    EXPECT_EQ(link.take(100000, t0), t0 + milliseconds(100));
    EXPECT_EQ(link.take(1000, t0), t0 + milliseconds(101)); // queued behind the earlier bytes
    // An idle link saves up one burst, never more.
    const auto later = t0 + seconds(60);
    EXPECT_EQ(link.take(65536, later), later);
    EXPECT_EQ(link.take(500000, later), later + milliseconds(500));
}

struct Fleet {
    const char *name;
    uint64_t bitsPerSecond;
    int senders;
    uint64_t chunk;
};

class LinkBucketFleet : public ::testing::TestWithParam<Fleet>
{
};

// Greedy devices on a simulated clock: each takes a chunk, waits until the bucket lets it go, takes
// the next. Over every prefix of the run, bytes that went ≤ rate × elapsed + burst, and the link is
// kept busy (no less than rate × elapsed minus what one round of chunks can hold back).
TEST_P(LinkBucketFleet, AllDevicesTogetherStayWithinTheRate)
{
    const Fleet f = GetParam();
    const uint64_t burst = LinkBucket::defaultBurst(f.bitsPerSecond);
    LinkBucket link(f.bitsPerSecond, burst);
    const double rate = double(f.bitsPerSecond) / 8;
    std::vector<LinkBucket::Clock::time_point> ready(size_t(f.senders), t0);
    uint64_t passed = 0;
    for (int step = 0; step < 20000; ++step) {
        const auto it = std::min_element(ready.begin(), ready.end());
        const auto now = *it;
        const auto when = link.take(f.chunk, now);
        ASSERT_GE(when, now);
        passed += f.chunk;
        *it = when;
        const double elapsed = std::chrono::duration<double>(when - t0).count();
        ASSERT_LE(double(passed), rate * elapsed + double(burst) + 1) << "step " << step;
        ASSERT_GE(double(passed) + double(f.chunk) * f.senders + 1, rate * elapsed) << "step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkBucketFleet,
                         ::testing::Values(Fleet{"oneDeviceSlowLink", 1000000, 1, 1460},
                                           Fleet{"gigabitManyDevices", 1000000000, 256, 65536},
                                           Fleet{"gigabitFewLargeChunks", 1000000000, 4, 1 << 20},
                                           Fleet{"hundredMbitOddChunks", 100000000, 33, 4099}),
                         [](const ::testing::TestParamInfo<Fleet> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
