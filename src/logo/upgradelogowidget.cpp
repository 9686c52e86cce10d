#include "upgradelogowidget.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/cbatchdealthread.h"
#include "device/devicerecord.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/fileopendialog.h"
#include "device/loginerrortext.h"
#include "device/loginrunner.h"
#include "logo/applinkfile.h"
#include "logo/logodevice.h"
#include "logo/logopackage.h"
#include "logo/logorun.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidwriter.h"
#include "oemid/recorduploader.h"
#include "oemid/recorduploadrun.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>
#include <memory>

namespace
{

QLabel *noteLabel(QWidget *parent, const char *objectName, bool red)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    if (red)
        label->setStyleSheet(QStringLiteral("color: red;"));
    return label;
}

} // namespace

UpgradeLogoWidget::UpgradeLogoWidget(QWidget *parent)
    : DeviceTab(TabKind::Logo, parent), m_probe(new LoginRunner(this)), m_batch(new CBatchDealThread),
      m_dataDir(QCoreApplication::applicationDirPath()), m_showPackage(&UpgradeLogoWidget::showInFileManager)
{
    buildForm();
    retranslateUi();

    bindDeviceWidgets(m_tableView, m_searchButton, m_selectBtn, m_btnReverse);
    connect(m_searchButton, &QPushButton::clicked, this, &UpgradeLogoWidget::on_SearchButton_clicked);
    connect(m_addBtn, &QPushButton::clicked, this, &UpgradeLogoWidget::on_addBtn_clicked);
    connect(m_tableView, &QTableView::clicked, this, &UpgradeLogoWidget::on_tableView_clicked);
    connect(m_tableView, &QTableView::doubleClicked, this, &UpgradeLogoWidget::on_tableView_doubleClicked);
    connect(m_btnSelectBoot, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnSelectBoot_clicked);
    connect(m_btnSelectClose, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnSelectClose_clicked);
    connect(m_btnSelectLoss, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnSelectLoss_clicked);
    connect(m_btnSelectBlind, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnSelectBlind_clicked);
    connect(m_btnCheckBoot, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnCheckBoot_clicked);
    connect(m_btnModify, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnModify_clicked);
    connect(m_btnGeneral, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnGeneral_clicked);
    connect(m_checkBoxSetOEMID, &QCheckBox::clicked, this, &UpgradeLogoWidget::on_checkBoxSetOEMID_clicked);
    connect(m_BtnUpload, &QPushButton::clicked, this, &UpgradeLogoWidget::on_BtnUpload_clicked);
    connect(this, &UpgradeLogoWidget::releaseMouseSignal, this, &UpgradeLogoWidget::onReleaseMouse);
    connect(this, &UpgradeLogoWidget::setprogress, this, &UpgradeLogoWidget::onUpdateProcess);

    // The upload runs off the GUI thread; the bar shows while it goes.
    m_upload = new RecordUploadRun(*m_core->table(), this, m_progressBar, m_BtnUpload);
    connect(m_upload, &RecordUploadRun::finished, this, [this] { m_progressBar->hide(); });

    m_batch->setTimeout(3000);
    connect(m_batch, &CBatchDealThread::message, this, &UpgradeLogoWidget::onDealBathMsg);

    if (DeviceTableActions *actions = m_core->tableActions())
        actions->setCheckDevices([this](const QList<int> &rows) { checkDevices(rows); });
    connect(m_core->batch(), &DeviceBatch::finished, this, &UpgradeLogoWidget::onBatchFinished);

    readConfig();
    setIosRowShown(false);
    m_groupBoxLink->setEnabled(false);
    m_checkBoxRepeat->setEnabled(false);
    m_progressBar->hide();
    on_checkBoxSetOEMID_clicked();
}

UpgradeLogoWidget::~UpgradeLogoWidget()
{
    // Nothing of a row click or a batch command may outlive the table and the SDK session.
    delete m_probe;
    delete m_batch;
    delete m_upload; // waits for an upload under way
    m_pendingStart = nullptr;
    m_core->batch()->cancelAndWait(); // waits for the run's jobs; running burns are closed
    writeConfig();
}

