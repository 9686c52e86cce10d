#include "device/cbatchdealthread.h"
#include "netsdk/netsdk.h"

#include <gtest/gtest.h>

TEST(BatchOutcome, SuccessRulesAndTexts)
{
    struct Case {
        int ret, nError, nCmd;
        StatusOutcome outcome;
        const char *text;
    } cases[] = {
        {0, 0, 1, StatusOutcome::Success, "Reset Config Successfully"},
        {1, 1, 1, StatusOutcome::Success, "Reset Config Successfully"},
        {-10005, -10005, 1, StatusOutcome::Success, "Reset Config Successfully"},
        {-11401, -11401, 1, StatusOutcome::Failure, "Reset Config Failed"},
        {1, 0, 2, StatusOutcome::Success, "Reboot Successfully"},
        {1, -10005, 2, StatusOutcome::Success, "Reboot Successfully"},
        {0, -11307, 2, StatusOutcome::Failure, "Reboot Failed"},
        {-1, -11301, 0, StatusOutcome::Failure, "Password is error"},
        {-1, -11999, 0, StatusOutcome::Failure, "Unknow Error nError:-11999,code:-11999"},
    };
    for (const Case &c : cases) {
        const BatchOutcome out = batchOutcome(c.ret, c.nError, c.nCmd);
        EXPECT_EQ(out.outcome, c.outcome) << c.ret << " " << c.nCmd;
        EXPECT_EQ(out.text.toStdString(), c.text) << c.ret << " " << c.nCmd;
    }
}

TEST(BatchOutcome, LoginFailureTextCarriesTheBatchThreadsCode)
{
    // This thread's own last SDK error differs from the batch thread's: a refused connection here.
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(300, 1);
    H264_DVR_DEVICEINFO info{};
    int error = 0;
    EXPECT_LE(H264_DVR_Login("127.0.0.1", 1, "admin", "", &info, 1, &error), 0);
    ASSERT_NE(H264_DVR_GetLastError(), -11999);
    const BatchOutcome out = batchOutcome(-1, -11999, 0);
    EXPECT_EQ(out.outcome, StatusOutcome::Failure);
    EXPECT_TRUE(out.text.endsWith(QStringLiteral("nError:-11999,code:-11999"))) << out.text.toStdString();
    H264_DVR_Cleanup();
}
