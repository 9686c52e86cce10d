#include "oemidwriter.h"

#include "compactjson.h"
#include "device/devicerecord.h"
#include "device/stationmac.h"
#include "oemidcipher.h"

#include "device/loginerrortext.h"

#include <cstring>

namespace
{

struct Reply {
    bool parsed = false;
    Json::Value doc;
};

Reply parseReply(const QByteArray &buffer)
{
    Reply r;
    const int len = int(strnlen(buffer.constData(), std::size_t(buffer.size())));
    r.parsed = parseJson(buffer.constData(), buffer.constData() + len, &r.doc);
    return r;
}

QString oemidOf(const Json::Value &doc)
{
    // Throws (caught by the callers) when the reply's members are not of the expected kinds.
    const Json::Value &root = doc;
    return QString::fromUtf8(root["ProducerInfo"]["OEMID"].asString().c_str());
}

} // namespace

DeviceSession NetSdkOemid::login(const DEV_INFO &device, int *error)
{
    H264_DVR_DEVICEINFO info{};
    return DeviceSession(H264_DVR_Login(device.szIpaddress, static_cast<unsigned short>(device.nPort),
                                        device.szUserName, device.szPsw, &info, 1, error));
}

long NetSdkOemid::getProducerInfo(long loginId, char *buffer, int size, int *returned)
{
    return H264_DVR_GetDevConfig_JsonV2(loginId, "ProducerInfo", NETSDK_JSON_PRODUCER_GET, -1, buffer, size,
                                        returned, 1000);
}

long NetSdkOemid::setProducerInfo(long loginId, const char *text, int length)
{
    return H264_DVR_SetDevConfig_JsonV2(loginId, "ProducerInfo", NETSDK_JSON_PRODUCER_SET, -1, text, length,
                                        1000);
}

long NetSdkOemid::lastError()
{
    return H264_DVR_GetLastError();
}

QString NetSdkOemid::loginErrorText(int code)
{
    return ::loginErrorText(code);
}

OemidWriter::OemidWriter(OemidWriterParams params, OemidSdk &sdk, BoundRows rows)
    : m_params(std::move(params)), m_sdk(sdk), m_rows(rows),
      m_records({m_params.appDir, m_params.clock, m_params.stationMac})
{
    if (!m_params.stationMac)
        m_params.stationMac = [] { return StationMac::lookUp(); };
}

void OemidWriter::resetRow()
{
    m_deviceOemid.clear();
    m_loginOk = false;
}

void OemidWriter::readDevOEMID(int row)
{
    DEV_INFO dev;
    if (!m_rows.device(row, &dev))
        return;
    const OemidVariant &v = m_params.variant;
    long login = dev.lLoginID;

    if (v.reloginOnRead) {
        // The old session ends before the new login; the new one is the row's.
        m_rows.takeSession(row).reset();
        int error = 0;
        DeviceSession fresh = m_sdk.login(dev, &error);
        login = fresh.id();
        if (m_rows.giveSession(row, std::move(fresh)).id() == login && login > 0)
            return; // the row went with a new search; its session has ended
        if (login <= 0) {
            m_loginOk = false;
            m_rows.status(row, StatusOutcome::Failure, m_sdk.loginErrorText(error));
            return;
        }
    } else if (login <= 0) {
        m_deviceOemid = QStringLiteral("err 1 %1").arg(login);
        return;
    }
    m_loginOk = true;

    QByteArray buffer(kReplySize, '\0');
    int returned = 0;
    const long result = m_sdk.getProducerInfo(login, buffer.data(), buffer.size(), &returned);
    if (result == 0) {
        // Some firmware answers "no OEMID yet" with this code instead of "Ret" 109. The SDK's read
        // returns 0 for it, the code coming through the last error; calling the device broken
        // would block its first write.
        if (m_sdk.lastError() == kNoOemid) {
            m_deviceOemid = QStringLiteral("000");
            return;
        }
        if (v.numericRet)
            m_deviceOemid = QStringLiteral("err 2 %1").arg(result);
        return;
    }
    const Reply reply = parseReply(buffer);
    try {
        if (v.numericRet) {
            const int ret = reply.doc["Ret"].asInt();
            if (ret == 100)
                m_deviceOemid = oemidOf(reply.doc);
            else if (ret == 109)
                m_deviceOemid = QStringLiteral("000");
            else
                m_deviceOemid = QStringLiteral("err 3 %1").arg(ret);
        } else {
            const std::string ret = reply.doc["Ret"].asString();
            if (ret == "100") {
                m_deviceOemid = oemidOf(reply.doc);
                if (v.showReadOemid)
                    m_rows.status(row, StatusOutcome::Neutral, m_deviceOemid); // a step: the decision follows
            } else if (ret == "109") {
                m_deviceOemid = QStringLiteral("000");
            } else {
                m_deviceOemid = QStringLiteral("err");
            }
        }
    } catch (const std::exception &) {
        // A reply of unexpected shape: the device OEMID keeps what it had.
    }
}