void UpgradeLogoWidget::buildForm()
{
    resize(1038, 671);
    // The form scrolls rather than forcing its natural size on the main window.
    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Not a Tab stop of its own: it scrolls to whichever control takes the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    scroll->setWidget(content);
    frame->addWidget(scroll);
    auto *outer = new QHBoxLayout(content);

    // Left: the device list.
    auto *left = new QVBoxLayout;
    m_tableView = new QTableView(content);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    left->addWidget(m_tableView);
    auto *buttons = new QHBoxLayout;
    m_searchButton = new QPushButton(content);
    m_searchButton->setObjectName(QStringLiteral("SearchButton"));
    m_selectBtn = new QPushButton(content);
    m_selectBtn->setObjectName(QStringLiteral("selectBtn"));
    m_btnReverse = new QPushButton(content);
    m_btnReverse->setObjectName(QStringLiteral("btnReverse"));
    m_addBtn = new QPushButton(content);
    m_addBtn->setObjectName(QStringLiteral("addBtn"));
    m_label2 = new QLabel(content);
    m_label2->setObjectName(QStringLiteral("label_2"));
    m_lineEditPassword = new QLineEdit(content);
    m_lineEditPassword->setObjectName(QStringLiteral("lineEditPassword"));
    m_lineEditPassword->setEchoMode(QLineEdit::Password);
    m_lineEditPassword->setMaximumWidth(120);
    for (QPushButton *b : {m_searchButton, m_selectBtn, m_btnReverse, m_addBtn})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(m_label2);
    buttons->addWidget(m_lineEditPassword);
    left->addLayout(buttons);

    // The OEMID group sits under the device list, as it acts on the listed devices.
    m_groupBox4 = new QGroupBox(content);
    m_groupBox4->setObjectName(QStringLiteral("groupBox_4"));
    auto *oemid = new QHBoxLayout(m_groupBox4);
    m_checkBoxSetOEMID = new QCheckBox(m_groupBox4);
    m_checkBoxSetOEMID->setObjectName(QStringLiteral("checkBoxSetOEMID"));
    m_checkBoxRepeat = new QCheckBox(m_groupBox4);
    m_checkBoxRepeat->setObjectName(QStringLiteral("checkBoxRepeat"));
    m_labelOEMID = new QLabel(m_groupBox4);
    m_labelOEMID->setObjectName(QStringLiteral("labelOEMID"));
    m_progressBar = new QProgressBar(m_groupBox4);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setValue(0);
    m_BtnUpload = new QPushButton(m_groupBox4);
    m_BtnUpload->setObjectName(QStringLiteral("BtnUpload"));
    oemid->addWidget(m_checkBoxSetOEMID);
    oemid->addWidget(m_checkBoxRepeat);
    oemid->addWidget(m_labelOEMID);
    oemid->addWidget(m_progressBar, 1);
    oemid->addStretch();
    oemid->addWidget(m_BtnUpload);
    left->addWidget(m_groupBox4);
    outer->addLayout(left, 5);

    // Right: pictures, links, steps and the two actions.
    auto *right = new QVBoxLayout;
    auto pictureRow = [](QGroupBox *box, QLineEdit **edit, const char *editName, QPushButton **select,
                         const char *selectName, QVBoxLayout **column) {
        *column = new QVBoxLayout(box);
        auto *row = new QHBoxLayout;
        *edit = new QLineEdit(box);
        (*edit)->setObjectName(QLatin1String(editName));
        *select = new QPushButton(box);
        (*select)->setObjectName(QLatin1String(selectName));
        row->addWidget(*edit);
        row->addWidget(*select);
        (*column)->addLayout(row);
    };

    m_groupBox = new QGroupBox(content);
    m_groupBox->setObjectName(QStringLiteral("groupBox"));
    m_groupBox->setStyleSheet(QStringLiteral(
        "QGroupBox#groupBox { border: 1px solid red; margin-top: 1.2ex; }"
        "QGroupBox#groupBox::title { color: red; subcontrol-origin: margin; left: 8px; padding: 0 3px; }"));
    QVBoxLayout *bootColumn = nullptr;
    pictureRow(m_groupBox, &m_lineEditBoot, "lineEditBoot", &m_btnSelectBoot, "btnSelectBoot", &bootColumn);
    m_btnCheckBoot = new QPushButton(m_groupBox);
    m_btnCheckBoot->setObjectName(QStringLiteral("btnCheckBoot"));
    qobject_cast<QHBoxLayout *>(bootColumn->itemAt(0)->layout())->insertWidget(1, m_btnCheckBoot);
    const char *bootNoteNames[5] = {"labelBootNote", "labelBootNoteA", "labelBootNoteB", "labelBootNoteC",
                                    "labelBootNoteD"};
    for (int i = 0; i < 5; ++i) {
        m_bootNotes[i] = noteLabel(m_groupBox, bootNoteNames[i], i == 4);
        bootColumn->addWidget(m_bootNotes[i]);
    }
    right->addWidget(m_groupBox);

    m_groupBox3 = new QGroupBox(content);
    m_groupBox3->setObjectName(QStringLiteral("groupBox_3"));
    QVBoxLayout *closeColumn = nullptr;
    pictureRow(m_groupBox3, &m_lineEditClose, "lineEditClose", &m_btnSelectClose, "btnSelectClose",
               &closeColumn);
    const char *closeNoteNames[4] = {"labelCloseNote", "labelCloseNoteA", "labelCloseNoteB",
                                     "labelCloseNoteC"};
    for (int i = 0; i < 4; ++i) {
        m_closeNotes[i] = noteLabel(m_groupBox3, closeNoteNames[i], i == 3);
        closeColumn->addWidget(m_closeNotes[i]);
    }

    auto *gifRow = new QHBoxLayout;
    m_groupBox2 = new QGroupBox(content);
    m_groupBox2->setObjectName(QStringLiteral("groupBox_2"));
    QVBoxLayout *lossColumn = nullptr;
    pictureRow(m_groupBox2, &m_lineEditLoss, "lineEditLoss", &m_btnSelectLoss, "btnSelectLoss", &lossColumn);
    const char *lossNoteNames[3] = {"labelLossNote", "labelLossNoteA", "labelLossNoteB"};
    for (int i = 0; i < 3; ++i) {
        m_lossNotes[i] = noteLabel(m_groupBox2, lossNoteNames[i], false);
        lossColumn->addWidget(m_lossNotes[i]);
    }
    m_groupBox5 = new QGroupBox(content);
    m_groupBox5->setObjectName(QStringLiteral("groupBox_5"));
    QVBoxLayout *blindColumn = nullptr;
    pictureRow(m_groupBox5, &m_lineEditBlind, "lineEditBlind", &m_btnSelectBlind, "btnSelectBlind",
               &blindColumn);
    const char *blindNoteNames[3] = {"labelBlindNote", "labelBlindNoteA", "labelBlindNoteB"};
    for (int i = 0; i < 3; ++i) {
        m_blindNotes[i] = noteLabel(m_groupBox5, blindNoteNames[i], false);
        blindColumn->addWidget(m_blindNotes[i]);
    }
    gifRow->addWidget(m_groupBox2);
    gifRow->addWidget(m_groupBox5);
    right->addWidget(m_groupBox3);
    right->addLayout(gifRow);

    m_groupBoxLink = new QGroupBox(content);
    m_groupBoxLink->setObjectName(QStringLiteral("groupBoxLink"));
    auto *link = new QGridLayout(m_groupBoxLink);
    m_labelIOS = new QLabel(m_groupBoxLink);
    m_labelIOS->setObjectName(QStringLiteral("labelIOS"));
    m_labelIosLink = new QLabel(m_groupBoxLink);
    m_labelIosLink->setObjectName(QStringLiteral("labelIosLink"));
    m_lineEditIOS = new QLineEdit(m_groupBoxLink);
    m_lineEditIOS->setObjectName(QStringLiteral("lineEditIOS"));
    m_labelAndroid = new QLabel(m_groupBoxLink);
    m_labelAndroid->setObjectName(QStringLiteral("labelAndroid"));
    m_lineEditAndroid = new QLineEdit(m_groupBoxLink);
    m_lineEditAndroid->setObjectName(QStringLiteral("lineEditAndroid"));
    m_linkNotes[0] = noteLabel(m_groupBoxLink, "labelLinkNoteA", false);
    m_linkNotes[1] = noteLabel(m_groupBoxLink, "labelLinkNoteB", true);
    link->addWidget(m_labelIOS, 0, 0);
    link->addWidget(m_labelIosLink, 0, 1);
    link->addWidget(m_lineEditIOS, 0, 2);
    link->addWidget(m_labelAndroid, 1, 0);
    link->addWidget(m_lineEditAndroid, 1, 1, 1, 2);
    link->addWidget(m_linkNotes[0], 2, 0, 1, 3);
    link->addWidget(m_linkNotes[1], 3, 0, 1, 3);
    link->setColumnStretch(2, 1);
    right->addWidget(m_groupBoxLink);

    m_labelSteps = new QLabel(content);
    m_labelSteps->setObjectName(QStringLiteral("labelSteps"));
    m_labelSteps->setWordWrap(true);
    right->addWidget(m_labelSteps);

    auto *actions = new QHBoxLayout;
    m_btnGeneral = new QPushButton(content);
    m_btnGeneral->setObjectName(QStringLiteral("btnGeneral"));
    m_btnModify = new QPushButton(content);
    m_btnModify->setObjectName(QStringLiteral("btnModify"));
    // The skin addresses the burn button by this name as well.
    m_btnModify->setProperty("skinName", QStringLiteral("BtnModify"));
    actions->addStretch();
    actions->addWidget(m_btnGeneral);
    actions->addWidget(m_btnModify);
    right->addLayout(actions);
    right->addStretch();
    outer->addLayout(right, 4);

    // Each label names its field for screen readers.
    m_label2->setBuddy(m_lineEditPassword);
    m_labelIOS->setBuddy(m_lineEditIOS);
    m_labelAndroid->setBuddy(m_lineEditAndroid);
    // Left column, then the right one, each top to bottom; the check button sits between the boot
    // picture's path and its Select button.
    DeviceTabCore::setTabOrder({m_tableView,     m_searchButton,     m_selectBtn,        m_btnReverse,
                                m_addBtn,        m_lineEditPassword, m_checkBoxSetOEMID, m_checkBoxRepeat,
                                m_BtnUpload,     m_lineEditBoot,     m_btnCheckBoot,     m_btnSelectBoot,
                                m_lineEditClose, m_btnSelectClose,   m_lineEditLoss,     m_btnSelectLoss,
                                m_lineEditBlind, m_btnSelectBlind,   m_lineEditIOS,      m_lineEditAndroid,
                                m_btnGeneral,    m_btnModify});
}

