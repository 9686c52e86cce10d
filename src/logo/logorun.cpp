#include "logo/logorun.h"

#include "device/deviceprotocol.h"
#include "device/devicerecord.h"
#include "logo/logodevice.h"
#include "logo/logoprogress.h"
#include "oemid/oemidstep.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

#include <cstring>

namespace
{

QString trLogo(const char *text)
{
    return QCoreApplication::translate("UpgradeLogoWidget", text);
}

// The text the run leaves when the logo-partition record cannot be read.
QString partitionErrorText(long code)
{
    return QStringLiteral("%1,ErrorCode:%2").arg(trLogo("Get Upgrade information failed")).arg(code);
}

std::shared_ptr<const OemidStep> oemidStepFor(const LogoRunParams &params)
{
    if (!params.setOEMID)
        return nullptr;
    OemidStep::Params oemid;
    oemid.assignedOemid = params.assignedOemid;
    oemid.allowRepeat = params.allowRepeat;
    oemid.appDir = params.appDir;
    oemid.logoTab = true;
    return std::make_shared<const OemidStep>(oemid);
}

// What one device's burn needs, copied when the run's plan is made.
struct LogoBurn {
    QByteArray password;
    std::shared_ptr<const OemidStep> oemidStep; ///< null: no OEMID step
    std::function<QString(int code)> loginErrorText;
    FlashSdk sdk;
};

// The burn of one device: on the session handed to it (or its own login with the tab password),
// the OEMID step, then the run's package. The device counts as done once, however its work ends.
bool burnDevice(const BatchContext &ctx, const std::shared_ptr<DEV_INFO> &recordPtr, DeviceSession session,
                const LogoBurn &burn, const std::shared_ptr<LogoRunState> &state)
{
    FlashJob job(ctx, recordPtr, burn.sdk, std::move(session));
    DEV_INFO &record = job.record();
    const int row = ctx.row();
    qDebug() << "UpgradeDevice start index" << row << "  IP" << DeviceRecord::fieldBytes(record.szIpaddress);
    const QByteArray password = FlashJob::usePassword(record, burn.password);
    if (!job.holdsSession() && !job.logIn(password, burn.loginErrorText)) {
        state->deviceDone();
        return false;
    }
    job.announceSession();
    auto stop = [&job, &state] {
        job.logOut();
        state->deviceDone();
        return false;
    };
    if (DeviceProtocol::isOnvif(record)) {
        // A camera would take the logo package for firmware: nothing is sent, and it is no failure.
        ctx.status(StatusOutcome::Unsupported, DeviceProtocol::notSupportedText());
        stop();
        return true;
    }
    if (ctx.cancelled())
        return stop();
    if (burn.oemidStep) {
        QString oemidText; // the burn's final texts carry none
        if (!burn.oemidStep->run(ctx, record, &oemidText))
            return stop();
    }
    if (ctx.cancelled())
        return stop();

    FlashSend send;
    send.packagePath = state->package();
    send.packageSha256 = state->packageSha256();
    const auto lastError = burn.sdk.lastError;
    send.describe = [lastError](int total, int position) {
        return describeLogoProgress(total, position, lastError());
    };
    send.released = [state] { state->deviceDone(); };
    const bool started = job.send(send);
    if (!started)
        state->deviceDone();
    qDebug() << "UpgradeDevice end index " << row;
    return started;
}

} // namespace

LogoRunState::LogoRunState(const QString &appDir, int total, std::function<void()> allDone)
    : m_total(total), m_allDone(std::move(allDone)), m_builder(appDir)
{
}

LogoRunState::~LogoRunState() = default;

void LogoRunState::holdLogin(int row, DeviceSession session)
{
    DeviceSession replaced; // ends after the lock is let go
    std::lock_guard<std::mutex> hold(m_lock);
    replaced = std::exchange(m_logins[row], std::move(session));
}

DeviceSession LogoRunState::takeLogin(int row)
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_logins.find(row);
    if (it == m_logins.end())
        return {};
    DeviceSession session = std::move(it->second);
    m_logins.erase(it);
    return session;
}

void LogoRunState::deviceDone()
{
    if (m_done.fetch_add(1) + 1 == m_total && m_allDone)
        m_allDone();
}

QString LogoRunState::package() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_made.isEmpty() ? QString() : m_made.first();
}

QStringList LogoRunState::made() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_made;
}

QByteArray LogoRunState::packageSha256() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_sha256;
}

void LogoRunState::addPackage(const QString &path)
{
    // Hashed as soon as it is written: a file put in its place later is not burnt.
    QByteArray sha256;
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
        sha256 = hash.result();
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_made.isEmpty())
        m_sha256 = sha256;
    m_made.append(path);
}

