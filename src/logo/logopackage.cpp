#include "logo/logopackage.h"

#include "logo/cramfswriter.h"
#include "logo/imagewrapper.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstring>
#include <functional>

#include <zip.h>

namespace
{

const char *const kFlashIds[] = {"0x00EF4017", "0x00EF4018", "0x00C22017", "0x00C22018",
                                 "0x00C22019", "0x00C84017", "0x00C84018", "0x001C7017",
                                 "0x001C7018", "0x00207017", "0x00207018", "SkipCheck"};

const char *const kFixedHardware[] = {"HI3511-BB1.0", "HI3511-EB2.0", "HI3511-BS1.0", "HI3511"};

constexpr qint64 kZipReadBuffer = 8 * 1024 * 1024;

QByteArray fixedText(const uint8_t *p, size_t n)
{
    return QByteArray(reinterpret_cast<const char *>(p), int(strnlen(reinterpret_cast<const char *>(p), n)));
}

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Names from a device are quoted into InstallDesc; escaping keeps the description valid JSON.
QByteArray jsonEscaped(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += ch;
        }
    }
    return out;
}

// Device texts end up in a file name: nothing in them may leave the package directory.
QString fileNamePart(const QByteArray &text)
{
    QString s = QString::fromLocal8Bit(text);
    for (QChar &c : s) {
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    return s;
}

} // namespace

LogoPartInfo LogoPartInfo::fromRecord(const SDK_LOGO_PART_INFO &record)
{
    LogoPartInfo info;
    info.hardware = fixedText(record.raw + 64, 64);
    info.vendor = fixedText(record.raw + 128, 64);
    info.start = le32(record.raw + 192);
    info.end = le32(record.raw + 196);
    info.fsType = fixedText(record.raw + 200, 64);
    return info;
}

LogoDeviceIdentity LogoDeviceIdentity::fromDevice(const DEV_INFO *pData)
{
    LogoDeviceIdentity id;
    if (!pData)
        return id;
    const H264_DVR_DEVICEINFO &info = pData->NetDevInfo;
    id.softwareVersion =
        fixedText(reinterpret_cast<const uint8_t *>(info.sSoftWareVersion), sizeof info.sSoftWareVersion);
    id.buildYear = info.BuildYear;
    id.buildMonth = info.BuildMonth;
    id.buildDay = info.BuildDay;
    id.valid = true;
    return id;
}

LogoPackageBuilder::LogoPackageBuilder(const QString &appDir) : m_appDir(appDir) {}

void LogoPackageBuilder::setSquashfsWaits(int firstMs, int graceMs)
{
    m_squashFirstMs = firstMs;
    m_squashGraceMs = graceMs;
}

bool LogoPackageBuilder::clearDirectory(const QString &dir)
{
    QDir d(dir);
    if (!d.exists())
        return false;
    bool ok = true;
    const QFileInfoList entries =
        d.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &e : entries) {
        // A link is removed, never followed: emptying must not reach outside the directory.
        if (e.isDir() && !e.isSymLink())
            ok = QDir(e.filePath()).removeRecursively() && ok;
        else
            ok = QFile::remove(e.filePath()) && ok;
    }
    return ok;
}

bool LogoPackageBuilder::copyPicture(const QString &source, const QString &dest)
{
    QFile::remove(dest);
    if (!QFile::copy(source, dest)) {
        m_error = tr("Cannot copy %1 to %2").arg(source, dest);
        return false;
    }
    return true;
}