void UpgradeLogoWidget::retranslateUi()
{
    m_searchButton->setText(tr("Search"));
    m_selectBtn->setText(tr("Select"));
    m_btnReverse->setText(tr("Reverse"));
    m_addBtn->setText(tr("Add"));
    m_label2->setText(tr("Device Password"));

    m_groupBox->setTitle(tr("Boot logo"));
    m_btnCheckBoot->setText(tr("Check Logo"));
    m_btnSelectBoot->setText(tr("Select Logo"));
    m_bootNotes[0]->setText(tr("Picture requirements(JPG)"));
    m_bootNotes[1]->setText(tr("a.Resolution:800*600"));
    m_bootNotes[2]->setText(tr("b.File is no larger than 120KB without gradient JPG file"));
    m_bootNotes[3]->setText(tr("c.You can check the picture to confirm whether it meets the requirements"));
    m_bootNotes[4]->setText(tr("d.You must select a boot logo before performing modification operations"));
    m_labelSteps->setText(tr("Steps:1.Search And Select NVR,Input Passward 2.Select Logo You Need 3.Input "
                             "AppLink 4.Click Modify"));

    m_groupBox2->setTitle(tr("Channel background"));
    m_btnSelectLoss->setText(tr("Select Logo"));
    m_lossNotes[0]->setText(tr("Picture requirements(GIF)"));
    m_lossNotes[1]->setText(tr("a.Recommended resolution(200*100)"));
    m_lossNotes[2]->setText(tr("b.Background color RGB (0,0,0)"));

    m_groupBox3->setTitle(tr("Shutdown logo"));
    m_btnSelectClose->setText(tr("Select Logo"));
    m_closeNotes[0]->setText(tr("Picture requirements(JPG)"));
    m_closeNotes[1]->setText(tr("a.Recommended resolution(800*600)"));
    m_closeNotes[2]->setText(tr("b.No gradient"));
    m_closeNotes[3]->setText(tr("c.Use boot logo when not exist"));

    m_groupBox5->setTitle(tr("Blind logo"));
    m_btnSelectBlind->setText(tr("Select Logo"));
    m_blindNotes[0]->setText(tr("Picture requirements(GIF)"));
    m_blindNotes[1]->setText(tr("a.Recommended resolution(200*100)"));
    m_blindNotes[2]->setText(tr("b.Background color RGB (0,0,0)"));

    m_groupBoxLink->setTitle(tr("AppDownloadLink"));
    m_labelIOS->setText(tr("IOS App Link"));
    m_labelIosLink->setText(appStoreLinkPrefix());
    m_labelAndroid->setText(m_labelIOS->isHidden() ? tr("App Link") : tr("Android App Link"));
    m_linkNotes[0]->setText(tr("a.If you want to modify, please enter the app link"));
    m_linkNotes[1]->setText(tr("b.Only support device version after 20200113"));

    m_groupBox4->setTitle(tr("OEMID"));
    m_checkBoxSetOEMID->setText(tr("setOEMID"));
    m_checkBoxRepeat->setText(tr("AllowRepeat"));
    m_BtnUpload->setText(tr("UploadLog"));

    m_btnGeneral->setText(tr("GetLogoPrograms"));
    m_btnModify->setText(tr("Modify"));

    // The four Select buttons read alike; their names also say which picture each one picks.
    m_btnSelectBoot->setAccessibleName(tr("Select Logo (boot logo)"));
    m_btnSelectClose->setAccessibleName(tr("Select Logo (shutdown logo)"));
    m_btnSelectLoss->setAccessibleName(tr("Select Logo (channel background)"));
    m_btnSelectBlind->setAccessibleName(tr("Select Logo (blind logo)"));
    m_progressBar->setAccessibleName(tr("Upload progress"));
}

