#include "app/cdialogtitle.h"
#include "app/cdialogwidget.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{

const QString buttonDir = QStringLiteral(TALLOW_APP_DIR "/Skin/buttons");

QImage iconImage(const QToolButton *b)
{
    return b->icon().pixmap(QSize(20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage fileImage(const QString &name)
{
    return QImage(buttonDir + QLatin1Char('/') + name).convertToFormat(QImage::Format_ARGB32);
}

void sendMouse(QWidget *w, QEvent::Type type, const QPoint &local, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TitleBarTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(buttonDir + QStringLiteral("/sys_normal.png")), qPrintable(buttonDir));
    }

    void buttonPlacement_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("main window bar") << 833 << 35;
        QTest::newRow("dialog bar") << 400 << 45;
    }
    void buttonPlacement()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QWidget window;
        CDialogTitle bar(&window);
        bar.setButtons(buttonDir, 7);
        window.resize(width + 20, height + 20);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        bar.resize(width, height);
        const int y = (height - 20) / 2;
        QCOMPARE(bar.closeButton()->geometry(), QRect(width - 25, y, 20, 20));
        QCOMPARE(bar.maxButton()->geometry(), QRect(width - 47, y, 20, 20));
        QCOMPARE(bar.minButton()->geometry(), QRect(width - 69, y, 20, 20));
        QCOMPARE(bar.objectName(), QStringLiteral("DlgTitleBar"));
        QCOMPARE(bar.textAlignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(bar.closeButton()->objectName(), QStringLiteral("SysClose"));
        QCOMPARE(bar.minButton()->toolTip(), QStringLiteral("Min"));
        QCOMPARE(bar.closeButton()->toolTip(), QStringLiteral("Close"));
    }

    void buttonMask_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("max");
        QTest::addColumn<bool>("min");
        QTest::newRow("all") << 7 << true << true << true;
        QTest::newRow("close only") << 1 << true << false << false;
        QTest::newRow("maximise only") << 2 << false << true << false;
        QTest::newRow("minimise and close") << 5 << true << false << true;
    }
    void buttonMask()
    {
        QFETCH(int, mask);
        QWidget window;
        CDialogTitle bar(&window);
        bar.setButtons(buttonDir, mask);
        QTEST(!bar.closeButton()->isHidden(), "close");
        QTEST(!bar.maxButton()->isHidden(), "max");
        QTEST(!bar.minButton()->isHidden(), "min");
    }

    void maximiseAndRestoreSwapIconsAndTips()
    {
        QWidget window;
        window.setGeometry(100, 100, 400, 300);
        CDialogTitle bar(&window);
        bar.setButtons(buttonDir, 7);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(iconImage(bar.maxButton()), fileImage(QStringLiteral("sys_max.png")));

        bar.maxButton()->click(); // checkable: clicked(true)
        QVERIFY(bar.isMaximized());
        QVERIFY(bar.maxButton()->isChecked());
        QCOMPARE(bar.maxButton()->toolTip(), QStringLiteral("Normal"));
        QCOMPARE(iconImage(bar.maxButton()), fileImage(QStringLiteral("sys_normal.png")));
        QCOMPARE(window.geometry(), window.screen()->availableGeometry());

        bar.maxButton()->click();
        QVERIFY(!bar.isMaximized());
        QVERIFY(!bar.maxButton()->isChecked());
        QCOMPARE(bar.maxButton()->toolTip(), QStringLiteral("Max"));
        QCOMPARE(iconImage(bar.maxButton()), fileImage(QStringLiteral("sys_max.png")));
        QCOMPARE(window.geometry(), QRect(100, 100, 400, 300));
    }

    void doubleClickRule_data()
    {
        QTest::addColumn<bool>("minHidden");
        QTest::addColumn<bool>("toggles");
        QTest::newRow("main window bar") << false << true;
        QTest::newRow("dialog bar") << true << false;
    }
    void doubleClickRule()
    {
        QFETCH(bool, minHidden);
        QFETCH(bool, toggles);
        QWidget window;
        window.setGeometry(50, 60, 300, 200);
        CDialogTitle bar(&window);
        bar.setButtons(buttonDir, 7);
        bar.setMinButtonHidden(minHidden);
        bar.resize(300, 35);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(bar.isDoubleClickDisabled(), minHidden);
        QCOMPARE(bar.minButton()->isHidden(), minHidden);

        sendMouse(&bar, QEvent::MouseButtonDblClick, QPoint(50, 10), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(bar.isMaximized(), toggles);
        QCOMPARE(window.geometry() == window.screen()->availableGeometry(), toggles);
        sendMouse(&bar, QEvent::MouseButtonDblClick, QPoint(50, 10), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(!bar.isMaximized());
        QCOMPARE(window.geometry(), QRect(50, 60, 300, 200));
        // Only the left button counts.
        sendMouse(&bar, QEvent::MouseButtonDblClick, QPoint(50, 10), Qt::RightButton, Qt::RightButton);
        QVERIFY(!bar.isMaximized());
    }

    void draggingMovesOnlyNormalWindows()
    {
        QWidget window;
        window.setGeometry(40, 40, 300, 200);
        CDialogTitle bar(&window);
        bar.setButtons(buttonDir, 7);
        bar.resize(300, 35);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QPoint start = window.pos();
        const QPoint pressGlobal = bar.mapToGlobal(QPoint(30, 10));
        sendMouse(&bar, QEvent::MouseButtonPress, QPoint(30, 10), Qt::LeftButton, Qt::LeftButton);
        QMouseEvent move(QEvent::MouseMove, QPointF(60, 30), QPointF(pressGlobal + QPoint(30, 20)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &move);
        QCOMPARE(window.pos(), start + QPoint(30, 20));
        sendMouse(&bar, QEvent::MouseButtonRelease, QPoint(60, 30), Qt::LeftButton, Qt::NoButton);
        QApplication::sendEvent(&bar, &move); // released: no longer dragging
        QCOMPARE(window.pos(), start + QPoint(30, 20));

        bar.onMaxNormal(true);
        const QRect maximised = window.geometry();
        sendMouse(&bar, QEvent::MouseButtonPress, QPoint(30, 10), Qt::LeftButton, Qt::LeftButton);
        QMouseEvent move2(QEvent::MouseMove, QPointF(90, 50), QPointF(bar.mapToGlobal(QPoint(90, 50))),
                          Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &move2);
        QCOMPARE(window.geometry(), maximised);
        bar.onMaxNormal(); // the argument-less slot restores
        QVERIFY(!bar.isMaximized());
        QCOMPARE(window.pos(), start + QPoint(30, 20));
    }

    void missingImagesLeaveAWorkingBar()
    {
        QWidget window;
        CDialogTitle bar(&window);
        bar.setButtons(QStringLiteral("/nonexistent/skin"), 7);
        QVERIFY(bar.closeButton()->icon().pixmap(20, 20).isNull());
        QSignalSpy closed(&bar, &CDialogTitle::closed);
        bar.closeButton()->click();
        QCOMPARE(closed.count(), 1);
        bar.setTitle(QStringLiteral("Hello"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Hello"));
        QCOMPARE(bar.title(), QStringLiteral("Hello"));
    }

    void dialogWidget()
    {
        CDialogWidget dlg(nullptr, QStringLiteral("Login"), buttonDir, true);
        QCOMPARE(dlg.objectName(), QStringLiteral("CDialogWidget"));
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dlg.titleBar()->objectName(), QStringLiteral("DlgTitle"));
        QCOMPARE(dlg.titleBar()->title(), QStringLiteral("Login"));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Login"));
        QCOMPARE(dlg.titleBar()->height(), 45);
        QVERIFY(dlg.titleBar()->maxButton()->isHidden());
        QVERIFY(dlg.titleBar()->minButton()->isHidden());
        QVERIFY(!dlg.titleBar()->closeButton()->isHidden());
        QVERIFY(dlg.titleBar()->isDoubleClickDisabled());
        QCOMPARE(dlg.mainLayout()->itemAt(0)->widget(), dlg.titleBar());

        dlg.resize(300, 200);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QRect desk = dlg.screen()->geometry();
        QCOMPARE(dlg.pos(),
                 QPoint(desk.x() + (desk.width() - 300) / 2, desk.y() + (desk.height() - 200) / 2));
        QSignalSpy rejected(&dlg, &QDialog::rejected);
        dlg.titleBar()->closeButton()->click();
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dlg.isVisible());

        CDialogWidget withMax(nullptr, QStringLiteral("x"), buttonDir, false);
        QVERIFY(!withMax.titleBar()->maxButton()->isHidden());
    }
};

QTEST_MAIN(TitleBarTest)
#include "tst_titlebar.moc"
