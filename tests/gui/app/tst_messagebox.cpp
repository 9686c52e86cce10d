#include "app/cmessagebox.h"

#include <QApplication>
#include <QBitmap>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace
{

// Runs f on the box once the static function has opened it modally.
void whenBoxShown(std::function<void(CMessageBox *)> f)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, f] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<CMessageBox *>(w);
            if (box && box->isVisible() && box->panel()->isVisible()) {
                timer->stop();
                timer->deleteLater();
                f(box);
                return;
            }
        }
    });
    timer->start(10);
}

} // namespace

class MessageBoxTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { CMessageBox::resetTestHooks(); }

    void iconsAreCompiledIn()
    {
        for (const char *name : {"infomation.png", "error.png", "question.png"}) {
            const QString path = QStringLiteral(":/VelaUpgrade/Res/") + QLatin1String(name);
            CMessageBox box(CMessageBox::Question, QString(),
                            QString()); // makes sure resources are registered
            QVERIFY2(!QPixmap(path).isNull(), qPrintable(path));
        }
    }

    void staticFunctions_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("icon");
        QTest::newRow("information") << 0 << 1 << ":/VelaUpgrade/Res/infomation.png";
        QTest::newRow("warning") << 1 << 2 << ":/VelaUpgrade/Res/error.png";
        QTest::newRow("critical") << 2 << 3 << ":/VelaUpgrade/Res/error.png";
        QTest::newRow("question") << 3 << 4 << ":/VelaUpgrade/Res/question.png";
    }
    void staticFunctions()
    {
        QFETCH(int, which);
        QFETCH(int, kind);
        QFETCH(QString, icon);
        QImage shown;
        CMessageBox::setAnswerProvider([&shown](CMessageBox &box) {
            shown = box.iconLabel()->pixmap().toImage();
            return 1;
        });
        using Fn = int (*)(QWidget *, const QString &, const QString &, const QString &, const QString &,
                           const QString &, int, int);
        const Fn fns[] = {&CMessageBox::information, &CMessageBox::warning, &CMessageBox::critical,
                          &CMessageBox::question};
        const int r = fns[which](nullptr, QStringLiteral("Tips"), QStringLiteral("body"), QStringLiteral("A"),
                                 QStringLiteral("B"), QString(), 0, -1);
        QCOMPARE(r, 1);
        const CMessageBox::Record rec = CMessageBox::lastShown();
        QCOMPARE(rec.kind, kind);
        QCOMPARE(rec.title, QStringLiteral("Tips"));
        QCOMPARE(rec.text, QStringLiteral("body"));
        QCOMPARE(rec.buttons, QStringList({QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(rec.answer, 1);
        QCOMPARE(shown, QImage(icon).convertToFormat(shown.format()));
    }

    void buttonTexts_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("none gives OK") << QStringList{QString(), QString(), QString()} << QStringList{"OK"};
        QTest::newRow("yes no") << QStringList{"Yes", "No", QString()} << QStringList{"Yes", "No"};
        QTest::newRow("empty middle skipped") << QStringList{"A", QString(), "C"} << QStringList{"A", "C"};
        QTest::newRow("three") << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"};
    }
    void buttonTexts()
    {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, buttons);
        CMessageBox::setNextAnswer(0);
        QCOMPARE(
            CMessageBox::information(nullptr, QString(), QStringLiteral("t"), texts[0], texts[1], texts[2]),
            0);
        QCOMPARE(CMessageBox::lastShown().buttons, buttons);
    }

    // The real modal path: a click on the panel's button ends the loop with its index.
    void modalQuestionAnswers_data()
    {
        QTest::addColumn<int>("click");
        QTest::newRow("Yes") << 0;
        QTest::newRow("No") << 1;
    }
    void modalQuestionAnswers()
    {
        QFETCH(int, click);
        QString text;
        whenBoxShown([click, &text](CMessageBox *box) {
            text = box->textLabel()->text();
            QTest::mouseClick(box->customButtons().at(click), Qt::LeftButton);
        });
        const int r = CMessageBox::question(nullptr, QString(), QStringLiteral("Are you sure?"),
                                            QStringLiteral("Yes"), QStringLiteral("No"));
        QCOMPARE(r, click);
        QCOMPARE(text, QStringLiteral("Are you sure?"));
    }

    void escapeIsNeverTheFirstButton()
    {
        whenBoxShown([](CMessageBox *box) { QTest::keyClick(box->panel(), Qt::Key_Escape); });
        QCOMPARE(CMessageBox::question(nullptr, QString(), QStringLiteral("Quit?"), QStringLiteral("Yes"),
                                       QStringLiteral("No")),
                 -1);
        CMessageBox::setNextAnswer(-1);
        QCOMPARE(CMessageBox::question(nullptr, QString(), QStringLiteral("Quit?"), QStringLiteral("Yes"),
                                       QStringLiteral("No")),
                 -1);
    }

    void enterClicksTheFocusedButton()
    {
        whenBoxShown([](CMessageBox *box) { QTest::keyClick(box->panel(), Qt::Key_Return); });
        QCOMPARE(CMessageBox::information(nullptr, QString(), QStringLiteral("Done")), 0);
    }

    void labelsAndShape()
    {
        CMessageBox empty(CMessageBox::NoIcon, QString(), QString());
        QVERIFY(empty.textLabel()->text().isEmpty());
        QVERIFY(empty.windowTitle().isEmpty());
        QVERIFY(empty.iconLabel()->pixmap().isNull());
        QCOMPARE(empty.textLabel()->objectName(), QStringLiteral("qt_msgbox_label"));
        QCOMPARE(empty.iconLabel()->objectName(), QStringLiteral("msgboxex_icon_label"));

        CMessageBox plain(CMessageBox::Warning, QStringLiteral("warning"), QStringLiteral("plain text"));
        QVERIFY(!plain.textLabel()->wordWrap());
        CMessageBox rich(CMessageBox::Warning, QStringLiteral("warning"), QStringLiteral("<b>rich</b> text"));
        QVERIFY(rich.textLabel()->wordWrap());

        QWidget parent;
        parent.setGeometry(100, 80, 600, 400);
        CMessageBox box(CMessageBox::Information, QStringLiteral("Tips"), QStringLiteral("Saved."),
                        QDialogButtonBox::NoButton, &parent);
        box.addCustomButton(QStringLiteral("OK"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(box.panel()));
        QVERIFY(box.panel()->width() >= 250);
        QCOMPARE(box.size(), box.panel()->size());
        QVERIFY(qAbs(box.geometry().center().x() - parent.geometry().center().x()) <= 1);
        QVERIFY(qAbs(box.geometry().center().y() - parent.geometry().center().y()) <= 1);
        QVERIFY(qAbs(box.windowOpacity() - 0.5) < 0.01);
        const QRegion mask = box.panel()->mask();
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(!mask.contains(QPoint(box.panel()->width() - 1, box.panel()->height() - 1)));
        QVERIFY(mask.contains(box.panel()->rect().center()));
        QVERIFY(mask.contains(QPoint(box.panel()->width() / 2, 0)));
        box.customButtons().at(0)->click();
        QCOMPARE(box.result(), 0);
        QVERIFY(!box.panel()->isVisible());
    }

    void standardButtonsReturnTheirValue()
    {
        CMessageBox box(CMessageBox::Question, QString(), QStringLiteral("?"),
                        QDialogButtonBox::Yes | QDialogButtonBox::No);
        QAbstractButton *no = nullptr;
        for (QAbstractButton *b : box.findChildren<QAbstractButton *>())
            if (b->text().contains(QStringLiteral("No")))
                no = b;
        QVERIFY(no);
        box._q_buttonClicked(no);
        QCOMPARE(box.result(), int(QDialogButtonBox::No));
    }
};

QTEST_MAIN(MessageBoxTest)
#include "tst_messagebox.moc"
