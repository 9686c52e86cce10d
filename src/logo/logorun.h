#pragma once

#include "device/devicebatch.h"
#include "flash/flashjob.h"
#include "logo/logopackage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

/// What a logo run needs, copied from the form when it starts.
struct LogoRunParams {
    bool modify = true;    ///< burn (one package for the run) or make only (one package per device)
    QByteArray password;   ///< the tab password, for every login of the run
    bool modifyIP = false; ///< change each device's address first
    QString appDir;        ///< root of the working directories and factory records
    bool setOEMID = false; ///< write the OEMID before each burn
    QString assignedOemid;
    bool allowRepeat = false;
    int spacingMs = 1000;      ///< between two burn starts
    int maxParallel = 32;      ///< devices in flight at once, each until its burn's transfer ends
    int ipChangeWaitMs = 1500; ///< after a successful address change
};

/// Operations of other areas the run calls, from the batch's threads.
struct LogoRunHooks {
    /// Writes the password into the row's record and changes the device's address (type 1).
    std::function<int(int row, const QByteArray &password)> modifyIP;
    std::function<QString(int code)> loginErrorText;
    /// Make-only mode: a package was made (show it to the operator).
    std::function<void(const QString &path)> packageMade;
};

/// The state one run shares between its make step, its burn jobs and their SDK callbacks: the
/// package, the logins handed from the make step to the burn, and the count of devices whose work
/// has ended. When that count reaches the number of devices, `allDone` runs once (on whichever
/// thread ended the last device).
class LogoRunState
{
public:
    LogoRunState(const QString &appDir, int total, std::function<void()> allDone);
    /// Logs out the logins the make step handed on that no burn took (the run was cancelled).
    ~LogoRunState();
    LogoRunState(const LogoRunState &) = delete;
    LogoRunState &operator=(const LogoRunState &) = delete;

    int total() const { return m_total; }
    int done() const { return m_done.load(); }
    /// Counts one device as finished.
    void deviceDone();

    /// A newer run has replaced this one: its devices not yet started are dropped.
    void supersede() { m_superseded = true; }
    bool superseded() const { return m_superseded.load(); }

    QString package() const;
    /// SHA-256 of the run's package as it was made: the burn sends that version of the file only.
    QByteArray packageSha256() const;
    /// Every package this run made, in order.
    QStringList made() const;

    /// Dispatcher thread only.
    LogoPackageBuilder &builder() { return m_builder; }
    /// Records a package just made; the first one is the run's and is hashed now.
    void addPackage(const QString &path);

    /// The make step's session for `row`, kept for the row's burn: the run's own, never the row's, so
    /// that nothing done to the table (a search, a reset) can end it under the transfer. One already
    /// held for the row ends.
    void holdLogin(int row, DeviceSession session);
    /// The session held for `row` (empty when none); the caller owns it from now on.
    DeviceSession takeLogin(int row);

private:
    const int m_total;
    std::atomic<int> m_done{0};
    std::atomic<bool> m_superseded{false};
    std::function<void()> m_allDone;
    LogoPackageBuilder m_builder;
    mutable std::mutex m_lock;
    QStringList m_made;
    std::map<int, DeviceSession> m_logins; ///< under m_lock; the ones never taken end with the run
    QByteArray m_sha256;
};

/// The logo run as jobs of the device-batch engine. The make step is the plan's `prepare`, run by
/// the dispatcher in table order: address change, login, logo-partition record, package (once per
/// run in modify mode, for every device in make-only mode). The burn is the plan's job, one device
/// per second: the flashing kit's steps on the session the make step (or the row) handed on, the
/// OEMID step, the transfer of the run's package. Each device's session belongs to the run from its
/// login (or from taking the row's) until the burn ends; the row holds none meanwhile.
BatchPlan logoPlan(const std::vector<int> &rows, const LogoRunParams &params,
                   const std::shared_ptr<LogoRunState> &state, const LogoRunHooks &hooks,
                   const FlashSdk &sdk = FlashSdk());

/// Checks devices on the logo tab: the burn's login with the tab password, its logo-partition read
/// and (when `params.setOEMID`) its OEMID decision, at most MaxFlashChecks at once. Nothing is made
/// or sent; "Ready" or the text the burn would have stopped with. False while the batch is busy.
bool startLogoChecks(DeviceBatch &batch, const QList<int> &rows, const LogoRunParams &params,
                     const LogoRunHooks &hooks, const FlashSdk &sdk = FlashSdk());
