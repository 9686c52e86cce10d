#pragma once

#include "device/loginrunner.h"
#include "device/statusoutcome.h"
#include "logo/logodevice.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DeviceRows;

/// What a row click of the logo tab came to, for the tab to show.
struct LogoProbeReport {
    struct Line {
        StatusOutcome outcome;
        QString text;
    };
    int row = -1;
    /// The row was still the clicked one (no search replaced it): the lines below are its texts.
    bool stored = false;
    LogoDevice::Probe::Outcome outcome = LogoDevice::Probe::LoginFailed;
    /// Texts for the row's status column, in the order they are written.
    std::vector<Line> status;
    /// Whether the device takes app links (the link fields open); unset: the tab's state stays.
    std::optional<bool> appLinks;
    /// Whether the iOS link row is shown; unset: as it is.
    std::optional<bool> iosRow;
};

/// The logo tab's row click without its widgets: one device at a time, off the GUI thread, it changes
/// the device's address (when asked), logs it in on the row's session or its own, and reads its build
/// date and app-link record. The row keeps the login the probe leaves open.
///
/// Threads: start(), busy() and the destructor on the owner's thread; finished() comes on it too.
/// The destructor cancels a probe's wait after an address change and waits for the probe to end;
/// nothing is reported afterwards and a login it left open ends.
class LogoRowProbe : public QObject
{
    Q_OBJECT
public:
    struct Request {
        int row = -1;
        quint64 generation = 0; ///< of the rows at the click
        QByteArray password;    ///< the tab password
        /// Writes the tab password into the row's record and changes the device's address (any
        /// thread); returns the change's result (1 = address is the wanted one). Null: no change.
        std::function<int(int row, const QByteArray &password)> modifyIP;
    };

    explicit LogoRowProbe(DeviceRows &rows, LogoDevice::Sdk sdk = LogoDevice::Sdk(),
                          QObject *parent = nullptr);
    ~LogoRowProbe() override;

    /// Starts probing the request's row; false (nothing started) while a probe runs or when the row
    /// is not of the request's generation.
    bool start(const Request &request);
    bool busy() const;

signals:
    void finished(const LogoProbeReport &report);

private:
    /// Gives the row what the probe found and left open; the texts to show.
    LogoProbeReport report(int row, quint64 generation, LogoDevice::Probe &probe,
                           const LoginRunner::Result &result);

    DeviceRows &m_rows;
    LogoDevice::Sdk m_sdk;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::unique_ptr<LoginRunner> m_runner; ///< declared last: it ends (waiting for its probe) first
};
