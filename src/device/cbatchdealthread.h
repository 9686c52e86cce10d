#pragma once

#include "device/devicebatch.h"
#include "device/devicesession.h"
#include "device/statusoutcome.h"
#include "netsdk/netsdk.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

/// Runs one simple command (1 reset configuration, 2 reboot) over a list of devices, one after
/// another, and reports each device through message(). It knows nothing about tables or texts: a
/// job type on the device-batch engine whose rows are its own copies of the records.
///
/// The device list is filled only while no run is going on: addDevice() refuses (returns false)
/// while one is, so a run never sees its list change. Destroying it cancels the run (no further
/// device starts) and waits for the device in hand.
class CBatchDealThread : public QObject
{
    Q_OBJECT
public:
    enum Command { ResetConfig = 1, Reboot = 2 };

    CBatchDealThread();
    ~CBatchDealThread() override;

    void setCommand(int nCmd);
    void setTimeout(int ms);
    int command() const;
    int timeout() const;
    /// Appends a copy of the record for the next run, with the row's session when it has one (the
    /// run owns it from then on); false (nothing added, the session ends) while a run is going on.
    bool addDevice(const DEV_INFO &device, DeviceSession session = {});
    /// After a run: the session a device kept because its command failed (the device is still up),
    /// by position in the run; empty when none. A command that went through ends the session,
    /// since the device restarts or drops its sessions.
    DeviceSession takeSession(int position);
    int deviceCount() const;

    /// Runs the command over the devices added since the last run (none: ends at once).
    void start();
    bool isRunning() const;
    /// Asks the run to stop without waiting: no further device starts.
    void cancel();
    /// Blocks until the run has ended (tests); false on time-out.
    bool wait(int timeoutMs);

signals:
    /// One per device: nCmd 0 = login failed (ret -1, nError the login error), 1 = reset sent
    /// (ret = nError = the SDK result), 2 = reboot sent (ret 1 or 0, nError 0 or the SDK's last error).
    void message(int ret, int nError, int nIndex, int nCmd);
    /// The run has ended; every message() of it was emitted before.
    void finished();

private:
    class Devices;
    void runDevice(const BatchContext &ctx, int command, int timeout);

    mutable QMutex m_mutex; // guards the settings and the pending list, never held across SDK calls
    int m_command = 0;
    int m_timeout = 8000;
    std::vector<DEV_INFO> m_pending;
    std::vector<DeviceSession> m_pendingSessions; ///< beside m_pending
    std::unique_ptr<Devices> m_devices;           ///< the running list, the batch's rows
    DeviceBatch::Ptr m_batch;
};

/// How a batch message reads in a tab's status column, and what it says.
struct BatchOutcome {
    StatusOutcome outcome = StatusOutcome::Neutral;
    QString text;
    bool success() const { return outcome == StatusOutcome::Success; }
};
/// Success rule: reset when ret >= 0 or ret = -10005; reboot when ret = 1; texts translated.
BatchOutcome batchOutcome(int ret, int nError, int nCmd);
