#pragma once

#include "device.h"

#include "netsdk/protocol.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace devsim
{

class Server;
namespace proto = netsdk::proto;

// One TCP connection to one device: login, configuration, reboot and upgrade.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(Server &server, Device &device, int fd) : server_(server), device_(device), fd_(fd) {}
    ~Session();

    void start()
    {
        thread_ = std::thread([this] { run(); });
    }
    /// Wakes the connection thread; it ends on its own.
    void interrupt()
    {
        stop_ = true;
        {
            std::lock_guard<std::mutex> lock(waitMutex_);
        }
        wait_.notify_all();
        ::shutdown(fd_, SHUT_RDWR);
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool finished() const { return finished_; }
    Device *device() { return &device_; }

private:
    void run();
    bool handle(const proto::Frame &f);
    bool send(const proto::Bytes &b);
    void throttle(size_t n);
    /// Received bytes pass the fleet's shared link, when there is one.
    void shareLink(size_t n);
    bool sleepFor(std::chrono::milliseconds d);
    bool handleLogin(const proto::Frame &f);
    bool handleUpgrade(const proto::Frame &f);
    void abortUpgrade(const std::string &why);
    void flash(uint32_t session, int32_t code);

    Server &server_;
    Device &device_;
    int fd_;
    std::thread thread_;
    std::thread flashThread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::mutex sendMutex_;
    std::mutex waitMutex_;
    std::condition_variable wait_;

    uint32_t session_ = 0;
    bool haveNonce_ = false;
    std::array<uint8_t, proto::kNonceSize> clientNonce_{};
    std::array<uint8_t, proto::kNonceSize> deviceNonce_{};

    // Throttle of a slow link: bytes moved since the connection started.
    std::chrono::steady_clock::time_point linkStart_ = std::chrono::steady_clock::now();
    uint64_t linkBytes_ = 0;
    std::mutex linkMutex_;

    struct Upgrade {
        bool active = false;
        FILE *file = nullptr;
        std::string path; ///< its scratch file
        uint32_t total = 0;
        uint64_t received = 0;
        std::unique_ptr<proto::Sha256> sha;
    } up_;
};

} // namespace devsim
