#include "upgraderun.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QMutex>

#include <cstring>
#include <vector>

namespace
{

QString trUpgrade(const char *text)
{
    return QCoreApplication::translate("UpgradeWidget", text);
}

QByteArray fieldText(const char *field, std::size_t width)
{
    return QByteArray(field, int(strnlen(field, width)));
}

template <std::size_t N> QByteArray fieldText(const char (&field)[N])
{
    return fieldText(field, N);
}

} // namespace

/// One started upgrade, the user data of its SDK callbacks (through its registry token).
struct UpgradeRun::Job {
    UpgradeRun *run = nullptr;
    std::shared_ptr<DEV_INFO> record;
    int row = 0;
    long handle = 0;
    // Held by the worker across the upgrade start and its "Start Upgrade" text, so that an early
    // report of the SDK can never be overwritten by that text. Recursive in case an SDK reports
    // on the starting thread itself.
    std::recursive_mutex startLock;
};

namespace
{

// The registry of started upgrades. A callback looks its upgrade up here and ignores a report
// whose upgrade is no longer registered, whatever the SDK hands back as user data.
struct JobRegistry {
    QMutex lock;
    QHash<quintptr, std::shared_ptr<UpgradeRun::Job>> jobs;
    quintptr nextToken = 1;
};

JobRegistry &registry()
{
    static JobRegistry instance;
    return instance;
}

} // namespace

UpgradeRun::UpgradeRun(UpgradeTableAccess &table, UpgradeHooks hooks, UpgradeSdk sdk)
    : m_table(table), m_hooks(std::move(hooks)), m_sdk(sdk)
{
    for (auto &alive : m_workerAlive)
        alive = false;
}

UpgradeRun::~UpgradeRun()
{
    shutdown();
}

bool UpgradeRun::isActive() const
{
    if (m_dispatcherAlive.load() || m_runningUpgrades.load() > 0)
        return true;
    for (const auto &alive : m_workerAlive) {
        if (alive.load())
            return true;
    }
    return false;
}

bool UpgradeRun::start(const UpgradeParams &params)
{
    if (m_dispatcherAlive.load())
        return false;
    if (m_dispatcher.joinable())
        m_dispatcher.join(); // the previous dispatcher has already left its loop
    {
        std::lock_guard<std::mutex> lock(m_waitLock);
        m_cancel = false;
    }
    m_dispatcherAlive = true;
    m_dispatcher = std::thread(&UpgradeRun::dispatch, this, params);
    return true;
}

void UpgradeRun::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_waitLock);
        m_cancel = true;
    }
    m_wake.notify_all();
    if (m_dispatcher.joinable())
        m_dispatcher.join();
    for (auto &worker : m_workers) {
        if (worker.joinable())
            worker.join();
    }

    std::vector<std::shared_ptr<Job>> mine;
    {
        JobRegistry &reg = registry();
        QMutexLocker locker(&reg.lock);
        for (auto it = reg.jobs.begin(); it != reg.jobs.end();) {
            if (it.value()->run == this) {
                mine.push_back(it.value());
                it = reg.jobs.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Once close has returned no callback of that upgrade runs, so the table may go after this.
    for (const auto &job : mine) {
        if (job->handle > 0)
            m_sdk.closeUpgrade(job->handle);
        --m_runningUpgrades;
    }
    m_lists.clearLists();
}

bool UpgradeRun::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_waitLock);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_cancel.load(); });
}

void UpgradeRun::setStatus(int row, const QString &text)
{
    m_table.setCellText(row, StatusColumn, text);
}

