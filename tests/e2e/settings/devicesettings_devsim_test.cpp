// The device settings through the real SDK against simulated devices: what each device holds
// afterwards (clock, zone, language and codec documents) and what each row shows.
#include "devsimfleet.h"
#include "memoryrows.h"

#include "settings/devicesettings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace
{

constexpr int kPort = 47260;
constexpr int kSearchPort = 47261;

// One behaviour per device.
const char *const kMacs[] = {"00:12:34:86:00:10", "00:12:34:86:00:11", "00:12:34:86:00:12",
                             "00:12:34:86:00:13", "00:12:34:86:00:14"};

QJsonArray fleet()
{
    auto dev = [](int i) {
        return QJsonObject{{"ip", QStringLiteral("127.0.86.%1").arg(10 + i)},
                           {"mac", QString::fromLatin1(kMacs[i])},
                           {"location", QJsonObject{{"Language", "English"}, {"VideoFormat", "NTSC"}}},
                           {"timeZone", 60}};
    };
    QJsonArray a;
    a.append(dev(0)); // healthy
    QJsonObject old244 = dev(1);
    old244["faults"] = QJsonObject{{"results", QJsonObject{{"244", -10010}}}};
    a.append(old244);
    QJsonObject refuses = dev(2);
    refuses["faults"] = QJsonObject{{"locationGetRet", 101}, {"results", QJsonObject{{"1040", -10010}}}};
    a.append(refuses);
    QJsonObject reboot = dev(3);
    reboot["languageNeedsReboot"] = true;
    a.append(reboot);
    a.append(dev(4));
    return a;
}

class SettingsAgainstDevsim : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Local time far from UTC (+05:45), so a record carrying local time cannot pass for UTC.
        setenv("TZ", "XYZ-05:45", 1);
        tzset();
        s_devsim = new DevsimFleet;
        if (!s_devsim->start(fleet(), kPort, kSearchPort))
            s_error = s_devsim->error();
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(2000, 1);
    }
    static void TearDownTestSuite()
    {
        H264_DVR_Cleanup();
        delete s_devsim;
        s_devsim = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_error.isEmpty()) << s_error.toStdString();
        ASSERT_EQ(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 45 * 60);
        std::vector<DEV_INFO> devices;
        for (int i = 0; i < 5; ++i) {
            DEV_INFO d{};
            d.nIndex = i;
            d.nPort = kPort;
            std::snprintf(d.szIpaddress, sizeof d.szIpaddress, "127.0.86.%d", 10 + i);
            std::strcpy(d.szUserName, "admin");
            H264_DVR_DEVICEINFO info{};
            int error = 0;
            d.lLoginID = int32_t(H264_DVR_Login(d.szIpaddress, kPort, "admin", "", &info, 1, &error));
            ASSERT_GT(d.lLoginID, 0) << d.szIpaddress << " login error " << error;
            devices.push_back(d);
        }
        rows.replace(devices);
    }
    void TearDown() override
    {
        for (int i = 0; i < rows.rowCount(); ++i) {
            DEV_INFO d;
            if (BoundRows(rows).device(i, &d) && d.lLoginID > 0)
                H264_DVR_Logout(d.lLoginID);
        }
    }
    static QJsonObject state(int i) { return s_devsim->state(QString::fromLatin1(kMacs[i])); }
    static QByteArray file(int i, const char *name)
    {
        return s_devsim->file(QString::fromLatin1(kMacs[i]), QString::fromLatin1(name));
    }

    static DevsimFleet *s_devsim;
    static QString s_error;
    MemoryRows rows;
    NetSdkSettings sdk;
};

DevsimFleet *SettingsAgainstDevsim::s_devsim = nullptr;
QString SettingsAgainstDevsim::s_error;

