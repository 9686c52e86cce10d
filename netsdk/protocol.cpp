#include "protocol.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the fixed records travel as their memory image, which is little-endian"
#endif

namespace netsdk
{
namespace proto
{

namespace
{

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint16_t get16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void append32(Bytes &b, uint32_t v)
{
    uint8_t t[4];
    put32(t, v);
    b.insert(b.end(), t, t + 4);
}

void appendField(Bytes &b, const std::string &text, size_t width)
{
    size_t n = std::min(text.size(), width - 1);
    b.insert(b.end(), text.begin(), text.begin() + long(n));
    b.insert(b.end(), width - n, 0);
}

/* A text field of a payload: terminated inside its width, nothing but zeros after the NUL, and no
 * control characters. */
bool readField(const uint8_t *p, size_t width, std::string &out)
{
    const void *nul = std::memchr(p, 0, width);
    if (!nul)
        return false;
    size_t n = size_t(static_cast<const uint8_t *>(nul) - p);
    for (size_t i = 0; i < n; ++i)
        if (p[i] < 0x20 || p[i] == 0x7f)
            return false;
    for (size_t i = n; i < width; ++i)
        if (p[i] != 0)
            return false;
    out.assign(reinterpret_cast<const char *>(p), n);
    return true;
}

bool needsSession(uint16_t type)
{
    switch (type & ~kAnswerBit) {
    case MSG_SEARCH:
    case MSG_NET_SET:
    case MSG_LOGIN_CHALLENGE:
    case MSG_LOGIN:
        return false;
    default:
        return true;
    }
}

Bytes frame(uint16_t type, uint32_t seq, uint32_t session, int32_t status, const Bytes &payload)
{
    Header h;
    h.type = type;
    h.seq = seq;
    h.session = session;
    h.status = status;
    return encodeFrame(h, payload);
}

bool hasNul(const std::string &s)
{
    return s.find('\0') != std::string::npos;
}

} // namespace

const char *resultText(Result r)
{
    switch (r) {
    case Result::Ok:
        return "ok";
    case Result::Incomplete:
        return "incomplete frame";
    case Result::BadMagic:
        return "bad magic";
    case Result::BadVersion:
        return "unsupported version";
    case Result::BadFlags:
        return "reserved flags set";
    case Result::BadType:
        return "unknown message type";
    case Result::BadLength:
        return "bad payload length";
    case Result::BadStatus:
        return "status not allowed";
    case Result::BadSession:
        return "bad session id";
    case Result::BadPayload:
        return "bad payload field";
    case Result::Truncated:
        return "datagram size does not match its header";
    }
    return "?";
}

uint32_t maxPayload(uint16_t type)
{
    switch (type) {
    case MSG_SEARCH:
        return 0;
    case answerOf(MSG_SEARCH):
        return sizeof(SDK_CONFIG_NET_COMMON_V2);
    case MSG_NET_SET:
        return 12 + sizeof(SDK_NET_BLOCK);
    case answerOf(MSG_NET_SET):
        return kMacField;
    case MSG_LOGIN_CHALLENGE:
        return kNonceSize;
    case answerOf(MSG_LOGIN_CHALLENGE):
        return kChallengeAnswerSize;
    case MSG_LOGIN:
        return kUserField + kDigestSize + 4;
    case answerOf(MSG_LOGIN):
        return sizeof(H264_DVR_DEVICEINFO);
    case MSG_LOGOUT:
        return 0;
    case answerOf(MSG_LOGOUT):
        return 0;
    case MSG_CONFIG_GET:
        return 12;
    case answerOf(MSG_CONFIG_GET):
        return kMaxConfigData;
    case MSG_CONFIG_SET:
        return 8 + kMaxConfigData;
    case answerOf(MSG_CONFIG_SET):
        return 0;
    case MSG_JSON_GET:
        return 12 + kNameField;
    case answerOf(MSG_JSON_GET):
        return kMaxConfigData;
    case MSG_JSON_SET:
        return 8 + kNameField + kMaxJsonText;
    case answerOf(MSG_JSON_SET):
        return kMaxJsonSetAnswer;
    case MSG_CONTROL:
        return 4;
    case answerOf(MSG_CONTROL):
        return 0;
    case MSG_UPGRADE_BEGIN:
        return 12 + kFileNameField;
    case answerOf(MSG_UPGRADE_BEGIN):
        return 0;
    case MSG_UPGRADE_DATA:
        return 4 + kMaxUpgradeChunk;
    case MSG_UPGRADE_END:
        return 4 + 32;
    case answerOf(MSG_UPGRADE_END):
        return 0;
    case EVT_UPGRADE_PROGRESS:
        return 4;
    case EVT_UPGRADE_RESULT:
        return 0;
    default:
        return 0;
    }
}

bool isKnownType(uint16_t type)
{
    switch (type) {
    case MSG_SEARCH:
    case answerOf(MSG_SEARCH):
    case MSG_NET_SET:
    case answerOf(MSG_NET_SET):
    case MSG_LOGIN_CHALLENGE:
    case answerOf(MSG_LOGIN_CHALLENGE):
    case MSG_LOGIN:
    case answerOf(MSG_LOGIN):
    case MSG_LOGOUT:
    case answerOf(MSG_LOGOUT):
    case MSG_CONFIG_GET:
    case answerOf(MSG_CONFIG_GET):
    case MSG_CONFIG_SET:
    case answerOf(MSG_CONFIG_SET):
    case MSG_JSON_GET:
    case answerOf(MSG_JSON_GET):
    case MSG_JSON_SET:
    case answerOf(MSG_JSON_SET):
    case MSG_CONTROL:
    case answerOf(MSG_CONTROL):
    case MSG_UPGRADE_BEGIN:
    case answerOf(MSG_UPGRADE_BEGIN):
    case MSG_UPGRADE_DATA:
    case MSG_UPGRADE_END:
    case answerOf(MSG_UPGRADE_END):
    case EVT_UPGRADE_PROGRESS:
    case EVT_UPGRADE_RESULT:
        return true;
    default:
        return false;
    }
}

Transport transportOf(uint16_t type)
{
    uint16_t base = type & ~kAnswerBit;
    return (base == MSG_SEARCH || base == MSG_NET_SET) ? Transport::Udp : Transport::Tcp;
}

void encodeHeader(const Header &h, uint8_t out[kHeaderSize])
{
    std::memcpy(out, kMagic, 4);
    out[4] = kVersion;
    out[5] = 0;
    put16(out + 6, h.type);
    put32(out + 8, h.seq);
    put32(out + 12, h.session);
    put32(out + 16, uint32_t(h.status));
    put32(out + 20, h.length);
}

Result decodeHeader(const uint8_t *p, size_t n, Transport t, Header &out)
{
    if (n < kHeaderSize)
        return Result::Incomplete;
    if (std::memcmp(p, kMagic, 4) != 0)
        return Result::BadMagic;
    if (p[4] != kVersion)
        return Result::BadVersion;
    if (p[5] != 0)
        return Result::BadFlags;
    Header h;
    h.type = get16(p + 6);
    h.seq = get32(p + 8);
    h.session = get32(p + 12);
    h.status = int32_t(get32(p + 16));
    h.length = get32(p + 20);
    if (!isKnownType(h.type) || transportOf(h.type) != t)
        return Result::BadType;
    uint32_t limit = maxPayload(h.type);
    if (t == Transport::Udp)
        limit = std::min(limit, kMaxUdpPayload);
    if (h.length > limit)
        return Result::BadLength;

    const bool answer = (h.type & kAnswerBit) != 0;
    const bool event = !answer && (h.type & 0x4000) != 0;
    if (!answer && !event && h.status != 0)
        return Result::BadStatus;
    if (h.type == EVT_UPGRADE_PROGRESS && h.status != 0)
        return Result::BadStatus;
    if (h.type == EVT_UPGRADE_RESULT && h.status > 0)
        return Result::BadStatus;
    if (answer) {
        uint16_t base = h.type & ~kAnswerBit;
        bool anyStatus = base == MSG_LOGIN_CHALLENGE || base == MSG_LOGIN;
        int32_t highest = base == MSG_NET_SET ? 1 : 0;
        if (!anyStatus && h.status > highest)
            return Result::BadStatus;
    }
    if (event && h.seq != 0)
        return Result::BadStatus;

    bool wantSession = needsSession(h.type);
    if (h.type == answerOf(MSG_LOGIN))
        wantSession = h.status == 0; /* the answer hands out the session id only on success */
    if (wantSession != (h.session != 0))
        return Result::BadSession;
    out = h;
    return Result::Ok;
}

Bytes encodeFrame(Header h, const uint8_t *payload, size_t n)
{
    h.length = uint32_t(n);
    Bytes b(kHeaderSize + n);
    encodeHeader(h, b.data());
    if (n)
        std::memcpy(b.data() + kHeaderSize, payload, n);
    return b;
}

Result decodeDatagram(const uint8_t *p, size_t n, Frame &out)
{
    Header h;
    Result r = decodeHeader(p, n, Transport::Udp, h);
    if (r == Result::Incomplete)
        return Result::Truncated;
    if (r != Result::Ok)
        return r;
    if (n != kHeaderSize + h.length)
        return Result::Truncated;
    out.header = h;
    out.payload.assign(p + kHeaderSize, p + n);
    return Result::Ok;
}

Frame FrameView::copy() const
{
    Frame f;
    f.header = header;
    f.payload.assign(payload, payload + length);
    return f;
}

void FrameReader::compact()
{
    if (pos_ == end_) {
        pos_ = end_ = 0;
    } else if (pos_ > 65536 && pos_ * 2 > end_) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
}

void FrameReader::feed(const uint8_t *p, size_t n)
{
    if (failed_ != Result::Ok || n == 0)
        return;
    compact();
    if (buf_.size() < end_ + n)
        buf_.resize(end_ + n);
    std::memcpy(buf_.data() + end_, p, n);
    end_ += n;
}

uint8_t *FrameReader::space(size_t &room)
{
    room = std::max<size_t>(room, 1);
    compact();
    Header h;
    const size_t avail = end_ - pos_;
    if (failed_ == Result::Ok && decodeHeader(buf_.data() + pos_, avail, Transport::Tcp, h) == Result::Ok) {
        const size_t frame = kHeaderSize + h.length;
        const size_t rest = frame > avail ? frame - avail : 0;
        room = std::min(room, rest + kHeaderSize);
    }
    if (buf_.size() < end_ + room)
        buf_.resize(end_ + room);
    return buf_.data() + end_;
}

void FrameReader::commit(size_t n)
{
    if (failed_ != Result::Ok)
        return;
    end_ = std::min(end_ + n, buf_.size());
}

Result FrameReader::next(FrameView &out)
{
    if (failed_ != Result::Ok)
        return failed_;
    size_t avail = end_ - pos_;
    Header h;
    Result r = decodeHeader(buf_.data() + pos_, avail, Transport::Tcp, h);
    if (r == Result::Incomplete)
        return r;
    if (r != Result::Ok) {
        failed_ = r;
        buf_.clear();
        buf_.shrink_to_fit();
        pos_ = end_ = 0;
        return r;
    }
    if (avail < kHeaderSize + h.length)
        return Result::Incomplete;
    out.header = h;
    out.payload = buf_.data() + pos_ + kHeaderSize;
    out.length = h.length;
    pos_ += kHeaderSize + h.length;
    return Result::Ok;
}

Result FrameReader::next(Frame &out)
{
    FrameView v;
    const Result r = next(v);
    if (r == Result::Ok) {
        out.header = v.header;
        out.payload.assign(v.payload, v.payload + v.length);
    }
    return r;
}

/* ---- Search ---- */

Bytes encodeSearch(uint32_t seq)
{
    return frame(MSG_SEARCH, seq, 0, 0, {});
}

Bytes encodeSearchAnswer(uint32_t seq, const SDK_CONFIG_NET_COMMON_V2 &rec)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&rec);
    return frame(answerOf(MSG_SEARCH), seq, 0, 0, Bytes(p, p + sizeof rec));
}

