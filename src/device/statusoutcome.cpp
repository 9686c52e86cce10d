#include "device/statusoutcome.h"

#include <QCoreApplication>

namespace
{

struct KnownText {
    const char *context;
    const char *source;
    StatusOutcome outcome;
    bool prefix; ///< followed by a code, an OEMID or a note
};

// Failures first: "Upgrade Fail" must not be taken for a success because of a longer success text.
const KnownText knownTexts[] = {
    // logins
    {"LoginDlg", "Network is error", StatusOutcome::Failure, false},
    {"LoginDlg", "System is busying", StatusOutcome::Failure, false},
    {"LoginDlg", "Login timeout", StatusOutcome::Failure, false},
    {"LoginDlg", "Password is error", StatusOutcome::Failure, false},
    {"LoginDlg", "The user is not existed", StatusOutcome::Failure, false},
    {"LoginDlg", "The user is locked", StatusOutcome::Failure, false},
    {"LoginDlg", "The user is in blacklist", StatusOutcome::Failure, false},
    {"LoginDlg", "The user has logined", StatusOutcome::Failure, true},
    {"LoginDlg", "Cann't find the device", StatusOutcome::Failure, true},
    {"LoginDlg", "Unknow Error", StatusOutcome::Failure, true},
    // address change, reset and reboot
    {"DeviceTable", "Set Ip Fail", StatusOutcome::Failure, false},
    {"DeviceTable", "change IP failed", StatusOutcome::Failure, false},
    // The new address waits for a reboot: the run went no further with the device.
    {"DeviceTable", "Need Reboot", StatusOutcome::Failure, false},
    {"DeviceTable", "Reset Config Failed", StatusOutcome::Failure, false},
    {"DeviceTable", "Reboot Failed", StatusOutcome::Failure, false},
    // firmware and logo upgrades
    {"UpgradeWidget", "Upgrade Failed", StatusOutcome::Failure, true},
    {"UpgradeWidget", "Upgrade Fail", StatusOutcome::Failure, true},
    {"UpgradeWidget", "No enough memory", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invaild upgrade packet", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Some part upgrade fail", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invalid hardware", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invalid vendor", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invalid compalible", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invalid version", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Invalid wifi drive", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Unknow error", StatusOutcome::Failure, true},
    {"UpgradeWidget", "ImportConfigFailed", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Not verified: version unchanged", StatusOutcome::Failure, false},
    {"UpgradeWidget", "Not verified: no answer after %1 s", StatusOutcome::Failure, true},
    {"UpgradeLogoWidget", "Get applink information failed", StatusOutcome::Failure, false},
    {"UpgradeLogoWidget", "Get Upgrade information failed", StatusOutcome::Failure, false},
    {"UpgradeLogoWidget", "Make Program Failed", StatusOutcome::Failure, false},
    // OEMID
    {"OemidWriter", "Set OEMID Failed", StatusOutcome::Failure, false},
    {"OemidWriter", "Reget DevOEMID Failed", StatusOutcome::Failure, false},
    {"OemidWriter", "Set OEMID Incorrect", StatusOutcome::Failure, false},
    {"OemidWriter", "OEMID Repeat", StatusOutcome::Failure, true},
    // A read error carries what the read gave ("err 3 0").
    {"OemidWriter", "OEMID ERROR", StatusOutcome::Failure, true},
    {"OemidWriter", "Get Dev OEMID Error", StatusOutcome::Failure, true},
    // A factory record that cannot be saved stops OEMID writing (the record waits in memory).
    {"FactoryRecords", "Creat logfile Failed", StatusOutcome::Failure, true},
    {"FactoryRecords", "OEMID not written: %1 factory records cannot be saved (%2); free space for them",
     StatusOutcome::Failure, true},
    {"SetOEMID", "OEMID ERROR", StatusOutcome::Failure, false},
    {"SetOEMID", "OEMID Repeat", StatusOutcome::Failure, true},
    {"SetOEMID", "dev login failed", StatusOutcome::Failure, false},
    // device settings
    {"SetOEMID", "set change H264 fail", StatusOutcome::Failure, false},
    {"SetOEMID", "synchronization time fail", StatusOutcome::Failure, false},
    {"SetOEMID", "set time-zone fail", StatusOutcome::Failure, false},
    {"SetOEMID", "set language fail", StatusOutcome::Failure, false},

    {"DeviceTable", "Login Success", StatusOutcome::Success, false},
    {"UpgradeWidget", "Login Success", StatusOutcome::Success, false},
    {"UpgradeLogoWidget", "Login Success", StatusOutcome::Success, false},
    {"DeviceTable", "Reset Config Successfully", StatusOutcome::Success, false},
    {"DeviceTable", "Reboot Successfully", StatusOutcome::Success, false},
    {"UpgradeWidget", "Upgrade Success", StatusOutcome::Success, true},
    {"UpgradeWidget", "ImportConfigSuccess", StatusOutcome::Success, false},
    {"UpgradeWidget", "Verified %1 %2", StatusOutcome::Success, true},
    {"UpgradeWidget", "Ready", StatusOutcome::Success, false},
    {"OemidWriter", "Set OEMID Success", StatusOutcome::Success, true},
    {"SetOEMID", "set IP success", StatusOutcome::Success, false},
    {"SetOEMID", "set change H264 success", StatusOutcome::Success, false},
    {"SetOEMID", "synchronization time successful", StatusOutcome::Success, false},
    {"SetOEMID", "set time-zone success", StatusOutcome::Success, false},
    {"SetOEMID", "set language success", StatusOutcome::Success, true},
};

bool matches(const QString &text, const QString &known, bool prefix)
{
    if (known.isEmpty())
        return false;
    // A text with arguments is known by what comes before its first one.
    const qsizetype arg = known.indexOf(QLatin1String("%1"));
    if (arg >= 0)
        return prefix && arg > 0 && text.startsWith(known.left(arg));
    return prefix ? text.startsWith(known) : text == known;
}

} // namespace

StatusOutcome statusOutcome(const QString &raw)
{
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return StatusOutcome::Neutral;
    for (const KnownText &known : knownTexts) {
        const QString english = QString::fromLatin1(known.source);
        if (matches(text, english, known.prefix) ||
            matches(text, QCoreApplication::translate(known.context, known.source), known.prefix))
            return known.outcome;
    }
    return StatusOutcome::Neutral;
}
