#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace devsim
{

/// Misbehaviour chosen per device in the fleet file. Every field's default is a healthy device.
struct Faults {
    /// Non-zero: every login is answered with this code (7 busy, -11301..-11307, ...).
    int loginError = 0;
    /// After this many wrong passwords in a row the user is locked (-11303); 0 = never.
    int lockAfterFailures = 0;
    /// Accept TCP connections but never answer; search answers still go out unless searchSilent.
    bool silent = false;
    /// Never answer a search probe.
    bool searchSilent = false;
    /// ONVIF: answers only WS-Discovery probes sent to its own address, as a camera in a subnet
    /// the station's multicast does not reach.
    bool multicastSilent = false;
    /// Throttle of the device's link in bytes per second (both directions); 0 = unlimited.
    uint32_t bytesPerSecond = 0;
    /// Close the connection once this many upgrade bytes have arrived; -1 = never.
    int64_t dropAfterUpgradeBytes = -1;
    /// Non-zero: the final upgrade result, whatever the package (-2 or a -118xx code).
    int upgradeResult = 0;
    /// A firmware burn succeeds but the device keeps running its old version and build date.
    bool keepVersion = false;
    /// While flashing: progress 1 %, 2 %, 1 %, ... as fast as the link takes it, and never a result.
    bool progressFlood = false;
    /// While flashing: one progress step (0, 1, ... 100 %) every this many ms, then the result.
    int progressTrickleMs = 0;
    /// Forced answers by request: "ipchange", "reboot", "upgrade" or a command number ("33", "52",
    /// "1040", ...). -10005 means the device stays silent for that request (the caller times out).
    std::map<std::string, int> results;
    /// Producer information read: "Ret" to answer instead of 100/109, and a malformed reply.
    int producerGetRet = 0;
    bool producerGetMalformed = false;
    /// The read answers the stored OEMID in upper case (a device that changed it on the way).
    bool producerGetUpper = false;
    /// Producer information write: "Ret" to answer instead of the result of the check.
    int producerSetRet = 0;
    /// "General.Location" read: non-zero = a successful read answering this "Ret" without the object.
    int locationGetRet = 0;
    /// ONVIF face: the device's clock runs this many seconds ahead (negative: behind) of the station's.
    int64_t clockSkewSeconds = 0;
    /// ONVIF face: these operations (local names such as "SystemReboot", or "*" for every one) are
    /// answered with a SOAP fault (env:Receiver, ter:Action) and change nothing.
    std::vector<std::string> soapFault;
};

/// Which protocols a device speaks.
enum class Protocol { Sdk, Onvif, Both };

/// One emulated device as the fleet file describes it.
struct DeviceSpec {
    std::string hostName = "LocalHost";
    std::string ip; ///< dotted IPv4 on loopback
    std::string mask = "255.0.0.0";
    std::string gateway = "127.0.0.1";
    std::string mac; ///< "00:12:34:56:78:9a"
    /// Name of the device's state directory: the MAC without colons, with "-<index>" added when an
    /// earlier device of the fleet has the same MAC (factories meet such devices).
    std::string stateName;
    std::string serial; ///< cloud identifier / serial number; may be empty in the search answer
    bool serialInSearch = true;
    int deviceType = 1; ///< 0..5 as the search answer carries it
    std::string version = "V4.02.R11.00000000.10010.140400.0000000";
    int buildYear = 2021, buildMonth = 3, buildDay = 15;
    std::string hardware = "HI3520D-NVR";
    std::string vendor = "General";
    std::string user = "admin";
    std::string password;
    /// PBKDF2 iterations of the login key the device announces (the SDK accepts 100000..1000000).
    uint32_t kdfIterations = 100000;
    std::string oemid; ///< empty: the device has no OEMID yet
    // Logo partition (command 61); hardware/vendor default to the device's own.
    std::string logoHardware;
    std::string logoVendor;
    uint32_t logoStart = 0x349E0000, logoEnd = 0x34A00000;
    std::string logoFsType = "cramfs";
    bool appLinkIos = true; ///< first byte of the app-link record (command 186)
    /// Whether the firmware knows the app-link record at all: -1 = by build date (2020-01-13 or
    /// later, as real firmware), 0 = no (command 186 is answered -10010), 1 = yes.
    int appLinkSupported = -1;
    bool knowsAppLink() const
    {
        if (appLinkSupported >= 0)
            return appLinkSupported != 0;
        return buildYear * 10000 + buildMonth * 100 + buildDay >= 20200113;
    }
    std::string locationJson; ///< "General.Location" object as JSON text; empty = default
    bool showH265X = true;
    bool languageNeedsReboot = false; ///< a changed "Language" is answered -11401
    int timeZone = -480;              ///< minutes to add to local time for UTC
    int upgradeMs = 3000;             ///< time the device takes to flash after the transfer
    int rebootMs = 5000;              ///< time the device stays away after a reboot
    bool rebootAfterUpgrade = false;  ///< restart (rebootMs away) after a successful upgrade
    Protocol protocol = Protocol::Sdk;
    bool speaksSdk() const { return protocol != Protocol::Onvif; }
    bool speaksOnvif() const { return protocol != Protocol::Sdk; }
    // ONVIF identity: GetDeviceInformation answers manufacturer, model, the version, the serial and
    // the hardware name as its HardwareId. An empty model is the hardware name.
    std::string manufacturer = "General";
    std::string model;
    std::string modelOrHardware() const { return model.empty() ? hardware : model; }
    /// ONVIF authentication the device asks for: false = WS-Security UsernameToken (HTTP Digest is
    /// taken too), true = HTTP Digest only (a UsernameToken alone is refused with a 401 challenge).
    bool httpDigest = false;
    /// ONVIF firmware path: true = StartFirmwareUpgrade plus an HTTP upload; false = only the older
    /// UpgradeSystemFirmware with the package in the request.
    bool httpUpgrade = true;
    /// POSIX TZ text the ONVIF face reports until a client sets another.
    std::string posixTz = "CST-8";
    Faults faults;
};

struct FleetOptions {
    std::string baseIp = "127.0.0.10";
    int upgradeMs = -1; ///< overrides every device's value when >= 0
    int rebootMs = -1;
    int rebootAfterUpgrade = -1; ///< 0 or 1 overrides every device's value
};

/// Reads a fleet file: {"devices": [ {...}, ... ]} (or a bare array). Missing addresses are
/// assigned upwards from baseIp, missing MACs and serials are made up from the device's index.
/// Returns false with a message on a file that cannot be used.
bool loadFleetFile(const std::string &path, const FleetOptions &options, std::vector<DeviceSpec> *fleet,
                   std::string *error);
bool parseFleetText(const std::string &text, const FleetOptions &options, std::vector<DeviceSpec> *fleet,
                    std::string *error);

/// The quick form: count devices on consecutive addresses from baseIp, a mix of NVR, DVR and IPC.
std::vector<DeviceSpec> makeDefaultFleet(int count, const FleetOptions &options);

/// count ONVIF cameras (model IPC-4MP, hardware HI3516EV300-IPC) on the addresses, MACs and serials of
/// the indexes from firstIndex on: placed after a quick fleet of firstIndex devices.
std::vector<DeviceSpec> makeOnvifCameras(int count, int firstIndex, const FleetOptions &options);

/// Parses "a.b.c.d" into four bytes in dotted order.
bool parseIPv4(const std::string &text, uint8_t out[4]);
std::string formatIPv4(const uint8_t in[4]);
/// The address count steps above base; false when it leaves 127.0.0.0/8 or wraps.
bool offsetIPv4(const std::string &base, int count, std::string *out);
/// "00:12:34:56:78:9a" -> "00123456789a" (lower case): the name of the device's state directory.
std::string macDirName(const std::string &mac);

} // namespace devsim
