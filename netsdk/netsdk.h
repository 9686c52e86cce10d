/*
 * netsdk.h - Tallow's device SDK.
 *
 * A C-style interface to the devices' own network protocol (see PROTOCOL.md).
 * Every function may be called from any thread. Error codes are negative; the
 * code of the last failed call is kept per calling thread (like errno) and read
 * with H264_DVR_GetLastError().
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One search answer, 560 bytes, little-endian. */
typedef struct SDK_CONFIG_NET_COMMON_V2 {
    char HostName[64];          /*   0: NUL-terminated */
    uint8_t HostIP[4];          /*  64: dotted order, byte 64 is the first number */
    uint8_t Submask[4];         /*  68 */
    uint8_t Gateway[4];         /*  72 */
    uint8_t reserved1[160];     /*  76 */
    int32_t NetValues[8];       /* 236: [1] (offset 240) is the TCP service port */
    uint8_t NetByte;            /* 268 */
    char sMac[32];              /* 269: "00:12:34:56:78:9a" */
    char sSn[32];               /* 301: cloud identifier, possibly empty */
    uint8_t Protocol;           /* 333: NETSDK_PROTOCOL_*: how the SDK talks to this device */
    uint8_t reserved2[6];       /* 334 */
    int32_t DeviceType;         /* 340: 0..5 */
    char sSoftWareVersion[128]; /* 344 */
    int32_t BuildYear;          /* 472 */
    int32_t BuildMonth;         /* 476 */
    int32_t BuildDay;           /* 480 */
    uint8_t reserved3[76];      /* 484 */
} SDK_CONFIG_NET_COMMON_V2;

/* The network block an address change sends (400 bytes). Command 20 reads its
 * first 144 bytes from a logged-in device. */
typedef struct SDK_NET_BLOCK {
    char HostName[64];      /*   0 */
    uint8_t HostIP[4];      /*  64 */
    uint8_t Submask[4];     /*  68 */
    uint8_t Gateway[4];     /*  72 */
    int32_t NetValues[8];   /*  76..107: copied from the search answer */
    uint8_t NetByte;        /* 108 */
    char sMac[32];          /* 109: the device's MAC */
    uint8_t reserved1[128]; /* 141 */
    char sHostMac[32];      /* 269: the station's MAC */
    uint8_t reserved2[3];   /* 301 */
    int32_t ChangeFlag;     /* 304 */
    uint8_t reserved3[92];  /* 308 */
} SDK_NET_BLOCK;

/* Filled by the login (848 bytes). */
typedef struct H264_DVR_DEVICEINFO {
    char sSoftWareVersion[192]; /*   0 */
    int32_t BuildYear;          /* 192 */
    int32_t BuildMonth;         /* 196 */
    int32_t BuildDay;           /* 200 */
    uint8_t reserved1[20];      /* 204 */
    char sSerialNumber[64];     /* 224: cloud identifier / serial */
    uint8_t reserved2[48];      /* 288 */
    char sHardWare[64];         /* 336 */
    uint8_t Protocol;           /* 400: NETSDK_PROTOCOL_* */
    char sModel[64];            /* 401: ONVIF: the model (sHardWare holds the hardware ID) */
    uint8_t reserved3[123];     /* 465 */
    int32_t DeviceType;         /* 588 */
    uint8_t reserved4[256];     /* 592 */
} H264_DVR_DEVICEINFO;

/* The application's per-device record. */
typedef struct DEV_INFO {
    int32_t nIndex;                 /*    0: row in the device table */
    int32_t lLoginID;               /*    4: > 0 while logged in */
    int32_t nPort;                  /*    8 */
    char szIpaddress[16];           /*   12 */
    char szUserName[12];            /*   28 */
    char szPsw[12];                 /*   40 */
    SDK_NET_BLOCK NetComm;          /*   52 */
    char szCloudID[64];             /*  452 */
    H264_DVR_DEVICEINFO NetDevInfo; /*  516 */
    int32_t nLastByte;              /* 1364: saved by the address change */
} DEV_INFO;

/* Logo-partition information, command 61 (264 bytes). */
typedef struct SDK_LOGO_PART_INFO {
    uint8_t raw[264];
} SDK_LOGO_PART_INFO;

/* App-link information, command 186 (516 bytes); byte 0 non-zero: iOS link supported. */
typedef struct SDK_APP_LINK_INFO {
    uint8_t raw[516];
} SDK_APP_LINK_INFO;

#pragma pack(pop)

#ifdef __cplusplus
#define NETSDK_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define NETSDK_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

