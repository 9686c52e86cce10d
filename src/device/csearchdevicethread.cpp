#include "device/csearchdevicethread.h"

#include "device/searchresults.h"

#include "app/configkeys.h"
#include "device/onvifprobelist.h"

#include <QDebug>

#include <vector>

CSearchDeviceThread::CSearchDeviceThread(QObject *parent) : QThread(parent)
{
    registerMetaType();
}

CSearchDeviceThread::~CSearchDeviceThread()
{
    // The SDK search cannot be cut short; its wait is bounded by the search time.
    wait();
}

void CSearchDeviceThread::registerMetaType()
{
    qRegisterMetaType<SDK_CONFIG_NET_COMMON_V2>("SDK_CONFIG_NET_COMMON_V2");
    qRegisterMetaType<DEV_INFO>("DEV_INFO");
}

void CSearchDeviceThread::run()
{
    std::vector<char> buffer(SearchResults::BufferSize, 0);
    int returned = 0;
    if (!m_search) {
        // The addresses the user listed for a direct ONVIF probe, read at each search.
        H264_DVR_SetOnvifProbeAddresses(
            OnvifProbeList::sdkAddresses(ConfigKeys::stringValue(Key::OnvifProbe)).constData());
    }
    const int ok = m_search
                       ? m_search(buffer.data(), int(buffer.size()), &returned, m_searchTime)
                       : H264_DVR_SearchDevice(buffer.data(), int(buffer.size()), &returned, m_searchTime);
    qDebug() << QStringLiteral("search device:%1").arg(returned / SearchResults::RecordSize);
    if (ok && returned > 0) {
        for (const SDK_CONFIG_NET_COMMON_V2 &answer :
             SearchResults::select(buffer.data(), int(buffer.size()), returned)) {
            emit deviceSearch(answer);
        }
    }
    emit stop();
}
