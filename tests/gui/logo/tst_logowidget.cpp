// The logo tab's form, start-up, Config.ini keys, picture choosers and checks, and the clicks that
// stop before any device is talked to.

#include "logotestutil.h"
#include "tabtest.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "app/inifile.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/fileopendialog.h"
#include "logo/applinkfile.h"
#include "logo/upgradelogowidget.h"
#include "oemid/recorduploadrun.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <cstring>
#include <memory>

using namespace logotest;

class LogoWidgetTest : public TabTest<UpgradeLogoWidget>
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formLayout();
    void formTexts_data();
    void formTexts();
    void redNotes();
    void startUp();
    void configKeysReadAndStoredWhole();
    void configKeysSurviveARestart();
    void pictureChoosers_data();
    void pictureChoosers();
    void checkBootLogo_data();
    void checkBootLogo();
    void modifyWithoutBootLogoStopsAtTheCheck();
    void runWithoutTickedDevice_data();
    void runWithoutTickedDevice();
    void oemidCheckBoxes();
    void batchMessages_data();
    void batchMessages();
    void batchWithoutTickedDevice();
    void batchLeavesTheUploadAlone();
    void uploadWithNothingToSend();
    void translatedForm();

private:
    /// One NVR in the table, as a search would list it.
    DeviceTable *listOneNvr();
    void writeIni(const QByteArray &text);
    QByteArray readIni() const { return readFile(tmpPath(QStringLiteral("Config.ini"))); }
};

void LogoWidgetTest::init()
{
    FileOpenDialog::resetTestHooks();
    QVERIFY(startCase([](const QString &dir) {
        auto tab = std::make_unique<UpgradeLogoWidget>();
        tab->setDataDirectory(dir);
        return tab;
    }));
}

void LogoWidgetTest::cleanup()
{
    endCase();
    FileOpenDialog::resetTestHooks();
}

void LogoWidgetTest::writeIni(const QByteArray &text)
{
    QVERIFY(writeFile(tmpPath(QStringLiteral("Config.ini")), text));
}

void LogoWidgetTest::formLayout()
{
    QCOMPARE(m_tab->size(), QSize(1038, 671));
    const char *widgets[] = {
        "tableView",       "SearchButton",     "selectBtn",        "btnReverse",     "addBtn",
        "label_2",         "lineEditPassword", "groupBox",         "lineEditBoot",   "btnCheckBoot",
        "btnSelectBoot",   "groupBox_2",       "lineEditLoss",     "btnSelectLoss",  "groupBox_3",
        "lineEditClose",   "btnSelectClose",   "groupBox_5",       "lineEditBlind",  "btnSelectBlind",
        "groupBoxLink",    "labelIOS",         "labelIosLink",     "lineEditIOS",    "labelAndroid",
        "lineEditAndroid", "groupBox_4",       "checkBoxSetOEMID", "checkBoxRepeat", "labelOEMID",
        "progressBar",     "BtnUpload",        "btnGeneral",       "btnModify",      "wavesCheck"};
    for (const char *name : widgets)
        QVERIFY2(m_tab->findChild<QWidget *>(QLatin1String(name)), name);
    QCOMPARE(child<QLineEdit>("lineEditPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(child<QPushButton>("btnModify")->property("skinName").toString(), QStringLiteral("BtnModify"));
    // The boot group: a red 1-pixel border and a red title, in its own style sheet.
    const QString sheet = child<QGroupBox>("groupBox")->styleSheet();
    QVERIFY(sheet.contains(QLatin1String("QGroupBox#groupBox { border: 1px solid red;")));
    QVERIFY(sheet.contains(QLatin1String("QGroupBox#groupBox::title { color: red;")));
    // The other groups keep the skin's look.
    QVERIFY(child<QGroupBox>("groupBox_2")->styleSheet().isEmpty());
    // The table: the logo tab's columns.
    auto *model = m_tab->tabController()->table()->model();
    QStringList headers;
    for (int c = 0; c < 8; ++c)
        headers << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"NO.", "IP Address", "DevType", "Status", "Gateway", "CloudID", "Version",
                                   "BuildDate"}));
}

