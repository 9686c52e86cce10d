#include "fakedevice.h"
#include "netsdk/netsdk.h"
#include "netsdk/packagedigest.h"
#include "netsdk/protocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

using namespace std::chrono;
using netsdk::proto::setField;

namespace
{

long msSince(steady_clock::time_point t0)
{
    return long(duration_cast<milliseconds>(steady_clock::now() - t0).count());
}

class SdkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
        ::setenv("TALLOW_NETSDK_UPGRADE_SILENCE_MS", "400", 1);
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(1000, 1);
    }
    void TearDown() override { H264_DVR_Cleanup(); }

    long login(const FakeDevice &dev, const char *password = "pw", int *err = nullptr,
               H264_DVR_DEVICEINFO *info = nullptr)
    {
        int e = -1;
        H264_DVR_DEVICEINFO i{};
        long h = H264_DVR_Login("127.0.0.1", dev.port(), "admin", password, info ? info : &i, 1, &e);
        if (err)
            *err = e;
        return h;
    }
};

/* A port on which nothing listens. */
uint16_t deadPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

} // namespace

/* ---- Login ---- */

struct LoginCase {
    const char *what;
    std::function<void(DeviceScript &)> script;
    const char *password;
    int expected;
};

class SdkLogin : public SdkTest, public ::testing::WithParamInterface<LoginCase>
{
};

TEST_P(SdkLogin, ReturnsTheDevicesCode)
{
    const LoginCase &c = GetParam();
    DeviceScript s;
    c.script(s);
    FakeDevice dev(s);
    int err = 12345;
    H264_DVR_DEVICEINFO info{};
    long h = login(dev, c.password, &err, &info);
    if (c.expected == 0) {
        ASSERT_GT(h, 0) << c.what;
        EXPECT_EQ(err, 0);
        EXPECT_STREQ(info.sSoftWareVersion, "V1.0.0");
        EXPECT_STREQ(info.sHardWare, "HW-TEST");
        EXPECT_EQ(info.BuildYear, 2024);
        EXPECT_EQ(H264_DVR_Logout(h), 1);
    } else {
        EXPECT_EQ(h, 0) << c.what;
        EXPECT_EQ(err, c.expected) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SdkLogin,
    ::testing::Values(
        LoginCase{"right password", [](DeviceScript &) {}, "pw", 0},
        LoginCase{"wrong password", [](DeviceScript &) {}, "nope", NETSDK_ERR_PASSWORD},
        LoginCase{"empty password", [](DeviceScript &s) { s.password = ""; }, "", 0},
        LoginCase{"unknown user", [](DeviceScript &s) { s.user = "root"; }, "pw", NETSDK_ERR_NO_USER},
        LoginCase{"busy", [](DeviceScript &s) { s.challengeStatus = 7; }, "pw", 7},
        LoginCase{"locked", [](DeviceScript &s) { s.loginStatus = -11303; }, "pw", -11303},
        LoginCase{"blacklist", [](DeviceScript &s) { s.loginStatus = -11304; }, "pw", -11304},
        LoginCase{"logged in", [](DeviceScript &s) { s.loginStatus = -11305; }, "pw", -11305},
        LoginCase{"other", [](DeviceScript &s) { s.loginStatus = -11306; }, "pw", -11306},
        LoginCase{"no device", [](DeviceScript &s) { s.loginStatus = -11307; }, "pw", -11307},
        LoginCase{"device says time-out", [](DeviceScript &s) { s.loginStatus = -10005; }, "pw", -10005},
        /* The key derivation's cost is the device's to choose, within bounds: too cheap would let a
         * rogue device guess passwords fast, too dear would tie up the station. */
        LoginCase{"KDF cost at the floor",
                  [](DeviceScript &s) { s.kdfIterations = netsdk::proto::kMinKdfIterations; }, "pw", 0},
        LoginCase{"KDF cost at the ceiling",
                  [](DeviceScript &s) { s.kdfIterations = netsdk::proto::kMaxKdfIterations; }, "pw", 0},
        LoginCase{"KDF cost below the floor",
                  [](DeviceScript &s) { s.kdfIterations = netsdk::proto::kMinKdfIterations - 1; }, "pw",
                  NETSDK_ERR_PROTOCOL},
        LoginCase{"KDF cost above the ceiling",
                  [](DeviceScript &s) { s.kdfIterations = netsdk::proto::kMaxKdfIterations + 1; }, "pw",
                  NETSDK_ERR_PROTOCOL},
        LoginCase{"absurd KDF cost", [](DeviceScript &s) { s.kdfIterations = 0xffffffffu; }, "pw",
                  NETSDK_ERR_PROTOCOL},
        LoginCase{"unknown KDF", [](DeviceScript &s) { s.kdf = 2; }, "pw", NETSDK_ERR_PROTOCOL}));

TEST_F(SdkTest, EachLoginSendsAFreshClientNonce)
{
    DeviceScript s;
    FakeDevice dev(s);
    for (int i = 0; i < 3; ++i) {
        long h = login(dev);
        ASSERT_GT(h, 0);
        H264_DVR_Logout(h);
    }
    const auto nonces = dev.seen().clientNonces;
    ASSERT_EQ(nonces.size(), 3u);
    const std::array<uint8_t, netsdk::proto::kNonceSize> zero{};
    for (size_t i = 0; i < nonces.size(); ++i) {
        EXPECT_NE(nonces[i], zero);
        for (size_t j = i + 1; j < nonces.size(); ++j)
            EXPECT_NE(nonces[i], nonces[j]) << i << " and " << j;
    }
}

namespace
{

/* A rogue device at its own address that hands every connection on to a real device: the client's
 * frames go through unchanged, the device's come back through `rewrite` (challenge answers only). */
class Relay
{
public:
    Relay(const char *ip, uint16_t target, std::function<void(netsdk::proto::LoginChallengeAnswer &)> rewrite)
        : target_(target), rewrite_(std::move(rewrite))
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &a.sin_addr);
        if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listenFd_, 4) != 0)
            throw std::runtime_error("relay: cannot listen");
        socklen_t len = sizeof a;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Relay()
    {
        stop_ = true;
        thread_.join();
        ::close(listenFd_);
    }
    uint16_t port() const { return port_; }

