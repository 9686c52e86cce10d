#pragma once

#include "oemidwriter.h"

#include "device/devicerows.h"

#include <QCoreApplication>

#include <functional>

/// What the OEMID tab's batch does to each device, copied from the form when the batch starts.
struct OemidTabOptions {
    bool setOemid = false;    ///< `setoemid`: write the assigned OEMID
    bool allowRepeat = false; ///< `checkBox`: also write a device that carries an OEMID
    bool modifyIp = false;    ///< [UpgradeInfo] ModifyIP, read when the batch starts
};

/// One device of the OEMID tab's batch, free of widgets: the optional IP change, the producer
/// information read (a fresh login), the OEMID decision and write, then the ticked settings. Every
/// result goes into the row's cells; the login stays in the row's record for the next steps and is
/// closed when the rows go.
class OemidTabSteps
{
    Q_DECLARE_TR_FUNCTIONS(SetOEMID)
public:
    struct Hooks {
        /// The row's IP change (type 1): above 0 = the address is right now; else the change has
        /// written its own status and the row is skipped.
        std::function<int(int row)> changeIp;
        /// The ticked device settings in their fixed order, on the row's login.
        std::function<void(int row)> settings;
    };

    enum class Outcome { IpSkipped, OemidError, LoginFailed, Done };

    OemidTabSteps(OemidTabOptions options, OemidWriter &writer, BoundRows rows, Hooks hooks);

    Outcome run(int row);

private:
    OemidTabOptions m_options;
    OemidWriter &m_writer;
    BoundRows m_rows;
    Hooks m_hooks;
};
