#include "logoprogress.h"

#include "netsdk/netsdk.h"

#include <QCoreApplication>

ProgressReport describeLogoProgress(int total, int position, long lastError)
{
    ProgressReport report = describeProgress(total, position, QString());
    const QString code = QStringLiteral(" code:%1").arg(lastError);
    switch (report.kind) {
    case ProgressReport::Success:
        report.text = QCoreApplication::translate("UpgradeWidget", "Upgrade Success");
        break;
    case ProgressReport::Failure:
        report.text += code;
        break;
    case ProgressReport::DeviceError:
        // A code with a text of its own needs no number beside it.
        if ((position < -11811 || position > -11804) && position != NETSDK_ERR_UPG_DEADLINE)
            report.text += code;
        break;
    default:
        break;
    }
    return report;
}
