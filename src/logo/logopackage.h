#pragma once

#include "logo/applinkfile.h"
#include "logo/logocheck.h"

#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdint>

/** The fields of the device's logo-partition record (configuration command 61) that packaging uses. */
struct LogoPartInfo {
    QByteArray hardware; ///< e.g. "HI3511-BB1.0"
    QByteArray vendor;
    uint32_t start = 0; ///< logo partition start address
    uint32_t end = 0;   ///< logo partition end address
    QByteArray fsType;  ///< "squashfs" selects squashfs, anything else cramfs

    static LogoPartInfo fromRecord(const SDK_LOGO_PART_INFO &record);
    bool isSquashfs() const { return fsType == "squashfs"; }
};

/** Result codes of makeUpgradeBin (the image writer's and wrapper's codes pass through). */
enum LogoPackageResult {
    LogoPackageOk = 0,
    LogoSquashfsFailed = -30,
    LogoPartitionTooSmall = -60,
    LogoPackageWriteFailed = -70, ///< the package archive could not be written
};

/** Everything staging needs, copied from the tab when a run starts. */
struct LogoStageInput {
    LogoPaths pictures;
    bool appLinkWanted = false;    ///< a link field is filled in
    bool appLinkSupported = false; ///< the device's build date allows links
    AppLinkInput links;
};

/** The device identity that names a make-only package; absent fields leave the name parts empty. */
struct LogoDeviceIdentity {
    QByteArray softwareVersion;
    int buildYear = 0;
    int buildMonth = 0;
    int buildDay = 0;
    bool valid = false;

    static LogoDeviceIdentity fromDevice(const DEV_INFO *pData);
};

/** Builds logo packages below an application directory: stages the pictures and the app-link file
 *  in "/Logo", makes the file-system image, wraps it for the logo partition, writes InstallDesc and
 *  zips both into a "…_Logo.bin" package. Not thread-safe; one run at a time. */
class LogoPackageBuilder
{
    Q_DECLARE_TR_FUNCTIONS(LogoPackageBuilder)
public:
    explicit LogoPackageBuilder(const QString &appDir);

    QString appDir() const { return m_appDir; }
    /** The application directory followed by `suffix`, e.g. "/Image". */
    QString path(const QString &suffix) const { return m_appDir + suffix; }

    void setPartitionInfo(const LogoPartInfo &info) { m_part = info; }
    const LogoPartInfo &partitionInfo() const { return m_part; }
    /** Modify (burn) packages go to "/LogoBinTmp"; make-only packages to "/LogoBin", named after the
     *  device. */
    void setModifyMode(bool modify) { m_modify = modify; }
    bool modifyMode() const { return m_modify; }
    /** Squashfs tool waits: at most `firstMs` for it to finish, then `graceMs` more. */
    void setSquashfsWaits(int firstMs, int graceMs);

    /** Creates and empties the working directories and stages the logo tree. False when a working
     *  directory or a chosen picture could not be prepared; lastError() says which. */
    bool dealWithLogo(const LogoStageInput &input);

    /** Builds the package from the staged tree. 0 and `strDstName` = package path on success, else
     *  a result code (LogoPackageResult, CramfsResult, WrapResult). `strSrcFile` is not used. */
    int makeUpgradeBin(QString &strSrcFile, int nDevType, QString &strDstName, bool bSupportAppLink,
                       const DEV_INFO *pData);
    int makeUpgradeBin(int nDevType, QString &strDstName, bool bSupportAppLink,
                       const LogoDeviceIdentity &device);

    /** Writes the InstallDesc text for `iDevType` (-1: the partition record's hardware and vendor). */
    bool MakeInstallFile(const QString &strFileName, int iDevType) const;
    static QByteArray installDescText(int iDevType, const LogoPartInfo &part);

    /** Runs the squashfs tool (the application directory's copy if present, else PATH) and checks
     *  the output's magic. */
    bool makeSquashfsImage(const QString &sourceDir, const QString &outputFile);

    /** Logo partition start and end for the image header. */
    static void partitionAddresses(int nDevType, const LogoPartInfo &part, uint32_t &start, uint32_t &end);
    QString packageName(int nDevType, const LogoDeviceIdentity &device) const;

    QString lastError() const { return m_error; }

    /** Zips the files below `sourceDir` (deflate, zeroed dates and attributes): 0, or a negative
     *  code with `errorText`. */
    static int zipDirectory(const QString &sourceDir, const QString &zipFile, QString *errorText = nullptr);
    /** Removes every file and subdirectory of `dir`, keeping `dir` itself. */
    static bool clearDirectory(const QString &dir);

private:
    bool copyPicture(const QString &source, const QString &dest);

    QString m_appDir;
    LogoPartInfo m_part;
    bool m_modify = true;
    int m_squashFirstMs = 500;
    int m_squashGraceMs = 200;
    QString m_error;
};
