#pragma once

#include "upgraderun.h"

class DeviceTable;

/// The firmware run's view of the tab's device table.
class DeviceTableAccess : public UpgradeTableAccess
{
public:
    explicit DeviceTableAccess(DeviceTable &table) : m_table(table) {}

    bool copyRowDevice(int row, DEV_INFO *out) override;
    void setCellText(int row, int column, const QString &text) override;
    bool clearRowLogin(int row) override;

private:
    DeviceTable &m_table;
};
