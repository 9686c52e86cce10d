#pragma once

#include "device/devicebatch.h"
#include "netsdk/netsdk.h"
#include "oemidwriter.h"

#include <QString>

/// The OEMID step of a flashing job (firmware upgrade or logo burn): on the login the job already
/// holds, read the device's producer information, refuse an error or a repeat, write the assigned
/// OEMID, verify it and leave a factory record, with the texts of the tab that runs it.
class OemidStep
{
public:
    struct Params {
        QString assignedOemid;
        bool allowRepeat = false; ///< the tab's "can repeat" box
        QString appDir;           ///< root of the factory-record tree
        bool logoTab = false;     ///< the logo tab's texts ("Get Dev OEMID Error", detail texts)
    };

    explicit OemidStep(Params params);
    virtual ~OemidStep() = default;

    /// Runs the step for the job's record; status texts go into the job's row. True when the
    /// OEMID was written and read back; `resultText` gets the text kept for the final status.
    virtual bool run(const BatchContext &ctx, DEV_INFO &record, QString *resultText) const;
    /// The step's read and its decision, without writing: true when the run would write the OEMID,
    /// otherwise the row keeps the text the run would have stopped with.
    virtual bool check(const BatchContext &ctx, DEV_INFO &record) const;

private:
    OemidWriterParams writerParams() const;

    Params m_params;
};
