#include "upgradewidget.h"

#include "app/apppaths.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicerecord.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/fileopendialog.h"
#include "device/loginerrortext.h"
#include "flash/wavehaltbox.h"
#include "flash/waveplan.h"
#include "flash/waverun.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidvariant.h"
#include "oemid/recorduploader.h"
#include "oemid/recorduploadrun.h"
#include "ui_upgradewidget.h"
#include "upgrade/upgraderun.h"
#include "upgrade/upgraderuncontroller.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstring>

UpgradeWidget::UpgradeWidget(QWidget *parent)
    : DeviceTab(TabKind::Firmware, parent), m_ui(std::make_unique<Ui::Search>()),
      m_dataDir(AppPaths::current().userDataDir())
{
    m_ui->setupUi(this); // also connects the on_<object>_<signal> slots

    // The form has connected btnReverse to on_btnReverse_clicked already.
    bindDeviceWidgets(m_ui->tableView, m_ui->SearchButton, m_ui->selectBtn, nullptr);

    // The run: a job type of the tab's batch, the other areas' procedures as hooks.
    UpgradeHooks hooks;
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    DeviceTabController *core = m_controller.get();
    hooks.modifyIP = [core](int row, const QByteArray &password) {
        const quint64 generation = core->table()->generation();
        core->table()->updateDevice(generation, row, [&password](DEV_INFO &record) {
            DeviceRecord::setRunPassword(record, password);
        });
        return core->modifyIP(generation, row, 1);
    };
    m_runs = std::make_unique<UpgradeRunController>(*m_controller->batch(), hooks);
    connect(m_runs.get(), &UpgradeRunController::prompt, this, &UpgradeWidget::prompt);
    DeviceTable *table = m_controller->table();
    // The check marks the run: a failure anywhere in it (check, import, transfer, verdict) counts,
    // and the device must end verified.
    m_runs->setEndedWell([table](int row) { return table->endedWell(row); });
    // Queued: the box opens once the batch's finished() has been handled everywhere.
    connect(&m_runs->waveRun(), &WaveRun::halted, this, &UpgradeWidget::waveHalted, Qt::QueuedConnection);
    connect(&m_runs->waveRun(), &WaveRun::ended, this, &UpgradeWidget::wavesEnded, Qt::QueuedConnection);
    m_ui->wavesCheck->setChecked(WaveSettings::enabledInConfig());
    connect(m_ui->wavesCheck, &QCheckBox::toggled, this,
            [](bool on) { ConfigKeys::setInt(Key::WavesEnabled, on ? 1 : 0); });
    if (DeviceTableActions *actions = m_controller->tableActions())
        actions->setCheckDevices([this](const QList<int> &rows) { checkDevices(rows); });

    m_upload =
        std::make_unique<RecordUploadRun>(*m_controller->table(), this, m_ui->progressBar, m_ui->BtnUpload);
    connect(m_upload.get(), &RecordUploadRun::finished, this, [this] { m_ui->progressBar->setValue(0); });
    connect(m_ui->BtnUpload, &QPushButton::clicked, this, &UpgradeWidget::BtnUploadClicked);
    m_ui->labelOEMID->setText(ConfigKeys::stringValue(Key::OemidAssigned));
    FactoryRecords(FactoryRecords::Params{m_dataDir, {}, {}}).makeUploadDirs(nullptr);
}

UpgradeWidget::~UpgradeWidget()
{
    cancelWork();
}

void UpgradeWidget::prompt(const QString &text)
{
    CMessageBox::warning(this, QStringLiteral("Prompt"), text);
}

void UpgradeWidget::on_SearchButton_clicked()
{
    if (!m_runs->refuseWhileRunning())
        m_controller->startSearch();
}

void UpgradeWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_controller->addByHand(&added) >= 0)
        emit sendDevInfoSignal(added);
}

void UpgradeWidget::on_tableView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    DEV_INFO rec;
    if (m_controller->table()->device(m_controller->table()->generation(), index.row(), &rec))
        emit sendDevInfoSignal(rec);
}

void UpgradeWidget::on_tableView_doubleClicked(const QModelIndex &index)
{
    if (index.isValid())
        m_controller->reLogin(index.row());
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

UpgradeRun *UpgradeWidget::upgradeRun() const
{
    return &m_runs->run();
}

bool UpgradeWidget::inspecting() const
{
    return m_runs->inspecting();
}

UpgradeRequest UpgradeWidget::request() const
{
    UpgradeRequest request = UpgradeRequest::fromConfig();
    request.packagePath = m_ui->lineEditFileName->text();
    request.configPath = m_ui->lineEditCfg->text();
    request.tabPassword = DeviceRecord::credentialBytes(m_ui->lineEditPassword->text());
    request.setOEMID = m_ui->setOEMID->isChecked();
    request.allowRepeat = m_ui->checkBox->isChecked();
    request.dataDir = m_dataDir;
    request.startIndex = m_controller->startIndex();
    request.waves = m_ui->wavesCheck->isChecked();
    return request;
}

void UpgradeWidget::checkDevices(const QList<int> &rows)
{
    m_runs->startCheck(request(), rows);
}

void UpgradeWidget::on_upgradeBtn_clicked()
{
    const DeviceTable *table = m_controller->table();
    std::vector<int> rows;
    for (int row : table->checkedRows())
        rows.push_back(row);
    m_runs->startUpgrade(request(), table->generation(), rows);
}

void UpgradeWidget::waveHalted(const WaveHalt &halt)
{
    WaveHaltBox::ask(this, m_runs->waveRun(), halt, WaveRun::Goal::Verified);
}

void UpgradeWidget::wavesEnded(const WaveEnd &end)
{
    if (end.waves == 0 && !end.cancelled && !end.rowsGone)
        prompt(tr("No ticked device passed the check; nothing was sent."));
}

int UpgradeWidget::ImportDevConfig(long lLoginID, int nIndex)
{
    return m_runs->importDevConfig(lLoginID, nIndex);
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
