#include "device/tablevariant.h"

#include "device/deviceprotocol.h"
#include "device/devicerecord.h"

#include <QCoreApplication>

using DeviceRecord::fixedText;

namespace
{

ColumnSpec column(const char *header, int width, Field field)
{
    return ColumnSpec{header, width, field};
}

const TableVariant firmwareVariant = [] {
    TableVariant v{};
    v.kind = TabKind::Firmware;
    v.columns = {column(QT_TRANSLATE_NOOP("DeviceTable", "NO."), 50, Field::Number),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "IP Address"), 100, Field::Ip),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Port"), 60, Field::Port),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Destribe"), 140, Field::Status),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Mac Address"), 120, Field::Mac),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "CloudID"), 120, Field::Cloud),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Version"), 280, Field::Version),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "BuildDate"), 120, Field::BuildDate)};
    v.checkable = true;
    v.hideVerticalHeader = false;
    v.statusColumn = 3;
    v.filterDeviceTypes = false;
    v.ipFailColumn = 3;
    v.ipFailText = QT_TRANSLATE_NOOP("DeviceTable", "Set Ip Fail");
    v.ipLogoutFirst = false;
    v.ipAlwaysChannel1 = false;
    return v;
}();

const TableVariant logoVariant = [] {
    TableVariant v{};
    v.kind = TabKind::Logo;
    v.columns = {column(QT_TRANSLATE_NOOP("DeviceTable", "NO."), 50, Field::Number),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "IP Address"), 100, Field::Ip),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "DevType"), 80, Field::DevType),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Status"), 140, Field::Status),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Gateway"), 100, Field::Gateway),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "CloudID"), 120, Field::Cloud),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Version"), 280, Field::Version),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "BuildDate"), 120, Field::BuildDate)};
    v.checkable = true;
    v.hideVerticalHeader = false;
    v.statusColumn = 3;
    v.filterDeviceTypes = true;
    v.ipFailColumn = 3;
    v.ipFailText = QT_TRANSLATE_NOOP("DeviceTable", "Set Ip Fail");
    v.ipLogoutFirst = false;
    v.ipAlwaysChannel1 = false;
    return v;
}();

// Column 3 of this tab, headed "Status", shows the OEMID read back and then the device settings'
// results; the OEMID step's results go to "Destribe", where no setting can hide them.
const TableVariant oemidVariant = [] {
    TableVariant v{};
    v.kind = TabKind::Oemid;
    v.columns = {column(QT_TRANSLATE_NOOP("DeviceTable", "NO."), 50, Field::Number),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "IP Address"), 100, Field::Ip),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Destribe"), 150, Field::Status),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Status"), 150, Field::Oemid),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Mac Address"), 140, Field::Mac),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "Version"), 280, Field::Version),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "BuildDate"), 120, Field::BuildDate),
                 column(QT_TRANSLATE_NOOP("DeviceTable", "CloudID"), 120, Field::Cloud)};
    v.checkable = false;
    v.hideVerticalHeader = true;
    v.statusColumn = 2;
    v.filterDeviceTypes = false;
    v.ipFailColumn = 2;
    v.ipFailText = QT_TRANSLATE_NOOP("DeviceTable", "change IP failed");
    v.ipLogoutFirst = true;
    v.ipAlwaysChannel1 = true;
    return v;
}();

QString localText(const std::string &text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

} // namespace

int TableVariant::columnOf(Field field) const
{
    for (int c = 0; c < int(columns.size()); ++c) {
        if (columns[c].field == field)
            return c;
    }
    return -1;
}

const TableVariant &tableVariant(TabKind kind)
{
    switch (kind) {
    case TabKind::Logo:
        return logoVariant;
    case TabKind::Oemid:
        return oemidVariant;
    case TabKind::Firmware:
        break;
    }
    return firmwareVariant;
}

std::optional<QString> logoSearchTypeName(int32_t typeCode)
{
    static const char *const names[6] = {"IPC", "DVR", "DVR", "IPC", "NVR", "IPC"};
    if (typeCode < 0 || typeCode > 5)
        typeCode = 1;
    if (typeCode == 0 || typeCode == 3 || typeCode == 5)
        return std::nullopt;
    return QString::fromLatin1(names[typeCode]);
}

