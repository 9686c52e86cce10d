#include "logo/logocheck.h"

#include "app/cmessagebox.h"

#include "logotestutil.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace logotest;

namespace {

class CheckBox : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "logo_checkbox_test";
        static char *argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }
    void SetUp() override
    {
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
        boot = dir.filePath(QStringLiteral("boot.jpg"));
        ASSERT_TRUE(writeFile(boot, makeJpeg(640, 480)));
    }
    void TearDown() override { CMessageBox::resetTestHooks(); }
    QTemporaryDir dir;
    QString boot;
};

} // namespace

TEST_F(CheckBox, ShowsTheOutcomeInATipsBox)
{
    const struct {
        LogoPaths paths;
        int nType;
        bool result;
        int boxes;
        const char *text;
    } cases[] = {
        {{QString()}, 1, false, 1, "Please select logo first"},
        {{QStringLiteral("%1")}, 0, true, 1, "Logo meets requirements"},
        {{QStringLiteral("%1")}, 1, true, 0, nullptr},
        {{QStringLiteral("%1"), QStringLiteral("/nonexistent/close.jpg")}, 1, false, 1, "Shutdown logo is abnormal"},
    };
    for (const auto &c : cases) {
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
        LogoPaths paths = c.paths;
        if (paths.boot == QLatin1String("%1"))
            paths.boot = boot;
        EXPECT_EQ(checkBootLogo(nullptr, paths, c.nType), c.result);
        EXPECT_EQ(CMessageBox::shownCount(), c.boxes);
        if (c.text) {
            const CMessageBox::Record r = CMessageBox::lastShown();
            EXPECT_EQ(r.kind, int(CMessageBox::Information));
            EXPECT_EQ(r.title, QStringLiteral("Tips"));
            EXPECT_EQ(r.text, QString::fromLatin1(c.text));
            EXPECT_EQ(r.buttons, QStringList{QStringLiteral("OK")});
        }
    }
}