bool startLogoChecks(DeviceBatch &batch, const QList<int> &rows, const LogoRunParams &params,
                     const LogoRunHooks &hooks, const FlashSdk &sdk)
{
    const std::shared_ptr<const OemidStep> step = oemidStepFor(params);
    const QByteArray password = params.password;
    const auto loginErrorText = hooks.loginErrorText;
    return startFlashChecks(
        batch, rows, [step, password, loginErrorText, sdk](const BatchContext &ctx, DEV_INFO record) {
            // The burn's own login on a copy of the record; the session is closed again and the row
            // keeps no handle.
            FlashJob job(ctx, std::make_shared<DEV_INFO>(record), sdk);
            if (!job.logIn(FlashJob::usePassword(job.record(), password), loginErrorText))
                return false;
            bool ready = true;
            SDK_LOGO_PART_INFO part;
            if (DeviceProtocol::isOnvif(job.record())) {
                // No logo partition over ONVIF: said, and counted neither way.
                ctx.status(StatusOutcome::Unsupported, DeviceProtocol::notSupportedText());
                ready = false;
            } else if (const long code = LogoDevice::readPartitionInfo(job.record().lLoginID, &part);
                       code != 0) {
                ctx.status(StatusOutcome::Failure, partitionErrorText(code));
                ready = false;
            } else if (step) {
                ready = step->check(ctx, job.record());
            }
            job.closeSession();
            if (ready)
                job.ready();
            return ready;
        });
}

BatchPlan logoPlan(const std::vector<int> &rows, const LogoRunParams &params,
                   const std::shared_ptr<LogoRunState> &state, const LogoRunHooks &hooks, const FlashSdk &sdk)
{
    state->builder().setModifyMode(params.modify);

    BatchPlan plan;
    plan.rows = rows;
    plan.options.spacingMs = params.spacingMs;
    plan.options.maxParallel = params.maxParallel;

    plan.prepare = [params, state, hooks](BatchContext &ctx) -> bool {
        if (state->superseded())
            return false;
        const int row = ctx.row();
        DEV_INFO record;
        if (!ctx.rows().device(row, &record)) {
            state->deviceDone();
            return false;
        }
        if (params.modifyIP) {
            const int changed = hooks.modifyIP ? hooks.modifyIP(row, params.password) : 0;
            DEV_INFO moved;
            if (changed < 1 || !ctx.rows().device(row, &moved) || !ctx.sleepFor(params.ipChangeWaitMs)) {
                state->deviceDone(); // the row keeps the text the address change left
                return false;
            }
            std::memcpy(record.szIpaddress, moved.szIpaddress, sizeof record.szIpaddress);
        }
        if (params.modify && !state->package().isEmpty())
            return true; // burnt with the package of this run

        // The row's session (a row click's), taken over by the run: from here on only the run ends it.
        LogoDevice::Made made = LogoDevice::makePackage(record, ctx.rows().takeSession(row), params.password,
                                                        state->builder(), true);
        DeviceSession session = std::move(made.session);
        if (made.outcome == LogoDevice::Made::LoginFailed) {
            ctx.status(StatusOutcome::Failure, hooks.loginErrorText ? hooks.loginErrorText(made.loginError)
                                                                    : QString::number(made.loginError));
            state->deviceDone();
            return false;
        }
        auto logout = [&session] { session.reset(); };
        if (DeviceProtocol::isOnvif(record)) {
            // No logo partition over ONVIF: said, counted neither way, and no package made from it.
            ctx.status(StatusOutcome::Unsupported, DeviceProtocol::notSupportedText());
            logout();
            state->deviceDone();
            return false;
        }
        // A step: the package and the burn are still to come.
        ctx.status(StatusOutcome::Neutral, trLogo("Login Success"));
        switch (made.outcome) {
        case LogoDevice::Made::PartInfoFailed:
            ctx.status(StatusOutcome::Failure, partitionErrorText(made.code));
            logout();
            state->deviceDone();
            return false;
        case LogoDevice::Made::MakeFailed:
            ctx.status(StatusOutcome::Failure,
                       trLogo("Make Program Failed") + QStringLiteral(" code:%1").arg(made.code));
            logout();
            state->deviceDone();
            return false;
        case LogoDevice::Made::LoginFailed:
        case LogoDevice::Made::Built:
            break;
        }
        state->addPackage(made.package);
        if (!params.modify) {
            logout();
            if (hooks.packageMade)
                hooks.packageMade(made.package);
            state->deviceDone();
            return false;
        }
        // The burn goes on with this login, handed to it through the run; the row shows what it read.
        state->holdLogin(row, std::move(session));
        ctx.rows().updateDevice(row, [&record](DEV_INFO &r) { r.NetDevInfo = record.NetDevInfo; });
        return true;
    };

    LogoBurn burn;
    burn.password = params.password;
    burn.oemidStep = oemidStepFor(params);
    burn.loginErrorText = hooks.loginErrorText;
    burn.sdk = sdk;
    plan.job = [burn, state](BatchContext &ctx) {
        DeviceSession session = state->takeLogin(ctx.row());
        if (!session)
            session = ctx.rows().takeSession(ctx.row());
        auto record = std::make_shared<DEV_INFO>();
        if (!ctx.rows().device(ctx.row(), record.get())) {
            state->deviceDone(); // the session ends here
            ctx.fail();
            return;
        }
        if (!burnDevice(ctx, record, std::move(session), burn, state))
            ctx.fail();
    };
    return plan;
}