void UpgradeRun::dispatch(UpgradeParams params)
{
    const int count = m_lists.deviceCount(UpgradeLists::Pending);
    for (int i = 0; i < count && !cancelled(); ++i) {
        UpgradeLists::Record record = m_lists.popDevice(UpgradeLists::Pending);
        if (!record)
            continue;
        m_lists.pushDevice(record, UpgradeLists::Taken);
        const int row = record->nIndex;
        if (row < 0 || row >= MaxRows)
            continue;

        if (params.modifyIP) {
            const int result = m_hooks.modifyIP ? m_hooks.modifyIP(row, params.tabPassword) : 0;
            if (result < 1)
                continue; // the row keeps the text the address change left
            DEV_INFO current;
            if (m_table.copyRowDevice(row, &current))
                std::memcpy(record->szIpaddress, current.szIpaddress, sizeof record->szIpaddress);
            if (!sleepFor(params.ipChangeWaitMs))
                break;
        }

        startWorker(row, record, params);
        if (!sleepFor(params.spacingMs))
            break;
    }
    m_dispatcherAlive = false;
}

void UpgradeRun::startWorker(int row, std::shared_ptr<DEV_INFO> record, const UpgradeParams &params)
{
    if (m_workers[row].joinable())
        m_workers[row].join(); // a worker ends right after its upgrade start
    m_workerAlive[row] = true;
    try {
        m_workers[row] = std::thread([this, row, record = std::move(record), params] {
            upgradeDevice(record, params);
            m_workerAlive[row] = false;
        });
    } catch (const std::system_error &error) {
        m_workerAlive[row] = false;
        qWarning() << "UpgradeDevice: no worker thread for row" << row << error.what();
        setStatus(row, QStringLiteral("%1,%2").arg(trUpgrade("Upgrade Failed")).arg(-1));
    }
}

UpgradeRun::DeviceOutcome UpgradeRun::upgradeDevice(const std::shared_ptr<DEV_INFO> &recordPtr,
                                                    const UpgradeParams &params)
{
    DEV_INFO &record = *recordPtr;
    const int row = record.nIndex;

    // A session left from an earlier action is closed, in the row's own record as well, so that
    // nothing logs the dead handle out again later.
    if (record.lLoginID > 0) {
        const long stale = record.lLoginID;
        m_sdk.logout(stale);
        record.lLoginID = -1;
        DEV_INFO current;
        if (m_table.copyRowDevice(row, &current) && current.lLoginID == stale)
            m_table.clearRowLogin(row);
    }
    qDebug() << "UpgradeDevice start index" << row << "  IP" << fieldText(record.szIpaddress);

    // The record's password field holds 11 bytes; a longer tab password is still used in full.
    QByteArray password = fieldText(record.szPsw);
    if (password.isEmpty()) {
        password = params.tabPassword;
        if (password.size() < int(sizeof record.szPsw)) {
            std::memset(record.szPsw, 0, sizeof record.szPsw);
            std::memcpy(record.szPsw, password.constData(), size_t(password.size()));
        }
    }

    int error = 0;
    const QByteArray ip = fieldText(record.szIpaddress);
    const QByteArray user = fieldText(record.szUserName);
    const long loginId = m_sdk.login(ip.constData(), uint16_t(record.nPort), user.constData(),
                                     password.constData(), &record.NetDevInfo, 1, &error);
    record.lLoginID = int32_t(loginId);
    qDebug() << "UpgradeDevice index" << row << "  IP" << ip << "  loginID" << loginId;
    if (loginId < 1) {
        setStatus(row, m_hooks.loginErrorText ? m_hooks.loginErrorText(error) : QString::number(error));
        return DeviceOutcome::LoginFailed;
    }
    setStatus(row, trUpgrade("Login Success"));

    // A device stopped before its transfer is logged out again: the session lives only in this
    // copy of the record, and nothing else would ever close it.
    auto logout = [&] {
        m_sdk.logout(record.lLoginID);
        record.lLoginID = -1;
    };
    if (cancelled()) {
        logout();
        return DeviceOutcome::Cancelled;
    }

    if (params.setOEMID) {
        QString oemidText;
        const bool ok = params.oemidStep && params.oemidStep(record, &oemidText);
        m_oemidTexts.set(row, oemidText);
        if (!ok) {
            logout();
            return DeviceOutcome::OemidFailed;
        }
    }

    const QByteArray hardware = fieldText(record.NetDevInfo.sHardWare);
    if (hardware != params.packageHardware) {
        setStatus(row, trUpgrade("Invalid hardware"));
        logout();
        return DeviceOutcome::InvalidHardware;
    }

    importDevConfig(record.lLoginID, row, params.configPath);
    if (cancelled()) {
        logout();
        return DeviceOutcome::Cancelled;
    }

    auto job = std::make_shared<Job>();
    job->run = this;
    job->record = recordPtr;
    job->row = row;
    quintptr token;
    {
        JobRegistry &reg = registry();
        QMutexLocker locker(&reg.lock);
        token = reg.nextToken++;
        reg.jobs.insert(token, job);
    }
    ++m_runningUpgrades;

    DeviceOutcome outcome;
    {
        std::lock_guard<std::recursive_mutex> started(job->startLock);
        const QByteArray path = QFile::encodeName(params.packagePath);
        const long handle = m_sdk.upgrade(record.lLoginID, path.constData(), 0, &UpgradeRun::progressCallback,
                                          reinterpret_cast<void *>(token));
        if (handle > 0) {
            job->handle = handle;
            setStatus(row, trUpgrade("Start Upgrade"));
            outcome = DeviceOutcome::Started;
        } else {
            const long code = m_sdk.lastError();
            {
                JobRegistry &reg = registry();
                QMutexLocker locker(&reg.lock);
                if (reg.jobs.remove(token))
                    --m_runningUpgrades;
            }
            setStatus(row, QStringLiteral("%1,%2").arg(trUpgrade("Upgrade Failed")).arg(code));
            logout();
            outcome = DeviceOutcome::StartFailed;
        }
    }
    qDebug() << "UpgradeDevice end index " << row;
    return outcome;
}

