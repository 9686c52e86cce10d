#include "setoemid.h"

#include "factoryrecords.h"
#include "oemidruncontroller.h"
#include "oemidwriter.h"
#include "recorduploader.h"
#include "recorduploadrun.h"
#include "ui_setoemid.h"

#include "app/apppaths.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicebatch.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "settings/devicesettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>

namespace
{

QString trTab(const char *text)
{
    return QCoreApplication::translate("SetOEMID", text);
}

} // namespace

SetOEMID::SetOEMID(QWidget *parent, const QString &dataDir)
    : DeviceTab(TabKind::Oemid, parent), m_ui(std::make_unique<Ui::SetOEMID>()),
      m_dataDir(dataDir.isEmpty() ? AppPaths::current().userDataDir() : dataDir)
{
    // 1. The form and its connections.
    m_ui->setupUi(this);
    connect(m_ui->setconfig, &QCheckBox::clicked, this, &SetOEMID::setConfigCheckBox);
    connect(m_ui->setoemid, &QCheckBox::clicked, this, &SetOEMID::setOEMIECheckBox);
    connect(m_ui->searchbtn, &QPushButton::clicked, this, &SetOEMID::searchbtnclick);
    connect(m_ui->updatelog, &QPushButton::clicked, this, &SetOEMID::updatelogbtnclick);
    connect(m_controller->batch(), &DeviceBatch::finished, this, [this](const BatchSummary &) {
        m_controller->table()->flushPending();
        setBatchRunning(false);
        emit batchFinished();
    });

    // 2. The table (the tab's columns, widths and view settings come with its variant).
    bindDeviceWidgets(m_ui->tableView, m_ui->searchbtn, nullptr, nullptr);
    m_ui->setconfig->show();

    // 3. The OEMID to write (the SDK session and the table lock came with the core).
    m_assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned).trimmed();
    if (m_assignedOemid.isEmpty())
        m_assignedOemid = QStringLiteral("000");
    m_ui->label->setText(m_assignedOemid);

    // 4. The factory-record tree, and its upload off the GUI thread.
    m_treeUsable = FactoryRecords(FactoryRecords::Params{m_dataDir, {}, {}}).makeUploadDirs();
    m_upload =
        std::make_unique<RecordUploadRun>(*m_controller->table(), this, m_ui->progressBar, m_ui->updatelog);
    connect(m_upload.get(), &RecordUploadRun::finished, this, [this] { m_ui->progressBar->setValue(0); });

    // 5. ModifyIP and StartIndex were read by the core; ModifyIP is read again at every batch.
    DeviceTabController *core = m_controller.get();
    m_run = std::make_unique<OemidRunController>(*m_controller->batch(), [core](quint64 generation, int row) {
        return core->modifyIP(generation, row, 1);
    });

    // 6.
    m_ui->setoemidbtn->hide();
    m_ui->setoemidbtn->setEnabled(false);
    m_ui->checkBox->setEnabled(false);
    fillCombos();
}

SetOEMID::~SetOEMID()
{
    cancelWork();
}

void SetOEMID::fillCombos()
{
    const auto &zones = DeviceSettingsLists::timeZones();
    for (int i = 0; i < int(zones.size()); ++i)
        m_ui->timeZone->addItem(DeviceSettingsLists::timeZoneText(i), zones[std::size_t(i)].value);
    m_ui->timeZone->setCurrentIndex(DeviceSettingsLists::defaultTimeZoneIndex());
    const auto &languages = DeviceSettingsLists::languages();
    for (int i = 0; i < int(languages.size()); ++i)
        m_ui->language->addItem(DeviceSettingsLists::languageText(i),
                                QString::fromLatin1(languages[std::size_t(i)]));
    m_ui->language->setCurrentIndex(0);
}

void SetOEMID::warnOnce()
{
    if (m_warned)
        return;
    m_warned = true;
    CMessageBox::information(this, QStringLiteral("warning"),
                             trTab(QT_TRANSLATE_NOOP("SetOEMID", "Please be careful")));
}

