#pragma once

#include "factoryrecords.h"
#include "oemidvariant.h"

#include "device/devicerows.h"
#include "netsdk/netsdk.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

/// The SDK calls of the OEMID procedure, so that the procedure can run against any device.
class OemidSdk
{
public:
    virtual ~OemidSdk() = default;
    /// A new login on the device; empty, with the code in `error`, when it fails.
    virtual DeviceSession login(const DEV_INFO &device, int *error) = 0;
    /// "ProducerInfo" read (command 2162, wait 1000 ms): zero = failure.
    virtual long getProducerInfo(long loginId, char *buffer, int size, int *returned) = 0;
    /// "ProducerInfo" write (command 2160, wait 1000 ms): above 0 = success.
    virtual long setProducerInfo(long loginId, const char *text, int length) = 0;
    virtual long lastError() = 0;
    virtual QString loginErrorText(int code) = 0;
};

/// The real SDK.
class NetSdkOemid : public OemidSdk
{
public:
    DeviceSession login(const DEV_INFO &device, int *error) override;
    long getProducerInfo(long loginId, char *buffer, int size, int *returned) override;
    long setProducerInfo(long loginId, const char *text, int length) override;
    long lastError() override;
    QString loginErrorText(int code) override;
};

struct OemidWriterParams {
    QString assignedOemid = QStringLiteral("000");
    OemidVariant variant;
    QString appDir;                      ///< root of the factory record tree
    std::function<QDateTime()> clock;    ///< default: now
    std::function<QString()> stationMac; ///< default: StationMac::lookUp()
    /// Message boxes (title, text); the tab shows them.
    std::function<void(const QString &, const QString &)> message;
};

/// Writes the assigned OEMID into one logged-in device and proves it by reading it back; a
/// verified write leaves a factory record. One row at a time, on the caller's thread.
class OemidWriter
{
    Q_DECLARE_TR_FUNCTIONS(OemidWriter)
public:
    enum class Precheck { Write, Repeat, Error };

    static constexpr int kOemidField = 64;
    static constexpr int kMacField = 32;
    static constexpr int kSerialField = 32;
    static constexpr int kReplySize = 10240;
    /// The last error of a failed producer-information read from a device without an OEMID.
    static constexpr long kNoOemid = -11501;

    /// `rows`: the rows the procedure reads its record from and writes its texts to (status and OEMID cells).
    OemidWriter(OemidWriterParams params, OemidSdk &sdk, BoundRows rows);

    void setAssignedOemid(const QString &oemid) { m_params.assignedOemid = oemid; }
    const QString &assignedOemid() const { return m_params.assignedOemid; }

    /// Clears the per-row values (device OEMID empty, login flag cleared).
    void resetRow();
    void readDevOEMID(int row);
    /// Writes and verifies; returns the result text it put into the status column.
    QString setDevOEMID(int row);
    void regetDevOEMID(int row);

    const QString &deviceOemid() const { return m_deviceOemid; }
    const QString &regetOemid() const { return m_regetOemid; }
    bool loginOk() const { return m_loginOk; }

    /// The firmware and logo tabs' decision after the read: the text for an error or a repeat.
    Precheck precheck(bool allowRepeat, QString *text) const;

    /// Empty when `oemid` may be written, else the reason for the operator ("000" is unassigned).
    static QString assignedOemidProblem(const QString &oemid);
    /// The text sent to the device: {"Data":"<Base64 of the enciphered {"MAC":..,"OEMID":..}>"}
    /// and a line feed. Empty with a reason when a field does not fit.
    static QByteArray writeText(const QString &oemid, const QByteArray &mac, const QByteArray &serial,
                                QString *problem);

private:
    QString detail(long result) const;

    OemidWriterParams m_params;
    OemidSdk &m_sdk;
    BoundRows m_rows;
    FactoryRecords m_records;
    QString m_deviceOemid;
    QString m_regetOemid = QStringLiteral("0");
    bool m_loginOk = false;
};
