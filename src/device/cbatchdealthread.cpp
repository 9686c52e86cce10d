#include "device/cbatchdealthread.h"

#include "device/loginerrortext.h"

#include <QCoreApplication>
#include <QMutexLocker>

CBatchDealThread::CBatchDealThread() : QThread(nullptr) {}

CBatchDealThread::~CBatchDealThread()
{
    requestInterruption();
    wait();
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

bool CBatchDealThread::addDevice(const DEV_INFO &device)
{
    QMutexLocker locker(&m_mutex);
    if (m_running || isRunning())
        return false;
    m_devices.push_back(std::make_unique<DEV_INFO>(device));
    return true;
}

int CBatchDealThread::deviceCount() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_devices.size());
}

void CBatchDealThread::run()
{
    std::vector<std::unique_ptr<DEV_INFO>> devices;
    int command;
    int timeout;
    {
        QMutexLocker locker(&m_mutex);
        m_running = true;
        devices.swap(m_devices);
        command = m_command;
        timeout = m_timeout;
    }

    for (const auto &dev : devices) {
        if (isInterruptionRequested())
            break;
        bool ownLogin = false;
        if (dev->lLoginID <= 0) {
            int error = 0;
            dev->lLoginID = int32_t(H264_DVR_Login(dev->szIpaddress, uint16_t(dev->nPort), dev->szUserName,
                                                   dev->szPsw, &dev->NetDevInfo, 1, &error));
            if (dev->lLoginID <= 0) {
                // The SDK's last error is per thread: the code travels in the message, since the
                // receiver's thread has a last error of its own.
                if (error == 0)
                    error = int(H264_DVR_GetLastError());
                emit message(-1, error, dev->nIndex, 0);
                continue;
            }
            ownLogin = true;
        }
        if (command == ResetConfig) {
            char flags[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
            const long ret =
                H264_DVR_SetDevConfig(dev->lLoginID, NETSDK_CFG_RESET, -1, flags, sizeof flags, timeout);
            emit message(int(ret), int(ret), dev->nIndex, ResetConfig);
        } else if (command == Reboot) {
            int ok = H264_DVR_ControlDVR(dev->lLoginID, 0, timeout) ? 1 : 0;
            int error = 0;
            if (!ok) {
                error = int(H264_DVR_GetLastError());
                if (error == NETSDK_ERR_TIMEOUT) // the device went down before it could answer
                    ok = 1;
            }
            emit message(ok, error, dev->nIndex, Reboot);
        }
        // Logins made here live only in this copy; the row's own login is the tab's business.
        if (ownLogin)
            H264_DVR_Logout(dev->lLoginID);
    }

    QMutexLocker locker(&m_mutex);
    m_running = false;
}

BatchOutcome batchOutcome(int ret, int nError, int nCmd)
{
    BatchOutcome out;
    switch (nCmd) {
    case 0:
        out.text = loginErrorText(nError, LoginTextVariant::Tab, nError);
        break;
    case CBatchDealThread::ResetConfig:
        out.success = ret >= 0 || ret == NETSDK_ERR_TIMEOUT;
        out.text = out.success ? QCoreApplication::translate("DeviceTable", "Reset Config Successfully")
                               : QCoreApplication::translate("DeviceTable", "Reset Config Failed");
        break;
    case CBatchDealThread::Reboot:
        out.success = ret == 1;
        out.text = out.success ? QCoreApplication::translate("DeviceTable", "Reboot Successfully")
                               : QCoreApplication::translate("DeviceTable", "Reboot Failed");
        break;
    default:
        break;
    }
    return out;
}
