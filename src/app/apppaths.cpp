#include "app/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <unistd.h>

namespace
{

// The subdirectory of each XDG directory that is ours.
const QLatin1String ourName("tallow");

QString executableDirOfProcess()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // main() resolves the paths for the crash handler before the application object exists.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

QMutex &currentMutex()
{
    static QMutex m;
    return m;
}

const AppPaths *&overridden()
{
    static const AppPaths *p = nullptr;
    return p;
}

} // namespace

AppPaths AppPaths::resolve(const Inputs &in)
{
    AppPaths p;
    p.m_exeDir = in.executableDir;
    // An install tree keeps the data in <prefix>/share/tallow next to <prefix>/bin; a build tree lays it
    // out beside the executable. Either way, a directory the user cannot write is no place for settings.
    const QFileInfo installData(QDir(in.executableDir).filePath(QLatin1String(TALLOW_INSTALL_DATA_REL)));
    const bool inInstallTree = installData.isDir();
    if (!inInstallTree && in.executableDirWritable) {
        p.m_layout = Layout::BesideExecutable;
        p.m_shippedDir = p.m_dataDir = p.m_cacheDir = in.executableDir;
        p.m_config = in.executableDir + QStringLiteral("/Config.ini");
        return p;
    }
    p.m_layout = Layout::Installed;
    p.m_shippedDir = inInstallTree ? installData.canonicalFilePath() : in.executableDir;
    p.m_config = in.configHome + QLatin1Char('/') + ourName + QStringLiteral("/Config.ini");
    p.m_dataDir = in.dataHome + QLatin1Char('/') + ourName;
    p.m_cacheDir = in.cacheHome + QLatin1Char('/') + ourName;
    return p;
}

AppPaths::Inputs AppPaths::processInputs()
{
    Inputs in;
    in.executableDir = executableDirOfProcess();
    in.executableDirWritable = ::access(QFile::encodeName(in.executableDir).constData(), W_OK) == 0;
    in.configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    in.dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    in.cacheHome = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return in;
}

const AppPaths &AppPaths::current()
{
    QMutexLocker lock(&currentMutex());
    if (overridden())
        return *overridden();
    static const AppPaths own = resolve(processInputs());
    return own;
}

void AppPaths::setCurrent(const AppPaths *paths)
{
    QMutexLocker lock(&currentMutex());
    overridden() = paths;
}

QString AppPaths::prepare() const
{
    if (m_layout == Layout::BesideExecutable)
        return QString(); // the build lays out the directory and its sample Config.ini
    QStringList problems;
    const QString configDir = QFileInfo(m_config).absolutePath();
    for (const QString &dir : {configDir, m_dataDir, m_cacheDir})
        if (!QDir().mkpath(dir))
            problems << QCoreApplication::translate("AppPaths", "cannot create %1").arg(dir);
    if (!QFileInfo::exists(m_config) && QFileInfo::exists(configDefaults())) {
        // Copied through a temporary name, so that a start cut short never leaves half a file that a
        // later start would take for the user's own.
        const QString partial = m_config + QStringLiteral(".new");
        QFile::remove(partial);
        if (!QFile::copy(configDefaults(), partial) ||
            !QFile::setPermissions(partial, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                QFile::ReadOther) ||
            !QFile::rename(partial, m_config)) {
            QFile::remove(partial);
            problems << QCoreApplication::translate("AppPaths", "cannot copy %1 to %2")
                            .arg(configDefaults(), m_config);
        }
    }
    return problems.join(QStringLiteral("; "));
}

QString AppPaths::version()
{
    return QStringLiteral(TALLOW_VERSION);
}

QString AppPaths::describe() const
{
    QStringList lines{QStringLiteral("Tallow ") + version()};
    for (const auto &[label, path] : listing())
        lines << label + QStringLiteral(": ") + path;
    return lines.join(QLatin1Char('\n'));
}

QList<QPair<QString, QString>> AppPaths::listing() const
{
    auto tr = [](const char *text) { return QCoreApplication::translate("AppPaths", text); };
    return {
        {tr("Program"), m_exeDir},
        {tr("Shipped data"), m_shippedDir},
        {tr("Settings (Config.ini)"), m_config},
        {tr("Run logs"), runLogDir()},
        {tr("Factory records"), m_dataDir + QStringLiteral("/oemidupload")},
        {tr("Logo packages"), m_dataDir + QStringLiteral("/LogoBin")},
        {tr("Scratch files"), tempDir()},
        {tr("Crash report"), crashReport()},
    };
}
