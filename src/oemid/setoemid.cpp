#include "setoemid.h"

#include "device/csearchdevicethread.h"
#include "device/devicetabcore.h"
#include "oemid/stationmac.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

SetOEMID::SetOEMID(QWidget *parent) : QWidget(parent), m_core(new DeviceTabCore(TabKind::Oemid, this))
{
    resize(749, 342);
    auto *outer = new QVBoxLayout(this);
    m_tableView = new QTableView(this);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    outer->addWidget(m_tableView);
    auto *row = new QHBoxLayout;
    m_searchbtn = new QPushButton(this);
    m_searchbtn->setObjectName(QStringLiteral("searchbtn"));
    row->addStretch();
    row->addWidget(m_searchbtn);
    outer->addLayout(row);
    retranslateUi();

    m_core->bindWidgets(m_tableView, m_searchbtn, nullptr);
    m_core->setStationMacLookup(&StationMac::lookUp);

    CSearchDeviceThread *search = m_core->searchThread();
    connect(search, &CSearchDeviceThread::deviceSearch, this, &SetOEMID::fillDeviceTable, Qt::UniqueConnection);
    connect(search, &CSearchDeviceThread::stop, this, &SetOEMID::stopSearch, Qt::UniqueConnection);
    connect(m_searchbtn, &QPushButton::clicked, this, &SetOEMID::searchbtnclick);
}

SetOEMID::~SetOEMID()
{
    delete m_core;
}

void SetOEMID::retranslateUi()
{
    m_searchbtn->setText(QCoreApplication::translate("SetOEMID", "SearchAndSet"));
}

void SetOEMID::searchbtnclick()
{
    startSearch();
}

void SetOEMID::startSearch()
{
    m_core->startSearch();
}

void SetOEMID::fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched)
{
    m_core->fillDeviceTable(deviceSearched);
}

void SetOEMID::stopSearch()
{
    m_core->stopSearch();
    emit searchFinished();
}

int SetOEMID::ModifyIP(int nIndex, int nType)
{
    return m_core->modifyIP(nIndex, nType);
}
