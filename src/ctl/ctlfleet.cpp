#include "ctlfleet.h"

#include "ctltr.h"

#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/searchresults.h"
#include "netsdk/netsdk.h"

#include <QFile>
#include <QRegularExpression>

#include <vector>

namespace CtlFleet
{

bool parseTarget(const QString &text, Target *out)
{
    static const QRegularExpression ipv4(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    static const QRegularExpression mac(QStringLiteral("^([0-9A-Fa-f]{2})([:-][0-9A-Fa-f]{2}){5}$"));
    const QString t = text.trimmed();
    if (const QRegularExpressionMatch m = ipv4.match(t); m.hasMatch()) {
        QStringList parts;
        for (int i = 1; i <= 4; ++i) {
            const int byte = m.captured(i).toInt();
            if (byte > 255)
                return false;
            parts << QString::number(byte);
        }
        *out = Target{Target::Address, t, parts.join(QLatin1Char('.'))};
        return true;
    }
    if (mac.match(t).hasMatch()) {
        *out = Target{Target::Mac, t, t.toLower().replace(QLatin1Char('-'), QLatin1Char(':'))};
        return true;
    }
    return false;
}

bool parseTargets(const QStringList &given, const QString &file, QList<Target> *out, QString *error)
{
    QStringList names = given;
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = TallowCtl::tr("Cannot read the device file %1: %2").arg(file, f.errorString());
            return false;
        }
        // A station lists at most a few hundred devices; a file far beyond that is not a device list.
        const QString text = QString::fromUtf8(f.read(1 << 20));
        for (QString line : text.split(QLatin1Char('\n'))) {
            line = line.section(QLatin1Char('#'), 0, 0);
            names << line.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
        }
    }
    for (const QString &name : names) {
        Target t;
        if (!parseTarget(name, &t)) {
            *error = TallowCtl::tr("\"%1\" is neither an IPv4 address nor a MAC address").arg(name);
            return false;
        }
        out->append(t);
    }
    return true;
}

int search(DeviceTable &table, int searchTimeMs)
{
    table.clear();
    std::vector<char> buffer(SearchResults::BufferSize, 0);
    int returned = 0;
    if (!H264_DVR_SearchDevice(buffer.data(), int(buffer.size()), &returned, searchTimeMs))
        returned = 0;
    int added = 0;
    for (const SDK_CONFIG_NET_COMMON_V2 &answer :
         SearchResults::select(buffer.data(), int(buffer.size()), returned)) {
        if (table.rowCount() >= SearchResults::MaxRecords)
            break;
        if (const std::optional<RowFill> fill = fillFromSearch(table.variant(), answer, table.rowCount())) {
            table.appendRow(*fill);
            ++added;
        }
    }
    return added;
}

QString rowAddress(const DeviceTable &table, int row)
{
    DEV_INFO d{};
    if (!table.device(table.generation(), row, &d))
        return QString();
    return QString::fromLatin1(DeviceRecord::fixedText(d.szIpaddress).c_str());
}

QString rowMac(const DeviceTable &table, int row)
{
    DEV_INFO d{};
    if (!table.device(table.generation(), row, &d))
        return QString();
    return QString::fromLatin1(DeviceRecord::fixedText(d.NetComm.sMac).c_str()).toLower();
}

QList<int> pick(const DeviceTable &table, const QList<Target> &targets, QList<Target> *missing)
{
    QList<int> rows;
    if (targets.isEmpty()) {
        for (int r = 0; r < table.rowCount(); ++r)
            rows << r;
        return rows;
    }
    std::vector<bool> found(std::size_t(targets.size()), false);
    for (int r = 0; r < table.rowCount(); ++r) {
        const QString address = rowAddress(table, r);
        const QString mac = rowMac(table, r);
        bool wanted = false;
        for (int i = 0; i < targets.size(); ++i) {
            const Target &t = targets[i];
            if ((t.kind == Target::Address && t.key == address) || (t.kind == Target::Mac && t.key == mac)) {
                wanted = true;
                found[std::size_t(i)] = true;
            }
        }
        if (wanted)
            rows << r;
    }
    for (int i = 0; i < targets.size(); ++i)
        if (!found[std::size_t(i)])
            missing->append(targets[i]);
    return rows;
}

} // namespace CtlFleet
