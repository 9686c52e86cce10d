#include "logo/logorowprobe.h"

#include "device/deviceprotocol.h"
#include "device/devicerows.h"
#include "device/loginerrortext.h"
#include "device/loginrunner.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>

// The texts are the logo tab's: they keep its translation context.

LogoRowProbe::LogoRowProbe(DeviceRows &rows, LogoDevice::Sdk sdk, QObject *parent)
    : QObject(parent), m_rows(rows), m_sdk(sdk), m_cancel(std::make_shared<std::atomic<bool>>(false)),
      m_runner(std::make_unique<LoginRunner>())
{
}

LogoRowProbe::~LogoRowProbe()
{
    // The runner's end waits for the probe; a wait after an address change need not run out first.
    m_cancel->store(true);
}

bool LogoRowProbe::busy() const
{
    return m_runner->busy();
}

bool LogoRowProbe::start(const Request &request)
{
    DEV_INFO record;
    if (busy() || !m_rows.device(request.generation, request.row, &record))
        return false;
    DeviceRows *rows = &m_rows;
    const int row = request.row;
    const quint64 generation = request.generation;
    auto probe = std::make_shared<LogoDevice::Probe>();
    m_runner->run(
        record,
        [rows, row, generation, request, probe, sdk = m_sdk, cancel = m_cancel](LoginRunner::Result &result) {
            // The probe owns the row's session while it works; what it leaves open goes back below.
            DeviceSession held = rows->takeSession(generation, row);
            std::function<int(DEV_INFO &)> change;
            if (request.modifyIP) {
                change = [&](DEV_INFO &rec) {
                    const int changed = request.modifyIP(row, request.password);
                    DEV_INFO moved;
                    // The login goes to the address the change gave the device.
                    if (changed >= 1 && rows->device(generation, row, &moved))
                        std::memcpy(rec.szIpaddress, moved.szIpaddress, sizeof moved.szIpaddress);
                    return changed;
                };
            }
            auto sleep = [&cancel](int ms) {
                for (int waited = 0; waited < ms && !cancel->load(); waited += 20)
                    QThread::msleep(20);
                return !cancel->load();
            };
            *probe =
                LogoDevice::probeRow(result.record, std::move(held), request.password, change, sleep, sdk);
            result.record = probe->record;
            if (probe->outcome == LogoDevice::Probe::LoginFailed)
                result.text = loginErrorText(probe->loginError); // with this thread's last SDK error
        },
        [this, row, generation, probe](LoginRunner::Result &result) {
            emit finished(report(row, generation, *probe, result));
        });
    return true;
}

LogoProbeReport LogoRowProbe::report(int row, quint64 generation, LogoDevice::Probe &probe,
                                     const LoginRunner::Result &result)
{
    LogoProbeReport report;
    report.row = row;
    report.outcome = probe.outcome;
    // The row keeps a login the probe left open; a row gone with a new search does not.
    report.stored = m_rows.updateDevice(generation, row, [&result](DEV_INFO &r) {
        r.NetDevInfo = result.record.NetDevInfo;
        std::memcpy(r.szIpaddress, result.record.szIpaddress, sizeof r.szIpaddress);
    });
    m_rows.giveSession(generation, row, std::move(probe.session));
    if (!report.stored)
        return report;
    switch (probe.outcome) {
    case LogoDevice::Probe::IpChangeFailed:
        break; // the change wrote its own text
    case LogoDevice::Probe::LoginFailed:
        report.status.push_back({StatusOutcome::Failure, result.text});
        break;
    case LogoDevice::Probe::OldBuild:
        report.status.push_back(
            {StatusOutcome::Success, QCoreApplication::translate("UpgradeLogoWidget", "Login Success")});
        report.appLinks = false;
        break;
    case LogoDevice::Probe::AppLinkFailed:
        report.status.push_back(
            {StatusOutcome::Neutral, QCoreApplication::translate("UpgradeLogoWidget", "Login Success")});
        report.status.push_back(
            {StatusOutcome::Failure,
             QStringLiteral("%1,ErrorCode:%2")
                 .arg(QCoreApplication::translate("UpgradeLogoWidget", "Get applink information failed"))
                 .arg(probe.lastError)});
        report.appLinks = true;
        break;
    case LogoDevice::Probe::NotSupported:
        report.status.push_back({StatusOutcome::Unsupported, DeviceProtocol::notSupportedText()});
        report.appLinks = false;
        break;
    case LogoDevice::Probe::AppLink:
        report.status.push_back(
            {StatusOutcome::Success, QCoreApplication::translate("UpgradeLogoWidget", "Login Success")});
        report.appLinks = true;
        report.iosRow = probe.iosRow;
        break;
    }
    return report;
}
