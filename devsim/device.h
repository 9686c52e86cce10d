#pragma once

#include "fleet.h"
#include "netsdk/netsdk.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace devsim
{

struct PackageCheck;

/// Status a request handler returns when the device must not answer at all (the caller then
/// runs into its own time-out, which the SDK reports as -10005).
constexpr int32_t kNoAnswer = NETSDK_ERR_TIMEOUT;

/// Codes of our protocol for requests a device refuses (kept here so the device model does not
/// depend on the wire codec).
constexpr int32_t kErrNotSupported = -10010;
constexpr int32_t kErrBadParam = -10002;

struct JsonAnswer {
    int32_t status = 0; ///< 0 = answered / accepted; -11401 = accepted, reboot needed; else refused
    std::string text;
};

/// One emulated device: identity from the fleet file, settings and history kept in its state
/// directory. The wire layer asks it what to answer; every method is thread-safe.
///
/// State directory: <root>/<mac without colons>/ with state.json (rewritten atomically after
/// every change) and the files the device received (see devsim/README.md).
class Device
{
public:
    Device(const DeviceSpec &spec, const std::string &stateRoot);

    /// Creates the directory, takes over persisted state of an earlier run (OEMID, settings,
    /// address, counters) and writes state.json.
    bool init(std::string *error);

    const DeviceSpec &spec() const { return spec_; }
    const std::string &dir() const { return dir_; }
    std::string ip() const;
    std::string mac() const { return spec_.mac; }
    std::string password() const { return spec_.password; }

    /// What the device's login challenge announces: its salt and KDF cost, its MAC.
    const std::array<uint8_t, 32> &loginSalt() const { return salt_; }
    uint32_t kdfIterations() const { return spec_.kdfIterations; }
    /// The stored login key (derived from the password once, on first use). False when the
    /// device's KDF cost is outside what it can derive.
    bool loginKey(std::array<uint8_t, 32> *key);

    /// Forced result for a request from the fleet's fault table; false when none.
    bool forcedResult(const std::string &key, int32_t *code) const;

    SDK_CONFIG_NET_COMMON_V2 searchRecord(uint16_t servicePort) const;
    H264_DVR_DEVICEINFO deviceInfo() const;

    /// Decides a login: 0 = accepted, else the login error code. digestOk tells whether the
    /// client's proof matched the device's password.
    int32_t login(const std::string &user, bool digestOk);

    /// Binary configuration. get: 0 and *out filled, or an error code; set: 0, -11401 or an error.
    int32_t getConfig(uint32_t command, uint16_t servicePort, std::vector<uint8_t> *out);
    int32_t setConfig(uint32_t command, const uint8_t *data, size_t size);

    JsonAnswer getJson(const std::string &name, uint32_t command);
    JsonAnswer setJson(const std::string &name, uint32_t command, const std::string &text);

    /// Address change without login. Returns the result code; *moveTo is set to the new address
    /// when the device takes it at once (the caller rebinds the device's sockets).
    int32_t netSet(const SDK_NET_BLOCK &block, std::string *moveTo);
    /// Called by the wire layer once the device listens on the new address.
    void addressChanged(const std::string &ip);

    /// Reboot request: 0 = going down now (or kNoAnswer: going down without answering), else a
    /// refusal code. *moveTo is set when a pending address takes effect with the reboot.
    int32_t reboot(std::string *moveTo);

    /// A scratch file of its own for an incoming package: uploads over both faces (or two ONVIF
    /// upload addresses) may overlap on one device.
    std::string newUpgradeScratchPath()
    {
        return dir_ + "/upgrade-" + std::to_string(++scratchCount_) + ".part";
    }
    /// Checks and burns a completely received package (and removes it); 0 = success, else the
    /// device's code.
    int32_t burnPackage(const std::string &packagePath, std::string *error);
    /// Records an upgrade that ended before the package at `scratchPath` was complete, and removes it.
    void upgradeAborted(const std::string &why, const std::string &scratchPath);

    // The ONVIF face. The device's clock is the station's plus an offset (the fleet's skew at
    // start, then whatever a client set).
    struct OnvifClock {
        int64_t utc = 0; ///< seconds since 1970 on the device's clock
        std::string tz;  ///< POSIX TZ text
        bool ntp = false;
        bool dst = false;
    };
    OnvifClock onvifClock() const;
    int64_t clockNow() const;
    /// SetSystemDateAndTime: setUtc false keeps the clock running as it is.
    void setOnvifClock(bool ntp, bool setUtc, int64_t utc, const std::string &tz, bool dst);
    /// SetSystemFactoryDefault Soft: settings back to the fleet values, address and account kept.
    void softFactoryDefault();
    void setGateway(const std::string &gateway);
    struct NetInfo {
        std::string ip, mask, gateway, hostName;
    };
    NetInfo netInfo() const;
    std::string version() const;
    /// Counts an ONVIF request (and a refused authentication) in state.json.
    void noteOnvifRequest(bool authFailed);

    /// Producer information helpers, public for tests.
    static std::string defaultLocationJson();

private:
    bool persistLocked(std::string *error = nullptr);
    void loadPersistedLocked();
    void resetSettingsLocked();
    /// Keeps a received setting text byte for byte in the device directory.
    void keepTextLocked(const std::string &file, const std::string &text);
    JsonAnswer jsonReply(const std::string &name, int ret, int32_t status);
    JsonAnswer producerSet(const std::string &text);
    /// A burnt firmware package's version and build date become the device's.
    void takeVersionLocked(const PackageCheck &check);

    const DeviceSpec spec_;
    const std::string dir_;
    std::array<uint8_t, 32> salt_{};
    std::mutex keyMutex_; ///< only the derivation; the other state has mutex_
    std::atomic<uint64_t> scratchCount_{0};
    bool haveKey_ = false;
    std::array<uint8_t, 32> key_{};

    mutable std::mutex mutex_;
    std::string ip_, mask_, gateway_, hostName_;
    std::string pendingIp_;
    std::string oemid_;
    std::string version_;
    int buildYear_ = 0, buildMonth_ = 0, buildDay_ = 0;
    std::string producerMac_;
    std::string locationJson_;
    bool showH265X_ = true;
    int timeZone_ = 0;
    std::vector<int32_t> timeRecord_;
    uint32_t timeCommand_ = 0;
    std::string resetBytes_;
    int lockFailures_ = 0;
    int64_t clockOffset_ = 0; ///< device clock minus the station's, seconds
    std::string posixTz_;
    bool clockNtp_ = false, clockDst_ = false;
    struct Counts {
        int login = 0, loginFailed = 0, reset = 0, reboot = 0, ipChange = 0, import = 0, upgrade = 0,
            producerWrite = 0, appLinkRead = 0, partInfoRead = 0;
        // Setting writes received, refused ones included.
        int timeWrite = 0, timeZoneWrite = 0, locationWrite = 0, showH265XWrite = 0;
        int onvifRequest = 0, onvifAuthFailed = 0;
    } counts_;
    std::string importedConfig_;
    size_t importedSize_ = 0;
    struct Upgrade {
        int result = 0;
        std::string kind, file, hardware, fsType, error;
        uint64_t size = 0;
        std::vector<std::string> logoFiles;
        bool any = false;
    } upgrade_;
};

} // namespace devsim