Result decodeSearchAnswer(const Frame &f, SDK_CONFIG_NET_COMMON_V2 &rec)
{
    if (f.header.type != answerOf(MSG_SEARCH) || f.header.status != 0)
        return Result::BadType;
    if (f.payload.size() != sizeof rec)
        return Result::BadLength;
    SDK_CONFIG_NET_COMMON_V2 tmp;
    std::memcpy(&tmp, f.payload.data(), sizeof tmp);
    Result r = checkSearchRecord(tmp);
    if (r == Result::Ok)
        rec = tmp;
    return r;
}

/* ---- Address change ---- */

Bytes encodeNetSet(uint32_t seq, const NetSet &m)
{
    Bytes b;
    append32(b, m.command);
    append32(b, uint32_t(m.channel));
    append32(b, sizeof m.block);
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&m.block);
    b.insert(b.end(), p, p + sizeof m.block);
    return frame(MSG_NET_SET, seq, 0, 0, b);
}

Result decodeNetSet(const Frame &f, NetSet &m)
{
    if (f.header.type != MSG_NET_SET)
        return Result::BadType;
    if (f.payload.size() != 12 + sizeof(SDK_NET_BLOCK))
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    if (get32(p + 8) != sizeof(SDK_NET_BLOCK))
        return Result::BadPayload;
    NetSet t;
    t.command = get32(p);
    t.channel = int32_t(get32(p + 4));
    std::memcpy(&t.block, p + 12, sizeof t.block);
    if (!fieldTerminated(t.block.HostName, sizeof t.block.HostName) ||
        !fieldTerminated(t.block.sHostMac, sizeof t.block.sHostMac) ||
        !fieldTerminated(t.block.sMac, sizeof t.block.sMac) ||
        !isMacText(fieldText(t.block.sMac, sizeof t.block.sMac)))
        return Result::BadPayload;
    m = t;
    return Result::Ok;
}

