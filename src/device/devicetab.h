#pragma once

#include "device/devicetabcontroller.h"

#include <QWidget>

#include <memory>

class QAbstractButton;
class QTableView;

/// The widget side that the three tabs share: the tab owns its DeviceTabController (table, search,
/// logins, batch) through this base, which also answers the search thread and the Select and
/// Reverse buttons with the slots every tab has by the same name.
class DeviceTab : public QWidget
{
    Q_OBJECT
public:
    DeviceTabController *tabController() const { return m_controller.get(); }

public slots:
    void fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched);
    /// The search has delivered its last answer; a tab that goes on from there overrides it.
    virtual void stopSearch();
    void SelectDevice();
    void on_btnReverse_clicked();
    int ModifyIP(int nIndex, int nType);

protected:
    DeviceTab(TabKind kind, QWidget *parent);
    /// The controller goes (logging every listed device out, closing the tab's SDK session) after the
    /// tab's own members and while the child widgets still exist. A tab's destructor first calls
    /// cancelWork(); its members then wait for their own work as they go.
    ~DeviceTab() override;

    /// Binds the table and buttons to the core and connects the search and the buttons given (the
    /// select and reverse buttons may be null).
    void bindDeviceWidgets(QTableView *view, QAbstractButton *searchButton, QAbstractButton *selectButton,
                           QAbstractButton *reverseButton);

    /// Asks everything the controller runs to stop, without waiting (DeviceTabController::cancel).
    /// A tab's destructor calls it after asking its own work to stop, and before anything waits.
    void cancelWork();

    std::unique_ptr<DeviceTabController> m_controller;
};