void LogoWidgetTest::formTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const char *rows[][2] = {
        {"SearchButton", "Search"},
        {"selectBtn", "Select"},
        {"btnReverse", "Reverse"},
        {"addBtn", "Add"},
        {"label_2", "Device Password"},
        {"groupBox", "Boot logo"},
        {"btnCheckBoot", "Check Logo"},
        {"btnSelectBoot", "Select Logo"},
        {"labelBootNote", "Picture requirements(JPG)"},
        {"labelBootNoteA", "a.Resolution:800*600"},
        {"labelBootNoteB", "b.File is no larger than 120KB without gradient JPG file"},
        {"labelBootNoteC", "c.You can check the picture to confirm whether it meets the requirements"},
        {"labelBootNoteD", "d.You must select a boot logo before performing modification operations"},
        {"labelSteps", "Steps:1.Search And Select NVR,Input Passward 2.Select Logo You Need 3.Input AppLink "
                       "4.Click Modify"},
        {"groupBox_2", "Channel background"},
        {"btnSelectLoss", "Select Logo"},
        {"labelLossNote", "Picture requirements(GIF)"},
        {"labelLossNoteA", "a.Recommended resolution(200*100)"},
        {"labelLossNoteB", "b.Background color RGB (0,0,0)"},
        {"groupBox_3", "Shutdown logo"},
        {"btnSelectClose", "Select Logo"},
        {"labelCloseNote", "Picture requirements(JPG)"},
        {"labelCloseNoteA", "a.Recommended resolution(800*600)"},
        {"labelCloseNoteB", "b.No gradient"},
        {"labelCloseNoteC", "c.Use boot logo when not exist"},
        {"groupBox_5", "Blind logo"},
        {"btnSelectBlind", "Select Logo"},
        {"labelBlindNote", "Picture requirements(GIF)"},
        {"labelBlindNoteA", "a.Recommended resolution(200*100)"},
        {"labelBlindNoteB", "b.Background color RGB (0,0,0)"},
        {"groupBoxLink", "AppDownloadLink"},
        {"labelIOS", "IOS App Link"},
        {"labelAndroid", "App Link"},
        {"labelLinkNoteA", "a.If you want to modify, please enter the app link"},
        {"labelLinkNoteB", "b.Only support device version after 20200113"},
        {"groupBox_4", "OEMID"},
        {"checkBoxSetOEMID", "setOEMID"},
        {"checkBoxRepeat", "AllowRepeat"},
        {"BtnUpload", "UploadLog"},
        {"btnGeneral", "GetLogoPrograms"},
        {"btnModify", "Modify"},
        {"wavesCheck", "Waves"},
    };
    for (const auto &r : rows)
        QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
    QTest::newRow("labelIosLink") << QStringLiteral("labelIosLink") << appStoreLinkPrefix();
}

void LogoWidgetTest::formTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QWidget *w = m_tab->findChild<QWidget *>(name);
    QVERIFY(w);
    QString shown;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        shown = b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        shown = l->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        shown = g->title();
    QCOMPARE(shown, text);
}

void LogoWidgetTest::redNotes()
{
    const char *red[] = {"labelBootNoteD", "labelCloseNoteC", "labelLinkNoteB"};
    const char *plain[] = {"labelBootNote",  "labelBootNoteA",  "labelBootNoteC", "labelCloseNoteA",
                           "labelLossNoteA", "labelBlindNoteB", "labelLinkNoteA"};
    for (const char *name : red)
        QVERIFY2(child<QLabel>(name)->styleSheet().contains(QLatin1String("color: red")), name);
    for (const char *name : plain)
        QVERIFY2(child<QLabel>(name)->styleSheet().isEmpty(), name);
}

void LogoWidgetTest::startUp()
{
    m_tab->show();
    QVERIFY(!child<QLabel>("labelIOS")->isVisible());
    QVERIFY(!child<QLabel>("labelIosLink")->isVisible());
    QVERIFY(!child<QLineEdit>("lineEditIOS")->isVisible());
    QVERIFY(child<QLineEdit>("lineEditAndroid")->isVisible());
    QCOMPARE(child<QLabel>("labelAndroid")->text(), QStringLiteral("App Link"));
    QVERIFY(!child<QGroupBox>("groupBoxLink")->isEnabled());
    QVERIFY(!child<QCheckBox>("checkBoxRepeat")->isEnabled());
    QVERIFY(!child<QProgressBar>("progressBar")->isVisible());
    QCOMPARE(child<QLabel>("labelOEMID")->text(), QStringLiteral("000"));
    QVERIFY(!m_tab->appLinksSupported());
}

