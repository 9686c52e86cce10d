#include "settings/devicesettings.h"

#include "memoryrows.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace
{

// One SDK call as the device would have received it.
struct Call {
    enum Kind { SetConfig, GetJson, SetJson } kind;
    long login;
    long command;
    std::string name;
    QByteArray data; ///< what was sent (set) / the buffer size (get, in `size`)
    int size = 0;
    int waitMs = 0;
};

// Scripted answers in call order; every failing answer becomes the thread's last error, as in netsdk.
struct FakeSdk : SettingsSdk {
    std::deque<long> setConfigResults; // empty: 1
    long getResult = 1;
    long getErr = -10005; // the last error a failed read leaves
    std::string getText;
    std::deque<long> setJsonResults; // empty: 1
    long lastErr = 0;
    std::vector<Call> calls;

    long take(std::deque<long> &q)
    {
        long r = 1;
        if (!q.empty()) {
            r = q.front();
            q.pop_front();
        }
        if (r != 1)
            lastErr = r;
        return r;
    }
    long setConfig(long login, unsigned long command, const char *data, unsigned long size,
                   int waitMs) override
    {
        calls.push_back(
            {Call::SetConfig, login, long(command), {}, QByteArray(data, int(size)), int(size), waitMs});
        return take(setConfigResults);
    }
    long getJson(long login, const char *name, int command, char *buffer, int size, int *returned,
                 int waitMs) override
    {
        calls.push_back({Call::GetJson, login, command, name, {}, size, waitMs});
        if (getResult != 1) {
            lastErr = getErr;
            return 0;
        }
        std::memcpy(buffer, getText.c_str(), getText.size() + 1);
        *returned = int(getText.size());
        return 1;
    }
    long setJson(long login, const char *name, int command, const char *text, int length, char *answer,
                 int answerSize, int waitMs) override
    {
        calls.push_back({Call::SetJson, login, command, name, QByteArray(text, length), answerSize, waitMs});
        if (answerSize > 0)
            answer[0] = '\0';
        return take(setJsonResults);
    }
    long lastError() override { return lastErr; }
};

QByteArray le32(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (qint32 v : values)
        for (int i = 0; i < 4; ++i)
            out.append(char(quint32(v) >> (8 * i)));
    return out;
}

struct Fixture {
    MemoryRows rows{{MemoryRows::loggedIn(0, 11), MemoryRows::loggedIn(1, 12)}};
    FakeSdk sdk;
    DeviceSettings settings{sdk, BoundRows(rows), Field::Oemid};
};

const char kLocationRead[] =
    "{\"General.Location\":{\"DateFormat\":\"YYMMDD\",\"Language\":\"English\","
    "\"VideoFormat\":\"PAL\",\"WorkDay\":62},\"Name\":\"General.Location\",\"Ret\":100}";

TEST(DeviceSettingsLists, TimeZonesInDisplayOrderWithTheirValues)
{
    const std::vector<std::pair<std::string, int>> expected = {
        {"[UTC-12:00]", 720},  {"[UTC-11:00]", 660},  {"[UTC-10:00]", 600},  {"[UTC-09:00]", 540},
        {"[UTC-08:00]", 480},  {"[UTC-07:00]", 420},  {"[UTC-06:00]", 360},  {"[UTC-05:00]", 300},
        {"[UTC-04:00]", 240},  {"[UTC-03:30]", 210},  {"[UTC-03:00]", 180},  {"[UTC-02:00]", 120},
        {"[UTC-01:00]", 60},   {"[UTC+00:00]", 0},    {"[UTC+01:00]", -60},  {"[UTC+02:00]", -120},
        {"[UTC+03:00]", -180}, {"[UTC+03:30]", -210}, {"[UTC+04:00]", -240}, {"[UTC+04:30]", -270},
        {"[UTC+05:00]", -300}, {"[UTC+05:30]", -330}, {"[UTC+05:45]", -345}, {"[UTC+06:00]", -360},
        {"[UTC+06:30]", -390}, {"[UTC+07:00]", -420}, {"[UTC+08:00]", -480}, {"[UTC+09:00]", -540},
        {"[UTC+09:30]", -570}, {"[UTC+10:00]", -600}, {"[UTC+11:00]", -660}, {"[UTC+12:00]", -720},
        {"[UTC+13:00]", -780}};
    const auto &zones = DeviceSettingsLists::timeZones();
    ASSERT_EQ(zones.size(), expected.size());
    for (std::size_t i = 0; i < zones.size(); ++i) {
        EXPECT_EQ(zones[i].text, expected[i].first) << i;
        EXPECT_EQ(zones[i].value, expected[i].second) << zones[i].text;
        // Without a translator the shown text is the text itself.
        EXPECT_EQ(DeviceSettingsLists::timeZoneText(int(i)).toStdString(), expected[i].first);
    }
    const int def = DeviceSettingsLists::defaultTimeZoneIndex();
    EXPECT_STREQ(zones[std::size_t(def)].text, "[UTC+08:00]");
    EXPECT_EQ(zones[std::size_t(def)].value, -480);
    EXPECT_TRUE(DeviceSettingsLists::timeZoneText(33).isEmpty());
    EXPECT_TRUE(DeviceSettingsLists::timeZoneText(-1).isEmpty());
}

TEST(DeviceSettingsLists, LanguagesInDisplayOrderDataUntranslated)
{
    const std::vector<std::string> expected = {
        "SimpChinese", "TradChinese", "English",  "Italian", "Spanish",    "Japanese",  "Russian",
        "French",      "German",      "Portugal", "Turkey",  "Poland",     "Romanian",  "Hungarian",
        "Finnish",     "Farsi",       "Thai",     "Greek",   "Vietnamese", "Brazilian", "Hebrew",
        "Indonesian",  "Arabic",      "Swedish",  "Czech",   "Bulgarian",  "Slovakia",  "Dutch"};
    const auto &langs = DeviceSettingsLists::languages();
    ASSERT_EQ(langs.size(), expected.size());
    for (std::size_t i = 0; i < langs.size(); ++i) {
        EXPECT_EQ(langs[i], expected[i]) << i;
        EXPECT_EQ(DeviceSettingsLists::languageText(int(i)).toStdString(), expected[i]);
    }
    EXPECT_EQ(SettingsChoice().languageName, QStringLiteral("SimpChinese"));
    EXPECT_EQ(SettingsChoice().zoneValue, -480);
}

TEST(DeviceSettings, CodecDocumentIsOneCompactMemberWithItsNewline)
{
    struct Case {
        long result;
        const char *text;
        StatusOutcome said;
    };
    for (const Case &c :
         {Case{1, "set change H264 success", StatusOutcome::Success},
          Case{-10010, "set change H264 fail ret=-10010,code:-10010", StatusOutcome::Failure},
          Case{-10005, "set change H264 fail ret=-10005,code:-10005", StatusOutcome::Failure}}) {
        Fixture f;
        f.sdk.setJsonResults = {c.result};
        const SettingResult r = f.settings.setShowH265X(1);
        ASSERT_EQ(f.sdk.calls.size(), 1u);
        const Call &call = f.sdk.calls[0];
        EXPECT_EQ(call.kind, Call::SetJson);
        EXPECT_EQ(call.login, 12);
        EXPECT_EQ(call.name, "Custom.ShowH265X");
        EXPECT_EQ(call.command, 1040);
        EXPECT_EQ(call.data, QByteArray("{\"ShowH265X\":false}\n")); // the length counts the newline
        EXPECT_EQ(call.waitMs, 1000);
        EXPECT_TRUE(r.ran);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.text.toStdString(), c.text);
        EXPECT_EQ(f.rows.texts(1, Field::Oemid), QStringList{QString::fromLatin1(c.text)});
        EXPECT_EQ(f.rows.outcomes(1, Field::Oemid), QList<StatusOutcome>{c.said});
        EXPECT_TRUE(f.rows.texts(0, Field::Oemid).isEmpty());
    }
}

