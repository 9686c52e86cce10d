// libFuzzer target: a device's check of a received package (zip, InstallDesc, the logo image with
// its header and file system).
#include "fuzztemp.h"
#include "packagecheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzztemp::write("package.bin", data, size);
    devsim::PackageTarget target;
    target.hardware = "HI3520D-NVR";
    target.logoStart = 0x100000;
    target.logoEnd = 0x180000;
    devsim::checkPackage(path, target);
    target.logoStart = target.logoEnd = 0;
    devsim::checkPackage(path, target);
    return 0;
}