void LogoWidgetTest::configKeysReadAndStoredWhole()
{
    m_tab.reset();
    // Longer than any profile buffer: both are read whole and written back whole.
    const QByteArray longLink = QByteArray(200, 'x');
    const QByteArray longPath = "/pics/" + QByteArray(190, 'p') + ".jpg";
    QCOMPARE(longPath.size(), 200);
    writeIni("[AppLink]\r\nIOS=" + longLink +
             "\r\nAndroid=https://play.example/app\r\n"
             "[Logo]\r\nBoot=" +
             longPath +
             "\r\nClose=/pics/close.jpg\r\nLoss=/pics/loss.gif\r\nBlind=\r\n"
             "[OEMID]\r\nSetEn=5\r\nRepeatEn=0\r\nAssigned=ACME01\r\n");
    m_tab = std::make_unique<UpgradeLogoWidget>();
    QCOMPARE(child<QLineEdit>("lineEditIOS")->text(), QString::fromLatin1(longLink));
    QCOMPARE(child<QLineEdit>("lineEditAndroid")->text(), QStringLiteral("https://play.example/app"));
    QCOMPARE(child<QLineEdit>("lineEditBoot")->text(), QString::fromLatin1(longPath));
    QCOMPARE(child<QLineEdit>("lineEditClose")->text(), QStringLiteral("/pics/close.jpg"));
    QCOMPARE(child<QLineEdit>("lineEditLoss")->text(), QStringLiteral("/pics/loss.gif"));
    QCOMPARE(child<QLineEdit>("lineEditBlind")->text(), QString());
    QVERIFY(child<QCheckBox>("checkBoxSetOEMID")->isChecked());
    QVERIFY(!child<QCheckBox>("checkBoxRepeat")->isChecked());
    // Applied at start: the repeat box follows the OEMID box.
    QVERIFY(child<QCheckBox>("checkBoxRepeat")->isEnabled());
    QCOMPARE(child<QLabel>("labelOEMID")->text(), QStringLiteral("ACME01"));

    // Nothing is written while the tab lives without a Modify.
    child<QLineEdit>("lineEditBlind")->setText(QStringLiteral("/pics/blind.gif"));
    const QByteArray before = readIni();
    QCOMPARE(readIni(), before);

    child<QCheckBox>("checkBoxRepeat")->setChecked(true);
    child<QCheckBox>("checkBoxSetOEMID")->setChecked(false);
    m_tab.reset();
    const IniFile ini(tmpPath(QStringLiteral("Config.ini")));
    QCOMPARE(ini.value(QStringLiteral("AppLink/IOS")), QString::fromLatin1(longLink));
    QCOMPARE(ini.value(QStringLiteral("Logo/Boot")), QString::fromLatin1(longPath));
    QCOMPARE(ini.value(QStringLiteral("Logo/Blind")), QStringLiteral("/pics/blind.gif"));
    QCOMPARE(ini.value(QStringLiteral("OEMID/SetEn")), QStringLiteral("0"));
    QCOMPARE(ini.value(QStringLiteral("OEMID/RepeatEn")), QStringLiteral("1"));
    QCOMPARE(ini.value(QStringLiteral("OEMID/Assigned")), QStringLiteral("ACME01"));
}

void LogoWidgetTest::configKeysSurviveARestart()
{
    child<QLineEdit>("lineEditIOS")->setText(QStringLiteral("id123"));
    child<QLineEdit>("lineEditAndroid")->setText(QStringLiteral("market://details?id=x"));
    child<QLineEdit>("lineEditBoot")->setText(QStringLiteral("/a/b.jpg"));
    child<QLineEdit>("lineEditClose")->setText(QStringLiteral("/a/c.jpg"));
    child<QLineEdit>("lineEditLoss")->setText(QStringLiteral("/a/l.gif"));
    child<QLineEdit>("lineEditBlind")->setText(QStringLiteral("/a/d.gif"));
    child<QCheckBox>("checkBoxSetOEMID")->click();
    child<QCheckBox>("checkBoxRepeat")->click();
    m_tab.reset();
    m_tab = std::make_unique<UpgradeLogoWidget>();
    const char *edits[][2] = {{"lineEditIOS", "id123"},     {"lineEditAndroid", "market://details?id=x"},
                              {"lineEditBoot", "/a/b.jpg"}, {"lineEditClose", "/a/c.jpg"},
                              {"lineEditLoss", "/a/l.gif"}, {"lineEditBlind", "/a/d.gif"}};
    for (const auto &e : edits)
        QCOMPARE(child<QLineEdit>(e[0])->text(), QString::fromLatin1(e[1]));
    QVERIFY(child<QCheckBox>("checkBoxSetOEMID")->isChecked());
    QVERIFY(child<QCheckBox>("checkBoxRepeat")->isChecked());
}

