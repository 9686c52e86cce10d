#pragma once

#include "netsdk/netsdk.h"

#include <QModelIndex>
#include <QWidget>

class DeviceTabCore;
class QPushButton;
class QTableView;

/// The firmware tab. Its device table, search, selection, Add and re-login come from DeviceTabCore.
class UpgradeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit UpgradeWidget(QWidget *parent = nullptr);
    ~UpgradeWidget() override;

    DeviceTabCore *deviceCore() const { return m_core; }

signals:
    void sendDevInfoSignal(DEV_INFO &info);

public slots:
    void on_SearchButton_clicked();
    void fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched);
    void stopSearch();
    void SelectDevice();
    void on_btnReverse_clicked();
    void on_addBtn_clicked();
    void on_tableView_clicked(const QModelIndex &index);
    void on_tableView_doubleClicked(const QModelIndex &index);
    int ModifyIP(int nIndex, int nType);

private:
    void retranslateUi();

    DeviceTabCore *m_core;
    QTableView *m_tableView;
    QPushButton *m_selectBtn;
    QPushButton *m_btnReverse;
    QPushButton *m_searchButton;
    QPushButton *m_addBtn;
};
