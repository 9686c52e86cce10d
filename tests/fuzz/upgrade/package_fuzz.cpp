// libFuzzer target: inspecting an upgrade package (the zip directory, its member names, its
// InstallDesc read straight from the archive) and unpacking it, with the bounds of a real inspection
// scaled down so that a run stays fast. Nothing may be written outside the scratch directory.
#include "fuzztemp.h"
#include "upgrade/upgradepackage.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string package = fuzztemp::write("package.bin", data, size);
    const QString root = QString::fromStdString(fuzztemp::dir());
    const QString scratch = root + QStringLiteral("/area/Temp");
    UpgradePackage::Limits limits;
    limits.unpackedBytes = 4 << 20;
    limits.entries = 64;
    limits.installDescBytes = 64 << 10;
    UpgradePackage::inspect(QString::fromStdString(package), limits);
    QDir().mkpath(scratch);
    UpgradePackage::unzipToDirectory(QString::fromStdString(package), scratch, nullptr, limits);
    // A member that climbed out of the scratch directory would show up next to it.
    const QStringList around = QDir(root + QStringLiteral("/area"))
                                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : around) {
        if (name != QLatin1String("Temp")) {
            std::fprintf(stderr, "written outside the scratch directory: %s\n", qPrintable(name));
            std::abort();
        }
    }
    UpgradePackage::clearDirectory(scratch);
    QDir().rmdir(scratch);
    return 0;
}
