#pragma once

#include "flashprogress.h"

#include "device/devicebatch.h"
#include "device/devicesession.h"
#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

/// The SDK functions a flashing job uses; tests may replace them.
struct FlashSdk {
    decltype(&H264_DVR_Login) login = &H264_DVR_Login;
    DeviceSession::Logout logout = &DeviceSession::sdkLogout;
    decltype(&H264_DVR_GetLastError) lastError = &H264_DVR_GetLastError;
    decltype(&H264_DVR_UpgradePinned) upgrade = &H264_DVR_UpgradePinned;
    decltype(&H264_DVR_CloseUpgradeHandle) closeUpgrade = &H264_DVR_CloseUpgradeHandle;
};

/// One package transfer of a job. The functions run on an SDK thread until the final report, so they
/// hold what they need themselves.
struct FlashSend {
    QString packagePath;
    /// SHA-256 of the package as it was inspected or made (32 bytes): the device is sent that version
    /// only. Otherwise whatever the path holds when the transfer starts.
    QByteArray packageSha256;
    /// Reads one progress report of the SDK for the row.
    std::function<ProgressReport(int total, int position)> describe;
    /// Once, on the final report, while the transfer still counts as running.
    std::function<void(const ProgressReport &report)> finished;
    /// Once, after the final report has ended the transfer (not when a shutdown closes it).
    std::function<void()> released;
};

/// The steps one device's flashing job is built from, shared by the firmware upgrade and the logo
/// burn. The job owns its session (one handed to it, or its own login), never leaving it in the row,
/// so that nothing done to the table can end it under the transfer; the record names its handle for
/// the SDK calls. Status texts are the firmware tab's, which both tabs show.
class FlashJob
{
public:
    FlashJob(const BatchContext &ctx, std::shared_ptr<DEV_INFO> record, const FlashSdk &sdk,
             DeviceSession handed = {});

    DEV_INFO &record() const { return *m_record; }
    /// True while the job holds a session (one handed to it, or its own login).
    bool holdsSession() const { return m_session->loggedIn(); }

    /// Puts `password` into the record when it fits the record's field and returns it: a longer
    /// password is still used in full.
    static QByteArray usePassword(DEV_INFO &record, const QByteArray &password);

    /// Ends a session the row holds from an earlier action, and any the job holds.
    void closeStaleSession();
    /// Logs in with `password`; a failure leaves `loginErrorText(code)` in the row.
    bool logIn(const QByteArray &password, const std::function<QString(int code)> &loginErrorText);
    /// "Login Success": a step, the job goes on.
    void announceSession() const;
    /// Ends the job's session: a device stopped before its transfer, or a check done.
    void logOut();
    void closeSession() { logOut(); }

    /// Starts the transfer. False: the row says why and the session is logged out.
    bool send(const FlashSend &send);

    /// The final text of a device whose package file was no longer the one inspected.
    static QString packageChangedText();
    /// "Ready": a check found nothing that would stop the job.
    void ready() const;

private:
    const BatchContext &m_ctx;
    std::shared_ptr<DEV_INFO> m_record;
    FlashSdk m_sdk;
    /// Shared with a started transfer, which ends it on its final report or when the run closes it.
    std::shared_ptr<DeviceSession> m_session;
};

/// Checks `rows` of the batch's table with `check` (on a copy of each row's record), at most
/// MaxFlashChecks at once; a false check fails the row. False while the batch is busy.
bool startFlashChecks(DeviceBatch &batch, const QList<int> &rows,
                      std::function<bool(const BatchContext &ctx, DEV_INFO record)> check);
constexpr int MaxFlashChecks = 32;
/// Rows above this are never flashed (the tabs hold at most this many devices).
constexpr int MaxFlashRows = 256;