void UpgradeLogoWidget::readConfig()
{
    m_lineEditIOS->setText(ConfigKeys::stringValue(Key::AppLinkIOS));
    m_lineEditAndroid->setText(ConfigKeys::stringValue(Key::AppLinkAndroid));
    m_lineEditBoot->setText(ConfigKeys::stringValue(Key::LogoBoot));
    m_lineEditClose->setText(ConfigKeys::stringValue(Key::LogoClose));
    m_lineEditLoss->setText(ConfigKeys::stringValue(Key::LogoLoss));
    m_lineEditBlind->setText(ConfigKeys::stringValue(Key::LogoBlind));
    m_checkBoxSetOEMID->setChecked(ConfigKeys::isOn(Key::OemidSetEn));
    m_checkBoxRepeat->setChecked(ConfigKeys::isOn(Key::OemidRepeatEn));
    m_labelOEMID->setText(ConfigKeys::stringValue(Key::OemidAssigned));
}

void UpgradeLogoWidget::writeLinkKeys()
{
    for (const auto &[key, edit] :
         {std::pair{Key::AppLinkIOS, m_lineEditIOS}, {Key::AppLinkAndroid, m_lineEditAndroid}}) {
        const IniResult stored = ConfigKeys::setString(key, edit->text());
        if (!stored)
            qWarning() << "cannot store" << ConfigKeys::path(key) << stored.error;
    }
}

