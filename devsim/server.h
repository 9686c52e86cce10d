#pragma once

#include "linkbucket.h"

#include "device.h"
#include "onvifhttp.h"
#include "onvifservice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devsim
{

struct ServerOptions {
    uint16_t servicePort = 34567;
    uint16_t searchPort = 34569;
    /// One link every device's received bytes share (--link-mbps); none = unlimited.
    std::shared_ptr<LinkBucket> link;
    /// HTTP port of every ONVIF device's service, and the WS-Discovery port (3702 in the standard).
    uint16_t onvifPort = 8080;
    uint16_t discoveryPort = 3702;
};

class Session;

/// The wire side of the fleet: one TCP listener per device on its own loopback address, one UDP
/// socket for search and address changes, one thread per connection. Address changes rebind a
/// device's listener; a reboot closes it and its connections for the device's reboot time.
class Server
{
public:
    Server(std::vector<std::unique_ptr<Device>> devices, const ServerOptions &options);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    /// Binds every socket; false with a message when one cannot be bound.
    bool start(std::string *error);
    /// Closes every socket, ends every connection and joins every thread.
    void stop();

    size_t deviceCount() const { return slots_.size(); }
    LinkBucket *link() const { return options_.link.get(); }
    Device &device(size_t i) { return *slots_[i]->device; }
    /// Whether the WS-Discovery socket has joined the multicast group (else only unicast probes
    /// reach the fleet).
    bool discoveryMulticast() const { return multicastJoined_; }

private:
    friend class Session;
    struct Slot {
        std::unique_ptr<Device> device;
        int listenFd = -1; ///< touched by the network thread only (and start/stop)
        bool away = false;
        std::chrono::steady_clock::time_point backAt;
        std::string moveOnReturn;
        bool upgrading = false; ///< one package at a time per device
        // ONVIF face (devices that speak it): the service, its HTTP daemon, and for a silent
        // device a listener that never accepts. Touched by the network thread (and start/stop).
        std::unique_ptr<OnvifService> onvif;
        std::unique_ptr<OnvifHttp> http;
        int silentFd = -1;
        std::string moveTo; ///< an ONVIF address change waiting for the network thread
    };

    void run();
    void handleUdp();
    void acceptOn(Slot &slot);
    void reapSessions(bool all);
    int bindListener(const std::string &ip, std::string *error);
    void closeSessionsOf(Device *device);
    /// Takes the device off the network for its reboot time (called from a session thread).
    /// awayMs < 0: the device's own reboot time.
    void scheduleReboot(Device *device, const std::string &moveTo, int awayMs = -1);
    /// Starts the slot's ONVIF face on the device's current address (network thread).
    bool startOnvif(Slot &slot, std::string *error);
    void stopOnvif(Slot &slot);
    void afterOnvif(Device *device, const OnvifReply &reply);
    bool addressFree(const std::string &ip);
    void handleDiscovery();
    void wake();
    /// Claims (on) or releases the device's upgrade; false when another connection holds it.
    bool setUpgrading(Device *device, bool on);
    Slot *slotOf(Device *device);

    ServerOptions options_;
    std::vector<std::unique_ptr<Slot>> slots_;
    int udpFd_ = -1;
    int discoveryFd_ = -1;
    bool multicastJoined_ = false;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_; ///< guards the slots' away/upgrading state and sessions_
    std::list<std::shared_ptr<Session>> sessions_;
    std::atomic<uint32_t> nextSession_{1};
};

} // namespace devsim