Bytes encodeNetSetAnswer(uint32_t seq, int32_t status, const std::string &mac)
{
    Bytes b;
    appendField(b, mac, kMacField);
    return frame(answerOf(MSG_NET_SET), seq, 0, status, b);
}

Result decodeNetSetAnswer(const Frame &f, std::string &mac)
{
    if (f.header.type != answerOf(MSG_NET_SET))
        return Result::BadType;
    if (f.payload.size() != kMacField)
        return Result::BadLength;
    std::string t;
    if (!readField(f.payload.data(), kMacField, t) || !isMacText(t))
        return Result::BadPayload;
    mac = t;
    return Result::Ok;
}

/* ---- Login ---- */

Bytes encodeLoginChallenge(uint32_t seq, const std::array<uint8_t, kNonceSize> &clientNonce)
{
    return frame(MSG_LOGIN_CHALLENGE, seq, 0, 0, Bytes(clientNonce.begin(), clientNonce.end()));
}

Result decodeLoginChallenge(const Frame &f, std::array<uint8_t, kNonceSize> &clientNonce)
{
    if (f.header.type != MSG_LOGIN_CHALLENGE)
        return Result::BadType;
    if (f.payload.size() != kNonceSize)
        return Result::BadLength;
    std::copy(f.payload.begin(), f.payload.end(), clientNonce.begin());
    return Result::Ok;
}

