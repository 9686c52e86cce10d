#include "upgraderun.h"

#include "device/devicerecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cstring>
#include <map>
#include <mutex>

namespace
{

QString trUpgrade(const char *text)
{
    return QCoreApplication::translate("UpgradeWidget", text);
}

// One started upgrade, shared by its job and its progress handler.
struct StartedUpgrade {
    std::shared_ptr<DEV_INFO> record;
    long handle = 0;
    void *token = nullptr;
    // Held by the job across the upgrade start and its "Start Upgrade" text, so that an early
    // report of the SDK can never be overwritten by that text. Recursive in case an SDK reports
    // on the starting thread itself.
    std::recursive_mutex startLock;
    bool verifyQueued = false; // under startLock: one watch even if a final report came twice
};

} // namespace

UpgradeRun::UpgradeRun(DeviceBatch &batch, UpgradeHooks hooks, UpgradeSdk sdk)
    : m_batch(batch), m_hooks(std::move(hooks)), m_sdk(sdk), m_verifier(VerifySdk{sdk.login, sdk.logout})
{
}

UpgradeRun::~UpgradeRun()
{
    shutdown();
}

bool UpgradeRun::isActive() const
{
    return m_batch.isActive() || m_batch.callbacks().size() > 0;
}

int UpgradeRun::runningUpgrades() const
{
    return m_batch.callbacks().size();
}

bool UpgradeRun::start(const UpgradeParams &params)
{
    if (m_batch.isActive())
        return false;
    // The records of this run, by row: taken from the pending list now, so that the run never reads
    // a record the tab changes later.
    auto records = std::make_shared<std::map<int, std::shared_ptr<DEV_INFO>>>();
    BatchPlan plan;
    const int count = m_lists.deviceCount(UpgradeLists::Pending);
    for (int i = 0; i < count; ++i) {
        UpgradeLists::Record record = m_lists.popDevice(UpgradeLists::Pending);
        if (!record || record->nIndex < 0 || record->nIndex >= MaxRows || records->count(record->nIndex))
            continue;
        records->emplace(record->nIndex, record);
        plan.rows.push_back(record->nIndex);
    }
    m_verifier.open();
    plan.options.spacingMs = params.spacingMs;
    plan.options.maxParallel = params.maxParallel;
    plan.prepare = [this, records, params](BatchContext &ctx) {
        return prepareDevice(ctx, *records->at(ctx.row()), params);
    };
    plan.job = [this, records, params](BatchContext &ctx) {
        if (upgradeDevice(ctx, records->at(ctx.row()), params) != DeviceOutcome::Started)
            ctx.fail();
    };
    return m_batch.start(std::move(plan));
}

void UpgradeRun::shutdown()
{
    // Verifications end first: their registrations are then closed with the batch's.
    m_verifier.stop();
    m_batch.cancelAndWait();
    m_lists.clearLists();
}

bool UpgradeRun::prepareDevice(const BatchContext &ctx, DEV_INFO &record, const UpgradeParams &params)
{
    if (!params.modifyIP)
        return true;
    const int row = ctx.row();
    const int result = m_hooks.modifyIP ? m_hooks.modifyIP(row, params.tabPassword) : 0;
    if (result < 1)
        return false; // the row keeps the text the address change left
    DEV_INFO current;
    if (ctx.rows().device(row, &current))
        std::memcpy(record.szIpaddress, current.szIpaddress, sizeof record.szIpaddress);
    return ctx.sleepFor(params.ipChangeWaitMs);
}

UpgradeRun::DeviceOutcome UpgradeRun::upgradeDevice(const std::shared_ptr<DEV_INFO> &record,
                                                    const UpgradeParams &params)
{
    return upgradeDevice(m_batch.contextFor(record->nIndex), record, params);
}

