#include "upgradewidget.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicerecord.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/loginerrortext.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidvariant.h"
#include "oemid/oemidwriter.h"
#include "oemid/recorduploader.h"
#include "oemid/recorduploadrun.h"
#include "upgrade/firmwareoemidstep.h"
#include "upgrade/packageinspector.h"
#include "upgrade/upgradefiledialog.h"
#include "upgrade/upgradepackage.h"
#include "upgrade/upgraderun.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableView>
#include <QVBoxLayout>

#include <cstring>

UpgradeWidget::UpgradeWidget(QWidget *parent)
    : DeviceTab(TabKind::Firmware, parent), m_dataDir(QCoreApplication::applicationDirPath())
{
    resize(745, 387);
    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_tableView = new QTableView(this);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    verticalLayout->addWidget(m_tableView);

    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_selectBtn = new QPushButton(this);
    m_selectBtn->setObjectName(QStringLiteral("selectBtn"));
    m_btnReverse = new QPushButton(this);
    m_btnReverse->setObjectName(QStringLiteral("btnReverse"));
    m_searchButton = new QPushButton(this);
    m_searchButton->setObjectName(QStringLiteral("SearchButton"));
    m_searchButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_addBtn = new QPushButton(this);
    m_addBtn->setObjectName(QStringLiteral("addBtn"));
    QPushButton *row[] = {m_selectBtn, m_btnReverse, m_searchButton, m_addBtn};
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        horizontalLayout->addWidget(row[i]);
    }
    verticalLayout->addLayout(horizontalLayout);

    auto *horizontalLayout_3 = new QHBoxLayout;
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    m_labelOEMID = new QLabel(this);
    m_labelOEMID->setObjectName(QStringLiteral("labelOEMID"));
    m_setOEMID = new QCheckBox(this);
    m_setOEMID->setObjectName(QStringLiteral("setOEMID"));
    m_checkBox = new QCheckBox(this);
    m_checkBox->setObjectName(QStringLiteral("checkBox"));
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setValue(0);
    m_BtnUpload = new QPushButton(this);
    m_BtnUpload->setObjectName(QStringLiteral("BtnUpload"));
    m_label_2 = new QLabel(this);
    m_label_2->setObjectName(QStringLiteral("label_2"));
    m_lineEditPassword = new QLineEdit(this);
    m_lineEditPassword->setObjectName(QStringLiteral("lineEditPassword"));
    m_lineEditPassword->setEchoMode(QLineEdit::Password);
    m_lineEditPassword->setMinimumWidth(100);
    m_lineEditPassword->setMaximumWidth(120);
    horizontalLayout_3->addWidget(m_labelOEMID);
    horizontalLayout_3->addWidget(m_setOEMID);
    horizontalLayout_3->addWidget(m_checkBox);
    horizontalLayout_3->addWidget(m_progressBar);
    horizontalLayout_3->addWidget(m_BtnUpload);
    horizontalLayout_3->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    horizontalLayout_3->addWidget(m_label_2);
    horizontalLayout_3->addWidget(m_lineEditPassword);
    verticalLayout->addLayout(horizontalLayout_3);

    auto *horizontalLayout_4 = new QHBoxLayout;
    horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    const QMargins margins = horizontalLayout_4->contentsMargins();
    horizontalLayout_4->setContentsMargins(0, 0, margins.right(), margins.bottom());
    m_label_3 = new QLabel(this);
    m_label_3->setObjectName(QStringLiteral("label_3"));
    m_label_3->setMinimumWidth(60);
    m_lineEditCfg = new QLineEdit(this);
    m_lineEditCfg->setObjectName(QStringLiteral("lineEditCfg"));
    m_browseCfgBtn = new QPushButton(this);
    m_browseCfgBtn->setObjectName(QStringLiteral("browseCfgBtn"));
    horizontalLayout_4->addWidget(m_label_3);
    horizontalLayout_4->addWidget(m_lineEditCfg);
    horizontalLayout_4->addWidget(m_browseCfgBtn);
    verticalLayout->addLayout(horizontalLayout_4);

    auto *horizontalLayout_2 = new QHBoxLayout;
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setMinimumWidth(60);
    m_lineEditFileName = new QLineEdit(this);
    m_lineEditFileName->setObjectName(QStringLiteral("lineEditFileName"));
    m_browseBtn = new QPushButton(this);
    m_browseBtn->setObjectName(QStringLiteral("browseBtn"));
    m_upgradeBtn = new QPushButton(this);
    m_upgradeBtn->setObjectName(QStringLiteral("upgradeBtn"));
    horizontalLayout_2->addWidget(m_label);
    horizontalLayout_2->addWidget(m_lineEditFileName);
    horizontalLayout_2->addWidget(m_browseBtn);
    horizontalLayout_2->addWidget(m_upgradeBtn);
    verticalLayout->addLayout(horizontalLayout_2);
    // Each label names its field for screen readers.
    m_label_2->setBuddy(m_lineEditPassword);
    m_label_3->setBuddy(m_lineEditCfg);
    m_label->setBuddy(m_lineEditFileName);
    DeviceTabCore::setTabOrder({m_tableView, m_selectBtn, m_btnReverse, m_searchButton, m_addBtn, m_setOEMID,
                                m_checkBox, m_BtnUpload, m_lineEditPassword, m_lineEditCfg, m_browseCfgBtn,
                                m_lineEditFileName, m_browseBtn, m_upgradeBtn});
    retranslateUi();

    bindDeviceWidgets(m_tableView, m_searchButton, m_selectBtn, m_btnReverse);
    connect(m_searchButton, &QPushButton::clicked, this, &UpgradeWidget::on_SearchButton_clicked);
    connect(m_addBtn, &QPushButton::clicked, this, &UpgradeWidget::on_addBtn_clicked);
    connect(m_tableView, &QTableView::clicked, this, &UpgradeWidget::on_tableView_clicked);
    connect(m_tableView, &QTableView::doubleClicked, this, &UpgradeWidget::on_tableView_doubleClicked);
    connect(m_browseBtn, &QPushButton::clicked, this, &UpgradeWidget::on_browseBtn_clicked);
    connect(m_browseCfgBtn, &QPushButton::clicked, this, &UpgradeWidget::on_browseCfgBtn_clicked);
    connect(m_upgradeBtn, &QPushButton::clicked, this, &UpgradeWidget::on_upgradeBtn_clicked);

    // The run: a job type of the tab's batch, the other areas' procedures as hooks.
    UpgradeHooks hooks;
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    DeviceTabCore *core = m_core;
    hooks.modifyIP = [core](int row, const QByteArray &password) {
        core->table()->updateRowDevice(row, [&password](DEV_INFO &record) {
            // A tab password that does not fit the record's 11 bytes is left out rather than cut:
            // an empty password makes every later login of the row take the tab password in full.
            std::memset(record.szPsw, 0, sizeof record.szPsw);
            if (size_t(password.size()) < sizeof record.szPsw)
                std::memcpy(record.szPsw, password.constData(), size_t(password.size()));
        });
        return core->modifyIP(row, 1);
    };
    m_run = std::make_unique<UpgradeRun>(*m_core->batch(), hooks);
    if (DeviceTableActions *actions = m_core->tableActions())
        actions->setCheckDevices([this](const QList<int> &rows) { checkDevices(rows); });

    m_inspector = new PackageInspector(this);
    m_upload = new RecordUploadRun(*m_core->table(), this, m_progressBar, m_BtnUpload);
    connect(m_upload, &RecordUploadRun::finished, this, [this] { m_progressBar->setValue(0); });
    connect(m_BtnUpload, &QPushButton::clicked, this, &UpgradeWidget::BtnUploadClicked);
    m_labelOEMID->setText(ConfigKeys::stringValue(Key::OemidAssigned));
    makeRecordTree(nullptr);
}

