#pragma once

#include "device/devicebatch.h"
#include "netsdk/netsdk.h"
#include "oemid/oemidwriter.h"

#include <QString>

/// The OEMID step of the firmware run: on the login the job already holds, read the device's
/// producer information, refuse an error or a repeat, write the assigned OEMID, verify it and leave
/// a factory record (the OEMID area's shared procedure with the firmware tab's variant).
class FirmwareOemidStep
{
public:
    struct Params {
        QString assignedOemid;
        bool allowRepeat = false; ///< the tab's "can repeat" box
        QString appDir;           ///< root of the factory-record tree
        bool logoTab = false;     ///< the logo tab's texts ("Get Dev OEMID Error", detail texts)
    };

    explicit FirmwareOemidStep(Params params);

    /// Runs the step for the job's record; status texts go into the job's row. True when the
    /// OEMID was written and read back; `resultText` gets the text kept for the final status.
    bool run(const BatchContext &ctx, DEV_INFO &record, QString *resultText) const;
    /// The step's read and its decision, without writing: true when the run would write the OEMID,
    /// otherwise the row keeps the text the run would have stopped with.
    bool check(const BatchContext &ctx, DEV_INFO &record) const;

private:
    OemidWriterParams writerParams() const;

    Params m_params;
};