void OemidWriter::regetDevOEMID(int row)
{
    m_regetOemid = QStringLiteral("0");
    DEV_INFO dev;
    if (!m_rows.device(row, &dev))
        return;
    QByteArray buffer(kReplySize, '\0');
    int returned = 0;
    if (m_sdk.getProducerInfo(dev.lLoginID, buffer.data(), buffer.size(), &returned) == 0)
        return;
    const Reply reply = parseReply(buffer);
    try {
        if (m_params.variant.rereadNeedsRet) {
            const int ret = reply.doc["Ret"].asInt();
            if (ret != 100 && ret != 109)
                return;
        }
        m_regetOemid = oemidOf(reply.doc);
        m_rows.value(row, Field::Oemid, m_regetOemid);
    } catch (const std::exception &) {
    }
}

QString OemidWriter::detail(long result) const
{
    if (!m_params.variant.detailOnFailure)
        return QString();
    return QStringLiteral(" ret=%1,code:%2").arg(result).arg(m_sdk.lastError());
}

QString OemidWriter::assignedOemidProblem(const QString &oemid)
{
    if (oemid.isEmpty() || oemid == QLatin1String("000"))
        return tr("No OEMID assigned: set Assigned in the [OEMID] section of Config.ini");
    if (QString::fromLatin1(oemid.toLatin1()) != oemid)
        return tr("The OEMID may only hold Latin-1 characters");
    if (oemid.contains(QLatin1Char(',')) || oemid.contains(QLatin1Char('\r')) ||
        oemid.contains(QLatin1Char('\n')))
        return tr("The OEMID may not hold a comma or a line break: the factory records could not carry it");
    if (oemid.toLatin1().size() > kOemidField - 1)
        return tr("OEMID too long: %1 characters, at most %2").arg(oemid.size()).arg(kOemidField - 1);
    return QString();
}

QByteArray OemidWriter::writeText(const QString &oemid, const QByteArray &mac, const QByteArray &serial,
                                  QString *problem)
{
    QString p = assignedOemidProblem(oemid);
    if (p.isEmpty() && mac.size() > kMacField - 1)
        p = tr("Station MAC too long: %1 characters, at most %2").arg(mac.size()).arg(kMacField - 1);
    if (p.isEmpty() && serial.size() > kSerialField - 1)
        p = tr("Serial number too long: %1 characters, at most %2").arg(serial.size()).arg(kSerialField - 1);
    std::string plain;
    if (p.isEmpty()) {
        Json::Value o(Json::objectValue);
        o["MAC"] = QString::fromLatin1(mac).toUtf8().toStdString();
        o["OEMID"] = oemid.toUtf8().toStdString();
        plain = compactJson(o);
        if (oemid::filledLength(plain.size()) > oemid::kMaxFilledPlain)
            p = tr("OEMID and MAC too long for the device: %1 bytes, at most %2")
                    .arg(oemid::filledLength(plain.size()))
                    .arg(oemid::kMaxFilledPlain);
    }
    if (!p.isEmpty()) {
        if (problem)
            *problem = p;
        return QByteArray();
    }
    Json::Value data(Json::objectValue);
    data["Data"] = oemid::encryptData(plain, serial.toStdString());
    return QByteArray::fromStdString(compactJson(data));
}