NETSDK_STATIC_ASSERT(sizeof(SDK_CONFIG_NET_COMMON_V2) == 560, "search answer is 560 bytes");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, HostIP) == 64, "HostIP");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, Submask) == 68, "Submask");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, Gateway) == 72, "Gateway");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, NetValues) == 236, "NetValues");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, NetByte) == 268, "NetByte");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, sMac) == 269, "sMac");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, sSn) == 301, "sSn");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, Protocol) == 333, "Protocol");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, DeviceType) == 340, "DeviceType");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, sSoftWareVersion) == 344, "version");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, BuildYear) == 472, "BuildYear");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, BuildMonth) == 476, "BuildMonth");
NETSDK_STATIC_ASSERT(offsetof(SDK_CONFIG_NET_COMMON_V2, BuildDay) == 480, "BuildDay");

NETSDK_STATIC_ASSERT(sizeof(SDK_NET_BLOCK) == 400, "network block is 400 bytes");
NETSDK_STATIC_ASSERT(offsetof(SDK_NET_BLOCK, NetValues) == 76, "NetValues");
NETSDK_STATIC_ASSERT(offsetof(SDK_NET_BLOCK, NetByte) == 108, "NetByte");
NETSDK_STATIC_ASSERT(offsetof(SDK_NET_BLOCK, sMac) == 109, "sMac");
NETSDK_STATIC_ASSERT(offsetof(SDK_NET_BLOCK, sHostMac) == 269, "sHostMac");
NETSDK_STATIC_ASSERT(offsetof(SDK_NET_BLOCK, ChangeFlag) == 304, "ChangeFlag");

NETSDK_STATIC_ASSERT(sizeof(H264_DVR_DEVICEINFO) == 848, "device information is 848 bytes");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, BuildYear) == 192, "BuildYear");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, BuildMonth) == 196, "BuildMonth");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, BuildDay) == 200, "BuildDay");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, sSerialNumber) == 224, "serial");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, sHardWare) == 336, "hardware");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, Protocol) == 400, "protocol");
NETSDK_STATIC_ASSERT(offsetof(H264_DVR_DEVICEINFO, sModel) == 401, "model");

NETSDK_STATIC_ASSERT(sizeof(DEV_INFO) == 1368, "DEV_INFO");
NETSDK_STATIC_ASSERT(offsetof(DEV_INFO, NetComm) == 52, "NetComm");
NETSDK_STATIC_ASSERT(offsetof(DEV_INFO, szCloudID) == 452, "szCloudID");
NETSDK_STATIC_ASSERT(offsetof(DEV_INFO, NetDevInfo) == 516, "NetDevInfo");
NETSDK_STATIC_ASSERT(offsetof(DEV_INFO, NetDevInfo) + offsetof(H264_DVR_DEVICEINFO, DeviceType) == 1104,
                     "device type at record offset 1104");
NETSDK_STATIC_ASSERT(offsetof(DEV_INFO, nLastByte) == 1364, "nLastByte");
NETSDK_STATIC_ASSERT(sizeof(SDK_LOGO_PART_INFO) == 264, "logo partition record");
NETSDK_STATIC_ASSERT(sizeof(SDK_APP_LINK_INFO) == 516, "app-link record");

/* Result and error codes. */
enum {
    NETSDK_OK = 0,
    NETSDK_ERR_SYSTEM_BUSY = 7,   /* login: device busy */
    NETSDK_ERR_NOT_INIT = -10001, /* H264_DVR_Init not called (or cleaned up) */
    NETSDK_ERR_PARAM = -10002,    /* bad argument; from a device: bad request content */
    NETSDK_ERR_HANDLE = -10003,   /* unknown login or upgrade handle; device: bad session */
    NETSDK_ERR_NETWORK = -10004,  /* connection failed or lost */
    NETSDK_ERR_TIMEOUT = -10005,
    NETSDK_ERR_PROTOCOL = -10006,          /* the device sent a malformed answer */
    NETSDK_ERR_BUFFER = -10007,            /* the answer does not fit the caller's buffer */
    NETSDK_ERR_BUSY = -10008,              /* the login is streaming an upgrade */
    NETSDK_ERR_FILE = -10009,              /* the upgrade file cannot be read */
    NETSDK_ERR_NOT_SUPPORTED = -10010,     /* the device does not know the command */
    NETSDK_ERR_UPG_DEADLINE = -10011,      /* final upgrade report: the device did not finish in time */
    NETSDK_ERR_FILE_CHANGED = -10012,      /* the upgrade file is not the version the caller checked */
    NETSDK_ERR_ONVIF_UNSUPPORTED = -10013, /* an ONVIF device: the call has no ONVIF counterpart */
    NETSDK_ERR_DEVICE_FAULT = -10014,      /* an ONVIF device refused the call (SOAP fault) */
    NETSDK_ERR_PASSWORD = -11301,
    NETSDK_ERR_NO_USER = -11302,
    NETSDK_ERR_USER_LOCKED = -11303,
    NETSDK_ERR_USER_BLACKLIST = -11304,
    NETSDK_ERR_USER_LOGGED_IN = -11305,
    NETSDK_ERR_LOGIN_OTHER = -11306,
    NETSDK_ERR_NO_DEVICE = -11307,
    NETSDK_ERR_NEED_REBOOT = -11401,
    NETSDK_ERR_UPG_NO_MEMORY = -11804,
    NETSDK_ERR_UPG_BAD_PACKET = -11805,
    NETSDK_ERR_UPG_PART_FAILED = -11806,
    NETSDK_ERR_UPG_HARDWARE = -11807,
    NETSDK_ERR_UPG_VENDOR = -11808,
    NETSDK_ERR_UPG_COMPATIBLE = -11809,
    NETSDK_ERR_UPG_VERSION = -11810,
    NETSDK_ERR_UPG_WIFI = -11811
};

