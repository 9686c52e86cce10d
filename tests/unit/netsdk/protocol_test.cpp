#include "netsdk/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>

using namespace netsdk::proto;

namespace
{

std::string hex(const uint8_t *p, size_t n)
{
    static const char *d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

/* Feeds a TCP byte stream through the stream decoder in pieces of `step` bytes. */
std::vector<Frame> readAll(const Bytes &stream, size_t step, Result &last)
{
    FrameReader r;
    std::vector<Frame> out;
    last = Result::Incomplete;
    for (size_t i = 0; i < stream.size(); i += step) {
        r.feed(stream.data() + i, std::min(step, stream.size() - i));
        Frame f;
        while ((last = r.next(f)) == Result::Ok)
            out.push_back(f);
        if (last != Result::Incomplete)
            break;
    }
    return out;
}

/* The same stream received straight into the reader's space, at most `step` bytes at a time. */
std::vector<Frame> receiveAll(const Bytes &stream, size_t step, Result &last)
{
    FrameReader r;
    std::vector<Frame> out;
    last = Result::Incomplete;
    for (size_t i = 0; i < stream.size();) {
        size_t room = step;
        uint8_t *to = r.space(room);
        const size_t n = std::min(room, stream.size() - i);
        std::memcpy(to, stream.data() + i, n);
        r.commit(n);
        i += n;
        FrameView v;
        while ((last = r.next(v)) == Result::Ok)
            out.push_back(v.copy());
        if (last != Result::Incomplete)
            break;
    }
    return out;
}

Frame one(const Bytes &b)
{
    Result last;
    auto frames = readAll(b, b.size(), last);
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? Frame{} : frames[0];
}

} // namespace

namespace
{

std::array<uint8_t, 32> bytesFrom(uint8_t first)
{
    std::array<uint8_t, 32> a{};
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = uint8_t(first + i);
    return a;
}

struct ProofInputs {
    std::array<uint8_t, kDigestSize> key = bytesFrom(0x10);
    std::array<uint8_t, kNonceSize> clientNonce = bytesFrom(0x40);
    std::array<uint8_t, kNonceSize> deviceNonce = bytesFrom(0x80);
    std::string mac = "00:12:34:56:78:9a";
    std::string user = "admin";
    std::array<uint8_t, kDigestSize> proof() const
    {
        return loginProof(key, clientNonce, deviceNonce, mac, user);
    }
};

} // namespace

TEST(ProtocolDigest, KnownAnswers)
{
    const auto salt = bytesFrom(0);
    const auto k = loginKey("secret", salt, 100000);
    EXPECT_EQ(hex(k.data(), k.size()), "95e1a5e741b1e4f11372dee9aad7eeb59b43900952363ee187e09888139a3f34");
    const auto k0 = loginKey("", salt, 100000);
    EXPECT_EQ(hex(k0.data(), k0.size()), "558d0ef50fb0b917435bdf66547c5c1be4bdcef4e50bebfaac5385e56d254a45");
    ProofInputs in;
    in.key = k;
    const auto d = in.proof();
    EXPECT_EQ(hex(d.data(), d.size()), "1d4b225f667ace60b38caffef9fd54cde89493e934cea3062c734f1dae434b22");
    EXPECT_TRUE(digestEqual(d.data(), d.data()));
    EXPECT_FALSE(digestEqual(d.data(), k.data()));
}

/* A proof made for one device, one pair of nonces and one user proves nothing for any other: each
 * row changes one input, as a relaying or replaying device would have to. */
TEST(ProtocolDigest, ProofIsBoundToEveryInput)
{
    const ProofInputs base;
    const auto reference = base.proof();
    const struct {
        const char *what;
        std::function<void(ProofInputs &)> change;
        bool same;
    } cases[] = {
        {"another device's MAC", [](ProofInputs &i) { i.mac = "00:12:34:56:78:9b"; }, false},
        {"another client nonce", [](ProofInputs &i) { i.clientNonce[31] ^= 1; }, false},
        {"another device nonce", [](ProofInputs &i) { i.deviceNonce[0] ^= 1; }, false},
        {"the nonces swapped", [](ProofInputs &i) { std::swap(i.clientNonce, i.deviceNonce); }, false},
        {"another user", [](ProofInputs &i) { i.user = "admin2"; }, false},
        {"another key (password or salt)", [](ProofInputs &i) { i.key[5] ^= 1; }, false},
        {"the MAC in upper case", [](ProofInputs &i) { i.mac = "00:12:34:56:78:9A"; }, true},
    };
    for (const auto &c : cases) {
        ProofInputs in;
        c.change(in);
        EXPECT_EQ(digestEqual(in.proof().data(), reference.data()), c.same) << c.what;
    }
}

TEST(ProtocolCodec, StreamRoundTripSurvivesAnySplit)
{
    JsonSet js;
    js.command = NETSDK_JSON_SET;
    js.channel = -1;
    js.name = "General.Location";
    js.text = "{\"Language\":\"English\"}\n";
    std::vector<uint8_t> data(70000 % kMaxUpgradeChunk + 1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);

    Bytes stream;
    auto add = [&](const Bytes &b) { stream.insert(stream.end(), b.begin(), b.end()); };
    add(encodeJsonSet(5, 77, js));
    add(encodeUpgradeData(6, 77, 4096, data.data(), data.size()));
    add(encodeUpgradeProgress(77, 42));
    add(encodeUpgradeResult(77, NETSDK_ERR_UPG_HARDWARE));

    const struct {
        const char *how;
        std::vector<Frame> (*read)(const Bytes &, size_t, Result &);
    } readers[] = {{"fed", readAll}, {"received into its space", receiveAll}};
    for (const auto &reader : readers)
        for (size_t step : {size_t(1), size_t(7), size_t(24), size_t(4096), stream.size()}) {
            Result last;
            auto frames = reader.read(stream, step, last);
            ASSERT_EQ(frames.size(), 4u) << reader.how << ", step " << step;
            EXPECT_EQ(last, Result::Incomplete);

            JsonSet js2;
            ASSERT_EQ(decodeJsonSet(frames[0], js2), Result::Ok);
            EXPECT_EQ(frames[0].header.seq, 5u);
            EXPECT_EQ(frames[0].header.session, 77u);
            EXPECT_EQ(js2.name, js.name);
            EXPECT_EQ(js2.text, js.text);
            EXPECT_EQ(js2.channel, -1);

            uint32_t off = 0;
            const uint8_t *p = nullptr;
            size_t n = 0;
            ASSERT_EQ(decodeUpgradeData(frames[1], off, p, n), Result::Ok);
            EXPECT_EQ(off, 4096u);
            ASSERT_EQ(n, data.size());
            EXPECT_EQ(std::memcmp(p, data.data(), n), 0);

            int32_t pct = -1;
            ASSERT_EQ(decodeUpgradeProgress(frames[2], pct), Result::Ok);
            EXPECT_EQ(pct, 42);
            EXPECT_EQ(frames[3].header.status, NETSDK_ERR_UPG_HARDWARE);
        }
}

TEST(ProtocolCodec, MessageRoundTrips)
{
    /* Login */
    std::array<uint8_t, kNonceSize> cn{};
    ASSERT_EQ(decodeLoginChallenge(one(encodeLoginChallenge(1, bytesFrom(7))), cn), Result::Ok);
    EXPECT_EQ(cn, bytesFrom(7));
    LoginChallengeAnswer ca;
    ca.deviceNonce = bytesFrom(0x80);
    ca.iterations = 250000;
    ca.salt = bytesFrom(0x20);
    ca.mac = "00:12:34:56:78:9A";
    LoginChallengeAnswer ca2;
    ASSERT_EQ(decodeLoginChallengeAnswer(one(encodeLoginChallengeAnswer(1, 0, &ca)), ca2), Result::Ok);
    EXPECT_EQ(ca2.deviceNonce, ca.deviceNonce);
    EXPECT_EQ(ca2.kdf, kKdfPbkdf2Sha256);
    EXPECT_EQ(ca2.iterations, 250000u);
    EXPECT_EQ(ca2.salt, ca.salt);
    EXPECT_EQ(ca2.mac, "00:12:34:56:78:9A");
    /* A busy device: its code and no payload. */
    Frame busy = one(encodeLoginChallengeAnswer(1, NETSDK_ERR_SYSTEM_BUSY, &ca));
    EXPECT_TRUE(busy.payload.empty());
    EXPECT_EQ(decodeLoginChallengeAnswer(busy, ca2), Result::Ok);

    Login l;
    l.user = "admin";
    l.digest.fill(0xab);
    l.mode = 1;
    Login l2;
    ASSERT_EQ(decodeLogin(one(encodeLogin(2, l)), l2), Result::Ok);
    EXPECT_EQ(l2.user, "admin");
    EXPECT_EQ(l2.digest, l.digest);
    EXPECT_EQ(l2.mode, 1);

    H264_DVR_DEVICEINFO info{};
    setField(info.sSoftWareVersion, sizeof info.sSoftWareVersion, "V4.02.R11");
    setField(info.sHardWare, sizeof info.sHardWare, "HI3516EV300_85H50AI");
    info.BuildYear = 2024;
    Frame la = one(encodeLoginAnswer(2, 0x1234, 0, &info));
    EXPECT_EQ(la.header.session, 0x1234u);
    H264_DVR_DEVICEINFO info2{};
    ASSERT_EQ(decodeLoginAnswer(la, info2), Result::Ok);
    EXPECT_EQ(std::memcmp(&info, &info2, sizeof info), 0);

    /* A failed login carries its code, no session and no payload. */
    Frame lf = one(encodeLoginAnswer(2, 0x1234, NETSDK_ERR_USER_LOCKED, &info));
    EXPECT_EQ(lf.header.session, 0u);
    EXPECT_EQ(lf.header.status, NETSDK_ERR_USER_LOCKED);
    EXPECT_TRUE(lf.payload.empty());
    EXPECT_EQ(decodeLoginAnswer(lf, info2), Result::Ok);

    /* Configuration */
    ConfigGet g{NETSDK_CFG_LOGO_PART, -1, 264};
    ConfigGet g2;
    ASSERT_EQ(decodeConfigGet(one(encodeConfigGet(3, 9, g)), g2), Result::Ok);
    EXPECT_EQ(g2.command, uint32_t(NETSDK_CFG_LOGO_PART));
    EXPECT_EQ(g2.channel, -1);
    EXPECT_EQ(g2.maxSize, 264u);

    const uint8_t reset[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    ConfigSet s2;
    ASSERT_EQ(decodeConfigSet(one(encodeConfigSet(4, 9, NETSDK_CFG_RESET, -1, reset, 11)), s2), Result::Ok);
    EXPECT_EQ(s2.command, uint32_t(NETSDK_CFG_RESET));
    EXPECT_EQ(s2.data, Bytes(reset, reset + 11));

    JsonGet jg;
    jg.command = NETSDK_JSON_PRODUCER_GET;
    jg.maxSize = 10239;
    jg.name = "ProducerInfo";
    JsonGet jg2;
    ASSERT_EQ(decodeJsonGet(one(encodeJsonGet(5, 9, jg)), jg2), Result::Ok);
    EXPECT_EQ(jg2.name, "ProducerInfo");
    EXPECT_EQ(jg2.maxSize, 10239u);

    std::string txt = "{\"Ret\":100}";
    std::string txt2;
    Frame ja =
        one(encodeAnswer(MSG_JSON_GET, 5, 9, 0, reinterpret_cast<const uint8_t *>(txt.data()), txt.size()));
    ASSERT_EQ(decodeJsonText(ja, txt2), Result::Ok);
    EXPECT_EQ(txt2, txt);

    /* Upgrade */
    UpgradeBegin ub;
    ub.total = 123456;
    ub.fileName = "General_IPC.bin";
    UpgradeBegin ub2;
    ASSERT_EQ(decodeUpgradeBegin(one(encodeUpgradeBegin(6, 9, ub)), ub2), Result::Ok);
    EXPECT_EQ(ub2.total, 123456u);
    EXPECT_EQ(ub2.chunk, kMaxUpgradeChunk);
    EXPECT_EQ(ub2.fileName, "General_IPC.bin");

    UpgradeEnd ue;
    ue.total = 123456;
    ue.sha256.fill(7);
    UpgradeEnd ue2;
    ASSERT_EQ(decodeUpgradeEnd(one(encodeUpgradeEnd(7, 9, ue)), ue2), Result::Ok);
    EXPECT_EQ(ue2.sha256, ue.sha256);

    Control c2;
    ASSERT_EQ(decodeControl(one(encodeControl(8, 9, Control{})), c2), Result::Ok);
    EXPECT_EQ(c2.type, kControlReboot);
}

TEST(ProtocolCodec, DatagramRoundTrips)
{
    SDK_CONFIG_NET_COMMON_V2 rec{};
    setField(rec.HostName, sizeof rec.HostName, "cam1");
    setField(rec.sMac, sizeof rec.sMac, "00:12:34:56:78:9a");
    rec.HostIP[0] = 127;
    rec.HostIP[3] = 5;
    rec.NetValues[1] = 34567;
    /* A cloud identifier of 32 characters fills its field with no terminator, and is still a device. */
    std::memcpy(rec.sSn, "0123456789abcdef0123456789ABCDEF", sizeof rec.sSn);
    Bytes b = encodeSearchAnswer(99, rec);
    Frame f;
    ASSERT_EQ(decodeDatagram(b.data(), b.size(), f), Result::Ok);
    EXPECT_EQ(f.header.seq, 99u);
    SDK_CONFIG_NET_COMMON_V2 rec2{};
    ASSERT_EQ(decodeSearchAnswer(f, rec2), Result::Ok);
    EXPECT_EQ(std::memcmp(&rec, &rec2, sizeof rec), 0);

    NetSet ns;
    ns.channel = 254;
    setField(ns.block.sMac, sizeof ns.block.sMac, "00:12:34:56:78:9A");
    ns.block.HostIP[3] = 20;
    ns.block.ChangeFlag = 1;
    b = encodeNetSet(5, ns);
    ASSERT_EQ(decodeDatagram(b.data(), b.size(), f), Result::Ok);
    NetSet ns2;
    ASSERT_EQ(decodeNetSet(f, ns2), Result::Ok);
    EXPECT_EQ(ns2.channel, 254);
    EXPECT_EQ(std::memcmp(&ns.block, &ns2.block, sizeof ns.block), 0);

    b = encodeNetSetAnswer(5, NETSDK_ERR_NEED_REBOOT, "00:12:34:56:78:9a");
    ASSERT_EQ(decodeDatagram(b.data(), b.size(), f), Result::Ok);
    std::string mac;
    ASSERT_EQ(decodeNetSetAnswer(f, mac), Result::Ok);
    EXPECT_EQ(f.header.status, NETSDK_ERR_NEED_REBOOT);
    EXPECT_TRUE(macEqual(mac, "00:12:34:56:78:9A"));
}

/* ---- Malformed input: every row is a valid frame with one thing broken. ---- */

struct BadFrame {
    const char *what;
    std::function<Bytes()> make;
    Transport transport;
    Result header;  /* expected from the header check (Ok: the header passes) */
    Result payload; /* expected from the payload decoder when the header passes */
};

namespace
{

Bytes patched(Bytes b, size_t at, std::initializer_list<uint8_t> bytes)
{
    size_t i = at;
    for (uint8_t v : bytes)
        b[i++] = v;
    return b;
}

Bytes withLength(Bytes b, uint32_t len)
{
    for (int i = 0; i < 4; ++i)
        b[20 + i] = uint8_t(len >> (8 * i));
    return b;
}

Bytes challengeAnswerWith(const std::function<void(LoginChallengeAnswer &)> &change)
{
    LoginChallengeAnswer a;
    a.deviceNonce = bytesFrom(0x80);
    a.salt = bytesFrom(0x20);
    a.mac = "00:12:34:56:78:9a";
    change(a);
    return encodeLoginChallengeAnswer(1, 0, &a);
}

Bytes validLogin()
{
    Login l;
    l.user = "admin";
    return encodeLogin(2, l);
}

Bytes loginAnswerWith(std::function<void(H264_DVR_DEVICEINFO &)> spoil)
{
    H264_DVR_DEVICEINFO info{};
    spoil(info);
    return encodeLoginAnswer(2, 5, 0, &info);
}

Result decodeAny(const Frame &f)
{
    switch (f.header.type) {
    case MSG_LOGIN: {
        Login m;
        return decodeLogin(f, m);
    }
    case answerOf(MSG_LOGIN): {
        H264_DVR_DEVICEINFO m;
        return decodeLoginAnswer(f, m);
    }
    case MSG_LOGIN_CHALLENGE: {
        std::array<uint8_t, kNonceSize> m;
        return decodeLoginChallenge(f, m);
    }
    case answerOf(MSG_LOGIN_CHALLENGE): {
        LoginChallengeAnswer m;
        return decodeLoginChallengeAnswer(f, m);
    }
    case MSG_CONFIG_GET: {
        ConfigGet m;
        return decodeConfigGet(f, m);
    }
    case MSG_JSON_GET: {
        JsonGet m;
        return decodeJsonGet(f, m);
    }
    case MSG_JSON_SET: {
        JsonSet m;
        return decodeJsonSet(f, m);
    }
    case answerOf(MSG_JSON_GET):
    case answerOf(MSG_JSON_SET): {
        std::string m;
        return decodeJsonText(f, m);
    }
    case MSG_CONFIG_SET: {
        ConfigSet m;
        return decodeConfigSet(f, m);
    }
    case MSG_CONTROL: {
        Control m;
        return decodeControl(f, m);
    }
    case MSG_UPGRADE_END: {
        UpgradeEnd m;
        return decodeUpgradeEnd(f, m);
    }
    case MSG_UPGRADE_BEGIN: {
        UpgradeBegin m;
        return decodeUpgradeBegin(f, m);
    }
    case MSG_UPGRADE_DATA: {
        uint32_t o;
        const uint8_t *p;
        size_t n;
        return decodeUpgradeData(f, o, p, n);
    }
    case EVT_UPGRADE_PROGRESS: {
        int32_t v;
        return decodeUpgradeProgress(f, v);
    }
    case answerOf(MSG_SEARCH): {
        SDK_CONFIG_NET_COMMON_V2 m;
        return decodeSearchAnswer(f, m);
    }
    case MSG_NET_SET: {
        NetSet m;
        return decodeNetSet(f, m);
    }
    case answerOf(MSG_NET_SET): {
        std::string m;
        return decodeNetSetAnswer(f, m);
    }
    default:
        return Result::Ok;
    }
}

const uint8_t kData[8] = {1, 2, 3, 4, 5, 6, 7, 8};

SDK_CONFIG_NET_COMMON_V2 goodRecord()
{
    SDK_CONFIG_NET_COMMON_V2 r{};
    setField(r.sMac, sizeof r.sMac, "00:12:34:56:78:9a");
    r.NetValues[1] = 34567;
    return r;
}

NetSet goodNetSet()
{
    NetSet n;
    setField(n.block.sMac, sizeof n.block.sMac, "00:12:34:56:78:9a");
    return n;
}

} // namespace

class ProtocolBadFrame : public ::testing::TestWithParam<BadFrame>
{
};

TEST_P(ProtocolBadFrame, IsRefused)
{
    const BadFrame &c = GetParam();
    Bytes b = c.make();
    Header h;
    Result r = decodeHeader(b.data(), b.size(), c.transport, h);
    EXPECT_EQ(r, c.header) << c.what << ": " << resultText(r);
    if (r != Result::Ok)
        return;
    Frame f;
    if (c.transport == Transport::Udp) {
        r = decodeDatagram(b.data(), b.size(), f);
        if (r != Result::Ok) {
            EXPECT_EQ(r, c.payload) << c.what;
            return;
        }
    } else {
        FrameReader reader;
        reader.feed(b.data(), b.size());
        ASSERT_EQ(reader.next(f), Result::Ok) << c.what;
    }
    EXPECT_EQ(decodeAny(f), c.payload) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProtocolBadFrame,
    ::testing::Values(
        BadFrame{"bad magic", [] { return patched(validLogin(), 0, {'X'}); }, Transport::Tcp, Result::BadMagic,
                 Result::Ok},
        BadFrame{"version 1 (the old login)", [] { return patched(validLogin(), 4, {1}); }, Transport::Tcp,
                 Result::BadVersion, Result::Ok},
        BadFrame{"version 3", [] { return patched(validLogin(), 4, {3}); }, Transport::Tcp, Result::BadVersion,
                 Result::Ok},
        BadFrame{"flags set", [] { return patched(validLogin(), 5, {1}); }, Transport::Tcp, Result::BadFlags,
                 Result::Ok},
        BadFrame{"unknown type", [] { return patched(validLogin(), 6, {0x99, 0x00}); }, Transport::Tcp,
                 Result::BadType, Result::Ok},
        BadFrame{"answer to UPGRADE_DATA does not exist",
                 [] { return patched(validLogin(), 6, {0x51, 0x80}); }, Transport::Tcp, Result::BadType,
                 Result::Ok},
        BadFrame{"UDP type on TCP", [] { return encodeSearch(1); }, Transport::Tcp, Result::BadType, Result::Ok},
        BadFrame{"TCP type on UDP", [] { return validLogin(); }, Transport::Udp, Result::BadType, Result::Ok},
        BadFrame{"length 4 GiB", [] { return withLength(validLogin(), 0xffffffffu); }, Transport::Tcp,
                 Result::BadLength, Result::Ok},
        BadFrame{"config set over 1 MiB of data",
                 [] { return withLength(encodeConfigSet(1, 1, 52, -1, kData, 8), 8 + kMaxConfigData + 1); },
                 Transport::Tcp, Result::BadLength, Result::Ok},
        BadFrame{"UDP payload over 1024", [] { return withLength(encodeSearch(1), 2000); }, Transport::Udp,
                 Result::BadLength, Result::Ok},
        BadFrame{"request with a status", [] { return patched(validLogin(), 16, {1}); }, Transport::Tcp,
                 Result::BadStatus, Result::Ok},
        BadFrame{"config answer with a positive status",
                 [] { return encodeAnswer(MSG_CONFIG_SET, 1, 1, 1); }, Transport::Tcp, Result::BadStatus,
                 Result::Ok},
        BadFrame{"event with a seq",
                 [] { return patched(encodeUpgradeProgress(5, 1), 8, {1}); }, Transport::Tcp, Result::BadStatus,
                 Result::Ok},
        BadFrame{"login with a session id", [] { return patched(validLogin(), 12, {1}); }, Transport::Tcp,
                 Result::BadSession, Result::Ok},
        BadFrame{"config get without a session",
                 [] { return encodeConfigGet(1, 0, ConfigGet{61, -1, 264}); }, Transport::Tcp, Result::BadSession,
                 Result::Ok},
        BadFrame{"successful login answer without a session",
                 [] { return patched(loginAnswerWith([](H264_DVR_DEVICEINFO &) {}), 12, {0}); }, Transport::Tcp,
                 Result::BadSession, Result::Ok},
        BadFrame{"datagram longer than its header",
                 [] {
                     Bytes b = encodeSearch(1);
                     b.push_back(0);
                     return b;
                 },
                 Transport::Udp, Result::Ok, Result::Truncated},
        BadFrame{"login user unterminated",
                 [] {
                     Bytes b = validLogin();
                     std::fill(b.begin() + kHeaderSize, b.begin() + kHeaderSize + kUserField, 'a');
                     return b;
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"login user empty", [] { return patched(validLogin(), kHeaderSize, {0}); }, Transport::Tcp,
                 Result::Ok, Result::BadPayload},
        BadFrame{"login user with garbage after its NUL",
                 [] { return patched(validLogin(), kHeaderSize + 10, {'x'}); }, Transport::Tcp, Result::Ok,
                 Result::BadPayload},
        BadFrame{"login short by a byte",
                 [] {
                     Bytes b = validLogin();
                     b.pop_back();
                     return withLength(b, uint32_t(b.size() - kHeaderSize));
                 },
                 Transport::Tcp, Result::Ok, Result::BadLength},
        BadFrame{"device info with an unterminated hardware name",
                 [] {
                     return loginAnswerWith([](H264_DVR_DEVICEINFO &i) { std::memset(i.sHardWare, 'H', 64); });
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"challenge answer one byte short",
                 [] {
                     Bytes b = challengeAnswerWith([](LoginChallengeAnswer &) {});
                     b.resize(b.size() - 1);
                     return withLength(b, uint32_t(kChallengeAnswerSize - 1));
                 },
                 Transport::Tcp, Result::Ok, Result::BadLength},
        BadFrame{"challenge answer with a KDF cost below the floor",
                 [] { return challengeAnswerWith([](LoginChallengeAnswer &a) { a.iterations = kMinKdfIterations - 1; }); },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"challenge answer with a KDF cost above the ceiling",
                 [] { return challengeAnswerWith([](LoginChallengeAnswer &a) { a.iterations = kMaxKdfIterations + 1; }); },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"challenge answer with an absurd KDF cost",
                 [] { return challengeAnswerWith([](LoginChallengeAnswer &a) { a.iterations = 0xffffffffu; }); },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"challenge answer with an unknown KDF",
                 [] { return challengeAnswerWith([](LoginChallengeAnswer &a) { a.kdf = 2; }); }, Transport::Tcp,
                 Result::Ok, Result::BadPayload},
        BadFrame{"challenge answer with a malformed MAC",
                 [] { return challengeAnswerWith([](LoginChallengeAnswer &a) { a.mac = "00:12:34:56:78"; }); },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"challenge without a client nonce",
                 [] {
                     Bytes b = encodeLoginChallenge(1, bytesFrom(1));
                     b.resize(kHeaderSize);
                     return withLength(b, 0);
                 },
                 Transport::Tcp, Result::Ok, Result::BadLength},
        BadFrame{"config get asking for 0 bytes", [] { return encodeConfigGet(1, 1, ConfigGet{61, -1, 0}); },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"config get asking for more than 1 MiB",
                 [] { return encodeConfigGet(1, 1, ConfigGet{61, -1, kMaxConfigData + 1}); }, Transport::Tcp,
                 Result::Ok, Result::BadPayload},
        BadFrame{"JSON name with a blank",
                 [] {
                     JsonGet g;
                     g.maxSize = 10;
                     g.name = "Producer Info";
                     return encodeJsonGet(1, 1, g);
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"JSON text with a NUL",
                 [] {
                     JsonSet s;
                     s.name = "ProducerInfo";
                     s.text = std::string("{\"a\":1}\0x", 9);
                     return encodeJsonSet(1, 1, s);
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"JSON answer with a NUL",
                 [] {
                     const uint8_t t[3] = {'{', 0, '}'};
                     return encodeAnswer(MSG_JSON_GET, 1, 1, 0, t, 3);
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"upgrade of 0 bytes",
                 [] {
                     UpgradeBegin u;
                     u.total = 0;
                     return encodeUpgradeBegin(1, 1, u);
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"upgrade file name with a path",
                 [] {
                     UpgradeBegin u;
                     u.total = 1;
                     u.fileName = "../x.bin";
                     return encodeUpgradeBegin(1, 1, u);
                 },
                 Transport::Tcp, Result::Ok, Result::BadPayload},
        BadFrame{"upgrade chunk of 0 bytes",
                 [] { return encodeUpgradeData(1, 1, 0, kData, 0); }, Transport::Tcp, Result::Ok,
                 Result::BadLength},
        BadFrame{"upgrade data past 2 GiB",
                 [] { return encodeUpgradeData(1, 1, 0x7ffffffc, kData, 8); }, Transport::Tcp, Result::Ok,
                 Result::BadPayload},
        BadFrame{"progress of 101 percent", [] { return encodeUpgradeProgress(1, 101); }, Transport::Tcp,
                 Result::Ok, Result::BadPayload},
        BadFrame{"search answer with port 0",
                 [] {
                     auto r = goodRecord();
                     r.NetValues[1] = 0;
                     return encodeSearchAnswer(1, r);
                 },
                 Transport::Udp, Result::Ok, Result::BadPayload},
        BadFrame{"search answer with an unterminated version",
                 [] {
                     auto r = goodRecord();
                     std::memset(r.sSoftWareVersion, 'v', sizeof r.sSoftWareVersion);
                     return encodeSearchAnswer(1, r);
                 },
                 Transport::Udp, Result::Ok, Result::BadPayload},
        BadFrame{"search answer with a malformed MAC",
                 [] {
                     auto r = goodRecord();
                     setField(r.sMac, sizeof r.sMac, "00-12-34-56-78-9a");
                     return encodeSearchAnswer(1, r);
                 },
                 Transport::Udp, Result::Ok, Result::BadPayload},
        BadFrame{"address change with a block size of 399",
                 [] { return patched(encodeNetSet(1, goodNetSet()), kHeaderSize + 8, {0x8f, 0x01}); },
                 Transport::Udp, Result::Ok, Result::BadPayload},
        BadFrame{"address change without a MAC",
                 [] {
                     auto n = goodNetSet();
                     n.block.sMac[0] = 0;
                     return encodeNetSet(1, n);
                 },
                 Transport::Udp, Result::Ok, Result::BadPayload},
        BadFrame{"address change answer without a MAC",
                 [] { return encodeNetSetAnswer(1, 0, ""); }, Transport::Udp, Result::Ok, Result::BadPayload}));

TEST(ProtocolCodec, UpgradeDataHeadIsTheFramesOwnHead)
{
    std::vector<uint8_t> data(kMaxUpgradeChunk);
    for (size_t n : {size_t(1), size_t(4097), size_t(kMaxUpgradeChunk)}) {
        const Bytes whole = encodeUpgradeData(77, 0x5eed, 0x10000, data.data(), n);
        const auto head = encodeUpgradeDataHead(77, 0x5eed, 0x10000, n);
        ASSERT_EQ(whole.size(), head.size() + n);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), whole.begin())) << n;
    }
}

/* Whole chunks received into the reader as a socket hands them over: once the first chunk's header
 * is known, every chunk is decoded where its bytes were received, none moved inside the reader. */
TEST(ProtocolCodec, ChunksAreDecodedWhereTheyWereReceived)
{
    std::vector<uint8_t> data(kMaxUpgradeChunk);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 13 + 1);
    Bytes stream;
    constexpr uint32_t kChunks = 6;
    for (uint32_t c = 0; c < kChunks; ++c) {
        data[0] = uint8_t(c);
        const Bytes b = encodeUpgradeData(c + 1, 77, c * kMaxUpgradeChunk, data.data(), data.size());
        stream.insert(stream.end(), b.begin(), b.end());
    }
    const size_t frameSize = stream.size() / kChunks;
    /* How many bytes the socket holds at each receive. */
    for (size_t arrives : {size_t(1000), size_t(50000), size_t(65536), size_t(100000), stream.size()}) {
        FrameReader r;
        struct Piece {
            size_t from, n;
            const uint8_t *at;
        };
        std::vector<Piece> pieces;
        auto receivedAt = [&](size_t from) -> const uint8_t * {
            for (const Piece &p : pieces)
                if (from >= p.from && from < p.from + p.n)
                    return p.at + (from - p.from);
            return nullptr;
        };
        size_t i = 0;
        uint32_t chunks = 0;
        while (i < stream.size()) {
            size_t room = 1 << 20;
            uint8_t *to = r.space(room);
            const size_t n = std::min({room, arrives, stream.size() - i});
            std::memcpy(to, stream.data() + i, n);
            r.commit(n);
            pieces.push_back({i, n, to});
            i += n;
            FrameView v;
            Result res;
            while ((res = r.next(v)) == Result::Ok) {
                uint32_t off = 0;
                const uint8_t *p = nullptr;
                size_t len = 0;
                ASSERT_EQ(decodeUpgradeData(v, off, p, len), Result::Ok);
                EXPECT_EQ(off, chunks * kMaxUpgradeChunk);
                ASSERT_EQ(len, data.size());
                EXPECT_EQ(p[0], uint8_t(chunks));
                EXPECT_EQ(std::memcmp(p + 1, data.data() + 1, len - 1), 0);
                if (chunks >= 2) {
                    EXPECT_EQ(p, receivedAt(chunks * frameSize + kHeaderSize + 4))
                        << "chunk " << chunks << ", " << arrives << " bytes a time";
                }
                ++chunks;
            }
            ASSERT_EQ(res, Result::Incomplete);
        }
        EXPECT_EQ(chunks, kChunks) << arrives;
    }
}

TEST(ProtocolCodec, ReaderRefusesOversizedFrameBeforeBuffering)
{
    FrameReader r;
    Bytes b = withLength(validLogin(), kMaxPayload + 1);
    b.resize(kHeaderSize);
    r.feed(b.data(), b.size());
    Frame f;
    EXPECT_EQ(r.next(f), Result::BadLength);
    /* The stream stays refused: a connection in this state must be closed. */
    Bytes good = validLogin();
    r.feed(good.data(), good.size());
    EXPECT_EQ(r.next(f), Result::BadLength);
    EXPECT_EQ(r.buffered(), 0u);
}

TEST(ProtocolHelpers, TextFieldsAndMacs)
{
    char f[8];
    setField(f, sizeof f, "0123456789");
    EXPECT_EQ(fieldText(f, sizeof f), "0123456");
    EXPECT_TRUE(fieldTerminated(f, sizeof f));
    std::memset(f, 'x', sizeof f);
    EXPECT_FALSE(fieldTerminated(f, sizeof f));
    EXPECT_EQ(fieldText(f, sizeof f), "xxxxxxxx");

    EXPECT_TRUE(isMacText("00:12:34:56:78:9a"));
    EXPECT_TRUE(macEqual("00:12:34:56:78:9a", "00:12:34:56:78:9A"));
    EXPECT_FALSE(macEqual("00:12:34:56:78:9a", "00:12:34:56:78:9b"));
    for (const char *bad :
         {"", "00:12:34:56:78", "00:12:34:56:78:9g", "0012:34:56:78:9a:", "00:12:34:56:78:9a:"})
        EXPECT_FALSE(isMacText(bad)) << bad;
    EXPECT_FALSE(macEqual("", ""));

    EXPECT_TRUE(isConfigName("Custom.ShowH265X"));
    EXPECT_FALSE(isConfigName(""));
    EXPECT_FALSE(isConfigName(std::string(64, 'a')));
    EXPECT_FALSE(isConfigName("a/b"));
}

/* The fuzzer's seed frames are written from PROTOCOL.md by hand, not by this codec: every one of
 * them must pass, so the document and the code say the same thing. */
TEST(ProtocolDocument, SeedFramesFromTheDocumentDecode)
{
    const std::string dir = std::string(TALLOW_SOURCE_DIR) + "/tests/fuzz/netsdk/seeds";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
        Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(b.empty()) << e->d_name;
        ++files;
        std::vector<Frame> frames;
        if (b[0] & 1) {
            Frame f;
            ASSERT_EQ(decodeDatagram(b.data() + 1, b.size() - 1, f), Result::Ok) << e->d_name;
            frames.push_back(f);
        } else {
            Result last;
            frames = readAll(Bytes(b.begin() + 1, b.end()), 13, last);
            EXPECT_EQ(last, Result::Incomplete) << e->d_name << ": " << resultText(last);
        }
        ASSERT_FALSE(frames.empty()) << e->d_name;
        for (const Frame &f : frames)
            EXPECT_EQ(decodeAny(f), Result::Ok) << e->d_name << " type " << std::hex << f.header.type;
    }
    closedir(d);
    EXPECT_GE(files, 8);
}
