#pragma once

#include <QList>
#include <QPair>
#include <QString>

/// Where Tallow keeps its files. Two layouts:
/// - a build tree (or any copy run from a writable directory that holds its own data): everything sits
///   beside the executable, as it always has;
/// - an installed copy (its data in <prefix>/share/tallow beside <prefix>/bin, or a directory the user
///   cannot write): shipped data is read from the data directory, Config.ini lives in the user's XDG
///   config directory and what Tallow writes (run logs, factory records, logo packages, scratch files,
///   the crash report) in the user's XDG data and cache directories, so a new package never touches it.
/// Every part of the application asks here instead of looking beside the executable itself.
class AppPaths
{
public:
    enum class Layout { BesideExecutable, Installed };

    /// The inputs of the decision, so that it can be checked without installing anything.
    struct Inputs {
        QString executableDir;
        bool executableDirWritable = true;
        QString configHome; ///< $XDG_CONFIG_HOME or ~/.config
        QString dataHome;   ///< $XDG_DATA_HOME or ~/.local/share
        QString cacheHome;  ///< $XDG_CACHE_HOME or ~/.cache
    };

    /// The layout for a process whose executable lives in inputs.executableDir.
    static AppPaths resolve(const Inputs &inputs);
    /// The inputs of this process: the executable's directory and the XDG directories of the user.
    static Inputs processInputs();

    /// The paths of this process, resolved once (thread-safe).
    static const AppPaths &current();
    /// Replaces what current() returns (tests); nullptr restores the process's own.
    static void setCurrent(const AppPaths *paths);

    Layout layout() const { return m_layout; }
    bool installed() const { return m_layout == Layout::Installed; }

    /// The directory of the executable (a copy of mksquashfs beside it is preferred).
    QString executableDir() const { return m_exeDir; }
    /// Read-only data shipped with Tallow: language/, skin/, Skin/buttons/, the sample Config.ini.
    QString shippedDataDir() const { return m_shippedDir; }
    /// Config.ini in use.
    QString configFile() const { return m_config; }
    /// The defaults Config.ini is seeded from on an installed copy's first start.
    QString configDefaults() const { return m_shippedDir + QStringLiteral("/Config.ini"); }
    /// Root of what Tallow keeps: RunLog/, oemidupload/, the logo packages (LogoBin/ and its work
    /// directories), OemidUpdateErrorlog.txt.
    QString userDataDir() const { return m_dataDir; }
    /// RunLog/.
    QString runLogDir() const { return m_dataDir + QStringLiteral("/RunLog"); }
    /// Scratch files that may go at any time (Temp/).
    QString tempDir() const { return m_cacheDir + QStringLiteral("/Temp"); }
    /// The crash report.
    QString crashReport() const { return m_dataDir + QStringLiteral("/CrashDumpFile.dmp"); }

    /// Makes the directories Tallow writes in, and on an installed copy's first start copies the
    /// shipped defaults to configFile(). A Config.ini already there is never touched. Returns an
    /// empty string, or what could not be done.
    QString prepare() const;

    /// What the About box and --version print: one (label, path) pair per place, labels translated.
    QList<QPair<QString, QString>> listing() const;
    /// "Tallow <version>", then one "label: path" line per place of listing().
    QString describe() const;

    /// The version of this build ("1.0").
    static QString version();

private:
    Layout m_layout = Layout::BesideExecutable;
    QString m_exeDir;
    QString m_shippedDir;
    QString m_config;
    QString m_dataDir;
    QString m_cacheDir;
};
