#pragma once

#include "netsdk/netsdk.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstddef>
#include <string>

/// Helpers for the fixed-layout records exchanged with the SDK. Device answers are not trusted to
/// carry NUL terminators, so every text field is read with its width as the bound.
namespace DeviceRecord
{

/// The text of a fixed-width field: up to the first NUL or the whole width.
std::string fixedText(const char *field, std::size_t width);
template <std::size_t N> std::string fixedText(const char (&field)[N])
{
    return fixedText(field, N);
}

/// The same as bytes, for the SDK calls that take the text back.
QByteArray fieldBytes(const char *field, std::size_t width);
template <std::size_t N> QByteArray fieldBytes(const char (&field)[N])
{
    return fieldBytes(field, N);
}

/// Copies text into a fixed-width field, cut to leave room for the terminating NUL; the rest is zeroed.
void setFixedText(char *field, std::size_t width, const std::string &text);
template <std::size_t N> void setFixedText(char (&field)[N], const std::string &text)
{
    setFixedText(field, N, text);
}

/// The bytes sent for a typed user name or password: UTF-8, on every tab and in the login dialog,
/// so that a password that works in one place works in all of them.
QByteArray credentialBytes(const QString &typed);
/// Writes a run's password into the record. One that does not fit the field is left out rather than
/// cut: an empty password makes every later login of the row take the run's password in full.
void setRunPassword(DEV_INFO &record, const QByteArray &password);

/// "%d.%d.%d.%d" of four address bytes in dotted order.
QString dottedAddress(const uint8_t bytes[4]);
/// "%04d-%02d-%02d".
QString buildDateText(int year, int month, int day);

/// The cloud identifier derived from a MAC text when a device reports none: the MAC without ':' read
/// as a hexadecimal number, plus 5, as 12 lower-case hex digits, then bytes 4..11 of the MD5 digest
/// of that text as lower-case hex. Empty when the MAC holds no hexadecimal digits.
QString cloudIdFromMac(const std::string &mac);

/// The cloud identifier shown for a search answer: its own text, else the one derived from the MAC.
QString cloudIdOf(const SDK_CONFIG_NET_COMMON_V2 &answer);

/// A zero-filled record for a search answer at table row `row`: port, IP text, user "admin", empty
/// password, the cloud identifier, and the answer's network data copied into the network block.
DEV_INFO recordFromSearch(const SDK_CONFIG_NET_COMMON_V2 &answer, int row);

/// A zero-filled record with the default credentials.
DEV_INFO emptyRecord();

} // namespace DeviceRecord

Q_DECLARE_METATYPE(SDK_CONFIG_NET_COMMON_V2)
Q_DECLARE_METATYPE(DEV_INFO)
