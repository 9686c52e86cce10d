#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>

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

/// Why a member could not be read straight from an archive.
enum class MemberRead {
    Ok,
    NotAnArchive,   ///< no readable zip directory
    Missing,        ///< no such member
    Ambiguous,      ///< the name occurs more than once
    Unsupported,    ///< encrypted, or a method other than stored or deflated
    Damaged,        ///< the data does not inflate, or its size or CRC differs from the directory's
    TooLarge,       ///< the member is larger than `maxBytes`
    PackageTooLarge ///< the archive states more members or bytes than `limits` allow
};

/// Reads the member `name` of the zip archive open as `fd` into `out`, at most `maxBytes` of it, with
/// positioned reads only (the descriptor's offset is left alone). The archive's directory must also
/// stay within `limits.entries` members and `limits.unpackedBytes` stated bytes (PackageTooLarge
/// otherwise, whatever `name` is). Nothing is written anywhere.
MemberRead readMember(int fd, const QByteArray &name, qint64 maxBytes, const Limits &limits, QByteArray *out);

/// Outcome of inspecting a package.
struct Inspection {
    enum Status {
        Ok,
        UnzipFailed,       ///< the file cannot be opened or is no zip archive
        InstallDescFailed, ///< no single readable InstallDesc (missing, encrypted, unsupported
                           ///< method, damaged, or larger than allowed)
        TooLarge,          ///< the archive states more members or bytes than the limits allow
        NoMemory,          ///< memory ran out on the way
        Changed,           ///< the file was replaced or written to while it was read
        Cancelled          ///< `cancel` was set
    };
    Status status = Ok;
    QByteArray hardware; ///< valid when status is Ok
    QByteArray sha256;   ///< SHA-256 of the whole file that was inspected, when status is Ok
};

/// Reads the hardware name from the package's top-level InstallDesc, straight from the archive (no
/// scratch directory: a stale file left there by an earlier run can never be read instead), and the
/// SHA-256 of the very file inspected, so that a run can send exactly that version and no other.
/// Reads the package whole once; blocking, so call it off the GUI thread.
Inspection inspect(const QString &packagePath, const Limits &limits = Limits(),
                   const std::atomic<bool> *cancel = nullptr);

} // namespace UpgradePackage
