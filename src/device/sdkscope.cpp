#include "device/sdkscope.h"

#include "netsdk/netsdk.h"

SdkScope::SdkScope()
{
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(2000, 1);
}

SdkScope::~SdkScope()
{
    H264_DVR_Cleanup();
}