Bytes encodeLoginChallengeAnswer(uint32_t seq, int32_t status, const LoginChallengeAnswer *m)
{
    Bytes b;
    if (status == 0 && m) {
        b.assign(m->deviceNonce.begin(), m->deviceNonce.end());
        append32(b, m->kdf);
        append32(b, m->iterations);
        b.insert(b.end(), m->salt.begin(), m->salt.end());
        appendField(b, m->mac, kMacField);
    }
    return frame(answerOf(MSG_LOGIN_CHALLENGE), seq, 0, status, b);
}

Result decodeLoginChallengeAnswer(const Frame &f, LoginChallengeAnswer &m)
{
    if (f.header.type != answerOf(MSG_LOGIN_CHALLENGE))
        return Result::BadType;
    if (f.header.status != 0)
        return f.payload.empty() ? Result::Ok : Result::BadLength;
    if (f.payload.size() != kChallengeAnswerSize)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    LoginChallengeAnswer t;
    std::copy(p, p + kNonceSize, t.deviceNonce.begin());
    t.kdf = get32(p + kNonceSize);
    t.iterations = get32(p + kNonceSize + 4);
    std::copy(p + kNonceSize + 8, p + kNonceSize + 8 + kSaltSize, t.salt.begin());
    if (t.kdf != kKdfPbkdf2Sha256 || t.iterations < kMinKdfIterations || t.iterations > kMaxKdfIterations ||
        !readField(p + kNonceSize + 8 + kSaltSize, kMacField, t.mac) || !isMacText(t.mac))
        return Result::BadPayload;
    m = t;
    return Result::Ok;
}

