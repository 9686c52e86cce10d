#include "flashprogress.h"

#include "netsdk/netsdk.h"

#include <QCoreApplication>

#include <cstdint>

QString upgradeErrorText(int code)
{
    switch (code) {
    case -11804:
        return QCoreApplication::translate("UpgradeWidget", "No enough memory");
    case -11805:
        return QCoreApplication::translate("UpgradeWidget", "Invaild upgrade packet");
    case -11806:
        return QCoreApplication::translate("UpgradeWidget", "Some part upgrade fail");
    case -11807:
        return QCoreApplication::translate("UpgradeWidget", "Invalid hardware");
    case -11808:
        return QCoreApplication::translate("UpgradeWidget", "Invalid vendor");
    case -11809:
        return QCoreApplication::translate("UpgradeWidget", "Invalid compalible");
    case -11810:
        return QCoreApplication::translate("UpgradeWidget", "Invalid version");
    case -11811:
        return QCoreApplication::translate("UpgradeWidget", "Invalid wifi drive");
    case NETSDK_ERR_UPG_DEADLINE:
        return QCoreApplication::translate("UpgradeWidget",
                                           "Upgrade timed out: the device did not finish in time");
    default:
        return QCoreApplication::translate("UpgradeWidget", "Unknow error");
    }
}

ProgressReport describeProgress(int total, int position, const QString &oemidText)
{
    ProgressReport report;
    if (position == -1) {
        report.kind = ProgressReport::Success;
        report.text = QCoreApplication::translate("UpgradeWidget", "Upgrade Success") + QStringLiteral("  ") +
                      oemidText;
    } else if (position == -2) {
        report.kind = ProgressReport::Failure;
        report.text = QCoreApplication::translate("UpgradeWidget", "Upgrade Fail") + oemidText;
    } else if (position < -2) {
        report.kind = ProgressReport::DeviceError;
        report.text = upgradeErrorText(position);
    } else if (total == -1) {
        report.kind = ProgressReport::DeviceProgress;
        report.text = QStringLiteral("%1 %2")
                          .arg(QCoreApplication::translate("UpgradeWidget", "Upgrade Progress:"))
                          .arg(position);
    } else if (total > 0) {
        // In 64 bits: position * 100 overflows 32 bits for packages above 21 MB, and floating point
        // would show 28 for 29 of 100 (0.29 * 100 is 28.999... in binary).
        const int percent = int(int64_t(position) * 100 / int64_t(total));
        report.kind = ProgressReport::Sending;
        report.text = QStringLiteral("%1 %2")
                          .arg(QCoreApplication::translate("UpgradeWidget", "Send Progress:"))
                          .arg(percent);
    }
    return report;
}