void UpgradeLogoWidget::writeConfig()
{
    writeLinkKeys();
    const std::pair<Key, QLineEdit *> pictures[] = {{Key::LogoBoot, m_lineEditBoot},
                                                    {Key::LogoClose, m_lineEditClose},
                                                    {Key::LogoLoss, m_lineEditLoss},
                                                    {Key::LogoBlind, m_lineEditBlind}};
    for (const auto &[key, edit] : pictures) {
        const IniResult stored = ConfigKeys::setString(key, edit->text());
        if (!stored)
            qWarning() << "cannot store" << ConfigKeys::path(key) << stored.error;
    }
    for (const auto &[key, box] :
         {std::pair{Key::OemidSetEn, m_checkBoxSetOEMID}, {Key::OemidRepeatEn, m_checkBoxRepeat}}) {
        const IniResult stored = ConfigKeys::setInt(key, box->isChecked() ? 1 : 0);
        if (!stored)
            qWarning() << "cannot store" << ConfigKeys::path(key) << stored.error;
    }
}

void UpgradeLogoWidget::setIosRowShown(bool shown)
{
    m_labelIOS->setVisible(shown);
    m_labelIosLink->setVisible(shown);
    m_lineEditIOS->setVisible(shown);
    m_labelAndroid->setText(shown ? tr("Android App Link") : tr("App Link"));
}

void UpgradeLogoWidget::prompt(const QString &text)
{
    CMessageBox::information(this, QStringLiteral("Prompt"), text, tr("OK"));
}

LogoPaths UpgradeLogoWidget::formPaths() const
{
    LogoPaths paths;
    paths.boot = m_lineEditBoot->text();
    paths.close = m_lineEditClose->text();
    paths.loss = m_lineEditLoss->text();
    paths.blind = m_lineEditBlind->text();
    return paths;
}

bool UpgradeLogoWidget::probing() const
{
    return m_probe->busy();
}

void UpgradeLogoWidget::on_SearchButton_clicked()
{
    // A search replaces the rows the run reports to; its results would be lost.
    if (running()) {
        prompt(tr("A logo run is still going. Please wait until every device has finished."));
        return;
    }
    if (m_core->startSearch())
        m_groupBoxLink->setEnabled(false);
}

void UpgradeLogoWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_core->addByHand(&added) >= 0)
        emit sendDevInfoSignal(added);
}

