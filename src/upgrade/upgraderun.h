#pragma once

#include "upgradelists.h"
#include "upgradeprogress.h"

#include "device/devicebatch.h"
#include "flash/flashjob.h"
#include "flash/flashverify.h"
#include "flash/waverun.h"
#include "netsdk/netsdk.h"
#include "oemid/oemidstep.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>

/// Everything a firmware run needs, copied when the run starts: workers never read a widget.
struct UpgradeParams {
    QString packagePath;        ///< the package file sent to every device
    QByteArray packageHardware; ///< "Hardware" of the package's InstallDesc, at most 64 bytes
    QByteArray tabPassword;     ///< used for records without a password
    QString configPath;         ///< configuration file imported before the transfer; empty = none
    bool modifyIP = false;      ///< change each device's address before its worker starts
    bool setOEMID = false;      ///< write the OEMID before each upgrade
    int spacingMs = 1000;       ///< between two worker starts
    int maxParallel = 32;       ///< devices in flight at once, each until its transfer ends
    int ipChangeWaitMs = 1500;  ///< after a successful address change
    /// SHA-256 of the package file as it was inspected (or made): a device is sent that version only.
    /// Empty: whatever the path holds when the device's transfer starts.
    QByteArray packageSha256;
    /// Firmware runs: after "Upgrade Success", watch the device restart and check its new version.
    bool verify = false;
    int verifyTimeoutSeconds = 180; ///< time a verified device has to come back and answer
    /// The OEMID step run on each logged-in device when setOEMID is on (its check when devices are
    /// checked).
    std::shared_ptr<const OemidStep> oemidStep;
};

/// Operations of other areas the run calls; each may be called from a dispatcher or worker thread.
struct UpgradeHooks {
    /// The tab variant of the login error texts.
    std::function<QString(int code)> loginErrorText;
    /// Writes the tab password into the row's own record and changes the device's address
    /// (type 1); returns the address change's result (1 = address is the wanted one).
    std::function<int(int row, const QByteArray &password)> modifyIP;
};

/// The SDK functions the run uses; tests may replace them.
struct UpgradeSdk : FlashSdk {
    decltype(&H264_DVR_SetDevConfig) setDevConfig = &H264_DVR_SetDevConfig;
};

/// The firmware upgrade as a job type of the tab's device-batch engine: the engine starts one device
/// per second (after its address change, when configured) and runs each device's procedure (built
/// from the flashing kit's steps) on its pool; the SDK's progress reports reach the device's row through the
/// batch's callback registry until the final one.
///
/// Lifetime: shutdown (and the batch's owner) cancels the waits, joins the jobs and closes every
/// upgrade still running; the SDK runs no callback of an upgrade once its close has returned, and a
/// report whose registration is gone is ignored.
class UpgradeRun
{
public:
    static constexpr int MaxRows = MaxFlashRows;
    /// Configuration files above this size are refused rather than cut.
    static constexpr int ImportBufferSize = 131072;
    static constexpr int ImportWaitMs = 10000;
    /// The final text of a device whose package file was no longer the one inspected.
    static QString packageChangedText();

    /// Where a device's procedure stopped.
    enum class DeviceOutcome { LoginFailed, OemidFailed, InvalidHardware, StartFailed, Started, Cancelled };

    UpgradeRun(DeviceBatch &batch, UpgradeHooks hooks, UpgradeSdk sdk = UpgradeSdk());
    ~UpgradeRun();
    UpgradeRun(const UpgradeRun &) = delete;
    UpgradeRun &operator=(const UpgradeRun &) = delete;

    UpgradeLists &lists() { return m_lists; }
    OemidResultTexts &oemidTexts() { return m_oemidTexts; }
    DeviceBatch &batch() const { return m_batch; }

    /// True while the batch still starts devices, runs a procedure or waits for an upgrade's end.
    bool isActive() const;
    bool isDispatcherAlive() const { return m_batch.isDispatching(); }
    /// Number of upgrades started and not yet finished, verifications included.
    int runningUpgrades() const;
    /// Upgraded devices still being verified.
    int verifying() const { return m_verifier.watching(); }

    /// Starts the run over the pending list (records copied now, parameters copied now). False
    /// (nothing started) while the batch is busy.
    bool start(const UpgradeParams &params);
    /// Starts the run over `rows` of the rows' current generation, records read now. With `marksRun`
    /// false the results add to the run already marked in the table (a wave of a staged run, whose
    /// check marked every device).
    bool startRows(const UpgradeParams &params, const std::vector<int> &rows, bool marksRun);
    /// A staged run with `params`: the devices' check, then each wave with Verify on, so that a wave
    /// ends only when its devices have come back with the new version or been reported. `endedWell`
    /// tells, after each step, whether a row ended ready or verified.
    WaveRun::Steps waveSteps(UpgradeParams params, std::function<bool(int row)> endedWell);

    /// Cancels the run, waits for its jobs and closes every running upgrade.
    void shutdown();

    /// Imports a configuration file into the device logged in as `loginId` and writes the outcome
    /// into the row. Returns the SDK's result, 0 when there is nothing to send, -1 when the file
    /// cannot be read or is larger than the import buffer (that one reported "ImportConfigFailed").
    int importDevConfig(long loginId, int row, const QString &configPath);

    /// The upgrade of one device, as its job runs it.
    DeviceOutcome upgradeDevice(const BatchContext &ctx, const std::shared_ptr<DEV_INFO> &record,
                                const UpgradeParams &params);
    /// Checks a device as its upgrade would before the transfer (login, OEMID decision, hardware),
    /// sends nothing, logs out and writes "Ready" or the text the upgrade would have stopped with;
    /// true = ready. The address change of a run is not made: the device is checked where it is.
    bool checkDevice(const BatchContext &ctx, DEV_INFO record, const UpgradeParams &params);
    /// Checks `rows` of the table, at most MaxCheckParallel at once; false while the batch is busy.
    bool startCheck(const UpgradeParams &params, const QList<int> &rows);
    static constexpr int MaxCheckParallel = MaxFlashChecks;

    /// The same outside a run, on the rows' current generation.
    DeviceOutcome upgradeDevice(const std::shared_ptr<DEV_INFO> &record, const UpgradeParams &params);

private:
    using RecordsByRow = std::map<int, std::shared_ptr<DEV_INFO>>;
    bool startRecords(const UpgradeParams &params, std::shared_ptr<RecordsByRow> records,
                      std::vector<int> rows, bool marksRun);
    static QByteArray runPassword(DEV_INFO &record, const UpgradeParams &params);
    static bool hardwareMatches(const BatchContext &ctx, const DEV_INFO &record, const UpgradeParams &params);
    bool prepareDevice(const BatchContext &ctx, DEV_INFO &record, const UpgradeParams &params);
    int importDevConfig(const BatchContext &ctx, long loginId, const QString &configPath);

    DeviceBatch &m_batch;
    UpgradeHooks m_hooks;
    UpgradeSdk m_sdk;
    UpgradeLists m_lists;
    OemidResultTexts m_oemidTexts;
    UpgradeVerifier m_verifier;
};
