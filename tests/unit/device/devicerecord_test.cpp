#include "answers.h"
#include "device/devicerecord.h"

#include <gtest/gtest.h>

using namespace DeviceRecord;

TEST(CloudId, DerivedFromMacPlusFive)
{
    // md5("00123456789f") = 11791cf1 7b6ecbf6732ba646 dc1885d9; bytes 4..11 are kept.
    EXPECT_EQ(cloudIdFromMac("00:12:34:56:78:9a").toStdString(), "7b6ecbf6732ba646");
    EXPECT_EQ(cloudIdFromMac("00:12:34:56:78:9A").toStdString(), "7b6ecbf6732ba646");
}

TEST(CloudId, MacWithoutHexDigitsGivesEmptyText)
{
    EXPECT_TRUE(cloudIdFromMac("").isEmpty());
    EXPECT_TRUE(cloudIdFromMac("zz:zz").isEmpty());
}

TEST(CloudId, OwnCloudTextWinsAndMayFillItsField)
{
    SDK_CONFIG_NET_COMMON_V2 a = makeAnswer("00:12:34:56:78:9a", 127, 0, 0, 2, "V1", 1, "abcdef");
    EXPECT_EQ(cloudIdOf(a).toStdString(), "abcdef");
    // 32 characters with no terminator: read to the field's end, not beyond.
    std::memset(a.sSn, 'c', sizeof a.sSn);
    a.reserved2[0] = 'X';
    EXPECT_EQ(cloudIdOf(a).toStdString(), std::string(32, 'c'));
    std::memset(a.sSn, 0, sizeof a.sSn);
    EXPECT_EQ(cloudIdOf(a).toStdString(), "7b6ecbf6732ba646");
}

TEST(RecordFromSearch, CopiesNetworkDataAndDefaults)
{
    const SDK_CONFIG_NET_COMMON_V2 a = makeAnswer("00:12:34:56:78:9a", 192, 168, 1, 7, "V2", 4);
    const DEV_INFO rec = recordFromSearch(a, 5);
    EXPECT_EQ(rec.nIndex, 5);
    EXPECT_EQ(rec.lLoginID, 0);
    EXPECT_EQ(rec.nPort, 34567);
    EXPECT_STREQ(rec.szIpaddress, "192.168.1.7");
    EXPECT_STREQ(rec.szUserName, "admin");
    EXPECT_STREQ(rec.szPsw, "");
    EXPECT_STREQ(rec.szCloudID, "7b6ecbf6732ba646");
    EXPECT_STREQ(rec.NetComm.sMac, "00:12:34:56:78:9a");
    EXPECT_STREQ(rec.NetComm.HostName, "dev");
    EXPECT_EQ(0, std::memcmp(rec.NetComm.Gateway, a.Gateway, 4));
    EXPECT_EQ(0, std::memcmp(rec.NetComm.Submask, a.Submask, 4));
    EXPECT_EQ(rec.NetComm.NetValues[1], 34567);
    EXPECT_EQ(rec.NetComm.ChangeFlag, 0);
}

TEST(FixedText, UnterminatedFieldsStayInBounds)
{
    char field[8];
    std::memset(field, 'a', sizeof field);
    EXPECT_EQ(fixedText(field), "aaaaaaaa");
    setFixedText(field, std::string("0123456789"));
    EXPECT_STREQ(field, "0123456");
}