private:
    void run()
    {
        pollfd p{listenFd_, POLLIN, 0};
        while (!stop_ && ::poll(&p, 1, 20) <= 0) {
        }
        if (stop_)
            return;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        const int device = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_port = htons(target_);
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (client >= 0 && ::connect(device, reinterpret_cast<sockaddr *>(&d), sizeof d) == 0)
            pipe(client, device);
        ::close(device);
        if (client >= 0)
            ::close(client);
    }
    void pipe(int client, int device)
    {
        using namespace netsdk::proto;
        FrameReader fromDevice;
        uint8_t buf[65536];
        while (!stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {device, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0)
                continue;
            if (p[0].revents) {
                const ssize_t k = ::recv(client, buf, sizeof buf, 0);
                if (k <= 0 || ::send(device, buf, size_t(k), MSG_NOSIGNAL) != k)
                    return;
            }
            if (p[1].revents) {
                const ssize_t k = ::recv(device, buf, sizeof buf, 0);
                if (k <= 0)
                    return;
                fromDevice.feed(buf, size_t(k));
                Frame f;
                while (fromDevice.next(f) == Result::Ok) {
                    Bytes out;
                    LoginChallengeAnswer a;
                    if (f.header.type == answerOf(MSG_LOGIN_CHALLENGE) && f.header.status == 0 &&
                        decodeLoginChallengeAnswer(f, a) == Result::Ok) {
                        rewrite_(a);
                        out = encodeLoginChallengeAnswer(f.header.seq, 0, &a);
                    } else {
                        out = encodeAnswer(uint16_t(f.header.type & ~kAnswerBit), f.header.seq,
                                           f.header.session, f.header.status, f.payload.data(),
                                           f.payload.size());
                    }
                    if (::send(client, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size()))
                        return;
                }
            }
        }
    }

    int listenFd_ = -1;
    uint16_t port_ = 0;
    uint16_t target_;
    std::function<void(netsdk::proto::LoginChallengeAnswer &)> rewrite_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct RelayCase {
    const char *what;
    bool rewriteIdentity; /* the relay announces its own MAC instead of the device's */
    bool searchedFirst;   /* the station searched, so it knows which MAC answers at the relay's address */
    int expected;
    int proofsReachingTheDevice;
};

class SdkRelay : public SdkTest, public ::testing::WithParamInterface<RelayCase>
{
};

} // namespace

/* The proof is bound to the identity the client signs for: one made through a relaying device never
 * opens the real device behind it. */
TEST_P(SdkRelay, RelayedLoginIsRefused)
{
    const RelayCase &c = GetParam();
    const std::string relayMac = "00:12:34:56:78:77";
    DeviceScript s; /* the real device: 127.0.0.1, MAC 00:12:34:56:78:9a */
    FakeDevice dev(s, true);
    H264_DVR_SetSearchPort(dev.searchPort());
    Relay relay("127.0.0.77", dev.port(), [&](netsdk::proto::LoginChallengeAnswer &a) {
        if (c.rewriteIdentity)
            a.mac = relayMac;
    });
    if (c.searchedFirst) {
        SDK_CONFIG_NET_COMMON_V2 rec{};
        setField(rec.sMac, sizeof rec.sMac, relayMac);
        rec.HostIP[0] = 127;
        rec.HostIP[3] = 77;
        rec.NetValues[1] = relay.port();
        dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, rec), "127.0.0.77");
        std::vector<char> buf(143360);
        int len = 0;
        ASSERT_NE(H264_DVR_SearchDevice(buf.data(), int(buf.size()), &len, 300), 0);
        ASSERT_EQ(len, 2 * 560);
    }
    int err = 12345;
    const long h = H264_DVR_Login("127.0.0.77", relay.port(), "admin", "pw", nullptr, 1, &err);
    EXPECT_EQ(h, 0) << c.what;
    EXPECT_EQ(err, c.expected) << c.what;
    EXPECT_EQ(dev.seen().loginAttempts, c.proofsReachingTheDevice) << c.what;
    EXPECT_EQ(dev.seen().logins, 0) << c.what;
    if (h > 0)
        H264_DVR_Logout(h);
    /* The device itself, addressed directly, still takes the same password. */
    const long direct = login(dev);
    EXPECT_GT(direct, 0);
    H264_DVR_Logout(direct);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SdkRelay,
    ::testing::Values(RelayCase{"relay announces itself: the device refuses the proof", true, false,
                                NETSDK_ERR_PASSWORD, 1},
                      RelayCase{"relay announces itself after a search", true, true, NETSDK_ERR_PASSWORD, 1},
                      RelayCase{"relay passes the device's identity on: the client knows better", false, true,
                                NETSDK_ERR_NO_DEVICE, 0}));

/* After an address change the SDK knows the device at its new address: a login there is not
 * taken for a relay because of what an older search found at that address. */
TEST_F(SdkTest, AnAddressChangeMovesTheKnownIdentity)
{
    DeviceScript s;
    FakeDevice dev(s, true);
    H264_DVR_SetSearchPort(dev.searchPort());
    /* Another device used to answer at 127.0.0.78. */
    SDK_CONFIG_NET_COMMON_V2 rec{};
    setField(rec.sMac, sizeof rec.sMac, "00:12:34:56:78:78");
    rec.HostIP[0] = 127;
    rec.HostIP[3] = 78;
    rec.NetValues[1] = 34567;
    dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, rec), "127.0.0.78");
    std::vector<char> buf(143360);
    int len = 0;
    ASSERT_NE(H264_DVR_SearchDevice(buf.data(), int(buf.size()), &len, 300), 0);
    ASSERT_EQ(len, 2 * 560);

    /* The device answers at 127.0.0.78 from now on (the relay stands in for its new address). */
    Relay newAddress("127.0.0.78", dev.port(), [](netsdk::proto::LoginChallengeAnswer &) {});
    int err = 0;
    EXPECT_EQ(H264_DVR_Login("127.0.0.78", newAddress.port(), "admin", "pw", nullptr, 1, &err), 0);
    EXPECT_EQ(err, NETSDK_ERR_NO_DEVICE) << "before the change the address belongs to the other device";

    SDK_NET_BLOCK block{};
    setField(block.sMac, sizeof block.sMac, s.mac);
    block.HostIP[0] = 127;
    block.HostIP[3] = 78;
    block.ChangeFlag = 1;
    ASSERT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block),
                                        sizeof block, 3000),
              0);
    Relay again("127.0.0.78", dev.port(), [](netsdk::proto::LoginChallengeAnswer &) {});
    const long h = H264_DVR_Login("127.0.0.78", again.port(), "admin", "pw", nullptr, 1, &err);
    EXPECT_GT(h, 0) << err;
    if (h > 0)
        H264_DVR_Logout(h);
}

