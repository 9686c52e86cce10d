#pragma once

#include "device/devicebatch.h"
#include "device/devicesession.h"
#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QThreadPool;

/// What the verifier needs of an upgraded device: where it answers, the login that worked before
/// the upgrade and what it ran then.
struct VerifyTarget {
    QByteArray ip;
    uint16_t port = 0;
    QByteArray user, password;
    QByteArray oldVersion;
    int oldYear = 0, oldMonth = 0, oldDay = 0;

    /// True when `running` (what the device answered after its restart) is what it ran before: the
    /// same version and the same build date. Either one changed counts as upgraded.
    bool unchangedIn(const H264_DVR_DEVICEINFO &running) const;
};

/// The SDK functions a verification uses; tests may replace them.
struct VerifySdk {
    decltype(&H264_DVR_Login) login = &H264_DVR_Login;
    DeviceSession::Logout logout = &DeviceSession::sdkLogout;
};

/// The verdict texts of a verification.
namespace VerifyText
{
QString verified(const QByteArray &version, int year, int month, int day);
QString unchanged();
QString noAnswer(int seconds);
} // namespace VerifyText

/// Watches upgraded devices restart and checks the version they come back with. One watcher thread
/// probes every watched device with non-blocking connects (no thread per device); only the short
/// login and read of a device that is back runs on the verifier's small pool.
///
/// Each watch holds a registration in its batch's callback registry, so the batch counts as active
/// (and emits finished()) only once every device has its verdict. stop() ends the watcher and waits
/// for the pool; the owner calls it before the batch goes away.
class UpgradeVerifier
{
public:
    using Sdk = VerifySdk;
    static constexpr int ProbeIntervalMs = 500;
    static constexpr int ConnectTimeoutMs = 1000;
    static constexpr int MaxLogins = 32;

    explicit UpgradeVerifier(VerifySdk sdk = VerifySdk());
    ~UpgradeVerifier();
    UpgradeVerifier(const UpgradeVerifier &) = delete;
    UpgradeVerifier &operator=(const UpgradeVerifier &) = delete;

    /// Accepts watches again after stop().
    void open();
    /// Starts watching the device of `ctx`; false when the verifier is stopped (nothing registered).
    bool watch(const BatchContext &ctx, const VerifyTarget &target, int timeoutSeconds);
    /// Drops every watch without a verdict, ends the watcher thread and waits for running logins.
    void stop();
    /// Devices without a verdict yet.
    int watching() const;

    struct Watch; ///< internal

private:
    void loop();
    void startLogin(const std::shared_ptr<Watch> &w);
    /// The verdict; a verified device's new version and build date go into the row's columns too.
    /// An empty text (the watch was cancelled) leaves the row alone.
    void finish(const std::shared_ptr<Watch> &w, StatusOutcome outcome, const QString &text,
                const H264_DVR_DEVICEINFO *running = nullptr);

    Sdk m_sdk;
    std::unique_ptr<QThreadPool> m_pool;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<Watch>> m_watches;
    std::thread m_thread;
    bool m_accepting = true;
    bool m_quit = false;
};
