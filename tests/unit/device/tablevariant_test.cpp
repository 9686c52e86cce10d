#include "answers.h"
#include "device/tablevariant.h"

#include <gtest/gtest.h>

namespace
{

std::vector<std::string> cells(const RowFill &fill)
{
    std::vector<std::string> out;
    for (const QVariant &v : fill.cells)
        out.push_back(v.toString().toStdString());
    return out;
}

} // namespace

TEST(TableVariant, StatusColumnsAndHeaders)
{
    EXPECT_EQ(tableVariant(TabKind::Firmware).statusColumn, 3);
    EXPECT_EQ(tableVariant(TabKind::Logo).statusColumn, 3);
    EXPECT_EQ(tableVariant(TabKind::Oemid).statusColumn, 2);
    EXPECT_STREQ(tableVariant(TabKind::Oemid).columns[3].header, "Status");
    EXPECT_EQ(tableVariant(TabKind::Oemid).columnOf(Field::Oemid), 3);
    EXPECT_FALSE(tableVariant(TabKind::Oemid).checkable);
    EXPECT_TRUE(tableVariant(TabKind::Oemid).hideVerticalHeader);
    EXPECT_TRUE(tableVariant(TabKind::Logo).checkable);
}

TEST(FillFromSearch, RowPerTab)
{
    const SDK_CONFIG_NET_COMMON_V2 a = makeAnswer("00:12:34:56:78:9a", 127, 0, 0, 9, "V4.02", 4);
    const std::string cloud = "7b6ecbf6732ba646";
    struct Case {
        TabKind kind;
        std::vector<std::string> want;
    } cases[] = {
        {TabKind::Firmware,
         {"3", "127.0.0.9", "34567", "", "00:12:34:56:78:9a", cloud, "V4.02", "2020-01-13"}},
        {TabKind::Logo, {"3", "127.0.0.9", "NVR", "", "127.0.0.1", cloud, "V4.02", "2020-01-13"}},
        {TabKind::Oemid, {"3", "127.0.0.9", "", "", "00:12:34:56:78:9a", "V4.02", "2020-01-13", cloud}},
    };
    for (const Case &c : cases) {
        const auto fill = fillFromSearch(tableVariant(c.kind), a, 2);
        ASSERT_TRUE(fill);
        EXPECT_EQ(cells(*fill), c.want) << int(c.kind);
        EXPECT_EQ(fill->record.nIndex, 2);
        EXPECT_STREQ(fill->record.szCloudID, cloud.c_str());
    }
}

TEST(FillFromSearch, EmptyVersionShowsNeitherVersionNorDate)
{
    const auto fill =
        fillFromSearch(tableVariant(TabKind::Firmware), makeAnswer("aa:bb:cc:dd:ee:ff", 127, 0, 0, 2, ""), 0);
    ASSERT_TRUE(fill);
    EXPECT_FALSE(fill->cells[6].isValid());
    EXPECT_FALSE(fill->cells[7].isValid());
}

TEST(FillFromSearch, LogoTabListsOnlyDvrsAndNvrs)
{
    struct Case {
        int32_t type;
        const char *name; // nullptr: not listed
        uint8_t protocol;
    } cases[] = {{0, nullptr},
                 {1, "DVR"},
                 {2, "DVR"},
                 {3, nullptr},
                 {4, "NVR"},
                 {5, nullptr},
                 {6, "DVR"},
                 {9, "DVR"},
                 {-1, "DVR"},
                 {INT32_MIN, "DVR"},
                 {INT32_MAX, "DVR"},
                 // An ONVIF device is listed whatever its type, and its type says ONVIF.
                 {NETSDK_ONVIF_SEARCH_TYPE, "IPC (ONVIF)", NETSDK_PROTOCOL_ONVIF},
                 {0, "IPC (ONVIF)", NETSDK_PROTOCOL_ONVIF}};
    for (const Case &c : cases) {
        SDK_CONFIG_NET_COMMON_V2 answer = makeAnswer("aa:bb:cc:dd:ee:ff", 127, 0, 0, 2, "V", c.type);
        answer.Protocol = c.protocol;
        const auto fill = fillFromSearch(tableVariant(TabKind::Logo), answer, 0);
        if (!c.name) {
            EXPECT_FALSE(fill) << c.type;
            continue;
        }
        ASSERT_TRUE(fill) << c.type;
        EXPECT_EQ(fill->cells[2].toString().toStdString(), c.name) << c.type;
        // The other tabs list every type.
        EXPECT_TRUE(fillFromSearch(tableVariant(TabKind::Firmware),
                                   makeAnswer("aa:bb:cc:dd:ee:ff", 127, 0, 0, 2, "V", c.type), 0));
    }
}

