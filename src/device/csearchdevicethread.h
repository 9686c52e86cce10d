#pragma once

#include "device/devicerecord.h"
#include "netsdk/netsdk.h"

#include <QThread>

#include <functional>

/// Runs one LAN search and hands each device found, de-duplicated and in address order, to the GUI
/// thread through deviceSearch(); stop() follows the last one (also when nothing was found).
class CSearchDeviceThread : public QThread
{
    Q_OBJECT
public:
    /// The SDK search call (buffer, size, returned length out, search time); replaceable for tests.
    using SearchFunction = std::function<int(char *buffer, int size, int *returned, int searchTime)>;

    explicit CSearchDeviceThread(QObject *parent = nullptr);
    ~CSearchDeviceThread() override;

    void setSearchTime(int ms) { m_searchTime = ms; }
    int searchTime() const { return m_searchTime; }
    void setSearchFunction(SearchFunction search) { m_search = std::move(search); }

    /// Makes the search answer type known to queued connections (idempotent).
    static void registerMetaType();

signals:
    void deviceSearch(SDK_CONFIG_NET_COMMON_V2 deviceSearched);
    void stop();

protected:
    void run() override;

private:
    int m_searchTime = 2000;
    SearchFunction m_search;
};
