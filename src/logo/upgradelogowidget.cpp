#include "upgradelogowidget.h"

#include "app/apppaths.h"
#include "app/backgroundcall.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/cbatchdealthread.h"
#include "device/devicerecord.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/fileopendialog.h"
#include "device/loginerrortext.h"
#include "flash/wavehaltbox.h"
#include "flash/waveplan.h"
#include "flash/waverun.h"
#include "logo/applinkfile.h"
#include "logo/filemanager.h"
#include "logo/logopackage.h"
#include "logo/logorowprobe.h"
#include "logo/logorun.h"
#include "logo/logoruncontroller.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidwriter.h"
#include "oemid/recorduploader.h"
#include "oemid/recorduploadrun.h"
#include "ui_upgradelogowidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <cstring>
#include <memory>

UpgradeLogoWidget::UpgradeLogoWidget(QWidget *parent)
    : DeviceTab(TabKind::Logo, parent), m_ui(std::make_unique<Ui::UpgradeLogoWidget>()),
      m_dataDir(AppPaths::current().userDataDir()), m_showPackage(&FileManager::showItem)
{
    m_ui->setupUi(this); // also connects the on_<object>_<signal> slots
    m_ui->labelIosLink->setText(appStoreLinkPrefix());

    // The form has connected btnReverse to on_btnReverse_clicked already.
    bindDeviceWidgets(m_ui->tableView, m_ui->SearchButton, m_ui->selectBtn, nullptr);
    connect(this, &UpgradeLogoWidget::releaseMouseSignal, this, &UpgradeLogoWidget::onReleaseMouse);
    connect(this, &UpgradeLogoWidget::setprogress, this, &UpgradeLogoWidget::onUpdateProcess);

    // The upload runs off the GUI thread; the bar shows while it goes.
    m_upload =
        std::make_unique<RecordUploadRun>(*m_controller->table(), this, m_ui->progressBar, m_ui->BtnUpload);
    connect(m_upload.get(), &RecordUploadRun::finished, this, [this] { m_ui->progressBar->hide(); });

    m_batch = std::make_unique<CBatchDealThread>();
    m_batch->setTimeout(3000);
    connect(m_batch.get(), &CBatchDealThread::message, this, &UpgradeLogoWidget::onDealBathMsg);

    if (DeviceTableActions *actions = m_controller->tableActions())
        actions->setCheckDevices([this](const QList<int> &rows) { checkDevices(rows); });
    m_runCheck = std::make_unique<BackgroundCall>();
    m_logoCheck = std::make_unique<BackgroundCall>();
    m_probe = std::make_unique<LogoRowProbe>(*m_controller->table());
    connect(m_probe.get(), &LogoRowProbe::finished, this, &UpgradeLogoWidget::showProbe);
    m_runs = std::make_unique<LogoRunController>(*m_controller->batch());
    connect(m_runs.get(), &LogoRunController::runEnded, this, &UpgradeLogoWidget::releaseMouseSignal);
    connect(m_runs.get(), &LogoRunController::stageFailed, this, &UpgradeLogoWidget::prompt);
    connect(m_runs.get(), &LogoRunController::packageMade, this,
            [this](const QString &path) { m_showPackage(path); });
    // Queued: the box opens once the batch's finished() has been handled everywhere.
    connect(&m_runs->waveRun(), &WaveRun::halted, this, &UpgradeLogoWidget::waveHalted, Qt::QueuedConnection);
    connect(&m_runs->waveRun(), &WaveRun::ended, this, &UpgradeLogoWidget::wavesEnded, Qt::QueuedConnection);
    m_ui->wavesCheck->setChecked(WaveSettings::enabledInConfig());
    connect(m_ui->wavesCheck, &QCheckBox::toggled, this,
            [](bool on) { ConfigKeys::setInt(Key::WavesEnabled, on ? 1 : 0); });

    readConfig();
    setIosRowShown(false);
    m_ui->groupBoxLink->setEnabled(false);
    m_ui->checkBoxRepeat->setEnabled(false);
    m_ui->progressBar->hide();
    on_checkBoxSetOEMID_clicked();
}