Bytes encodeLogin(uint32_t seq, const Login &m)
{
    Bytes b;
    appendField(b, m.user, kUserField);
    b.insert(b.end(), m.digest.begin(), m.digest.end());
    append32(b, uint32_t(m.mode));
    return frame(MSG_LOGIN, seq, 0, 0, b);
}

Result decodeLogin(const Frame &f, Login &m)
{
    if (f.header.type != MSG_LOGIN)
        return Result::BadType;
    if (f.payload.size() != kUserField + kDigestSize + 4)
        return Result::BadLength;
    Login t;
    if (!readField(f.payload.data(), kUserField, t.user) || t.user.empty())
        return Result::BadPayload;
    std::copy(f.payload.begin() + kUserField, f.payload.begin() + kUserField + kDigestSize, t.digest.begin());
    t.mode = int32_t(get32(f.payload.data() + kUserField + kDigestSize));
    m = t;
    return Result::Ok;
}

Bytes encodeLoginAnswer(uint32_t seq, uint32_t session, int32_t status, const H264_DVR_DEVICEINFO *info)
{
    Bytes b;
    if (status == 0 && info) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(info);
        b.assign(p, p + sizeof *info);
    }
    return frame(answerOf(MSG_LOGIN), seq, status == 0 ? session : 0, status, b);
}

Result decodeLoginAnswer(const Frame &f, H264_DVR_DEVICEINFO &info)
{
    if (f.header.type != answerOf(MSG_LOGIN))
        return Result::BadType;
    if (f.header.status != 0)
        return f.payload.empty() ? Result::Ok : Result::BadLength;
    if (f.payload.size() != sizeof info)
        return Result::BadLength;
    H264_DVR_DEVICEINFO tmp;
    std::memcpy(&tmp, f.payload.data(), sizeof tmp);
    Result r = checkDeviceInfo(tmp);
    if (r == Result::Ok)
        info = tmp;
    return r;
}

Bytes encodeLogout(uint32_t seq, uint32_t session)
{
    return frame(MSG_LOGOUT, seq, session, 0, {});
}

/* ---- Configuration ---- */

Bytes encodeConfigGet(uint32_t seq, uint32_t session, const ConfigGet &m)
{
    Bytes b;
    append32(b, m.command);
    append32(b, uint32_t(m.channel));
    append32(b, m.maxSize);
    return frame(MSG_CONFIG_GET, seq, session, 0, b);
}

Result decodeConfigGet(const Frame &f, ConfigGet &m)
{
    if (f.header.type != MSG_CONFIG_GET)
        return Result::BadType;
    if (f.payload.size() != 12)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    ConfigGet t;
    t.command = get32(p);
    t.channel = int32_t(get32(p + 4));
    t.maxSize = get32(p + 8);
    if (t.maxSize == 0 || t.maxSize > kMaxConfigData)
        return Result::BadPayload;
    m = t;
    return Result::Ok;
}

Bytes encodeConfigSet(uint32_t seq, uint32_t session, uint32_t command, int32_t channel, const uint8_t *data,
                      size_t n)
{
    Bytes b;
    b.reserve(8 + n);
    append32(b, command);
    append32(b, uint32_t(channel));
    if (n)
        b.insert(b.end(), data, data + n);
    return frame(MSG_CONFIG_SET, seq, session, 0, b);
}

Result decodeConfigSet(const Frame &f, ConfigSet &m)
{
    if (f.header.type != MSG_CONFIG_SET)
        return Result::BadType;
    if (f.payload.size() < 8 || f.payload.size() > 8 + kMaxConfigData)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    m.command = get32(p);
    m.channel = int32_t(get32(p + 4));
    m.data.assign(p + 8, p + f.payload.size());
    return Result::Ok;
}

