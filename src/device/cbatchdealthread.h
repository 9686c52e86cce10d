#pragma once

#include "netsdk/netsdk.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>
#include <vector>

/// Runs one simple command (1 reset configuration, 2 reboot) over a list of devices, one after
/// another, and reports each device through message(). It knows nothing about tables or texts.
///
/// The device list is filled only while the thread is idle: addDevice() refuses (returns false)
/// while a run is in progress, so a run never sees its list change.
class CBatchDealThread : public QThread
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
    /// Appends a copy of the record for the next run; false (nothing added) while a run is going on.
    bool addDevice(const DEV_INFO &device);
    int deviceCount() const;

signals:
    /// One per device: nCmd 0 = login failed (ret -1, nError the login error), 1 = reset sent
    /// (ret = nError = the SDK result), 2 = reboot sent (ret 1 or 0, nError 0 or the SDK's last error).
    void message(int ret, int nError, int nIndex, int nCmd);

protected:
    void run() override;

private:
    mutable QMutex m_mutex; // guards the settings and the running flag, never held across SDK calls
    int m_command = 0;
    int m_timeout = 8000;
    bool m_running = false;
    std::vector<std::unique_ptr<DEV_INFO>> m_devices;
};

/// How a batch message reads in a tab's status column.
struct BatchOutcome {
    bool success = false;
    QString text;
};
/// Success rule: reset when ret >= 0 or ret = -10005; reboot when ret = 1; texts translated.
BatchOutcome batchOutcome(int ret, int nError, int nCmd);