void SetOEMID::setOEMIECheckBox()
{
    if (m_ui->setoemid->isChecked()) {
        m_ui->checkBox->setEnabled(true);
        m_ui->checkBox->setCheckable(true);
        warnOnce();
    } else {
        m_ui->checkBox->setEnabled(false);
        // Not checkable any more: repeats are no longer allowed.
        m_ui->checkBox->setChecked(false);
        m_ui->checkBox->setCheckable(false);
    }
}

void SetOEMID::setConfigCheckBox()
{
    warnOnce();
}

void SetOEMID::searchbtnclick()
{
    if (m_batchRunning)
        return;
    const bool any = m_ui->setoemid->isChecked() || m_ui->setconfig->isChecked() ||
                     m_ui->synchronizationTime->isChecked() || m_ui->zoneCheck->isChecked() ||
                     m_ui->language_check->isChecked();
    if (!any) {
        CMessageBox::information(this, QStringLiteral("warning"),
                                 trTab(QT_TRANSLATE_NOOP("SetOEMID", "Please choose way")));
        return;
    }
    startSearch();
}

void SetOEMID::startSearch()
{
    m_controller->startSearch();
}

void SetOEMID::stopSearch()
{
    m_controller->stopSearch();
    emit searchFinished();
    runOemidBatch();
}

void SetOEMID::setBatchRunning(bool running)
{
    m_batchRunning = running;
    // A search would replace the rows under the batch; an upload would file records being written.
    m_ui->searchbtn->setEnabled(!running);
    m_ui->updatelog->setEnabled(!running && !m_upload->isActive());
    m_ui->setoemidbtn->setEnabled(!running);
    if (running) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
        releaseMouse();
    }
    emit batchRunningChanged(running);
}

void SetOEMID::runOemidBatch()
{
    if (!m_treeUsable) {
        CMessageBox::information(this, QStringLiteral("warning"),
                                 trTab(QT_TRANSLATE_NOOP("SetOEMID", "Create uploaddir failed")));
        emit batchFinished();
        return;
    }
    if (const QString problem = m_controller->addressChangeProblem(); !problem.isEmpty()) {
        CMessageBox::information(this, QStringLiteral("warning"), problem);
        emit batchFinished();
        return;
    }
    OemidRunOptions options;
    options.setOemid = m_ui->setoemid->isChecked();
    options.allowRepeat = m_ui->checkBox->isChecked();
    options.modifyIp = ConfigKeys::isOn(Key::ModifyIP);
    options.settings.codec = m_ui->setconfig->isChecked();
    options.settings.time = m_ui->synchronizationTime->isChecked();
    options.settings.zone = m_ui->zoneCheck->isChecked();
    options.settings.language = m_ui->language_check->isChecked();
    options.settings.zoneValue = m_ui->timeZone->currentData().toInt();
    options.settings.languageName = m_ui->language->currentData().toString();
    options.assignedOemid = m_assignedOemid;
    options.dataDir = m_dataDir;
    // A day file that cannot be opened is told in the tab's box, on the GUI thread. The batch ends
    // (the tab's core cancels and waits for it) before the tab goes.
    options.message = [this](const QString &title, const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, title, text] { CMessageBox::information(this, title, text); }, Qt::QueuedConnection);
    };

    std::vector<int> rows;
    for (int row = 0; row < m_controller->table()->rowCount(); ++row)
        rows.push_back(row);
    QString problem;
    if (!m_run->start(options, rows, &problem)) {
        if (!problem.isEmpty())
            CMessageBox::information(this, QStringLiteral("warning"), problem);
        emit batchFinished();
        return;
    }
    setBatchRunning(true);
}

void SetOEMID::updatelogbtnclick()
{
    if (m_batchRunning)
        return;
    UploadParams params;
    params.appDir = m_dataDir;
    params.host = ConfigKeys::stringValue(Key::UploadHost);
    params.port = ConfigKeys::intValue(Key::UploadPort);
    params.caFile = ConfigKeys::stringValue(Key::UploadCAFile);
    params.variant = OemidVariant::oemidTab();
    m_upload->start(params);
}