TEST(DeviceSettings, TimeGoesAsUtcThrough244Then265)
{
    struct Case {
        const char *what;
        std::deque<long> results;
        std::vector<long> commands;
        const char *text;
        StatusOutcome said;
    };
    const StatusOutcome success = StatusOutcome::Success, failure = StatusOutcome::Failure;
    const std::vector<Case> cases = {
        {"244 accepted", {1}, {244}, "synchronization time successful", success},
        {"244 refused, 265 accepted", {-10010, 1}, {244, 265}, "synchronization time successful", success},
        {"244 answers 0, 265 accepted", {0, 1}, {244, 265}, "synchronization time successful", success},
        {"both refused",
         {-10010, -10002},
         {244, 265},
         "synchronization time fail ret=-10002,code:-10002",
         failure},
        {"both time out",
         {-10005, -10005},
         {244, 265},
         "synchronization time fail ret=-10005,code:-10005",
         failure},
    };
    // 10:00 at UTC+08:00 is 02:00 UTC.
    const QDateTime local(QDate(2026, 3, 7), QTime(10, 0, 5), QTimeZone(8 * 3600));
    for (const Case &c : cases) {
        Fixture f;
        DeviceSettings settings(f.sdk, BoundRows(f.rows), Field::Oemid, [&] { return local; });
        f.sdk.setConfigResults = c.results;
        const SettingResult r = settings.syncDeviceTime(0);
        ASSERT_EQ(f.sdk.calls.size(), c.commands.size()) << c.what;
        for (std::size_t i = 0; i < c.commands.size(); ++i) {
            EXPECT_EQ(f.sdk.calls[i].command, c.commands[i]) << c.what;
            EXPECT_EQ(f.sdk.calls[i].login, 11);
            EXPECT_EQ(f.sdk.calls[i].waitMs, 1000);
            EXPECT_EQ(f.sdk.calls[i].data, le32({2026, 3, 7, 0, 2, 0, 5, 0})) << c.what;
        }
        EXPECT_EQ(r.text.toStdString(), c.text) << c.what;
        EXPECT_EQ(f.rows.texts(0, Field::Oemid), QStringList{r.text});
        EXPECT_EQ(f.rows.outcomes(0, Field::Oemid), QList<StatusOutcome>{c.said}) << c.what;
    }
}