Bytes encodeJsonGet(uint32_t seq, uint32_t session, const JsonGet &m)
{
    Bytes b;
    append32(b, m.command);
    append32(b, uint32_t(m.channel));
    append32(b, m.maxSize);
    appendField(b, m.name, kNameField);
    return frame(MSG_JSON_GET, seq, session, 0, b);
}

Result decodeJsonGet(const Frame &f, JsonGet &m)
{
    if (f.header.type != MSG_JSON_GET)
        return Result::BadType;
    if (f.payload.size() != 12 + kNameField)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    JsonGet t;
    t.command = get32(p);
    t.channel = int32_t(get32(p + 4));
    t.maxSize = get32(p + 8);
    if (t.maxSize == 0 || t.maxSize > kMaxConfigData)
        return Result::BadPayload;
    if (!readField(p + 12, kNameField, t.name) || !isConfigName(t.name))
        return Result::BadPayload;
    m = t;
    return Result::Ok;
}

Bytes encodeJsonSet(uint32_t seq, uint32_t session, const JsonSet &m)
{
    Bytes b;
    b.reserve(8 + kNameField + m.text.size());
    append32(b, m.command);
    append32(b, uint32_t(m.channel));
    appendField(b, m.name, kNameField);
    b.insert(b.end(), m.text.begin(), m.text.end());
    return frame(MSG_JSON_SET, seq, session, 0, b);
}

Result decodeJsonSet(const Frame &f, JsonSet &m)
{
    if (f.header.type != MSG_JSON_SET)
        return Result::BadType;
    if (f.payload.size() < 8 + kNameField || f.payload.size() > 8 + kNameField + kMaxJsonText)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    JsonSet t;
    t.command = get32(p);
    t.channel = int32_t(get32(p + 4));
    if (!readField(p + 8, kNameField, t.name) || !isConfigName(t.name))
        return Result::BadPayload;
    t.text.assign(reinterpret_cast<const char *>(p + 8 + kNameField), f.payload.size() - 8 - kNameField);
    if (hasNul(t.text))
        return Result::BadPayload;
    m = std::move(t);
    return Result::Ok;
}

Bytes encodeAnswer(uint16_t requestType, uint32_t seq, uint32_t session, int32_t status,
                   const uint8_t *payload, size_t n)
{
    Header h;
    h.type = answerOf(requestType);
    h.seq = seq;
    h.session = session;
    h.status = status;
    return encodeFrame(h, payload, payload ? n : 0);
}

Result decodeJsonText(const Frame &f, std::string &text)
{
    if (f.header.type != answerOf(MSG_JSON_GET) && f.header.type != answerOf(MSG_JSON_SET))
        return Result::BadType;
    std::string t(f.payload.begin(), f.payload.end());
    if (hasNul(t))
        return Result::BadPayload;
    text = std::move(t);
    return Result::Ok;
}

/* ---- Control ---- */

Bytes encodeControl(uint32_t seq, uint32_t session, const Control &m)
{
    Bytes b;
    append32(b, uint32_t(m.type));
    return frame(MSG_CONTROL, seq, session, 0, b);
}

Result decodeControl(const Frame &f, Control &m)
{
    if (f.header.type != MSG_CONTROL)
        return Result::BadType;
    if (f.payload.size() != 4)
        return Result::BadLength;
    m.type = int32_t(get32(f.payload.data()));
    return Result::Ok;
}

/* ---- Upgrade ---- */

Bytes encodeUpgradeBegin(uint32_t seq, uint32_t session, const UpgradeBegin &m)
{
    Bytes b;
    append32(b, m.total);
    append32(b, uint32_t(m.type));
    append32(b, m.chunk);
    appendField(b, m.fileName, kFileNameField);
    return frame(MSG_UPGRADE_BEGIN, seq, session, 0, b);
}