UpgradeRun::DeviceOutcome UpgradeRun::upgradeDevice(const BatchContext &ctx,
                                                    const std::shared_ptr<DEV_INFO> &recordPtr,
                                                    const UpgradeParams &params)
{
    DEV_INFO &record = *recordPtr;
    const int row = ctx.row();
    const bool logo = params.logoMode;
    // The logo burn counts every device once, however its work ends.
    auto ended = [&params, row] {
        if (params.logoMode && params.deviceEnded)
            params.deviceEnded(row);
    };

    // A session left from an earlier action is closed, in the row's own record as well, so that
    // nothing logs the dead handle out again later. The logo burn goes on with the session its run
    // handed it instead.
    if (!logo) {
        if (DeviceSession stale = ctx.rows().takeSession(row))
            record.lLoginID = 0; // the row's own session, ended here
    }
    if (record.lLoginID > 0 && !logo) {
        const long stale = record.lLoginID;
        m_sdk.logout(stale);
        record.lLoginID = -1;
        ctx.rows().updateDevice(row, [stale](DEV_INFO &current) {
            if (current.lLoginID == stale)
                current.lLoginID = 0;
        });
    }
    qDebug() << "UpgradeDevice start index" << row << "  IP" << DeviceRecord::fieldBytes(record.szIpaddress);

    const QByteArray password = runPassword(record, params);

    const bool heldLogin = logo && record.lLoginID > 0;
    if (!heldLogin) {
        // The job's own session, held in its record and never in the row, so that nothing done to
        // the table can end it under the transfer.
        const long loginId = loginForRun(ctx, record, password);
        if (loginId < 1) {
            ended();
            return DeviceOutcome::LoginFailed;
        }
    }
    // A step: the device's job goes on.
    ctx.status(StatusOutcome::Neutral, trUpgrade("Login Success"));

    // A device stopped before its transfer is logged out again: nothing else would ever close the
    // session. Should the row hold the same handle, it goes from the row too, so that it is logged
    // out only once.
    auto logout = [&] {
        const long held = record.lLoginID;
        m_sdk.logout(held);
        record.lLoginID = -1;
        ctx.rows().updateDevice(row, [held](DEV_INFO &current) {
            if (current.lLoginID == held)
                current.lLoginID = 0;
        });
        ended();
    };
    if (ctx.cancelled()) {
        logout();
        return DeviceOutcome::Cancelled;
    }

    if (params.setOEMID) {
        QString oemidText;
        const bool ok = params.oemidStep && params.oemidStep(ctx, record, &oemidText);
        m_oemidTexts.set(row, oemidText);
        if (!ok) {
            logout();
            return DeviceOutcome::OemidFailed;
        }
    }

    if (!logo) {
        if (!hardwareMatches(ctx, record, params)) {
            logout();
            return DeviceOutcome::InvalidHardware;
        }
        importDevConfig(ctx, record.lLoginID, params.configPath);
    }
    if (ctx.cancelled()) {
        logout();
        return DeviceOutcome::Cancelled;
    }

    auto started = std::make_shared<StartedUpgrade>();
    started->record = recordPtr;
    SdkCallbacks &callbacks = ctx.callbacks();
    const UpgradeSdk sdk = m_sdk;
    OemidResultTexts *oemidTexts = &m_oemidTexts;
    // The handler may run on an SDK thread until the final report; it holds what it needs itself.
    const std::function<void(int)> deviceEnded = logo ? params.deviceEnded : std::function<void(int)>();
    UpgradeVerifier *verifier = params.verify && !logo ? &m_verifier : nullptr;
    VerifyTarget target;
    if (verifier) {
        target.ip = DeviceRecord::fieldBytes(record.szIpaddress);
        target.port = uint16_t(record.nPort);
        target.user = DeviceRecord::fieldBytes(record.szUserName);
        target.password = password;
        target.oldVersion = DeviceRecord::fieldBytes(record.NetDevInfo.sSoftWareVersion);
        target.oldYear = record.NetDevInfo.BuildYear;
        target.oldMonth = record.NetDevInfo.BuildMonth;
        target.oldDay = record.NetDevInfo.BuildDay;
    }
    const int verifyTimeout = params.verifyTimeoutSeconds;
    started->token = callbacks.add([ctx, started, sdk, oemidTexts, &callbacks, logo, deviceEnded, verifier,
                                    target,
                                    verifyTimeout](long, long upgradeHandle, int total, int position) {
        std::lock_guard<std::recursive_mutex> hold(started->startLock);
        const ProgressReport report = logo ? describeLogoProgress(total, position, sdk.lastError())
                                           : describeProgress(total, position, oemidTexts->value(ctx.row()));
        if (report.kind == ProgressReport::None)
            return;
        if (report.kind == ProgressReport::DeviceError)
            qDebug() << report.text;
        if (report.kind == ProgressReport::Failure && sdk.lastError() == NETSDK_ERR_FILE_CHANGED)
            ctx.status(StatusOutcome::Failure, packageChangedText());
        else
            ctx.status(report.outcome(), report.text);
        if (!report.isFinal())
            return;
        // The device is regarded as logged out: it restarts after an upgrade.
        started->record->lLoginID = 0;
        ctx.rows().updateDevice(ctx.row(), [](DEV_INFO &d) { d.lLoginID = 0; });
        sdk.closeUpgrade(upgradeHandle);
        // The watch registers before the upgrade's registration goes, so the run never looks ended
        // in between.
        if (report.kind == ProgressReport::Success && verifier && !started->verifyQueued) {
            started->verifyQueued = true;
            verifier->watch(ctx, target, verifyTimeout);
        }
        if (callbacks.remove(started->token) && deviceEnded)
            deviceEnded(ctx.row());
    });
    // The device stays in flight, for the run's parallel limit, until its transfer has ended.
    callbacks.setHold(started->token, ctx.slot());

    DeviceOutcome outcome;
    {
        std::lock_guard<std::recursive_mutex> hold(started->startLock);
        const QByteArray path = QFile::encodeName(params.packagePath);
        // The SDK sends the file only while it is still the version that was inspected.
        const bool pinned = params.packageSha256.size() == 32;
        const long handle = m_sdk.upgrade(
            record.lLoginID, path.constData(), 0,
            pinned ? reinterpret_cast<const unsigned char *>(params.packageSha256.constData()) : nullptr,
            &SdkCallbacks::upgradeProgress, started->token);
        if (handle > 0) {
            started->handle = handle;
            // A run closed under way ends the job's session as well: nothing else holds it.
            callbacks.setClose(started->token, [sdk, handle, started] {
                sdk.closeUpgrade(handle);
                std::lock_guard<std::recursive_mutex> held(started->startLock);
                if (started->record->lLoginID > 0) {
                    sdk.logout(started->record->lLoginID);
                    started->record->lLoginID = 0;
                }
            });
            ctx.status(StatusOutcome::Neutral, trUpgrade("Start Upgrade"));
            outcome = DeviceOutcome::Started;
        } else {
            const long code = m_sdk.lastError();
            callbacks.remove(started->token);
            ctx.status(StatusOutcome::Failure,
                       QStringLiteral("%1,%2").arg(trUpgrade("Upgrade Failed")).arg(code));
            logout();
            outcome = DeviceOutcome::StartFailed;
        }
    }
    qDebug() << "UpgradeDevice end index " << row;
    return outcome;
}

