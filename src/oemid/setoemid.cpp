#include "setoemid.h"

#include "factoryrecords.h"
#include "oemidtabsteps.h"
#include "oemidwriter.h"
#include "recorduploader.h"
#include "recorduploadrun.h"

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "device/devicebatch.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "settings/devicesettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace
{

QString trTab(const char *text)
{
    return QCoreApplication::translate("SetOEMID", text);
}

template <typename T> T *named(QWidget *parent, const char *name)
{
    auto *w = new T(parent);
    w->setObjectName(QLatin1String(name));
    return w;
}

} // namespace

SetOEMID::SetOEMID(QWidget *parent, const QString &dataDir)
    : DeviceTab(TabKind::Oemid, parent),
      m_dataDir(dataDir.isEmpty() ? QCoreApplication::applicationDirPath() : dataDir)
{
    // 1. The form, the search and the connections.
    buildForm();
    connect(m_setconfig, &QCheckBox::clicked, this, &SetOEMID::setConfigCheckBox);
    connect(m_setoemid, &QCheckBox::clicked, this, &SetOEMID::setOEMIECheckBox);
    connect(m_searchbtn, &QPushButton::clicked, this, &SetOEMID::searchbtnclick);
    connect(m_updatelog, &QPushButton::clicked, this, &SetOEMID::updatelogbtnclick);
    connect(m_core->batch(), &DeviceBatch::finished, this, [this](const BatchSummary &) {
        m_core->table()->flushPending();
        setBatchRunning(false);
        emit batchFinished();
    });

    // 2. The table (the tab's columns, widths and view settings come with its variant).
    bindDeviceWidgets(m_tableView, m_searchbtn, nullptr, nullptr);
    m_setconfig->show();

    // 3. The OEMID to write (the SDK session and the table lock came with the core).
    m_assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned).trimmed();
    if (m_assignedOemid.isEmpty())
        m_assignedOemid = QStringLiteral("000");
    m_label->setText(m_assignedOemid);

    // 4. The factory-record tree, and its upload off the GUI thread.
    m_treeUsable = FactoryRecords(FactoryRecords::Params{m_dataDir, {}, {}}).makeUploadDirs();
    m_upload = new RecordUploadRun(*m_core->table(), this, m_progressBar, m_updatelog);
    connect(m_upload, &RecordUploadRun::finished, this, [this] { m_progressBar->setValue(0); });

    // 5. ModifyIP and StartIndex were read by the core; ModifyIP is read again at every batch.

    // 6.
    m_setoemidbtn->hide();
    m_setoemidbtn->setEnabled(false);
    m_checkBox->setEnabled(false);
    fillCombos();
}

SetOEMID::~SetOEMID()
{
    delete m_upload; // waits for an upload under way
}

