#include "device/cbatchdealthread.h"

#include "device/loginerrortext.h"

#include <QCoreApplication>
#include <QMutexLocker>

// The records of one run, as the engine's rows; nothing is shown anywhere.
class CBatchDealThread::Devices : public DeviceRows
{
public:
    quint64 generation() const override { return 1; }
    int rowCount() const override { return int(m_records.size()); }
    bool device(quint64, int row, DEV_INFO *out) const override
    {
        if (row < 0 || row >= rowCount())
            return false;
        *out = m_records[size_t(row)];
        out->lLoginID = 0;
        return true;
    }
    bool updateDevice(quint64, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        if (row < 0 || row >= rowCount())
            return false;
        change(m_records[size_t(row)]);
        m_records[size_t(row)].lLoginID = 0;
        return true;
    }
    DeviceSession takeSession(quint64, int row) override
    {
        QMutexLocker locker(&m_lock);
        if (row < 0 || row >= int(m_sessions.size()))
            return {};
        return std::move(m_sessions[size_t(row)]);
    }
    DeviceSession giveSession(quint64, int row, DeviceSession session) override
    {
        QMutexLocker locker(&m_lock);
        if (row < 0 || row >= int(m_sessions.size()))
            return session;
        std::swap(session, m_sessions[size_t(row)]);
        return session;
    }
    void post(const RowEvent &) override {}

    // Replaced only while the batch is idle; jobs touch only their own row.
    std::vector<DEV_INFO> m_records;
    std::vector<DeviceSession> m_sessions; ///< beside m_records; the owner takes them after a run
    QMutex m_lock;
};

CBatchDealThread::CBatchDealThread()
    : m_devices(std::make_unique<Devices>()), m_batch(DeviceBatch::create(*m_devices))
{
    connect(m_batch.get(), &DeviceBatch::finished, this, &CBatchDealThread::finished);
}

// m_batch goes first (declared last): it cancels and waits before the rows it runs over go.
CBatchDealThread::~CBatchDealThread() = default;

void CBatchDealThread::cancel()
{
    m_batch->cancel();
}

void CBatchDealThread::setCommand(int nCmd)
{
    QMutexLocker locker(&m_mutex);
    m_command = nCmd;
}

void CBatchDealThread::setTimeout(int ms)
{
    QMutexLocker locker(&m_mutex);
    m_timeout = ms;
}

int CBatchDealThread::command() const
{
    QMutexLocker locker(&m_mutex);
    return m_command;
}

int CBatchDealThread::timeout() const
{
    QMutexLocker locker(&m_mutex);
    return m_timeout;
}

bool CBatchDealThread::addDevice(const DEV_INFO &device, DeviceSession session)
{
    if (m_batch->isActive())
        return false;
    QMutexLocker locker(&m_mutex);
    m_pending.push_back(device);
    m_pendingSessions.push_back(std::move(session));
    return true;
}

DeviceSession CBatchDealThread::takeSession(int position)
{
    if (m_batch->isActive())
        return {};
    return m_devices->takeSession(1, position);
}

int CBatchDealThread::deviceCount() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_pending.size());
}

bool CBatchDealThread::isRunning() const
{
    return m_batch->isActive();
}

bool CBatchDealThread::wait(int timeoutMs)
{
    return m_batch->waitForDone(timeoutMs);
}

void CBatchDealThread::start()
{
    if (m_batch->isActive())
        return;
    int command;
    int timeout;
    {
        QMutexLocker locker(&m_mutex);
        m_devices->m_records.swap(m_pending);
        m_pending.clear();
        m_devices->m_sessions.swap(m_pendingSessions);
        m_pendingSessions.clear();
        command = m_command;
        timeout = m_timeout;
    }
    BatchPlan plan;
    for (int row = 0; row < m_devices->rowCount(); ++row)
        plan.rows.push_back(row);
    plan.options.maxParallel = 1;
    plan.options.marksRun = false;
    plan.job = [this, command, timeout](BatchContext &ctx) { runDevice(ctx, command, timeout); };
    m_batch->start(std::move(plan));
}

void CBatchDealThread::runDevice(const BatchContext &ctx, int command, int timeout)
{
    DEV_INFO dev;
    if (!ctx.rows().device(ctx.row(), &dev))
        return;
    // The row's session, else a login made for this command alone.
    DeviceSession session = ctx.rows().takeSession(ctx.row());
    bool ownLogin = false;
    if (!session) {
        int error = 0;
        session = DeviceSession(H264_DVR_Login(dev.szIpaddress, uint16_t(dev.nPort), dev.szUserName,
                                               dev.szPsw, &dev.NetDevInfo, 1, &error));
        if (!session) {
            // The SDK's last error is per thread: the code travels in the message, since the
            // receiver's thread has a last error of its own.
            if (error == 0)
                error = int(H264_DVR_GetLastError());
            emit message(-1, error, dev.nIndex, 0);
            return;
        }
        ownLogin = true;
    }
    bool done = false;
    if (command == ResetConfig) {
        char flags[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
        const long ret =
            H264_DVR_SetDevConfig(session.id(), NETSDK_CFG_RESET, -1, flags, sizeof flags, timeout);
        done = batchOutcome(int(ret), int(ret), ResetConfig).success();
        emit message(int(ret), int(ret), dev.nIndex, ResetConfig);
    } else if (command == Reboot) {
        int ok = H264_DVR_ControlDVR(session.id(), 0, timeout) ? 1 : 0;
        int error = 0;
        if (!ok) {
            error = int(H264_DVR_GetLastError());
            if (error == NETSDK_ERR_TIMEOUT) // the device went down before it could answer
                ok = 1;
        }
        done = batchOutcome(ok, error, Reboot).success();
        emit message(ok, error, dev.nIndex, Reboot);
    }
    // A login made here ends here. The row's goes back to it unless the device restarts or drops
    // its sessions, when a handle left in the row would make the next action skip its login.
    if (!ownLogin && !done)
        ctx.rows().giveSession(ctx.row(), std::move(session));
}

BatchOutcome batchOutcome(int ret, int nError, int nCmd)
{
    BatchOutcome out;
    switch (nCmd) {
    case 0:
        out.outcome = StatusOutcome::Failure;
        out.text = loginErrorText(nError, LoginTextVariant::Tab, nError);
        break;
    case CBatchDealThread::ResetConfig: {
        const bool ok = ret >= 0 || ret == NETSDK_ERR_TIMEOUT;
        out.outcome = ok ? StatusOutcome::Success : StatusOutcome::Failure;
        out.text = ok ? QCoreApplication::translate("DeviceTable", "Reset Config Successfully")
                      : QCoreApplication::translate("DeviceTable", "Reset Config Failed");
        break;
    }
    case CBatchDealThread::Reboot: {
        const bool ok = ret == 1;
        out.outcome = ok ? StatusOutcome::Success : StatusOutcome::Failure;
        out.text = ok ? QCoreApplication::translate("DeviceTable", "Reboot Successfully")
                      : QCoreApplication::translate("DeviceTable", "Reboot Failed");
        break;
    }
    default:
        break;
    }
    return out;
}