TEST_F(SdkTest, LoginWithoutDeviceIsNetworkErrorZero)
{
    int err = 12345;
    long h = H264_DVR_Login("127.0.0.1", deadPort(), "admin", "", nullptr, 1, &err);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_NETWORK);
}

TEST_F(SdkTest, SilentDeviceTimesOutWithinTheConnectTime)
{
    DeviceScript s;
    s.silentLogin = true;
    FakeDevice dev(s);
    H264_DVR_SetConnectTime(300, 1);
    int err = 0;
    auto t0 = steady_clock::now();
    EXPECT_EQ(login(dev, "pw", &err), 0);
    long took = msSince(t0);
    EXPECT_EQ(err, NETSDK_ERR_TIMEOUT);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 1500);
}

TEST_F(SdkTest, LastErrorIsPerThread)
{
    int err = 0;
    H264_DVR_Login("127.0.0.1", deadPort(), "admin", "", nullptr, 1, &err);
    ASSERT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_NETWORK);
    long other = 1;
    std::thread([&] {
        H264_DVR_Logout(987654);
        other = H264_DVR_GetLastError();
    }).join();
    EXPECT_EQ(other, NETSDK_ERR_HANDLE);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_NETWORK);
}

/* ---- Configuration calls ---- */

TEST_F(SdkTest, BinaryConfiguration)
{
    DeviceScript s;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);

    SDK_LOGO_PART_INFO part{};
    unsigned long got = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, reinterpret_cast<char *>(&part), sizeof part,
                                    &got, 4000),
              1);
    EXPECT_EQ(got, sizeof part);
    EXPECT_STREQ(reinterpret_cast<char *>(part.raw + 200), "squashfs");

    char small[100];
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, small, sizeof small, &got, 4000),
              NETSDK_ERR_BUFFER);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_BUFFER);
    EXPECT_EQ(H264_DVR_GetDevConfig(h, 999, -1, small, sizeof small, &got, 4000), NETSDK_ERR_NOT_SUPPORTED);

    char reset[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(H264_DVR_SetDevConfig(h, NETSDK_CFG_RESET, -1, reset, sizeof reset, 3000), 1);
    auto seen = dev.seen();
    ASSERT_EQ(seen.configSets.size(), 1u);
    EXPECT_EQ(seen.configSets[0].command, uint32_t(NETSDK_CFG_RESET));
    EXPECT_EQ(seen.configSets[0].data, netsdk::proto::Bytes(reset, reset + 11));

    EXPECT_EQ(H264_DVR_SetDevConfig(987654, NETSDK_CFG_RESET, -1, reset, sizeof reset, 3000),
              NETSDK_ERR_HANDLE);
    H264_DVR_Logout(h);
}

TEST_F(SdkTest, SetConfigPassesDeviceCodes)
{
    DeviceScript s;
    s.configSetStatus = NETSDK_ERR_NEED_REBOOT;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);
    char cfg[] = "config file";
    EXPECT_EQ(H264_DVR_SetDevConfig(h, NETSDK_CFG_IMPORT, -1, cfg, sizeof cfg, 10000),
              NETSDK_ERR_NEED_REBOOT);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_NEED_REBOOT);
    H264_DVR_Logout(h);
}

TEST_F(SdkTest, JsonConfiguration)
{
    DeviceScript s;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);

    std::vector<char> buf(10240, 'x');
    int len = -1;
    EXPECT_EQ(H264_DVR_GetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buf.data(),
                                           int(buf.size()), &len, 1000),
              1);
    std::string expected = "{\"Name\":\"ProducerInfo\",\"ProducerInfo\":{\"OEMID\":\"123\"},\"Ret\":100}";
    EXPECT_EQ(std::string(buf.data()), expected);
    EXPECT_EQ(len, int(expected.size()));

    /* The answer must fit with its terminator, or the read fails (zero) without overrunning. */
    char tiny[16];
    EXPECT_EQ(H264_DVR_GetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, tiny, sizeof tiny,
                                           &len, 1000),
              0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_BUFFER);
    EXPECT_EQ(tiny[0], 0);

    /* The length may count the terminator; it does not travel. */
    const char doc[] = "{\"ShowH265X\":false}\n";
    char answer[256];
    EXPECT_EQ(H264_DVR_SetDevConfig_JsonV2_EX(h, "Custom.ShowH265X", NETSDK_JSON_SET, -1, doc, sizeof doc,
                                              answer, sizeof answer, 1000),
              1);
    EXPECT_STREQ(answer, "{\"Name\":\"Custom.ShowH265X\",\"Ret\":100}");
    EXPECT_EQ(H264_DVR_SetDevConfig_JsonV2(h, "ProducerInfo", NETSDK_JSON_PRODUCER_SET, -1,
                                           "{\"Data\":\"x\"}\n", 13, 1000),
              1);
    auto seen = dev.seen();
    ASSERT_EQ(seen.jsonSets.size(), 2u);
    EXPECT_EQ(seen.jsonSets[0].text, "{\"ShowH265X\":false}\n");
    EXPECT_EQ(seen.jsonSets[1].name, "ProducerInfo");
    EXPECT_EQ(seen.jsonSets[1].command, uint32_t(NETSDK_JSON_PRODUCER_SET));

    EXPECT_EQ(H264_DVR_SetDevConfig_JsonV2(h, "bad name", NETSDK_JSON_SET, -1, "{}", 2, 1000),
              NETSDK_ERR_PARAM);
    H264_DVR_Logout(h);
}

