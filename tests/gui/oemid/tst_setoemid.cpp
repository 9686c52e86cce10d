// The OEMID tab's form, its option boxes, the search click without an option and the upload without
// records (no devices).

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "oemid/setoemid.h"
#include "tabtest.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

class SetOemidTest : public TabTest<SetOEMID>
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formWidgets_data();
    void formWidgets();
    void formLayout();
    void construction();
    void comboBoxes();
    void carefulWarningOnce_data();
    void carefulWarningOnce();
    void uncheckingSetOemidForbidsRepeats();
    void searchWithoutAnOption();
    void uploadWithNothingToSend();
    void translatedForm();

private:
    void writeIni(const QByteArray &text);
};

void SetOemidTest::writeIni(const QByteArray &text)
{
    QVERIFY(useConfigIni(m_tmp->filePath(QStringLiteral("Config.ini")), text));
}

void SetOemidTest::init()
{
    QVERIFY(startCase([](const QString &dir) { return std::make_unique<SetOEMID>(nullptr, dir); },
                      "[OEMID]\r\nAssigned=ACME01\r\n"));
}

void SetOemidTest::cleanup()
{
    endCase();
}

void SetOemidTest::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::newRow("tableView") << "tableView"
                               << "QTableView"
                               << "";
    QTest::newRow("label_2") << "label_2"
                             << "QLabel"
                             << "OEMID:";
    QTest::newRow("label") << "label"
                           << "QLabel"
                           << "ACME01";
    QTest::newRow("setoemidbtn") << "setoemidbtn"
                                 << "QPushButton"
                                 << "SearchAndSet";
    QTest::newRow("progressBar") << "progressBar"
                                 << "QProgressBar"
                                 << "";
    QTest::newRow("setoemid") << "setoemid"
                              << "QCheckBox"
                              << "SetOEMID";
    QTest::newRow("checkBox") << "checkBox"
                              << "QCheckBox"
                              << "allowrepeat";
    QTest::newRow("synchronizationTime") << "synchronizationTime"
                                         << "QCheckBox"
                                         << "synchronizationTime";
    QTest::newRow("setconfig") << "setconfig"
                               << "QCheckBox"
                               << "265X->264      ";
    QTest::newRow("zoneCheck") << "zoneCheck"
                               << "QCheckBox"
                               << "timeZone";
    QTest::newRow("timeZone") << "timeZone"
                              << "QComboBox"
                              << "";
    QTest::newRow("language_check") << "language_check"
                                    << "QCheckBox"
                                    << "setlanguage";
    QTest::newRow("language") << "language"
                              << "QComboBox"
                              << "";
    QTest::newRow("searchbtn") << "searchbtn"
                               << "QPushButton"
                               << "SearchAndSet";
    QTest::newRow("updatelog") << "updatelog"
                               << "QPushButton"
                               << "uploadsetedlog";
}

void SetOemidTest::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QWidget *w = m_tab->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        QCOMPARE(b->text(), text);
    if (auto *l = qobject_cast<QLabel *>(w))
        QCOMPARE(l->text(), text);
}