bool UpgradeWidget::makeRecordTree(QString *error) const
{
    return FactoryRecords(FactoryRecords::Params{m_dataDir, {}, {}}).makeUploadDirs(error);
}

UpgradeWidget::~UpgradeWidget()
{
    // A package still being read reports to nobody.
    m_inspector->cancelAndWait();
    // Nothing of the run may outlive the table and the SDK session it works with.
    m_run->shutdown();
    m_run.reset();
    delete m_upload; // waits for an upload under way
}

void UpgradeWidget::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("Search", "Dialog"));
    m_selectBtn->setText(QCoreApplication::translate("Search", "Select"));
    m_btnReverse->setText(QCoreApplication::translate("Search", "Reverse"));
    m_searchButton->setText(QCoreApplication::translate("Search", "Search"));
    m_addBtn->setText(QCoreApplication::translate("Search", "Add"));
    m_setOEMID->setText(QCoreApplication::translate("Search", "setOEMID"));
    m_checkBox->setText(QCoreApplication::translate("Search", "can repeat"));
    m_BtnUpload->setText(QCoreApplication::translate("Search", "upload"));
    m_label_2->setText(QCoreApplication::translate("Search", "Password"));
    m_label_3->setText(QCoreApplication::translate("Search", "ConfigFile"));
    m_browseCfgBtn->setText(QCoreApplication::translate("Search", "Browse"));
    m_label->setText(QCoreApplication::translate("Search", "FileName"));
    m_browseBtn->setText(QCoreApplication::translate("Search", "Browse"));
    m_upgradeBtn->setText(QCoreApplication::translate("Search", "Upgrade"));

    // Names for screen readers where the visible text alone does not tell what a control is for.
    m_lineEditPassword->setAccessibleName(QCoreApplication::translate("Search", "Device password"));
    m_lineEditCfg->setAccessibleName(QCoreApplication::translate("Search", "Configuration file"));
    m_browseCfgBtn->setAccessibleName(
        QCoreApplication::translate("Search", "Browse for a configuration file"));
    m_lineEditFileName->setAccessibleName(QCoreApplication::translate("Search", "Upgrade package"));
    m_browseBtn->setAccessibleName(QCoreApplication::translate("Search", "Browse for an upgrade package"));
    m_progressBar->setAccessibleName(QCoreApplication::translate("Search", "Upload progress"));
}