TEST_F(SdkTest, SilentDeviceCallReturnsWithinItsWait)
{
    DeviceScript s;
    s.silentAfterLogin = true;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);
    char buf[264];
    unsigned long got = 0;
    auto t0 = steady_clock::now();
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 300),
              NETSDK_ERR_TIMEOUT);
    long took = msSince(t0);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 1300);

    /* Waiting behind another call on the same login counts into the wait. */
    std::thread first(
        [&] { H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 1500); });
    std::this_thread::sleep_for(milliseconds(100));
    char buf2[264];
    unsigned long got2 = 0;
    t0 = steady_clock::now();
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf2, sizeof buf2, &got2, 300),
              NETSDK_ERR_TIMEOUT);
    took = msSince(t0);
    EXPECT_LT(took, 1100);
    first.join();
    H264_DVR_Logout(h);
}

/* A device that answers with garbage gets a protocol error; after a broken frame the login is not
 * used again (the stream cannot be trusted), after a well-formed but wrong answer it stays usable. */
TEST_F(SdkTest, HostileAnswersAreRefused)
{
    using namespace netsdk::proto;
    struct Case {
        const char *what;
        std::function<Bytes(uint32_t, uint32_t)> reply;
        long next; /* the result of the next call */
    };
    const Case cases[] = {
        {"bad magic",
         [](uint32_t seq, uint32_t id) {
             Bytes b = encodeAnswer(MSG_CONFIG_GET, seq, id, 0);
             b[0] = 'X';
             return b;
         },
         NETSDK_ERR_NETWORK},
        {"length of 4 GiB",
         [](uint32_t seq, uint32_t id) {
             Bytes b = encodeAnswer(MSG_CONFIG_GET, seq, id, 0);
             b[20] = b[21] = b[22] = b[23] = 0xff;
             return b;
         },
         NETSDK_ERR_NETWORK},
        {"more than the buffer holds",
         [](uint32_t seq, uint32_t id) {
             Bytes rec(300, 1);
             return encodeAnswer(MSG_CONFIG_GET, seq, id, 0, rec.data(), rec.size());
         },
         NETSDK_ERR_PROTOCOL},
        {"someone else's session",
         [](uint32_t seq, uint32_t id) { return encodeAnswer(MSG_CONFIG_GET, seq, id + 1, 0); },
         NETSDK_ERR_NETWORK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeviceScript s;
        s.configGetReply = c.reply;
        FakeDevice dev(s);
        long h = login(dev);
        ASSERT_GT(h, 0);
        char buf[264];
        unsigned long got = 0;
        EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 2000),
                  NETSDK_ERR_PROTOCOL);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 2000), c.next);
        EXPECT_EQ(H264_DVR_Logout(h), 1);
    }
}

/* ---- Reboot ---- */

TEST_F(SdkTest, RebootAnsweredOrDropped)
{
    for (bool drops : {false, true}) {
        DeviceScript s;
        s.rebootDropsFirst = drops;
        FakeDevice dev(s);
        long h = login(dev);
        ASSERT_GT(h, 0);
        int r = H264_DVR_ControlDVR(h, 0, 3000);
        if (drops) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_TIMEOUT);
        } else {
            EXPECT_NE(r, 0);
        }
        EXPECT_EQ(H264_DVR_Logout(h), 1); /* the handle stays ours until logged out */
    }
}

namespace
{
std::atomic<int> g_disconnects{0};
std::atomic<long> g_disconnectHandle{0};
void onDisconnect(long lLoginID, char *ip, long port, unsigned long user)
{
    if (user == 42 && ip && std::strcmp(ip, "127.0.0.1") == 0 && port > 0) {
        g_disconnectHandle = lLoginID;
        ++g_disconnects;
    }
}
} // namespace

TEST_F(SdkTest, DisconnectCallbackOnceWhenTheDeviceDrops)
{
    H264_DVR_Init(onDisconnect, 42);
    DeviceScript s;
    s.rebootDropsFirst = true;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);
    EXPECT_EQ(H264_DVR_ControlDVR(h, 0, 3000), 0);
    char buf[264];
    unsigned long got = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 1000),
              NETSDK_ERR_NETWORK);
    EXPECT_EQ(g_disconnects.load(), 1);
    EXPECT_EQ(g_disconnectHandle.load(), h);
    EXPECT_EQ(H264_DVR_Logout(h), 1);
    H264_DVR_Cleanup();
}

/* ---- Search and address change ---- */

TEST_F(SdkTest, SearchCollectsValidAnswers)
{
    DeviceScript s;
    FakeDevice dev(s, true);
    H264_DVR_SetSearchPort(dev.searchPort());

    SDK_CONFIG_NET_COMMON_V2 other{};
    setField(other.sMac, sizeof other.sMac, "00:12:34:56:78:9b");
    other.HostIP[0] = 127;
    other.HostIP[3] = 2;
    other.NetValues[1] = 34567;
    /* A cloud identifier that fills its 32 bytes, no terminator: the device is listed all the same. */
    const char cloudId[] = "0123456789abcdef0123456789ABCDEF";
    std::memcpy(other.sSn, cloudId, sizeof other.sSn);
    dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, other));
    SDK_CONFIG_NET_COMMON_V2 broken = other;
    broken.NetValues[1] = 70000;
    dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, broken));
    dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, other)); /* a repeat replaces, not adds */

    std::vector<char> buf(143360);
    int len = -1;
    ASSERT_NE(H264_DVR_SearchDevice(buf.data(), int(buf.size()), &len, 300), 0);
    ASSERT_EQ(len, 2 * 560);
    auto *recs = reinterpret_cast<SDK_CONFIG_NET_COMMON_V2 *>(buf.data());
    EXPECT_STREQ(recs[0].sMac, "00:12:34:56:78:9a");
    EXPECT_EQ(recs[0].NetValues[1], dev.port());
    EXPECT_STREQ(recs[1].sMac, "00:12:34:56:78:9b");
    EXPECT_EQ(std::string(recs[1].sSn, sizeof recs[1].sSn), cloudId);

    /* Never more than the buffer holds. */
    char one[560 + 559];
    ASSERT_NE(H264_DVR_SearchDevice(one, sizeof one, &len, 300), 0);
    EXPECT_EQ(len, 560);
}