QString UpgradeRun::packageChangedText()
{
    return trUpgrade("Upgrade Fail: the package file changed after it was checked; nothing was sent");
}

QByteArray UpgradeRun::runPassword(DEV_INFO &record, const UpgradeParams &params)
{
    // The record's password field holds 11 bytes; a longer tab password is still used in full.
    QByteArray password = DeviceRecord::fieldBytes(record.szPsw);
    if (password.isEmpty() || params.logoMode) {
        password = params.tabPassword;
        if (password.size() < int(sizeof record.szPsw)) {
            std::memset(record.szPsw, 0, sizeof record.szPsw);
            std::memcpy(record.szPsw, password.constData(), size_t(password.size()));
        }
    }
    return password;
}

long UpgradeRun::loginForRun(const BatchContext &ctx, DEV_INFO &record, const QByteArray &password)
{
    int error = 0;
    const QByteArray ip = DeviceRecord::fieldBytes(record.szIpaddress);
    const QByteArray user = DeviceRecord::fieldBytes(record.szUserName);
    const long loginId = m_sdk.login(ip.constData(), uint16_t(record.nPort), user.constData(),
                                     password.constData(), &record.NetDevInfo, 1, &error);
    record.lLoginID = int32_t(loginId);
    qDebug() << "UpgradeDevice index" << ctx.row() << "  IP" << ip << "  loginID" << loginId;
    if (loginId < 1)
        ctx.status(StatusOutcome::Failure,
                   m_hooks.loginErrorText ? m_hooks.loginErrorText(error) : QString::number(error));
    return loginId;
}

