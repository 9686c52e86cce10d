#pragma once

#include "netsdk/netsdk.h"

#include <QString>

/// Which protocol a device speaks, as the SDK told it (search answer, login), and the texts that
/// follow from it. The jobs do not branch on protocol; only what ONVIF cannot do is named.
namespace DeviceProtocol
{

bool isOnvif(const DEV_INFO &record);
bool isOnvif(const SDK_CONFIG_NET_COMMON_V2 &answer);

/// The device-type text: "IPC", or "IPC (ONVIF)" for an ONVIF device.
QString typeText(const QString &type, bool onvif);

/// The status of a job step an ONVIF device cannot do (OEMID, logo partition, language, codec):
/// an outcome of its own, neither success nor failure.
QString notSupportedText();

/// True when an SDK call failed because the device is an ONVIF device without that function: the
/// call's result, or the thread's last error for calls that return 0 on failure.
bool notSupported(long result, long lastError);

} // namespace DeviceProtocol
