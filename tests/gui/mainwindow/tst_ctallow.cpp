#include "app/apppaths.h"
#include "app/cdialogtitle.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "logo/upgradelogowidget.h"
#include "mainwindow/buildstamp.h"
#include "mainwindow/ctallow.h"
#include "oemid/setoemid.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

class CTallowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString configPath() const { return m_dir->filePath(QStringLiteral("Config.ini")); }
    void writeConfig(const QByteArray &text)
    {
        QFile f(configPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        ConfigKeys::setConfigPath(configPath());
        CMessageBox::resetTestHooks();
    }
    void cleanup()
    {
        ConfigKeys::setConfigPath(QString());
        CMessageBox::resetTestHooks();
    }

    void buildStamp_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("title");
        QTest::newRow("two-digit day") << "Dec 22 2021"
                                       << "10:12:17"
                                       << "V2"
                                       << "DVR/NVR Tallow 20211222 R101217 V2";
        QTest::newRow("blank-padded day") << "Jan  5 2022"
                                          << "09:03:00"
                                          << "V2"
                                          << "DVR/NVR Tallow 20220105 R090300 V2";
        QTest::newRow("no version") << "Jul 31 2023"
                                    << "23:59:59"
                                    << ""
                                    << "DVR/NVR Tallow 20230731 R235959 ";
    }
    void buildStamp()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, version);
        const BuildStamp s = BuildStamp::parse(date, time);
        QVERIFY(s.date.isValid());
        QVERIFY(s.time.isValid());
        QTEST(windowTitleText(QStringLiteral("DVR/NVR Tallow"), s, version), "title");
    }

    void windowAndTabs()
    {
        writeConfig("[Version]\r\nVersion=V2\r\n");
        CTallow w;
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(w.objectName(), QStringLiteral("CTallowClass"));
        QCOMPARE(w.size(), QSize(833, 626));
        QRegularExpression title(QStringLiteral("^DVR/NVR Tallow \\d{8} R\\d{6} V2$"));
        QVERIFY2(title.match(w.titleBar()->title()).hasMatch(), qPrintable(w.titleBar()->title()));
        QCOMPARE(w.windowTitle(), w.titleBar()->title());
        QCOMPARE(w.titleBar()->height(), 35);
        QVERIFY(!w.titleBar()->minButton()->isHidden());
        QVERIFY(!w.titleBar()->maxButton()->isHidden());
        QVERIFY(!w.titleBar()->isDoubleClickDisabled());
        QCOMPARE(w.titleBar()->buttonFolder(), w.applicationDir() + QStringLiteral("/Skin/buttons/"));

        QTabWidget *tabs = w.tabWidget();
        QCOMPARE(tabs->count(), 3);
        QVERIFY(qobject_cast<UpgradeLogoWidget *>(tabs->widget(0)));
        QVERIFY(qobject_cast<UpgradeWidget *>(tabs->widget(1)));
        QVERIFY(qobject_cast<SetOEMID *>(tabs->widget(2)));
        QCOMPARE(tabs->tabText(0), QStringLiteral("UpgradeLogo"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Upgrade"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("set oemid"));
        QCOMPARE(w.findChildren<QFrame *>(QStringLiteral("DlgTitle")).size(), 2);
    }

    void absentVersionLeavesTrailingBlank()
    {
        CTallow w;
        QVERIFY(w.titleBar()->title().endsWith(QLatin1Char(' ')));
        QVERIFY(!w.titleBar()->title().endsWith(QStringLiteral("  ")));
    }

    void startTabAndStoredTab_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("opened");
        QTest::addColumn<int>("switchTo");
        QTest::newRow("OEMID tab, quit on firmware tab")
            << QByteArray("[UpgradeInfo]\r\nnCurrentIndex=2\r\n") << 2 << 1;
        QTest::newRow("no file") << QByteArray() << 0 << 2;
        QTest::newRow("out of range") << QByteArray("[UpgradeInfo]\nnCurrentIndex=7\n") << 0 << 0;
        QTest::newRow("negative") << QByteArray("[UpgradeInfo]\nnCurrentIndex=-1\n") << 0 << 1;
    }
    void startTabAndStoredTab()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, opened);
        QFETCH(int, switchTo);
        if (!config.isEmpty())
            writeConfig(config);
        {
            CTallow w;
            QCOMPARE(w.tabWidget()->currentIndex(), opened);
            w.tabWidget()->setCurrentIndex(switchTo);
        }
        QCOMPARE(IniFile(configPath()).value(QStringLiteral("UpgradeInfo/nCurrentIndex")),
                 QString::number(switchTo));
    }

    void storingKeepsOtherLines()
    {
        writeConfig(
            "; factory file\r\n[themes]\r\nSolution=SimpChinese\r\n[UpgradeInfo]\r\nnCurrentIndex=0\r\n"
            "ModifyIP=1\r\n");
        {
            CTallow w;
            w.tabWidget()->setCurrentIndex(1);
        }
        QFile f(configPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        // The logo tab stores its form's keys as it goes; every line that was there stays as it was.
        QCOMPARE(f.readAll(),
                 QByteArray("; factory file\r\n[themes]\r\nSolution=SimpChinese\r\n[UpgradeInfo]\r\n"
                            "nCurrentIndex=1\r\nModifyIP=1\r\n[AppLink]\r\nIOS=\r\nAndroid=\r\n"
                            "[Logo]\r\nBoot=\r\nClose=\r\nLoss=\r\nBlind=\r\n"
                            "[OEMID]\r\nSetEn=0\r\nRepeatEn=0\r\n"));
    }

    void quitQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Yes") << 0 << true;
        QTest::newRow("No") << 1 << false;
        QTest::newRow("closed without answer") << -1 << false;
    }
    void quitQuestion()
    {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        CTallow w;
        QWidget other; // another top-level window of the application
        w.show();
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CMessageBox::setNextAnswer(answer);
        w.titleBar()->closeButton()->click();
        QCOMPARE(CMessageBox::shownCount(), 1);
        const CMessageBox::Record rec = CMessageBox::lastShown();
        QCOMPARE(rec.kind, int(CMessageBox::Question));
        QCOMPARE(rec.title, QString());
        QCOMPARE(rec.text, QStringLiteral("Are you sure you want to exit?"));
        QCOMPARE(rec.buttons, QStringList({QStringLiteral("Yes"), QStringLiteral("No")}));
        QCOMPARE(w.isVisible(), !closes);
        QCOMPARE(other.isVisible(), !closes);
    }

    // An installed copy: the window reads its pictures from the shipped data, the tabs keep their
    // records in the user's directory, and "About Tallow" names every place in use.
    void installedCopyUsesItsPaths()
    {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("usr/bin"))));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("usr/share/tallow"))));
        const AppPaths paths = AppPaths::resolve(
            {root.filePath(QStringLiteral("usr/bin")), false, root.filePath(QStringLiteral("config")),
             root.filePath(QStringLiteral("data")), root.filePath(QStringLiteral("cache"))});
        QVERIFY(paths.installed());
        AppPaths::setCurrent(&paths);
        struct Restore {
            ~Restore() { AppPaths::setCurrent(nullptr); }
        } restore;

        CTallow w;
        QCOMPARE(w.applicationDir(), paths.shippedDataDir());
        QCOMPARE(w.titleBar()->buttonFolder(), paths.shippedDataDir() + QStringLiteral("/Skin/buttons/"));
        auto *logo = qobject_cast<UpgradeLogoWidget *>(w.tabWidget()->widget(0));
        auto *upgrade = qobject_cast<UpgradeWidget *>(w.tabWidget()->widget(1));
        auto *oemid = qobject_cast<SetOEMID *>(w.tabWidget()->widget(2));
        QVERIFY(logo && upgrade && oemid);
        QCOMPARE(logo->dataDirectory(), root.filePath(QStringLiteral("data/tallow")));
        QCOMPARE(upgrade->dataDirectory(), root.filePath(QStringLiteral("data/tallow")));
        QCOMPARE(oemid->dataDirectory(), root.filePath(QStringLiteral("data/tallow")));

        // F1 and the title bar's context menu reach the same action.
        QVERIFY(w.titleBar()->actions().contains(w.aboutAction()));
        QCOMPARE(w.aboutAction()->shortcut(), QKeySequence(QKeySequence::HelpContents));
        CMessageBox::setNextAnswer(0);
        w.aboutAction()->trigger();
        QCOMPARE(CMessageBox::shownCount(), 1);
        const QString text = CMessageBox::lastShown().text;
        QVERIFY2(text.startsWith(QStringLiteral("Tallow ") + AppPaths::version()), qPrintable(text));
        for (const QString &shown : {root.filePath(QStringLiteral("config/tallow/Config.ini")),
                                     root.filePath(QStringLiteral("data/tallow/RunLog")),
                                     root.filePath(QStringLiteral("data/tallow/oemidupload")),
                                     root.filePath(QStringLiteral("cache/tallow/Temp"))})
            QVERIFY2(text.contains(shown), qPrintable(text));
    }

    void platformCloseAsksToo()
    {
        CTallow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CMessageBox::setNextAnswer(1);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(CMessageBox::shownCount(), 1);
        CMessageBox::setNextAnswer(0);
        w.close();
        QVERIFY(!w.isVisible());
    }

    void resizeRecentres_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smaller") << QSize(600, 400);
        QTest::newRow("odd") << QSize(701, 503);
    }
    void resizeRecentres()
    {
        QFETCH(QSize, size);
        CTallow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.move(3, 5);
        w.resize(size);
        const QRect screen = w.screen()->geometry();
        QTRY_COMPARE(w.pos(), QPoint(screen.x() + (screen.width() - size.width()) / 2,
                                     screen.y() + (screen.height() - size.height()) / 2));
        // Maximise and restore through the bar re-centre too.
        w.titleBar()->onMaxNormal(true);
        w.titleBar()->onMaxNormal(false);
        QTRY_COMPARE(w.pos(), QPoint(screen.x() + (screen.width() - size.width()) / 2,
                                     screen.y() + (screen.height() - size.height()) / 2));
    }
};

QTEST_MAIN(CTallowTest)
#include "tst_ctallow.moc"
