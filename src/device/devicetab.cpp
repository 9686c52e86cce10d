#include "device/devicetab.h"

#include "device/csearchdevicethread.h"
#include "device/stationmac.h"

#include <QAbstractButton>

DeviceTab::DeviceTab(TabKind kind, QWidget *parent) : QWidget(parent), m_core(new DeviceTabCore(kind, this))
{
}

DeviceTab::~DeviceTab()
{
    delete m_core;
}

void DeviceTab::bindDeviceWidgets(QTableView *view, QAbstractButton *searchButton,
                                  QAbstractButton *selectButton, QAbstractButton *reverseButton)
{
    m_core->bindWidgets(view, searchButton, selectButton);
    m_core->setStationMacLookup(&StationMac::lookUp);
    CSearchDeviceThread::registerMetaType();
    CSearchDeviceThread *search = m_core->searchThread();
    connect(search, &CSearchDeviceThread::deviceSearch, this, &DeviceTab::fillDeviceTable,
            Qt::UniqueConnection);
    connect(search, &CSearchDeviceThread::stop, this, &DeviceTab::stopSearch, Qt::UniqueConnection);
    if (selectButton)
        connect(selectButton, &QAbstractButton::clicked, this, &DeviceTab::SelectDevice);
    if (reverseButton)
        connect(reverseButton, &QAbstractButton::clicked, this, &DeviceTab::on_btnReverse_clicked);
}

void DeviceTab::fillDeviceTable(SDK_CONFIG_NET_COMMON_V2 deviceSearched)
{
    m_core->fillDeviceTable(deviceSearched);
}

void DeviceTab::stopSearch()
{
    m_core->stopSearch();
}

void DeviceTab::SelectDevice()
{
    m_core->selectDevice();
}

void DeviceTab::on_btnReverse_clicked()
{
    m_core->reverse();
}

int DeviceTab::ModifyIP(int nIndex, int nType)
{
    return m_core->modifyIP(nIndex, nType);
}
