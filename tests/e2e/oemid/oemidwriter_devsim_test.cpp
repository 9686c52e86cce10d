#include "devsimfleet.h"

#include "oemid/oemidwriter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace
{

constexpr int kPort = 47230;

struct Rows : DeviceRows {
    DEV_INFO dev{};
    QString status, oemidCell;
    DeviceSession session; // the row's login, as the table holds it
    DeviceSession takeSession(quint64, int) override { return std::move(session); }
    DeviceSession giveSession(quint64, int, DeviceSession given) override
    {
        std::swap(given, session);
        return given;
    }
    quint64 generation() const override { return 0; }
    int rowCount() const override { return 1; }
    bool device(quint64, int, DEV_INFO *out) const override
    {
        *out = dev;
        if (session) // a record copy names the held session's handle, as the table's does
            out->lLoginID = int32_t(session.id());
        return true;
    }
    bool updateDevice(quint64, int, const std::function<void(DEV_INFO &)> &change) override
    {
        change(dev);
        return true;
    }
    void post(const RowEvent &e) override
    {
        if (e.cell == Field::Status)
            status = e.text;
        else if (e.cell == Field::Oemid)
            oemidCell = e.text;
    }
};

// Each device of the fleet shows one behaviour of the producer information.
const char kFleet[] = R"({"devices": [
  {"ip": "127.0.74.10", "mac": "00:12:34:74:00:10", "serial": "a1b2c3d4e5f60710"},
  {"ip": "127.0.74.11", "mac": "00:12:34:74:00:11", "serial": "a1b2c3d4e5f60711", "oemid": "ACME01"},
  {"ip": "127.0.74.12", "mac": "00:12:34:74:00:12", "serial": "a1b2c3d4e5f60712", "faults": {"producerGetRet": 105}},
  {"ip": "127.0.74.13", "mac": "00:12:34:74:00:13", "serial": "a1b2c3d4e5f60713", "faults": {"producerSetRet": 103}},
  {"ip": "127.0.74.14", "mac": "00:12:34:74:00:14", "serial": "a1b2c3d4", "password": "pw"},
  {"ip": "127.0.74.15", "mac": "00:12:34:74:00:15", "serial": "a1b2c3d4e5f60715", "faults": {"results": {"2162": -11000}}},
  {"ip": "127.0.74.16", "mac": "00:12:34:74:00:16", "serial": "a1b2c3d4e5f60716", "faults": {"producerGetUpper": true}}
]})";

class OemidAgainstDevsim : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_state = new QTemporaryDir;
        s_devsim = new DevsimFleet;
        const QString fleet = s_state->path() + "/fleet.json";
        QFile f(fleet);
        if (!f.open(QIODevice::WriteOnly) || f.write(kFleet) < 0) {
            s_error = "cannot write the fleet file";
            return;
        }
        f.close();
        DevsimOptions o;
        o.fleetFile = fleet;
        o.baseIp = "127.0.74.10";
        o.port = kPort;
        o.searchPort = 47231;
        o.recordsPort = 0;
        if (!s_devsim->start(o))
            s_error = s_devsim->error();
        H264_DVR_Init(nullptr, 0);
        H264_DVR_SetConnectTime(2000, 1);
    }
    static void TearDownTestSuite()
    {
        H264_DVR_Cleanup();
        delete s_devsim;
        delete s_state;
    }
    void SetUp() override { ASSERT_TRUE(s_error.isEmpty()) << s_error.toStdString(); }

    std::unique_ptr<OemidWriter> writer(Rows &rows, int device, const OemidVariant &variant,
                                        const char *password = "", const QString &assigned = "ACME01")
    {
        rows.dev.nPort = kPort;
        std::snprintf(rows.dev.szIpaddress, sizeof rows.dev.szIpaddress, "127.0.74.%d", 10 + (device & 7));
        std::strcpy(rows.dev.szUserName, "admin");
        std::strcpy(rows.dev.szPsw, password);
        std::snprintf(rows.dev.szCloudID, sizeof rows.dev.szCloudID,
                      device == 4 ? "a1b2c3d4" : "a1b2c3d4e5f607%d", 10 + device);
        std::snprintf(rows.dev.NetComm.sMac, sizeof rows.dev.NetComm.sMac, "00:12:34:74:00:%d", 10 + device);
        if (variant.reloginOnRead == false) {
            int error = 0;
            H264_DVR_DEVICEINFO info{};
            rows.dev.lLoginID =
                int32_t(H264_DVR_Login(rows.dev.szIpaddress, kPort, "admin", password, &info, 1, &error));
        }
        OemidWriterParams p;
        p.assignedOemid = assigned;
        p.variant = variant;
        p.appDir = app.path();
        p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords({app.path(), nullptr, p.stationMac}).makeUploadDirs();
        return std::make_unique<OemidWriter>(p, sdk, BoundRows(rows));
    }
    static QJsonObject deviceState(int device)
    {
        return s_devsim->state(QStringLiteral("00:12:34:74:00:%1").arg(10 + device));
    }
    int dayFileLines() const
    {
        int n = 0;
        for (const QString &name : QDir(app.path() + "/oemidupload/unupload").entryList(QDir::Files)) {
            QFile f(app.path() + "/oemidupload/unupload/" + name);
            f.open(QIODevice::ReadOnly);
            n += f.readAll().count('\n');
        }
        return n;
    }

    QTemporaryDir app;
    NetSdkOemid sdk;
    static QTemporaryDir *s_state;
    static DevsimFleet *s_devsim;
    static QString s_error;
};

