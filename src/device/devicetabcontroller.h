#pragma once

#include "device/csearchdevicethread.h"
#include "device/devicebatch.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/loginrunner.h"
#include "device/sdkscope.h"
#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>

class QAbstractButton;
class QTableView;
class QWidget;

/// What the three tabs share around their device table: the SDK session of the tab, the table, the
/// search thread, selection, adding and re-login of devices, and the IP change. The tab keeps the
/// slots and widgets; the behaviour lives here once, with the tab's differences taken from its
/// TableVariant.
class DeviceTabController : public QObject
{
    Q_OBJECT
public:
    /// Opens the tab's SDK session (connect time-out 2000 ms, one try) and reads the IP-change keys.
    DeviceTabController(TabKind kind, QWidget *tab);
    /// cancel(), then waits for the search, the runs and the logins as they go, logs out every listed
    /// device and closes the session.
    ~DeviceTabController() override;
    /// Asks everything the tab runs to stop, without waiting: the runs of the batch, a re-login, a
    /// reset or reboot, the Add dialog's logins. A tab calls it first as it goes, so that its own
    /// members and then this controller only wait for work that is already ending.
    void cancel();

    DeviceTable *table() const { return m_table.get(); }
    /// The tab's device-batch engine: its runs (upgrade, OEMID batch, logo make and burn, reset and
    /// reboot) go through it, one at a time.
    DeviceBatch *batch() const { return m_batch.get(); }
    /// Shows the table's model in `view` with the tab's widths and view settings.
    static void attachView(const DeviceTable &table, QTableView *view);
    /// Makes Tab visit `widgets` in this order: the order they are read in on the tab.
    static void setTabOrder(std::initializer_list<QWidget *> widgets);
    CSearchDeviceThread *searchThread() const { return m_search.get(); }
    const TableVariant &variant() const;

    /// The table's context menu and keys (history, select failed, export, reset and reboot); null
    /// until bindWidgets() gets a view.
    DeviceTableActions *tableActions() const { return m_actions.get(); }
    /// The widgets the shared behaviour drives; the select button may be null.
    void bindWidgets(QTableView *view, QAbstractButton *searchButton, QAbstractButton *selectButton);

    /// Clears the table (logging devices out) and starts a search; false while one is still under way.
    bool startSearch();
    /// Appends a row for a search answer; the row, or -1 when the tab does not list the device.
    int fillDeviceTable(const SDK_CONFIG_NET_COMMON_V2 &answer);
    void stopSearch();
    bool searching() const { return m_searching; }

    void selectDevice();
    void reverse();
    bool selectAll() const { return m_selectAll; }

    /// Runs the login dialog for a device typed in by hand; on success appends its row (status
    /// "Login Success"), selects it and returns the row (the record in `added`); else -1.
    /// Nothing happens when the table already holds more than 256 rows.
    int addByHand(DEV_INFO *added = nullptr);
    /// Asks for new credentials for a listed device and logs it in again in the background; the row
    /// shows "Login Success" with version and build date, or the login error text. Refused (false)
    /// while another re-login is under way or a run of the tab is going on.
    bool reLogin(int row);
    bool reLoginBusy() const { return m_loginBatch->isActive(); }

    bool modifyIpOn() const { return m_modifyIp; }
    int startIndex() const { return m_startIndex; }
    /// Why a run may not change addresses now (ModifyIP on with a StartIndex outside 1..254), as the
    /// message for the operator; empty when it may. Each tab asks before a run starts.
    QString addressChangeProblem() const;
    /// The IP change of the row (see IpChange::modifyIP); any thread.
    int modifyIP(int nIndex, int nType);
    /// The same for a row of the rows of `generation`: nothing when a new search replaced them.
    int modifyIP(quint64 generation, int nIndex, int nType);
    /// How the IP change finds this computer's MAC (set once, before any change).
    void setStationMacLookup(std::function<QString()> lookup) { m_stationMac = std::move(lookup); }

    static constexpr int MaxRows = 256;

signals:
    /// A re-login has ended (ok = logged in); for the tab and for tests.
    void reLoginFinished(int row, bool ok);

private:
    QWidget *m_tab;
    // Declared in the order they may end, the last first: each waits for its own threads as it
    // goes, the runs before the rows they work on, the rows (logging out) before the SDK closes.
    SdkScope m_sdk;
    std::unique_ptr<DeviceTable> m_table;
    std::unique_ptr<CSearchDeviceThread> m_search; ///< cannot be cut short: bounded by the search time
    std::unique_ptr<LoginRunner> m_runner;         ///< logins of the Add dialog, which may outlive it
    DeviceBatch::Ptr m_loginBatch;
    DeviceBatch::Ptr m_batch;
    std::unique_ptr<DeviceTableActions> m_actions; ///< made when a view is bound
    QPointer<QTableView> m_view;
    QPointer<QAbstractButton> m_searchButton;
    QPointer<QAbstractButton> m_selectButton;
    bool m_searching = false;
    bool m_selectAll = false;
    bool m_modifyIp = false;
    int m_startIndex = 20;
    std::function<QString()> m_stationMac;
};
