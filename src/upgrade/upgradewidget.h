#pragma once

#include "device/devicetab.h"
#include "netsdk/netsdk.h"

#include <QList>
#include <QModelIndex>
#include <QWidget>

#include <memory>

struct UpgradeRequest;
struct WaveEnd;
struct WaveHalt;
namespace Ui
{
class Search;
}
class RecordUploadRun;
class UpgradeRun;
class UpgradeRunController;

/// The firmware tab. Its device table, search, selection, Add and re-login come
/// from DeviceTabController; the Upgrade click's checks and run live in UpgradeRunController,
/// which the tab feeds a snapshot of its form at each click.
class UpgradeWidget : public DeviceTab
{
    Q_OBJECT
public:
    explicit UpgradeWidget(QWidget *parent = nullptr);
    /// Cancels the package inspection and the run and waits for their threads, closes running
    /// upgrades and waits for an upload, then logs the listed devices out and closes the tab's SDK
    /// session.
    ~UpgradeWidget() override;

    UpgradeRun *upgradeRun() const;
    UpgradeRunController *runController() const { return m_runs.get(); }
    RecordUploadRun *uploadRun() const { return m_upload.get(); }
    /// True while a click's package inspection runs in the background (before its run starts).
    bool inspecting() const;

    /// Where the scratch directory "Temp" and the factory records live; the
    /// application directory unless a test points it elsewhere.
    QString dataDirectory() const { return m_dataDir; }
    void setDataDirectory(const QString &dir) { m_dataDir = dir; }

signals:
    void sendDevInfoSignal(DEV_INFO &info);

public slots:
    void on_SearchButton_clicked();
    void on_addBtn_clicked();
    void on_tableView_clicked(const QModelIndex &index);
    void on_tableView_doubleClicked(const QModelIndex &index);

    void on_browseBtn_clicked();
    void on_browseCfgBtn_clicked();
    void on_upgradeBtn_clicked();
    int ImportDevConfig(long lLoginID, int nIndex);
    void BtnUploadClicked();

private:
    /// The click's snapshot of the form and Config.ini.
    UpgradeRequest request() const;
    /// "Check devices" of the table's menu: the run's checks on `rows`, nothing sent.
    void checkDevices(const QList<int> &rows);
    void prompt(const QString &text);
    /// A wave failed past the threshold: says which and why, and offers to go on with the next.
    void waveHalted(const WaveHalt &halt);
    void wavesEnded(const WaveEnd &end);

    std::unique_ptr<Ui::Search> m_ui;
    QString m_dataDir;
    // Declared in the order they may die: the run first, then the upload.
    std::unique_ptr<RecordUploadRun> m_upload;
    std::unique_ptr<UpgradeRunController> m_runs;
};
