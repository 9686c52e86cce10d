#include "devicesettings.h"

#include "device/deviceprotocol.h"

#include <QCoreApplication>
#include <QtEndian>

#include <json/json.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

namespace
{

// The texts belong to the OEMID tab, which shows them.
const char kContext[] = "SetOEMID";

constexpr int kWaitMs = 1000;
constexpr int kLanguageWaitMs = 2000;
const char kCodecName[] = "Custom.ShowH265X";
const char kLocationName[] = "General.Location";

const TimeZoneEntry kTimeZoneList[] = {
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-12:00]"), 720},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-11:00]"), 660},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-10:00]"), 600},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-09:00]"), 540},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-08:00]"), 480},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-07:00]"), 420},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-06:00]"), 360},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-05:00]"), 300},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-04:00]"), 240},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-03:30]"), 210},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-03:00]"), 180},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-02:00]"), 120},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC-01:00]"), 60},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+00:00]"), 0},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+01:00]"), -60},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+02:00]"), -120},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+03:00]"), -180},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+03:30]"), -210},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+04:00]"), -240},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+04:30]"), -270},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+05:00]"), -300},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+05:30]"), -330},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+05:45]"), -345},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+06:00]"), -360},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+06:30]"), -390},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+07:00]"), -420},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+08:00]"), -480},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+09:00]"), -540},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+09:30]"), -570},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+10:00]"), -600},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+11:00]"), -660},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+12:00]"), -720},
    {QT_TRANSLATE_NOOP("SetOEMID", "[UTC+13:00]"), -780},
};
static_assert(std::size(kTimeZoneList) == DeviceSettingsLists::kTimeZoneCount, "every zone listed");

const char *const kLanguageList[] = {
    QT_TRANSLATE_NOOP("SetOEMID", "SimpChinese"), QT_TRANSLATE_NOOP("SetOEMID", "TradChinese"),
    QT_TRANSLATE_NOOP("SetOEMID", "English"),     QT_TRANSLATE_NOOP("SetOEMID", "Italian"),
    QT_TRANSLATE_NOOP("SetOEMID", "Spanish"),     QT_TRANSLATE_NOOP("SetOEMID", "Japanese"),
    QT_TRANSLATE_NOOP("SetOEMID", "Russian"),     QT_TRANSLATE_NOOP("SetOEMID", "French"),
    QT_TRANSLATE_NOOP("SetOEMID", "German"),      QT_TRANSLATE_NOOP("SetOEMID", "Portugal"),
    QT_TRANSLATE_NOOP("SetOEMID", "Turkey"),      QT_TRANSLATE_NOOP("SetOEMID", "Poland"),
    QT_TRANSLATE_NOOP("SetOEMID", "Romanian"),    QT_TRANSLATE_NOOP("SetOEMID", "Hungarian"),
    QT_TRANSLATE_NOOP("SetOEMID", "Finnish"),     QT_TRANSLATE_NOOP("SetOEMID", "Farsi"),
    QT_TRANSLATE_NOOP("SetOEMID", "Thai"),        QT_TRANSLATE_NOOP("SetOEMID", "Greek"),
    QT_TRANSLATE_NOOP("SetOEMID", "Vietnamese"),  QT_TRANSLATE_NOOP("SetOEMID", "Brazilian"),
    QT_TRANSLATE_NOOP("SetOEMID", "Hebrew"),      QT_TRANSLATE_NOOP("SetOEMID", "Indonesian"),
    QT_TRANSLATE_NOOP("SetOEMID", "Arabic"),      QT_TRANSLATE_NOOP("SetOEMID", "Swedish"),
    QT_TRANSLATE_NOOP("SetOEMID", "Czech"),       QT_TRANSLATE_NOOP("SetOEMID", "Bulgarian"),
    QT_TRANSLATE_NOOP("SetOEMID", "Slovakia"),    QT_TRANSLATE_NOOP("SetOEMID", "Dutch"),
};
static_assert(std::size(kLanguageList) == DeviceSettingsLists::kLanguageCount, "every language listed");

template <typename T, std::size_t N> std::array<T, N> toArray(const T (&list)[N])
{
    std::array<T, N> out;
    std::copy(std::begin(list), std::end(list), out.begin());
    return out;
}

const auto kTimeZones = toArray(kTimeZoneList);
const auto kLanguages = toArray(kLanguageList);

