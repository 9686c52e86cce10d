#include "answers.h"
#include "device/devicetable.h"
#include "device/ipchange.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace
{

struct FakeSdk {
    long answer = 1;
    int calls = 0;
    int channel = 0;
    SDK_NET_BLOCK sent{};
    int logouts = 0;

    IpChange::Sdk sdk()
    {
        IpChange::Sdk s;
        s.setConfigOverNet = [this](unsigned long command, int ch, char *block, unsigned long size,
                                    int wait) {
            EXPECT_EQ(command, 20u);
            EXPECT_EQ(size, 400u);
            EXPECT_EQ(wait, 20000);
            ++calls;
            channel = ch;
            std::memcpy(&sent, block, sizeof sent);
            return answer;
        };
        s.stationMac = [] { return QStringLiteral("02:AA:BB:CC:DD:EE"); };
        return s;
    }
    /// A row's login whose end is counted here.
    DeviceSession session(long loginId)
    {
        return DeviceSession(loginId, [this](long) { ++logouts; });
    }
};

void fill(DeviceTable &table, int rows, uint8_t lastByte = 2)
{
    for (int i = 0; i < rows; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "aa:00:00:00:00:%02x", unsigned(uint8_t(i)));
        table.appendRow(
            *fillFromSearch(table.variant(), makeAnswer(mac, 127, 0, 0, uint8_t(lastByte + i)), i));
    }
}

QString cell(const DeviceTable &table, int row, int col)
{
    return table.model()->index(row, col).data().toString();
}

} // namespace

