#include "answers.h"
#include "device/searchresults.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

std::vector<char> bufferOf(const std::vector<SDK_CONFIG_NET_COMMON_V2> &answers)
{
    std::vector<char> buf(SearchResults::BufferSize, 0);
    for (std::size_t i = 0; i < answers.size() && i < 256; ++i)
        std::memcpy(buf.data() + i * 560, &answers[i], 560);
    return buf;
}

std::vector<SDK_CONFIG_NET_COMMON_V2> run(const std::vector<SDK_CONFIG_NET_COMMON_V2> &answers)
{
    const auto buf = bufferOf(answers);
    return SearchResults::select(buf.data(), int(buf.size()),
                                 int(std::min<std::size_t>(answers.size(), 256) * 560));
}

std::string ipOf(const SDK_CONFIG_NET_COMMON_V2 &a)
{
    return std::to_string(a.HostIP[0]) + "." + std::to_string(a.HostIP[1]) + "." +
           std::to_string(a.HostIP[2]) + "." + std::to_string(a.HostIP[3]);
}

} // namespace

struct KeyNeighbours {
    uint8_t lower[4];
    uint8_t higher[4];
};

// Each pair is two neighbouring addresses; a carry into the next number must still sort after.
const KeyNeighbours keyNeighbours[] = {
    {{192, 168, 1, 255}, {192, 168, 2, 0}}, {{10, 0, 255, 255}, {10, 1, 0, 0}},
    {{126, 255, 255, 255}, {127, 0, 0, 0}}, {{0, 0, 0, 0}, {0, 0, 0, 1}},
    {{254, 255, 255, 255}, {255, 0, 0, 0}}, {{255, 255, 255, 254}, {255, 255, 255, 255}},
};

TEST(SearchResults, AddressKeyIsUniquePerAddress)
{
    for (const auto &c : keyNeighbours) {
        EXPECT_LT(SearchResults::addressKey(c.lower), SearchResults::addressKey(c.higher))
            << int(c.lower[0]) << "." << int(c.lower[1]) << "." << int(c.lower[2]) << "." << int(c.lower[3]);
        // Both devices stay listed, in address order, whichever answered first.
        for (bool swap : {false, true}) {
            const auto a = makeAnswer("aa:00:00:00:00:01", c.lower[0], c.lower[1], c.lower[2], c.lower[3]);
            const auto b =
                makeAnswer("bb:00:00:00:00:01", c.higher[0], c.higher[1], c.higher[2], c.higher[3]);
            const auto out = swap ? run({b, a}) : run({a, b});
            ASSERT_EQ(out.size(), 2u);
            EXPECT_STREQ(out[0].sMac, "aa:00:00:00:00:01");
            EXPECT_STREQ(out[1].sMac, "bb:00:00:00:00:01");
        }
    }
    const uint8_t top[4] = {255, 255, 255, 255};
    EXPECT_EQ(SearchResults::addressKey(top), 0xffffffffull);
}

TEST(SearchResults, SortedByAddressKey)
{
    const auto out =
        run({makeAnswer("aa:00:00:00:00:03", 127, 0, 0, 30), makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 4),
             makeAnswer("aa:00:00:00:00:02", 10, 0, 0, 200)});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(ipOf(out[0]), "10.0.0.200");
    EXPECT_EQ(ipOf(out[1]), "127.0.0.4");
    EXPECT_EQ(ipOf(out[2]), "127.0.0.30");
}

TEST(SearchResults, SameMacKeepsTheLaterAnswer)
{
    const auto out = run({makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 4, "old"),
                          makeAnswer("aa:00:00:00:00:02", 127, 0, 0, 5),
                          makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 9, "new")});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(ipOf(out[1]), "127.0.0.9");
    EXPECT_STREQ(out[1].sSoftWareVersion, "new");
}

TEST(SearchResults, EqualKeysKeepTheMacThatSortsLast)
{
    // Given in both orders: the survivor does not depend on arrival order.
    for (bool swap : {false, true}) {
        SDK_CONFIG_NET_COMMON_V2 a = makeAnswer("bb:00:00:00:00:01", 192, 168, 1, 255);
        SDK_CONFIG_NET_COMMON_V2 b = makeAnswer("aa:00:00:00:00:01", 192, 168, 1, 255);
        const auto out = swap ? run({b, a}) : run({a, b});
        ASSERT_EQ(out.size(), 1u);
        EXPECT_STREQ(out[0].sMac, "bb:00:00:00:00:01");
    }
}

TEST(SearchResults, HostileAnswers)
{
    SDK_CONFIG_NET_COMMON_V2 noMac = makeAnswer("", 127, 0, 0, 2);
    SDK_CONFIG_NET_COMMON_V2 noNul = makeAnswer("", 127, 0, 0, 3);
    std::memset(noNul.sMac, 'f', sizeof noNul.sMac); // 32 characters, no terminator
    std::memset(noNul.HostName, 'h', sizeof noNul.HostName);
    noNul.DeviceType = -77;
    const auto out = run({noMac, noNul});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ipOf(out[0]), "127.0.0.3");
}

TEST(SearchResults, LengthIsClampedAndPartialRecordsIgnored)
{
    const auto buf = bufferOf(
        {makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 4), makeAnswer("aa:00:00:00:00:02", 127, 0, 0, 5)});
    EXPECT_EQ(SearchResults::select(buf.data(), int(buf.size()), 560 + 559).size(), 1u);
    EXPECT_EQ(SearchResults::select(buf.data(), int(buf.size()), -1).size(), 0u);
    // An SDK claiming more than the buffer holds is read only up to the buffer.
    EXPECT_EQ(SearchResults::select(buf.data(), int(buf.size()), 1 << 30).size(), 2u);
}

TEST(SearchResults, FullBufferOf256Devices)
{
    std::vector<SDK_CONFIG_NET_COMMON_V2> answers;
    for (int i = 0; i < 256; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "aa:00:00:00:%02x:%02x", i / 256, i % 256);
        answers.push_back(makeAnswer(mac, 127, 1, uint8_t(i / 200), uint8_t(i % 200)));
    }
    const auto out = run(answers);
    ASSERT_EQ(out.size(), 256u);
    for (std::size_t i = 1; i < out.size(); ++i)
        EXPECT_LT(SearchResults::addressKey(out[i - 1].HostIP), SearchResults::addressKey(out[i].HostIP));
}