bool LogoPackageBuilder::dealWithLogo(const LogoStageInput &input)
{
    m_error.clear();
    // A link the device cannot hold whole is refused before anything is staged.
    if (input.appLinkWanted && input.appLinkSupported) {
        m_error = appLinkProblem(input.links);
        if (!m_error.isEmpty())
            return false;
    }
    QDir app(m_appDir);
    for (const char *sub : {"Logo", "Image", "LogoTmp", "LogoBinTmp", "LogoBin"}) {
        const QString name = QString::fromLatin1(sub);
        if (!app.exists(name) && !app.mkdir(name)) {
            m_error = tr("Cannot create the directory %1").arg(path(QLatin1Char('/') + name));
            return false;
        }
    }
    for (const char *sub : {"/Image", "/LogoTmp", "/LogoBin", "/LogoBinTmp"}) {
        if (!clearDirectory(path(QString::fromLatin1(sub)))) {
            m_error = tr("Cannot empty the directory %1").arg(path(QString::fromLatin1(sub)));
            return false;
        }
    }

    const QString logo = path(QStringLiteral("/Logo"));
    if (!copyPicture(input.pictures.boot, logo + QStringLiteral("/h264dvr.jpg")))
        return false;

    struct Optional {
        const QString &source;
        const char *dir;
        const char *file;
        bool emptied;
    };
    const Optional optional[] = {
        {input.pictures.loss, "VideoLoss", "videoLoss.gif", false},
        {input.pictures.close, "Colse", "close.jpg", true},
        {input.pictures.blind, "VideoBlank", "blind.gif", true},
    };
    for (const Optional &o : optional) {
        const QString dir = logo + QLatin1Char('/') + QString::fromLatin1(o.dir);
        const QString dest = dir + QLatin1Char('/') + QString::fromLatin1(o.file);
        if (o.source.isEmpty()) {
            QFile::remove(dest);
            continue;
        }
        if (!QDir(logo).exists(QString::fromLatin1(o.dir)) && !QDir(logo).mkdir(QString::fromLatin1(o.dir))) {
            m_error = tr("Cannot create the directory %1").arg(dir);
            return false;
        }
        if (o.emptied && !clearDirectory(dir)) {
            m_error = tr("Cannot empty the directory %1").arg(dir);
            return false;
        }
        if (!copyPicture(o.source, dest))
            return false;
    }

    // The app-link file sits in the root of the staged tree.
    const QString link = logo + QStringLiteral("/AppDowloadLink.custom");
    QFile::remove(link);
    if (input.appLinkWanted && input.appLinkSupported && makeAppLinkFile(link, input.links) != 1) {
        m_error = tr("Cannot write %1").arg(link);
        return false;
    }
    return true;
}

QByteArray LogoPackageBuilder::installDescText(int iDevType, const LogoPartInfo &part)
{
    QByteArray t;
    t += "{\n";
    t += "\t\"UpgradeCommand\" : [\n";
    t += "\t{\n";
    t += "\t\t\"Command\" : \"Burn\",\n";
    t += "\t\t\"FileName\" : \"logo-x.cramfs.img\"\n";
    t += "\t}\n";
    t += "\t],\n";

    QByteArray flash;
    flash += "\t\"SupportFlashType\": [\n";
    flash += "\t  {\n";
    const int count = int(sizeof kFlashIds / sizeof kFlashIds[0]);
    for (int i = 0; i < count; ++i) {
        flash += "\t\t\"FlashID\": \"";
        flash += kFlashIds[i];
        flash += "\"\n";
        if (i + 1 < count) {
            flash += "\t  },\n";
            flash += "\t  \t\t\t\t\t{\n";
        }
    }
    flash += "\t  }\n";
    flash += "\t],\n";

    if (iDevType == -1) {
        t += "\t\"Hardware\" : \"" + jsonEscaped(part.hardware) + "\",\n";
        t += flash;
        t += "\t\"Vendor\" : \"" + jsonEscaped(part.vendor) + "\",\n";
        t += "\t\"HardWareVersion\" : -1,\n";
        t += "\t\"CompatibleVersion\" : -1\n";
    } else {
        const QByteArray hw =
            (iDevType >= 0 && iDevType <= 3) ? QByteArray(kFixedHardware[iDevType]) : QByteArray();
        t += "\t\"Hardware\" : \"" + hw + "\",\n";
        t += flash;
        t += "\t\"HardWareVersion\" : -1,\n";
        t += "\t\"Vendor\" : \"General\"\n";
    }
    t += "}\n";
    return t;
}

