// libFuzzer target: the "Hardware" member of an InstallDesc text.
#include "upgrade/upgradepackage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray hardware = UpgradePackage::hardwareFromInstallDesc(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (hardware.size() > UpgradePackage::HardwareLimit)
        std::abort();
    return 0;
}
