#include "upgradewidget.h"

#include "device/csearchdevicethread.h"
#include "device/devicetabcore.h"
#include "device/devicetable.h"
#include "oemid/stationmac.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableView>
#include <QVBoxLayout>

UpgradeWidget::UpgradeWidget(QWidget *parent) : QWidget(parent), m_core(new DeviceTabCore(TabKind::Firmware, this))
{
    resize(745, 387);
    auto *outer = new QVBoxLayout(this);
    auto *verticalLayout = new QVBoxLayout;
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_tableView = new QTableView(this);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    verticalLayout->addWidget(m_tableView);
    outer->addLayout(verticalLayout);

    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_selectBtn = new QPushButton(this);
    m_selectBtn->setObjectName(QStringLiteral("selectBtn"));
    m_btnReverse = new QPushButton(this);
    m_btnReverse->setObjectName(QStringLiteral("btnReverse"));
    m_searchButton = new QPushButton(this);
    m_searchButton->setObjectName(QStringLiteral("SearchButton"));
    m_searchButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_addBtn = new QPushButton(this);
    m_addBtn->setObjectName(QStringLiteral("addBtn"));
    QPushButton *row[] = {m_selectBtn, m_btnReverse, m_searchButton, m_addBtn};
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        horizontalLayout->addWidget(row[i]);
    }
    outer->addLayout(horizontalLayout);
    retranslateUi();

    m_core->bindWidgets(m_tableView, m_searchButton, m_selectBtn);
    m_core->setStationMacLookup(&StationMac::lookUp);

    CSearchDeviceThread *search = m_core->searchThread();
    connect(search, &CSearchDeviceThread::deviceSearch, this, &UpgradeWidget::fillDeviceTable);
    connect(search, &CSearchDeviceThread::stop, this, &UpgradeWidget::stopSearch);
    connect(m_selectBtn, &QPushButton::clicked, this, &UpgradeWidget::SelectDevice);
    connect(m_btnReverse, &QPushButton::clicked, this, &UpgradeWidget::on_btnReverse_clicked);
    connect(m_searchButton, &QPushButton::clicked, this, &UpgradeWidget::on_SearchButton_clicked);
    connect(m_addBtn, &QPushButton::clicked, this, &UpgradeWidget::on_addBtn_clicked);
    connect(m_tableView, &QTableView::clicked, this, &UpgradeWidget::on_tableView_clicked);
    connect(m_tableView, &QTableView::doubleClicked, this, &UpgradeWidget::on_tableView_doubleClicked);
}

UpgradeWidget::~UpgradeWidget()
{
    // Logs the listed devices out and closes the tab's SDK session while the widgets still exist.
    delete m_core;
}

void UpgradeWidget::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("Search", "Dialog"));
    m_selectBtn->setText(QCoreApplication::translate("Search", "Select"));
    m_btnReverse->setText(QCoreApplication::translate("Search", "Reverse"));
    m_searchButton->setText(QCoreApplication::translate("Search", "Search"));
    m_addBtn->setText(QCoreApplication::translate("Search", "Add"));
}

void UpgradeWidget::on_SearchButton_clicked()
{
    m_core->startSearch();
}

void UpgradeWidget::fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched)
{
    m_core->fillDeviceTable(deviceSearched);
}

void UpgradeWidget::stopSearch()
{
    m_core->stopSearch();
}

void UpgradeWidget::SelectDevice()
{
    m_core->selectDevice();
}

void UpgradeWidget::on_btnReverse_clicked()
{
    m_core->reverse();
}

void UpgradeWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_core->addByHand(&added) >= 0)
        emit sendDevInfoSignal(added);
}

void UpgradeWidget::on_tableView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    DEV_INFO rec;
    if (m_core->table()->copyRowDevice(index.row(), &rec))
        emit sendDevInfoSignal(rec);
}

void UpgradeWidget::on_tableView_doubleClicked(const QModelIndex &index)
{
    if (index.isValid())
        m_core->reLogin(index.row());
}

int UpgradeWidget::ModifyIP(int nIndex, int nType)
{
    return m_core->modifyIP(nIndex, nType);
}
