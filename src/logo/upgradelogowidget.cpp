#include "upgradelogowidget.h"

#include "device/csearchdevicethread.h"
#include "device/devicetabcore.h"
#include "oemid/stationmac.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

UpgradeLogoWidget::UpgradeLogoWidget(QWidget *parent)
    : QWidget(parent), m_core(new DeviceTabCore(TabKind::Logo, this))
{
    resize(1038, 671);
    auto *outer = new QVBoxLayout(this);
    m_tableView = new QTableView(this);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    outer->addWidget(m_tableView);

    auto *buttons = new QHBoxLayout;
    m_searchButton = new QPushButton(this);
    m_searchButton->setObjectName(QStringLiteral("SearchButton"));
    m_selectBtn = new QPushButton(this);
    m_selectBtn->setObjectName(QStringLiteral("selectBtn"));
    m_btnReverse = new QPushButton(this);
    m_btnReverse->setObjectName(QStringLiteral("btnReverse"));
    m_addBtn = new QPushButton(this);
    m_addBtn->setObjectName(QStringLiteral("addBtn"));
    m_label2 = new QLabel(this);
    m_label2->setObjectName(QStringLiteral("label_2"));
    m_lineEditPassword = new QLineEdit(this);
    m_lineEditPassword->setObjectName(QStringLiteral("lineEditPassword"));
    m_lineEditPassword->setEchoMode(QLineEdit::Password);
    buttons->addWidget(m_searchButton);
    buttons->addWidget(m_selectBtn);
    buttons->addWidget(m_btnReverse);
    buttons->addWidget(m_addBtn);
    buttons->addStretch();
    buttons->addWidget(m_label2);
    buttons->addWidget(m_lineEditPassword);
    outer->addLayout(buttons);
    retranslateUi();

    m_core->bindWidgets(m_tableView, m_searchButton, m_selectBtn);
    m_core->setStationMacLookup(&StationMac::lookUp);

    CSearchDeviceThread *search = m_core->searchThread();
    connect(search, &CSearchDeviceThread::deviceSearch, this, &UpgradeLogoWidget::fillDeviceTable);
    connect(search, &CSearchDeviceThread::stop, this, &UpgradeLogoWidget::stopSearch);
    connect(m_selectBtn, &QPushButton::clicked, this, &UpgradeLogoWidget::SelectDevice);
    connect(m_btnReverse, &QPushButton::clicked, this, &UpgradeLogoWidget::on_btnReverse_clicked);
    connect(m_searchButton, &QPushButton::clicked, this, &UpgradeLogoWidget::on_SearchButton_clicked);
    connect(m_addBtn, &QPushButton::clicked, this, &UpgradeLogoWidget::on_addBtn_clicked);
    connect(m_tableView, &QTableView::doubleClicked, this, &UpgradeLogoWidget::on_tableView_doubleClicked);
}

UpgradeLogoWidget::~UpgradeLogoWidget()
{
    delete m_core;
}

void UpgradeLogoWidget::retranslateUi()
{
    m_searchButton->setText(QCoreApplication::translate("UpgradeLogoWidget", "Search"));
    m_selectBtn->setText(QCoreApplication::translate("UpgradeLogoWidget", "Select"));
    m_btnReverse->setText(QCoreApplication::translate("UpgradeLogoWidget", "Reverse"));
    m_addBtn->setText(QCoreApplication::translate("UpgradeLogoWidget", "Add"));
    m_label2->setText(QCoreApplication::translate("UpgradeLogoWidget", "Device Password"));
}

void UpgradeLogoWidget::on_SearchButton_clicked()
{
    m_core->startSearch();
}

void UpgradeLogoWidget::fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched)
{
    m_core->fillDeviceTable(deviceSearched);
}

void UpgradeLogoWidget::stopSearch()
{
    m_core->stopSearch();
}

void UpgradeLogoWidget::SelectDevice()
{
    m_core->selectDevice();
}

void UpgradeLogoWidget::on_btnReverse_clicked()
{
    m_core->reverse();
}

void UpgradeLogoWidget::on_addBtn_clicked()
{
    DEV_INFO added;
    if (m_core->addByHand(&added) >= 0)
        emit sendDevInfoSignal(added);
}

void UpgradeLogoWidget::on_tableView_doubleClicked(const QModelIndex &)
{
    // A double click does nothing on this tab; a single click belongs to the logo workflow.
}

int UpgradeLogoWidget::ModifyIP(int nIndex, int nType)
{
    return m_core->modifyIP(nIndex, nType);
}