UpgradeLogoWidget::~UpgradeLogoWidget()
{
    writeConfig();
    cancelWork();
}

namespace
{

void warnUnstored(Key key, const IniResult &stored)
{
    if (!stored)
        qWarning() << "cannot store" << ConfigKeys::path(key) << stored.error;
}

} // namespace

std::vector<std::pair<Key, QLineEdit *>> UpgradeLogoWidget::keyedEdits() const
{
    return {{Key::AppLinkIOS, m_ui->lineEditIOS}, {Key::AppLinkAndroid, m_ui->lineEditAndroid},
            {Key::LogoBoot, m_ui->lineEditBoot},  {Key::LogoClose, m_ui->lineEditClose},
            {Key::LogoLoss, m_ui->lineEditLoss},  {Key::LogoBlind, m_ui->lineEditBlind}};
}

void UpgradeLogoWidget::readConfig()
{
    for (const auto &[key, edit] : keyedEdits())
        edit->setText(ConfigKeys::stringValue(key));
    m_ui->checkBoxSetOEMID->setChecked(ConfigKeys::isOn(Key::OemidSetEn));
    m_ui->checkBoxRepeat->setChecked(ConfigKeys::isOn(Key::OemidRepeatEn));
    m_ui->labelOEMID->setText(ConfigKeys::stringValue(Key::OemidAssigned));
}

void UpgradeLogoWidget::writeConfig(bool linksOnly)
{
    const auto edits = keyedEdits();
    for (std::size_t i = 0; i < (linksOnly ? 2 : edits.size()); ++i)
        warnUnstored(edits[i].first, ConfigKeys::setString(edits[i].first, edits[i].second->text()));
    if (linksOnly)
        return;
    for (const auto &[key, box] :
         {std::pair{Key::OemidSetEn, m_ui->checkBoxSetOEMID}, {Key::OemidRepeatEn, m_ui->checkBoxRepeat}})
        warnUnstored(key, ConfigKeys::setInt(key, box->isChecked() ? 1 : 0));
}

void UpgradeLogoWidget::setIosRowShown(bool shown)
{
    m_ui->labelIOS->setVisible(shown);
    m_ui->labelIosLink->setVisible(shown);
    m_ui->lineEditIOS->setVisible(shown);
    m_ui->labelAndroid->setText(shown ? tr("Android App Link") : tr("App Link"));
}

void UpgradeLogoWidget::prompt(const QString &text)
{
    CMessageBox::information(this, QStringLiteral("Prompt"), text, tr("OK"));
}

LogoPaths UpgradeLogoWidget::formPaths() const
{
    LogoPaths paths;
    paths.boot = m_ui->lineEditBoot->text();
    paths.close = m_ui->lineEditClose->text();
    paths.loss = m_ui->lineEditLoss->text();
    paths.blind = m_ui->lineEditBlind->text();
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
    if (m_controller->startSearch())
        m_ui->groupBoxLink->setEnabled(false);
}

void UpgradeLogoWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_controller->addByHand(&added) >= 0)
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
    LogoRowProbe::Request request;
    request.row = index.row();
    request.generation = m_controller->table()->generation();
    request.password = DeviceRecord::credentialBytes(m_ui->lineEditPassword->text());
    if (ConfigKeys::isOn(Key::ModifyIP))
        request.modifyIP = addressChange();
    m_probe->start(request);
}

void UpgradeLogoWidget::showProbe(const LogoProbeReport &report)
{
    DeviceTable *table = m_controller->table();
    for (const LogoProbeReport::Line &line : report.status)
        table->setStatusText(report.row, line.outcome, line.text);
    if (report.appLinks) {
        m_ui->groupBoxLink->setEnabled(*report.appLinks);
        m_appLinkSupported = *report.appLinks;
    }
    if (report.iosRow)
        setIosRowShown(*report.iosRow);
    emit probeFinished(report.row);
}