void LogoWidgetTest::pictureChoosers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("filter");
    QTest::newRow("boot") << "btnSelectBoot"
                          << "lineEditBoot"
                          << "Logo(*.jpg)";
    QTest::newRow("close") << "btnSelectClose"
                           << "lineEditClose"
                           << "Logo(*.jpg)";
    QTest::newRow("loss") << "btnSelectLoss"
                          << "lineEditLoss"
                          << "Logo(*.gif)";
    QTest::newRow("blind") << "btnSelectBlind"
                           << "lineEditBlind"
                           << "Logo(*.gif)";
}

void LogoWidgetTest::pictureChoosers()
{
    QFETCH(QString, button);
    QFETCH(QString, edit);
    QFETCH(QString, filter);
    auto *line = m_tab->findChild<QLineEdit *>(edit);
    line->setText(QStringLiteral("/old"));
    FileOpenDialog::setNextAnswer(QStringLiteral("/new/pic"));
    m_tab->findChild<QPushButton *>(button)->click();
    QCOMPARE(line->text(), QStringLiteral("/new/pic"));
    const FileOpenDialog::Call call = FileOpenDialog::lastCall();
    QCOMPARE(call.caption, QStringLiteral("Choose a file to open"));
    QCOMPARE(call.dir, QStringLiteral("/home"));
    QCOMPARE(call.filter, filter);
    // A cancelled dialog leaves the field alone.
    FileOpenDialog::setNextAnswer(QString());
    m_tab->findChild<QPushButton *>(button)->click();
    QCOMPARE(line->text(), QStringLiteral("/new/pic"));
}

void LogoWidgetTest::checkBootLogo_data()
{
    QTest::addColumn<QString>("boot");
    QTest::addColumn<QString>("close");
    QTest::addColumn<QString>("loss");
    QTest::addColumn<int>("nType");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::newRow("no boot") << ""
                             << "close.jpg"
                             << "" << 1 << false << "Please select logo first";
    QTest::newRow("interactive ok") << "boot.jpg"
                                    << ""
                                    << "" << 0 << true << "Logo meets requirements";
    QTest::newRow("silent ok") << "boot.jpg"
                               << "close.jpg"
                               << "loss.gif" << 1 << true << "";
    QTest::newRow("too large") << "big.jpg"
                               << ""
                               << "" << 1 << false << "Logo size cannot be greater than 120kb";
    QTest::newRow("too tall")
        << "tall.jpg"
        << ""
        << "" << 0 << false << "Logo cannot be used,please check whether the picture meets the requirements ";
    QTest::newRow("jpeg as gif") << "boot.jpg"
                                 << ""
                                 << "boot.jpg" << 1 << false << "Channel logo is abnormal";
    QTest::newRow("missing close") << "boot.jpg"
                                   << "missing.jpg"
                                   << "" << 1 << false << "Shutdown logo is abnormal";
}

