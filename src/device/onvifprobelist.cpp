#include "device/onvifprobelist.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

namespace OnvifProbeList
{
namespace
{

// Four decimal bytes, no leading zeros (which some readers take as octal).
bool readAddress(const QString &text, quint32 *out)
{
    static const QRegularExpression pattern(QStringLiteral("^(0|[1-9]\\d{0,2})\\.(0|[1-9]\\d{0,2})\\."
                                                           "(0|[1-9]\\d{0,2})\\.(0|[1-9]\\d{0,2})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    quint32 value = 0;
    for (int i = 1; i <= 4; ++i) {
        const uint byte = m.captured(i).toUInt();
        if (byte > 255)
            return false;
        value = (value << 8) | byte;
    }
    *out = value;
    return true;
}

// A probe goes to one device: not the unspecified address, a multicast group or a broadcast.
bool unicast(quint32 a)
{
    return a != 0 && (a >> 28) != 14 && (a >> 28) != 15;
}

QString dotted(quint32 a)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xff)
        .arg((a >> 8) & 0xff)
        .arg(a & 0xff);
}

} // namespace

Parsed parse(const QString &text)
{
    Parsed p;
    QSet<QString> seenEntries;
    QSet<quint32> seen;
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        const int dash = entry.indexOf(QLatin1Char('-'));
        quint32 first = 0, last = 0;
        bool ok = readAddress(dash < 0 ? entry : entry.left(dash), &first);
        if (ok && dash < 0) {
            last = first;
        } else if (ok) {
            // The end of a range: a whole address, or the last byte of the first one's subnet.
            const QString end = entry.mid(dash + 1);
            bool byteOk = false;
            const uint byte = end.toUInt(&byteOk);
            if (byteOk && byte <= 255 && !end.startsWith(QLatin1Char('+')))
                last = (first & 0xffffff00u) | byte;
            else
                ok = readAddress(end, &last);
        }
        if (!ok) {
            p.error =
                QCoreApplication::translate("OnvifProbe", "\"%1\" is not an IPv4 address or a range of them")
                    .arg(entry);
            return p;
        }
        if (last < first) {
            p.error = QCoreApplication::translate("OnvifProbe", "The range \"%1\" runs backwards").arg(entry);
            return p;
        }
        if (!unicast(first) || !unicast(last)) {
            p.error =
                QCoreApplication::translate(
                    "OnvifProbe", "\"%1\" is not a device's address (a broadcast, multicast or 0.0.0.0)")
                    .arg(entry);
            return p;
        }
        if (quint64(last - first) + 1 + quint64(p.addresses.size()) > quint64(MaxAddresses)) {
            p.error =
                QCoreApplication::translate("OnvifProbe", "More than %1 addresses in all").arg(MaxAddresses);
            return p;
        }
        if (!seenEntries.contains(entry)) {
            seenEntries.insert(entry);
            p.entries << entry;
        }
        for (quint64 a = first; a <= last; ++a) {
            if (!seen.contains(quint32(a))) {
                seen.insert(quint32(a));
                p.addresses << dotted(quint32(a));
            }
        }
    }
    return p;
}

QString stored(const Parsed &list)
{
    return list.entries.join(QStringLiteral(", "));
}

QByteArray sdkAddresses(const QString &storedValue)
{
    const Parsed p = parse(storedValue);
    return p.ok() ? p.addresses.join(QLatin1Char(',')).toLatin1() : QByteArray();
}

} // namespace OnvifProbeList
