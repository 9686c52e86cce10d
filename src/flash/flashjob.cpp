#include "flashjob.h"

#include "device/devicerecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cstring>
#include <map>
#include <mutex>

namespace
{

// The steps' texts were the firmware tab's first; both tabs show them under its translations.
QString trFlash(const char *text)
{
    return QCoreApplication::translate("UpgradeWidget", text);
}

// One started transfer, shared by its job and its progress handler.
struct StartedTransfer {
    std::shared_ptr<DEV_INFO> record;
    std::shared_ptr<DeviceSession> session;
    void *token = nullptr;
    // Held by the job across the transfer's start and its "Start Upgrade" text, so that an early
    // report of the SDK can never be overwritten by that text. Recursive in case an SDK reports
    // on the starting thread itself.
    std::recursive_mutex startLock;
    bool finished = false; // under startLock: one final even if the SDK reported it twice
};

} // namespace

FlashJob::FlashJob(const BatchContext &ctx, std::shared_ptr<DEV_INFO> record, const FlashSdk &sdk,
                   DeviceSession handed)
    : m_ctx(ctx), m_record(std::move(record)), m_sdk(sdk),
      m_session(std::make_shared<DeviceSession>(std::move(handed)))
{
    m_record->lLoginID = int32_t(m_session->id());
}

QByteArray FlashJob::usePassword(DEV_INFO &record, const QByteArray &password)
{
    if (password.size() < int(sizeof record.szPsw)) {
        std::memset(record.szPsw, 0, sizeof record.szPsw);
        std::memcpy(record.szPsw, password.constData(), size_t(password.size()));
    }
    return password;
}

void FlashJob::closeStaleSession()
{
    m_ctx.rows().takeSession(m_ctx.row()).reset();
    logOut();
}

bool FlashJob::logIn(const QByteArray &password, const std::function<QString(int code)> &loginErrorText)
{
    DEV_INFO &record = *m_record;
    int error = 0;
    const QByteArray ip = DeviceRecord::fieldBytes(record.szIpaddress);
    const QByteArray user = DeviceRecord::fieldBytes(record.szUserName);
    const long loginId = m_sdk.login(ip.constData(), uint16_t(record.nPort), user.constData(),
                                     password.constData(), &record.NetDevInfo, 1, &error);
    *m_session = DeviceSession(loginId, m_sdk.logout);
    record.lLoginID = int32_t(m_session->id());
    qDebug() << "UpgradeDevice index" << m_ctx.row() << "  IP" << ip << "  loginID" << loginId;
    if (loginId < 1)
        m_ctx.status(StatusOutcome::Failure, loginErrorText ? loginErrorText(error) : QString::number(error));
    return loginId > 0;
}

void FlashJob::announceSession() const
{
    m_ctx.status(StatusOutcome::Neutral, trFlash("Login Success"));
}

void FlashJob::logOut()
{
    m_session->reset();
    m_record->lLoginID = 0;
}

void FlashJob::ready() const
{
    m_ctx.status(StatusOutcome::Success, trFlash("Ready"));
}

QString FlashJob::packageChangedText()
{
    return trFlash("Upgrade Fail: the package file changed after it was checked; nothing was sent");
}

bool FlashJob::send(const FlashSend &send)
{
    auto started = std::make_shared<StartedTransfer>();
    started->record = m_record;
    started->session = m_session;
    const BatchContext ctx = m_ctx;
    SdkCallbacks &callbacks = ctx.callbacks();
    const FlashSdk sdk = m_sdk;
    const FlashSend how = send;
    started->token = callbacks.add(
        [ctx, started, sdk, &callbacks, how](long, long upgradeHandle, int total, int position) {
            std::lock_guard<std::recursive_mutex> hold(started->startLock);
            const ProgressReport report = how.describe(total, position);
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
            sdk.closeUpgrade(upgradeHandle);
            // The device restarts after an upgrade: the job's session ends, and one the row got
            // meanwhile (a re-login) as well, since its handle would make the next action skip its
            // login.
            started->session->reset();
            started->record->lLoginID = 0;
            ctx.rows().takeSession(ctx.row()).reset();
            // What follows the final report registers before the transfer's registration goes, so the
            // run never looks ended in between.
            if (!started->finished) {
                started->finished = true;
                if (how.finished)
                    how.finished(report);
            }
            if (callbacks.remove(started->token) && how.released)
                how.released();
        });
    // The device stays in flight, for the run's parallel limit, until its transfer has ended.
    callbacks.setHold(started->token, ctx.slot());

    std::lock_guard<std::recursive_mutex> hold(started->startLock);
    const QByteArray path = QFile::encodeName(send.packagePath);
    const bool pinned = send.packageSha256.size() == 32;
    const long handle = m_sdk.upgrade(
        m_session->id(), path.constData(), 0,
        pinned ? reinterpret_cast<const unsigned char *>(send.packageSha256.constData()) : nullptr,
        &SdkCallbacks::upgradeProgress, started->token);
    if (handle > 0) {
        // A run closed under way ends the job's session as well: nothing else holds it.
        callbacks.setClose(started->token, [sdk, handle, started] {
            sdk.closeUpgrade(handle);
            std::lock_guard<std::recursive_mutex> held(started->startLock);
            started->session->reset();
            started->record->lLoginID = 0;
        });
        ctx.status(StatusOutcome::Neutral, trFlash("Start Upgrade"));
        return true;
    }
    const long code = m_sdk.lastError();
    callbacks.remove(started->token);
    ctx.status(StatusOutcome::Failure, QStringLiteral("%1,%2").arg(trFlash("Upgrade Failed")).arg(code));
    logOut();
    return false;
}

bool startFlashChecks(DeviceBatch &batch, const QList<int> &rows,
                      std::function<bool(const BatchContext &ctx, DEV_INFO record)> check)
{
    if (batch.isActive())
        return false;
    BatchPlan plan;
    auto records = std::make_shared<std::map<int, DEV_INFO>>();
    for (const int row : rows) {
        DEV_INFO record;
        if (row < 0 || row >= MaxFlashRows || records->count(row) ||
            !batch.contextFor(row).rows().device(row, &record))
            continue;
        records->emplace(row, record);
        plan.rows.push_back(row);
    }
    plan.options.maxParallel = MaxFlashChecks;
    plan.job = [records, check = std::move(check)](BatchContext &ctx) {
        if (!check(ctx, records->at(ctx.row())))
            ctx.fail();
    };
    return batch.start(std::move(plan));
}
