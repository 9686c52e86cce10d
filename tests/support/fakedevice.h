/*
 * fakedevice.h - a scripted device for the SDK's unit tests: one TCP listener on 127.0.0.1 and,
 * optionally, a UDP search socket, speaking the protocol through protocol.h.
 */
#pragma once

#include "netsdk/protocol.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct DeviceScript {
    std::string user = "admin";
    std::string password = "pw";
    std::string mac = "00:12:34:56:78:9a";
    int32_t challengeStatus = 0; /* non-zero: refuse the challenge with it (7 = busy) */
    int32_t loginStatus = 0;     /* non-zero: refuse the login with it, whatever the digest */
    bool silentLogin = false;    /* never answer the challenge */
    uint32_t kdf = netsdk::proto::kKdfPbkdf2Sha256;
    uint32_t kdfIterations = netsdk::proto::kMinKdfIterations;
    bool silentAfterLogin = false;
    bool rebootDropsFirst = false; /* close instead of answering CONTROL */
    int32_t configSetStatus = 0;   /* answer to CONFIG_SET */
    /* Replaces the answer to CONFIG_GET with these bytes (a hostile device). */
    std::function<netsdk::proto::Bytes(uint32_t seq, uint32_t session)> configGetReply;

    /* Upgrade */
    int32_t beginStatus = 0;
    bool dropAfterBegin = false;
    int32_t resultAfterChunks = 0; /* non-zero: send UPGRADE_RESULT with it after the first chunk */
    bool earlyProgress = false;    /* send UPGRADE_PROGRESS after the first chunk (out of turn) */
    bool silentAfterEnd = false;
    std::vector<int> progress = {30, 70, 100};
    int progressGapMs = 0;      /* before each progress event */
    bool floodProgress = false; /* instead of `progress` and the result: 1 %, 2 %, 1 %, ... until closed */
    int32_t upgradeResult = 0;
    int dataDelayMs = 0;          /* per UPGRADE_DATA frame */
    uint32_t stallAfterBytes = 0; /* non-zero: stop reading, connection open, after this much data */
};

class FakeDevice
{
public:
    explicit FakeDevice(DeviceScript script, bool withSearch = false);
    ~FakeDevice();
    FakeDevice(const FakeDevice &) = delete;
    FakeDevice &operator=(const FakeDevice &) = delete;

    uint16_t port() const { return port_; }
    uint16_t searchPort() const { return searchPort_; }

    /* What reached the device. */
    struct Seen {
        std::vector<netsdk::proto::ConfigSet> configSets;
        std::vector<netsdk::proto::JsonSet> jsonSets;
        std::vector<netsdk::proto::NetSet> netSets;
        std::string upgradeName;
        uint32_t upgradeBytes = 0;
        bool upgradeDigestOk = false;         /* of the last upgrade */
        std::array<uint8_t, 32> upgradeSha{}; /* SHA-256 of the bytes the last upgrade brought */
        int upgradesOk = 0;
        int logouts = 0;
        int logins = 0;
        int searches = 0;
        int loginAttempts = 0; /* LOGIN frames, refused ones included */
        std::vector<std::array<uint8_t, netsdk::proto::kNonceSize>> clientNonces;
    };
    Seen seen();

    /* Extra search answers sent after the device's own (raw datagram payloads), in the order added;
     * from `fromIp` (a 127.x address) when given, else from the device's own socket. */
    void addSearchDatagram(netsdk::proto::Bytes datagram, const std::string &fromIp = {});

private:
    void acceptLoop();
    void serve(int fd);
    void searchLoop();
    /* Upgrade state of one connection. */
    struct Conn {
        std::array<uint8_t, netsdk::proto::kNonceSize> clientNonce{};
        std::array<uint8_t, netsdk::proto::kNonceSize> deviceNonce{};
        bool challenged = false;
        std::unique_ptr<netsdk::proto::Sha256> sha;
        uint32_t expected = 0;
        uint32_t received = 0;
        bool resultSent = false;
    };
    bool handle(int fd, Conn &c, const netsdk::proto::Frame &f);
    bool handleData(int fd, Conn &c, const netsdk::proto::FrameView &f);

    DeviceScript script_;
    int listenFd_ = -1;
    int udpFd_ = -1;
    uint16_t port_ = 0;
    uint16_t searchPort_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    std::thread searchThread_;
    std::mutex m_;
    std::vector<std::thread> conns_;
    std::set<int> open_; /* connections being served */
    Seen seen_;
    /* A device keeps its derived key, not a fresh derivation per login: many logins at once on a
     * loaded machine must not spend the client's wait deriving. Guarded by m_. */
    std::string keyPassword_;
    uint32_t keyIterations_ = 0;
    std::array<uint8_t, 32> key_{};
    std::array<uint8_t, 32> storedKey(const std::string &password, uint32_t iterations);
    struct ExtraAnswer {
        netsdk::proto::Bytes datagram;
        std::string fromIp;
    };
    std::vector<ExtraAnswer> extraSearch_;
};