void SetOemidTest::formLayout()
{
    QCOMPARE(m_tab->size(), QSize(749, 342));
    m_tab->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_tab.get()));
    const auto geo = [this](const char *name) { return child<QWidget>(name)->geometry(); };
    // The table on top; below it the OEMID row, then the options, then the upload button alone.
    QVERIFY(geo("tableView").bottom() < geo("label_2").top());
    QVERIFY(geo("label_2").right() < geo("label").left());
    QVERIFY(geo("label").right() < geo("progressBar").left());
    QVERIFY(geo("progressBar").bottom() < geo("setoemid").top());
    QCOMPARE(geo("setoemid").top(), geo("checkBox").top());
    QVERIFY(geo("setoemid").right() < geo("checkBox").left());
    QCOMPARE(geo("synchronizationTime").left(), geo("setoemid").left());
    QVERIFY(geo("setoemid").bottom() < geo("synchronizationTime").top());
    QCOMPARE(geo("setconfig").left(), geo("checkBox").left());
    QVERIFY(geo("checkBox").right() < geo("zoneCheck").left());
    QVERIFY(geo("zoneCheck").right() < geo("timeZone").left());
    QVERIFY(geo("zoneCheck").bottom() < geo("language_check").top());
    QVERIFY(geo("language_check").right() < geo("language").left());
    QVERIFY(geo("timeZone").right() < geo("searchbtn").left());
    QVERIFY(geo("language").bottom() < geo("updatelog").top());
    QVERIFY(geo("searchbtn").bottom() < geo("updatelog").top());

    auto *grid = m_tab->findChild<QGridLayout *>();
    QVERIFY(grid);
    const struct {
        const char *name;
        int row, column;
    } cells[] = {{"setoemid", 0, 0}, {"checkBox", 0, 1}, {"synchronizationTime", 1, 0}, {"setconfig", 1, 1}};
    for (const auto &c : cells) {
        const int i = grid->indexOf(child<QWidget>(c.name));
        QVERIFY2(i >= 0, c.name);
        int row, column, rs, cs;
        grid->getItemPosition(i, &row, &column, &rs, &cs);
        QCOMPARE(row, c.row);
        QCOMPARE(column, c.column);
    }
}

void SetOemidTest::construction()
{
    QVERIFY(child<QPushButton>("setoemidbtn")->isHidden());
    QVERIFY(!child<QPushButton>("setoemidbtn")->isEnabled());
    QVERIFY(!child<QCheckBox>("checkBox")->isEnabled());
    QVERIFY(!child<QCheckBox>("setconfig")->isHidden());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
    QCOMPARE(m_tab->assignedOemid(), QStringLiteral("ACME01"));
    // The factory-record tree is made in the data directory.
    QVERIFY(m_tab->uploadTreeUsable());
    QVERIFY(QDir(m_tmp->filePath(QStringLiteral("oemidupload/unupload"))).exists());
    QVERIFY(QDir(m_tmp->filePath(QStringLiteral("oemidupload/upload"))).exists());

    // The table: eight columns with the tab's headers and widths, no tick boxes.
    auto *view = child<QTableView>("tableView");
    const QAbstractItemModel *model = m_tab->tabController()->table()->model();
    QCOMPARE(view->model(), model);
    QCOMPARE(model->columnCount(), 8);
    const char *headers[] = {"NO.",         "IP Address", "Destribe",  "Status",
                             "Mac Address", "Version",    "BuildDate", "CloudID"};
    const int widths[] = {50, 100, 150, 150, 140, 280, 120, 120};
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c]));
        QCOMPARE(view->columnWidth(c), widths[c]);
    }
    QVERIFY(view->verticalHeader()->isHidden());
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);

    // No OEMID assigned: the label shows the unassigned value, and a tree that cannot be made is told.
    QFile blocker(m_tmp->filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    writeIni("");
    SetOEMID bare(nullptr, blocker.fileName());
    QCOMPARE(bare.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("000"));
    QVERIFY(!bare.uploadTreeUsable());
}

void SetOemidTest::comboBoxes()
{
    auto *zone = child<QComboBox>("timeZone");
    QCOMPARE(zone->count(), 33);
    QCOMPARE(zone->currentText(), QStringLiteral("[UTC+08:00]"));
    QCOMPARE(zone->currentData().toInt(), -480);
    QCOMPARE(zone->itemText(0), QStringLiteral("[UTC-12:00]"));
    QCOMPARE(zone->itemData(0).toInt(), 720);
    const int i = zone->findText(QStringLiteral("[UTC+05:45]"));
    QVERIFY(i > 0);
    QCOMPARE(zone->itemData(i).toInt(), -345);
    QCOMPARE(zone->itemText(32), QStringLiteral("[UTC+13:00]"));
    QCOMPARE(zone->itemData(32).toInt(), -780);

    auto *language = child<QComboBox>("language");
    QCOMPARE(language->count(), 28);
    QCOMPARE(language->currentIndex(), 0);
    QCOMPARE(language->currentData().toString(), QStringLiteral("SimpChinese"));
    QCOMPARE(language->itemData(27).toString(), QStringLiteral("Dutch"));
}

