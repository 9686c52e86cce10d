#include "oemidstep.h"

#include "oemidwriter.h"

#include "device/deviceprotocol.h"

namespace
{

// The procedure reaches "the row" through this: the job's own copy of the record (it holds the
// login the step works on) and the row's cells in the table.
class JobRows : public DeviceRows
{
public:
    JobRows(DEV_INFO &record, const BoundRows &table) : m_record(record), m_table(table) {}

    quint64 generation() const override { return m_table.generation(); }
    int rowCount() const override { return m_record.nIndex + 1; }
    bool device(quint64 generation, int row, DEV_INFO *out) const override
    {
        if (generation != m_table.generation() || row != m_record.nIndex)
            return false;
        *out = m_record;
        return true;
    }
    bool updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change) override
    {
        if (generation != m_table.generation() || row != m_record.nIndex)
            return false;
        change(m_record);
        return true;
    }
    void post(const RowEvent &event) override { m_table.forward(event); }

private:
    DEV_INFO &m_record;
    const BoundRows &m_table;
};

} // namespace

OemidStep::OemidStep(Params params) : m_params(std::move(params)) {}

OemidWriterParams OemidStep::writerParams() const
{
    OemidWriterParams params;
    params.assignedOemid = m_params.assignedOemid;
    params.variant = m_params.logoTab ? OemidVariant::logoTab() : OemidVariant::firmwareTab();
    params.appDir = m_params.appDir;
    return params;
}

bool OemidStep::check(const BatchContext &ctx, DEV_INFO &record) const
{
    if (DeviceProtocol::isOnvif(record)) {
        ctx.status(StatusOutcome::Unsupported, DeviceProtocol::notSupportedText());
        return false;
    }
    JobRows rows(record, ctx.rows());
    NetSdkOemid sdk;
    OemidWriter writer(writerParams(), sdk, BoundRows(rows, ctx.rows().generation()));
    writer.resetRow();
    writer.readDevOEMID(record.nIndex);
    QString text;
    if (writer.precheck(m_params.allowRepeat, &text) == OemidWriter::Precheck::Write)
        return true;
    ctx.status(StatusOutcome::Failure, text);
    return false;
}

bool OemidStep::run(const BatchContext &ctx, DEV_INFO &record, QString *resultText) const
{
    JobRows rows(record, ctx.rows());
    NetSdkOemid sdk;
    OemidWriter writer(writerParams(), sdk, BoundRows(rows, ctx.rows().generation()));

    const int row = record.nIndex;
    if (DeviceProtocol::isOnvif(record)) {
        *resultText = DeviceProtocol::notSupportedText();
        ctx.status(StatusOutcome::Unsupported, *resultText);
        return false;
    }
    writer.resetRow();
    writer.readDevOEMID(row);
    QString text;
    if (writer.precheck(m_params.allowRepeat, &text) != OemidWriter::Precheck::Write) {
        ctx.status(StatusOutcome::Failure, text);
        *resultText = text;
        return false;
    }
    *resultText = writer.setDevOEMID(row);
    return writer.regetOemid() == writer.assignedOemid();
}