namespace
{

SDK_CONFIG_NET_COMMON_V2 searchRecord(const std::string &mac, uint8_t lastByte)
{
    SDK_CONFIG_NET_COMMON_V2 rec{};
    setField(rec.sMac, sizeof rec.sMac, mac);
    rec.HostIP[0] = 127;
    rec.HostIP[3] = lastByte;
    rec.NetValues[1] = 34567;
    return rec;
}

} // namespace

TEST_F(SdkTest, OneHostCannotCrowdOutTheDevices)
{
    DeviceScript s;
    FakeDevice dev(s, true);
    H264_DVR_SetSearchPort(dev.searchPort());

    /* One host answers first, for 256 invented devices; then three real devices, each for itself. */
    for (int i = 0; i < 256; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "66:00:00:00:%02x:%02x", i / 256, i % 256);
        dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, searchRecord(mac, 66)), "127.0.0.66");
    }
    const std::string real[] = {"00:12:34:56:78:b1", "00:12:34:56:78:b2", "00:12:34:56:78:b3"};
    for (int i = 0; i < 3; ++i) {
        const std::string from = "127.0.0." + std::to_string(71 + i);
        dev.addSearchDatagram(netsdk::proto::encodeSearchAnswer(0, searchRecord(real[i], uint8_t(71 + i))),
                              from);
    }

    std::vector<char> buf(143360);
    int len = -1;
    ASSERT_NE(H264_DVR_SearchDevice(buf.data(), int(buf.size()), &len, 500), 0);
    auto *recs = reinterpret_cast<SDK_CONFIG_NET_COMMON_V2 *>(buf.data());
    std::vector<std::string> macs;
    int invented = 0;
    for (int i = 0; i < len / 560; ++i) {
        macs.emplace_back(recs[i].sMac);
        invented += macs.back().rfind("66:", 0) == 0;
    }
    EXPECT_EQ(invented, 4) << "one sender keeps four places";
    for (const std::string &mac : real)
        EXPECT_TRUE(std::find(macs.begin(), macs.end(), mac) != macs.end()) << mac << " missing";
    EXPECT_TRUE(std::find(macs.begin(), macs.end(), s.mac) != macs.end()) << s.mac << " missing";
    EXPECT_EQ(len, (4 + 3 + 1) * 560);
}

TEST_F(SdkTest, AddressChangeIsAnsweredOnlyByTheAddressedDevice)
{
    DeviceScript s;
    FakeDevice dev(s, true);
    H264_DVR_SetSearchPort(dev.searchPort());

    SDK_NET_BLOCK block{};
    setField(block.sMac, sizeof block.sMac, "00:12:34:56:78:9A");
    block.HostIP[0] = 127;
    block.HostIP[3] = 20;
    block.ChangeFlag = 1;
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block),
                                        sizeof block, 3000),
              0);
    auto seen = dev.seen();
    ASSERT_EQ(seen.netSets.size(), 1u);
    EXPECT_EQ(seen.netSets[0].block.HostIP[3], 20);
    EXPECT_EQ(seen.netSets[0].channel, 1);

    setField(block.sMac, sizeof block.sMac, "00:12:34:56:78:00");
    auto t0 = steady_clock::now();
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block),
                                        sizeof block, 300),
              NETSDK_ERR_TIMEOUT);
    long took = msSince(t0);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 1300);
    EXPECT_EQ(dev.seen().netSets.size(), 1u);

    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block), 144, 300),
              NETSDK_ERR_PARAM);
}

/* ---- Upgrade ---- */

namespace
{

struct Recorder {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<int, int>> reports;
    int finals = 0;
    long finalLastError = 0;
    bool closeInFinal = false;
    int closeResult = -99;

    bool waitFinal(int ms)
    {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, milliseconds(ms), [&] { return finals > 0; });
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lk(m);
        return reports.size();
    }
};

void onUpgrade(long, long handle, int total, int pos, void *user)
{
    auto *r = static_cast<Recorder *>(user);
    bool final = pos < 0;
    long err = H264_DVR_GetLastError();
    if (final && r->closeInFinal)
        r->closeResult = H264_DVR_CloseUpgradeHandle(handle);
    {
        std::lock_guard<std::mutex> lk(r->m);
        r->reports.emplace_back(total, pos);
        if (final) {
            ++r->finals;
            r->finalLastError = err;
        }
        r->cv.notify_all(); /* under the lock: the waiter may destroy the recorder right after */
    }
}

std::string makePackage(size_t size)
{
    std::string path = ::testing::TempDir() + "netsdk_pkg_" + std::to_string(::getpid()) + "_" +
                       std::to_string(size) + ".bin";
    std::ofstream out(path, std::ios::binary);
    std::mt19937 rng(7);
    for (size_t i = 0; i < size; ++i)
        out.put(char(rng()));
    return path;
}

/* Sends (rising, ending at the total), then device progress, then exactly one final report. */
void expectOrder(const std::vector<std::pair<int, int>> &r, int total, bool sent, bool progress)
{
    ASSERT_FALSE(r.empty());
    size_t i = 0;
    int last = 0;
    for (; i < r.size() && r[i].first > 0; ++i) {
        EXPECT_EQ(r[i].first, total);
        EXPECT_GT(r[i].second, last);
        last = r[i].second;
    }
    if (sent) {
        EXPECT_EQ(last, total);
    }
    int device = 0;
    last = -1;
    for (; i < r.size() && r[i].first == -1 && r[i].second >= 0; ++i, ++device) {
        EXPECT_LE(r[i].second, 100);
        EXPECT_GT(r[i].second, last) << "device progress only rises";
        last = r[i].second;
    }
    if (progress) {
        EXPECT_GT(device, 0);
    }
    ASSERT_EQ(i, r.size() - 1) << "exactly one final report, last";
    EXPECT_LT(r.back().second, 0);
}

