#pragma once

#include "device/tablevariant.h"
#include "netsdk/netsdk.h"

#include <QString>

#include <functional>

class DeviceTable;

/// Giving a listed device its own IPv4 address, sent without a login as its network block. The last
/// address byte becomes the row index plus the start index.
namespace IpChange
{

enum class Step {
    Nothing,      ///< no network data at all (gateway, mask and MAC empty), or an unknown type: result 0
    AlreadyRight, ///< the address is already the wanted one: result 1, nothing sent
    Send,         ///< send the changed block on `channel`
};

struct Plan {
    Step step = Step::Nothing;
    int channel = 1;
};

/// Decides the change of type `nType` (1 assign, 2 assign on channel 254, 3 restore the saved byte)
/// and applies it to the record's network block: saved byte, new last byte, change flag.
Plan plan(DEV_INFO &record, int nIndex, int nType, int startIndex, const TableVariant &variant);

enum class Outcome { Success, NeedReboot, Failed };
/// 0 and 1 succeed; a time-out (-10005) is taken as success, since the device usually answers
/// from its new address; -11401 asks for a reboot first.
Outcome outcome(long result);

/// The SDK calls the change makes, replaceable for tests, and the station MAC look-up (the tabs
/// hand in the application's; the default names none).
struct Sdk {
    std::function<long(unsigned long command, int channel, char *block, unsigned long size, int wait)>
        setConfigOverNet;
    std::function<void(long loginId)> logout;
    std::function<QString()> stationMac;
};
Sdk defaultSdk();

/// Changes the address of the device in `row`; 1 = the address is now the wanted one, 0 = nothing
/// done, -1 = failed (the reason is written into the row's status). Blocks up to 20 s; any thread.
int modifyIP(DeviceTable &table, int row, int nType, int startIndex, const Sdk &sdk = defaultSdk());

} // namespace IpChange