// The device is 127.0.0.2, its gateway 127.0.0.1; this station has 127.0.0.25 and 127.0.0.1 too.
TEST(IpChangePlan, NewLastByteIsRowPlusStartIndex)
{
    using IpChange::Refusal;
    using IpChange::Step;
    struct Case {
        int row, start, type;
        Step step;
        int lastByte, channel;
        Refusal refusal;
    } cases[] = {
        {0, 20, 1, Step::Send, 20, 1, Refusal::None},
        {6, 20, 1, Step::Send, 26, 1, Refusal::None},
        {0, 20, 2, Step::Send, 20, 254, Refusal::None},
        {0, 2, 1, Step::AlreadyRight, 2, 1, Refusal::None},
        {0, 20, 4, Step::Nothing, 2, 1, Refusal::None},
        {0, 20, 0, Step::Nothing, 2, 1, Refusal::None},
        // The top of the range, and past it: 8 bits would give .255, .0 and then .1, the gateway.
        {234, 20, 1, Step::Send, 254, 1, Refusal::None},
        {235, 20, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {236, 20, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {237, 20, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {238, 20, 2, Step::Refused, 2, 254, Refusal::OutOfRange},
        {239, 20, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {240, 20, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {0, 0, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {0, -5, 1, Step::Refused, 2, 1, Refusal::OutOfRange},
        {0, 1, 1, Step::Refused, 2, 1, Refusal::Gateway},
        {5, 20, 1, Step::Refused, 2, 1, Refusal::Station},
    };
    const QList<quint32> station{0x7f000019u, 0x7f000001u};
    for (const Case &c : cases) {
        DEV_INFO rec =
            fillFromSearch(tableVariant(TabKind::Firmware), makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 2), 0)
                ->record;
        const IpChange::Plan p =
            IpChange::plan(rec, c.row, c.type, c.start, tableVariant(TabKind::Firmware), station);
        EXPECT_EQ(p.step, c.step) << c.row << "/" << c.type << "/" << c.start;
        EXPECT_EQ(p.refusal, c.refusal) << c.row << "/" << c.type << "/" << c.start;
        EXPECT_EQ(rec.NetComm.HostIP[3], c.lastByte) << c.row << "/" << c.type << "/" << c.start;
        if (p.step == Step::Send) {
            EXPECT_EQ(p.channel, c.channel);
            EXPECT_EQ(rec.NetComm.ChangeFlag, 1);
            EXPECT_EQ(rec.nLastByte, 2);
        }
        if (p.step == Step::Refused) {
            // Nothing of the record changed.
            EXPECT_EQ(rec.NetComm.ChangeFlag, 0);
            EXPECT_EQ(rec.nLastByte, 0);
        }
    }
}

TEST(IpChange, StartIndexProblem)
{
    for (const int ok : {1, 20, 254})
        EXPECT_TRUE(IpChange::startIndexProblem(ok).isEmpty()) << ok;
    for (const int bad : {-1, 0, 255, 300})
        EXPECT_TRUE(IpChange::startIndexProblem(bad).contains(QString::number(bad))) << bad;
}

TEST(IpChangePlan, RestoreAndOemidChannel)
{
    DEV_INFO rec =
        fillFromSearch(tableVariant(TabKind::Oemid), makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 2), 0)
            ->record;
    EXPECT_EQ(IpChange::plan(rec, 3, 2, 20, tableVariant(TabKind::Oemid)).channel, 1);
    EXPECT_EQ(rec.NetComm.HostIP[3], 23);
    const IpChange::Plan back = IpChange::plan(rec, 3, 3, 20, tableVariant(TabKind::Firmware));
    EXPECT_EQ(back.channel, 254);
    EXPECT_EQ(rec.NetComm.HostIP[3], 2);
}

TEST(IpChangePlan, NothingOnlyWithoutAnyNetworkData)
{
    struct Case {
        const char *what;
        uint8_t gateway, mask;
        const char *mac;
        IpChange::Step step;
    } cases[] = {
        {"empty block", 0, 0, "", IpChange::Step::Nothing},
        // Any one of the three is network data: the change goes ahead and the SDK has its say.
        {"gateway, no MAC", 10, 0, "", IpChange::Step::Send},
        {"mask, no MAC", 0, 255, "", IpChange::Step::Send},
        {"MAC only", 0, 0, "aa:00:00:00:00:01", IpChange::Step::Send},
    };
    for (const Case &c : cases) {
        DEV_INFO rec;
        std::memset(&rec, 0, sizeof rec);
        rec.NetComm.Gateway[0] = c.gateway;
        rec.NetComm.Submask[0] = c.mask;
        std::strcpy(rec.NetComm.sMac, c.mac);
        EXPECT_EQ(IpChange::plan(rec, 0, 1, 20, tableVariant(TabKind::Firmware)).step, c.step) << c.what;
    }
}

TEST(ModifyIP, EmptyMacIsSentAndItsFailureShows)
{
    DeviceTable table(TabKind::Firmware);
    table.appendRow(*fillFromSearch(table.variant(), makeAnswer("aa:00:00:00:00:01", 127, 0, 0, 2), 0));
    table.updateDevice(table.generation(), 0,
                       [](DEV_INFO &r) { std::memset(r.NetComm.sMac, 0, sizeof r.NetComm.sMac); });
    FakeSdk fake;
    fake.answer = NETSDK_ERR_PARAM; // what the SDK answers to a block without a MAC
    EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, fake.sdk()), -1);
    EXPECT_EQ(fake.calls, 1);
    EXPECT_EQ(cell(table, 0, 3), QStringLiteral("Set Ip Fail"));

    // The SDK itself refuses a block it cannot address.
    SDK_NET_BLOCK block = table.store().record(table.generation(), 0).value().NetComm;
    H264_DVR_Init(nullptr, 0);
    EXPECT_EQ(H264_DVR_SetConfigOverNet(NETSDK_CFG_NET_COMMON, 1, reinterpret_cast<char *>(&block),
                                        sizeof block, 1000),
              NETSDK_ERR_PARAM);
    H264_DVR_Cleanup();
}

TEST(ModifyIP, ResultsPerSdkAnswerAndTab)
{
    struct Case {
        TabKind kind;
        long answer;
        int result;
        const char *ipCell;
        int statusColumn;
        const char *status;
    } cases[] = {
        {TabKind::Firmware, 1, 1, "127.0.0.20", 3, ""},
        {TabKind::Firmware, 0, 1, "127.0.0.20", 3, ""},
        {TabKind::Logo, -10005, 1, "127.0.0.20", 3, ""},
        {TabKind::Firmware, -11401, -1, "127.0.0.2", 3, "Need Reboot"},
        {TabKind::Firmware, -11307, -1, "127.0.0.2", 3, "Set Ip Fail"},
        {TabKind::Logo, -1, -1, "127.0.0.2", 3, "Set Ip Fail"},
        {TabKind::Oemid, -1, -1, "127.0.0.2", 2, "change IP failed"},
        {TabKind::Oemid, -11401, -1, "127.0.0.2", 2, "Need Reboot"},
    };
    for (const Case &c : cases) {
        DeviceTable table(c.kind);
        fill(table, 1);
        FakeSdk fake;
        fake.answer = c.answer;
        EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, fake.sdk()), c.result)
            << c.answer;
        EXPECT_EQ(fake.calls, 1);
        EXPECT_EQ(fake.sent.HostIP[3], 20);
        EXPECT_STREQ(fake.sent.sHostMac, "02:AA:BB:CC:DD:EE");
        EXPECT_EQ(cell(table, 0, 1).toStdString(), c.ipCell);
        EXPECT_EQ(cell(table, 0, c.statusColumn).toStdString(), c.status) << c.answer;
        // A moved device's new address is a value, not a result; every refusal is a failure.
        EXPECT_EQ(table.statusOutcome(0), *c.status ? StatusOutcome::Failure : StatusOutcome::Neutral)
            << c.answer;
        const DEV_INFO rec = table.store().record(table.generation(), 0).value();
        EXPECT_EQ(std::string(rec.szIpaddress), c.ipCell);
        EXPECT_EQ(rec.NetComm.HostIP[3], 20); // kept even when the change failed
        EXPECT_EQ(rec.nLastByte, 2);
    }
}

