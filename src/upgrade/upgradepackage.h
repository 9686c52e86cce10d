#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/// Reading an upgrade package (a zip archive with a top-level "InstallDesc") before a run.
/// No widgets: the tab calls these with plain paths.
namespace UpgradePackage
{

/// The longest hardware name a package may carry; longer values are cut to this many bytes.
constexpr int HardwareLimit = 64;
/// Block size of the copy from the archive to disk.
constexpr int CopyBlock = 40960;

/// What unpacking a package may take. The package is untrusted: a small archive can unpack to far
/// more than any disk holds (a zip bomb). Firmware for these devices fits flash of some tens of MiB,
/// so no genuine package comes near these bounds.
struct Limits {
    qint64 unpackedBytes = qint64(512) << 20;  ///< all members together, as actually unpacked
    int entries = 4096;                        ///< members of the archive
    qint64 installDescBytes = qint64(1) << 20; ///< the description is a few hundred bytes of JSON
};

/// The scratch directory: the application directory followed by "/Temp".
QString scratchDirectory();

/// Unpacks every entry of the archive into `directory`. Returns 0, -1 when the archive cannot be
/// opened, or -2 when it holds more than `limits` allow (unpacking stops there; what was written
/// stays for the caller to remove). Entries that would land outside `directory` (absolute names,
/// "..", a symbolic link on the way) are never written; they, directory entries and entries whose
/// target cannot be created are skipped and, when `skipped` is given, listed there.
int unzipToDirectory(const QString &archivePath, const QString &directory, QStringList *skipped = nullptr,
                     const Limits &limits = Limits());

/// Removes everything below `path` (files and subdirectories, recursively) but not `path` itself.
/// Symbolic links are removed, never followed. Returns false when the directory does not exist.
bool clearDirectory(const QString &path);

/// The "Hardware" member of an InstallDesc text, cut to its first 64 bytes; empty when the text is
/// no JSON object or the member is missing or not a scalar.
QByteArray hardwareFromInstallDesc(const QByteArray &text);

/// Outcome of inspecting a package.
struct Inspection {
    enum Status {
        Ok,
        UnzipFailed,       ///< the archive cannot be opened; the scratch directory stays
        InstallDescFailed, ///< no readable InstallDesc (or a larger one than allowed); the files stay
        TooLarge,          ///< unpacks to more than the limits allow; the scratch directory is removed
        NoMemory           ///< memory ran out on the way; the scratch directory is removed
    };
    Status status = Ok;
    QByteArray hardware; ///< valid when status is Ok
};

/// Creates `scratchDir`, unpacks the package into it, reads the hardware name from its InstallDesc
/// and, on success, removes the scratch directory again.
Inspection inspect(const QString &packagePath, const QString &scratchDir, const Limits &limits = Limits());

} // namespace UpgradePackage
