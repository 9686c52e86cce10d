#include "oemidvariant.h"

#include <QCoreApplication>

OemidVariant OemidVariant::oemidTab()
{
    return OemidVariant();
}

OemidVariant OemidVariant::firmwareTab()
{
    OemidVariant v;
    v.tab = Tab::Firmware;
    v.reloginOnRead = false;
    v.numericRet = true;
    v.showReadOemid = false;
    v.readErrorText = QT_TRANSLATE_NOOP("OemidWriter", "OEMID ERROR");
    v.lookUpStationMac = true;
    v.successWithOemid = true;
    v.detailOnFailure = false;
    v.dayFileErrorInStatus = true;
    v.acceptedRets = {200};
    v.errorLog = false;
    return v;
}

OemidVariant OemidVariant::logoTab()
{
    OemidVariant v = firmwareTab();
    v.tab = Tab::Logo;
    v.readErrorText = QT_TRANSLATE_NOOP("OemidWriter", "Get Dev OEMID Error");
    v.detailOnFailure = true;
    v.rereadNeedsRet = true;
    const QString tips = QStringLiteral("Tips");
    v.fileTitle = v.aboutTitle = v.openTitle = v.netTitle = v.errorTitle = v.summaryTitle = tips;
    return v;
}