TEST(FillFromLogin, FirmwareAndLogoRows)
{
    DEV_INFO rec;
    std::memset(&rec, 0, sizeof rec);
    rec.lLoginID = 42;
    rec.nPort = 34567;
    std::strcpy(rec.szIpaddress, "127.0.0.5");
    std::strcpy(rec.NetComm.sMac, "00:11:22:33:44:55");
    const uint8_t gw[4] = {127, 0, 0, 1};
    std::memcpy(rec.NetComm.Gateway, gw, 4);
    std::strcpy(rec.NetDevInfo.sSerialNumber, "SERIAL01");
    std::strcpy(rec.NetDevInfo.sSoftWareVersion, "V9");
    rec.NetDevInfo.BuildYear = 2021;
    rec.NetDevInfo.BuildMonth = 2;
    rec.NetDevInfo.BuildDay = 3;
    rec.NetDevInfo.DeviceType = 1;

    const RowFill fw =
        fillFromLogin(tableVariant(TabKind::Firmware), rec, 4, QStringLiteral("Login Success"));
    EXPECT_EQ(cells(fw), (std::vector<std::string>{"5", "127.0.0.5", "34567", "Login Success",
                                                   "00:11:22:33:44:55", "SERIAL01", "V9", "2021-02-03"}));
    EXPECT_EQ(fw.record.nIndex, 4);
    EXPECT_EQ(fw.record.lLoginID, 42);
    EXPECT_STREQ(fw.record.szCloudID, "SERIAL01");

    const RowFill logo = fillFromLogin(tableVariant(TabKind::Logo), rec, 0, QStringLiteral("Login Success"));
    EXPECT_EQ(cells(logo), (std::vector<std::string>{"1", "127.0.0.5", "NVR", "Login Success", "127.0.0.1",
                                                     "SERIAL01", "V9", "2021-02-03"}));
    rec.NetDevInfo.DeviceType = 77; // counts as 0
    EXPECT_EQ(fillFromLogin(tableVariant(TabKind::Logo), rec, 0, QString()).cells[2].toString().toStdString(),
              "DVR");
    rec.NetDevInfo.DeviceType = NETSDK_ONVIF_LOGIN_TYPE;
    rec.NetDevInfo.Protocol = NETSDK_PROTOCOL_ONVIF;
    EXPECT_EQ(fillFromLogin(tableVariant(TabKind::Logo), rec, 0, QString()).cells[2].toString().toStdString(),
              "IPC (ONVIF)");
}

TEST(FillFromSearch, RecordKeepsTheProtocolBeforeAnyLogin)
{
    for (const uint8_t protocol : {uint8_t(NETSDK_PROTOCOL_OWN), uint8_t(NETSDK_PROTOCOL_ONVIF)}) {
        SDK_CONFIG_NET_COMMON_V2 answer = makeAnswer("aa:bb:cc:dd:ee:ff", 127, 0, 0, 2, "V", 3);
        answer.Protocol = protocol;
        const auto fill = fillFromSearch(tableVariant(TabKind::Firmware), answer, 0);
        ASSERT_TRUE(fill);
        EXPECT_EQ(fill->record.NetDevInfo.Protocol, protocol);
    }
}
