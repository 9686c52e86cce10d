#include "answers.h"
#include "device/csearchdevicethread.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

namespace
{

// Runs the thread over a canned SDK answer and returns the addresses it handed out.
std::vector<int> runSearch(const std::vector<SDK_CONFIG_NET_COMMON_V2> &answers, int claimedLength, int ok,
                           int *bufferSize, int *stops)
{
    CSearchDeviceThread thread;
    thread.setSearchTime(5000);
    thread.setSearchFunction([&](char *buf, int size, int *returned, int searchTime) {
        EXPECT_EQ(searchTime, 5000);
        *bufferSize = size;
        for (std::size_t i = 0; i < answers.size(); ++i)
            std::memcpy(buf + i * 560, &answers[i], 560);
        *returned = claimedLength;
        return ok;
    });
    QSignalSpy found(&thread, &CSearchDeviceThread::deviceSearch);
    QSignalSpy stopped(&thread, &CSearchDeviceThread::stop);
    thread.start();
    EXPECT_TRUE(thread.wait(5000));
    EXPECT_TRUE(stopped.count() > 0 || stopped.wait(1000));
    *stops = int(stopped.count());
    std::vector<int> out;
    for (const auto &args : found)
        out.push_back(args.at(0).value<SDK_CONFIG_NET_COMMON_V2>().HostIP[3]);
    return out;
}

} // namespace

TEST(SearchThread, QueuedAnswersAreDeduplicatedAndOrdered)
{
    int size = 0, stops = 0;
    const auto out = runSearch({makeAnswer("aa:00:00:00:00:02", 127, 0, 0, 9),
                                makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 3),
                                makeAnswer("aa:00:00:00:00:02", 127, 0, 0, 7)},
                               3 * 560, 1, &size, &stops);
    EXPECT_EQ(size, 143360);
    EXPECT_EQ(out, (std::vector<int>{3, 7}));
    EXPECT_EQ(stops, 1);
}

TEST(SearchThread, FailedOrEmptySearchOnlyStops)
{
    int size = 0, stops = 0;
    EXPECT_TRUE(runSearch({makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 3)}, 560, 0, &size, &stops).empty());
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(runSearch({}, 0, 1, &size, &stops).empty());
    EXPECT_EQ(stops, 1);
    // An SDK that claims more than the buffer: only the buffer's 256 records are read.
    EXPECT_EQ(runSearch({makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 3)}, 1 << 30, 1, &size, &stops).size(),
              1u);
}