/* How the SDK talks to a device (the Protocol byte of search answers and device information). */
enum {
    NETSDK_PROTOCOL_OWN = 0,   /* the devices' own protocol (PROTOCOL.md) */
    NETSDK_PROTOCOL_ONVIF = 1, /* ONVIF: WS-Discovery and SOAP device management */
    /* The DeviceType an ONVIF device is given: IPC in search answers, IPC in device information. */
    NETSDK_ONVIF_SEARCH_TYPE = 3,
    NETSDK_ONVIF_LOGIN_TYPE = 2
};

/* Configuration commands. */
enum {
    NETSDK_CFG_NET_COMMON = 20,  /* get: 144-byte network block; set without login: 400 bytes */
    NETSDK_CFG_RESET = 33,       /* set: 11 reset flags */
    NETSDK_CFG_IMPORT = 52,      /* set: configuration file import */
    NETSDK_CFG_LOGO_PART = 61,   /* get: SDK_LOGO_PART_INFO */
    NETSDK_CFG_TIMEZONE = 165,   /* set: 8 bytes */
    NETSDK_CFG_APP_LINK = 186,   /* get: SDK_APP_LINK_INFO */
    NETSDK_CFG_SYSTIME = 244,    /* set: 32 bytes */
    NETSDK_CFG_SYSTIME_V2 = 265, /* set: 32 bytes */
    NETSDK_JSON_SET = 1040,
    NETSDK_JSON_GET = 1042,
    NETSDK_JSON_PRODUCER_SET = 2160,
    NETSDK_JSON_PRODUCER_GET = 2162
};

typedef void (*fDisConnect)(long lLoginID, char *pchDeviceIP, long nDevicePort, unsigned long dwUser);

/* Upgrade progress: (total, position) while sending (each time the whole percentage
 * changes, and at the end); (-1, percent) while the device flashes; then exactly one
 * final report with total -1 and position -1 (success), -2 (failure) or a device error
 * code below -2. Runs on the upgrade's SDK thread; GetLastError there tells the cause of
 * a failure. The callback may call any SDK function, CloseUpgradeHandle included. */
typedef void (*fUpgradeCallBack)(long lLoginID, long lUpgradechannel, int nTotalSize, int nSendSize,
                                 void *dwUser);

/* Reference counted: every Init needs its Cleanup; the last Cleanup ends every login
 * and upgrade (no upgrade callback runs after it returns) and waits for the SDK's
 * threads. Handles used after that fail harmlessly. Cleanup returns 0 when not
 * initialised. The disconnect callback (optional) is called once for a login whose
 * connection an SDK call found broken. */
long H264_DVR_Init(fDisConnect cbDisConnect, unsigned long dwUser);
int H264_DVR_Cleanup(void);
/* The code of this thread's last failed call (successes leave it alone). */
long H264_DVR_GetLastError(void);
/* Per connect try, and the login exchange after the connect (default 3000 ms, 1 try). */
int H264_DVR_SetConnectTime(long nWaitTime, long nTryTimes);

/* Search: fills pBuf with up to nBufLen / 560 answers, collecting for nSearchTime ms
 * (less when the buffer is full). Returns non-zero on success, *pRetLen = bytes filled. */
int H264_DVR_SearchDevice(char *pBuf, int nBufLen, int *pRetLen, int nSearchTime);

/* Returns a login handle > 0, or 0 with *error set to a login error code: the device's
 * own (7, -11301..-11307), 0 when the device cannot be reached, NETSDK_ERR_TIMEOUT when
 * it does not answer within the connect time-out, or another NETSDK_ERR_*. */
long H264_DVR_Login(const char *sDeviceIP, unsigned short wDevicePort, const char *sUserName,
                    const char *sPassword, H264_DVR_DEVICEINFO *lpDeviceInfo, int nMode, int *error);
/* 1, or 0 for a handle that is not (or no longer) logged in. */
long H264_DVR_Logout(long lLoginID);

/* Get: 1 (*lpBytesReturned set) or a negative code. Set: 1 or a negative code (the
 * device's own, e.g. NETSDK_ERR_NEED_REBOOT). The last error is set on failure. */
