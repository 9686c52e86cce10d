#pragma once

#include "flash/waveplan.h"
#include "flash/waverun.h"
#include "upgrade/upgraderun.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class PackageInspector;
namespace UpgradePackage
{
struct Inspection;
}

/// What an Upgrade click (or a check of devices) takes from the firmware tab's form and Config.ini,
/// copied at the click: nothing later reads the form.
struct UpgradeRequest {
    QString packagePath;    ///< the package to send; empty = none chosen
    QString configPath;     ///< configuration file imported before each transfer; empty = none
    QByteArray tabPassword; ///< for records without a password
    bool setOEMID = false;  ///< write the assigned OEMID before each upgrade
    bool allowRepeat = false;
    QString assignedOemid; ///< the OEMID to write ("000" = unassigned, refused)
    QString dataDir;       ///< root of the scratch directory and the factory records
    bool modifyIP = false; ///< change each device's address before it starts
    int startIndex = 20;   ///< first host number the address change hands out
    bool verify = false;   ///< watch each upgraded device come back with its new version
    int verifyTimeoutSeconds = 180;
    int spacingMs = 1000;
    int maxParallel = 32;
    /// Check every device, then upgrade in waves with Verify on (see WaveRun). Not read from
    /// Config.ini: the caller decides ([Waves] Enabled is the tab's box).
    bool waves = false;
    WaveSettings waveSettings;
    QString waveSettingsProblem; ///< why [Waves] did not read; refuses a run in waves

    /// The Config.ini half (address change, verification, pacing, assigned OEMID); the caller fills
    /// in the rest.
    static UpgradeRequest fromConfig();
};

/// The firmware tab's sequencing, without its widgets: the checks of an Upgrade click, the package
/// inspection off the GUI thread, the run's start over a snapshot of rows and the refusal of a second
/// run while one is under way. What the operator must be told comes out as prompt().
///
/// Threads: every call on the controller's thread (the GUI thread in the window); prompt() and
/// runStarted() come on that thread. The destructor cancels the inspection, then the run, and waits
/// for both; no result is delivered afterwards.
class UpgradeRunController : public QObject
{
    Q_OBJECT
public:
    UpgradeRunController(DeviceBatch &batch, UpgradeHooks hooks, UpgradeSdk sdk = UpgradeSdk(),
                         QObject *parent = nullptr);
    ~UpgradeRunController() override;

    UpgradeRun &run() const { return *m_run; }
    /// True while a click's package inspection runs (before its run starts).
    bool inspecting() const;
    /// The staged run of requests with `waves` on; its signals tell of a halt and of its end.
    WaveRun &waveRun() const { return *m_waves; }
    /// How a staged run learns, after each step, whether a row's device ended well (ready, or
    /// upgraded and verified, with no failure reported since the check). Required for waves.
    void setEndedWell(std::function<bool(int row)> endedWell) { m_endedWell = std::move(endedWell); }
    /// True while a run is under way (between waves included) or a click's package is still being
    /// inspected.
    bool busy() const { return inspecting() || m_run->isActive() || m_waves->busy(); }

    /// The Upgrade click over `rows` of the rows' generation `generation` (the ticked rows at the
    /// click): checks the request, inspects its package off this thread, then starts the run over the
    /// rows still of that generation. Refusals come as prompt(); runStarted() once the run goes. With
    /// `request.waves` the run is a staged one (waveRun()).
    void startUpgrade(const UpgradeRequest &request, quint64 generation, const std::vector<int> &rows);
    /// "Check devices": the run's checks on `rows` (current generation), nothing sent.
    void startCheck(const UpgradeRequest &request, const QList<int> &rows);
    /// Imports the last started run's configuration file into the device logged in as `loginId`.
    int importDevConfig(long loginId, int row);
    /// Prompts and returns true while a run is under way: records, rows and the run's settings are in
    /// use until every device has reported its end.
    bool refuseWhileRunning();
    /// Cancels the inspection and the run and waits for both.
    void shutdown();

signals:
    /// A text for the operator: why the click did nothing, or what it found wrong.
    void prompt(const QString &text);
    /// A run's devices (or a check's) have been handed to the batch.
    void runStarted();
    /// The package was refused (the reason came as prompt() just before): a caller that must tell a
    /// refused package from other refusals (tallowctl's exit code) need not read the words.
    void packageRefused();

private:
    /// The run's parameters, all but the package's own; false after prompting why not.
    bool runParams(const UpgradeRequest &request, UpgradeParams *params);
    /// Takes the package's hardware and digest into `params`; false (after a prompt) when refused.
    bool applyInspection(const UpgradePackage::Inspection &inspection, UpgradeParams *params);
    /// Inspects the package of `params` off this thread, then calls `next` with the completed
    /// parameters here, unless the package was refused or a run began meanwhile.
    void inspectThen(const UpgradeParams &params, std::function<void(const UpgradeParams &)> next);
    /// Checks the rows still of `generation`, then upgrades them in waves.
    void startWaves(const UpgradeParams &inspected, const WaveSettings &settings, quint64 generation,
                    const std::vector<int> &rows);

    // Declared in the order they may die: the inspection ends before the run it would start.
    std::unique_ptr<UpgradeRun> m_run;
    std::unique_ptr<PackageInspector> m_inspector;
    std::unique_ptr<WaveRun> m_waves; ///< its steps call the run
    std::function<bool(int row)> m_endedWell;
    QString m_configPath; ///< of the last started run, for importDevConfig
};
