#include "device/deviceprotocol.h"

#include <QCoreApplication>

namespace DeviceProtocol
{

bool isOnvif(const DEV_INFO &record)
{
    return record.NetDevInfo.Protocol == NETSDK_PROTOCOL_ONVIF;
}

bool isOnvif(const SDK_CONFIG_NET_COMMON_V2 &answer)
{
    return answer.Protocol == NETSDK_PROTOCOL_ONVIF;
}

QString typeText(const QString &type, bool onvif)
{
    return onvif ? QCoreApplication::translate("DeviceTable", "%1 (ONVIF)").arg(type) : type;
}

QString notSupportedText()
{
    return QCoreApplication::translate("DeviceTable", "Not supported over ONVIF");
}

bool notSupported(long result, long lastError)
{
    return result == NETSDK_ERR_ONVIF_UNSUPPORTED ||
           (result != 1 && lastError == NETSDK_ERR_ONVIF_UNSUPPORTED);
}

} // namespace DeviceProtocol
