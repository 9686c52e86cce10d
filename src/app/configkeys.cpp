#include "app/configkeys.h"

#include "app/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <iterator>

namespace
{

const KeyInfo table[] = {
    {Key::Solution, "themes", "Solution", KeyInfo::String, "", 0,
     "user-interface language: SimpChinese (exact) for Chinese, anything else English"},
    {Key::Version, "Version", "Version", KeyInfo::String, "", 0,
     "text appended as the last field of the window title"},
    {Key::CurrentIndex, "UpgradeInfo", "nCurrentIndex", KeyInfo::Int, "", 0,
     "tab shown at start (0 logo, 1 upgrade, 2 OEMID); the tab current at exit is stored"},
    {Key::ModifyIP, "UpgradeInfo", "ModifyIP", KeyInfo::Switch, "", 0,
     "1 = change every device's IPv4 address before it is processed"},
    {Key::StartIndex, "UpgradeInfo", "StartIndex", KeyInfo::Int, "", 20,
     "last address byte assigned by the address change = row index + StartIndex (1..254)"},
    {Key::Verify, "UpgradeInfo", "Verify", KeyInfo::Switch, "", 0,
     "1 = after Upgrade Success, wait for the device's restart and check its new version"},
    {Key::VerifyTimeout, "UpgradeInfo", "VerifyTimeout", KeyInfo::Int, "", 180,
     "seconds an upgraded device has to restart and answer before it is reported not verified"},
    {Key::StartSpacingMs, "UpgradeInfo", "StartSpacingMs", KeyInfo::Int, "", 1000,
     "firmware and logo runs: milliseconds between two device starts (0 = as fast as MaxParallel allows)"},
    {Key::MaxParallel, "UpgradeInfo", "MaxParallel", KeyInfo::Int, "", 32,
     "firmware and logo runs: devices logging in or receiving data at once"},
    {Key::AppLinkIOS, "AppLink", "IOS", KeyInfo::String, "", 0, "iOS app download link"},
    {Key::AppLinkAndroid, "AppLink", "Android", KeyInfo::String, "", 0, "Android app download link"},
    {Key::LogoBoot, "Logo", "Boot", KeyInfo::String, "", 0, "boot logo image path"},
    {Key::LogoClose, "Logo", "Close", KeyInfo::String, "", 0, "shutdown logo image path"},
    {Key::LogoLoss, "Logo", "Loss", KeyInfo::String, "", 0, "video-loss logo image path"},
    {Key::LogoBlind, "Logo", "Blind", KeyInfo::String, "", 0, "blind logo image path"},
    {Key::OemidSetEn, "OEMID", "SetEn", KeyInfo::Switch, "", 0,
     "logo tab: write the OEMID before burning (0/1)"},
    {Key::OemidRepeatEn, "OEMID", "RepeatEn", KeyInfo::Switch, "", 0,
     "logo tab: allow an OEMID to be written again (0/1)"},
    {Key::OemidAssigned, "OEMID", "Assigned", KeyInfo::String, "000", 0,
     "the OEMID written into devices; 000 = unassigned, writing it is refused"},
    {Key::UploadHost, "Upload", "Host", KeyInfo::String, "", 0,
     "factory-record service host name; empty = upload not configured"},
    {Key::UploadPort, "Upload", "Port", KeyInfo::Int, "", 443, "factory-record service HTTPS port"},
    {Key::UploadCAFile, "Upload", "CAFile", KeyInfo::String, "", 0,
     "CA certificate file (PEM) that signs the service certificate; empty = the system's CAs; "
     "relative = in the application directory"},
    {Key::WavesEnabled, "Waves", "Enabled", KeyInfo::Switch, "", 0,
     "1 = firmware and logo runs check every ticked device, then go in waves (the tabs' Waves box)"},
    {Key::WavesFirst, "Waves", "First", KeyInfo::String, "1", 0,
     "devices of the first wave: a number (4) or a share of the devices that passed the check (10%)"},
    {Key::WavesGrowth, "Waves", "Growth", KeyInfo::String, "x2", 0,
     "size of each next wave: times a factor of at least 1 (x2 doubles) or plus a number of devices (+8)"},
    {Key::WavesHalt, "Waves", "Halt", KeyInfo::String, "1", 0,
     "failed devices of one wave that halt the run: a number (1 = any failure) or a share of the wave (10%)"},
    {Key::OnvifProbe, "ONVIF", "Probe", KeyInfo::String, "", 0,
     "IPv4 addresses and ranges (192.168.5.20-40), comma-separated, that a search also asks directly for "
     "ONVIF devices (beside the multicast probe), for cameras in other subnets; the device menu's \"ONVIF "
     "probe addresses\" edits them"},
};

QMutex &pathMutex()
{
    static QMutex m;
    return m;
}

QString &overridePath()
{
    static QString p;
    return p;
}

} // namespace

namespace ConfigKeys
{

QString applicationDir()
{
    return QFileInfo(AppPaths::current().configFile()).absolutePath();
}

QString inApplicationDir(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir(applicationDir()).filePath(path);
}

const KeyInfo &info(Key key)
{
    for (const KeyInfo &k : table)
        if (k.key == key)
            return k;
    Q_UNREACHABLE();
}

const KeyInfo *begin()
{
    return std::begin(table);
}
const KeyInfo *end()
{
    return std::end(table);
}

QString path(Key key)
{
    const KeyInfo &k = info(key);
    return QLatin1String(k.section) + QLatin1Char('/') + QLatin1String(k.name);
}

QString configPath()
{
    {
        QMutexLocker lock(&pathMutex());
        if (!overridePath().isEmpty())
            return overridePath();
    }
    return AppPaths::current().configFile();
}

void setConfigPath(const QString &path)
{
    QMutexLocker lock(&pathMutex());
    overridePath() = path;
}

IniFile file()
{
    return IniFile(configPath());
}

int intValue(Key key)
{
    const KeyInfo &k = info(key);
    int def = k.defaultInt;
    if (k.type == KeyInfo::String)
        IniFile::parseInt(QString::fromUtf8(k.defaultString), &def);
    return file().profileInt(QLatin1String(k.section), QLatin1String(k.name), def);
}

bool isOn(Key key)
{
    return intValue(key) != 0;
}

QString stringValue(Key key)
{
    const KeyInfo &k = info(key);
    if (k.type != KeyInfo::String)
        return QString::number(intValue(key));
    return file().value(path(key), QString::fromUtf8(k.defaultString));
}

RunPacing runPacing()
{
    RunPacing pacing;
    const int spacing = intValue(Key::StartSpacingMs);
    if (spacing >= 0)
        pacing.spacingMs = std::min(spacing, RunPacing::MaxSpacingMs);
    const int parallel = intValue(Key::MaxParallel);
    if (parallel >= 1)
        pacing.maxParallel = std::min(parallel, RunPacing::MaxParallelLimit);
    return pacing;
}

IniResult setInt(Key key, int value)
{
    const KeyInfo &k = info(key);
    if (k.type == KeyInfo::Switch)
        value = value != 0 ? 1 : 0;
    return file().writeProfileInt(QLatin1String(k.section), QLatin1String(k.name), value);
}

IniResult setString(Key key, const QString &value)
{
    const KeyInfo &k = info(key);
    return file().writeProfileString(QLatin1String(k.section), QLatin1String(k.name), value);
}

} // namespace ConfigKeys