void UpgradeLogoWidget::on_tableView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    // One device at a time: two probes on one login would close it under each other; and a run's
    // devices must not be logged in beside it. The operator is told why nothing happens.
    if (m_probe->busy()) {
        prompt(tr("A device is still being logged in. Please wait for its result, then click again."));
        return;
    }
    if (running()) {
        prompt(tr("A logo run is still going. Please wait until every device has finished."));
        return;
    }
    const int row = index.row();
    DeviceTable *table = m_core->table();
    DEV_INFO record;
    if (!table->copyRowDevice(row, &record))
        return;
    const QByteArray password = DeviceRecord::credentialBytes(m_lineEditPassword->text());
    const quint64 generation = table->generation();

    std::function<int()> modifyIp;
    if (ConfigKeys::isOn(Key::ModifyIP)) {
        DeviceTabCore *core = m_core;
        modifyIp = [core, row, password] {
            core->table()->updateRowDevice(row, [&password](DEV_INFO &r) {
                DeviceRecord::setFixedText(r.szPsw, password.toStdString());
            });
            return core->modifyIP(row, 1);
        };
    }

    auto probe = std::make_shared<LogoDevice::Probe>();
    m_probe->run(
        record,
        [password, modifyIp, table, row, generation, probe](LoginRunner::Result &result) {
            // The probe owns the row's session while it works; what it leaves open goes back below.
            DeviceSession held = table->takeSession(generation, row);
            std::function<int(DEV_INFO &)> change;
            if (modifyIp) {
                change = [&](DEV_INFO &rec) {
                    const int changed = modifyIp();
                    DEV_INFO moved;
                    // The login goes to the address the change gave the device.
                    if (changed >= 1 && table->copyRowDevice(row, &moved))
                        std::memcpy(rec.szIpaddress, moved.szIpaddress, sizeof moved.szIpaddress);
                    return changed;
                };
            }
            *probe = LogoDevice::probeRow(result.record, std::move(held), password, change, [](int ms) {
                QThread::msleep(ulong(ms));
                return true;
            });
            result.record = probe->record;
            if (probe->outcome == LogoDevice::Probe::LoginFailed)
                result.text = loginErrorText(probe->loginError); // with this thread's last SDK error
        },
        [this, row, generation, table, probe](LoginRunner::Result &result) {
            // The row keeps a login the probe left open; a row gone with a new search does not.
            const bool stored = table->updateDevice(generation, row, [&result](DEV_INFO &r) {
                r.NetDevInfo = result.record.NetDevInfo;
                std::memcpy(r.szIpaddress, result.record.szIpaddress, sizeof r.szIpaddress);
            });
            table->giveSession(generation, row, std::move(probe->session));
            if (!stored) {
                emit probeFinished(row);
                return;
            }
            switch (probe->outcome) {
            case LogoDevice::Probe::IpChangeFailed:
                break; // the change wrote its own text
            case LogoDevice::Probe::LoginFailed:
                table->setStatusText(row, StatusOutcome::Failure, result.text);
                break;
            case LogoDevice::Probe::OldBuild:
                table->setStatusText(row, StatusOutcome::Success, tr("Login Success"));
                m_groupBoxLink->setEnabled(false);
                m_appLinkSupported = false;
                break;
            case LogoDevice::Probe::AppLinkFailed:
                table->setStatusText(row, StatusOutcome::Neutral, tr("Login Success"));
                m_groupBoxLink->setEnabled(true);
                m_appLinkSupported = true;
                table->setStatusText(row, StatusOutcome::Failure,
                                     QStringLiteral("%1,ErrorCode:%2")
                                         .arg(tr("Get applink information failed"))
                                         .arg(probe->lastError));
                break;
            case LogoDevice::Probe::AppLink:
                table->setStatusText(row, StatusOutcome::Success, tr("Login Success"));
                m_groupBoxLink->setEnabled(true);
                m_appLinkSupported = true;
                setIosRowShown(probe->iosRow);
                break;
            }
            emit probeFinished(row);
        });
}

void UpgradeLogoWidget::on_tableView_doubleClicked(const QModelIndex &)
{
    // A double click does nothing on this tab; a single click belongs to the logo workflow.
}

void UpgradeLogoWidget::on_btnSelectBoot_clicked()
{
    const QString file = FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"),
                                                         QStringLiteral("/home"), tr("Logo(*.jpg)"));
    if (!file.isEmpty())
        m_lineEditBoot->setText(file);
}

void UpgradeLogoWidget::on_btnSelectClose_clicked()
{
    const QString file = FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"),
                                                         QStringLiteral("/home"), tr("Logo(*.jpg)"));
    if (!file.isEmpty())
        m_lineEditClose->setText(file);
}

