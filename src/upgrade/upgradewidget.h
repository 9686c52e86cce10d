#pragma once

#include "device/devicetab.h"
#include "netsdk/netsdk.h"

#include <QList>
#include <QModelIndex>
#include <QWidget>

#include <functional>
#include <memory>

struct UpgradeParams;
namespace Ui
{
class Search;
}
namespace UpgradePackage
{
struct Inspection;
}
class PackageInspector;
class RecordUploadRun;
class UpgradeRun;

/// The firmware tab. Its device table, search, selection, Add and re-login come
/// from DeviceTabCore; the batch upgrade runs in UpgradeRun, which the tab
/// feeds from its form at each Upgrade click.
class UpgradeWidget : public DeviceTab
{
    Q_OBJECT
public:
    explicit UpgradeWidget(QWidget *parent = nullptr);
    /// Cancels the run and waits for its threads, closes running upgrades, then
    /// logs the listed devices out and closes the tab's SDK session.
    ~UpgradeWidget() override;

    UpgradeRun *upgradeRun() const { return m_run.get(); }
    RecordUploadRun *uploadRun() const { return m_upload; }
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
    /// Takes the package's hardware and digest into `params`; false (with a prompt) when the
    /// inspection refused the package.
    bool applyInspection(const UpgradePackage::Inspection &inspection, UpgradeParams *params);
    /// The run's parameters from the form and Config.ini, all but the package's own; false after
    /// telling the operator why not.
    bool formParams(UpgradeParams *params);
    /// Inspects the package of `params` in the background, then calls `next` with the completed
    /// parameters on the GUI thread, unless the package was refused (with a prompt) or a run began.
    void inspectThen(const UpgradeParams &params, std::function<void(const UpgradeParams &)> next);
    /// "Check devices" of the table's menu: the run's checks on `rows`, nothing sent.
    void checkDevices(const QList<int> &rows);
    void prompt(const QString &text);
    bool refuseWhileRunning();
    /// Creates the factory-record tree below the data directory when none of it
    /// exists.
    bool makeRecordTree(QString *error) const;

    std::unique_ptr<Ui::Search> m_ui;
    QString m_dataDir;
    QString m_configPath; ///< taken at the last Upgrade click, for ImportDevConfig
    std::unique_ptr<UpgradeRun> m_run;
    RecordUploadRun *m_upload = nullptr;
    PackageInspector *m_inspector = nullptr; ///< child; cancelled and joined first in the destructor
};