void putLe32(QByteArray *out, qint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out->append(b, 4);
}

bool parseJson(const char *begin, const char *end, Json::Value *value)
{
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    std::string errs;
    return reader->parse(begin, end, value, &errs);
}

} // namespace

long NetSdkSettings::setConfig(long loginId, unsigned long command, const char *data, unsigned long size,
                               int waitMs)
{
    // The SDK's signature is not const-correct; it only reads the buffer.
    return H264_DVR_SetDevConfig(loginId, command, -1, const_cast<char *>(data), size, waitMs);
}

long NetSdkSettings::getJson(long loginId, const char *name, int command, char *buffer, int size,
                             int *returned, int waitMs)
{
    return H264_DVR_GetDevConfig_JsonV2(loginId, name, command, -1, buffer, size, returned, waitMs);
}

long NetSdkSettings::setJson(long loginId, const char *name, int command, const char *text, int length,
                             char *answer, int answerSize, int waitMs)
{
    return H264_DVR_SetDevConfig_JsonV2_EX(loginId, name, command, -1, text, length, answer, answerSize,
                                           waitMs);
}

long NetSdkSettings::lastError()
{
    return H264_DVR_GetLastError();
}

namespace DeviceSettingsLists
{

const std::array<TimeZoneEntry, kTimeZoneCount> &timeZones()
{
    return kTimeZones;
}

int defaultTimeZoneIndex()
{
    for (int i = 0; i < int(kTimeZones.size()); ++i)
        if (kTimeZones[std::size_t(i)].value == -480)
            return i;
    return 0;
}

const std::array<const char *, kLanguageCount> &languages()
{
    return kLanguages;
}

QString timeZoneText(int index)
{
    if (index < 0 || index >= int(kTimeZones.size()))
        return QString();
    return QCoreApplication::translate(kContext, kTimeZones[std::size_t(index)].text);
}

QString languageText(int index)
{
    if (index < 0 || index >= int(kLanguages.size()))
        return QString();
    return QCoreApplication::translate(kContext, kLanguages[std::size_t(index)]);
}

} // namespace DeviceSettingsLists

DeviceSettings::DeviceSettings(SettingsSdk &sdk, BoundRows rows, Field resultCell,
                               std::function<QDateTime()> clock)
    : m_sdk(sdk), m_rows(rows), m_cell(resultCell), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTimeUtc(); };
}

bool DeviceSettings::loginOf(int row, long *loginId) const
{
    DEV_INFO dev;
    if (!m_rows.device(row, &dev))
        return false;
    *loginId = dev.lLoginID;
    return true;
}

SettingResult DeviceSettings::finish(int row, long result, const QString &success, const QString &failure)
{
    SettingResult r;
    r.ran = true;
    r.result = result;
    if (DeviceProtocol::notSupported(result, m_sdk.lastError())) {
        r.text = DeviceProtocol::notSupportedText();
        m_rows.report(row, m_cell, StatusOutcome::Unsupported, r.text);
        return r;
    }
    r.text = result == 1 ? success
                         : failure + QStringLiteral(" ret=%1,code:%2").arg(result).arg(m_sdk.lastError());
    m_rows.report(row, m_cell, result == 1 ? StatusOutcome::Success : StatusOutcome::Failure, r.text);
    return r;
}

QByteArray DeviceSettings::codecDocument()
{
    Json::Value doc(Json::objectValue);
    doc["ShowH265X"] = false;
    // Compact: one line, ending in the line feed the device counts as part of the text.
    return QByteArray::fromStdString(Json::FastWriter().write(doc));
}

QByteArray DeviceSettings::timeRecord(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    QByteArray out;
    out.reserve(32);
    for (const int v : {d.year(), d.month(), d.day(), 0, t.hour(), t.minute(), t.second(), 0})
        putLe32(&out, v);
    return out;
}

QByteArray DeviceSettings::timeZoneRecord(int zoneValue)
{
    QByteArray out;
    out.reserve(8);
    putLe32(&out, zoneValue);
    putLe32(&out, 0);
    return out;
}

