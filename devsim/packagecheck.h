#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim
{

/// What the device knows about itself when it checks an upgrade package.
struct PackageTarget {
    std::string hardware;
    /// An ONVIF device also takes a package made for its model (GetDeviceInformation's Model).
    std::string model;
    uint32_t logoStart = 0, logoEnd = 0; ///< the logo partition; both 0 = unknown
};

/// Outcome of a package check. code is 0 when the device would burn the package, otherwise
/// the device's upgrade error code (-11804 no room, -11805 bad packet, -11807 wrong hardware).
struct PackageCheck {
    int code = 0;
    std::string error;
    std::string hardware;  ///< "Hardware" of InstallDesc
    std::string version;   ///< "Version" of InstallDesc; empty when absent
    std::string buildDate; ///< "BuildDate" of InstallDesc ("YYYY-MM-DD"); empty when absent
    bool isLogo = false;
    std::string fsType;             ///< logo packages: "cramfs" or "squashfs"
    std::vector<uint8_t> logoImage; ///< logo packages: the wrapped image as received
    std::vector<uint8_t> logoFs;    ///< logo packages: the file-system image inside the wrapper
};

/// Checks a received package the way a device does before burning it: a zip with a top-level
/// InstallDesc whose "Hardware" is the device's own; every "Burn" member present; a logo image
/// with a valid legacy header (magic and both CRCs), a valid cramfs (magic, CRC) or the squashfs
/// magic, and no larger than the logo partition.
PackageCheck checkPackage(const std::string &path, const PackageTarget &target);

/// The name of the logo image member that the logo packages carry.
extern const char *const kLogoMember;

} // namespace devsim
