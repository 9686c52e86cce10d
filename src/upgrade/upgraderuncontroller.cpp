#include "upgraderuncontroller.h"

#include "app/configkeys.h"
#include "device/ipchange.h"
#include "oemid/factoryrecords.h"
#include "oemid/oemidwriter.h"
#include "upgrade/packageinspector.h"
#include "upgrade/upgradepackage.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <algorithm>

// The texts keep the firmware tab's translation context: the operator sees them on that tab.

UpgradeRequest UpgradeRequest::fromConfig()
{
    UpgradeRequest request;
    request.modifyIP = ConfigKeys::isOn(Key::ModifyIP);
    request.verify = ConfigKeys::isOn(Key::Verify);
    request.verifyTimeoutSeconds = std::max(1, ConfigKeys::intValue(Key::VerifyTimeout));
    const ConfigKeys::RunPacing pacing = ConfigKeys::runPacing();
    request.spacingMs = pacing.spacingMs;
    request.maxParallel = pacing.maxParallel;
    request.assignedOemid = ConfigKeys::stringValue(Key::OemidAssigned);
    // Whether to go in waves is the caller's (the tab's box, a command's flag); how, Config.ini's.
    WaveSettings::fromConfig(&request.waveSettings, &request.waveSettingsProblem);
    return request;
}

UpgradeRunController::UpgradeRunController(DeviceBatch &batch, UpgradeHooks hooks, UpgradeSdk sdk,
                                           QObject *parent)
    : QObject(parent), m_run(std::make_unique<UpgradeRun>(batch, std::move(hooks), sdk)),
      m_inspector(std::make_unique<PackageInspector>()), m_waves(std::make_unique<WaveRun>(batch))
{
}

UpgradeRunController::~UpgradeRunController()
{
    shutdown();
}

void UpgradeRunController::shutdown()
{
    // A package still being read reports to nobody; then nothing of the run outlives the batch.
    m_inspector->cancelAndWait();
    m_waves->stop();
    m_run->shutdown();
}

bool UpgradeRunController::inspecting() const
{
    return m_inspector->isRunning();
}

bool UpgradeRunController::refuseWhileRunning()
{
    if (!m_run->isActive() && !m_waves->busy())
        return false;
    emit prompt(QCoreApplication::translate("UpgradeWidget", "An upgrade is still running. Please wait until "
                                                             "every device has finished."));
    return true;
}

bool UpgradeRunController::runParams(const UpgradeRequest &request, UpgradeParams *params)
{
    params->setOEMID = request.setOEMID;
    params->modifyIP = request.modifyIP;
    params->verify = request.verify;
    params->verifyTimeoutSeconds = request.verifyTimeoutSeconds;
    params->spacingMs = request.spacingMs;
    params->maxParallel = request.maxParallel;
    params->packagePath = request.packagePath;
    if (params->packagePath.isEmpty()) {
        emit prompt(QCoreApplication::translate("UpgradeWidget", "Please Select a Program"));
        return false;
    }
    if (request.modifyIP) {
        if (const QString problem = IpChange::startIndexProblem(request.startIndex); !problem.isEmpty()) {
            emit prompt(problem);
            return false;
        }
    }
    if (request.setOEMID) {
        QString problem = OemidWriter::assignedOemidProblem(request.assignedOemid);
        // Verified writes need somewhere to leave their records.
        if (problem.isEmpty())
            FactoryRecords(FactoryRecords::Params{request.dataDir, {}, {}}).makeUploadDirs(&problem);
        if (!problem.isEmpty()) {
            emit prompt(problem);
            return false;
        }
        OemidStep::Params oemid;
        oemid.assignedOemid = request.assignedOemid;
        oemid.allowRepeat = request.allowRepeat;
        oemid.appDir = request.dataDir;
        params->oemidStep = std::make_shared<const OemidStep>(oemid);
    }
    params->configPath = request.configPath;
    params->tabPassword = request.tabPassword;
    return true;
}