void UpgradeWidget::prompt(const QString &text)
{
    CMessageBox::warning(this, QStringLiteral("Prompt"), text);
}

bool UpgradeWidget::refuseWhileRunning()
{
    // Records, rows and the run's settings are in use until every device has
    // reported its end.
    if (!m_run->isActive())
        return false;
    prompt(tr("An upgrade is still running. Please wait until every device has "
              "finished."));
    return true;
}

void UpgradeWidget::on_SearchButton_clicked()
{
    if (refuseWhileRunning())
        return;
    m_core->startSearch();
}

void UpgradeWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_core->addByHand(&added) >= 0)
        emit sendDevInfoSignal(added);
}

void UpgradeWidget::on_tableView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    DEV_INFO rec;
    if (m_core->table()->copyRowDevice(index.row(), &rec))
        emit sendDevInfoSignal(rec);
}

void UpgradeWidget::on_tableView_doubleClicked(const QModelIndex &index)
{
    if (index.isValid())
        m_core->reLogin(index.row());
}

void UpgradeWidget::on_browseBtn_clicked()
{
    const QString file = UpgradeFileDialog::getOpenFileName(
        this, tr("Choose a file to open"), QStringLiteral("/home"), tr("Upgrade File(*.bin);;Files(*.*)"));
    if (!file.isEmpty())
        m_lineEditFileName->setText(file);
}

void UpgradeWidget::on_browseCfgBtn_clicked()
{
    const QString file = UpgradeFileDialog::getOpenFileName(
        this, tr("Choose a file to open"), QStringLiteral("/home"), tr("Config File(*.cfg)"));
    if (!file.isEmpty())
        m_lineEditCfg->setText(file);
}

bool UpgradeWidget::inspecting() const
{
    return m_inspector->isRunning();
}

bool UpgradeWidget::applyInspection(const UpgradePackage::Inspection &inspection, UpgradeParams *params)
{
    switch (inspection.status) {
    case UpgradePackage::Inspection::Ok:
        params->packageHardware = inspection.hardware;
        params->packageSha256 = inspection.sha256;
        return true;
    case UpgradePackage::Inspection::UnzipFailed:
        prompt(tr("UnZip Program Fail"));
        return false;
    case UpgradePackage::Inspection::InstallDescFailed:
        prompt(tr("Open InstallDesc Fail"));
        return false;
    case UpgradePackage::Inspection::TooLarge: {
        const UpgradePackage::Limits limits;
        prompt(tr("UnZip Program Fail: the package unpacks to more than %1 MB or %2 files")
                   .arg(limits.unpackedBytes >> 20)
                   .arg(limits.entries));
        return false;
    }
    case UpgradePackage::Inspection::NoMemory:
        prompt(tr("UnZip Program Fail: out of memory"));
        return false;
    case UpgradePackage::Inspection::Changed:
        prompt(tr("UnZip Program Fail: the package changed while it was read"));
        return false;
    case UpgradePackage::Inspection::Cancelled:
        return false;
    }
    return false;
}

