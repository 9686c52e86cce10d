#pragma once

#include "netsdk/netsdk.h"

#include <QString>
#include <QVariant>

#include <array>
#include <optional>

/// The three tabs that keep a device table.
enum class TabKind { Firmware, Logo, Oemid };

/// What a column of a device table shows.
/// Wave is no column: the number of the wave a staged run put the device in (a value event), which
/// the table keeps beside the row for the history and the CSV export.
enum class Field { Number, Ip, Port, Status, Mac, Cloud, Version, BuildDate, DevType, Gateway, Oemid, Wave };

struct ColumnSpec {
    const char *header; ///< untranslated; context "DeviceTable"
    int width;
    Field field;
};

/// Everything in which the tabs' device tables, their fills and their IP changes differ.
struct TableVariant {
    TabKind kind;
    std::array<ColumnSpec, 8> columns;
    bool checkable;          ///< column 0 carries a tick box
    bool hideVerticalHeader; ///< the OEMID tab numbers its rows itself
    int statusColumn;        ///< where per-device results go
    bool filterDeviceTypes;  ///< logo tab: lists only DVRs and NVRs, by their type name

    // IP change
    int ipFailColumn;
    const char *ipFailText; ///< untranslated; context "DeviceTable"
    bool ipLogoutFirst;     ///< log the device out before changing its address
    bool ipAlwaysChannel1;  ///< send channel 1 whatever the change type

    /// The column showing `field`, or -1.
    int columnOf(Field field) const;
};

const TableVariant &tableVariant(TabKind kind);

/// One row to append: the cell values by column and the row's record.
struct RowFill {
    std::array<QVariant, 8> cells;
    DEV_INFO record;
};

/// The logo tab's view of a search answer's type code: out-of-range codes count as 1; codes 0, 3 and
/// 5 are not listed (empty result); otherwise "DVR" or "NVR".
std::optional<QString> logoSearchTypeName(int32_t typeCode);
/// The logo tab's type name for a device logged in by hand (device information block's type code).
QString logoLoginTypeName(int32_t typeCode);

/// The row for a search answer appended at `row`, or nothing when the tab does not list the device.
std::optional<RowFill> fillFromSearch(const TableVariant &variant, const SDK_CONFIG_NET_COMMON_V2 &answer,
                                      int row);

/// The row for a device added by hand at `row` from the login dialog's record (logged in already):
/// status `statusText`; the cloud identifier is the serial number the login read, and the record
/// becomes a copy of the dialog's with that identifier and the row index.
RowFill fillFromLogin(const TableVariant &variant, const DEV_INFO &dialogRecord, int row,
                      const QString &statusText);
