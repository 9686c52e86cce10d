#include "logo/logodevice.h"

#include "device/deviceprotocol.h"
#include "logo/logopackage.h"

#include <algorithm>
#include <cstring>

namespace LogoDevice
{

QString buildDateKey(const H264_DVR_DEVICEINFO &info)
{
    return QString::asprintf("%04d%02d%02d", info.BuildYear, info.BuildMonth, info.BuildDay);
}

bool supportsAppLink(const H264_DVR_DEVICEINFO &info)
{
    return buildDateKey(info).compare(QLatin1String(kAppLinkFirstBuild)) >= 0;
}

DeviceSession ensureLogin(DEV_INFO &record, DeviceSession held, const QByteArray &password, int *error,
                          const Sdk &sdk)
{
    *error = 0;
    if (held) {
        record.lLoginID = int32_t(held.id());
        return held;
    }
    // The record's field keeps 11 bytes; a longer tab password is still used in full for the login.
    std::memset(record.szPsw, 0, sizeof record.szPsw);
    std::memcpy(record.szPsw, password.constData(),
                std::min(size_t(password.size()), sizeof record.szPsw - 1));
    const QByteArray ip(record.szIpaddress, int(strnlen(record.szIpaddress, sizeof record.szIpaddress)));
    const QByteArray user(record.szUserName, int(strnlen(record.szUserName, sizeof record.szUserName)));
    int code = 0;
    DeviceSession session(sdk.login(ip.constData(), uint16_t(record.nPort), user.constData(),
                                    password.constData(), &record.NetDevInfo, 1, &code),
                          sdk.logout);
    record.lLoginID = int32_t(session.id());
    if (!session)
        *error = code != 0 ? code : -1;
    return session;
}

Probe probeRow(const DEV_INFO &record, DeviceSession held, const QByteArray &password,
               const std::function<int(DEV_INFO &)> &modifyIp, const std::function<bool(int ms)> &sleep,
               const Sdk &sdk)
{
    Probe probe;
    probe.record = record;
    DEV_INFO &rec = probe.record;
    rec.lLoginID = int32_t(held.id());
    if (modifyIp) {
        if (modifyIp(rec) < 1 || (sleep && !sleep(kIpChangeWaitMs))) {
            probe.outcome = Probe::IpChangeFailed;
            probe.session = std::move(held);
            return probe;
        }
    }
    const bool hadLogin = held.loggedIn();
    held = ensureLogin(rec, std::move(held), password, &probe.loginError, sdk);
    if (!held) {
        probe.outcome = Probe::LoginFailed;
        return probe;
    }
    probe.loggedInHere = !hadLogin;

    if (DeviceProtocol::isOnvif(rec)) {
        probe.outcome = Probe::NotSupported;
    } else if (!supportsAppLink(rec.NetDevInfo)) {
        probe.outcome = Probe::OldBuild;
    } else {
        SDK_APP_LINK_INFO link;
        std::memset(&link, 0, sizeof link);
        unsigned long returned = 0;
        const long result =
            sdk.getDevConfig(rec.lLoginID, NETSDK_CFG_APP_LINK, -1, reinterpret_cast<char *>(&link),
                             sizeof link, &returned, kAppLinkWaitMs);
        if (result <= 0) {
            probe.outcome = Probe::AppLinkFailed;
            probe.lastError = sdk.lastError();
            probe.session = std::move(held);
            return probe; // the device stays logged in
        }
        probe.outcome = Probe::AppLink;
        probe.iosRow = link.raw[0] != 0;
    }
    held.reset(); // the probe's work is done
    rec.lLoginID = 0;
    return probe;
}

Made makePackage(DEV_INFO &record, DeviceSession held, const QByteArray &password,
                 LogoPackageBuilder &builder, bool supportAppLink, const Sdk &sdk)
{
    Made made;
    made.session = ensureLogin(record, std::move(held), password, &made.loginError, sdk);
    if (!made.session)
        return made;
    SDK_LOGO_PART_INFO part;
    if (const long code = readPartitionInfo(record.lLoginID, &part, sdk); code != 0) {
        made.outcome = Made::PartInfoFailed;
        made.code = code;
        return made;
    }
    builder.setPartitionInfo(LogoPartInfo::fromRecord(part));
    QString package;
    const int rc =
        builder.makeUpgradeBin(-1, package, supportAppLink, LogoDeviceIdentity::fromDevice(&record));
    if (rc != LogoPackageOk) {
        made.outcome = Made::MakeFailed;
        made.code = rc;
        return made;
    }
    made.outcome = Made::Built;
    made.package = package;
    return made;
}

long readPartitionInfo(long loginId, SDK_LOGO_PART_INFO *out, const Sdk &sdk)
{
    std::memset(out, 0, sizeof *out);
    unsigned long returned = 0;
    const long result = sdk.getDevConfig(loginId, NETSDK_CFG_LOGO_PART, -1, reinterpret_cast<char *>(out),
                                         sizeof *out, &returned, kPartInfoWaitMs);
    if (result > 0 && returned >= sizeof *out)
        return 0;
    const long code = sdk.lastError();
    return code < 0 ? code : -1;
}

} // namespace LogoDevice