std::function<int(int, const QByteArray &)> UpgradeLogoWidget::addressChange() const
{
    DeviceTabController *core = m_controller.get();
    // The rows shown when the run or the probe starts are the ones it changes.
    const quint64 generation = core->table()->generation();
    return [core, generation](int row, const QByteArray &password) {
        core->table()->updateDevice(generation, row, [&password](DEV_INFO &r) {
            DeviceRecord::setFixedText(r.szPsw, password.toStdString());
        });
        return core->modifyIP(generation, row, 1);
    };
}

void UpgradeLogoWidget::on_tableView_doubleClicked(const QModelIndex &)
{
    // A double click does nothing on this tab; a single click belongs to the logo workflow.
}

void UpgradeLogoWidget::choosePicture(QLineEdit *edit, const QString &filter)
{
    const QString file =
        FileOpenDialog::getOpenFileName(this, tr("Choose a file to open"), QStringLiteral("/home"), filter);
    if (!file.isEmpty())
        edit->setText(file);
}

void UpgradeLogoWidget::on_btnSelectBoot_clicked()
{
    choosePicture(m_ui->lineEditBoot, tr("Logo(*.jpg)"));
}

void UpgradeLogoWidget::on_btnSelectClose_clicked()
{
    choosePicture(m_ui->lineEditClose, tr("Logo(*.jpg)"));
}

void UpgradeLogoWidget::on_btnSelectLoss_clicked()
{
    choosePicture(m_ui->lineEditLoss, tr("Logo(*.gif)"));
}

void UpgradeLogoWidget::on_btnSelectBlind_clicked()
{
    choosePicture(m_ui->lineEditBlind, tr("Logo(*.gif)"));
}

bool UpgradeLogoWidget::checkBootLogo(int nType)
{
    const LogoCheck::Outcome outcome = LogoCheck::check(formPaths(), nType);
    showCheck(outcome);
    return outcome.ok();
}

void UpgradeLogoWidget::showCheck(const LogoCheck::Outcome &outcome)
{
    if (!outcome.message.isEmpty()) {
        QWidget *parent = QApplication::activeWindow();
        CMessageBox::information(parent ? parent : this, QStringLiteral("Tips"), outcome.message, tr("OK"));
    }
}

