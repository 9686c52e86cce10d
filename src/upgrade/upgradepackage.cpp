#include "upgradepackage.h"

#include "app/apppaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <json/json.h>
#include <zlib.h>
#include <zzip/zzip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

namespace UpgradePackage
{

QString scratchDirectory()
{
    return AppPaths::current().tempDir();
}

namespace
{

// An archive is untrusted input: its names may try to climb out of the scratch directory.
bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) // drive letter
        return false;
    const QStringList parts = name.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool isInside(const QString &path, const QString &canonicalRoot)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() &&
           (canonical == canonicalRoot || canonical.startsWith(canonicalRoot + QLatin1Char('/')));
}

struct ZzipDirCloser {
    void operator()(ZZIP_DIR *dir) const { zzip_dir_close(dir); }
};
struct ZzipFileCloser {
    void operator()(ZZIP_FILE *file) const { zzip_file_close(file); }
};

} // namespace

int unzipToDirectory(const QString &archivePath, const QString &directory, QStringList *skipped,
                     const Limits &limits)
{
    zzip_error_t error = ZZIP_NO_ERROR;
    std::unique_ptr<ZZIP_DIR, ZzipDirCloser> dir(
        zzip_dir_open(QFile::encodeName(archivePath).constData(), &error));
    if (!dir)
        return -1;

    const QString root = QFileInfo(directory).canonicalFilePath();
    auto skip = [skipped](const QString &name) {
        if (skipped)
            skipped->append(name);
    };
    std::unique_ptr<char[]> block(new char[CopyBlock]);
    // Counted as unpacked, not as the archive states: the stated sizes are the archive's word only.
    qint64 unpacked = 0;
    int entries = 0;

    ZZIP_DIRENT entry;
    while (zzip_dir_read(dir.get(), &entry)) {
        if (++entries > limits.entries)
            return -2;
        const QByteArray rawName(entry.d_name);
        const QString name = QFile::decodeName(rawName);
        std::printf("extract:%s\n", rawName.constData());
        std::fflush(stdout);

        if (root.isEmpty() || !isSafeEntryName(name) || name.endsWith(QLatin1Char('/'))) {
            skip(name);
            continue;
        }
        const QString target = directory + QLatin1Char('/') + name;
        const int slash = target.lastIndexOf(QLatin1Char('/'));
        if (name.contains(QLatin1Char('/')))
            QDir().mkdir(target.left(slash)); // one level only; failure shows up below
        // A symbolic link left in the scratch directory must not redirect the write.
        const QFileInfo targetInfo(target);
        if (!isInside(target.left(slash), root) || targetInfo.isSymLink()) {
            skip(name);
            continue;
        }

        std::unique_ptr<ZZIP_FILE, ZzipFileCloser> in(zzip_file_open(dir.get(), rawName.constData(), 0));
        QFile out(target);
        if (!in || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            skip(name);
            continue;
        }
        for (;;) {
            const zzip_ssize_t n = zzip_file_read(in.get(), block.get(), CopyBlock);
            if (n <= 0)
                break;
            unpacked += n;
            if (unpacked > limits.unpackedBytes)
                return -2;
            if (out.write(block.get(), n) != n) {
                skip(name);
                break;
            }
        }
    }
    return 0;
}

bool clearDirectory(const QString &path)
{
    QDir dir(path);
    if (!QFileInfo(path).isDir() || QFileInfo(path).isSymLink())
        return false;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            clearDirectory(entry.filePath());
            dir.rmdir(entry.fileName());
        } else {
            QFile::remove(entry.filePath());
        }
    }
    return true;
}

QByteArray hardwareFromInstallDesc(const QByteArray &text)
{
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text.constData(), text.constData() + text.size(), &root, &errors))
        return QByteArray();
    if (!root.isObject() || !root.isMember("Hardware"))
        return QByteArray();
    const Json::Value &value = root["Hardware"];
    if (!value.isString() && !(value.isConvertibleTo(Json::stringValue) && !value.isNull()))
        return QByteArray();
    const std::string hardware = value.asString();
    return QByteArray(hardware.data(), int(hardware.size())).left(HardwareLimit);
}

