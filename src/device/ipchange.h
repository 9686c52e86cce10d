#pragma once

#include "device/devicesession.h"

#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QList>
#include <QString>

#include <functional>

class DeviceStore;

/// Giving a listed device its own IPv4 address, sent without a login as its network block. The last
/// address byte becomes the row index plus the start index.
namespace IpChange
{

/// An assigned last byte must lie in 1..254: 0 and 255 are a /24's network and broadcast addresses,
/// and 8 bits would wrap 256 to 0 and 257 to 1, the usual gateway.
constexpr int MinLastByte = 1;
constexpr int MaxLastByte = 254;
/// StartIndex when Config.ini holds none.
constexpr int DefaultStartIndex = 20;

/// Empty when `startIndex` may start a run that changes addresses; otherwise the operator's message.
/// Row 0 gets the start index itself, so it must be a valid last byte.
QString startIndexProblem(int startIndex);

enum class Step {
    Nothing,      ///< no network data at all (gateway, mask and MAC empty), or an unknown type: result 0
    AlreadyRight, ///< the address is already the wanted one: result 1, nothing sent
    Send,         ///< send the changed block on `channel`
    Refused,      ///< the wanted address is unusable (see `refusal`): result -1, nothing sent or changed
};

enum class Refusal {
    None,
    OutOfRange, ///< the last byte would be outside MinLastByte..MaxLastByte
    Gateway,    ///< the address is the device's gateway
    Station,    ///< the address is one of this station's own
};

struct Plan {
    Step step = Step::Nothing;
    int channel = 1;
    Refusal refusal = Refusal::None;
    int lastByte = 0; ///< types 1 and 2: the wanted last byte, unwrapped (row + start index)
};

/// Decides the change of type `nType` (1 assign, 2 assign on channel 254, 3 restore the saved byte)
/// and applies it to the record's network block: saved byte, new last byte, change flag. An assigned
/// address outside 1..254 in its last byte, or equal to the gateway or to one of `stationAddresses`
/// (IPv4, host byte order) is refused and leaves the record as it was.
Plan plan(DEV_INFO &record, int nIndex, int nType, int startIndex, const TableVariant &variant,
          const QList<quint32> &stationAddresses = {});

/// The row's text for a refused plan; `net` is the record's network block as it was.
QString refusalText(const Plan &plan, const SDK_NET_BLOCK &net);

enum class Outcome { Success, NeedReboot, Failed };
/// 0 and 1 succeed; a time-out (-10005) is taken as success, since the device usually answers
/// from its new address; -11401 asks for a reboot first.
Outcome outcome(long result);

/// The SDK calls the change makes, replaceable for tests, and the station MAC look-up (the tabs
/// hand in the application's; the default names none).
struct Sdk {
    std::function<long(unsigned long command, int channel, char *block, unsigned long size, int wait)>
        setConfigOverNet;
    std::function<QString()> stationMac;
    /// This station's IPv4 addresses (host byte order), none of which a device may be given.
    std::function<QList<quint32>()> stationAddresses;
    /// A login with the row's credentials, for an ONVIF camera the SDK has no login of yet; the
    /// error code when it fails.
    std::function<DeviceSession(const DEV_INFO &record, int *error)> login;
};
Sdk defaultSdk();

/// Changes the address of the device in `row` of the rows of `generation`; 1 = the address is now
/// the wanted one, 0 = nothing done (no such row), -1 = failed or refused (the reason is written into
/// the row's status). Rows a new search replaced meanwhile are left alone. Blocks up to 20 s; any
/// thread.
int modifyIP(DeviceStore &rows, quint64 generation, int row, int nType, int startIndex,
             const Sdk &sdk = defaultSdk());

} // namespace IpChange