void UpgradeLogoWidget::on_btnSelectLoss_clicked()
{
    const QString file = FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"),
                                                         QStringLiteral("/home"), tr("Logo(*.gif)"));
    if (!file.isEmpty())
        m_lineEditLoss->setText(file);
}

void UpgradeLogoWidget::on_btnSelectBlind_clicked()
{
    const QString file = FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"),
                                                         QStringLiteral("/home"), tr("Logo(*.gif)"));
    if (!file.isEmpty())
        m_lineEditBlind->setText(file);
}

bool UpgradeLogoWidget::checkBootLogo(int nType)
{
    const LogoCheck::Outcome outcome = LogoCheck::check(formPaths(), nType);
    if (!outcome.message.isEmpty()) {
        QWidget *parent = QApplication::activeWindow();
        CMessageBox::information(parent ? parent : this, QStringLiteral("Tips"), outcome.message, tr("OK"));
    }
    return outcome.ok();
}

void UpgradeLogoWidget::on_btnCheckBoot_clicked()
{
    checkBootLogo(0);
}

void UpgradeLogoWidget::on_btnModify_clicked()
{
    startRun(true);
}

void UpgradeLogoWidget::on_btnGeneral_clicked()
{
    startRun(false);
}

void UpgradeLogoWidget::BatchOpr(int nCmd)
{
    if (m_batch->isRunning()) {
        prompt(tr("A batch command is still running"));
        return;
    }
    DeviceTable *table = m_core->table();
    int added = 0;
    for (int row : table->checkedRows()) {
        DEV_INFO record;
        if (table->copyRowDevice(row, &record) && m_batch->addDevice(record))
            ++added;
    }
    if (added == 0) {
        prompt(tr("Please Select a Device"));
        return;
    }
    m_batch->setCommand(nCmd);
    m_batch->setTimeout(3000);
    m_batch->start();
}

void UpgradeLogoWidget::onDealBathMsg(int ret, int nError, int nIndex, int nCmd)
{
    DeviceTableActions::commandAnswered(*m_core->table(), ret, nError, nIndex, nCmd);
}

void UpgradeLogoWidget::on_checkBoxSetOEMID_clicked()
{
    const bool on = m_checkBoxSetOEMID->isChecked();
    m_checkBoxRepeat->setEnabled(on);
    m_checkBoxRepeat->setCheckable(on);
}

void UpgradeLogoWidget::on_BtnUpload_clicked()
{
    UploadParams params;
    params.appDir = m_dataDir;
    params.host = ConfigKeys::stringValue(Key::UploadHost);
    params.port = ConfigKeys::intValue(Key::UploadPort);
    params.caFile = ConfigKeys::stringValue(Key::UploadCAFile);
    params.variant = OemidVariant::logoTab();

    m_progressBar->setValue(0);
    if (m_upload->start(params))
        m_progressBar->show();
}

void UpgradeLogoWidget::onUpdateProcess()
{
    m_progressBar->setValue(m_progressBar->value() + 1);
}

void UpgradeLogoWidget::onReleaseMouse()
{
    unsetCursor();
    releaseMouse();
}

void UpgradeLogoWidget::showInFileManager(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString folder = QFileInfo(absolute).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(absolute).toString()} << QString();
    // Asked without waiting: a desktop without a file manager service answers with an error, and
    // then the folder is opened instead.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, folder] {
        if (watcher->isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        watcher->deleteLater();
    });
}

void UpgradeLogoWidget::onUpgradeDeviceLogo()
{
    const QByteArray password = DeviceRecord::credentialBytes(m_lineEditPassword->text());
    DeviceTable *table = m_core->table();
    std::vector<int> rows;
    for (int row : table->checkedRows())
        rows.push_back(row);
    if (rows.empty()) {
        prompt(tr("Please Select a Device"));
        return;
    }

    LogoStageInput stage;
    stage.pictures = m_pictures;
    stage.appLinkWanted = m_appLinkWanted;
    stage.appLinkSupported = m_appLinkSupported;
    stage.links.android = m_lineEditAndroid->text();
    stage.links.ios = m_lineEditIOS->text();
    stage.links.iosShown = !m_labelIOS->isHidden();
    launch(rows, password, stage);
}

void UpgradeLogoWidget::startRun(bool modify)
{
    m_modifyMode = modify;
    m_oemidRun = false;
    if (!checkBootLogo(1))
        return;
    if (modify && !oemidStepUsable(&m_oemidRun))
        return;
    if (const QString problem = m_core->addressChangeProblem(); !problem.isEmpty()) {
        prompt(problem);
        return;
    }
    m_pictures = formPaths();
    if (modify)
        writeLinkKeys();
    m_appLinkWanted = !m_lineEditAndroid->text().isEmpty() ||
                      (!m_lineEditIOS->text().isEmpty() && !m_lineEditIOS->isHidden());
    onUpgradeDeviceLogo();
}