TEST(DeviceSettings, TimeRecordCrossesTheDateLineInUtc)
{
    struct Case {
        QDateTime time;
        QByteArray record;
    };
    for (const Case &c : {
             Case{QDateTime(QDate(2026, 1, 1), QTime(3, 4, 5), QTimeZone(8 * 3600)),
                  le32({2025, 12, 31, 0, 19, 4, 5, 0})},
             Case{QDateTime(QDate(2024, 2, 28), QTime(22, 30, 59), QTimeZone(-5 * 3600)),
                  le32({2024, 2, 29, 0, 3, 30, 59, 0})},
             Case{QDateTime(QDate(2026, 6, 1), QTime(0, 0, 0), QTimeZone(0)),
                  le32({2026, 6, 1, 0, 0, 0, 0, 0})},
         })
        EXPECT_EQ(DeviceSettings::timeRecord(c.time).toHex(), c.record.toHex())
            << c.time.toString(Qt::ISODate).toStdString();
}

TEST(DeviceSettings, TimeZoneRecordCarriesTheChosenValue)
{
    const auto &zones = DeviceSettingsLists::timeZones();
    auto indexOf = [&](const char *text) {
        for (std::size_t i = 0; i < zones.size(); ++i)
            if (std::strcmp(zones[i].text, text) == 0)
                return int(i);
        return -1;
    };
    struct Case {
        int index;
        long result;
        QByteArray record;
        const char *text;
    };
    for (const Case &c :
         {Case{indexOf("[UTC+05:45]"), 1, le32({-345, 0}), "set time-zone success"},
          Case{DeviceSettingsLists::defaultTimeZoneIndex(), 1, le32({-480, 0}), "set time-zone success"},
          Case{indexOf("[UTC-12:00]"), 1, le32({720, 0}), "set time-zone success"},
          Case{indexOf("[UTC+00:00]"), -10002, le32({0, 0}), "set time-zone fail ret=-10002,code:-10002"}}) {
        ASSERT_GE(c.index, 0);
        Fixture f;
        f.sdk.setConfigResults = {c.result};
        const SettingResult r = f.settings.setDeviceTimeZone(1, zones[std::size_t(c.index)].value);
        ASSERT_EQ(f.sdk.calls.size(), 1u);
        EXPECT_EQ(f.sdk.calls[0].command, 165);
        EXPECT_EQ(f.sdk.calls[0].waitMs, 1000);
        EXPECT_EQ(f.sdk.calls[0].data.toHex(), c.record.toHex()) << zones[std::size_t(c.index)].text;
        EXPECT_EQ(r.text.toStdString(), c.text);
        EXPECT_EQ(f.rows.texts(1, Field::Oemid), QStringList{r.text});
    }
}