QTemporaryDir *OemidAgainstDevsim::s_state = nullptr;
DevsimFleet *OemidAgainstDevsim::s_devsim = nullptr;
QString OemidAgainstDevsim::s_error;

TEST_F(OemidAgainstDevsim, WritesAndVerifies)
{
    Rows rows;
    auto w = writer(rows, 0, OemidVariant::oemidTab());
    w->resetRow();
    w->readDevOEMID(0);
    ASSERT_TRUE(w->loginOk()) << rows.status.toStdString();
    EXPECT_EQ(w->deviceOemid(), "000"); // "Ret" 109
    EXPECT_EQ(w->setDevOEMID(0), "Set OEMID Success");
    EXPECT_EQ(rows.oemidCell, "ACME01");
    EXPECT_EQ(deviceState(0)["oemid"].toString(), "ACME01");
    EXPECT_EQ(dayFileLines(), 1);

    // Read again: "Ret" 100 with the OEMID; the batch would call it a repeat, written again if allowed.
    w->resetRow();
    w->readDevOEMID(0);
    EXPECT_EQ(w->deviceOemid(), "ACME01");
    EXPECT_EQ(rows.status, "ACME01");
    EXPECT_EQ(w->setDevOEMID(0), "Set OEMID Success");
    EXPECT_EQ(dayFileLines(), 2);
    H264_DVR_Logout(rows.dev.lLoginID);
}

TEST_F(OemidAgainstDevsim, ReadOutcomesPerTab)
{
    struct Case {
        int device;
        OemidVariant variant;
        const char *oemid;
    } cases[] = {
        {1, OemidVariant::oemidTab(), "ACME01"},   {1, OemidVariant::firmwareTab(), "ACME01"},
        {2, OemidVariant::oemidTab(), "err"},      {2, OemidVariant::firmwareTab(), "err 3 105"},
        {2, OemidVariant::logoTab(), "err 3 105"},
    };
    for (const Case &c : cases) {
        Rows rows;
        auto w = writer(rows, c.device, c.variant);
        w->resetRow();
        w->readDevOEMID(0);
        EXPECT_EQ(w->deviceOemid(), c.oemid) << c.device << " " << int(c.variant.tab);
        H264_DVR_Logout(rows.dev.lLoginID);
    }
}

TEST_F(OemidAgainstDevsim, RefusedWriteAndFailedLogin)
{
    Rows rows;
    auto w = writer(rows, 3, OemidVariant::logoTab());
    w->readDevOEMID(0);
    const QString text = w->setDevOEMID(0);
    EXPECT_TRUE(text.startsWith("Set OEMID Failed ret=")) << text.toStdString();
    EXPECT_EQ(deviceState(3)["oemid"].toString(), "");
    EXPECT_EQ(dayFileLines(), 0);
    H264_DVR_Logout(rows.dev.lLoginID);

    // The write is accepted but nothing can be read back.
    Rows silent;
    auto w3 = writer(silent, 5, OemidVariant::oemidTab());
    w3->readDevOEMID(0);
    EXPECT_EQ(w3->deviceOemid(), "");
    const QString reget = w3->setDevOEMID(0);
    EXPECT_TRUE(reget.startsWith("Reget DevOEMID Failed ret=")) << reget.toStdString();
    EXPECT_EQ(deviceState(5)["oemid"].toString(), "ACME01");
    EXPECT_EQ(dayFileLines(), 0);
    H264_DVR_Logout(silent.dev.lLoginID);

    Rows wrong;
    auto w2 = writer(wrong, 4, OemidVariant::oemidTab(), "not-the-password");
    w2->readDevOEMID(0);
    EXPECT_FALSE(w2->loginOk());
    EXPECT_FALSE(wrong.status.isEmpty());
    EXPECT_LE(wrong.dev.lLoginID, 0);
}

TEST_F(OemidAgainstDevsim, ShortSerialKeyIsUnderstood)
{
    // An 8-character serial leaves key positions empty; the device derives the same key.
    Rows rows;
    auto w = writer(rows, 4, OemidVariant::firmwareTab(), "pw");
    w->readDevOEMID(0);
    EXPECT_EQ(w->setDevOEMID(0), "Set OEMID Success(ACME01)");
    EXPECT_EQ(deviceState(4)["oemid"].toString(), "ACME01");
    EXPECT_EQ(deviceState(4)["producerMac"].toString(), "AA:BB:CC:00:11:22");
    H264_DVR_Logout(rows.dev.lLoginID);
}

TEST_F(OemidAgainstDevsim, ReadBackInOtherCaseIsIncorrect)
{
    // The device stores the OEMID but reads it back upper-cased: the write is not verified and no
    // factory record is kept.
    Rows rows;
    auto w = writer(rows, 6, OemidVariant::oemidTab(), "", QStringLiteral("acme01"));
    w->readDevOEMID(0);
    const QString text = w->setDevOEMID(0);
    EXPECT_TRUE(text.startsWith("Set OEMID Incorrect")) << text.toStdString();
    EXPECT_EQ(deviceState(6)["oemid"].toString(), "acme01");
    EXPECT_EQ(dayFileLines(), 0);
    H264_DVR_Logout(rows.dev.lLoginID);
}

} // namespace
