#pragma once

#include "device/devicetab.h"
#include "logo/logocheck.h"
#include "netsdk/netsdk.h"

#include <QModelIndex>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class BackgroundCall;
class CBatchDealThread;
class LogoRowProbe;
struct LogoProbeReport;
class LogoRunController;
struct WaveEnd;
struct WaveHalt;
class LogoRunState;
class QLineEdit;
class RecordUploadRun;
enum class Key;
namespace Ui
{
class UpgradeLogoWidget;
}

/// The logo tab: choose pictures and app links, make a logo package per device or once per run,
/// and burn it into the ticked devices. Its device table, search, selection and Add come from
/// DeviceTabController; the device exchanges live in the logo core, the run on the tab's device batch.
class UpgradeLogoWidget : public DeviceTab
{
    Q_OBJECT
public:
    explicit UpgradeLogoWidget(QWidget *parent = nullptr);
    /// Stores the form's Config.ini keys, cancels the run and waits for it, then for the row probe,
    /// the batch command and the upload; logs every device out once and closes the SDK session.
    ~UpgradeLogoWidget() override;

    /// Root of the working directories and the factory records: the application directory unless
    /// a test points it elsewhere.
    QString dataDirectory() const { return m_dataDir; }
    void setDataDirectory(const QString &dir) { m_dataDir = dir; }

    /// Set when the last clicked device takes app links (built on 20200113 or later).
    bool appLinksSupported() const { return m_appLinkSupported; }
    /// True while a row click is still talking to its device.
    bool probing() const;

    /// How a made package is shown in make-only mode; tests replace it (the default is
    /// FileManager::showItem).
    using ShowPackage = std::function<void(const QString &path)>;
    void setShowPackage(ShowPackage show) { m_showPackage = std::move(show); }

    /// The run started last (its package, its count of finished devices); null before the first.
    std::shared_ptr<LogoRunState> currentRun() const;
    /// True while a run's devices are being made or burnt, or a run waits to start.
    bool running() const;
    /// The run sequencing of the Modify and GetLogoPrograms clicks.
    LogoRunController *runController() const { return m_runs.get(); }

signals:
    void sendDevInfoSignal(DEV_INFO &info);
    void releaseMouseSignal();
    void setprogress();
    /// A row click has ended (for tests and the status bar of a future window).
    void probeFinished(int row);

public slots:
    void on_SearchButton_clicked();
    void on_addBtn_clicked();
    void on_tableView_clicked(const QModelIndex &index);
    void on_tableView_doubleClicked(const QModelIndex &index);

    void on_btnSelectBoot_clicked();
    void on_btnSelectClose_clicked();
    void on_btnSelectLoss_clicked();
    void on_btnSelectBlind_clicked();
    bool checkBootLogo(int nType);
    bool checkBootLogo() { return checkBootLogo(0); }
    void on_btnCheckBoot_clicked();

    void on_btnModify_clicked();
    void on_btnGeneral_clicked();
    void onUpgradeDeviceLogo();

    void BatchOpr(int nCmd);
    void onDealBathMsg(int ret, int nError, int nIndex, int nCmd);

    void on_checkBoxSetOEMID_clicked();
    void on_BtnUpload_clicked();
    void onUpdateProcess();
    void onReleaseMouse();

private:
    /// The form's text fields and their Config.ini keys, the two app links first.
    std::vector<std::pair<Key, QLineEdit *>> keyedEdits() const;
    void readConfig();
    /// Stores the form's keys; `linksOnly`: the app links alone (at a burn's start).
    void writeConfig(bool linksOnly = false);
    void setIosRowShown(bool shown);
    void prompt(const QString &text);
    /// A wave failed past the threshold: says which and why, and offers to go on with the next.
    void waveHalted(const WaveHalt &halt);
    void wavesEnded(const WaveEnd &end);
    /// The file dialog of a picture's Select button; the chosen file goes into `edit`.
    void choosePicture(QLineEdit *edit, const QString &filter);
    LogoPaths formPaths() const;
    /// Tells the operator a picture check's verdict, when it has one to tell.
    void showCheck(const LogoCheck::Outcome &outcome);
    /// The rest of a run click once its pictures passed the check.
    void startCheckedRun(bool modify, const LogoPaths &paths);
    /// Shows what a row click found (the row's texts, the link fields).
    void showProbe(const LogoProbeReport &report);
    /// The address change of a row, with the tab password written into its record first.
    std::function<int(int row, const QByteArray &password)> addressChange() const;
    /// Checks the pictures off the GUI thread, then starts the run.
    void startRun(bool modify);
    /// Whether a burn writes the OEMID (`on`); false after telling the operator why it cannot.
    bool oemidStepUsable(bool *on);
    /// "Check devices" from the table's menu: the burn's login and reads on `rows`, nothing sent.
    void checkDevices(const QList<int> &rows);
    void launch(const std::vector<int> &rows, const QByteArray &password, const struct LogoStageInput &stage);

    std::unique_ptr<Ui::UpgradeLogoWidget> m_ui;
    QString m_dataDir;
    ShowPackage m_showPackage;

    // Tab state taken from the form when a run or a row click starts.
    bool m_modifyMode = false;
    bool m_appLinkWanted = false;
    bool m_appLinkSupported = false;
    bool m_oemidRun = false;
    LogoPaths m_pictures;

    // The tab's background work, declared in the order it may end (the last first): each waits for
    // its threads as it goes, all before the table and the SDK session of the tab.
    std::unique_ptr<LogoRunController> m_runs;
    std::unique_ptr<RecordUploadRun> m_upload;
    std::unique_ptr<CBatchDealThread> m_batch;
    std::unique_ptr<LogoRowProbe> m_probe;
    std::unique_ptr<BackgroundCall> m_runCheck;  ///< a run click's picture check
    std::unique_ptr<BackgroundCall> m_logoCheck; ///< Check Logo's
};