TEST(DeviceSettings, WhatOnvifCannotDoIsNeitherSuccessNorFailure)
{
    struct Case {
        const char *name;
        std::function<SettingResult(Fixture &)> run;
        StatusOutcome outcome;
        const char *text;
    } cases[] = {
        {"codec",
         [](Fixture &f) {
             f.sdk.setJsonResults = {NETSDK_ERR_ONVIF_UNSUPPORTED};
             return f.settings.setShowH265X(1);
         },
         StatusOutcome::Unsupported, "Not supported over ONVIF"},
        // The read fails with 0 and says why in the last error.
        {"language",
         [](Fixture &f) {
             f.sdk.getResult = 0;
             f.sdk.getErr = NETSDK_ERR_ONVIF_UNSUPPORTED;
             return f.settings.setDeviceLanguage(1, QStringLiteral("English"));
         },
         StatusOutcome::Unsupported, "Not supported over ONVIF"},
        {"codec_other_failure",
         [](Fixture &f) {
             f.sdk.setJsonResults = {-10005};
             return f.settings.setShowH265X(1);
         },
         StatusOutcome::Failure, "set change H264 fail ret=-10005,code:-10005"},
    };
    for (const Case &c : cases) {
        Fixture f;
        const SettingResult r = c.run(f);
        EXPECT_EQ(r.text.toStdString(), c.text) << c.name;
        EXPECT_EQ(f.rows.outcomes(1, Field::Oemid), QList<StatusOutcome>{c.outcome}) << c.name;
    }
}

TEST(DeviceSettings, LanguageReadModifyWrite)
{
    struct Case {
        const char *what;
        long getResult;
        std::string read;
        std::deque<long> setResults;
        bool written;
        long result;
        const char *text;
    };
    const std::vector<Case> cases = {
        {"accepted", 1, kLocationRead, {1}, true, 1, "set language success"},
        {"accepted, reboot needed",
         1,
         kLocationRead,
         {-11401},
         true,
         -11401,
         "set language success(need reboot)"},
        {"write refused",
         1,
         kLocationRead,
         {-10002},
         true,
         -10002,
         "set language fail ret=-10002,code:-10002"},
        {"\"Ret\" not 100",
         1,
         "{\"General.Location\":{\"Language\":\"English\"},\"Name\":\"General.Location\",\"Ret\":102}",
         {},
         false,
         -1,
         "set language fail ret=-1,code:0"},
        {"\"Ret\" as text",
         1,
         "{\"General.Location\":{\"Language\":\"English\"},\"Name\":\"General.Location\",\"Ret\":\"100\"}",
         {},
         false,
         -1,
         "set language fail ret=-1,code:0"},
        {"read failed", 0, "", {}, false, -1, "set language fail ret=-1,code:-10005"},
        {"not JSON",
         1,
         "{\"Name\":\"General.Location\",\"Ret\":10",
         {},
         false,
         -1,
         "set language fail ret=-1,code:0"},
        {"nothing under the name",
         1,
         "{\"Name\":\"General.Location\",\"Ret\":100}",
         {},
         false,
         -1,
         "set language fail ret=-1,code:0"},
        {"name not text",
         1,
         "{\"General.Location\":{},\"Name\":7,\"Ret\":100}",
         {},
         false,
         -1,
         "set language fail ret=-1,code:0"},
    };
    for (const Case &c : cases) {
        Fixture f;
        f.sdk.getResult = c.getResult;
        f.sdk.getText = c.read;
        f.sdk.setJsonResults = c.setResults;
        const SettingResult r = f.settings.setDeviceLanguage(0, QStringLiteral("German"));
        ASSERT_GE(f.sdk.calls.size(), 1u) << c.what;
        const Call &get = f.sdk.calls[0];
        EXPECT_EQ(get.kind, Call::GetJson);
        EXPECT_EQ(get.name, "General.Location");
        EXPECT_EQ(get.command, 1042);
        EXPECT_EQ(get.size, 65536);
        EXPECT_EQ(get.waitMs, 2000);
        ASSERT_EQ(f.sdk.calls.size(), c.written ? 2u : 1u) << c.what;
        if (c.written) {
            const Call &set = f.sdk.calls[1];
            EXPECT_EQ(set.kind, Call::SetJson);
            EXPECT_EQ(set.login, 11);
            EXPECT_EQ(set.name, "General.Location");
            EXPECT_EQ(set.command, 1040);
            EXPECT_EQ(set.waitMs, 2000);
            // The object under "Name", indented, members in name order, the new language in place.
            EXPECT_EQ(set.data.toStdString(), "{\n"
                                              "   \"DateFormat\" : \"YYMMDD\",\n"
                                              "   \"Language\" : \"German\",\n"
                                              "   \"VideoFormat\" : \"PAL\",\n"
                                              "   \"WorkDay\" : 62\n"
                                              "}\n")
                << c.what;
        }
        EXPECT_EQ(r.result, c.result) << c.what;
        EXPECT_EQ(r.text.toStdString(), c.text) << c.what;
        EXPECT_EQ(f.rows.texts(0, Field::Oemid), QStringList{r.text}) << c.what;
    }
}