QByteArray DeviceSettings::languageDocument(const QByteArray &readText, const QString &languageName)
{
    Json::Value doc;
    if (!parseJson(readText.constData(), readText.constData() + readText.size(), &doc) || !doc.isObject())
        return QByteArray();
    const Json::Value &ret = doc["Ret"];
    if (!ret.isIntegral() || ret.asLargestInt() != 100)
        return QByteArray();
    const Json::Value &name = doc["Name"];
    if (!name.isString() || !doc[name.asString()].isObject())
        return QByteArray();
    Json::Value &location = doc[name.asString()];
    location["Language"] = languageName.toStdString();
    QByteArray text = QByteArray::fromStdString(Json::StyledWriter().write(location));
    // The write goes out of a buffer of this size with its terminating zero; a text that cannot fit
    // is refused rather than sent cut off.
    if (text.size() >= kLanguageBufferSize)
        return QByteArray();
    return text;
}

SettingResult DeviceSettings::setShowH265X(int row)
{
    long login = 0;
    if (!loginOf(row, &login))
        return {};
    const QByteArray doc = codecDocument();
    QByteArray answer(kAnswerBufferSize, '\0');
    const long result = m_sdk.setJson(login, kCodecName, NETSDK_JSON_SET, doc.constData(), int(doc.size()),
                                      answer.data(), int(answer.size()), kWaitMs);
    return finish(row, result, QCoreApplication::translate("SetOEMID", "set change H264 success"),
                  QCoreApplication::translate("SetOEMID", "set change H264 fail"));
}

SettingResult DeviceSettings::syncDeviceTime(int row)
{
    long login = 0;
    if (!loginOf(row, &login))
        return {};
    const QByteArray rec = timeRecord(m_clock());
    long result = m_sdk.setConfig(login, NETSDK_CFG_SYSTIME, rec.constData(), 32, kWaitMs);
    // Some firmware only knows the second time command.
    if (result != 1)
        result = m_sdk.setConfig(login, NETSDK_CFG_SYSTIME_V2, rec.constData(), 32, kWaitMs);
    return finish(row, result, QCoreApplication::translate("SetOEMID", "synchronization time successful"),
                  QCoreApplication::translate("SetOEMID", "synchronization time fail"));
}

SettingResult DeviceSettings::setDeviceTimeZone(int row, int zoneValue)
{
    long login = 0;
    if (!loginOf(row, &login))
        return {};
    const QByteArray rec = timeZoneRecord(zoneValue);
    const long result = m_sdk.setConfig(login, NETSDK_CFG_TIMEZONE, rec.constData(), 8, kWaitMs);
    return finish(row, result, QCoreApplication::translate("SetOEMID", "set time-zone success"),
                  QCoreApplication::translate("SetOEMID", "set time-zone fail"));
}

SettingResult DeviceSettings::setDeviceLanguage(int row, const QString &languageName)
{
    long login = 0;
    if (!loginOf(row, &login))
        return {};
    QByteArray buffer(kLanguageBufferSize, '\0');
    int returned = 0;
    long result = -1;
    if (m_sdk.getJson(login, kLocationName, NETSDK_JSON_GET, buffer.data(), int(buffer.size()), &returned,
                      kLanguageWaitMs) == 1) {
        const QByteArray read(buffer.constData(),
                              int(strnlen(buffer.constData(), std::size_t(buffer.size()))));
        const QByteArray text = languageDocument(read, languageName);
        if (!text.isEmpty()) {
            QByteArray answer(kAnswerBufferSize, '\0');
            result = m_sdk.setJson(login, kLocationName, NETSDK_JSON_SET, text.constData(), int(text.size()),
                                   answer.data(), int(answer.size()), kLanguageWaitMs);
        }
    }
    if (result == NETSDK_ERR_NEED_REBOOT) {
        SettingResult r{true, result,
                        QCoreApplication::translate("SetOEMID", "set language success(need reboot)")};
        m_rows.report(row, m_cell, StatusOutcome::Success, r.text);
        return r;
    }
    return finish(row, result, QCoreApplication::translate("SetOEMID", "set language success"),
                  QCoreApplication::translate("SetOEMID", "set language fail"));
}

bool DeviceSettings::apply(int row, const SettingsChoice &choice)
{
    bool ok = true;
    if (choice.codec)
        ok = setShowH265X(row).ok() && ok;
    if (choice.time)
        ok = syncDeviceTime(row).ok() && ok;
    if (choice.zone)
        ok = setDeviceTimeZone(row, choice.zoneValue).ok() && ok;
    if (choice.language)
        ok = setDeviceLanguage(row, choice.languageName).ok() && ok;
    return ok;
}