// A camera the SDK has no login of refuses the change (it moves by SOAP calls, which need
// credentials): the change logs in with the row's credentials and goes again; our own devices never
// log in for it.
TEST(ModifyIP, CameraWithoutALoginLogsInAndTriesAgain)
{
    struct Case {
        const char *name;
        bool onvif;
        QList<long> answers; ///< the SDK's answers, one a call
        int loginError;      ///< 0: the login works
        int result, calls, logins;
        const char *status;
    } cases[] = {
        {"camera, login works", true, {NETSDK_ERR_HANDLE, 1}, 0, 1, 2, 1, ""},
        {"camera, wrong password",
         true,
         {NETSDK_ERR_HANDLE},
         NETSDK_ERR_PASSWORD,
         -1,
         1,
         1,
         "Password is error"},
        {"camera, refused again",
         true,
         {NETSDK_ERR_HANDLE, NETSDK_ERR_DEVICE_FAULT},
         0,
         -1,
         2,
         1,
         "Set Ip Fail"},
        {"camera known to the SDK", true, {1}, 0, 1, 1, 0, ""},
        {"our own device", false, {NETSDK_ERR_HANDLE}, 0, -1, 1, 0, "Set Ip Fail"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceTable table(TabKind::Firmware);
        fill(table, 1);
        table.store().updateDevice(table.generation(), 0, [&c](DEV_INFO &r) {
            r.NetDevInfo.Protocol = c.onvif ? NETSDK_PROTOCOL_ONVIF : 0;
        });
        FakeSdk fake;
        IpChange::Sdk sdk = fake.sdk();
        QList<long> answers = c.answers;
        sdk.setConfigOverNet = [&answers, &fake, inner = sdk.setConfigOverNet](
                                   unsigned long command, int ch, char *block, unsigned long size, int wait) {
            fake.answer = answers.isEmpty() ? -1 : answers.takeFirst();
            return inner(command, ch, block, size, wait);
        };
        int logins = 0;
        sdk.login = [&](const DEV_INFO &, int *error) {
            ++logins;
            *error = c.loginError;
            return c.loginError ? DeviceSession() : fake.session(7);
        };
        EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, sdk), c.result);
        EXPECT_EQ(fake.calls, c.calls);
        EXPECT_EQ(logins, c.logins);
        EXPECT_EQ(fake.logouts, c.loginError ? 0 : c.logins); // the change's own login ends with it
        EXPECT_EQ(cell(table, 0, 3).toStdString(), c.status);
    }
}