void SetOEMID::buildForm()
{
    resize(749, 342);
    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_tableView = named<QTableView>(this, "tableView");
    verticalLayout->addWidget(m_tableView);

    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_label_2 = named<QLabel>(this, "label_2");
    m_label = named<QLabel>(this, "label");
    m_setoemidbtn = named<QPushButton>(this, "setoemidbtn");
    m_progressBar = named<QProgressBar>(this, "progressBar");
    m_progressBar->setValue(0);
    horizontalLayout->addWidget(m_label_2);
    horizontalLayout->addWidget(m_label);
    horizontalLayout->addWidget(m_setoemidbtn);
    horizontalLayout->addWidget(m_progressBar);
    verticalLayout->addLayout(horizontalLayout);

    auto *horizontalLayout_2 = new QHBoxLayout;
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    auto *gridLayout = new QGridLayout;
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    m_setoemid = named<QCheckBox>(this, "setoemid");
    m_checkBox = named<QCheckBox>(this, "checkBox");
    m_synchronizationTime = named<QCheckBox>(this, "synchronizationTime");
    m_setconfig = named<QCheckBox>(this, "setconfig");
    gridLayout->addWidget(m_setoemid, 0, 0);
    gridLayout->addWidget(m_checkBox, 0, 1);
    gridLayout->addWidget(m_synchronizationTime, 1, 0);
    gridLayout->addWidget(m_setconfig, 1, 1);
    horizontalLayout_2->addLayout(gridLayout);

    auto *verticalLayout_2 = new QVBoxLayout;
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    auto *horizontalLayout_3 = new QHBoxLayout;
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    m_zoneCheck = named<QCheckBox>(this, "zoneCheck");
    m_timeZone = named<QComboBox>(this, "timeZone");
    // Sized by a short text rather than the longest item, so the tab fits the smallest main window.
    m_timeZone->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_timeZone->setMinimumContentsLength(4);
    m_timeZone->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    horizontalLayout_3->addWidget(m_zoneCheck);
    horizontalLayout_3->addWidget(m_timeZone);
    verticalLayout_2->addLayout(horizontalLayout_3);
    auto *horizontalLayout_4 = new QHBoxLayout;
    horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    m_language_check = named<QCheckBox>(this, "language_check");
    m_language = named<QComboBox>(this, "language");
    m_language->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_language->setMinimumContentsLength(4);
    m_language->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    horizontalLayout_4->addWidget(m_language_check);
    horizontalLayout_4->addWidget(m_language);
    verticalLayout_2->addLayout(horizontalLayout_4);
    horizontalLayout_2->addLayout(verticalLayout_2);

    m_searchbtn = named<QPushButton>(this, "searchbtn");
    horizontalLayout_2->addWidget(m_searchbtn);
    verticalLayout->addLayout(horizontalLayout_2);

    auto *horizontalLayout_5 = new QHBoxLayout;
    horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
    m_updatelog = named<QPushButton>(this, "updatelog");
    horizontalLayout_5->addWidget(m_updatelog);
    verticalLayout->addLayout(horizontalLayout_5);

    DeviceTabCore::setTabOrder({m_tableView, m_setoemidbtn, m_setoemid, m_checkBox, m_synchronizationTime,
                                m_setconfig, m_zoneCheck, m_timeZone, m_language_check, m_language,
                                m_searchbtn, m_updatelog});
    retranslateUi();
}

void SetOEMID::retranslateUi()
{
    setWindowTitle(trTab(QT_TRANSLATE_NOOP("SetOEMID", "SetOEMID")));
    m_label_2->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "OEMID:")));
    m_setoemidbtn->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "SearchAndSet")));
    m_setoemid->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "SetOEMID")));
    m_checkBox->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "allowrepeat")));
    m_synchronizationTime->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "synchronizationTime")));
    m_setconfig->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "265X->264      ")));
    m_zoneCheck->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "timeZone")));
    m_language_check->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "setlanguage")));
    m_searchbtn->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "SearchAndSet")));
    m_updatelog->setText(trTab(QT_TRANSLATE_NOOP("SetOEMID", "uploadsetedlog")));

    // The combo boxes are labelled by the check boxes beside them, which a screen reader cannot tell.
    m_timeZone->setAccessibleName(trTab(QT_TRANSLATE_NOOP("SetOEMID", "Time zone")));
    m_language->setAccessibleName(trTab(QT_TRANSLATE_NOOP("SetOEMID", "Language")));
    m_progressBar->setAccessibleName(trTab(QT_TRANSLATE_NOOP("SetOEMID", "Upload progress")));
}

