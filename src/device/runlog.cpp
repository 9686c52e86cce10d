#include "device/runlog.h"

#include "app/apppaths.h"

#include <QDir>

RunLog::RunLog(QString dir, QString tab) : m_dir(std::move(dir)), m_tab(std::move(tab)) {}

QString RunLog::directory()
{
    return AppPaths::current().runLogDir();
}

QString RunLog::tabName(TabKind kind)
{
    switch (kind) {
    case TabKind::Firmware:
        return QStringLiteral("firmware");
    case TabKind::Logo:
        return QStringLiteral("logo");
    case TabKind::Oemid:
        return QStringLiteral("oemid");
    }
    return QStringLiteral("device");
}

std::unique_ptr<RunLog> RunLog::forTab(TabKind kind)
{
    return std::make_unique<RunLog>(directory(), tabName(kind));
}

QString RunLog::fileFor(const QDate &day) const
{
    return QDir(m_dir).filePath(QStringLiteral("%1_%2.log").arg(day.toString(Qt::ISODate), m_tab));
}

QString RunLog::escape(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        default:
            // Every other control character too (C0, DEL, C1): a device's text must not reach a
            // terminal that shows the log as an escape sequence.
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
            else if (c.unicode() >= 0x80 && c.unicode() <= 0x9f)
                out += QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

void RunLog::append(const QDateTime &time, const QString &device, const QString &column, const QString &text)
{
    const QDate day = time.date();
    if (day != m_day || !m_file.isOpen()) {
        m_file.close();
        m_day = day;
        QDir().mkpath(m_dir);
        m_file.setFileName(fileFor(day));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return;
    }
    const QString line =
        QStringLiteral("%1\t%2\t%3\t%4\n")
            .arg(time.toString(Qt::ISODateWithMs), escape(device), escape(column), escape(text));
    m_file.write(line.toUtf8());
    m_file.flush();
}
