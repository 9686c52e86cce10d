#include "devicetableaccess.h"

#include "device/devicetable.h"

bool DeviceTableAccess::copyRowDevice(int row, DEV_INFO *out)
{
    return m_table.copyRowDevice(row, out);
}

void DeviceTableAccess::setCellText(int row, int column, const QString &text)
{
    m_table.setCellText(row, column, text);
}

bool DeviceTableAccess::clearRowLogin(int row)
{
    return m_table.clearRowLogin(row);
}
