#include "device/stationmac.h"

#include <QNetworkInterface>

QString StationMac::pick(const QList<Interface> &interfaces)
{
    for (const Interface &i : interfaces) {
        if (!i.running || i.loopback)
            continue;
        QString digits = i.hardwareAddress;
        digits.remove(QLatin1Char(':'));
        digits.remove(QLatin1Char('0'));
        if (!digits.isEmpty())
            return i.hardwareAddress;
    }
    return QString();
}

QString StationMac::lookUp()
{
    QList<Interface> list;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &n : all) {
        Interface i;
        i.hardwareAddress = n.hardwareAddress();
        i.running = n.flags().testFlag(QNetworkInterface::IsRunning);
        i.loopback = n.flags().testFlag(QNetworkInterface::IsLoopBack);
        list.append(i);
    }
    return pick(list);
}
