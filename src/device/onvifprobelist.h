#pragma once

#include <QString>
#include <QStringList>

/// The addresses a search asks directly for ONVIF devices (`[ONVIF] Probe`), beside its multicast
/// probe: cameras in subnets the multicast does not reach. The operator lists IPv4 addresses and
/// ranges ("192.168.5.20-40" or "192.168.5.20-192.168.6.10"), separated by commas, blanks or lines.
namespace OnvifProbeList
{

/// The most addresses the list may come to once its ranges are expanded (the SDK's own bound).
constexpr int MaxAddresses = 1024;

struct Parsed {
    QStringList entries;   ///< the entries as written, in order, without repeats
    QStringList addresses; ///< every address they name, in order, without repeats
    QString error;         ///< why the text is refused; empty when it is taken
    bool ok() const { return error.isEmpty(); }
};

/// Reads the operator's text. An entry that is not a unicast IPv4 address or a range of them, a
/// range running backwards, or more than MaxAddresses in all refuses the whole text.
Parsed parse(const QString &text);

/// The Config.ini value for a parsed list: its entries, comma-separated.
QString stored(const Parsed &list);

/// The addresses of a stored value, comma-separated, for H264_DVR_SetOnvifProbeAddresses; empty
/// when the value is refused (a hand-edited Config.ini), so a search then probes no address.
QByteArray sdkAddresses(const QString &storedValue);

} // namespace OnvifProbeList
