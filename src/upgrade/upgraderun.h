#pragma once

#include "netsdk/netsdk.h"
#include "upgradelists.h"
#include "upgradeprogress.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

/// Everything a firmware run needs, copied when the run starts: workers never read a widget.
struct UpgradeParams {
    QString packagePath;        ///< the package file sent to every device
    QByteArray packageHardware; ///< "Hardware" of the package's InstallDesc, at most 64 bytes
    QByteArray tabPassword;     ///< used for records without a password
    QString configPath;         ///< configuration file imported before the transfer; empty = none
    bool modifyIP = false;      ///< change each device's address before its worker starts
    bool setOEMID = false;      ///< write the OEMID before each upgrade
    int spacingMs = 1000;       ///< between two worker starts
    int ipChangeWaitMs = 1500;  ///< after a successful address change
    /// The OEMID step for a logged-in device (run when setOEMID is on): writes its status texts into
    /// the row and returns true to go on; `resultText` receives the text kept for the final status.
    std::function<bool(DEV_INFO &record, QString *resultText)> oemidStep;
};

/// The tab's device table as the run sees it. Every call holds the table lock for its duration and
/// may be made from any thread.
class UpgradeTableAccess
{
public:
    virtual ~UpgradeTableAccess() = default;
    /// Copies the row's record; false when the row has none.
    virtual bool copyRowDevice(int row, DEV_INFO *out) = 0;
    /// Replaces a cell's text; the text reaches the view on the GUI thread.
    virtual void setCellText(int row, int column, const QString &text) = 0;
    /// Sets the login handle of the row's record to 0; false when the row has none.
    virtual bool clearRowLogin(int row) = 0;
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
struct UpgradeSdk {
    decltype(&H264_DVR_Login) login = &H264_DVR_Login;
    decltype(&H264_DVR_Logout) logout = &H264_DVR_Logout;
    decltype(&H264_DVR_GetLastError) lastError = &H264_DVR_GetLastError;
    decltype(&H264_DVR_SetDevConfig) setDevConfig = &H264_DVR_SetDevConfig;
    decltype(&H264_DVR_Upgrade) upgrade = &H264_DVR_Upgrade;
    decltype(&H264_DVR_CloseUpgradeHandle) closeUpgrade = &H264_DVR_CloseUpgradeHandle;
};

/// The batch firmware run of one tab: a dispatcher thread that hands each pending device to a worker
/// thread of its own, one start per second, and the SDK's progress callback that reports each
/// device's transfer and outcome into its row.
///
/// Lifetime: the destructor cancels the dispatcher's waits, joins the dispatcher and every worker,
/// then closes every upgrade still running (the SDK runs no callback of an upgrade once its close
/// has returned). Callbacks find their upgrade through a registry and ignore reports for upgrades
/// that are no longer registered, so nothing reaches a run that is gone.
class UpgradeRun
{
public:
    static constexpr int MaxRows = 256;
    static constexpr int StatusColumn = 3;
    static constexpr int IpColumn = 1;
    /// Configuration files above this size are refused rather than cut.
    static constexpr int ImportBufferSize = 131072;
    static constexpr int ImportWaitMs = 10000;

    /// Where a device's worker stopped.
    enum class DeviceOutcome { LoginFailed, OemidFailed, InvalidHardware, StartFailed, Started, Cancelled };

    UpgradeRun(UpgradeTableAccess &table, UpgradeHooks hooks, UpgradeSdk sdk = UpgradeSdk());
    ~UpgradeRun();
    UpgradeRun(const UpgradeRun &) = delete;
    UpgradeRun &operator=(const UpgradeRun &) = delete;

    UpgradeLists &lists() { return m_lists; }
    OemidResultTexts &oemidTexts() { return m_oemidTexts; }

    /// True while the dispatcher, a worker or a started upgrade of this tab is still going.
    bool isActive() const;
    bool isDispatcherAlive() const { return m_dispatcherAlive.load(); }
    /// Number of upgrades started and not yet finished.
    int runningUpgrades() const { return m_runningUpgrades.load(); }

    /// Starts the dispatcher over the pending list. False (nothing started) when one is alive.
    bool start(const UpgradeParams &params);

    /// Cancels the dispatcher, waits for it and the workers, and closes every running upgrade.
    void shutdown();

    /// Imports a configuration file into the device logged in as `loginId` and writes the outcome
    /// into the row. Returns the SDK's result, 0 when there is nothing to send, -1 when the file
    /// cannot be read or is larger than the import buffer (that one reported "ImportConfigFailed").
    int importDevConfig(long loginId, int row, const QString &configPath);

    /// The upgrade of one device, as its worker runs it.
    DeviceOutcome upgradeDevice(const std::shared_ptr<DEV_INFO> &record, const UpgradeParams &params);

    /// The SDK's progress callback; `user` identifies a registered upgrade.
    static void progressCallback(long loginId, long upgradeHandle, int total, int position, void *user);

    /// A started upgrade (opaque outside the run).
    struct Job;

private:
    void dispatch(UpgradeParams params);
    void startWorker(int row, std::shared_ptr<DEV_INFO> record, const UpgradeParams &params);
    bool sleepFor(int ms); // false when cancelled
    bool cancelled() const { return m_cancel.load(); }
    void setStatus(int row, const QString &text);
    void finishJob(const std::shared_ptr<Job> &job, long upgradeHandle);

    UpgradeTableAccess &m_table;
    UpgradeHooks m_hooks;
    UpgradeSdk m_sdk;
    UpgradeLists m_lists;
    OemidResultTexts m_oemidTexts;

    std::thread m_dispatcher;
    std::atomic<bool> m_dispatcherAlive{false};
    std::array<std::thread, MaxRows> m_workers;
    std::array<std::atomic<bool>, MaxRows> m_workerAlive{};
    std::atomic<int> m_runningUpgrades{0};

    std::atomic<bool> m_cancel{false};
    std::mutex m_waitLock;
    std::condition_variable m_wake;
};
