#pragma once

#include "device/cbatchdealthread.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

class DeviceTable;

/// Reset (CBatchDealThread::ResetConfig) or reboot of rows of a device table, as the table's menu and
/// tallowctl run it: the rows' sessions go to the run, each device's answer becomes its row's status
/// text with its outcome, and the sessions of devices still up go back to their rows (never to rows a
/// new search made meanwhile). Calls on the table's thread; finished() comes there.
class TableCommand : public QObject
{
    Q_OBJECT
public:
    explicit TableCommand(DeviceTable &table, QObject *parent = nullptr);
    /// Interrupts the run (no further device starts) and waits for the device in hand.
    ~TableCommand() override;

    /// Starts `command` over `rows` of the table's current generation; false (nothing started) while
    /// a run is going on or for a command other than reset and reboot.
    bool start(int command, const QList<int> &rows);
    bool isRunning() const;
    /// Interrupts the run without waiting for the device in hand.
    void cancel();

    /// A reset or reboot answer for `row` (CBatchDealThread::message): the row's status text.
    static void answered(DeviceTable &table, int ret, int nError, int row, int nCmd);

signals:
    /// Every device of the run has answered.
    void finished();

private:
    DeviceTable &m_table;
    std::unique_ptr<CBatchDealThread> m_thread;
    quint64 m_generation = 0;
};