bool LogoPackageBuilder::MakeInstallFile(const QString &strFileName, int iDevType) const
{
    QFile file(strFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = installDescText(iDevType, m_part);
    return file.write(text) == text.size() && file.flush();
}

void LogoPackageBuilder::partitionAddresses(int nDevType, const LogoPartInfo &part, uint32_t &start,
                                            uint32_t &end)
{
    if (nDevType == -1) {
        if (part.start != 0 && part.end != 0) {
            start = part.start;
            end = part.end;
        } else if (part.hardware == "HI3511-BB1.0" || part.hardware == "HI3511-AB1.0" ||
                   part.hardware == "HI3511-IPC") {
            start = 0x34770000;
            end = 0x34780000;
        } else {
            start = 0x349E0000;
            end = 0x34A00000;
        }
    } else if (nDevType == 0) {
        start = 0x34770000;
        end = 0x34780000;
    } else {
        start = part.start;
        end = part.end;
    }
}

QString LogoPackageBuilder::packageName(int nDevType, const LogoDeviceIdentity &device) const
{
    const QByteArray hw = nDevType == -1                     ? m_part.hardware
                          : (nDevType >= 0 && nDevType <= 3) ? QByteArray(kFixedHardware[nDevType])
                                                             : QByteArray();
    if (m_modify)
        return QStringLiteral("%1/LogoBinTmp/%2_Logo.bin").arg(m_appDir, fileNamePart(hw));
    QString version, date;
    if (device.valid) {
        version = fileNamePart(device.softwareVersion);
        date = QString::asprintf("%04d-%02d-%02d", device.buildYear, device.buildMonth, device.buildDay);
    }
    return QStringLiteral("%1/%2_%3_%4_Logo.bin")
        .arg(m_appDir + QStringLiteral("/LogoBin"), fileNamePart(hw), version, date);
}

bool LogoPackageBuilder::makeSquashfsImage(const QString &sourceDir, const QString &outputFile)
{
    const QString local = m_appDir + QStringLiteral("/mksquashfs");
    const QFileInfo localInfo(local);
    const QString program =
        localInfo.isFile() && localInfo.isExecutable() ? local : QStringLiteral("mksquashfs");

    QProcess proc;
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.start(program, {sourceDir, outputFile, QStringLiteral("-noappend"), QStringLiteral("-b"),
                         QStringLiteral("4k")});
    if (!proc.waitForStarted(m_squashFirstMs)) {
        m_error = tr("Cannot start %1").arg(program);
        return false;
    }
    proc.waitForFinished(m_squashFirstMs);
    const QByteArray err = proc.readAllStandardError();
    if (!err.isEmpty())
        qDebug().noquote() << "mksquashfs:" << QString::fromLocal8Bit(err);
    proc.waitForFinished(m_squashGraceMs);
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(-1);
    }

    // The tool writes its superblock last, so the magic also tells that it finished.
    QFile out(outputFile);
    if (!out.open(QIODevice::ReadOnly) || out.read(4) != "hsqs") {
        m_error = tr("The squashfs tool made no image");
        return false;
    }
    return true;
}

