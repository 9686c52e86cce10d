#include "device/devicetable.h"

#include "device/devicerecord.h"
#include "device/runlog.h"

DeviceTable::DeviceTable(TabKind kind, QObject *parent)
    : QObject(parent), m_variant(&tableVariant(kind)), m_history(*m_variant),
      m_model(std::make_unique<DeviceTableModel>(*m_variant, m_history)), m_store(*m_variant)
{
    m_store.setListener([this](const RowEvent &event) { m_model->show(event); });
}

DeviceTable::~DeviceTable() = default;

void DeviceTable::setRunLog(std::unique_ptr<RunLog> log)
{
    m_history.setRunLog(std::move(log));
}

int DeviceTable::appendRow(const RowFill &fill, DeviceSession session)
{
    const int row = m_store.appendRow(fill.record, std::move(session));
    m_model->appendRow(fill.cells);
    const std::string mac = DeviceRecord::fixedText(fill.record.NetComm.sMac);
    m_history.addRow(
        !mac.empty() ? QString::fromLatin1(mac.c_str())
                     : QStringLiteral("%1:%2")
                           .arg(QString::fromLatin1(DeviceRecord::fixedText(fill.record.szIpaddress).c_str()))
                           .arg(fill.record.nPort));
    for (int c = 0; c < 8; ++c) {
        if (fill.cells[size_t(c)].isValid() && !fill.cells[size_t(c)].toString().isEmpty())
            m_history.record(row, c, fill.cells[size_t(c)].toString(), StatusOutcome::Neutral,
                             QDateTime::currentDateTime());
    }
    return row;
}

void DeviceTable::clear()
{
    m_model->clear(m_store.clear());
    m_history.clearRows();
}

void DeviceTable::setCellText(int row, int column, StatusOutcome outcome, const QString &text)
{
    m_store.noteReport(row, outcome);
    m_model->write(row, column, text, true, outcome);
}

void DeviceTable::setCellValue(int row, int column, const QString &text)
{
    m_model->write(row, column, text, false, StatusOutcome::Neutral);
}