void LogoWidgetTest::checkBootLogo()
{
    QFETCH(QString, boot);
    QFETCH(QString, close);
    QFETCH(QString, loss);
    QFETCH(int, nType);
    QFETCH(bool, result);
    QFETCH(QString, message);
    QVERIFY(writeFile(tmpPath(QStringLiteral("boot.jpg")), makeJpeg(800, 600)));
    QVERIFY(writeFile(tmpPath(QStringLiteral("close.jpg")), makeJpeg(320, 240)));
    QVERIFY(writeFile(tmpPath(QStringLiteral("tall.jpg")), makeJpeg(800, 601)));
    QVERIFY(writeFile(tmpPath(QStringLiteral("big.jpg")), randomBytes(120001, 7)));
    QVERIFY(writeFile(tmpPath(QStringLiteral("loss.gif")),
                      makeGif(200, 100, std::vector<uint8_t>(20000, 1), greyPalette(4))));
    auto path = [this](const QString &name) { return name.isEmpty() ? QString() : tmpPath(name); };
    child<QLineEdit>("lineEditBoot")->setText(path(boot));
    child<QLineEdit>("lineEditClose")->setText(path(close));
    child<QLineEdit>("lineEditLoss")->setText(path(loss));
    QCOMPARE(m_tab->checkBootLogo(nType), result);
    QCOMPARE(CMessageBox::shownCount(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Tips"));
        QCOMPARE(CMessageBox::lastShown().text, message);
        QCOMPARE(CMessageBox::lastShown().buttons, QStringList{QStringLiteral("OK")});
    }
    // The button runs the interactive check.
    CMessageBox::resetTestHooks();
    CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
    child<QPushButton>("btnCheckBoot")->click();
    QTRY_COMPARE(CMessageBox::shownCount(), 1); // the pictures are decoded off the GUI thread
    if (result)
        QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Logo meets requirements"));
    else
        QCOMPARE(CMessageBox::lastShown().text, message);
}

void LogoWidgetTest::modifyWithoutBootLogoStopsAtTheCheck()
{
    child<QLineEdit>("lineEditAndroid")->setText(QStringLiteral("link"));
    child<QLineEdit>("lineEditClose")->setText(QStringLiteral("/some/close.jpg"));
    const QByteArray before = readIni();
    child<QPushButton>("btnModify")->click();
    QTRY_COMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please select logo first"));
    QTRY_VERIFY(!m_tab->running());
    // Nothing else: the links are not stored and no working directory appears.
    QCOMPARE(readIni(), before);
    QVERIFY(!QFileInfo::exists(tmpPath(QStringLiteral("Logo"))));
    QVERIFY(!QFileInfo::exists(tmpPath(QStringLiteral("LogoBin"))));
}

void LogoWidgetTest::runWithoutTickedDevice_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("storesLinks");
    QTest::newRow("Modify") << "btnModify" << true;
    QTest::newRow("GetLogoPrograms") << "btnGeneral" << false;
}

void LogoWidgetTest::runWithoutTickedDevice()
{
    QFETCH(QString, button);
    QFETCH(bool, storesLinks);
    QVERIFY(writeFile(tmpPath(QStringLiteral("boot.jpg")), makeJpeg(800, 600)));
    child<QLineEdit>("lineEditBoot")->setText(tmpPath(QStringLiteral("boot.jpg")));
    child<QLineEdit>("lineEditAndroid")->setText(QStringLiteral("android-link"));
    m_tab->findChild<QPushButton *>(button)->click();
    QTRY_COMPARE(CMessageBox::shownCount(), 1); // after the picture check, off the GUI thread
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Prompt"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please Select a Device"));
    QCOMPARE(CMessageBox::lastShown().buttons, QStringList{QStringLiteral("OK")});
    const IniFile ini(tmpPath(QStringLiteral("Config.ini")));
    QCOMPARE(ini.value(QStringLiteral("AppLink/Android")),
             storesLinks ? QStringLiteral("android-link") : QString());
}

void LogoWidgetTest::oemidCheckBoxes()
{
    auto *setOemid = child<QCheckBox>("checkBoxSetOEMID");
    auto *repeat = child<QCheckBox>("checkBoxRepeat");
    QVERIFY(!setOemid->isChecked());
    QVERIFY(!repeat->isEnabled());
    setOemid->click();
    QVERIFY(repeat->isEnabled());
    QVERIFY(repeat->isCheckable());
    repeat->click();
    QVERIFY(repeat->isChecked());
    setOemid->click();
    QVERIFY(!repeat->isEnabled());
}

