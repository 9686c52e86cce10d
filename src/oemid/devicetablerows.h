#pragma once

#include "oemidwriter.h"

class DeviceTable;

/// The OEMID procedure's view of a tab's device table.
class DeviceTableRows : public OemidRows
{
public:
    explicit DeviceTableRows(DeviceTable &table);
    bool device(int row, DEV_INFO *out) override;
    bool updateDevice(int row, const std::function<void(DEV_INFO &)> &change) override;
    void setStatusText(int row, const QString &text) override;
    void setOemidText(int row, const QString &text) override;

private:
    DeviceTable &m_table;
};