void SetOEMID::fillCombos()
{
    const auto &zones = DeviceSettingsLists::timeZones();
    for (int i = 0; i < int(zones.size()); ++i)
        m_timeZone->addItem(DeviceSettingsLists::timeZoneText(i), zones[std::size_t(i)].value);
    m_timeZone->setCurrentIndex(DeviceSettingsLists::defaultTimeZoneIndex());
    const auto &languages = DeviceSettingsLists::languages();
    for (int i = 0; i < int(languages.size()); ++i)
        m_language->addItem(DeviceSettingsLists::languageText(i),
                            QString::fromLatin1(languages[std::size_t(i)]));
    m_language->setCurrentIndex(0);
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
    if (m_setoemid->isChecked()) {
        m_checkBox->setEnabled(true);
        m_checkBox->setCheckable(true);
        warnOnce();
    } else {
        m_checkBox->setEnabled(false);
        // Not checkable any more: repeats are no longer allowed.
        m_checkBox->setChecked(false);
        m_checkBox->setCheckable(false);
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
    const bool any = m_setoemid->isChecked() || m_setconfig->isChecked() ||
                     m_synchronizationTime->isChecked() || m_zoneCheck->isChecked() ||
                     m_language_check->isChecked();
    if (!any) {
        CMessageBox::information(this, QStringLiteral("warning"),
                                 trTab(QT_TRANSLATE_NOOP("SetOEMID", "Please choose way")));
        return;
    }
    startSearch();
}

void SetOEMID::startSearch()
{
    m_core->startSearch();
}

void SetOEMID::stopSearch()
{
    m_core->stopSearch();
    emit searchFinished();
    runOemidBatch();
}

void SetOEMID::setBatchRunning(bool running)
{
    m_batchRunning = running;
    // A search would replace the rows under the batch; an upload would file records being written.
    m_searchbtn->setEnabled(!running);
    m_updatelog->setEnabled(!running && !m_upload->isActive());
    m_setoemidbtn->setEnabled(!running);
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
    OemidTabOptions options;
    options.setOemid = m_setoemid->isChecked();
    options.allowRepeat = m_checkBox->isChecked();
    options.modifyIp = ConfigKeys::isOn(Key::ModifyIP);
    if (const QString problem = m_core->addressChangeProblem(); !problem.isEmpty()) {
        CMessageBox::information(this, QStringLiteral("warning"), problem);
        emit batchFinished();
        return;
    }
    if (options.setOemid) {
        const QString problem = OemidWriter::assignedOemidProblem(m_assignedOemid);
        if (!problem.isEmpty()) {
            CMessageBox::information(this, QStringLiteral("warning"), problem);
            emit batchFinished();
            return;
        }
    }
    SettingsChoice choice;
    choice.codec = m_setconfig->isChecked();
    choice.time = m_synchronizationTime->isChecked();
    choice.zone = m_zoneCheck->isChecked();
    choice.language = m_language_check->isChecked();
    choice.zoneValue = m_timeZone->currentData().toInt();
    choice.languageName = m_language->currentData().toString();

    OemidWriterParams writer;
    writer.assignedOemid = m_assignedOemid;
    writer.variant = OemidVariant::oemidTab();
    writer.appDir = m_dataDir;
    // A day file that cannot be opened is told in the tab's box, on the GUI thread. The batch ends
    // (the tab's core cancels and waits for it) before the tab goes.
    writer.message = [this](const QString &title, const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, title, text] { CMessageBox::information(this, title, text); }, Qt::QueuedConnection);
    };
    DeviceTabCore *core = m_core;

    BatchPlan plan;
    for (int row = 0; row < m_core->table()->rowCount(); ++row)
        plan.rows.push_back(row);
    // The one-second pause after the search, then the devices one at a time in table order.
    plan.options.startDelayMs = 1000;
    plan.options.spacingMs = 0;
    plan.options.maxParallel = 1;
    plan.job = [options, choice, writer, core](BatchContext &ctx) {
        NetSdkOemid sdk;
        OemidWriter oemid(writer, sdk, ctx.rows());
        NetSdkSettings settingsSdk;
        // The settings' texts go under "Status", so that "Destribe" keeps the OEMID step's result.
        DeviceSettings settings(settingsSdk, ctx.rows(), Field::Oemid);
        OemidTabSteps::Hooks hooks;
        hooks.changeIp = [core](int row) { return core->modifyIP(row, 1); };
        if (choice.any())
            hooks.settings = [&settings, &choice](int row) { settings.apply(row, choice); };
        OemidTabSteps(options, oemid, ctx.rows(), hooks).run(ctx.row());
    };
    if (!m_core->batch()->start(std::move(plan))) {
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
