#pragma once

#include "app/inifile.h"

#include <QString>

/// Every key of Config.ini.
enum class Key {
    Solution,       ///< [themes] Solution: "SimpChinese" loads the Chinese catalogues
    Version,        ///< [Version] Version: last field of the window title
    CurrentIndex,   ///< [UpgradeInfo] nCurrentIndex: tab shown at start, stored at exit
    ModifyIP,       ///< [UpgradeInfo] ModifyIP: switch, change device addresses before a run
    StartIndex,     ///< [UpgradeInfo] StartIndex: base of the last address byte
    Verify,         ///< [UpgradeInfo] Verify: switch, watch upgraded devices come back with the new version
    VerifyTimeout,  ///< [UpgradeInfo] VerifyTimeout: seconds a verified device has to come back
    StartSpacingMs, ///< [UpgradeInfo] StartSpacingMs: firmware and logo runs, between two device starts
    MaxParallel,    ///< [UpgradeInfo] MaxParallel: firmware and logo runs, devices in flight at once
    AppLinkIOS,     ///< [AppLink] IOS
    AppLinkAndroid, ///< [AppLink] Android
    LogoBoot,       ///< [Logo] Boot
    LogoClose,      ///< [Logo] Close
    LogoLoss,       ///< [Logo] Loss
    LogoBlind,      ///< [Logo] Blind
    OemidSetEn,     ///< [OEMID] SetEn: switch, written as 0 or 1
    OemidRepeatEn,  ///< [OEMID] RepeatEn: switch, written as 0 or 1
    OemidAssigned,  ///< [OEMID] Assigned: the OEMID the factory writes; "000" means unassigned
    UploadHost,     ///< [Upload] Host: factory-record service; empty = not configured
    UploadPort,     ///< [Upload] Port
    UploadCAFile,   ///< [Upload] CAFile: CA bundle; empty = the system's CAs
    WavesEnabled,   ///< [Waves] Enabled: switch, firmware and logo runs go in waves
    WavesFirst,     ///< [Waves] First: devices of the first wave, "N" or "N%"
    WavesGrowth,    ///< [Waves] Growth: size of each next wave, "xF" or "+N"
    WavesHalt,      ///< [Waves] Halt: failures of one wave that halt the run, "N" or "N%"
    OnvifProbe,     ///< [ONVIF] Probe: addresses a search also probes directly for ONVIF devices
};

struct KeyInfo {
    enum Type { String, Int, Switch };
    Key key;
    const char *section;
    const char *name;
    Type type;
    const char *defaultString; ///< default of String keys
    int defaultInt;            ///< default of Int and Switch keys
    const char *meaning;       ///< one line for the sample file and the README
};

/// The key table of Config.ini and typed access to it. Every read opens the file again, so edits
/// made while the program runs are seen.
namespace ConfigKeys
{

const KeyInfo &info(Key key);
/// The whole table, in the order of the sample file.
const KeyInfo *begin();
const KeyInfo *end();

/// "Section/Key" of a key, for settings-style access.
QString path(Key key);

/// The directory of the Config.ini in use (AppPaths): beside the executable in a build tree, the
/// user's config directory for an installed copy.
QString applicationDir();
/// A file named in Config.ini: a relative name is taken in applicationDir(), never in the working
/// directory; an absolute or empty one is returned as it is.
QString inApplicationDir(const QString &path);

/// AppPaths::current().configFile(), unless overridden.
QString configPath();
/// Points every reader at another file (tests); an empty path restores the default.
void setConfigPath(const QString &path);

/// The file at configPath().
IniFile file();

/// Integer keys and switches; a string key's text parsed as an integer.
int intValue(Key key);
bool isOn(Key key);
/// String keys, whole as stored; integer keys as decimal text.
QString stringValue(Key key);

/// How firmware and logo runs pace their devices, read at each run start and kept in range: a
/// negative spacing or a parallel limit below 1 takes the default, a value above its bound the bound.
struct RunPacing {
    static constexpr int MaxSpacingMs = 60000;
    static constexpr int MaxParallelLimit = 256; ///< a run holds at most 256 devices
    int spacingMs = 1000;
    int maxParallel = 32;
};
RunPacing runPacing();

IniResult setInt(Key key, int value);
IniResult setString(Key key, const QString &value);

} // namespace ConfigKeys
