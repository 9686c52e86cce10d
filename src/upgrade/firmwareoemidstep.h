#pragma once

#include "netsdk/netsdk.h"

#include <QString>

class UpgradeTableAccess;

/// The OEMID step of the firmware run: on the login the worker already holds, read the device's
/// producer information, refuse an error or a repeat, write the assigned OEMID, verify it and leave
/// a factory record (the OEMID area's shared procedure with the firmware tab's variant).
class FirmwareOemidStep
{
public:
    struct Params {
        QString assignedOemid;
        bool allowRepeat = false; ///< the tab's "can repeat" box
        QString appDir;           ///< root of the factory-record tree
    };

    FirmwareOemidStep(Params params, UpgradeTableAccess &table);

    /// Runs the step for the worker's record; status texts go into the record's row. True when the
    /// OEMID was written and read back; `resultText` gets the text kept for the final status.
    bool run(DEV_INFO &record, QString *resultText);

private:
    Params m_params;
    UpgradeTableAccess &m_table;
};
