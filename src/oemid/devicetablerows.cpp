#include "devicetablerows.h"

#include "device/devicetable.h"

DeviceTableRows::DeviceTableRows(DeviceTable &table) : m_table(table) {}

bool DeviceTableRows::device(int row, DEV_INFO *out)
{
    return m_table.copyRowDevice(row, out);
}

bool DeviceTableRows::updateDevice(int row, const std::function<void(DEV_INFO &)> &change)
{
    return m_table.updateRowDevice(row, change);
}

void DeviceTableRows::setStatusText(int row, const QString &text)
{
    m_table.setStatusText(row, text);
}

void DeviceTableRows::setOemidText(int row, const QString &text)
{
    const int column = m_table.variant().columnOf(Field::Oemid);
    if (column >= 0)
        m_table.setCellText(row, column, text);
}