// A refused address is never sent: the row says why, keeps its address and counts as failed.
TEST(ModifyIP, RefusedAddressIsNotSent)
{
    struct Case {
        int rows, row, start;
        const char *status;
    } cases[] = {
        {237, 236, 20, "Set Ip refused: last byte 256 is outside 1-254"},
        {1, 0, 1, "Set Ip refused: 127.0.0.1 is the gateway"},
        {6, 5, 20, "Set Ip refused: 127.0.0.25 is this computer's address"},
    };
    for (const Case &c : cases) {
        DeviceTable table(TabKind::Firmware);
        fill(table, c.rows);
        FakeSdk fake;
        IpChange::Sdk sdk = fake.sdk();
        sdk.stationAddresses = [] { return QList<quint32>{0x7f000019u}; };
        const DEV_INFO before = table.store().record(table.generation(), c.row).value();
        EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), c.row, 1, c.start, sdk), -1)
            << c.status;
        EXPECT_EQ(fake.calls, 0);
        table.flushPending();
        EXPECT_EQ(cell(table, c.row, 3).toStdString(), c.status);
        EXPECT_EQ(table.statusOutcome(c.row), StatusOutcome::Failure);
        const DEV_INFO after = table.store().record(table.generation(), c.row).value();
        EXPECT_STREQ(after.szIpaddress, before.szIpaddress);
        EXPECT_EQ(std::memcmp(&after.NetComm, &before.NetComm, sizeof after.NetComm), 0);
    }
}

TEST(ModifyIP, AlreadyRightSendsNothing)
{
    DeviceTable table(TabKind::Firmware);
    fill(table, 1, 20);
    FakeSdk fake;
    EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, fake.sdk()), 1);
    EXPECT_EQ(fake.calls, 0);
    EXPECT_TRUE(cell(table, 0, 3).isEmpty());
}

TEST(ModifyIP, MissingRowAndOemidLogout)
{
    DeviceTable table(TabKind::Oemid);
    FakeSdk fake;
    EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, fake.sdk()), 0);
    fill(table, 1);
    table.giveSession(table.generation(), 0, fake.session(9));
    EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, fake.sdk()), 1);
    EXPECT_EQ(fake.logouts, 1);
    EXPECT_EQ(fake.channel, 1);
    EXPECT_EQ(table.store().record(table.generation(), 0).value().lLoginID, 0);

    DeviceTable fw(TabKind::Firmware);
    fill(fw, 1);
    fw.giveSession(fw.generation(), 0, fake.session(9));
    EXPECT_EQ(IpChange::modifyIP(fw.store(), fw.generation(), 0, 2, 20, fake.sdk()), 1);
    EXPECT_EQ(fake.logouts, 1); // the firmware tab keeps its login
    EXPECT_EQ(fake.channel, 254);
}

// A search that replaces the rows while a change waits for its device: the new rows keep their
// records and texts, whatever the device answered.
TEST(ModifyIP, RowsReplacedDuringTheChangeAreLeftAlone)
{
    for (const long answer : {1L, -11401L, -1L}) {
        DeviceTable table(TabKind::Firmware);
        fill(table, 1);
        FakeSdk fake;
        fake.answer = answer;
        DEV_INFO fresh{};
        IpChange::Sdk sdk = fake.sdk();
        sdk.setConfigOverNet = [&table, &fresh, inner = sdk.setConfigOverNet](
                                   unsigned long command, int ch, char *block, unsigned long size, int wait) {
            table.clear();
            fill(table, 1, 7);
            fresh = table.store().record(table.generation(), 0).value();
            return inner(command, ch, block, size, wait);
        };
        EXPECT_EQ(IpChange::modifyIP(table.store(), table.generation(), 0, 1, 20, sdk), answer == 1 ? 1 : -1)
            << answer;
        EXPECT_EQ(fake.calls, 1);
        QCoreApplication::processEvents();
        const DEV_INFO after = table.store().record(table.generation(), 0).value();
        EXPECT_EQ(std::memcmp(&after, &fresh, sizeof after), 0) << answer;
        EXPECT_EQ(after.NetComm.HostIP[3], 7) << answer;
        EXPECT_EQ(cell(table, 0, 1), QStringLiteral("127.0.0.7")) << answer;
        EXPECT_TRUE(cell(table, 0, table.variant().statusColumn).isEmpty()) << answer;
        EXPECT_EQ(table.statusOutcome(0), StatusOutcome::Neutral) << answer;
    }
}