void UpgradeRun::progressCallback(long loginId, long upgradeHandle, int total, int position, void *user)
{
    Q_UNUSED(loginId);
    if (!user)
        return;
    const quintptr token = reinterpret_cast<quintptr>(user);
    std::shared_ptr<Job> job;
    {
        JobRegistry &reg = registry();
        QMutexLocker locker(&reg.lock);
        job = reg.jobs.value(token);
    }
    if (!job)
        return;

    std::lock_guard<std::recursive_mutex> started(job->startLock);
    UpgradeRun *run = job->run;
    const int row = job->row;
    const ProgressReport report = describeProgress(total, position, run->m_oemidTexts.value(row));
    if (report.kind == ProgressReport::None)
        return;
    if (report.kind == ProgressReport::DeviceError)
        qDebug() << report.text;
    run->setStatus(row, report.text);
    if (!report.isFinal())
        return;

    // The device is regarded as logged out: it restarts after an upgrade.
    job->record->lLoginID = 0;
    run->m_table.clearRowLogin(row);
    run->m_sdk.closeUpgrade(upgradeHandle);
    {
        JobRegistry &reg = registry();
        QMutexLocker locker(&reg.lock);
        if (reg.jobs.remove(token))
            --run->m_runningUpgrades;
    }
}

int UpgradeRun::importDevConfig(long loginId, int row, const QString &configPath)
{
    if (configPath.isEmpty())
        return 0;
    QFile file(configPath);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // One byte more than the buffer tells a file that does not fit from one that just fits.
    const QByteArray content = file.read(ImportBufferSize + 1);
    file.close();
    if (content.isEmpty())
        return 0;
    if (content.size() > ImportBufferSize) {
        qDebug() << "ImportDevConfig: configuration file above" << ImportBufferSize << "bytes refused";
        setStatus(row, trUpgrade("ImportConfigFailed"));
        return -1;
    }
    QByteArray buffer = content;
    const long result = m_sdk.setDevConfig(loginId, NETSDK_CFG_IMPORT, -1, buffer.data(),
                                           (unsigned long)buffer.size(), ImportWaitMs);
    const bool accepted = result >= 0 || result == NETSDK_ERR_NEED_REBOOT;
    setStatus(row, accepted ? trUpgrade("ImportConfigSuccess") : trUpgrade("ImportConfigFailed"));
    return int(result);
}
