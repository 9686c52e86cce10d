// The verifier's verdict on what an upgraded device answered after its restart: the same version and
// build date as before is "unchanged"; a change in any one of them is an upgrade.

#include "flash/flashverify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace
{

H264_DVR_DEVICEINFO answered(const char *version, int year, int month, int day)
{
    H264_DVR_DEVICEINFO info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.sSoftWareVersion, version, std::min(std::strlen(version), sizeof info.sSoftWareVersion));
    info.BuildYear = year;
    info.BuildMonth = month;
    info.BuildDay = day;
    return info;
}

TEST(FlashVerify, UnchangedOnlyWhenVersionAndBuildDateAllMatch)
{
    VerifyTarget before;
    before.oldVersion = "V4.02.R11.20200113";
    before.oldYear = 2020;
    before.oldMonth = 1;
    before.oldDay = 13;
    struct Case {
        const char *name;
        H264_DVR_DEVICEINFO running;
        bool unchanged;
    };
    const Case cases[] = {
        {"same version, same date", answered("V4.02.R11.20200113", 2020, 1, 13), true},
        {"new version", answered("V4.02.R11.20210203", 2020, 1, 13), false},
        {"same version, new year", answered("V4.02.R11.20200113", 2021, 1, 13), false},
        {"same version, new month", answered("V4.02.R11.20200113", 2020, 2, 13), false},
        {"same version, new day", answered("V4.02.R11.20200113", 2020, 1, 14), false},
        // A version that only starts like the old one is another version.
        {"longer version", answered("V4.02.R11.20200113.1", 2020, 1, 13), false},
        {"shorter version", answered("V4.02.R11", 2020, 1, 13), false},
        {"no version", answered("", 2020, 1, 13), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(before.unchangedIn(c.running), c.unchanged);
    }
}

TEST(FlashVerify, VersionFillingTheWholeFieldIsReadToItsEnd)
{
    // A version with no terminating NUL in the device's field: compared over the field, not beyond.
    H264_DVR_DEVICEINFO info;
    std::memset(&info, 0, sizeof info);
    std::memset(info.sSoftWareVersion, 'V', sizeof info.sSoftWareVersion);
    info.BuildYear = 2020;
    VerifyTarget before;
    before.oldVersion = QByteArray(int(sizeof info.sSoftWareVersion), 'V');
    before.oldYear = 2020;
    EXPECT_TRUE(before.unchangedIn(info));
    before.oldVersion.chop(1);
    EXPECT_FALSE(before.unchangedIn(info));
}

TEST(FlashVerify, VerifiedTextShowsTheBuildDateOnlyWhenTheDeviceHasOne)
{
    struct Case {
        const char *name;
        int year, month, day;
        const char *text;
    };
    const Case cases[] = {
        {"full date", 2026, 4, 1, "Verified V7.01.R05 2026-04-01"},
        {"no build date", 0, 0, 0, "Verified V7.01.R05"},
        {"year only", 2026, 0, 0, "Verified V7.01.R05 2026-00-00"},
        {"day only", 0, 0, 1, "Verified V7.01.R05 0000-00-01"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VerifyText::verified("V7.01.R05", c.year, c.month, c.day).toStdString(), c.text);
    }
}

} // namespace
