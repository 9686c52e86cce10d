#pragma once

#include <QList>
#include <QString>

/// What differs between the three tabs that write OEMIDs and upload factory records. The
/// procedures exist once; each tab passes its variant.
struct OemidVariant {
    enum class Tab { Oemid, Firmware, Logo };
    Tab tab = Tab::Oemid;

    // Reading before the write.
    bool reloginOnRead = true;           ///< log in again (OEMID tab) or use the tab's login
    bool numericRet = false;             ///< "Ret" as a number with "err 1/2/3 %1" results
    bool showReadOemid = true;           ///< "Ret" 100 puts the device's OEMID into the status column
    const char *readErrorText = nullptr; ///< decision step: text for a device OEMID containing "err"

    // Writing and the re-read.
    bool lookUpStationMac = false; ///< look the station MAC up right before each write
    bool successWithOemid = false; ///< "Set OEMID Success(<OEMID>)"
    bool detailOnFailure = true;   ///< " ret=%1,code:%2" after the failure texts
    bool rereadNeedsRet = false;   ///< the re-read takes the OEMID only with "Ret" 100 or 109

    // Factory records and upload.
    bool dayFileErrorInStatus = false; ///< "%1 Err %2" in the status column instead of a message box
    QString fileTitle = QStringLiteral("file");
    QString aboutTitle = QStringLiteral("About");
    QString openTitle = QStringLiteral("File");
    QString netTitle = QStringLiteral("statuscode");
    QString errorTitle = QStringLiteral("Load");
    QString summaryTitle = QStringLiteral("load");
    QList<int> acceptedRets{200, 507};
    bool errorLog = true; ///< "OemidUpdateErrorlog.txt" line for a rejected record

    static OemidVariant oemidTab();
    static OemidVariant firmwareTab();
    static OemidVariant logoTab();
};