void UpgradeLogoWidget::on_btnCheckBoot_clicked()
{
    // The pictures are decoded off the GUI thread; the verdict comes when they are.
    const LogoPaths paths = formPaths();
    m_logoCheck->start<LogoCheck::Outcome>([paths] { return LogoCheck::check(paths, 0); },
                                           [this](const LogoCheck::Outcome &outcome) { showCheck(outcome); });
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
    DeviceTable *table = m_controller->table();
    int added = 0;
    for (int row : table->checkedRows()) {
        DEV_INFO record;
        if (table->device(table->generation(), row, &record) && m_batch->addDevice(record))
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
    DeviceTableActions::commandAnswered(*m_controller->table(), ret, nError, nIndex, nCmd);
}

void UpgradeLogoWidget::on_checkBoxSetOEMID_clicked()
{
    const bool on = m_ui->checkBoxSetOEMID->isChecked();
    m_ui->checkBoxRepeat->setEnabled(on);
    m_ui->checkBoxRepeat->setCheckable(on);
}

void UpgradeLogoWidget::on_BtnUpload_clicked()
{
    UploadParams params;
    params.appDir = m_dataDir;
    params.host = ConfigKeys::stringValue(Key::UploadHost);
    params.port = ConfigKeys::intValue(Key::UploadPort);
    params.caFile = ConfigKeys::stringValue(Key::UploadCAFile);
    params.variant = OemidVariant::logoTab();

    m_ui->progressBar->setValue(0);
    if (m_upload->start(params))
        m_ui->progressBar->show();
}

void UpgradeLogoWidget::onUpdateProcess()
{
    m_ui->progressBar->setValue(m_ui->progressBar->value() + 1);
}

void UpgradeLogoWidget::onReleaseMouse()
{
    unsetCursor();
    releaseMouse();
}

void UpgradeLogoWidget::onUpgradeDeviceLogo()
{
    const QByteArray password = DeviceRecord::credentialBytes(m_ui->lineEditPassword->text());
    DeviceTable *table = m_controller->table();
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
    stage.links.android = m_ui->lineEditAndroid->text();
    stage.links.ios = m_ui->lineEditIOS->text();
    stage.links.iosShown = !m_ui->labelIOS->isHidden();
    launch(rows, password, stage);
}

void UpgradeLogoWidget::startRun(bool modify)
{
    // A second click while the pictures are still being read would start a second run.
    if (m_runCheck->isRunning())
        return;
    const LogoPaths paths = formPaths();
    m_runCheck->start<LogoCheck::Outcome>([paths] { return LogoCheck::check(paths, 1); },
                                          [this, modify, paths](const LogoCheck::Outcome &outcome) {
                                              showCheck(outcome);
                                              if (outcome.ok())
                                                  startCheckedRun(modify, paths);
                                          });
}

void UpgradeLogoWidget::startCheckedRun(bool modify, const LogoPaths &paths)
{
    m_modifyMode = modify;
    m_oemidRun = false;
    if (modify && !oemidStepUsable(&m_oemidRun))
        return;
    if (const QString problem = m_controller->addressChangeProblem(); !problem.isEmpty()) {
        prompt(problem);
        return;
    }
    m_pictures = paths;
    if (modify)
        writeConfig(true);
    m_appLinkWanted = !m_ui->lineEditAndroid->text().isEmpty() ||
                      (!m_ui->lineEditIOS->text().isEmpty() && !m_ui->lineEditIOS->isHidden());
    onUpgradeDeviceLogo();
}

bool UpgradeLogoWidget::oemidStepUsable(bool *on)
{
    *on = false;
    if (!m_ui->checkBoxSetOEMID->isChecked())
        return true;
    const QString assigned = ConfigKeys::stringValue(Key::OemidAssigned);
    m_ui->labelOEMID->setText(assigned);
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
    params.password = DeviceRecord::credentialBytes(m_ui->lineEditPassword->text());
    params.appDir = m_dataDir;
    params.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned);
    params.allowRepeat = m_ui->checkBoxRepeat->isChecked();
    LogoRunHooks hooks;
    hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    startLogoChecks(*m_controller->batch(), rows, params, hooks);
}

std::shared_ptr<LogoRunState> UpgradeLogoWidget::currentRun() const
{
    return m_runs->currentRun();
}

bool UpgradeLogoWidget::running() const
{
    return m_runCheck->isRunning() || m_runs->running();
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
    params.allowRepeat = m_ui->checkBoxRepeat->isChecked();

    if (m_modifyMode)
        setCursor(Qt::WaitCursor);

    LogoRunController::Run run{rows, params, stage, {}};
    run.hooks.modifyIP = addressChange();
    run.hooks.loginErrorText = [](int code) { return loginErrorText(code); };
    if (m_modifyMode && m_ui->wavesCheck->isChecked()) {
        WaveSettings settings;
        QString problem;
        if (!WaveSettings::fromConfig(&settings, &problem)) {
            onReleaseMouse();
            prompt(problem);
            return;
        }
        DeviceTable *table = m_controller->table();
        // The check marks the run: a failure anywhere in it counts, and the burn must end in success.
        auto endedWell = [table](int row) { return table->endedWell(row); };
        if (!m_runs->startWaves(std::move(run), settings, endedWell)) {
            onReleaseMouse();
            prompt(tr("A logo run is still going. Please wait until every device has finished."));
        }
        return;
    }
    if (!m_runs->start(std::move(run))) {
        // Held until the burns already under way end, which can take minutes: the operator is told.
        prompt(tr("The devices already started are still being burnt. This run starts when they have "
                  "finished."));
    }
}

void UpgradeLogoWidget::waveHalted(const WaveHalt &halt)
{
    if (WaveHaltBox::ask(this, m_runs->waveRun(), halt, WaveRun::Goal::Burnt))
        setCursor(Qt::WaitCursor);
}

void UpgradeLogoWidget::wavesEnded(const WaveEnd &end)
{
    if (end.waves == 0 && !end.cancelled && !end.rowsGone)
        prompt(tr("No ticked device passed the check; nothing was sent."));
}
