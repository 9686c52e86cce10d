#include "device/devicetab.h"

#include "device/csearchdevicethread.h"
#include "device/stationmac.h"

#include <QAbstractButton>

DeviceTab::DeviceTab(TabKind kind, QWidget *parent)
    : QWidget(parent), m_controller(std::make_unique<DeviceTabController>(kind, this))
{
}

DeviceTab::~DeviceTab() = default;

void DeviceTab::cancelWork()
{
    m_controller->cancel();
}

void DeviceTab::bindDeviceWidgets(QTableView *view, QAbstractButton *searchButton,
                                  QAbstractButton *selectButton, QAbstractButton *reverseButton)
{
    m_controller->bindWidgets(view, searchButton, selectButton);
    m_controller->setStationMacLookup(&StationMac::lookUp);
    CSearchDeviceThread::registerMetaType();
    CSearchDeviceThread *search = m_controller->searchThread();
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
    m_controller->fillDeviceTable(deviceSearched);
}

void DeviceTab::stopSearch()
{
    m_controller->stopSearch();
}

void DeviceTab::SelectDevice()
{
    m_controller->selectDevice();
}

void DeviceTab::on_btnReverse_clicked()
{
    m_controller->reverse();
}

int DeviceTab::ModifyIP(int nIndex, int nType)
{
    return m_controller->modifyIP(nIndex, nType);
}
