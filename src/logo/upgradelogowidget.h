#pragma once

#include "netsdk/netsdk.h"

#include <QModelIndex>
#include <QWidget>

class DeviceTabCore;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

/// The logo tab. Its device table, search, selection and Add come from DeviceTabCore.
class UpgradeLogoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit UpgradeLogoWidget(QWidget *parent = nullptr);
    ~UpgradeLogoWidget() override;

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
    void on_tableView_doubleClicked(const QModelIndex &index);
    int ModifyIP(int nIndex, int nType);

private:
    void retranslateUi();

    DeviceTabCore *m_core;
    QTableView *m_tableView;
    QPushButton *m_searchButton;
    QPushButton *m_selectBtn;
    QPushButton *m_btnReverse;
    QPushButton *m_addBtn;
    QLabel *m_label2;
    QLineEdit *m_lineEditPassword;
};
