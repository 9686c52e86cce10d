#include "app/startup.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    void styleSheetSkinPath()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("skin")));
        QFile css(dir.filePath(QStringLiteral("skin/style.css")));
        QVERIFY(css.open(QIODevice::WriteOnly));
        css.write("a{image:url(@skinpath/a.png)} b{image:url(@skinpath/b.png)} c{x:@skinpath} d{@SkinPath}");
        css.close();
        const QString sheet = Startup::loadStyleSheet(dir.path());
        QCOMPARE(sheet.count(dir.path() + QLatin1Char('/')), 2);
        QCOMPARE(sheet.count(dir.path()), 3);
        QVERIFY(!sheet.contains(QStringLiteral("@skinpath")));
        QVERIFY(sheet.contains(QStringLiteral("d{@SkinPath}"))); // case-sensitive
        QCOMPARE(Startup::loadStyleSheet(dir.path() + QStringLiteral("/")), sheet);
        QCOMPARE(Startup::loadStyleSheet(dir.filePath(QStringLiteral("missing"))), QString());
    }

    void shippedStyleSheetResolves()
    {
        const QString sheet = Startup::loadStyleSheet(QStringLiteral(TALLOW_APP_DIR));
        QVERIFY(!sheet.isEmpty());
        QVERIFY(!sheet.contains(QStringLiteral("@skinpath")));
        // Every picture the sheet names is laid out beside the executable.
        QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
        int count = 0;
        for (auto it = url.globalMatch(sheet); it.hasNext(); ++count) {
            const QString path = it.next().captured(1);
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
        QVERIFY(count >= 3);
    }

    void language_data()
    {
        QTest::addColumn<QString>("solution");
        QTest::addColumn<int>("installed");
        QTest::newRow("SimpChinese") << "SimpChinese" << 2;
        QTest::newRow("lower case") << "simpchinese" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("English") << "English" << 0;
    }
    void language()
    {
        QFETCH(QString, solution);
        QFETCH(int, installed);
        const int n = Startup::installTranslators(*qApp, QStringLiteral(TALLOW_APP_DIR), solution);
        QCOMPARE(n, installed);
        const QString close = QCoreApplication::translate("CTitleBar", "Close");
        const QString ok = QCoreApplication::translate("QPlatformTheme", "OK");
        if (installed) {
            QCOMPARE(close, QString::fromUtf8("关闭"));
            QCOMPARE(ok, QString::fromUtf8("确定"));
        } else {
            QCOMPARE(close, QStringLiteral("Close"));
            QCOMPARE(ok, QStringLiteral("OK"));
        }
        qDeleteAll(qApp->findChildren<QTranslator *>());
    }

    void missingCataloguesAreSkipped()
    {
        QTemporaryDir dir;
        QCOMPARE(Startup::installTranslators(*qApp, dir.path(), QStringLiteral("SimpChinese")), 0);
        QVERIFY(qApp->findChildren<QTranslator *>().isEmpty());
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