Result decodeUpgradeBegin(const Frame &f, UpgradeBegin &m)
{
    if (f.header.type != MSG_UPGRADE_BEGIN)
        return Result::BadType;
    if (f.payload.size() != 12 + kFileNameField)
        return Result::BadLength;
    const uint8_t *p = f.payload.data();
    UpgradeBegin t;
    t.total = get32(p);
    t.type = int32_t(get32(p + 4));
    t.chunk = get32(p + 8);
    if (t.total == 0 || t.total > kMaxUpgradeSize || t.chunk == 0 || t.chunk > kMaxUpgradeChunk)
        return Result::BadPayload;
    if (!readField(p + 12, kFileNameField, t.fileName) || t.fileName.find('/') != std::string::npos)
        return Result::BadPayload;
    m = t;
    return Result::Ok;
}

Bytes encodeUpgradeData(uint32_t seq, uint32_t session, uint32_t offset, const uint8_t *data, size_t n)
{
    Bytes b;
    b.reserve(4 + n);
    append32(b, offset);
    b.insert(b.end(), data, data + n);
    return frame(MSG_UPGRADE_DATA, seq, session, 0, b);
}

std::array<uint8_t, kHeaderSize + 4> encodeUpgradeDataHead(uint32_t seq, uint32_t session, uint32_t offset,
                                                           size_t n)
{
    std::array<uint8_t, kHeaderSize + 4> b{};
    Header h;
    h.type = MSG_UPGRADE_DATA;
    h.seq = seq;
    h.session = session;
    h.status = 0;
    h.length = uint32_t(4 + n);
    encodeHeader(h, b.data());
    put32(b.data() + kHeaderSize, offset);
    return b;
}

Result decodeUpgradeData(const FrameView &f, uint32_t &offset, const uint8_t *&data, size_t &n)
{
    if (f.header.type != MSG_UPGRADE_DATA)
        return Result::BadType;
    if (f.length < 5 || f.length > 4 + kMaxUpgradeChunk)
        return Result::BadLength;
    uint32_t off = get32(f.payload);
    size_t len = f.length - 4;
    if (uint64_t(off) + len > kMaxUpgradeSize)
        return Result::BadPayload;
    offset = off;
    data = f.payload + 4;
    n = len;
    return Result::Ok;
}

Result decodeUpgradeData(const Frame &f, uint32_t &offset, const uint8_t *&data, size_t &n)
{
    FrameView v;
    v.header = f.header;
    v.payload = f.payload.data();
    v.length = f.payload.size();
    return decodeUpgradeData(v, offset, data, n);
}

Bytes encodeUpgradeEnd(uint32_t seq, uint32_t session, const UpgradeEnd &m)
{
    Bytes b;
    append32(b, m.total);
    b.insert(b.end(), m.sha256.begin(), m.sha256.end());
    return frame(MSG_UPGRADE_END, seq, session, 0, b);
}

Result decodeUpgradeEnd(const Frame &f, UpgradeEnd &m)
{
    if (f.header.type != MSG_UPGRADE_END)
        return Result::BadType;
    if (f.payload.size() != 36)
        return Result::BadLength;
    UpgradeEnd t;
    t.total = get32(f.payload.data());
    if (t.total == 0 || t.total > kMaxUpgradeSize)
        return Result::BadPayload;
    std::copy(f.payload.begin() + 4, f.payload.end(), t.sha256.begin());
    m = t;
    return Result::Ok;
}

Bytes encodeUpgradeProgress(uint32_t session, int32_t percent)
{
    Bytes b;
    append32(b, uint32_t(percent));
    return frame(EVT_UPGRADE_PROGRESS, 0, session, 0, b);
}

Result decodeUpgradeProgress(const Frame &f, int32_t &percent)
{
    if (f.header.type != EVT_UPGRADE_PROGRESS)
        return Result::BadType;
    if (f.payload.size() != 4)
        return Result::BadLength;
    int32_t v = int32_t(get32(f.payload.data()));
    if (v < 0 || v > 100)
        return Result::BadPayload;
    percent = v;
    return Result::Ok;
}

Bytes encodeUpgradeResult(uint32_t session, int32_t status)
{
    return frame(EVT_UPGRADE_RESULT, 0, session, status, {});
}

/* ---- Helpers ---- */