bool UpgradeRun::hardwareMatches(const BatchContext &ctx, const DEV_INFO &record, const UpgradeParams &params)
{
    if (DeviceRecord::fieldBytes(record.NetDevInfo.sHardWare) == params.packageHardware)
        return true;
    ctx.status(StatusOutcome::Failure, trUpgrade("Invalid hardware"));
    return false;
}

bool UpgradeRun::checkDevice(const BatchContext &ctx, DEV_INFO record, const UpgradeParams &params)
{
    // The run's own login and checks on a copy of the record; nothing is sent, the session is
    // closed again and the row keeps no handle.
    const QByteArray password = runPassword(record, params);
    if (loginForRun(ctx, record, password) < 1)
        return false;
    const bool ready = (!params.checkReads || params.checkReads(ctx, record)) &&
                       (params.logoMode || hardwareMatches(ctx, record, params));
    // A read may have replaced the session; the one the record holds now is the one to close.
    if (record.lLoginID > 0)
        m_sdk.logout(record.lLoginID);
    if (ready)
        ctx.status(StatusOutcome::Success, trUpgrade("Ready"));
    return ready;
}

bool UpgradeRun::startCheck(const UpgradeParams &params, const QList<int> &rows)
{
    if (m_batch.isActive())
        return false;
    BatchPlan plan;
    auto records = std::make_shared<std::map<int, DEV_INFO>>();
    for (const int row : rows) {
        DEV_INFO record;
        if (row < 0 || row >= MaxRows || records->count(row) ||
            !m_batch.contextFor(row).rows().device(row, &record))
            continue;
        records->emplace(row, record);
        plan.rows.push_back(row);
    }
    plan.options.maxParallel = MaxCheckParallel;
    plan.job = [this, records, params](BatchContext &ctx) {
        if (!checkDevice(ctx, records->at(ctx.row()), params))
            ctx.fail();
    };
    return m_batch.start(std::move(plan));
}

int UpgradeRun::importDevConfig(long loginId, int row, const QString &configPath)
{
    return importDevConfig(m_batch.contextFor(row), loginId, configPath);
}

int UpgradeRun::importDevConfig(const BatchContext &ctx, long loginId, const QString &configPath)
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
        ctx.status(StatusOutcome::Failure, trUpgrade("ImportConfigFailed"));
        return -1;
    }
    QByteArray buffer = content;
    const long result = m_sdk.setDevConfig(loginId, NETSDK_CFG_IMPORT, -1, buffer.data(),
                                           (unsigned long)buffer.size(), ImportWaitMs);
    const bool accepted = result >= 0 || result == NETSDK_ERR_NEED_REBOOT;
    // The run goes on either way; a refused import still counts as a failure of the run.
    ctx.status(accepted ? StatusOutcome::Success : StatusOutcome::Failure,
               accepted ? trUpgrade("ImportConfigSuccess") : trUpgrade("ImportConfigFailed"));
    return int(result);
}
