#include "device/devicerecord.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace DeviceRecord
{

std::string fixedText(const char *field, std::size_t width)
{
    std::size_t n = 0;
    while (n < width && field[n] != '\0')
        ++n;
    return std::string(field, n);
}

void setFixedText(char *field, std::size_t width, const std::string &text)
{
    if (width == 0)
        return;
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

QByteArray credentialBytes(const QString &typed)
{
    return typed.toUtf8();
}

QString dottedAddress(const uint8_t bytes[4])
{
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

QString buildDateText(int year, int month, int day)
{
    return QString::asprintf("%04d-%02d-%02d", year, month, day);
}

QString cloudIdFromMac(const std::string &mac)
{
    std::string hex;
    for (char c : mac) {
        if (c != ':')
            hex += c;
    }
    // Read like "%llx": leading blanks, an optional 0x, then hex digits up to the first other character.
    std::size_t i = 0;
    while (i < hex.size() && (hex[i] == ' ' || hex[i] == '\t'))
        ++i;
    if (i + 1 < hex.size() && hex[i] == '0' && (hex[i + 1] == 'x' || hex[i + 1] == 'X') &&
        i + 2 < hex.size() && std::isxdigit(static_cast<unsigned char>(hex[i + 2])))
        i += 2;
    unsigned long long value = 0;
    bool any = false;
    for (; i < hex.size() && std::isxdigit(static_cast<unsigned char>(hex[i])); ++i) {
        any = true;
        const char c = hex[i];
        const unsigned digit = (c >= '0' && c <= '9') ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
        value = (value << 4) | digit; // a MAC has 48 bits; longer junk wraps instead of overflowing
    }
    if (!any)
        return QString();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%012llx", value + 5);
    const QByteArray text(buf);
    const QByteArray digest = QCryptographicHash::hash(text, QCryptographicHash::Md5);
    return QString::fromLatin1(digest.mid(4, 8).toHex());
}

QString cloudIdOf(const SDK_CONFIG_NET_COMMON_V2 &answer)
{
    const std::string own = fixedText(answer.sSn);
    if (!own.empty())
        return QString::fromLocal8Bit(own.data(), qsizetype(own.size()));
    return cloudIdFromMac(fixedText(answer.sMac));
}

DEV_INFO emptyRecord()
{
    DEV_INFO rec;
    std::memset(&rec, 0, sizeof rec);
    setFixedText(rec.szUserName, "admin");
    return rec;
}

DEV_INFO recordFromSearch(const SDK_CONFIG_NET_COMMON_V2 &answer, int row)
{
    DEV_INFO rec = emptyRecord();
    rec.nIndex = row;
    rec.nPort = answer.NetValues[1];
    setFixedText(rec.szIpaddress, dottedAddress(answer.HostIP).toStdString());
    setFixedText(rec.szCloudID, cloudIdOf(answer).toLocal8Bit().toStdString());
    SDK_NET_BLOCK &net = rec.NetComm;
    setFixedText(net.HostName, fixedText(answer.HostName));
    std::memcpy(net.HostIP, answer.HostIP, 4);
    std::memcpy(net.Submask, answer.Submask, 4);
    std::memcpy(net.Gateway, answer.Gateway, 4);
    std::memcpy(net.NetValues, answer.NetValues, sizeof net.NetValues);
    net.NetByte = answer.NetByte;
    setFixedText(net.sMac, fixedText(answer.sMac));
    // The protocol the search found the device by goes with the record before any login.
    rec.NetDevInfo.Protocol = answer.Protocol;
    return rec;
}

} // namespace DeviceRecord

QByteArray DeviceRecord::fieldBytes(const char *field, std::size_t width)
{
    return QByteArray(field, int(strnlen(field, width)));
}

void DeviceRecord::setRunPassword(DEV_INFO &record, const QByteArray &password)
{
    std::memset(record.szPsw, 0, sizeof record.szPsw);
    if (size_t(password.size()) < sizeof record.szPsw)
        std::memcpy(record.szPsw, password.constData(), size_t(password.size()));
}