namespace
{

// Little-endian fields of the zip format.
quint16 le16(const char *p)
{
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}
quint32 le32(const char *p)
{
    return quint32(le16(p)) | quint32(le16(p + 2)) << 16;
}
quint64 le64(const char *p)
{
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

// Exactly `n` bytes at `offset`, or false.
bool readAt(int fd, qint64 offset, qint64 n, QByteArray *out)
{
    if (offset < 0 || n < 0)
        return false;
    out->resize(qsizetype(n));
    qint64 got = 0;
    while (got < n) {
        const ssize_t k = ::pread(fd, out->data() + got, size_t(n - got), off_t(offset + got));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        got += k;
    }
    return true;
}

struct Directory {
    qint64 offset = 0;
    qint64 size = 0;
    quint64 entries = 0;
};

constexpr quint32 EndSignature = 0x06054b50;
constexpr quint32 End64Signature = 0x06064b50;
constexpr quint32 End64LocatorSignature = 0x07064b50;
constexpr quint32 CentralSignature = 0x02014b50;
constexpr quint32 LocalSignature = 0x04034b50;
// A directory larger than this is no upgrade package (4096 members with long names fit easily).
constexpr qint64 DirectoryBytes = qint64(16) << 20;
// Reads of the package for its digest.
constexpr qint64 HashBlock = qint64(1) << 20;

bool findDirectory(int fd, qint64 fileSize, Directory *dir)
{
    // The end record (22 bytes) follows the directory, with a comment of up to 65535 bytes after it.
    const qint64 tailSize = std::min<qint64>(fileSize, 22 + 65535);
    QByteArray tail;
    if (tailSize < 22 || !readAt(fd, fileSize - tailSize, tailSize, &tail))
        return false;
    qint64 at = -1;
    for (qint64 i = tailSize - 22; i >= 0; --i) {
        const char *p = tail.constData() + i;
        if (le32(p) == EndSignature && i + 22 + le16(p + 20) <= tailSize) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return false;
    const char *end = tail.constData() + at;
    dir->entries = le16(end + 10);
    dir->size = le32(end + 12);
    dir->offset = le32(end + 16);
    if (dir->entries == 0xffff || dir->size == 0xffffffff || dir->offset == 0xffffffff) {
        // Zip64: a locator right before the end record points at the 64-bit end record.
        const qint64 locatorAt = fileSize - tailSize + at - 20;
        QByteArray locator, end64;
        if (locatorAt < 0 || !readAt(fd, locatorAt, 20, &locator) ||
            le32(locator.constData()) != End64LocatorSignature)
            return false;
        const quint64 end64At = le64(locator.constData() + 8);
        if (end64At > quint64(fileSize) || !readAt(fd, qint64(end64At), 56, &end64) ||
            le32(end64.constData()) != End64Signature)
            return false;
        dir->entries = le64(end64.constData() + 32);
        const quint64 size = le64(end64.constData() + 40), offset = le64(end64.constData() + 48);
        if (size > quint64(fileSize) || offset > quint64(fileSize))
            return false;
        dir->size = qint64(size);
        dir->offset = qint64(offset);
    }
    return dir->offset + dir->size <= fileSize;
}

struct Member {
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 packed = 0;
    quint64 size = 0;
    quint64 localOffset = 0;
};

// Replaces the 32-bit fields marked 0xffffffff with the values of the zip64 extra field.
bool applyZip64(const char *extra, int extraLen, Member *m, bool wideSize, bool widePacked, bool wideOffset)
{
    for (int i = 0; i + 4 <= extraLen;) {
        const quint16 id = le16(extra + i), len = le16(extra + i + 2);
        if (i + 4 + len > extraLen)
            return false;
        if (id == 0x0001) {
            const char *p = extra + i + 4;
            int left = len;
            for (auto [wide, field] : {std::pair{wideSize, &m->size}, std::pair{widePacked, &m->packed},
                                       std::pair{wideOffset, &m->localOffset}}) {
                if (!wide)
                    continue;
                if (left < 8)
                    return false;
                *field = le64(p);
                p += 8;
                left -= 8;
            }
            return true;
        }
        i += 4 + len;
    }
    return !(wideSize || widePacked || wideOffset);
}

MemberRead inflateMember(const QByteArray &packed, quint64 size, QByteArray *out)
{
    out->resize(qsizetype(size));
    z_stream z = {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return MemberRead::Damaged;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    z.avail_in = uInt(packed.size());
    // One byte of room more than stated tells a member that inflates to more than its directory says.
    char spare = 0;
    z.next_out = reinterpret_cast<Bytef *>(out->data());
    z.avail_out = uInt(size);
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END && z.avail_out == 0) {
        z.next_out = reinterpret_cast<Bytef *>(&spare);
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
    }
    const quint64 produced = z.total_out;
    inflateEnd(&z);
    return rc == Z_STREAM_END && produced == size ? MemberRead::Ok : MemberRead::Damaged;
}

} // namespace

MemberRead readMember(int fd, const QByteArray &name, qint64 maxBytes, const Limits &limits, QByteArray *out)
{
    out->clear();
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return MemberRead::NotAnArchive;
    const qint64 fileSize = qint64(st.st_size);
    Directory dir;
    if (!findDirectory(fd, fileSize, &dir))
        return MemberRead::NotAnArchive;
    if (dir.entries > quint64(limits.entries))
        return MemberRead::PackageTooLarge;
    if (dir.size > DirectoryBytes)
        return MemberRead::NotAnArchive;
    QByteArray central;
    if (!readAt(fd, dir.offset, dir.size, &central))
        return MemberRead::NotAnArchive;

    // The sizes the directory states: what unpacking the whole package would take.
    quint64 stated = 0;
    int found = 0;
    Member member;
    const char *p = central.constData();
    qint64 left = central.size();
    for (quint64 n = 0; n < dir.entries; ++n) {
        if (left < 46 || le32(p) != CentralSignature)
            return MemberRead::NotAnArchive;
        Member m;
        m.flags = le16(p + 8);
        m.method = le16(p + 10);
        m.crc = le32(p + 16);
        m.packed = le32(p + 20);
        m.size = le32(p + 24);
        const int nameLen = le16(p + 28), extraLen = le16(p + 30), commentLen = le16(p + 32);
        m.localOffset = le32(p + 42);
        const qint64 recordLen = 46 + qint64(nameLen) + extraLen + commentLen;
        if (recordLen > left)
            return MemberRead::NotAnArchive;
        if (!applyZip64(p + 46 + nameLen, extraLen, &m, m.size == 0xffffffff, m.packed == 0xffffffff,
                        m.localOffset == 0xffffffff))
            return MemberRead::NotAnArchive;
        stated += m.size;
        if (stated > quint64(limits.unpackedBytes))
            return MemberRead::PackageTooLarge;
        if (QByteArray::fromRawData(p + 46, nameLen) == name) {
            ++found;
            member = m;
        }
        p += recordLen;
        left -= recordLen;
    }
    if (found == 0)
        return MemberRead::Missing;
    if (found > 1)
        return MemberRead::Ambiguous; // which one a device reads is anybody's guess
    // Bit 0: encrypted; bit 6: strong encryption.
    if ((member.flags & 0x41) != 0 || (member.method != 0 && member.method != Z_DEFLATED))
        return MemberRead::Unsupported;
    if (member.size > quint64(maxBytes))
        return MemberRead::TooLarge;
    // Deflate never needs much more room than the data itself; a larger packed size is no description.
    if (member.packed > quint64(maxBytes) + quint64(maxBytes) / 8 + 1024 ||
        (member.method == 0 && member.packed != member.size))
        return MemberRead::Damaged;

    QByteArray local;
    if (member.localOffset > quint64(fileSize) || !readAt(fd, qint64(member.localOffset), 30, &local) ||
        le32(local.constData()) != LocalSignature)
        return MemberRead::Damaged;
    const qint64 dataAt =
        qint64(member.localOffset) + 30 + le16(local.constData() + 26) + le16(local.constData() + 28);
    QByteArray packed;
    if (!readAt(fd, dataAt, qint64(member.packed), &packed))
        return MemberRead::Damaged;
    if (member.method == 0) {
        *out = packed;
    } else if (const MemberRead r = inflateMember(packed, member.size, out); r != MemberRead::Ok) {
        out->clear();
        return r;
    }
    if (crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(out->constData()), uInt(out->size())) !=
        member.crc) {
        out->clear();
        return MemberRead::Damaged;
    }
    return MemberRead::Ok;
}

namespace
{

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// One version of one file: replaced (another inode) or written to (size, modification time).
bool sameVersion(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

Inspection inspect(const QString &packagePath, const Limits &limits, const std::atomic<bool> *cancel)
{
    Inspection result;
    try {
        // Everything below reads this one descriptor, so the digest and the description belong to
        // the same file even if another one is renamed over the path meanwhile.
        const FdCloser file{::open(QFile::encodeName(packagePath).constData(), O_RDONLY | O_CLOEXEC)};
        struct stat before {
        };
        if (file.fd < 0 || ::fstat(file.fd, &before) != 0 || !S_ISREG(before.st_mode)) {
            result.status = Inspection::UnzipFailed;
            return result;
        }
        QByteArray text;
        switch (
            readMember(file.fd, QByteArrayLiteral("InstallDesc"), limits.installDescBytes, limits, &text)) {
        case MemberRead::Ok:
            break;
        case MemberRead::NotAnArchive:
            result.status = Inspection::UnzipFailed;
            return result;
        case MemberRead::PackageTooLarge:
            result.status = Inspection::TooLarge;
            return result;
        default:
            result.status = Inspection::InstallDescFailed;
            return result;
        }
        result.hardware = hardwareFromInstallDesc(text);

        QCryptographicHash hash(QCryptographicHash::Sha256);
        std::unique_ptr<char[]> block(new char[HashBlock]);
        for (qint64 at = 0;;) {
            if (cancel && cancel->load()) {
                result = Inspection();
                result.status = Inspection::Cancelled;
                return result;
            }
            const ssize_t k = ::pread(file.fd, block.get(), HashBlock, off_t(at));
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0) {
                result = Inspection();
                result.status = Inspection::UnzipFailed;
                return result;
            }
            if (k == 0)
                break;
            hash.addData(QByteArrayView(block.get(), k));
            at += k;
        }
        struct stat after {
        };
        if (::fstat(file.fd, &after) != 0 || !sameVersion(before, after)) {
            result = Inspection();
            result.status = Inspection::Changed;
            return result;
        }
        result.sha256 = hash.result();
    } catch (const std::bad_alloc &) {
        result = Inspection();
        result.status = Inspection::NoMemory;
    }
    return result;
}

} // namespace UpgradePackage