bool UpgradeLogoWidget::oemidStepUsable(bool *on)
{
    *on = false;
    if (!m_checkBoxSetOEMID->isChecked())
        return true;
    const QString assigned = ConfigKeys::stringValue(Key::OemidAssigned);
    m_labelOEMID->setText(assigned);
    // The unassigned value is never written, and verified writes need their record tree.
    QString problem = OemidWriter::assignedOemidProblem(assigned);
    if (problem.isEmpty())
        FactoryRecords(FactoryRecords::Params{m_dataDir, {}, {}}).makeUploadDirs(&problem);
    if (!problem.isEmpty()) {
        prompt(problem);
        return false;
    }
    *on = true;
    return true;
}

void UpgradeLogoWidget::checkDevices(const QList<int> &rows)
{
    if (running()) {
        prompt(tr("A logo run is still going. Please wait until every device has finished."));
        return;
    }
    if (rows.isEmpty()) {
        prompt(tr("Please Select a Device"));
        return;
    }
    LogoRunParams params;
    if (!oemidStepUsable(&params.setOEMID))
        return;
    params.password = DeviceRecord::credentialBytes(m_lineEditPassword->text());
    params.appDir = m_dataDir;
    params.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned);
    params.allowRepeat = m_checkBoxRepeat->isChecked();
    LogoRunHooks hooks;
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    startLogoChecks(*m_core->batch(), rows, params, hooks);
}

bool UpgradeLogoWidget::running() const
{
    return m_pendingStart || m_core->batch()->isActive();
}

void UpgradeLogoWidget::launch(const std::vector<int> &rows, const QByteArray &password,
                               const LogoStageInput &stage)
{
    LogoRunParams params;
    params.modify = m_modifyMode;
    params.password = password;
    params.modifyIP = ConfigKeys::isOn(Key::ModifyIP);
    const ConfigKeys::RunPacing pacing = ConfigKeys::runPacing();
    params.spacingMs = pacing.spacingMs;
    params.maxParallel = pacing.maxParallel;
    params.appDir = m_dataDir;
    params.setOEMID = m_oemidRun;
    params.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned);
    params.allowRepeat = m_checkBoxRepeat->isChecked();

    // A new run replaces the counters and the devices still waiting in the old one; the old run's
    // started burns finish on their own.
    if (m_run)
        m_run->supersede();
    const quint64 id = ++m_runId;
    m_run = std::make_shared<LogoRunState>(m_dataDir, int(rows.size()), [this, id] {
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                if (id == m_runId)
                    emit releaseMouseSignal();
            },
            Qt::QueuedConnection);
    });
    if (m_modifyMode)
        setCursor(Qt::WaitCursor);

    LogoRunHooks hooks;
    DeviceTabCore *core = m_core;
    hooks.modifyIP = [core](int row, const QByteArray &pw) {
        core->table()->updateRowDevice(
            row, [&pw](DEV_INFO &r) { DeviceRecord::setFixedText(r.szPsw, pw.toStdString()); });
        return core->modifyIP(row, 1);
    };
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    hooks.packageMade = [this](const QString &path) {
        QMetaObject::invokeMethod(
            this, [this, path] { m_showPackage(path); }, Qt::QueuedConnection);
    };

    const std::shared_ptr<LogoRunState> state = m_run;
    m_pendingStart = [this, rows, params, state, hooks, stage] {
        // Staged only now: the previous run may still have been making its package from the tree.
        if (!state->builder().dealWithLogo(stage)) {
            prompt(state->builder().lastError());
            emit releaseMouseSignal();
            return;
        }
        m_core->batch()->start(logoPlan(rows, params, state, hooks));
    };
    if (!m_core->batch()->isActive()) {
        onBatchFinished();
        return;
    }
    // Held until the burns already under way end, which can take minutes: the operator is told.
    prompt(tr("The devices already started are still being burnt. This run starts when they have "
              "finished."));
}

void UpgradeLogoWidget::onBatchFinished()
{
    if (m_pendingStart) {
        const std::function<void()> start = std::move(m_pendingStart);
        m_pendingStart = nullptr;
        start();
        return;
    }
    // A run that ended without every device reporting (cancelled) still gives the cursor back.
    if (m_run && m_run->done() < m_run->total())
        emit releaseMouseSignal();
}
