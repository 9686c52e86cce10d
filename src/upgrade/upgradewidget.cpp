#include "upgradewidget.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicerecord.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/fileopendialog.h"
#include "device/loginerrortext.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidvariant.h"
#include "oemid/oemidwriter.h"
#include "oemid/recorduploader.h"
#include "oemid/recorduploadrun.h"
#include "ui_upgradewidget.h"
#include "upgrade/packageinspector.h"
#include "upgrade/upgradepackage.h"
#include "upgrade/upgraderun.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstring>

UpgradeWidget::UpgradeWidget(QWidget *parent)
    : DeviceTab(TabKind::Firmware, parent), m_ui(std::make_unique<Ui::Search>()),
      m_dataDir(QCoreApplication::applicationDirPath())
{
    m_ui->setupUi(this); // also connects the on_<object>_<signal> slots

    // The form has connected btnReverse to on_btnReverse_clicked already.
    bindDeviceWidgets(m_ui->tableView, m_ui->SearchButton, m_ui->selectBtn, nullptr);

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
    m_upload = new RecordUploadRun(*m_core->table(), this, m_ui->progressBar, m_ui->BtnUpload);
    connect(m_upload, &RecordUploadRun::finished, this, [this] { m_ui->progressBar->setValue(0); });
    connect(m_ui->BtnUpload, &QPushButton::clicked, this, &UpgradeWidget::BtnUploadClicked);
    m_ui->labelOEMID->setText(ConfigKeys::stringValue(Key::OemidAssigned));
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
    const QString file = FileOpenDialog::getOpenFileName(
        this, tr("Choose a file to open"), QStringLiteral("/home"), tr("Upgrade File(*.bin);;Files(*.*)"));
    if (!file.isEmpty())
        m_ui->lineEditFileName->setText(file);
}

void UpgradeWidget::on_browseCfgBtn_clicked()
{
    const QString file = FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"),
                                                         QStringLiteral("/home"), tr("Config File(*.cfg)"));
    if (!file.isEmpty())
        m_ui->lineEditCfg->setText(file);
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
    params->setOEMID = m_ui->setOEMID->isChecked();
    params->modifyIP = ConfigKeys::isOn(Key::ModifyIP);
    params->verify = ConfigKeys::isOn(Key::Verify);
    params->verifyTimeoutSeconds = std::max(1, ConfigKeys::intValue(Key::VerifyTimeout));
    const ConfigKeys::RunPacing pacing = ConfigKeys::runPacing();
    params->spacingMs = pacing.spacingMs;
    params->maxParallel = pacing.maxParallel;

    params->packagePath = m_ui->lineEditFileName->text();
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
    params->configPath = m_ui->lineEditCfg->text();
    params->tabPassword = DeviceRecord::credentialBytes(m_ui->lineEditPassword->text());

    if (params->setOEMID) {
        OemidStep::Params oemid;
        oemid.assignedOemid = assigned;
        oemid.allowRepeat = m_ui->checkBox->isChecked();
        oemid.appDir = m_dataDir;
        params->oemidStep = std::make_shared<const OemidStep>(oemid);
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
