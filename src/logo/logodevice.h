#pragma once

#include "device/devicesession.h"
#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QString>

#include <functional>

class LogoPackageBuilder;

/// The device exchanges of the logo tab, without widgets: the row-click probe (login, build date,
/// app-link record) and the read of the logo-partition record that a package is made from.
namespace LogoDevice
{

/// Devices built on this day or later take app download links.
inline constexpr const char *kAppLinkFirstBuild = "20200113";
inline constexpr int kAppLinkWaitMs = 2000;
inline constexpr int kPartInfoWaitMs = 4000;
/// Wait after an address change before the device is talked to at its new address.
inline constexpr int kIpChangeWaitMs = 1500;

/// The SDK calls used here; tests may replace them.
struct Sdk {
    decltype(&H264_DVR_Login) login = &H264_DVR_Login;
    DeviceSession::Logout logout = &DeviceSession::sdkLogout;
    decltype(&H264_DVR_GetLastError) lastError = &H264_DVR_GetLastError;
    decltype(&H264_DVR_GetDevConfig) getDevConfig = &H264_DVR_GetDevConfig;
};

/// "%04d%02d%02d" of the build date the login reported.
QString buildDateKey(const H264_DVR_DEVICEINFO &info);
/// Compared as text, as the dates are fixed-width.
bool supportsAppLink(const H264_DVR_DEVICEINFO &info);

/// `held` when it is logged in; else logs the record in with `password` and returns the new login
/// (empty when it failed, with the login error code in `*error`; 0 there when logged in). The record
/// keeps its handle field in step with the session returned, for the SDK calls that follow.
DeviceSession ensureLogin(DEV_INFO &record, DeviceSession held, const QByteArray &password, int *error,
                          const Sdk &sdk = Sdk());

/// What a row click found out about a device.
struct Probe {
    enum Outcome {
        IpChangeFailed, ///< the address change failed; its text is in the row already
        LoginFailed,    ///< loginError holds the code
        OldBuild,       ///< built before kAppLinkFirstBuild: no links
        AppLinkFailed,  ///< the app-link record could not be read; lastError holds the code
        AppLink,        ///< links supported; iosRow from the record's first byte
        NotSupported,   ///< an ONVIF device: no logo partition, no app links
    };
    Outcome outcome = LoginFailed;
    int loginError = 0;
    long lastError = 0;
    bool loggedInHere = false; ///< the probe made the login (else it used the row's)
    /// The login the probe leaves open (the row's or its own), for the row to keep; else empty.
    DeviceSession session;
    bool iosRow = false;
    /// The record as the probe left it (login handle, device information, new address).
    DEV_INFO record{};
};

/// The row click: an optional address change (`modifyIp` returns the change's result and puts the
/// new address into the record; it is run only when given), the login, the build-date test and, for new
/// builds, the app-link read, on `held` (the row's session) or the probe's own login. The login stays
/// open in probe.session when the address change or the app-link read failed; otherwise it ends.
Probe probeRow(const DEV_INFO &record, DeviceSession held, const QByteArray &password,
               const std::function<int(DEV_INFO &)> &modifyIp, const std::function<bool(int ms)> &sleep,
               const Sdk &sdk = Sdk());

/// What making a package for one device came to.
struct Made {
    enum Outcome {
        LoginFailed,    ///< loginError holds the code
        PartInfoFailed, ///< the logo-partition record could not be read; code = the SDK's last error
        MakeFailed,     ///< code = makeUpgradeBin's result
        Built,          ///< package holds the path
    };
    Outcome outcome = LoginFailed;
    int loginError = 0;
    long code = 0;
    QString package;
    /// The login the package was made on (`held` or the step's own), handed back whatever the
    /// outcome; empty when the login failed.
    DeviceSession session;
};

/// Logs the device in unless `held` is (see ensureLogin), reads its logo-partition record and builds
/// the package from the staged tree, named by the builder's mode.
Made makePackage(DEV_INFO &record, DeviceSession held, const QByteArray &password,
                 LogoPackageBuilder &builder, bool supportAppLink, const Sdk &sdk = Sdk());

/// Reads the 264-byte logo-partition record (command 61) on a logged-in device; the SDK's last error
/// (negative) on failure, 0 on success.
long readPartitionInfo(long loginId, SDK_LOGO_PART_INFO *out, const Sdk &sdk = Sdk());

} // namespace LogoDevice
