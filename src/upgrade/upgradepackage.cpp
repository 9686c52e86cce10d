#include "upgradepackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <json/json.h>
#include <zzip/zzip.h>

#include <cstdio>
#include <memory>
#include <new>

namespace UpgradePackage
{

QString scratchDirectory()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Temp");
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

Inspection inspect(const QString &packagePath, const QString &scratchDir, const Limits &limits)
{
    Inspection result;
    auto removeScratch = [&scratchDir] {
        clearDirectory(scratchDir);
        QDir().rmdir(scratchDir);
    };
    try {
        QDir().mkpath(scratchDir);
        const int unzipped = unzipToDirectory(packagePath, scratchDir, nullptr, limits);
        if (unzipped == -2) {
            // Nothing of it is needed, and it may be large.
            removeScratch();
            result.status = Inspection::TooLarge;
            return result;
        }
        if (unzipped != 0) {
            result.status = Inspection::UnzipFailed;
            return result;
        }
        QFile desc(scratchDir + QStringLiteral("/InstallDesc"));
        if (!desc.open(QIODevice::ReadOnly) || desc.size() > limits.installDescBytes) {
            result.status = Inspection::InstallDescFailed;
            return result;
        }
        const QByteArray text = desc.read(limits.installDescBytes + 1);
        desc.close();
        if (text.size() > limits.installDescBytes) {
            result.status = Inspection::InstallDescFailed;
            return result;
        }
        result.hardware = hardwareFromInstallDesc(text);
    } catch (const std::bad_alloc &) {
        removeScratch();
        result = Inspection();
        result.status = Inspection::NoMemory;
        return result;
    }
    removeScratch();
    return result;
}

} // namespace UpgradePackage
