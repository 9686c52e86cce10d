#include "device/cbatchdealthread.h"

#include <gtest/gtest.h>

TEST(BatchOutcome, SuccessRulesAndTexts)
{
    struct Case {
        int ret, nError, nCmd;
        bool success;
        const char *text;
    } cases[] = {
        {0, 0, 1, true, "Reset Config Successfully"},
        {1, 1, 1, true, "Reset Config Successfully"},
        {-10005, -10005, 1, true, "Reset Config Successfully"},
        {-11401, -11401, 1, false, "Reset Config Failed"},
        {1, 0, 2, true, "Reboot Successfully"},
        {1, -10005, 2, true, "Reboot Successfully"},
        {0, -11307, 2, false, "Reboot Failed"},
        {-1, -11301, 0, false, "Password is error"},
    };
    for (const Case &c : cases) {
        const BatchOutcome out = batchOutcome(c.ret, c.nError, c.nCmd);
        EXPECT_EQ(out.success, c.success) << c.ret << " " << c.nCmd;
        EXPECT_EQ(out.text.toStdString(), c.text) << c.ret << " " << c.nCmd;
    }
}
