#include "upgraderun.h"

#include "device/deviceprotocol.h"
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
    auto records = std::make_shared<RecordsByRow>();
    std::vector<int> rows;
    const int count = m_lists.deviceCount(UpgradeLists::Pending);
    for (int i = 0; i < count; ++i) {
        UpgradeLists::Record record = m_lists.popDevice(UpgradeLists::Pending);
        if (!record || record->nIndex < 0 || record->nIndex >= MaxRows || records->count(record->nIndex))
            continue;
        records->emplace(record->nIndex, record);
        rows.push_back(record->nIndex);
    }
    return startRecords(params, records, std::move(rows), true);
}

bool UpgradeRun::startRows(const UpgradeParams &params, const std::vector<int> &rows, bool marksRun)
{
    if (m_batch.isActive())
        return false;
    const BoundRows bound(m_batch.deviceRows());
    auto records = std::make_shared<RecordsByRow>();
    std::vector<int> planned;
    for (int row : rows) {
        auto record = std::make_shared<DEV_INFO>();
        if (row < 0 || row >= MaxRows || records->count(row) || !bound.device(row, record.get()))
            continue;
        record->nIndex = row;
        record->lLoginID = 0; // the job takes the row's session itself
        records->emplace(row, record);
        planned.push_back(row);
    }
    return startRecords(params, records, std::move(planned), marksRun);
}

WaveRun::Steps UpgradeRun::waveSteps(UpgradeParams params, std::function<bool(int row)> endedWell)
{
    params.verify = true;
    WaveRun::Steps steps;
    steps.check = [this, params](const std::vector<int> &rows) {
        return startCheck(params, QList<int>(rows.begin(), rows.end()));
    };
    steps.wave = [this, params](const std::vector<int> &rows) { return startRows(params, rows, false); };
    steps.endedWell = std::move(endedWell);
    return steps;
}

bool UpgradeRun::startRecords(const UpgradeParams &params, std::shared_ptr<RecordsByRow> records,
                              std::vector<int> rows, bool marksRun)
{
    BatchPlan plan;
    plan.rows = std::move(rows);
    m_verifier.open();
    plan.options.spacingMs = params.spacingMs;
    plan.options.maxParallel = params.maxParallel;
    plan.options.marksRun = marksRun;
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
    FlashJob job(ctx, recordPtr, m_sdk);
    DEV_INFO &record = job.record();
    const int row = ctx.row();

    job.closeStaleSession();
    qDebug() << "UpgradeDevice start index" << row << "  IP" << DeviceRecord::fieldBytes(record.szIpaddress);
    const QByteArray password = runPassword(record, params);
    if (!job.logIn(password, m_hooks.loginErrorText))
        return DeviceOutcome::LoginFailed;
    job.announceSession();
    if (ctx.cancelled()) {
        job.logOut();
        return DeviceOutcome::Cancelled;
    }

    if (params.setOEMID) {
        QString oemidText;
        const bool ok = params.oemidStep && params.oemidStep->run(ctx, record, &oemidText);
        m_oemidTexts.set(row, oemidText);
        if (!ok) {
            job.logOut();
            return DeviceOutcome::OemidFailed;
        }
    }
    if (!hardwareMatches(ctx, record, params)) {
        job.logOut();
        return DeviceOutcome::InvalidHardware;
    }
    importDevConfig(ctx, record.lLoginID, params.configPath);
    if (ctx.cancelled()) {
        job.logOut();
        return DeviceOutcome::Cancelled;
    }

    FlashSend send;
    send.packagePath = params.packagePath;
    send.packageSha256 = params.packageSha256;
    OemidResultTexts *oemidTexts = &m_oemidTexts;
    send.describe = [oemidTexts, row](int total, int position) {
        return describeProgress(total, position, oemidTexts->value(row));
    };
    if (params.verify) {
        VerifyTarget target;
        target.ip = DeviceRecord::fieldBytes(record.szIpaddress);
        target.port = uint16_t(record.nPort);
        target.user = DeviceRecord::fieldBytes(record.szUserName);
        target.password = password;
        target.oldVersion = DeviceRecord::fieldBytes(record.NetDevInfo.sSoftWareVersion);
        target.oldYear = record.NetDevInfo.BuildYear;
        target.oldMonth = record.NetDevInfo.BuildMonth;
        target.oldDay = record.NetDevInfo.BuildDay;
        UpgradeVerifier *verifier = &m_verifier;
        const int timeout = params.verifyTimeoutSeconds;
        send.finished = [verifier, ctx, target, timeout](const ProgressReport &report) {
            if (report.kind == ProgressReport::Success)
                verifier->watch(ctx, target, timeout);
        };
    }
    const DeviceOutcome outcome = job.send(send) ? DeviceOutcome::Started : DeviceOutcome::StartFailed;
    qDebug() << "UpgradeDevice end index " << row;
    return outcome;
}

QString UpgradeRun::packageChangedText()
{
    return FlashJob::packageChangedText();
}

QByteArray UpgradeRun::runPassword(DEV_INFO &record, const UpgradeParams &params)
{
    // The record's own password, or the tab's for a record without one.
    const QByteArray own = DeviceRecord::fieldBytes(record.szPsw);
    return own.isEmpty() ? FlashJob::usePassword(record, params.tabPassword) : own;
}

bool UpgradeRun::hardwareMatches(const BatchContext &ctx, const DEV_INFO &record, const UpgradeParams &params)
{
    if (DeviceRecord::fieldBytes(record.NetDevInfo.sHardWare) == params.packageHardware)
        return true;
    // An ONVIF device names its hardware by a hardware ID or by its model; a package may name either.
    if (DeviceProtocol::isOnvif(record) && !params.packageHardware.isEmpty() &&
        DeviceRecord::fieldBytes(record.NetDevInfo.sModel) == params.packageHardware)
        return true;
    ctx.status(StatusOutcome::Failure, trUpgrade("Invalid hardware"));
    return false;
}

bool UpgradeRun::checkDevice(const BatchContext &ctx, DEV_INFO record, const UpgradeParams &params)
{
    // The run's own login and checks on a copy of the record; nothing is sent, the session is
    // closed again and the row keeps no handle.
    FlashJob job(ctx, std::make_shared<DEV_INFO>(record), m_sdk);
    const QByteArray password = runPassword(job.record(), params);
    if (!job.logIn(password, m_hooks.loginErrorText))
        return false;
    const bool ready =
        (!params.setOEMID || !params.oemidStep || params.oemidStep->check(ctx, job.record())) &&
        hardwareMatches(ctx, job.record(), params);
    job.closeSession();
    if (ready)
        job.ready();
    return ready;
}

bool UpgradeRun::startCheck(const UpgradeParams &params, const QList<int> &rows)
{
    return startFlashChecks(m_batch, rows, [this, params](const BatchContext &ctx, DEV_INFO record) {
        return checkDevice(ctx, record, params);
    });
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