struct UpgradeCase {
    const char *what;
    std::function<void(DeviceScript &)> script;
    int final;
    long lastError; /* seen by the final callback; 0: not checked */
    bool sent;      /* the whole package went out */
    bool progress;  /* the device reported progress */
    int maxDeviceReports = 101;
    int deadlineMs = 0; /* the flash deadline set for the case; 0: the SDK's own */
    int size = 300000;  /* of the package */
};

} // namespace

class SdkUpgrade : public SdkTest, public ::testing::WithParamInterface<UpgradeCase>
{
};

TEST_P(SdkUpgrade, ReportsInOrderWithOneFinal)
{
    const UpgradeCase &c = GetParam();
    DeviceScript s;
    c.script(s);
    FakeDevice dev(s);
    if (c.deadlineMs > 0)
        H264_DVR_SetUpgradeDeadline(c.deadlineMs);
    const int size = c.size;
    std::string pkg = makePackage(size_t(size));
    long h = login(dev);
    ASSERT_GT(h, 0);
    Recorder rec;
    long u = H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &rec);
    ASSERT_GT(u, 0);
    ASSERT_TRUE(rec.waitFinal(10000)) << c.what;
    std::this_thread::sleep_for(milliseconds(100)); /* nothing may follow the final report */
    {
        std::lock_guard<std::mutex> lk(rec.m);
        SCOPED_TRACE(c.what);
        expectOrder(rec.reports, size, c.sent, c.progress);
        EXPECT_EQ(rec.reports.back().second, c.final);
        EXPECT_EQ(rec.finals, 1);
        EXPECT_LE(std::count_if(rec.reports.begin(), rec.reports.end(),
                                [](const std::pair<int, int> &p) { return p.first == -1 && p.second >= 0; }),
                  c.maxDeviceReports);
        if (c.lastError) {
            EXPECT_EQ(rec.finalLastError, c.lastError);
        }
    }
    if (c.final == -1) {
        auto seen = dev.seen();
        EXPECT_EQ(seen.upgradeBytes, uint32_t(size));
        EXPECT_TRUE(seen.upgradeDigestOk);
        EXPECT_EQ(seen.upgradeName, pkg.substr(pkg.rfind('/') + 1));
    }
    EXPECT_EQ(H264_DVR_CloseUpgradeHandle(u), 1);
    EXPECT_EQ(H264_DVR_CloseUpgradeHandle(u), 0);
    /* The upgrade consumed the login. */
    EXPECT_EQ(H264_DVR_Logout(h), 0);
    std::remove(pkg.c_str());
    H264_DVR_SetUpgradeDeadline(600000);
}

std::vector<int> everyPercentTwice()
{
    std::vector<int> v;
    for (int p = 0; p <= 100; ++p)
        v.insert(v.end(), {p, p / 2});
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SdkUpgrade,
    ::testing::Values(
        UpgradeCase{"success", [](DeviceScript &) {}, -1, 0, true, true},
        UpgradeCase{"device code", [](DeviceScript &s) { s.upgradeResult = NETSDK_ERR_UPG_HARDWARE; },
                    NETSDK_ERR_UPG_HARDWARE, NETSDK_ERR_UPG_HARDWARE, true, true},
        UpgradeCase{"unknown device code below -2", [](DeviceScript &s) { s.upgradeResult = -11812; }, -11812,
                    0, true, true},
        UpgradeCase{"device failure -1 is a failure", [](DeviceScript &s) { s.upgradeResult = -1; }, -2, 0,
                    true, true},
        UpgradeCase{"refused at the start", [](DeviceScript &s) { s.beginStatus = NETSDK_ERR_UPG_NO_MEMORY; },
                    NETSDK_ERR_UPG_NO_MEMORY, 0, false, false},
        UpgradeCase{"stopped by the device while sending",
                    [](DeviceScript &s) { s.resultAfterChunks = NETSDK_ERR_UPG_BAD_PACKET; },
                    NETSDK_ERR_UPG_BAD_PACKET, 0, false, false},
        UpgradeCase{"connection dropped", [](DeviceScript &s) { s.dropAfterBegin = true; }, -2,
                    NETSDK_ERR_NETWORK, false, false},
        /* More than the loopback buffers hold, so that the sender itself has to wait for the device. */
        UpgradeCase{"the device stops reading while we send",
                    [](DeviceScript &s) { s.stallAfterBytes = 1 << 20; }, -2, NETSDK_ERR_TIMEOUT, false,
                    false, 101, 0, 32 << 20},
        UpgradeCase{"silent after the transfer", [](DeviceScript &s) { s.silentAfterEnd = true; }, -2,
                    NETSDK_ERR_TIMEOUT, true, false},
        UpgradeCase{"no device progress", [](DeviceScript &s) { s.progress.clear(); }, -1, 0, true, false},
        UpgradeCase{"progress out of turn is not passed on", [](DeviceScript &s) { s.earlyProgress = true; },
                    -1, 0, true, true},
        /* Every percentage in one burst, each followed by a lower one: only rises pass, a few per
         * second, and the final 100 % always. */
        UpgradeCase{"a burst of progress is thinned",
                    [](DeviceScript &s) { s.progress = everyPercentTwice(); }, -1, 0, true, true, 20},
        UpgradeCase{"a flood of 1 % and 2 % ends at the flash deadline",
                    [](DeviceScript &s) { s.floodProgress = true; }, NETSDK_ERR_UPG_DEADLINE,
                    NETSDK_ERR_TIMEOUT, true, true, 2, 1500},
        UpgradeCase{"a trickle of progress ends at the flash deadline",
                    [](DeviceScript &s) {
                        s.progress = {10, 20, 30, 40, 50, 60};
                        s.progressGapMs = 250; /* under the test's silence limit of 400 ms */
                    },
                    NETSDK_ERR_UPG_DEADLINE, NETSDK_ERR_TIMEOUT, true, true, 6, 1000}));

