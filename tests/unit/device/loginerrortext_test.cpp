#include "device/loginerrortext.h"

#include <gtest/gtest.h>

TEST(LoginErrorText, BothVariants)
{
    struct Case {
        int code;
        const char *dialog;
        const char *tab;
    } cases[] = {
        {0, "Network is error", "Network is error"},
        {7, "System is busying", "System is busying"},
        {-10005, "Login timeout", "Login timeout"},
        {-11301, "Password is error", "Password is error"},
        {-11302, "The user is not existed", "The user is not existed"},
        {-11303, "The user is locked", "The user is locked"},
        {-11304, "The user is in blacklist", "The user is in blacklist"},
        {-11305, "The user has logined.", "The user has logined"},
        {-11307, "Cann't find the device.", "Cann't find the device"},
        {-11306, "Unknow Error", "Unknow Error nError:-11306,code:-10005"},
        {1, "Unknow Error", "Unknow Error nError:1,code:-10005"},
        {INT32_MIN, "Unknow Error", "Unknow Error nError:-2147483648,code:-10005"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(loginErrorText(c.code, LoginTextVariant::Dialog, -10005).toStdString(), c.dialog) << c.code;
        EXPECT_EQ(loginErrorText(c.code, LoginTextVariant::Tab, -10005).toStdString(), c.tab) << c.code;
    }
}
