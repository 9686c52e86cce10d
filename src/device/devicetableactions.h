#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class TableCommand;
class CDialogWidget;
class OnvifProbeDialog;
class DeviceTabController;
class DeviceTable;
class QMenu;
class QPoint;
class QTableView;

/// The device table's context menu and keys, the same on every tab: a device's history, selecting
/// the failed devices of the last run, CSV export, and reset or reboot of the chosen devices; Enter
/// on a row does what a double click does.
/// "Chosen" means ticked on tabs whose table has tick boxes, selected otherwise.
class DeviceTableActions : public QObject
{
    Q_OBJECT
public:
    DeviceTableActions(DeviceTabController &core, QTableView *view);
    /// Stops a reset or reboot under way and waits for it.
    ~DeviceTableActions() override;

    /// The menu for `row` (-1: no row under the pointer); the caller owns it. Actions carry object
    /// names: showHistory, selectFailed, exportCsv, onvifProbeAddresses, resetConfig, reboot.
    QMenu *createMenu(int row);

    /// Opens the history dialog of `row` (not modal); null when there is no such row.
    CDialogWidget *showHistory(int row);
    QPointer<CDialogWidget> historyDialog() const { return m_historyDialog; }
    /// Opens (or raises) the dialog of the addresses a search probes directly for ONVIF cameras.
    OnvifProbeDialog *showProbeAddresses();
    QPointer<OnvifProbeDialog> probeDialog() const { return m_probeDialog; }
    /// Chooses exactly the failed rows of the last run; returns them.
    QList<int> selectFailed();
    /// Writes the table to `path`; false with a message box when it cannot.
    bool exportTo(const QString &path);
    /// Asks for a file name and exports; the chooser can be replaced (tests).
    void exportCsv();
    void setExportPathChooser(std::function<QString()> chooser) { m_chooseExportPath = std::move(chooser); }
    /// Asks for confirmation, then resets (CBatchDealThread::ResetConfig) or reboots the chosen rows.
    /// False when nothing was started (no rows, not confirmed, or a run of the tab is going on).
    bool runCommand(int command);
    bool commandRunning() const;
    /// Interrupts a reset or reboot under way without waiting for it.
    void cancelCommand();
    /// Tabs that can check devices before a run set this; the menu then offers "Check devices"
    /// (object name checkDevices), which calls it with the chosen rows.
    void setCheckDevices(std::function<void(const QList<int> &rows)> check)
    {
        m_checkDevices = std::move(check);
    }
    /// The rows the commands work on.
    QList<int> chosenRows() const;
    /// The history of `row` as the dialog lists it.
    QString historyText(int row) const;
    /// A reset or reboot answer for `row` (CBatchDealThread::message): the row's status text. The run
    /// holds the row's session meanwhile and gives it back only when the device is still up.
    static void commandAnswered(DeviceTable &table, int ret, int nError, int row, int nCmd);

signals:
    /// Every device of a reset or reboot has answered.
    void commandFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openMenu(const QPoint &viewportPos, int row);

    DeviceTabController &m_controller;
    QPointer<QTableView> m_view;
    QPointer<CDialogWidget> m_historyDialog;
    QPointer<OnvifProbeDialog> m_probeDialog;
    std::unique_ptr<TableCommand> m_command;
    std::function<QString()> m_chooseExportPath;
    std::function<void(const QList<int> &)> m_checkDevices;
};
