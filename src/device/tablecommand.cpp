#include "device/tablecommand.h"

#include "device/devicetable.h"

TableCommand::TableCommand(DeviceTable &table, QObject *parent) : QObject(parent), m_table(table) {}

TableCommand::~TableCommand()
{
    m_thread.reset(); // its destructor interrupts the run and waits
}

void TableCommand::cancel()
{
    if (m_thread)
        m_thread->cancel();
}

bool TableCommand::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void TableCommand::answered(DeviceTable &table, int ret, int nError, int row, int nCmd)
{
    const BatchOutcome outcome = batchOutcome(ret, nError, nCmd);
    table.setStatusText(row, outcome.outcome, outcome.text);
}

bool TableCommand::start(int command, const QList<int> &rows)
{
    if (isRunning() || (command != CBatchDealThread::ResetConfig && command != CBatchDealThread::Reboot))
        return false;
    // A finished thread is dropped and a fresh one made, so every run starts from an empty list.
    m_thread = std::make_unique<CBatchDealThread>();
    m_thread->setCommand(command);
    m_generation = m_table.generation();
    m_table.runStarted(m_generation, std::vector<int>(rows.cbegin(), rows.cend()));
    std::vector<int> sent; // table row by position in the run
    for (int row : rows) {
        DEV_INFO rec;
        if (m_table.device(m_generation, row, &rec)) {
            rec.nIndex = row;
            // The run owns the row's session while it runs.
            m_thread->addDevice(rec, m_table.takeSession(m_generation, row));
            sent.push_back(row);
        }
    }
    connect(m_thread.get(), &CBatchDealThread::message, this,
            [this](int ret, int nError, int nIndex, int nCmd) {
                if (m_table.generation() != m_generation)
                    return; // a new search replaced the rows
                answered(m_table, ret, nError, nIndex, nCmd);
            });
    connect(m_thread.get(), &CBatchDealThread::finished, this, [this, sent] {
        // Sessions of devices that are still up go back to their rows (not to rows a new search made).
        for (size_t i = 0; i < sent.size(); ++i)
            m_table.giveSession(m_generation, sent[i], m_thread->takeSession(int(i)));
        emit finished();
    });
    m_thread->start();
    return true;
}