TEST_F(SettingsAgainstDevsim, EveryDeviceHoldsWhatItWasSentAndEveryRowShowsItsResult)
{
    const auto &zones = DeviceSettingsLists::timeZones();
    int kathmandu = -1;
    for (int i = 0; i < int(zones.size()); ++i)
        if (std::strcmp(zones[std::size_t(i)].text, "[UTC+05:45]") == 0)
            kathmandu = i;
    ASSERT_GE(kathmandu, 0);

    SettingsChoice all;
    all.codec = all.time = all.zone = all.language = true;
    all.zoneValue = zones[std::size_t(kathmandu)].value;
    all.languageName = QString::fromLatin1(DeviceSettingsLists::languages()[8]); // "German"
    SettingsChoice byDefault; // zone and language left at defaults
    byDefault.zone = byDefault.language = true;
    byDefault.zoneValue = zones[std::size_t(DeviceSettingsLists::defaultTimeZoneIndex())].value;
    byDefault.languageName = QString::fromLatin1(DeviceSettingsLists::languages()[0]);

    DeviceSettings settings(sdk, BoundRows(rows), Field::Oemid);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    for (int i = 0; i < 4; ++i)
        settings.apply(i, all);
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(1);
    EXPECT_TRUE(settings.apply(4, byDefault));

    auto texts = [&](int i) { return rows.texts(i, Field::Oemid).join(QLatin1Char('|')).toStdString(); };
    EXPECT_EQ(texts(0), "set change H264 success|synchronization time successful|set time-zone success|"
                        "set language success");
    EXPECT_EQ(texts(1), "set change H264 success|synchronization time successful|set time-zone success|"
                        "set language success");
    const QStringList refused = rows.texts(2, Field::Oemid);
    ASSERT_EQ(refused.size(), 4);
    EXPECT_EQ(refused[0].toStdString(), "set change H264 fail ret=-10010,code:-10010");
    EXPECT_TRUE(refused[3].startsWith(QStringLiteral("set language fail ret=-1,code:")))
        << refused[3].toStdString();
    EXPECT_EQ(rows.texts(3, Field::Oemid).value(3).toStdString(), "set language success(need reboot)");
    EXPECT_EQ(texts(4), "set time-zone success|set language success");

    // The clock: one UTC record, by 244 or, on the device that refuses it, by 265.
    for (int i = 0; i < 4; ++i) {
        const QJsonObject st = state(i);
        const QJsonArray t = st.value("time").toArray();
        ASSERT_EQ(t.size(), 8) << i;
        const QDateTime held(QDate(t[0].toInt(), t[1].toInt(), t[2].toInt()),
                             QTime(t[4].toInt(), t[5].toInt(), t[6].toInt()), QTimeZone(0));
        EXPECT_TRUE(held >= before && held <= after)
            << i << ": " << held.toString(Qt::ISODate).toStdString() << " not within "
            << before.toString(Qt::ISODate).toStdString() << " .. "
            << after.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(t[3].toInt(), 0);
        EXPECT_EQ(t[7].toInt(), 0);
        EXPECT_EQ(st.value("timeCommand").toInt(), i == 1 ? 265 : 244) << i;
        EXPECT_EQ(st.value("counts").toObject().value("timeWrite").toInt(), i == 1 ? 2 : 1) << i;
        EXPECT_EQ(st.value("timeZone").toInt(), -345) << i;
    }
    EXPECT_EQ(state(4).value("timeZone").toInt(), -480);
    EXPECT_FALSE(state(4).contains("time"));

    // The codec document exactly as sent: one member and the newline.
    for (int i : {0, 1, 3}) {
        EXPECT_EQ(file(i, "showh265x.json"), QByteArray("{\"ShowH265X\":false}\n")) << i;
        EXPECT_FALSE(state(i).value("showH265X").toBool(true)) << i;
    }
    EXPECT_FALSE(s_devsim->hasFile(QString::fromLatin1(kMacs[2]), "showh265x.json"));
    EXPECT_TRUE(state(2).value("showH265X").toBool(false));

    // The language document: the location object, indented, the language replaced.
    const QByteArray german = "{\n"
                              "   \"Language\" : \"German\",\n"
                              "   \"VideoFormat\" : \"NTSC\"\n"
                              "}\n";
    for (int i : {0, 1, 3}) {
        EXPECT_EQ(file(i, "location.json"), german) << i;
        EXPECT_EQ(state(i).value("location").toObject().value("Language").toString(), "German") << i;
    }
    EXPECT_EQ(file(4, "location.json"), QByteArray("{\n"
                                                   "   \"Language\" : \"SimpChinese\",\n"
                                                   "   \"VideoFormat\" : \"NTSC\"\n"
                                                   "}\n"));
    // A read answering another "Ret" sends no write.
    EXPECT_EQ(state(2).value("counts").toObject().value("locationWrite").toInt(-1), 0);
    EXPECT_EQ(state(2).value("location").toObject().value("Language").toString(), "English");
}

} // namespace