TEST(DeviceSettings, LanguageUnderAnotherNameAndOversizedDocument)
{
    // The object is the one the read's "Name" points to, whatever that name is.
    const QByteArray other = DeviceSettings::languageDocument(
        "{\"Loc\":{\"Language\":\"English\"},\"General.Location\":{\"X\":1},\"Name\":\"Loc\",\"Ret\":100}",
        QStringLiteral("Thai"));
    EXPECT_EQ(other.toStdString(), "{\n   \"Language\" : \"Thai\"\n}\n");

    // A document whose indented form would not fit the write buffer is not sent cut off.
    const std::string big(70000, 'x');
    const QByteArray tooBig = DeviceSettings::languageDocument(
        QByteArray::fromStdString("{\"General.Location\":{\"Pad\":\"" + big +
                                  "\"},\"Name\":\"General.Location\",\"Ret\":100}"),
        QStringLiteral("Thai"));
    EXPECT_TRUE(tooBig.isEmpty());
}

TEST(DeviceSettings, RowOfAnEarlierSearchIsLeftAlone)
{
    Fixture f;
    const BoundRows old(f.rows);
    f.rows.replace({MemoryRows::loggedIn(0, 21)});
    DeviceSettings settings(f.sdk, old, Field::Oemid);
    for (const SettingResult &r :
         {settings.setShowH265X(0), settings.syncDeviceTime(0), settings.setDeviceTimeZone(0, -480),
          settings.setDeviceLanguage(0, QStringLiteral("English"))})
        EXPECT_FALSE(r.ran);
    // A row past the end of the current rows too.
    EXPECT_FALSE(f.settings.setShowH265X(5).ran);
    EXPECT_TRUE(f.sdk.calls.empty());
    EXPECT_TRUE(f.rows.events().isEmpty());
}

TEST(DeviceSettings, ApplyRunsTheTickedSettingsInOrderPastFailures)
{
    struct Case {
        SettingsChoice choice;
        std::vector<long> commands;
        bool ok;
    };
    SettingsChoice all;
    all.codec = all.time = all.zone = all.language = true;
    all.zoneValue = -345;
    all.languageName = QStringLiteral("Dutch");
    SettingsChoice timeOnly;
    timeOnly.time = true;
    SettingsChoice zoneAndLanguage;
    zoneAndLanguage.zone = zoneAndLanguage.language = true;
    for (const Case &c : {Case{all, {1040, 244, 165, 1042, 1040}, false}, Case{timeOnly, {244}, true},
                          Case{zoneAndLanguage, {165, 1042, 1040}, true}, Case{SettingsChoice(), {}, true}}) {
        Fixture f;
        f.sdk.getText = kLocationRead;
        // The codec switch fails; the others still run.
        if (c.choice.codec)
            f.sdk.setJsonResults = {-10010, 1};
        const bool ok = f.settings.apply(1, c.choice);
        std::vector<long> commands;
        for (const Call &call : f.sdk.calls)
            commands.push_back(call.command);
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(f.rows.texts(1, Field::Oemid).size(),
                  int(c.choice.codec) + int(c.choice.time) + int(c.choice.zone) + int(c.choice.language));
        // The failed codec switch stays a failure of the row although later settings succeeded.
        EXPECT_EQ(f.rows.outcomes(1, Field::Oemid).contains(StatusOutcome::Failure), c.choice.codec);
    }
    Fixture f;
    f.sdk.getText = kLocationRead;
    f.settings.apply(0, all);
    EXPECT_EQ(f.rows.texts(0, Field::Oemid),
              (QStringList{QStringLiteral("set change H264 success"),
                           QStringLiteral("synchronization time successful"),
                           QStringLiteral("set time-zone success"), QStringLiteral("set language success")}));
    // The owner named the cell: nothing lands in the row's status cell.
    EXPECT_TRUE(f.rows.texts(0, Field::Status).isEmpty());
    EXPECT_EQ(f.sdk.calls[2].data, le32({-345, 0}));
    EXPECT_NE(f.sdk.calls[4].data.indexOf("\"Language\" : \"Dutch\""), -1);
}

} // namespace
