#pragma once

#include "device/devicetabcontroller.h"

#include <QWidget>

class QAbstractButton;
class QTableView;

/// The widget side that the three tabs share: the tab owns its DeviceTabController (table, search,
/// logins, batch) through this base, which also answers the search thread and the Select and
/// Reverse buttons with the slots every tab has by the same name.
class DeviceTab : public QWidget
{
    Q_OBJECT
public:
    DeviceTabController *tabController() const { return m_controller; }

public slots:
    void fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched);
    /// The search has delivered its last answer; a tab that goes on from there overrides it.
    virtual void stopSearch();
    void SelectDevice();
    void on_btnReverse_clicked();
    int ModifyIP(int nIndex, int nType);

protected:
    DeviceTab(TabKind kind, QWidget *parent);
    /// Deletes the core (logging every listed device out, closing the tab's SDK session) while the
    /// child widgets still exist; a tab stops its own runs first, in its destructor.
    ~DeviceTab() override;

    /// Binds the table and buttons to the core and connects the search and the buttons given (the
    /// select and reverse buttons may be null).
    void bindDeviceWidgets(QTableView *view, QAbstractButton *searchButton, QAbstractButton *selectButton,
                           QAbstractButton *reverseButton);

    DeviceTabController *m_controller;
};