void UpgradeWidget::inspectThen(const UpgradeParams &params, std::function<void(const UpgradeParams &)> next)
{
    m_inspector->start(params.packagePath,
                       [this, params, next](const UpgradePackage::Inspection &inspection) {
                           UpgradeParams inspected = params;
                           if (!applyInspection(inspection, &inspected) || refuseWhileRunning())
                               return;
                           next(inspected);
                       });
}

bool UpgradeWidget::formParams(UpgradeParams *params)
{
    params->setOEMID = m_setOEMID->isChecked();
    params->modifyIP = ConfigKeys::isOn(Key::ModifyIP);
    params->verify = ConfigKeys::isOn(Key::Verify);
    params->verifyTimeoutSeconds = std::max(1, ConfigKeys::intValue(Key::VerifyTimeout));

    params->packagePath = m_lineEditFileName->text();
    if (params->packagePath.isEmpty()) {
        prompt(tr("Please Select a Program"));
        return false;
    }
    if (const QString problem = m_core->addressChangeProblem(); !problem.isEmpty()) {
        prompt(problem);
        return false;
    }
    const QString assigned = ConfigKeys::stringValue(Key::OemidAssigned);
    if (params->setOEMID) {
        QString problem = OemidWriter::assignedOemidProblem(assigned);
        if (problem.isEmpty())
            makeRecordTree(&problem); // verified writes need somewhere to leave their records
        if (!problem.isEmpty()) {
            prompt(problem);
            return false;
        }
    }
    params->configPath = m_lineEditCfg->text();
    params->tabPassword = DeviceRecord::credentialBytes(m_lineEditPassword->text());

    if (params->setOEMID) {
        FirmwareOemidStep::Params oemid;
        oemid.assignedOemid = assigned;
        oemid.allowRepeat = m_checkBox->isChecked();
        oemid.appDir = m_dataDir;
        const FirmwareOemidStep step(oemid);
        params->oemidStep = [step](const BatchContext &ctx, DEV_INFO &record, QString *text) {
            return step.run(ctx, record, text);
        };
        params->checkReads = [step](const BatchContext &ctx, DEV_INFO &record) {
            return step.check(ctx, record);
        };
    }
    return true;
}

void UpgradeWidget::checkDevices(const QList<int> &rows)
{
    if (refuseWhileRunning() || inspecting())
        return;
    UpgradeParams params;
    if (!formParams(&params))
        return;
    inspectThen(params, [this, rows](const UpgradeParams &inspected) {
        if (rows.isEmpty()) {
            prompt(tr("Please Select a Device"));
            return;
        }
        m_run->startCheck(inspected, rows);
    });
}

void UpgradeWidget::on_upgradeBtn_clicked()
{
    // A second click while the package is still being read would start a second run.
    if (refuseWhileRunning() || inspecting())
        return;

    m_run->oemidTexts().clear();
    UpgradeParams params;
    if (!formParams(&params))
        return;
    inspectThen(params, [this](const UpgradeParams &inspected) {
        m_configPath = inspected.configPath;
        m_run->lists().clearLists();
        DeviceTable *table = m_core->table();
        for (int row = 0; row < table->rowCount(); ++row) {
            DEV_INFO record;
            if (table->isChecked(row) && table->copyRowDevice(row, &record))
                m_run->lists().pushDevice(record, UpgradeLists::Pending);
        }
        if (m_run->lists().deviceCount(UpgradeLists::Pending) == 0) {
            prompt(tr("Please Select a Device"));
            return;
        }
        m_run->start(inspected);
    });
}

int UpgradeWidget::ImportDevConfig(long lLoginID, int nIndex)
{
    return m_run->importDevConfig(lLoginID, nIndex, m_configPath);
}

void UpgradeWidget::BtnUploadClicked()
{
    UploadParams params;
    params.appDir = m_dataDir;
    params.host = ConfigKeys::stringValue(Key::UploadHost);
    params.port = ConfigKeys::intValue(Key::UploadPort);
    params.caFile = ConfigKeys::stringValue(Key::UploadCAFile);
    params.variant = OemidVariant::firmwareTab();

    m_upload->start(params);
}