void SetOemidTest::carefulWarningOnce_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::newRow("setoemid then setconfig") << QStringList{"setoemid", "setconfig"};
    QTest::newRow("setconfig then setoemid") << QStringList{"setconfig", "setoemid"};
    QTest::newRow("setoemid three times") << QStringList{"setoemid", "setoemid", "setoemid"};
}

void SetOemidTest::carefulWarningOnce()
{
    QFETCH(QStringList, clicks);
    m_tab->show();
    for (const QString &name : clicks)
        QTest::mouseClick(m_tab->findChild<QCheckBox *>(name), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("warning"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please be careful"));
}

void SetOemidTest::uncheckingSetOemidForbidsRepeats()
{
    m_tab->show();
    auto *setoemid = child<QCheckBox>("setoemid");
    auto *repeat = child<QCheckBox>("checkBox");
    QTest::mouseClick(setoemid, Qt::LeftButton);
    QVERIFY(setoemid->isChecked());
    QVERIFY(repeat->isEnabled());
    QTest::mouseClick(repeat, Qt::LeftButton);
    QVERIFY(repeat->isChecked());
    QTest::mouseClick(setoemid, Qt::LeftButton);
    QVERIFY(!setoemid->isChecked());
    QVERIFY(!repeat->isEnabled());
    QVERIFY(!repeat->isChecked());
    // Ticked again: repeats may be allowed again, but are not until the box is ticked.
    QTest::mouseClick(setoemid, Qt::LeftButton);
    QVERIFY(repeat->isEnabled());
    QVERIFY(!repeat->isChecked());
    QTest::mouseClick(repeat, Qt::LeftButton);
    QVERIFY(repeat->isChecked());
}

void SetOemidTest::searchWithoutAnOption()
{
    m_tab->show();
    QTest::mouseClick(child<QPushButton>("searchbtn"), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("warning"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please choose way"));
    QVERIFY(!m_tab->tabController()->searching());
    QVERIFY(child<QPushButton>("searchbtn")->isEnabled());
}

void SetOemidTest::uploadWithNothingToSend()
{
    m_tab->show();
    QTest::mouseClick(child<QPushButton>("updatelog"), Qt::LeftButton);
    QTRY_COMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("About"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("the dir is empty"));
    QTRY_VERIFY(child<QPushButton>("updatelog")->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
}

void SetOemidTest::translatedForm()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(TALLOW_APP_DIR "/language/tallow_zh.qm")));
    QCoreApplication::installTranslator(&translator);
    SetOEMID tab(nullptr, m_tmp->path());
    QCoreApplication::removeTranslator(&translator);
    const char *names[] = {"setoemid",       "checkBox",  "synchronizationTime", "setconfig",  "zoneCheck",
                           "language_check", "searchbtn", "updatelog",           "setoemidbtn"};
    for (const char *name : names) {
        auto *button = tab.findChild<QAbstractButton *>(QLatin1String(name));
        QVERIFY(button);
        QVERIFY2(button->text() != m_tab->findChild<QAbstractButton *>(QLatin1String(name))->text(), name);
    }
    QVERIFY(tab.findChild<QComboBox *>(QStringLiteral("language"))->itemText(0) !=
            QStringLiteral("SimpChinese"));
    QCOMPARE(tab.findChild<QComboBox *>(QStringLiteral("language"))->itemData(0).toString(),
             QStringLiteral("SimpChinese"));
}

QTEST_MAIN(SetOemidTest)
#include "tst_setoemid.moc"