QString OemidWriter::setDevOEMID(int row)
{
    DEV_INFO dev;
    if (!m_rows.device(row, &dev))
        return QString();
    const OemidVariant &v = m_params.variant;
    const QString &oemid = m_params.assignedOemid;
    QString problem;

    if (v.lookUpStationMac) {
        const QByteArray mac = m_params.stationMac().toLatin1();
        if (mac.size() > kMacField - 1) {
            problem =
                tr("Station MAC too long: %1 characters, at most %2").arg(mac.size()).arg(kMacField - 1);
        } else {
            m_rows.updateDevice(row, [&mac](DEV_INFO &d) {
                std::memset(d.NetComm.sHostMac, 0, sizeof d.NetComm.sHostMac);
                std::memcpy(d.NetComm.sHostMac, mac.constData(), std::size_t(mac.size()));
            });
            std::memset(dev.NetComm.sHostMac, 0, sizeof dev.NetComm.sHostMac);
            std::memcpy(dev.NetComm.sHostMac, mac.constData(), std::size_t(mac.size()));
        }
    }
    const QByteArray serial = DeviceRecord::fieldBytes(dev.szCloudID, sizeof dev.szCloudID);
    const QString devMac =
        QString::fromLatin1(DeviceRecord::fieldBytes(dev.NetComm.sMac, sizeof dev.NetComm.sMac));
    // A write that could not be recorded would leave a burnt OEMID without its factory record.
    if (problem.isEmpty())
        problem = assignedOemidProblem(oemid);
    if (problem.isEmpty())
        problem = FactoryRecords::recordFieldProblem(QString::fromLatin1(serial), devMac, oemid);
    const QByteArray text =
        problem.isEmpty()
            ? writeText(oemid, DeviceRecord::fieldBytes(dev.NetComm.sHostMac, sizeof dev.NetComm.sHostMac),
                        serial, &problem)
            : QByteArray();
    // Records that could not be saved are written first; while they cannot be, or while the disk
    // has no room, no OEMID is written: its record could not be kept either, and the device must
    // not leave without one.
    if (problem.isEmpty()) {
        const FactoryRecords::WriteResult held = m_records.readyForRecord();
        if (!held.ok)
            problem = held.message;
    }
    if (!problem.isEmpty()) {
        m_rows.status(row, StatusOutcome::Failure, problem);
        return problem;
    }

    const long result = m_sdk.setProducerInfo(dev.lLoginID, text.constData(), text.size());
    QString status;
    if (result < 1) {
        status = tr("Set OEMID Failed") + detail(result);
        m_rows.status(row, StatusOutcome::Failure, status);
        return status;
    }
    regetDevOEMID(row);
    if (m_regetOemid == oemid) {
        status = tr("Set OEMID Success");
        if (v.successWithOemid)
            status += QLatin1Char('(') + oemid + QLatin1Char(')');
        m_rows.status(row, StatusOutcome::Success, status);
        const FactoryRecords::WriteResult r =
            m_records.writeFactoryRecord(QString::fromLatin1(serial), devMac, oemid);
        if (!r.ok) {
            // The record waits in memory; the row and the operator learn that writing has stopped.
            if (v.dayFileErrorInStatus) {
                status = QStringLiteral("%1 Err %2; %3").arg(r.message).arg(r.fileError).arg(r.stopped);
            } else {
                status = r.message + QStringLiteral("; ") + r.stopped;
                if (m_params.message)
                    m_params.message(v.fileTitle, r.message + QLatin1Char('\n') + r.stopped);
            }
            m_rows.status(row, StatusOutcome::Failure, status);
        }
    } else if (m_regetOemid == QLatin1String("0")) {
        status = tr("Reget DevOEMID Failed") + detail(result);
        m_rows.status(row, StatusOutcome::Failure, status);
    } else {
        status = tr("Set OEMID Incorrect") + detail(result);
        m_rows.status(row, StatusOutcome::Failure, status);
    }
    return status;
}

OemidWriter::Precheck OemidWriter::precheck(bool allowRepeat, QString *text) const
{
    if (m_deviceOemid.contains(QLatin1String("err"))) {
        const char *what = m_params.variant.readErrorText ? m_params.variant.readErrorText : "OEMID ERROR";
        *text = QStringLiteral("%1 %2").arg(QCoreApplication::translate("OemidWriter", what), m_deviceOemid);
        return Precheck::Error;
    }
    // Any OEMID other than "000" is a repeat, not only our own: writing over another customer's
    // OEMID is exactly what the box guards against.
    if (m_deviceOemid != QLatin1String("000") && !allowRepeat) {
        *text = tr("OEMID Repeat") + QLatin1Char('(') + m_deviceOemid + QLatin1Char(')');
        return Precheck::Repeat;
    }
    text->clear();
    return Precheck::Write;
}
