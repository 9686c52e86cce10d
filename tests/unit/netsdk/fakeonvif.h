// A small ONVIF device on loopback for the SDK's tests: answers WS-Discovery probes on a UDP port and
// SOAP calls over HTTP, checks the UsernameToken digest against its own (skewable) clock or demands
// HTTP Digest, records what it received, and can be told to fault, garble or keep silent per call.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeOnvif
{
public:
    enum class Auth { UsernameToken, HttpDigest };
    enum class Reply { Normal, Fault, Garbled, Silent };

    struct Options {
        std::string ip = "127.0.0.1";
        std::string user = "admin";
        std::string password = "secret";
        Auth auth = Auth::UsernameToken;
        long clockSkewSeconds = 0;
        std::string mac = "00:12:34:ab:cd:ef";
        std::string firmware = "V2.1.0";
        std::string hardwareId = "HW-77";
        std::string model = "CAM-1";
        std::string serial = "SN0042";
        std::string tz = "CST-8";
        bool anonymousInfo = false;       // GetDeviceInformation/GetNetworkInterfaces without a login
        bool startFirmwareUpgrade = true; // false: only UpgradeSystemFirmware
        std::string uploadHost;           // the host the upload address names; empty: its own
        int uploadStatus = 200;           // the HTTP status the upload gets
    };

    explicit FakeOnvif(Options o);
    ~FakeOnvif();
    FakeOnvif(const FakeOnvif &) = delete;
    FakeOnvif &operator=(const FakeOnvif &) = delete;

    uint16_t httpPort() const { return httpPort_; }
    uint16_t discoveryPort() const { return udpPort_; }
    std::string serviceUrl() const;

    void setReply(const std::string &action, Reply r);
    /* Every call the device took (after its authentication check), in order: action and body. */
    struct Call {
        std::string action;
        std::string body;
        bool authenticated;
    };
    std::vector<Call> calls() const;
    /* Everything any client sent, raw. */
    std::string wire() const;
    int probes() const { return probes_; }
    /* The packages the device received, by either upgrade call. */
    std::vector<std::string> uploads() const;

private:
    void udpLoop();
    void httpLoop();
    void serve(int fd);
    std::string handle(const std::string &headers, const std::string &body, int &status,
                       std::string &extraHeaders);

    Options o_;
    int udp_ = -1, tcp_ = -1;
    uint16_t udpPort_ = 0, httpPort_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> probes_{0};
    std::thread udpThread_, httpThread_;
    mutable std::mutex m_;
    std::map<std::string, Reply> replies_;
    std::vector<Call> calls_;
    std::string wire_;
    std::vector<std::string> uploads_;
    std::vector<std::thread> conns_;
};
