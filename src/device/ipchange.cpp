#include "device/ipchange.h"

#include "device/deviceprotocol.h"
#include "device/devicerecord.h"
#include "device/devicestore.h"
#include "device/loginerrortext.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostAddress>
#include <QNetworkInterface>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace IpChange
{

QString startIndexProblem(int startIndex)
{
    if (startIndex >= MinLastByte && startIndex <= MaxLastByte)
        return QString();
    return QCoreApplication::translate("DeviceTable",
                                       "StartIndex in Config.ini is %1, but it must be %2 to %3. No address "
                                       "was changed; correct it and start again.")
        .arg(startIndex)
        .arg(MinLastByte)
        .arg(MaxLastByte);
}

namespace
{

quint32 addressOf(const uint8_t *bytes)
{
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

} // namespace

Plan plan(DEV_INFO &record, int nIndex, int nType, int startIndex, const TableVariant &variant,
          const QList<quint32> &stationAddresses)
{
    SDK_NET_BLOCK &net = record.NetComm;
    // Only a block without any network data means "nothing to do". A block without a MAC still
    // goes to the SDK, which refuses it, so that the failure shows in the row instead of an empty cell.
    const bool noGateway =
        std::all_of(std::begin(net.Gateway), std::end(net.Gateway), [](uint8_t b) { return b == 0; });
    const bool noMask =
        std::all_of(std::begin(net.Submask), std::end(net.Submask), [](uint8_t b) { return b == 0; });
    if (noGateway && noMask && DeviceRecord::fixedText(net.sMac).empty())
        return {};

    Plan p;
    switch (nType) {
    case 1:
    case 2: {
        p.channel = nType == 1 ? 1 : 254;
        // Checked before anything of the record changes: a refused device keeps its address.
        p.lastByte = nIndex + startIndex;
        uint8_t wanted[4] = {net.HostIP[0], net.HostIP[1], net.HostIP[2], uint8_t(p.lastByte)};
        if (p.lastByte < MinLastByte || p.lastByte > MaxLastByte)
            p.refusal = Refusal::OutOfRange;
        else if (addressOf(wanted) == addressOf(net.Gateway))
            p.refusal = Refusal::Gateway;
        else if (stationAddresses.contains(addressOf(wanted)))
            p.refusal = Refusal::Station;
        if (p.refusal != Refusal::None) {
            p.step = Step::Refused;
            return p;
        }
        record.nLastByte = net.HostIP[3];
        net.HostIP[3] = uint8_t(p.lastByte);
        if (net.HostIP[3] == record.nLastByte) {
            p.step = Step::AlreadyRight;
            return p;
        }
        break;
    }
    case 3:
        p.channel = 254;
        net.HostIP[3] = uint8_t(record.nLastByte);
        break;
    default:
        return {};
    }
    if (variant.ipAlwaysChannel1)
        p.channel = 1;
    net.ChangeFlag = 1;
    p.step = Step::Send;
    return p;
}

QString refusalText(const Plan &plan, const SDK_NET_BLOCK &net)
{
    const QString address = QStringLiteral("%1.%2.%3.%4")
                                .arg(net.HostIP[0])
                                .arg(net.HostIP[1])
                                .arg(net.HostIP[2])
                                .arg(plan.lastByte);
    switch (plan.refusal) {
    case Refusal::OutOfRange:
        return QCoreApplication::translate("DeviceTable", "Set Ip refused: last byte %1 is outside %2-%3")
            .arg(plan.lastByte)
            .arg(MinLastByte)
            .arg(MaxLastByte);
    case Refusal::Gateway:
        return QCoreApplication::translate("DeviceTable", "Set Ip refused: %1 is the gateway").arg(address);
    case Refusal::Station:
        return QCoreApplication::translate("DeviceTable", "Set Ip refused: %1 is this computer's address")
            .arg(address);
    case Refusal::None:
        break;
    }
    return QString();
}

Outcome outcome(long result)
{
    if (result == 0 || result == 1 || result == NETSDK_ERR_TIMEOUT)
        return Outcome::Success;
    if (result == NETSDK_ERR_NEED_REBOOT)
        return Outcome::NeedReboot;
    return Outcome::Failed;
}

Sdk defaultSdk()
{
    Sdk sdk;
    sdk.setConfigOverNet = [](unsigned long command, int channel, char *block, unsigned long size, int wait) {
        return H264_DVR_SetConfigOverNet(command, channel, block, size, wait);
    };
    sdk.stationMac = [] { return QString(); };
    sdk.login = [](const DEV_INFO &r, int *error) {
        H264_DVR_DEVICEINFO info{};
        DeviceSession session(
            H264_DVR_Login(r.szIpaddress, uint16_t(r.nPort), r.szUserName, r.szPsw, &info, 1, error));
        if (!session && *error == 0)
            *error = int(H264_DVR_GetLastError());
        return session;
    };
    sdk.stationAddresses = [] {
        QList<quint32> addresses;
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            bool ipv4 = false;
            const quint32 v4 = a.toIPv4Address(&ipv4);
            if (ipv4)
                addresses.append(v4);
        }
        return addresses;
    };
    return sdk;
}

int modifyIP(DeviceStore &store, quint64 generation, int row, int nType, int startIndex, const Sdk &sdk)
{
    const TableVariant &variant = store.variant();
    const BoundRows table(store, generation);
    const Field failField = variant.columns[size_t(variant.ipFailColumn)].field;
    DEV_INFO rec;
    if (!table.device(row, &rec))
        return 0;

    if (variant.ipLogoutFirst) {
        // The device is about to move: the row's session ends first.
        table.takeSession(row).reset();
        rec.lLoginID = 0;
    }

    const Plan p = plan(rec, row, nType, startIndex, variant,
                        sdk.stationAddresses ? sdk.stationAddresses() : QList<quint32>());
    if (p.step == Step::Nothing)
        return 0;
    if (p.step == Step::Refused) {
        table.report(row, failField, StatusOutcome::Failure, refusalText(p, rec.NetComm));
        return -1;
    }
    if (p.step == Step::AlreadyRight) {
        table.updateDevice(row, [&rec](DEV_INFO &r) { r.nLastByte = rec.nLastByte; });
        return 1;
    }

    const QByteArray hostMac = sdk.stationMac().toLocal8Bit();
    if (!hostMac.isEmpty()) {
        std::memcpy(rec.NetComm.sHostMac, hostMac.constData(),
                    std::min<std::size_t>(hostMac.size(), sizeof rec.NetComm.sHostMac));
    }

    SDK_NET_BLOCK block = rec.NetComm;
    long ret = sdk.setConfigOverNet(NETSDK_CFG_NET_COMMON, p.channel, reinterpret_cast<char *>(&block),
                                    sizeof block, 20000);
    if (ret == NETSDK_ERR_HANDLE && DeviceProtocol::isOnvif(rec) && sdk.login) {
        // A camera nobody has logged in to yet: it moves by SOAP calls, which need its credentials;
        // a login with the row's hands them to the SDK, and the change goes again.
        int error = 0;
        const DeviceSession login = sdk.login(rec, &error);
        if (!login) {
            table.report(row, failField, StatusOutcome::Failure, loginErrorText(error));
            return -1;
        }
        block = rec.NetComm;
        ret = sdk.setConfigOverNet(NETSDK_CFG_NET_COMMON, p.channel, reinterpret_cast<char *>(&block),
                                   sizeof block, 20000);
    }
    qDebug() << "ModifyIP nRet=" << ret;

    const Outcome result = outcome(ret);
    if (ret == NETSDK_ERR_TIMEOUT)
        qDebug() << "ModifyIP timeout nRet=" << ret;
    const QString address = DeviceRecord::dottedAddress(rec.NetComm.HostIP);
    // The record keeps the changed address bytes either way; only a success changes its IP text.
    table.updateDevice(row, [&rec, &address, result](DEV_INFO &r) {
        r.NetComm = rec.NetComm;
        r.nLastByte = rec.nLastByte;
        if (result == Outcome::Success)
            DeviceRecord::setFixedText(r.szIpaddress, address.toStdString());
    });

    switch (result) {
    case Outcome::Success:
        table.value(row, Field::Ip, address);
        return 1;
    case Outcome::NeedReboot:
        // The new address waits for a reboot: the run goes no further with the device.
        table.report(row, failField, StatusOutcome::Failure,
                     QCoreApplication::translate("DeviceTable", "Need Reboot"));
        return -1;
    case Outcome::Failed:
        break;
    }
    table.report(row, failField, StatusOutcome::Failure,
                 QCoreApplication::translate("DeviceTable", variant.ipFailText));
    return -1;
}

} // namespace IpChange
