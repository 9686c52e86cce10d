#pragma once

#include "device/statusoutcome.h"

#include <QString>

/// Operator text of a device's upgrade error code (-11804 .. -11811, and the SDK's flash deadline
/// NETSDK_ERR_UPG_DEADLINE; anything else "Unknow error").
QString upgradeErrorText(int code);

/// What one progress report of the SDK means for the device's row.
struct ProgressReport {
    enum Kind {
        None,           ///< nothing to show
        Sending,        ///< the package is being sent: "Send Progress: N"
        DeviceProgress, ///< the device flashes: "Upgrade Progress: N"
        Success,        ///< final
        Failure,        ///< final
        DeviceError     ///< final: an upgrade error code of the device
    };
    Kind kind = None;
    QString text;
    bool isFinal() const { return kind == Success || kind == Failure || kind == DeviceError; }
    /// What the report says about the device: progress is Neutral.
    StatusOutcome outcome() const
    {
        if (kind == Success)
            return StatusOutcome::Success;
        return isFinal() ? StatusOutcome::Failure : StatusOutcome::Neutral;
    }
};

/// Turns a report (total, position) into the row's status text. `oemidText` is the device's OEMID
/// result of this run, appended to the success and failure texts.
ProgressReport describeProgress(int total, int position, const QString &oemidText);
