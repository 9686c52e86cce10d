/*
 * protocol.h - the device protocol's codec, shared by the SDK client and the device simulator.
 *
 * PROTOCOL.md beside this file is the reference; this header mirrors it. Everything that arrives
 * from the network is checked here before anyone looks at it: frame bounds first (so no payload is
 * ever buffered beyond the limit of its message type), then every field of the payload.
 */
#pragma once

#include "netsdk.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace netsdk
{
namespace proto
{

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMagic[4] = {'T', 'L', 'N', 'P'};
constexpr uint8_t kVersion = 2; /* 2: the login binds both nonces and the device's MAC, with a slow KDF */
constexpr size_t kHeaderSize = 24;

constexpr uint16_t kDefaultServicePort = 34567;
constexpr uint16_t kDefaultSearchPort = 34569;

/* Limits. A frame whose header announces more than its type allows is rejected before its payload
 * is read. */
constexpr uint32_t kMaxConfigData = 1048576;           /* config set data, config/JSON get answers */
constexpr uint32_t kMaxJsonText = 1048576;             /* JSON set text */
constexpr uint32_t kMaxJsonSetAnswer = 65536;          /* JSON set answer text */
constexpr uint32_t kMaxUpgradeChunk = 65536;           /* data per UPGRADE_DATA frame */
constexpr uint32_t kMaxUpgradeSize = 0x7fffffff;       /* the progress callback counts in int */
constexpr uint32_t kMaxUdpPayload = 1024;              /* any datagram's payload */
constexpr uint32_t kMaxPayload = kMaxConfigData + 256; /* any TCP frame's payload */

constexpr size_t kNonceSize = 32;
constexpr size_t kDigestSize = 32;
constexpr size_t kSaltSize = 32;
constexpr size_t kChallengeAnswerSize = kNonceSize + 8 + kSaltSize + 32; /* nonce, KDF, salt, MAC */
/* The login key derivation a device may ask for: PBKDF2-HMAC-SHA-256 with this many iterations. The
 * floor keeps a rogue device's offline guessing slow; the ceiling keeps a device from tying up the
 * station's CPU (about 0.4 s per derivation at the ceiling on a factory PC). */
constexpr uint32_t kKdfPbkdf2Sha256 = 1;
constexpr uint32_t kMinKdfIterations = 100000;
constexpr uint32_t kMaxKdfIterations = 1000000;
constexpr size_t kUserField = 32;
constexpr size_t kNameField = 64;
constexpr size_t kFileNameField = 128;
constexpr size_t kMacField = 32;
constexpr size_t kNetGetSize = 144; /* command 20 get: the first 144 bytes of SDK_NET_BLOCK */

/* Message types. An answer is its request's type with kAnswerBit set; events (device-initiated)
 * live in 0x4000..0x7fff. */
constexpr uint16_t kAnswerBit = 0x8000;
enum MsgType : uint16_t {
    MSG_SEARCH = 0x0001,  /* UDP */
    MSG_NET_SET = 0x0002, /* UDP */
    MSG_LOGIN_CHALLENGE = 0x0010,
    MSG_LOGIN = 0x0011,
    MSG_LOGOUT = 0x0012,
    MSG_CONFIG_GET = 0x0020,
    MSG_CONFIG_SET = 0x0021,
    MSG_JSON_GET = 0x0030,
    MSG_JSON_SET = 0x0031,
    MSG_CONTROL = 0x0040,
    MSG_UPGRADE_BEGIN = 0x0050,
    MSG_UPGRADE_DATA = 0x0051, /* no answer */
    MSG_UPGRADE_END = 0x0052,
    EVT_UPGRADE_PROGRESS = 0x4050, /* device -> client */
    EVT_UPGRADE_RESULT = 0x4051,   /* device -> client */
};

constexpr uint16_t answerOf(uint16_t request)
{
    return uint16_t(request | kAnswerBit);
}

/* Control types (CONTROL request). */
constexpr int32_t kControlReboot = 0;

/* Codes used on the wire beside the ones of netsdk.h. */
enum : int32_t {
    ERR_NOT_SUPPORTED = NETSDK_ERR_NOT_SUPPORTED,
    ERR_BAD_PARAM = NETSDK_ERR_PARAM,
    ERR_SESSION = NETSDK_ERR_HANDLE,
};

enum class Transport { Tcp, Udp };

/* Why a frame or payload was refused. */
enum class Result {
    Ok,
    Incomplete, /* stream decoder: more bytes needed (not an error) */
    BadMagic,
    BadVersion,
    BadFlags,
    BadType,    /* unknown type, or a type that does not travel on this transport */
    BadLength,  /* length beyond the type's bound, or not the exact size the type needs */
    BadStatus,  /* status not allowed for the type (requests carry 0) */
    BadSession, /* session id where none may be, or none where one must be */
    BadPayload, /* a payload field out of range, an unterminated text, ... */
    Truncated,  /* datagram shorter or longer than its header says */
};
const char *resultText(Result r);

struct Header {
    uint16_t type = 0;
    uint32_t seq = 0;
    uint32_t session = 0;
    int32_t status = 0;
    uint32_t length = 0;
};

struct Frame {
    Header header;
    Bytes payload;
};

/* The largest payload a frame of this type may carry (answers included); 0 for unknown types. */
uint32_t maxPayload(uint16_t type);
bool isKnownType(uint16_t type);
Transport transportOf(uint16_t type);

/* Header <-> bytes. decodeHeader checks magic, version, flags, type, transport, length bound and
 * status rules; it never looks past kHeaderSize bytes. */
void encodeHeader(const Header &h, uint8_t out[kHeaderSize]);
Result decodeHeader(const uint8_t *p, size_t n, Transport t, Header &out);

/* A whole frame; header.length is set from the payload. */
Bytes encodeFrame(Header h, const uint8_t *payload, size_t n);
inline Bytes encodeFrame(const Header &h, const Bytes &payload)
{
    return encodeFrame(h, payload.data(), payload.size());
}

/* One UDP datagram = exactly one frame, no trailing bytes. */
Result decodeDatagram(const uint8_t *p, size_t n, Frame &out);

/* A frame where it lies in a FrameReader's buffer: valid until the reader is next fed, asked for
 * space or for a frame. Spares the payload copy of a 64 KiB upgrade chunk. */
struct FrameView {
    Header header;
    const uint8_t *payload = nullptr;
    size_t length = 0;

    Frame copy() const;
};

/* Incremental decoder for a TCP stream. Feed bytes as they arrive (or receive them straight into
 * space() and commit() them); next() yields whole frames. After an error the stream is unusable
 * (close the connection). Memory held is bounded by kHeaderSize + maxPayload(type) plus at most one
 * feed. */
class FrameReader
{
public:
    void feed(const uint8_t *p, size_t n);
    /* Room to receive into, at most `room` bytes (in: the most the caller wants, at least 1; out:
     * what it got, at least 1). Once a frame's header is in, the room stops after that frame and the
     * next header, so that a reader fed this way finds every frame at the start of its buffer and
     * never moves a chunk's bytes. */
    uint8_t *space(size_t &room);
    /* `n` bytes (at most the room given) were written at space(). */
    void commit(size_t n);
    Result next(Frame &out);
    Result next(FrameView &out);
    size_t buffered() const { return end_ - pos_; }

private:
    void compact();

    Bytes buf_; /* storage; bytes [pos_, end_) are unread */
    size_t pos_ = 0;
    size_t end_ = 0;
    Result failed_ = Result::Ok;
};

/* ---- Payloads. encode* build the whole frame; decode* check every field of a received frame
 * (header already validated) and fill the struct. ---- */

/* SEARCH answer: the device's 560-byte record. */
Bytes encodeSearch(uint32_t seq);
Bytes encodeSearchAnswer(uint32_t seq, const SDK_CONFIG_NET_COMMON_V2 &rec);
Result decodeSearchAnswer(const Frame &f, SDK_CONFIG_NET_COMMON_V2 &rec);

/* NET_SET: address change without login, addressed by block.sMac. */
struct NetSet {
    uint32_t command = NETSDK_CFG_NET_COMMON;
    int32_t channel = 0;
    SDK_NET_BLOCK block{};
};
Bytes encodeNetSet(uint32_t seq, const NetSet &m);
Result decodeNetSet(const Frame &f, NetSet &m);
/* Answer: status = result code; payload = the answering device's MAC text (32 bytes). */
Bytes encodeNetSetAnswer(uint32_t seq, int32_t status, const std::string &mac);
Result decodeNetSetAnswer(const Frame &f, std::string &mac);

/* LOGIN_CHALLENGE: the client's fresh nonce. */
Bytes encodeLoginChallenge(uint32_t seq, const std::array<uint8_t, kNonceSize> &clientNonce);
Result decodeLoginChallenge(const Frame &f, std::array<uint8_t, kNonceSize> &clientNonce);

/* LOGIN_CHALLENGE answer: status 0 + the device's nonce, its KDF parameters and its MAC (the
 * identity the proof is bound to), or a login error code and no payload. */
struct LoginChallengeAnswer {
    std::array<uint8_t, kNonceSize> deviceNonce{};
    uint32_t kdf = kKdfPbkdf2Sha256;
    uint32_t iterations = kMinKdfIterations;
    std::array<uint8_t, kSaltSize> salt{};
    std::string mac; /* "xx:xx:xx:xx:xx:xx" */
};
Bytes encodeLoginChallengeAnswer(uint32_t seq, int32_t status,
                                 const LoginChallengeAnswer *m /* null unless 0 */);
/* Refuses (BadPayload) an unknown KDF, an iteration count outside the bounds or a malformed MAC. */
Result decodeLoginChallengeAnswer(const Frame &f, LoginChallengeAnswer &m);

struct Login {
    std::string user; /* 1..31 bytes, no NUL */
    std::array<uint8_t, kDigestSize> digest{};
    int32_t mode = 0;
};
Bytes encodeLogin(uint32_t seq, const Login &m);
Result decodeLogin(const Frame &f, Login &m);
/* Answer: status 0, header.session = the new session id (non-zero), payload = device info;
 * otherwise a login error code and no payload. */
Bytes encodeLoginAnswer(uint32_t seq, uint32_t session, int32_t status, const H264_DVR_DEVICEINFO *info);
Result decodeLoginAnswer(const Frame &f, H264_DVR_DEVICEINFO &info);

Bytes encodeLogout(uint32_t seq, uint32_t session);

struct ConfigGet {
    uint32_t command = 0;
    int32_t channel = -1;
    uint32_t maxSize = 0; /* the caller's buffer; the answer must not exceed it */
};
Bytes encodeConfigGet(uint32_t seq, uint32_t session, const ConfigGet &m);
Result decodeConfigGet(const Frame &f, ConfigGet &m);

struct ConfigSet {
    uint32_t command = 0;
    int32_t channel = -1;
    Bytes data; /* 0..kMaxConfigData */
};
Bytes encodeConfigSet(uint32_t seq, uint32_t session, uint32_t command, int32_t channel, const uint8_t *data,
                      size_t n);
Result decodeConfigSet(const Frame &f, ConfigSet &m);

struct JsonGet {
    uint32_t command = 0;
    int32_t channel = -1;
    uint32_t maxSize = 0;
    std::string name;
};
Bytes encodeJsonGet(uint32_t seq, uint32_t session, const JsonGet &m);
Result decodeJsonGet(const Frame &f, JsonGet &m);

struct JsonSet {
    uint32_t command = 0;
    int32_t channel = -1;
    std::string name;
    std::string text; /* no NUL bytes */
};
Bytes encodeJsonSet(uint32_t seq, uint32_t session, const JsonSet &m);
Result decodeJsonSet(const Frame &f, JsonSet &m);

/* Answers of CONFIG_GET / JSON_GET / JSON_SET carry data or text; the others only a status.
 * JSON answers must not contain NUL bytes. */
Bytes encodeAnswer(uint16_t requestType, uint32_t seq, uint32_t session, int32_t status,
                   const uint8_t *payload = nullptr, size_t n = 0);
Result decodeJsonText(const Frame &f, std::string &text);

struct Control {
    int32_t type = kControlReboot;
};
Bytes encodeControl(uint32_t seq, uint32_t session, const Control &m);
Result decodeControl(const Frame &f, Control &m);

struct UpgradeBegin {
    uint32_t total = 0; /* 1..kMaxUpgradeSize */
    int32_t type = 0;
    uint32_t chunk = kMaxUpgradeChunk;
    std::string fileName; /* base name, 0..127 bytes */
};
Bytes encodeUpgradeBegin(uint32_t seq, uint32_t session, const UpgradeBegin &m);
Result decodeUpgradeBegin(const Frame &f, UpgradeBegin &m);

/* UPGRADE_DATA: offset (u32) + 1..kMaxUpgradeChunk bytes. Decoding hands back a view into the
 * frame's payload to spare a copy. */
Bytes encodeUpgradeData(uint32_t seq, uint32_t session, uint32_t offset, const uint8_t *data, size_t n);
Result decodeUpgradeData(const Frame &f, uint32_t &offset, const uint8_t *&data, size_t &n);
Result decodeUpgradeData(const FrameView &f, uint32_t &offset, const uint8_t *&data, size_t &n);
/* The header and offset of an UPGRADE_DATA frame of n (1..kMaxUpgradeChunk) data bytes, for a
 * sender that writes the data itself, straight after; with the data it is encodeUpgradeData's frame. */
std::array<uint8_t, kHeaderSize + 4> encodeUpgradeDataHead(uint32_t seq, uint32_t session, uint32_t offset,
                                                           size_t n);

struct UpgradeEnd {
    uint32_t total = 0;
    std::array<uint8_t, 32> sha256{};
};
Bytes encodeUpgradeEnd(uint32_t seq, uint32_t session, const UpgradeEnd &m);
Result decodeUpgradeEnd(const Frame &f, UpgradeEnd &m);

/* Events: progress percent 0..100; result in header.status (0 success, negative code). */
Bytes encodeUpgradeProgress(uint32_t session, int32_t percent);
Result decodeUpgradeProgress(const Frame &f, int32_t &percent);
Bytes encodeUpgradeResult(uint32_t session, int32_t status);

/* ---- Helpers ---- */

/* The login key: PBKDF2-HMAC-SHA-256(password, salt, iterations), 32 bytes. A device stores this,
 * not the password. Slow on purpose; the SDK caches it per (password, salt, iterations). */
std::array<uint8_t, kDigestSize> loginKey(const std::string &password,
                                          const std::array<uint8_t, kSaltSize> &salt, uint32_t iterations);
/* The login proof: HMAC-SHA-256(key, "TLNP login 2" || client nonce || device nonce ||
 * MAC text field (32, lower case) || user bytes). */
std::array<uint8_t, kDigestSize> loginProof(const std::array<uint8_t, kDigestSize> &key,
                                            const std::array<uint8_t, kNonceSize> &clientNonce,
                                            const std::array<uint8_t, kNonceSize> &deviceNonce,
                                            const std::string &mac, const std::string &user);
/* Constant-time comparison of two digests. */
bool digestEqual(const uint8_t *a, const uint8_t *b);
/* Fills a fresh random nonce; false when the system's random source fails. */
bool makeNonce(uint8_t *nonce);

/* Incremental SHA-256 (the upgrade package digest). */
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void update(const uint8_t *p, size_t n);
    std::array<uint8_t, 32> final();

private:
    void *ctx_;
};

/* Text fields of the fixed records: NUL-terminated within their width. */
bool fieldTerminated(const char *field, size_t width);
std::string fieldText(const char *field, size_t width); /* up to the NUL or the width */
/* Copies text (cut to width - 1) and zero-fills the rest. */
void setField(char *field, size_t width, const std::string &text);

/* "00:12:34:56:78:9a": six hexadecimal pairs separated by colons, either case. */
bool isMacText(const std::string &mac);
bool macEqual(const std::string &a, const std::string &b); /* case-insensitive, both must be valid */

/* Record checks the client applies to what devices send. */
Result checkSearchRecord(const SDK_CONFIG_NET_COMMON_V2 &rec);
Result checkDeviceInfo(const H264_DVR_DEVICEINFO &info);

/* Name of a JSON configuration: 1..63 bytes of [A-Za-z0-9._-]. */
bool isConfigName(const std::string &name);

} // namespace proto
} // namespace netsdk