bool UpgradeRunController::applyInspection(const UpgradePackage::Inspection &inspection,
                                           UpgradeParams *params)
{
    const bool refused = inspection.status != UpgradePackage::Inspection::Ok &&
                         inspection.status != UpgradePackage::Inspection::Cancelled;
    const auto tellRefused = qScopeGuard([this, refused] {
        if (refused)
            emit packageRefused();
    });
    switch (inspection.status) {
    case UpgradePackage::Inspection::Ok:
        params->packageHardware = inspection.hardware;
        params->packageSha256 = inspection.sha256;
        return true;
    case UpgradePackage::Inspection::UnzipFailed:
        emit prompt(QCoreApplication::translate("UpgradeWidget", "UnZip Program Fail"));
        return false;
    case UpgradePackage::Inspection::InstallDescFailed:
        emit prompt(QCoreApplication::translate("UpgradeWidget", "Open InstallDesc Fail"));
        return false;
    case UpgradePackage::Inspection::TooLarge: {
        const UpgradePackage::Limits limits;
        emit prompt(QCoreApplication::translate("UpgradeWidget",
                                                "UnZip Program Fail: the package unpacks to more than %1 MB "
                                                "or %2 files")
                        .arg(limits.unpackedBytes >> 20)
                        .arg(limits.entries));
        return false;
    }
    case UpgradePackage::Inspection::NoMemory:
        emit prompt(QCoreApplication::translate("UpgradeWidget", "UnZip Program Fail: out of memory"));
        return false;
    case UpgradePackage::Inspection::Changed:
        emit prompt(QCoreApplication::translate("UpgradeWidget",
                                                "UnZip Program Fail: the package changed while it was read"));
        return false;
    case UpgradePackage::Inspection::Cancelled:
        return false;
    }
    return false;
}

void UpgradeRunController::inspectThen(const UpgradeParams &params,
                                       std::function<void(const UpgradeParams &)> next)
{
    // The inspector's result is queued to the inspector; it lives on this object's thread.
    m_inspector->start(params.packagePath,
                       [this, params, next](const UpgradePackage::Inspection &inspection) {
                           UpgradeParams inspected = params;
                           if (!applyInspection(inspection, &inspected) || refuseWhileRunning())
                               return;
                           next(inspected);
                       });
}

void UpgradeRunController::startUpgrade(const UpgradeRequest &request, quint64 generation,
                                        const std::vector<int> &rows)
{
    // A second click while the package is still being read would start a second run.
    if (refuseWhileRunning() || inspecting())
        return;
    m_run->oemidTexts().clear();
    if (request.waves && !request.waveSettingsProblem.isEmpty()) {
        emit prompt(request.waveSettingsProblem);
        return;
    }
    UpgradeParams params;
    if (!runParams(request, &params))
        return;
    if (request.waves) {
        inspectThen(params, [this, generation, rows,
                             settings = request.waveSettings](const UpgradeParams &inspected) {
            startWaves(inspected, settings, generation, rows);
        });
        return;
    }
    inspectThen(params, [this, generation, rows](const UpgradeParams &inspected) {
        m_configPath = inspected.configPath;
        UpgradeLists &lists = m_run->lists();
        lists.clearLists();
        const DeviceRows &table = m_run->batch().deviceRows();
        for (int row : rows) {
            DEV_INFO record;
            // Rows replaced by a search meanwhile are not the ones ticked at the click.
            if (table.device(generation, row, &record))
                lists.pushDevice(record, UpgradeLists::Pending);
        }
        if (lists.deviceCount(UpgradeLists::Pending) == 0) {
            emit prompt(QCoreApplication::translate("UpgradeWidget", "Please Select a Device"));
            return;
        }
        if (m_run->start(inspected))
            emit runStarted();
    });
}

void UpgradeRunController::startWaves(const UpgradeParams &inspected, const WaveSettings &settings,
                                      quint64 generation, const std::vector<int> &rows)
{
    m_configPath = inspected.configPath;
    m_run->lists().clearLists();
    const DeviceRows &table = m_run->batch().deviceRows();
    std::vector<int> current;
    DEV_INFO record;
    for (int row : rows) {
        // Rows replaced by a search meanwhile are not the ones ticked at the click.
        if (generation == table.generation() && table.device(generation, row, &record))
            current.push_back(row);
    }
    if (current.empty()) {
        emit prompt(QCoreApplication::translate("UpgradeWidget", "Please Select a Device"));
        return;
    }
    if (!m_endedWell) {
        // A caller that cannot tell how its devices ended cannot run waves; it is told, not left waiting.
        emit prompt(QCoreApplication::translate("UpgradeWidget", "Runs in waves are not available here."));
        return;
    }
    if (m_waves->start(current, settings, m_run->waveSteps(inspected, m_endedWell)))
        emit runStarted();
}

void UpgradeRunController::startCheck(const UpgradeRequest &request, const QList<int> &rows)
{
    if (refuseWhileRunning() || inspecting())
        return;
    UpgradeParams params;
    if (!runParams(request, &params))
        return;
    inspectThen(params, [this, rows](const UpgradeParams &inspected) {
        if (rows.isEmpty()) {
            emit prompt(QCoreApplication::translate("UpgradeWidget", "Please Select a Device"));
            return;
        }
        if (m_run->startCheck(inspected, rows))
            emit runStarted();
    });
}

int UpgradeRunController::importDevConfig(long loginId, int row)
{
    return m_run->importDevConfig(loginId, row, m_configPath);
}