QString logoLoginTypeName(int32_t typeCode)
{
    static const char *const names[6] = {"DVR", "NVR", "IPC", "DVR", "DVR", "DVR"};
    if (typeCode < 0 || typeCode > 5)
        typeCode = 0;
    return QString::fromLatin1(names[typeCode]);
}

std::optional<RowFill> fillFromSearch(const TableVariant &variant, const SDK_CONFIG_NET_COMMON_V2 &answer,
                                      int row)
{
    std::optional<QString> typeName;
    if (DeviceProtocol::isOnvif(answer)) {
        // Listed on every tab: what ONVIF cannot do there is said per job, never skipped silently.
        typeName = DeviceProtocol::typeText(logoLoginTypeName(NETSDK_ONVIF_LOGIN_TYPE), true);
    } else if (variant.filterDeviceTypes) {
        typeName = logoSearchTypeName(answer.DeviceType);
        if (!typeName)
            return std::nullopt;
    }

    RowFill fill;
    fill.record = DeviceRecord::recordFromSearch(answer, row);
    const std::string version = fixedText(answer.sSoftWareVersion);
    for (int c = 0; c < 8; ++c) {
        QVariant value;
        switch (variant.columns[c].field) {
        case Field::Number:
            value = QString::number(row + 1);
            break;
        case Field::Ip:
            value = DeviceRecord::dottedAddress(answer.HostIP);
            break;
        case Field::Port:
            value = QString::number(answer.NetValues[1]);
            break;
        case Field::Mac:
            value = localText(fixedText(answer.sMac));
            break;
        case Field::Cloud:
            value = localText(fixedText(fill.record.szCloudID));
            break;
        case Field::Version:
            if (!version.empty())
                value = localText(version);
            break;
        case Field::BuildDate:
            if (!version.empty())
                value = DeviceRecord::buildDateText(answer.BuildYear, answer.BuildMonth, answer.BuildDay);
            break;
        case Field::DevType:
            if (typeName)
                value = *typeName;
            break;
        case Field::Gateway:
            value = DeviceRecord::dottedAddress(answer.Gateway);
            break;
        case Field::Status:
        case Field::Oemid:
        case Field::Wave:
            break;
        }
        fill.cells[c] = value;
    }
    return fill;
}

RowFill fillFromLogin(const TableVariant &variant, const DEV_INFO &dialogRecord, int row,
                      const QString &statusText)
{
    RowFill fill;
    fill.record = dialogRecord;
    fill.record.nIndex = row;
    const H264_DVR_DEVICEINFO &info = dialogRecord.NetDevInfo;
    DeviceRecord::setFixedText(fill.record.szCloudID, fixedText(info.sSerialNumber));
    const std::string version = fixedText(info.sSoftWareVersion);
    for (int c = 0; c < 8; ++c) {
        QVariant value;
        switch (variant.columns[c].field) {
        case Field::Number:
            value = row + 1;
            break;
        case Field::Ip:
            value = localText(fixedText(dialogRecord.szIpaddress));
            break;
        case Field::Port:
            value = dialogRecord.nPort;
            break;
        case Field::Status:
            value = statusText;
            break;
        case Field::Mac:
            value = localText(fixedText(dialogRecord.NetComm.sMac));
            break;
        case Field::Cloud:
            value = localText(fixedText(fill.record.szCloudID));
            break;
        case Field::Version:
            if (!version.empty())
                value = localText(version);
            break;
        case Field::BuildDate:
            if (!version.empty())
                value = DeviceRecord::buildDateText(info.BuildYear, info.BuildMonth, info.BuildDay);
            break;
        case Field::DevType:
            value = DeviceProtocol::typeText(logoLoginTypeName(info.DeviceType),
                                             info.Protocol == NETSDK_PROTOCOL_ONVIF);
            break;
        case Field::Gateway:
            value = DeviceRecord::dottedAddress(dialogRecord.NetComm.Gateway);
            break;
        case Field::Oemid:
        case Field::Wave:
            break;
        }
        fill.cells[c] = value;
    }
    return fill;
}