int LogoPackageBuilder::zipDirectory(const QString &sourceDir, const QString &zipFileName, QString *errorText)
{
    auto fail = [errorText](int code, const QString &text) {
        if (errorText)
            *errorText = text;
        return code;
    };
    zipFile zf = zipOpen64(QFile::encodeName(zipFileName).constData(), APPEND_STATUS_CREATE);
    if (!zf)
        return fail(-1, tr("Cannot create %1").arg(zipFileName));

    int rc = 0;
    // Depth-first, in name order, so the same tree always gives the same archive.
    std::function<void(const QString &, const QString &)> walk = [&](const QString &dir,
                                                                     const QString &prefix) {
        const QFileInfoList entries = QDir(dir).entryInfoList(
            QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QFileInfo &e : entries) {
            if (rc != 0)
                return;
            const QString member = prefix + e.fileName();
            if (e.isDir()) {
                walk(e.filePath(), member + QLatin1Char('/'));
                continue;
            }
            if (e.size() > kZipReadBuffer) {
                rc = fail(-2, tr("%1 is too large for the package").arg(e.filePath()));
                return;
            }
            QFile f(e.filePath());
            if (!f.open(QIODevice::ReadOnly)) {
                rc = fail(-3, tr("Cannot read %1").arg(e.filePath()));
                return;
            }
            const QByteArray data = f.readAll();
            zip_fileinfo zi;
            std::memset(&zi, 0, sizeof zi);
            const QByteArray name = QFile::encodeName(member);
            if (zipOpenNewFileInZip64(zf, name.constData(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                      Z_DEFAULT_COMPRESSION, 0) != ZIP_OK ||
                (data.size() > 0 &&
                 zipWriteInFileInZip(zf, data.constData(), unsigned(data.size())) != ZIP_OK) ||
                zipCloseFileInZip(zf) != ZIP_OK) {
                rc = fail(-4, tr("Cannot write %1").arg(zipFileName));
                return;
            }
        }
    };
    walk(sourceDir, QString());
    if (zipClose(zf, nullptr) != ZIP_OK && rc == 0)
        rc = fail(-4, tr("Cannot write %1").arg(zipFileName));
    return rc;
}

int LogoPackageBuilder::makeUpgradeBin(QString &strSrcFile, int nDevType, QString &strDstName,
                                       bool bSupportAppLink, const DEV_INFO *pData)
{
    Q_UNUSED(strSrcFile);
    return makeUpgradeBin(nDevType, strDstName, bSupportAppLink, LogoDeviceIdentity::fromDevice(pData));
}

int LogoPackageBuilder::makeUpgradeBin(int nDevType, QString &strDstName, bool bSupportAppLink,
                                       const LogoDeviceIdentity &device)
{
    m_error.clear();
    const QString logoDir = path(QStringLiteral("/Logo"));
    if (!bSupportAppLink)
        QFile::remove(logoDir + QStringLiteral("/AppDowloadLink.custom"));

    const QString installDesc = path(QStringLiteral("/Image/InstallDesc"));
    QFile::remove(installDesc);
    if (!MakeInstallFile(installDesc, nDevType)) {
        m_error = tr("Cannot write %1").arg(installDesc);
        return LogoPackageWriteFailed;
    }

    const QString raw = path(QStringLiteral("/LogoTmp/logo-x.cramfs"));
    if (m_part.isSquashfs()) {
        if (!makeSquashfsImage(logoDir, raw))
            return LogoSquashfsFailed;
    } else if (int rc = makeCramfsImage(logoDir, raw, &m_error)) {
        return rc;
    }

    uint32_t start = 0, end = 0;
    partitionAddresses(nDevType, m_part, start, end);
    const QString image = path(QStringLiteral("/Image/logo-x.cramfs.img"));
    if (int rc = wrapImageFile(raw, image, start, end, &m_error); rc < 0)
        return rc;

    QFile wrapped(image);
    if (!wrapped.open(QIODevice::ReadOnly) || wrapped.size() >= qint64(end) - qint64(start)) {
        m_error =
            tr("The logo image does not fit the logo partition (%1 bytes)").arg(qint64(end) - qint64(start));
        return LogoPartitionTooSmall;
    }
    wrapped.close();

    const QString package = packageName(nDevType, device);
    QFile::remove(package);
    if (zipDirectory(path(QStringLiteral("/Image")), package, &m_error) != 0) {
        QFile::remove(package); // a partial archive must not be burnt
        return LogoPackageWriteFailed;
    }
    strDstName = package;
    clearDirectory(path(QStringLiteral("/Image")));
    clearDirectory(path(QStringLiteral("/LogoTmp")));
    return LogoPackageOk;
}
