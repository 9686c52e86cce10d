#pragma once

#include <QList>
#include <QString>

/// The burning PC's MAC address: the first running interface, in the platform's order, that is
/// not loopback and has a non-zero hardware address ("AA:BB:CC:DD:EE:FF"); empty if none.
class StationMac
{
public:
    struct Interface {
        QString hardwareAddress;
        bool running = false;
        bool loopback = false;
    };

    static QString lookUp();
    static QString pick(const QList<Interface> &interfaces);
};
