// The firmware tab's form, its file choosers and the checks of the Upgrade click (no devices).

#include "tabtest.h"
#include "testzip.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/fileopendialog.h"
#include "oemid/recorduploadrun.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgradewidget.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <cstring>
#include <memory>

class UpgradeWidgetTest : public TabTest<UpgradeWidget>
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formLayout();
    void formTexts_data();
    void formTexts();
    void browseButtons();
    void upgradeClickChecks_data();
    void upgradeClickChecks();
    void clickDuringRunIsRefused();
    void uploadWithNothingToSend();
    void translatedForm();
};

void UpgradeWidgetTest::init()
{
    FileOpenDialog::resetTestHooks();
    // No Config.ini at all: the IP change is off and the start index 20.
    QVERIFY(startCase([](const QString &dir) {
        auto tab = std::make_unique<UpgradeWidget>();
        tab->setDataDirectory(dir);
        return tab;
    }));
}

void UpgradeWidgetTest::cleanup()
{
    endCase();
    FileOpenDialog::resetTestHooks();
}

void UpgradeWidgetTest::formLayout()
{
    QCOMPARE(m_tab->size(), QSize(745, 387));
    QCOMPARE(m_tab->tabController()->startIndex(), 20);
    QVERIFY(!m_tab->tabController()->modifyIpOn());

    auto *top = qobject_cast<QVBoxLayout *>(m_tab->layout());
    QVERIFY(top);
    QCOMPARE(top->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(top->count(), 5);
    QCOMPARE(top->itemAt(0)->widget(), child<QTableView>("tableView"));
    const char *rows[] = {"horizontalLayout", "horizontalLayout_3", "horizontalLayout_4",
                          "horizontalLayout_2"};
    const QStringList members[] = {
        {"selectBtn", "", "btnReverse", "", "SearchButton", "", "addBtn"},
        {"labelOEMID", "setOEMID", "checkBox", "progressBar", "BtnUpload", "", "label_2", "lineEditPassword"},
        {"label_3", "lineEditCfg", "browseCfgBtn"},
        {"label", "lineEditFileName", "browseBtn", "wavesCheck", "upgradeBtn"}};
    for (int r = 0; r < 4; ++r) {
        QLayout *row = top->itemAt(r + 1)->layout();
        QVERIFY(row);
        QCOMPARE(row->objectName(), QLatin1String(rows[r]));
        QCOMPARE(row->count(), int(members[r].size()));
        for (int i = 0; i < row->count(); ++i) {
            QLayoutItem *item = row->itemAt(i);
            if (members[r][i].isEmpty()) {
                QSpacerItem *spacer = item->spacerItem();
                QVERIFY2(spacer, rows[r]);
                QCOMPARE(spacer->sizeHint(), QSize(40, 20));
                QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            } else {
                QVERIFY(item->widget());
                QCOMPARE(item->widget()->objectName(), members[r][i]);
            }
        }
    }
    QCOMPARE(top->itemAt(3)->layout()->contentsMargins().left(), 0);
    QCOMPARE(top->itemAt(3)->layout()->contentsMargins().top(), 0);

    auto *search = child<QPushButton>("SearchButton");
    QCOMPARE(search->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(search->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    auto *password = child<QLineEdit>("lineEditPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(password->minimumWidth(), 100);
    QCOMPARE(password->maximumWidth(), 120);
    QCOMPARE(child<QLabel>("label_3")->minimumWidth(), 60);
    QCOMPARE(child<QLabel>("label")->minimumWidth(), 60);
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
    QVERIFY(!child<QCheckBox>("setOEMID")->isChecked());
    QCOMPARE(m_tab->tabController()->table()->model()->columnCount(), 8);
}

void UpgradeWidgetTest::formTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const char *rows[][2] = {
        {"selectBtn", "Select"},    {"btnReverse", "Reverse"}, {"SearchButton", "Search"},
        {"addBtn", "Add"},          {"setOEMID", "setOEMID"},  {"checkBox", "can repeat"},
        {"BtnUpload", "upload"},    {"label_2", "Password"},   {"label_3", "ConfigFile"},
        {"browseCfgBtn", "Browse"}, {"label", "FileName"},     {"browseBtn", "Browse"},
        {"upgradeBtn", "Upgrade"},  {"labelOEMID", "000"}, // the assigned OEMID, unassigned here
        {"wavesCheck", "Waves"}};
    for (const auto &r : rows)
        QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
}

void UpgradeWidgetTest::formTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QWidget *w = m_tab->findChild<QWidget *>(name);
    QVERIFY(w);
    QString shown;
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(w))
        shown = label->text();
    // The select button's caption belongs to the select-all toggle once the table is bound.
    if (name == QLatin1String("selectBtn"))
        QVERIFY(shown == text || shown == QLatin1String("SelectAll"));
    else
        QCOMPARE(shown, text);
    QCOMPARE(m_tab->windowTitle(), QStringLiteral("Dialog"));
}

void UpgradeWidgetTest::browseButtons()
{
    auto *file = child<QLineEdit>("lineEditFileName");
    auto *cfg = child<QLineEdit>("lineEditCfg");
    FileOpenDialog::setNextAnswer(QStringLiteral("/data/fw.bin"));
    QTest::mouseClick(child<QPushButton>("browseBtn"), Qt::LeftButton);
    QCOMPARE(file->text(), QStringLiteral("/data/fw.bin"));
    QCOMPARE(FileOpenDialog::lastCall().caption, QStringLiteral("Choose a file to open"));
    QCOMPARE(FileOpenDialog::lastCall().dir, QStringLiteral("/home"));
    QCOMPARE(FileOpenDialog::lastCall().filter, QStringLiteral("Upgrade File(*.bin);;Files(*.*)"));
    FileOpenDialog::setNextAnswer(QString()); // cancelled: the text stays
    QTest::mouseClick(child<QPushButton>("browseBtn"), Qt::LeftButton);
    QCOMPARE(file->text(), QStringLiteral("/data/fw.bin"));

    FileOpenDialog::setNextAnswer(QStringLiteral("/data/dev.cfg"));
    QTest::mouseClick(child<QPushButton>("browseCfgBtn"), Qt::LeftButton);
    QCOMPARE(cfg->text(), QStringLiteral("/data/dev.cfg"));
    QCOMPARE(FileOpenDialog::lastCall().filter, QStringLiteral("Config File(*.cfg)"));
    QCOMPARE(file->text(), QStringLiteral("/data/fw.bin"));
}

void UpgradeWidgetTest::upgradeClickChecks_data()
{
    // "", "garbage", "nodesc", "bomb", "good", or a package whose InstallDesc cannot be read
    // ("bzip2 desc", "encrypted desc", "damaged desc") next to a stale Temp/InstallDesc.
    QTest::addColumn<QString>("package");
    QTest::addColumn<bool>("setOemid");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("scratchLeft");
    QTest::newRow("no package") << "" << false << "Please Select a Program" << false;
    // Nothing is unpacked: the InstallDesc is read straight from the archive.
    QTest::newRow("not a zip") << "garbage" << false << "UnZip Program Fail" << false;
    QTest::newRow("no InstallDesc") << "nodesc" << false << "Open InstallDesc Fail" << false;
    // The stale description left by an interrupted inspection must not stand in for the package's own.
    QTest::newRow("bzip2 InstallDesc, stale Temp")
        << "bzip2 desc" << false << "Open InstallDesc Fail" << true;
    QTest::newRow("encrypted InstallDesc, stale Temp")
        << "encrypted desc" << false << "Open InstallDesc Fail" << true;
    QTest::newRow("damaged InstallDesc, stale Temp")
        << "damaged desc" << false << "Open InstallDesc Fail" << true;
    QTest::newRow("zip bomb") << "bomb" << false
                              << "UnZip Program Fail: the package unpacks to more than 512 MB or 4096 files"
                              << false;
    QTest::newRow("no device ticked") << "good" << false << "Please Select a Device" << false;
    QTest::newRow("OEMID unassigned") << "good" << true << "" << false;
}

void UpgradeWidgetTest::upgradeClickChecks()
{
    QFETCH(QString, package);
    QFETCH(bool, setOemid);
    QFETCH(QString, message);
    QFETCH(bool, scratchLeft);
    QString path;
    if (package == QLatin1String("garbage")) {
        path = tmpPath(QStringLiteral("garbage.bin"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("no zip here");
    } else if (package == QLatin1String("nodesc")) {
        path = tmpPath(QStringLiteral("nodesc.bin"));
        QVERIFY(testzip::write(path.toStdString(), {{"u-boot.bin.img", "img"}}));
    } else if (package == QLatin1String("bomb")) {
        path = tmpPath(QStringLiteral("bomb.bin"));
        QVERIFY(testzip::writeBomb(path.toStdString(), "HW", 513ull << 20));
    } else if (package == QLatin1String("good")) {
        path = tmpPath(QStringLiteral("good.bin"));
        QVERIFY(testzip::writePackage(path.toStdString(), "HW"));
    } else if (package.endsWith(QLatin1String(" desc"))) {
        path = tmpPath(QStringLiteral("new.bin"));
        QVERIFY(testzip::writePackage(path.toStdString(), "NEW-HW"));
        testzip::Patch patch;
        if (package.startsWith(QLatin1String("bzip2")))
            patch.method = 12;
        else if (package.startsWith(QLatin1String("encrypted")))
            patch.flagsOr = 1;
        else
            patch.flipData = true;
        QVERIFY(testzip::patchMember(path.toStdString(), "InstallDesc", patch));
        QVERIFY(QDir().mkpath(tmpPath(QStringLiteral("Temp"))));
        QFile stale(tmpPath(QStringLiteral("Temp/InstallDesc")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("{ \"Hardware\" : \"OLD-HW\" }");
    }
    child<QLineEdit>("lineEditFileName")->setText(path);
    child<QCheckBox>("setOEMID")->setChecked(setOemid);
    QTest::mouseClick(child<QPushButton>("upgradeBtn"), Qt::LeftButton);
    QTRY_VERIFY(!m_tab->inspecting());

    QCOMPARE(CMessageBox::shownCount(), 1);
    const CMessageBox::Record box = CMessageBox::lastShown();
    QCOMPARE(box.title, QStringLiteral("Prompt"));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    if (!message.isEmpty())
        QCOMPARE(box.text, message);
    else
        QVERIFY(!box.text.isEmpty()); // the unassigned OEMID "000" is refused with a reason
    const QString scratch = tmpPath(QStringLiteral("Temp"));
    QCOMPARE(QFileInfo::exists(scratch), scratchLeft);
    QVERIFY(!m_tab->upgradeRun()->isActive());
}

void UpgradeWidgetTest::clickDuringRunIsRefused()
{
    // Two rows whose devices do not answer: nothing listens on these loopback ports.
    DeviceTable *table = m_tab->tabController()->table();
    for (int i = 0; i < 2; ++i) {
        RowFill fill;
        fill.cells[0] = i + 1;
        std::memset(&fill.record, 0, sizeof fill.record);
        std::strcpy(fill.record.szIpaddress, "127.0.75.1");
        std::strcpy(fill.record.szUserName, "admin");
        fill.record.nPort = 9;
        table->appendRow(fill);
        table->setChecked(i, true);
    }
    const QString path = tmpPath(QStringLiteral("good.bin"));
    QVERIFY(testzip::writePackage(path.toStdString(), "HW"));
    child<QLineEdit>("lineEditFileName")->setText(path);
    QTest::mouseClick(child<QPushButton>("upgradeBtn"), Qt::LeftButton);
    QTRY_VERIFY(!m_tab->inspecting());
    QCOMPARE(CMessageBox::shownCount(), 0);
    QVERIFY(m_tab->upgradeRun()->isActive());

    // A second Upgrade and a new search would free or replace rows the run still writes to.
    QTest::mouseClick(child<QPushButton>("upgradeBtn"), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QVERIFY(CMessageBox::lastShown().text.startsWith(QStringLiteral("An upgrade is still running")));
    QTest::mouseClick(child<QPushButton>("SearchButton"), Qt::LeftButton);
    QCOMPARE(CMessageBox::shownCount(), 2);
    QCOMPARE(table->rowCount(), 2);

    QVERIFY(QTest::qWaitFor([&] { return !m_tab->upgradeRun()->isActive(); }, 20000));
    table->flushPending();
    for (int row = 0; row < 2; ++row) {
        const QString status =
            table->model()->index(row, tableVariant(TabKind::Firmware).statusColumn).data().toString();
        QVERIFY2(!status.isEmpty() && status != QLatin1String("Login Success"), qPrintable(status));
    }
}

void UpgradeWidgetTest::uploadWithNothingToSend()
{
    QDir().mkpath(tmpPath(QStringLiteral("oemidupload/unupload")));
    auto *upload = child<QPushButton>("BtnUpload");
    QTest::mouseClick(upload, Qt::LeftButton);
    // The upload runs off the GUI thread; its box arrives through the event loop.
    QTRY_COMPARE(CMessageBox::shownCount(), 1);
    QTRY_VERIFY(!m_tab->uploadRun()->isActive());
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("About"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("the dir is empty"));
    QTRY_VERIFY(upload->isEnabled());
    QTRY_COMPARE(child<QProgressBar>("progressBar")->value(), 0);
}

void UpgradeWidgetTest::translatedForm()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(TALLOW_APP_DIR "/language/tallow_zh.qm")));
    QCoreApplication::installTranslator(&translator);
    UpgradeWidget tab;
    QCoreApplication::removeTranslator(&translator);
    const char *names[] = {"setOEMID",  "checkBox",   "BtnUpload", "browseCfgBtn",
                           "browseBtn", "wavesCheck", "upgradeBtn"};
    for (const char *name : names) {
        auto *button = tab.findChild<QAbstractButton *>(QLatin1String(name));
        QVERIFY(button);
        QVERIFY2(button->text() != m_tab->findChild<QAbstractButton *>(QLatin1String(name))->text(), name);
    }
    for (const char *name : {"label_2", "label_3", "label"})
        QVERIFY(tab.findChild<QLabel *>(QLatin1String(name))->text() !=
                m_tab->findChild<QLabel *>(QLatin1String(name))->text());
}

QTEST_MAIN(UpgradeWidgetTest)
#include "tst_upgradewidget.moc"
