#pragma once

#include "netsdk/netsdk.h"

#include <QWidget>

class DeviceTabCore;
class QPushButton;
class QTableView;

/// The OEMID tab. Its device table and search come from DeviceTabCore; the table has no tick boxes.
class SetOEMID : public QWidget
{
    Q_OBJECT
public:
    explicit SetOEMID(QWidget *parent = nullptr);
    ~SetOEMID() override;

    DeviceTabCore *deviceCore() const { return m_core; }

signals:
    /// The search has delivered its last device; the batch over the listed devices starts here.
    void searchFinished();

public slots:
    void searchbtnclick();
    void fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched);
    void stopSearch();
    int ModifyIP(int nIndex, int nType);

private:
    void startSearch();
    void retranslateUi();

    DeviceTabCore *m_core;
    QTableView *m_tableView;
    QPushButton *m_searchbtn;
};