std::array<uint8_t, kDigestSize> loginKey(const std::string &password,
                                          const std::array<uint8_t, kSaltSize> &salt, uint32_t iterations)
{
    std::array<uint8_t, kDigestSize> out{};
    /* An empty password is legal; OpenSSL wants a non-null pointer for it. */
    static const char empty = 0;
    const char *pw = password.empty() ? &empty : password.data();
    if (PKCS5_PBKDF2_HMAC(pw, int(password.size()), salt.data(), int(salt.size()), int(iterations),
                          EVP_sha256(), int(out.size()), out.data()) != 1)
        out.fill(0);
    return out;
}

std::array<uint8_t, kDigestSize> loginProof(const std::array<uint8_t, kDigestSize> &key,
                                            const std::array<uint8_t, kNonceSize> &clientNonce,
                                            const std::array<uint8_t, kNonceSize> &deviceNonce,
                                            const std::string &mac, const std::string &user)
{
    static const char kLabel[] = "TLNP login 2";
    Bytes msg(kLabel, kLabel + sizeof kLabel - 1);
    msg.insert(msg.end(), clientNonce.begin(), clientNonce.end());
    msg.insert(msg.end(), deviceNonce.begin(), deviceNonce.end());
    std::string lower = mac;
    for (char &c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    appendField(msg, lower, kMacField);
    msg.insert(msg.end(), user.begin(), user.end());
    std::array<uint8_t, kDigestSize> out{};
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()), msg.data(), msg.size(), out.data(), &len);
    return out;
}

bool digestEqual(const uint8_t *a, const uint8_t *b)
{
    return CRYPTO_memcmp(a, b, kDigestSize) == 0;
}

bool makeNonce(uint8_t *nonce)
{
    return RAND_bytes(nonce, int(kNonceSize)) == 1;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX *>(ctx_), EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(ctx_));
}

void Sha256::update(const uint8_t *p, size_t n)
{
    EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(ctx_), p, n);
}

std::array<uint8_t, 32> Sha256::final()
{
    std::array<uint8_t, 32> out{};
    unsigned int len = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX *>(ctx_), out.data(), &len);
    return out;
}

bool fieldTerminated(const char *field, size_t width)
{
    return std::memchr(field, 0, width) != nullptr;
}

std::string fieldText(const char *field, size_t width)
{
    const void *nul = std::memchr(field, 0, width);
    size_t n = nul ? size_t(static_cast<const char *>(nul) - field) : width;
    return std::string(field, n);
}

void setField(char *field, size_t width, const std::string &text)
{
    size_t n = std::min(text.size(), width - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}

bool isMacText(const std::string &mac)
{
    if (mac.size() != 17)
        return false;
    for (size_t i = 0; i < 17; ++i) {
        if (i % 3 == 2) {
            if (mac[i] != ':')
                return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(mac[i]))) {
            return false;
        }
    }
    return true;
}

bool macEqual(const std::string &a, const std::string &b)
{
    if (!isMacText(a) || !isMacText(b))
        return false;
    for (size_t i = 0; i < 17; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Result checkSearchRecord(const SDK_CONFIG_NET_COMMON_V2 &rec)
{
    /* The cloud identifier may fill its 32 bytes with no terminator: devices send it that way, and
     * every reader bounds it by the field's width. */
    if (!fieldTerminated(rec.HostName, sizeof rec.HostName) || !fieldTerminated(rec.sMac, sizeof rec.sMac) ||
        !fieldTerminated(rec.sSoftWareVersion, sizeof rec.sSoftWareVersion))
        return Result::BadPayload;
    std::string mac = fieldText(rec.sMac, sizeof rec.sMac);
    if (!mac.empty() && !isMacText(mac))
        return Result::BadPayload;
    int32_t port = rec.NetValues[1];
    if (port < 1 || port > 65535)
        return Result::BadPayload;
    return Result::Ok;
}

Result checkDeviceInfo(const H264_DVR_DEVICEINFO &info)
{
    if (!fieldTerminated(info.sSoftWareVersion, sizeof info.sSoftWareVersion) ||
        !fieldTerminated(info.sSerialNumber, sizeof info.sSerialNumber) ||
        !fieldTerminated(info.sHardWare, sizeof info.sHardWare))
        return Result::BadPayload;
    return Result::Ok;
}

bool isConfigName(const std::string &name)
{
    if (name.empty() || name.size() >= kNameField)
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            return false;
    return true;
}

} // namespace proto
} // namespace netsdk
