#include "app/inifile.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace
{

// Serialises read-modify-write cycles of this process; the file is replaced atomically, so readers
// never see half a file.
QMutex &writeMutex()
{
    static QMutex m;
    return m;
}

const QByteArray utf8Bom("\xEF\xBB\xBF");

struct Line {
    QByteArray raw; // without the line end
    QByteArray end; // "\r\n", "\n" or empty for the last line
};

QList<Line> splitLines(const QByteArray &data)
{
    QList<Line> lines;
    int pos = 0;
    while (pos < data.size()) {
        int nl = data.indexOf('\n', pos);
        Line l;
        if (nl < 0) {
            l.raw = data.mid(pos);
            pos = data.size();
        } else {
            l.raw = data.mid(pos, nl - pos);
            l.end = "\n";
            if (l.raw.endsWith('\r')) {
                l.raw.chop(1);
                l.end = "\r\n";
            }
            pos = nl + 1;
        }
        lines.append(l);
    }
    return lines;
}

bool isComment(const QString &t)
{
    return t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Section name of a "[name]" line, or a null string when the line is no section header.
QString sectionOf(const QString &trimmed)
{
    if (!trimmed.startsWith(QLatin1Char('[')))
        return QString();
    int close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        return QString();
    QString name = trimmed.mid(1, close - 1).trimmed();
    return name.isNull() ? QStringLiteral("") : name;
}

bool splitKeyLine(const QString &trimmed, QString *key, QString *value)
{
    int eq = trimmed.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = trimmed.left(eq).trimmed();
    QString v = trimmed.mid(eq + 1).trimmed();
    if (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"')))
        v = v.mid(1, v.size() - 2);
    *value = v;
    return !key->isEmpty();
}

QByteArray readAll(const QString &path, bool *exists)
{
    QFile f(path);
    *exists = f.open(QIODevice::ReadOnly);
    if (!*exists)
        return QByteArray();
    return f.readAll();
}

QByteArray encodeValue(const QString &value)
{
    QString v = value;
    // Blanks at either end or surrounding quotes would be lost on the next read: keep them quoted.
    if (!v.isEmpty() && (v.front().isSpace() || v.back().isSpace() ||
                         (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"')))))
        v = QLatin1Char('"') + v + QLatin1Char('"');
    return v.toUtf8();
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

void IniFile::splitPath(const QString &sectionKey, QString *section, QString *key)
{
    int slash = sectionKey.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        *section = QStringLiteral("General");
        *key = sectionKey;
    } else {
        *section = sectionKey.left(slash);
        *key = sectionKey.mid(slash + 1);
    }
}

bool IniFile::lookup(const QString &section, const QString &key, QString *value) const
{
    bool exists = false;
    QByteArray data = readAll(m_path, &exists);
    if (!exists)
        return false;
    if (data.startsWith(utf8Bom))
        data.remove(0, utf8Bom.size());
    bool inSection = false;
    for (const Line &l : splitLines(data)) {
        const QString t = QString::fromUtf8(l.raw).trimmed();
        if (t.isEmpty() || isComment(t))
            continue;
        const QString sec = sectionOf(t);
        if (!sec.isNull()) {
            inSection = sec.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString k, v;
        if (inSection && splitKeyLine(t, &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            if (value)
                *value = v;
            return true;
        }
    }
    return false;
}

bool IniFile::parseInt(const QString &text, int *value)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    qint64 n = 0;
    int digits = 0;
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i, ++digits) {
        n = n * 10 + (t[i].unicode() - '0');
        if (n > qint64(1) << 32)
            n = qint64(1) << 32; // saturate; clamped below
    }
    if (digits == 0)
        return false;
    if (negative)
        n = -n;
    *value = int(std::clamp<qint64>(n, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    return true;
}

bool IniFile::contains(const QString &sectionKey) const
{
    QString s, k;
    splitPath(sectionKey, &s, &k);
    return lookup(s, k, nullptr);
}

QString IniFile::value(const QString &sectionKey, const QString &defaultValue) const
{
    QString s, k, v;
    splitPath(sectionKey, &s, &k);
    return lookup(s, k, &v) ? v : defaultValue;
}

int IniFile::intValue(const QString &sectionKey, int defaultValue) const
{
    QString s, k;
    splitPath(sectionKey, &s, &k);
    return profileInt(s, k, defaultValue);
}

IniResult IniFile::setValue(const QString &sectionKey, const QString &value)
{
    QString s, k;
    splitPath(sectionKey, &s, &k);
    return write(s, k, value);
}

IniResult IniFile::setValue(const QString &sectionKey, int value)
{
    return setValue(sectionKey, QString::number(value));
}

int IniFile::profileInt(const QString &section, const QString &key, int defaultValue) const
{
    QString v;
    int n = 0;
    if (lookup(section, key, &v) && parseInt(v, &n))
        return n;
    return defaultValue;
}

QString IniFile::profileString(const QString &section, const QString &key, const QString &defaultValue) const
{
    QString v;
    return lookup(section, key, &v) ? v : defaultValue;
}

IniResult IniFile::writeProfileString(const QString &section, const QString &key, const QString &value)
{
    return write(section, key, value);
}

IniResult IniFile::writeProfileInt(const QString &section, const QString &key, int value)
{
    return write(section, key, QString::number(value));
}

IniResult IniFile::write(const QString &section, const QString &key, const QString &value)
{
    if (section.isEmpty() || key.isEmpty() || key.contains(QLatin1Char('=')) ||
        section.contains(QLatin1Char(']')) || value.contains(QLatin1Char('\n')) ||
        value.contains(QLatin1Char('\r')))
        return {false, QStringLiteral("invalid INI section, key or value")};

    QMutexLocker lock(&writeMutex());
    bool exists = false;
    QByteArray data = readAll(m_path, &exists);
    if (!exists && QFile::exists(m_path))
        return {false, QStringLiteral("cannot read %1").arg(m_path)};
    const bool bom = data.startsWith(utf8Bom);
    if (bom)
        data.remove(0, utf8Bom.size());
    QList<Line> lines = splitLines(data);
    const QByteArray eol = data.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray keyLine = key.toUtf8() + '=' + encodeValue(value);

    int sectionStart = -1;  // index of the header line
    int lastInSection = -1; // last key line of the section (or its header)
    int keyIndex = -1;
    bool inSection = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString t = QString::fromUtf8(lines[i].raw).trimmed();
        const QString sec = sectionOf(t);
        if (!sec.isNull()) {
            inSection = sec.compare(section, Qt::CaseInsensitive) == 0 && sectionStart < 0;
            if (inSection) {
                sectionStart = i;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection || t.isEmpty() || isComment(t))
            continue;
        lastInSection = i;
        QString k, v;
        if (splitKeyLine(t, &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            keyIndex = i;
            break;
        }
    }

    if (keyIndex >= 0) {
        lines[keyIndex].raw = keyLine;
    } else if (sectionStart >= 0) {
        Line l{keyLine, eol};
        if (lines[lastInSection].end.isEmpty())
            lines[lastInSection].end = eol;
        lines.insert(lastInSection + 1, l);
    } else {
        if (!lines.isEmpty() && lines.last().end.isEmpty())
            lines.last().end = eol;
        lines.append(Line{'[' + section.toUtf8() + ']', eol});
        lines.append(Line{keyLine, eol});
    }

    QByteArray out;
    if (bom)
        out += utf8Bom;
    for (const Line &l : lines)
        out += l.raw + l.end;

    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly))
        return {false, QStringLiteral("cannot write %1: %2").arg(m_path, f.errorString())};
    if (f.write(out) != out.size() || !f.commit())
        return {false, QStringLiteral("cannot write %1: %2").arg(m_path, f.errorString())};
    return {};
}