// An upgrade pinned to the digest the application checked sends that file, and no other one: a
// file whose digest differs ends the upgrade before the device gets a single frame of it.
TEST_F(SdkTest, PinnedUpgradeSendsOnlyTheCheckedVersion)
{
    const int size = 200000;
    const std::string pkg = makePackage(size);
    std::array<uint8_t, 32> checked{};
    {
        std::ifstream in(pkg, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        netsdk::proto::Sha256 sha;
        sha.update(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        checked = sha.final();
    }
    std::array<uint8_t, 32> other = checked;
    other[31] ^= 1;
    struct Case {
        const char *what;
        const std::array<uint8_t, 32> *pin;
        int final;
        long lastError;
    };
    for (const Case &c : {Case{"the checked version", &checked, -1, 0},
                          Case{"another version", &other, -2, NETSDK_ERR_FILE_CHANGED}}) {
        SCOPED_TRACE(c.what);
        DeviceScript s;
        FakeDevice dev(s);
        const long h = login(dev);
        ASSERT_GT(h, 0);
        Recorder rec;
        const long u = H264_DVR_UpgradePinned(h, pkg.c_str(), 0, c.pin->data(), onUpgrade, &rec);
        ASSERT_GT(u, 0);
        ASSERT_TRUE(rec.waitFinal(10000));
        {
            std::lock_guard<std::mutex> lk(rec.m);
            EXPECT_EQ(rec.reports.back().second, c.final);
            if (c.lastError) {
                EXPECT_EQ(rec.finalLastError, c.lastError);
                EXPECT_EQ(rec.reports.size(), 1u); // no send report either
            }
        }
        const auto seen = dev.seen();
        EXPECT_EQ(seen.upgradeBytes, c.final == -1 ? uint32_t(size) : 0u);
        EXPECT_EQ(seen.upgradeName.empty(), c.final != -1); // not even UPGRADE_BEGIN
        H264_DVR_CloseUpgradeHandle(u);
    }
    std::remove(pkg.c_str());
}

TEST_F(SdkTest, UpgradeRefusedUpFront)
{
    DeviceScript s;
    FakeDevice dev(s);
    long h = login(dev);
    ASSERT_GT(h, 0);
    Recorder rec;
    EXPECT_EQ(H264_DVR_Upgrade(h, "/nonexistent/pkg.bin", 0, onUpgrade, &rec), 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_FILE);
    EXPECT_EQ(H264_DVR_Upgrade(987654, "/nonexistent/pkg.bin", 0, onUpgrade, &rec), 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_HANDLE);
    std::string empty = makePackage(0);
    EXPECT_EQ(H264_DVR_Upgrade(h, empty.c_str(), 0, onUpgrade, &rec), 0);
    EXPECT_EQ(rec.count(), 0u);
    std::remove(empty.c_str());
    H264_DVR_Logout(h);
}

TEST_F(SdkTest, CloseFromInsideTheFinalCallback)
{
    DeviceScript s;
    FakeDevice dev(s);
    std::string pkg = makePackage(100000);
    long h = login(dev);
    ASSERT_GT(h, 0);
    Recorder rec;
    rec.closeInFinal = true;
    long u = H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &rec);
    ASSERT_GT(u, 0);
    ASSERT_TRUE(rec.waitFinal(10000));
    std::this_thread::sleep_for(milliseconds(100));
    std::lock_guard<std::mutex> lk(rec.m);
    EXPECT_EQ(rec.closeResult, 1);
    EXPECT_EQ(rec.finals, 1);
    EXPECT_EQ(rec.reports.back().second, -1);
    std::remove(pkg.c_str());
}

TEST_F(SdkTest, NoCallbackAfterCloseReturns)
{
    DeviceScript s;
    s.dataDelayMs = 30;
    FakeDevice dev(s);
    std::string pkg = makePackage(2000000);
    long h = login(dev);
    ASSERT_GT(h, 0);
    Recorder rec;
    long u = H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &rec);
    ASSERT_GT(u, 0);
    for (int i = 0; i < 200 && rec.count() == 0; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_GT(rec.count(), 0u);
    ASSERT_EQ(H264_DVR_CloseUpgradeHandle(u), 1);
    size_t n = rec.count();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(rec.count(), n);
    EXPECT_EQ(rec.finals, 0);
    std::remove(pkg.c_str());
}

/* ---- One package, many devices ---- */

namespace
{

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::array<uint8_t, 32> sha256Of(const std::string &bytes)
{
    netsdk::proto::Sha256 sha;
    sha.update(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return sha.final();
}

/* Writes `bytes` over `path`: as a new file renamed into place, or into the same file. */
void replaceFile(const std::string &path, const std::string &bytes, bool inPlace)
{
    const std::string target = inPlace ? path : path + ".new";
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    if (!inPlace) {
        ASSERT_EQ(std::rename(target.c_str(), path.c_str()), 0);
    }
}

int finalReport(Recorder &r)
{
    std::lock_guard<std::mutex> lk(r.m);
    return r.reports.empty() ? 0 : r.reports.back().second;
}

struct ReplaceCase {
    const char *what;
    bool inPlace;
    int firstFinal; /* the upgrade that was sending when the file changed */
};

} // namespace

class SdkPackageReplaced : public SdkTest, public ::testing::WithParamInterface<ReplaceCase>
{
};

/* The file changes on disk between two upgrades that overlap: every device gets the bytes it was
 * sent with the digest of exactly those bytes, or no verdict of success at all. */
TEST_P(SdkPackageReplaced, EachDeviceGetsTheDigestOfWhatItReceived)
{
    const ReplaceCase &c = GetParam();
    ::setenv("TALLOW_NETSDK_UPGRADE_SILENCE_MS", "5000", 1); /* the slow device drains its backlog */
    DeviceScript slow;
    /* The first upgrade is still sending when the file changes: more than the loopback socket
     * buffers hold, read slowly. */
    slow.dataDelayMs = 3;
    FakeDevice dev1(slow);
    FakeDevice dev2{DeviceScript()};
    const size_t size = 192 * 65536;
    const std::string pkg = makePackage(size);
    const std::string before = fileBytes(pkg);
    std::string after = before;
    for (size_t i = 0; i < after.size(); i += 4096)
        after[i] = char(after[i] ^ 0x5a);

    long h1 = login(dev1), h2 = login(dev2);
    ASSERT_GT(h1, 0);
    ASSERT_GT(h2, 0);
    Recorder rec1, rec2;
    ASSERT_GT(H264_DVR_Upgrade(h1, pkg.c_str(), 0, onUpgrade, &rec1), 0);
    for (int i = 0; i < 300 && rec1.count() == 0; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_GT(rec1.count(), 0u) << "the first upgrade is sending";
    std::this_thread::sleep_for(milliseconds(20)); /* past the file system's time stamp grain */
    replaceFile(pkg, after, c.inPlace);
    ASSERT_GT(H264_DVR_Upgrade(h2, pkg.c_str(), 0, onUpgrade, &rec2), 0);
    ASSERT_TRUE(rec1.waitFinal(20000));
    ASSERT_TRUE(rec2.waitFinal(20000));

    SCOPED_TRACE(c.what);
    const auto seen1 = dev1.seen(), seen2 = dev2.seen();
    EXPECT_EQ(finalReport(rec2), -1);
    EXPECT_TRUE(seen2.upgradeDigestOk);
    EXPECT_EQ(seen2.upgradeSha, sha256Of(after));
    EXPECT_EQ(finalReport(rec1), c.firstFinal);
    if (c.firstFinal == -1) {
        EXPECT_TRUE(seen1.upgradeDigestOk);
        EXPECT_EQ(seen1.upgradeSha, sha256Of(before));
    } else {
        std::lock_guard<std::mutex> lk(rec1.m);
        EXPECT_EQ(rec1.finalLastError, NETSDK_ERR_FILE);
        EXPECT_EQ(seen1.upgradesOk, 0) << "no digest was sent for bytes it does not belong to";
    }
    std::remove(pkg.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, SdkPackageReplaced,
                         ::testing::Values(ReplaceCase{"replaced by a new file", false, -1},
                                           ReplaceCase{"rewritten in place", true, -2}));

TEST_F(SdkTest, UpgradesOfOneFileHashItOnce)
{
    DeviceScript s;
    FakeDevice dev(s);
    const std::string pkg = makePackage(500000);
    const uint64_t before = netsdk::detail::packageHashCount();
    std::vector<long> handles;
    for (int i = 0; i < 4; ++i)
        handles.push_back(login(dev));
    std::vector<std::unique_ptr<Recorder>> recs;
    for (long h : handles) {
        ASSERT_GT(h, 0);
        recs.push_back(std::make_unique<Recorder>());
        ASSERT_GT(H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, recs.back().get()), 0);
    }
    for (auto &r : recs) {
        ASSERT_TRUE(r->waitFinal(10000));
        EXPECT_EQ(finalReport(*r), -1);
    }
    EXPECT_EQ(dev.seen().upgradesOk, 4);
    EXPECT_EQ(netsdk::detail::packageHashCount() - before, 1u);

    /* A changed file is hashed again, never served the old digest. */
    std::this_thread::sleep_for(milliseconds(20));
    replaceFile(pkg, std::string(500000, 'x'), true);
    Recorder again;
    long h = login(dev);
    ASSERT_GT(h, 0);
    ASSERT_GT(H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &again), 0);
    ASSERT_TRUE(again.waitFinal(10000));
    EXPECT_EQ(finalReport(again), -1);
    EXPECT_EQ(dev.seen().upgradeSha, sha256Of(std::string(500000, 'x')));
    EXPECT_EQ(netsdk::detail::packageHashCount() - before, 2u);
    std::remove(pkg.c_str());
}

/* ---- Init / clean-up ---- */

TEST_F(SdkTest, CleanupBeforeLogoutIsHarmless)
{
    DeviceScript s;
    s.dataDelayMs = 30;
    FakeDevice dev(s);
    std::string pkg = makePackage(2000000);

    H264_DVR_Init(nullptr, 0); /* a second user of the SDK (e.g. a tab) */
    long h = login(dev);
    ASSERT_GT(h, 0);
    long h2 = login(dev);
    ASSERT_GT(h2, 0);
    Recorder rec;
    long u = H264_DVR_Upgrade(h2, pkg.c_str(), 0, onUpgrade, &rec);
    ASSERT_GT(u, 0);

    H264_DVR_Cleanup(); /* not the last: everything keeps working */
    char buf[264];
    unsigned long got = 0;
    EXPECT_EQ(H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 2000), 1);

    H264_DVR_Cleanup(); /* the last: sessions and upgrades end, no callback afterwards */
    size_t n = rec.count();
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(rec.count(), n);
    EXPECT_EQ(H264_DVR_Logout(h), 0);
    EXPECT_EQ(H264_DVR_GetLastError(), NETSDK_ERR_HANDLE);
    EXPECT_EQ(H264_DVR_CloseUpgradeHandle(u), 0);
    EXPECT_EQ(H264_DVR_Cleanup(), 0); /* one too many */
    int err = 0;
    EXPECT_EQ(H264_DVR_Login("127.0.0.1", dev.port(), "admin", "pw", nullptr, 1, &err), 0);
    EXPECT_EQ(err, NETSDK_ERR_NOT_INIT);

    H264_DVR_Init(nullptr, 0); /* for TearDown */
    std::remove(pkg.c_str());
}

/* ---- Many at once ---- */

TEST_F(SdkTest, ConcurrentLoginsAndCalls)
{
    DeviceScript s;
    FakeDevice dev(s);
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            long h = login(dev);
            if (h <= 0)
                return;
            char buf[264];
            unsigned long got = 0;
            int good = 0;
            for (int i = 0; i < 10; ++i)
                good += H264_DVR_GetDevConfig(h, NETSDK_CFG_LOGO_PART, -1, buf, sizeof buf, &got, 3000) == 1;
            if (good == 10 && H264_DVR_Logout(h) == 1)
                ++ok;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 16);
}