void LogoWidgetTest::batchMessages_data()
{
    QTest::addColumn<int>("ret");
    QTest::addColumn<int>("nError");
    QTest::addColumn<int>("nCmd");
    QTest::addColumn<QString>("text");
    QTest::newRow("reset ok") << 1 << 1 << 1 << "Reset Config Successfully";
    QTest::newRow("reset timeout") << -10005 << -10005 << 1 << "Reset Config Successfully";
    QTest::newRow("reset refused") << -10002 << -10002 << 1 << "Reset Config Failed";
    QTest::newRow("reboot ok") << 1 << -10005 << 2 << "Reboot Successfully";
    QTest::newRow("reboot failed") << 0 << -10002 << 2 << "Reboot Failed";
    QTest::newRow("login failed") << -1 << -11301 << 0 << "Password is error";
}

DeviceTable *LogoWidgetTest::listOneNvr()
{
    SDK_CONFIG_NET_COMMON_V2 answer{};
    answer.DeviceType = 4;
    answer.HostIP[0] = 127;
    answer.HostIP[3] = 9;
    std::strcpy(answer.sMac, "00:12:34:00:00:09");
    m_tab->fillDeviceTable(answer);
    return m_tab->tabController()->table();
}

void LogoWidgetTest::batchMessages()
{
    QFETCH(int, ret);
    QFETCH(int, nError);
    QFETCH(int, nCmd);
    QFETCH(QString, text);
    DeviceTable *table = listOneNvr();
    QCOMPARE(table->rowCount(), 1);
    m_tab->onDealBathMsg(ret, nError, 0, nCmd);
    QCOMPARE(table->model()->index(0, 3).data().toString(), text);
}

void LogoWidgetTest::batchWithoutTickedDevice()
{
    m_tab->BatchOpr(2);
    QCOMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Prompt"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("Please Select a Device"));
}

void LogoWidgetTest::batchLeavesTheUploadAlone()
{
    DeviceTable *table = listOneNvr();
    table->setChecked(0, true);
    const QList<RecordUploadRun *> before = m_tab->findChildren<RecordUploadRun *>();
    QCOMPARE(before.size(), 1);
    m_tab->BatchOpr(2); // nothing answers at that address
    QTRY_VERIFY_WITH_TIMEOUT(!table->statusText(0).isEmpty(), 15000);
    // The tab's one upload, which its destructor waits for, is still the only one.
    QCOMPARE(m_tab->findChildren<RecordUploadRun *>(), before);
}

void LogoWidgetTest::uploadWithNothingToSend()
{
    m_tab->show();
    QDir().mkpath(tmpPath(QStringLiteral("oemidupload/unupload")));
    auto *upload = child<QPushButton>("BtnUpload");
    auto *bar = child<QProgressBar>("progressBar");
    QTest::mouseClick(upload, Qt::LeftButton);
    // The upload runs off the GUI thread; its box arrives through the event loop, titled as this
    // tab titles every upload box.
    QTRY_COMPARE(CMessageBox::shownCount(), 1);
    QCOMPARE(CMessageBox::lastShown().title, QStringLiteral("Tips"));
    QCOMPARE(CMessageBox::lastShown().text, QStringLiteral("the dir is empty"));
    QTRY_VERIFY(upload->isEnabled());
    QTRY_VERIFY(!bar->isVisible());
}

void LogoWidgetTest::translatedForm()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(TALLOW_APP_DIR "/language/tallow_zh.qm")));
    QCoreApplication::installTranslator(&translator);
    UpgradeLogoWidget tab;
    QCoreApplication::removeTranslator(&translator);
    const char *buttons[] = {"btnCheckBoot",     "btnSelectBoot",  "btnGeneral",   "btnModify", "BtnUpload",
                             "checkBoxSetOEMID", "checkBoxRepeat", "SearchButton", "wavesCheck"};
    for (const char *name : buttons)
        QVERIFY2(tab.findChild<QAbstractButton *>(QLatin1String(name))->text() !=
                     child<QAbstractButton>(name)->text(),
                 name);
    const char *labels[] = {"labelBootNoteD", "labelSteps", "labelLinkNoteB", "labelAndroid", "label_2"};
    for (const char *name : labels)
        QVERIFY2(tab.findChild<QLabel *>(QLatin1String(name))->text() != child<QLabel>(name)->text(), name);
    for (const char *name : {"groupBox", "groupBox_2", "groupBoxLink"})
        QVERIFY2(tab.findChild<QGroupBox *>(QLatin1String(name))->title() != child<QGroupBox>(name)->title(),
                 name);
}

QTEST_MAIN(LogoWidgetTest)
#include "tst_logowidget.moc"
