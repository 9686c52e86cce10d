#include "oemidtabsteps.h"

#include "device/deviceprotocol.h"

OemidTabSteps::OemidTabSteps(OemidTabOptions options, OemidWriter &writer, BoundRows rows, Hooks hooks)
    : m_options(options), m_writer(writer), m_rows(rows), m_hooks(std::move(hooks))
{
}

OemidTabSteps::Outcome OemidTabSteps::run(int row)
{
    if (m_options.modifyIp && m_hooks.changeIp) {
        if (m_hooks.changeIp(row) <= 0)
            return Outcome::IpSkipped;
        m_rows.status(row, StatusOutcome::Success, tr("set IP success"));
    }

    m_writer.resetRow();
    m_writer.readDevOEMID(row);
    DEV_INFO dev;
    if (m_rows.device(row, &dev) && DeviceProtocol::isOnvif(dev)) {
        // No OEMID over ONVIF; the device settings (clock, zone) still apply.
        if (!m_writer.loginOk()) {
            m_rows.status(row, StatusOutcome::Failure, tr("dev login failed"));
            return Outcome::LoginFailed;
        }
        if (m_options.setOemid)
            m_rows.status(row, StatusOutcome::Unsupported, DeviceProtocol::notSupportedText());
        if (m_hooks.settings)
            m_hooks.settings(row);
        return Outcome::Done;
    }
    const QString &deviceOemid = m_writer.deviceOemid();
    if (deviceOemid == QLatin1String("err")) {
        m_rows.status(row, StatusOutcome::Failure, tr("OEMID ERROR"));
        return Outcome::OemidError;
    }
    if (!m_writer.loginOk()) {
        m_rows.status(row, StatusOutcome::Failure, tr("dev login failed"));
        return Outcome::LoginFailed;
    }
    if (m_options.setOemid) {
        if (deviceOemid == QLatin1String("000") || m_options.allowRepeat)
            m_writer.setDevOEMID(row);
        else
            m_rows.status(row, StatusOutcome::Failure,
                          tr("OEMID Repeat") + QLatin1Char('(') + deviceOemid + QLatin1Char(')'));
    }
    if (m_hooks.settings)
        m_hooks.settings(row);
    return Outcome::Done;
}