long H264_DVR_GetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpOutBuffer,
                           unsigned long dwOutBufferSize, unsigned long *lpBytesReturned, int waittime);
long H264_DVR_SetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                           unsigned long dwInBufferSize, int waittime);

/* Sent by UDP to the device with the MAC of the block (no login). 0 or 1 on
 * success, NETSDK_ERR_TIMEOUT without an answer, NETSDK_ERR_NEED_REBOOT. An ONVIF device
 * moves by SOAP calls with the credentials of the last login to it; one a search found
 * but nobody logged in to gives NETSDK_ERR_HANDLE. */
long H264_DVR_SetConfigOverNet(unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                               unsigned long dwInBufferSize, int waittime);

/* Type 0 = reboot. Returns non-zero on success; 0 with the last error set on failure,
 * NETSDK_ERR_TIMEOUT also when the device dropped the connection before answering. */
int H264_DVR_ControlDVR(long lLoginID, int type, int waittime);

/* Returns an upgrade handle > 0 at once, or 0 with the last error set; the transfer runs
 * on an SDK thread, streaming the file from disk. The upgrade takes over the login:
 * other calls on it fail with NETSDK_ERR_BUSY, and the login ends with the final
 * report (log in again afterwards). */
long H264_DVR_Upgrade(long lLoginID, const char *sFileName, int nType, fUpgradeCallBack cbUpgrade,
                      void *dwUser);
/* H264_DVR_Upgrade for one version of the file: pSha256 points to the 32-byte SHA-256 of the version
 * the caller checked. Before anything goes to the device, the SDK compares it with the digest of the
 * file it opened; when they differ, not a byte is sent and the final report is -2 with last error
 * NETSDK_ERR_FILE_CHANGED. A null pSha256 pins nothing (H264_DVR_Upgrade). */
long H264_DVR_UpgradePinned(long lLoginID, const char *sFileName, int nType, const unsigned char *pSha256,
                            fUpgradeCallBack cbUpgrade, void *dwUser);
/* Stops the transfer if still running; no callback of this upgrade runs once it returns
 * (when called from inside the callback: none after that callback). 1, or 0 for an
 * unknown handle. */
int H264_DVR_CloseUpgradeHandle(long lUpgradeHandle);

/* JSON configuration. Get: 1 with NUL-terminated text, or 0 (failure, last error set).
 * Set: 1, or a negative code (the device's own, e.g. NETSDK_ERR_NEED_REBOOT); _EX also
 * copies the device's answer text (cut to fit, NUL-terminated). */
long H264_DVR_GetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  char *szOutBuffer, int nOutBufferSize, int *pRetLen, int nWaitTime);
long H264_DVR_SetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  const char *szInBuffer, int nInBufferSize, int nWaitTime);
long H264_DVR_SetDevConfig_JsonV2_EX(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                     const char *szInBuffer, int nInBufferSize, char *szOutBuffer,
                                     int nOutBufferSize, int nWaitTime);

/* The longest a device may take from accepting a package to its final result (default
 * 600000 ms = 10 min; values are clamped to 100..3600000). A device still flashing then
 * gets the final report NETSDK_ERR_UPG_DEADLINE (last error NETSDK_ERR_TIMEOUT). Taken
 * by each upgrade when it starts. */
void H264_DVR_SetUpgradeDeadline(long nFlashMs);

/* ONVIF devices. A search also sends a WS-Discovery probe (multicast 239.255.255.250:3702, and
 * unicast to the addresses given here, comma-separated IPv4; also read from TALLOW_NETSDK_ONVIF_PROBE)
 * and lists the ONVIF devices that answer (Protocol = NETSDK_PROTOCOL_ONVIF). A login at the address
 * and port of such a device is an ONVIF login; its handle works with the calls above. Calls without
 * an ONVIF counterpart (OEMID, logo partition, JSON settings) fail with NETSDK_ERR_ONVIF_UNSUPPORTED.
 * With a search port other than the default, or TALLOW_NETSDK_SEARCH_SCOPE=loopback, the multicast
 * probe stays on the loopback interface; TALLOW_NETSDK_ONVIF_PORT moves the discovery port (tests). */
void H264_DVR_SetOnvifProbeAddresses(const char *sAddresses);
/* The credentials a search uses to identify ONVIF devices that do not answer anonymously
 * (default "admin" with an empty password). Sent only as digests. */
void H264_DVR_SetOnvifSearchLogin(const char *sUserName, const char *sPassword);

/* Test and deployment seam: the UDP port devices listen on for search and
 * address changes (default 34569; also read from TALLOW_NETSDK_SEARCH_PORT). */
void H264_DVR_SetSearchPort(unsigned short wPort);

#ifdef __cplusplus
}
#endif
