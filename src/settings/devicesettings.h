#pragma once

// The four settings the OEMID tab can push to a logged-in device: the codec switch (H.265X shown
// off), the clock (UTC), the time zone and the menu language. No widgets: an operation takes a row
// of the tab's table, reads the row's login handle, makes its SDK calls on the caller's thread and
// writes its outcome into the cell its owner names (on the OEMID tab Field::Oemid, the column headed
// "Status", so that a setting never hides the OEMID step's result under "Destribe").

#include "device/devicerows.h"

#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <functional>

/// The SDK calls the settings make, so that they can run against any device (a fake in tests).
class SettingsSdk
{
public:
    virtual ~SettingsSdk() = default;
    /// Binary configuration set (channel -1): 1 = accepted, else a negative code.
    virtual long setConfig(long loginId, unsigned long command, const char *data, unsigned long size,
                           int waitMs) = 0;
    /// JSON configuration read (channel -1) into `buffer` (NUL-terminated): 1 = read, else 0.
    virtual long getJson(long loginId, const char *name, int command, char *buffer, int size, int *returned,
                         int waitMs) = 0;
    /// JSON configuration write (channel -1); the device's answer text lands in `answer`. 1 =
    /// accepted, else a negative code (the device's own, e.g. -11401 for "accepted, reboot needed").
    virtual long setJson(long loginId, const char *name, int command, const char *text, int length,
                         char *answer, int answerSize, int waitMs) = 0;
    /// The second code of the failure texts: the calling thread's last SDK error.
    virtual long lastError() = 0;
};

/// The real SDK (netsdk).
class NetSdkSettings : public SettingsSdk
{
public:
    long setConfig(long loginId, unsigned long command, const char *data, unsigned long size,
                   int waitMs) override;
    long getJson(long loginId, const char *name, int command, char *buffer, int size, int *returned,
                 int waitMs) override;
    long setJson(long loginId, const char *name, int command, const char *text, int length, char *answer,
                 int answerSize, int waitMs) override;
    long lastError() override;
};

/// One entry of the time-zone list: its text (untranslated; translate with timeZoneText()) and the
/// value sent to the device, minutes to add to local time to obtain UTC ("[UTC+08:00]" is -480).
struct TimeZoneEntry {
    const char *text;
    int value;
};

namespace DeviceSettingsLists
{
constexpr std::size_t kTimeZoneCount = 33;
constexpr std::size_t kLanguageCount = 28;
/// The zones in display order, "[UTC-12:00]" (720) to "[UTC+13:00]" (-780).
const std::array<TimeZoneEntry, kTimeZoneCount> &timeZones();
/// Index of the default selection, "[UTC+08:00]".
int defaultTimeZoneIndex();
/// The language names in display order, default the first ("SimpChinese"). The untranslated name
/// is the value sent to the device; translate it for display with languageText().
const std::array<const char *, kLanguageCount> &languages();
/// The operator's text of a zone or a language (translation context "SetOEMID").
QString timeZoneText(int index);
QString languageText(int index);
} // namespace DeviceSettingsLists

/// What one operation did.
struct SettingResult {
    /// False when the row is gone (a new search replaced the rows): nothing was sent or shown.
    bool ran = false;
    /// The operation's result: 1 = accepted; -11401 (language) = accepted, reboot needed; otherwise
    /// the failure code (-1 when a language read gave nothing usable).
    long result = 0;
    /// The text written into the row's status column.
    QString text;
    bool ok() const { return ran && (result == 1 || result == NETSDK_ERR_NEED_REBOOT); }
};

/// Which settings to push to a device, and the values chosen for them.
struct SettingsChoice {
    bool codec = false;                                   ///< `setconfig`: H.265X off
    bool time = false;                                    ///< `synchronizationTime`
    bool zone = false;                                    ///< `zoneCheck`
    bool language = false;                                ///< `language_check`
    int zoneValue = -480;                                 ///< data of the chosen `timeZone` item
    QString languageName = QStringLiteral("SimpChinese"); ///< data of the chosen `language` item
    bool any() const { return codec || time || zone || language; }
};

/// The device settings over one generation of a tab's rows. Every operation blocks its thread for
/// at most its SDK time-outs (1000 ms per call; 2000 ms per call for the language), so the tab
/// runs them on its batch worker, never on the GUI thread. Not thread-safe: one caller at a time.
///
/// Failure texts end in " ret=<result>,code:<the SDK's last error>".
class DeviceSettings
{
public:
    static constexpr int kLanguageBufferSize = 65536;
    static constexpr int kAnswerBufferSize = 4096;

    /// Results go to `resultCell` of the row; `clock` gives the current time (any time zone; it is
    /// sent as UTC); default: now.
    DeviceSettings(SettingsSdk &sdk, BoundRows rows, Field resultCell, std::function<QDateTime()> clock = {});

    /// "Custom.ShowH265X" (command 1040) set to the compact document {"ShowH265X":false} and a line
    /// feed. "set change H264 success" / "set change H264 fail ret=..".
    SettingResult setShowH265X(int row);
    /// The clock as UTC through command 244, then 265 when 244 is refused.
    /// "synchronization time successful" / "synchronization time fail ret=..".
    SettingResult syncDeviceTime(int row);
    /// Command 165 with the zone value (see TimeZoneEntry). "set time-zone success" / "... fail ret=..".
    SettingResult setDeviceTimeZone(int row, int zoneValue);
    /// Reads "General.Location" (command 1042), sets its "Language" to `languageName` (an entry of
    /// languages()) and writes the object back indented (command 1040). "set language success",
    /// "set language success(need reboot)" (-11401) or "set language fail ret=.." (ret -1 when the
    /// read failed, was not JSON, had a "Ret" other than 100 or no object under its "Name").
    SettingResult setDeviceLanguage(int row, const QString &languageName);

    /// The chosen settings in their fixed order: codec, time, zone, language. Each overwrites the
    /// result cell, so the last one run stays visible; a failure does not stop the next one.
    /// Returns false when one of them failed (or the row is gone).
    bool apply(int row, const SettingsChoice &choice);

    /// The bytes the operations send, public for tests and the simulator's checks.
    static QByteArray codecDocument();
    /// 32 bytes: year, month, day, 0, hour, minute, second, 0 of `time` in UTC (little-endian i32).
    static QByteArray timeRecord(const QDateTime &time);
    /// 8 bytes: the zone value, 0 (little-endian i32).
    static QByteArray timeZoneRecord(int zoneValue);
    /// The language write's text from a "General.Location" read: the object under the read's "Name"
    /// with its "Language" replaced, indented. Empty when the read is unusable (not JSON, "Ret" not
    /// 100, no object under "Name") or the text would not fit the language buffer.
    static QByteArray languageDocument(const QByteArray &readText, const QString &languageName);

private:
    bool loginOf(int row, long *loginId) const;
    SettingResult finish(int row, long result, const QString &success, const QString &failure);

    SettingsSdk &m_sdk;
    BoundRows m_rows;
    Field m_cell;
    std::function<QDateTime()> m_clock;
};
