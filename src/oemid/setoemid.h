#pragma once

#include "device/devicetab.h"
#include "netsdk/netsdk.h"

#include <QWidget>

#include <memory>

class OemidRunController;
class RecordUploadRun;
namespace Ui
{
class SetOEMID;
}

/// The OEMID tab: one click searches the LAN and then, device after device in table order, changes
/// the address (when configured), writes the assigned OEMID and pushes the ticked settings; a second
/// button uploads the factory records. Its device table and search come from DeviceTabController.
class SetOEMID : public DeviceTab
{
    Q_OBJECT
public:
    /// `dataDir` holds the factory-record tree; empty = the application directory.
    explicit SetOEMID(QWidget *parent = nullptr, const QString &dataDir = QString());
    ~SetOEMID() override;

    RecordUploadRun *uploadRun() const { return m_upload.get(); }
    QString dataDirectory() const { return m_dataDir; }
    /// The OEMID written by the batch, from [OEMID] Assigned ("000" = none assigned).
    QString assignedOemid() const { return m_assignedOemid; }
    /// Whether the factory-record tree was usable when the tab was built.
    bool uploadTreeUsable() const { return m_treeUsable; }
    /// Whether the batch over the listed devices is running.
    bool batchRunning() const { return m_batchRunning; }

signals:
    /// The search has delivered its last device; the batch over the listed devices starts here.
    void searchFinished();
    void batchRunningChanged(bool running);
    /// The batch has ended (or was refused before it started).
    void batchFinished();

public slots:
    void searchbtnclick();
    void updatelogbtnclick();
    void stopSearch() override;
    void setOEMIECheckBox();
    void setConfigCheckBox();

private:
    void fillCombos();
    void startSearch();
    /// Every listed device in table order, one at a time, on the tab's batch engine.
    void runOemidBatch();
    void setBatchRunning(bool running);

    /// Shows the "Please be careful" warning the first time either box asks for it.
    void warnOnce();

    std::unique_ptr<Ui::SetOEMID> m_ui;
    // Declared in the order they may end, the last first; the tab's controller (the batch the run
    // uses) goes after them.
    std::unique_ptr<OemidRunController> m_run;
    std::unique_ptr<RecordUploadRun> m_upload;
    QString m_dataDir;
    QString m_assignedOemid = QStringLiteral("000");
    bool m_treeUsable = false;
    bool m_warned = false;
    bool m_batchRunning = false;
};
