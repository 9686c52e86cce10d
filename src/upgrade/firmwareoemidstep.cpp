#include "firmwareoemidstep.h"

#include "oemid/oemidwriter.h"
#include "upgraderun.h"

namespace
{

// The procedure reaches "the row" through this: the worker's own copy of the record (it holds the
// login the step works on) and the row's status cell.
class WorkerRows : public OemidRows
{
public:
    WorkerRows(DEV_INFO &record, UpgradeTableAccess &table) : m_record(record), m_table(table) {}

    bool device(int row, DEV_INFO *out) override
    {
        if (row != m_record.nIndex)
            return false;
        *out = m_record;
        return true;
    }
    bool updateDevice(int row, const std::function<void(DEV_INFO &)> &change) override
    {
        if (row != m_record.nIndex)
            return false;
        change(m_record);
        return true;
    }
    void setStatusText(int row, const QString &text) override
    {
        m_table.setCellText(row, UpgradeRun::StatusColumn, text);
    }
    void setOemidText(int, const QString &) override {}

private:
    DEV_INFO &m_record;
    UpgradeTableAccess &m_table;
};

} // namespace

FirmwareOemidStep::FirmwareOemidStep(Params params, UpgradeTableAccess &table)
    : m_params(std::move(params)), m_table(table)
{
}

bool FirmwareOemidStep::run(DEV_INFO &record, QString *resultText)
{
    WorkerRows rows(record, m_table);
    NetSdkOemid sdk;
    OemidWriterParams params;
    params.assignedOemid = m_params.assignedOemid;
    params.variant = OemidVariant::firmwareTab();
    params.appDir = m_params.appDir;
    OemidWriter writer(params, sdk, rows);

    const int row = record.nIndex;
    writer.resetRow();
    writer.readDevOEMID(row);
    QString text;
    if (writer.precheck(m_params.allowRepeat, &text) != OemidWriter::Precheck::Write) {
        rows.setStatusText(row, text);
        *resultText = text;
        return false;
    }
    *resultText = writer.setDevOEMID(row);
    return writer.regetOemid() == writer.assignedOemid();
}
