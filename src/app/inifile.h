#pragma once

#include <QString>

/// Result of a fallible INI write.
struct IniResult {
    bool ok = true;
    QString error; ///< Operator-readable reason when !ok.
    explicit operator bool() const { return ok; }
};

/// A Windows-style INI file, reached two ways that always agree:
///  - settings-style paths "Section/Key" (a path without '/' lives in section "General");
///  - profile-style (section, key) reads and writes.
/// Values are kept whole both ways: nothing is cut to a buffer size (a picture path or a link cut
/// short would be written back damaged).
/// Every read opens the file again, so edits made while the program runs are seen. Section and key
/// names compare case-insensitively, as hand-edited Windows files expect. Reads accept a UTF-8 BOM,
/// CRLF or LF line ends, blanks around '=', and ';' or '#' comment lines. Writes change only the line
/// of the key (or add it), keep every other line byte for byte and replace the file atomically.
class IniFile
{
public:
    explicit IniFile(QString path);
    const QString &path() const { return m_path; }

    // Settings-style access.
    bool contains(const QString &sectionKey) const;
    QString value(const QString &sectionKey, const QString &defaultValue = QString()) const;
    int intValue(const QString &sectionKey, int defaultValue = 0) const;
    IniResult setValue(const QString &sectionKey, const QString &value);
    IniResult setValue(const QString &sectionKey, int value);

    // Profile-style access.
    int profileInt(const QString &section, const QString &key, int defaultValue) const;
    QString profileString(const QString &section, const QString &key,
                          const QString &defaultValue = QString()) const;
    IniResult writeProfileString(const QString &section, const QString &key, const QString &value);
    IniResult writeProfileInt(const QString &section, const QString &key, int value);

    /// Raw lookup: true and the value (unquoted, untrimmed of nothing else) when the key exists.
    bool lookup(const QString &section, const QString &key, QString *value) const;

    /// Leading decimal integer of a value ("12", " -3", "7 ;x"); false when it holds none.
    static bool parseInt(const QString &text, int *value);

private:
    static void splitPath(const QString &sectionKey, QString *section, QString *key);
    IniResult write(const QString &section, const QString &key, const QString &value);

    QString m_path;
};
