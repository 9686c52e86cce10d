// One device of the OEMID tab's batch, without a window: the IP change, the read, the decision
// between write, repeat and error, and the settings after it.

#include "memoryrows.h"

#include "oemid/oemidcipher.h"
#include "oemid/oemidtabsteps.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>

#include <json/json.h>

#include <gtest/gtest.h>

#include <cstring>

namespace
{

// A device behind the SDK: answers the producer-information read from its OEMID, deciphers a write.
struct Device : OemidSdk {
    std::string serial = "9a8b7c6d5e4f3a2b";
    std::string oemid; // empty: no OEMID yet ("Ret" 109)
    int getRet = 0;    // forced "Ret" of the read; 0: the device's own
    bool loginOk = true;
    bool onvif = false; // the SDK has no producer information for it: reads fail
    int logins = 0, writes = 0;

    DeviceSession login(const DEV_INFO &, int *error) override
    {
        ++logins;
        if (!loginOk)
            *error = -11301;
        return DeviceSession(loginOk ? 7 : 0, [](long) {});
    }
    long getProducerInfo(long, char *buffer, int size, int *returned) override
    {
        if (onvif)
            return 0;
        std::string reply;
        if (getRet)
            reply = "{\"Ret\":" + std::to_string(getRet) + "}";
        else if (oemid.empty())
            reply = "{\"Ret\":109}";
        else
            reply = "{\"Ret\":100,\"ProducerInfo\":{\"OEMID\":\"" + oemid + "\"}}";
        std::strncpy(buffer, reply.c_str(), std::size_t(size - 1));
        *returned = int(reply.size());
        return 1;
    }
    long setProducerInfo(long, const char *text, int length) override
    {
        ++writes;
        Json::Value v, p;
        Json::Reader r;
        std::string plain;
        if (!r.parse(std::string(text, std::size_t(length)), v) ||
            !oemid::decryptData(v["Data"].asString(), serial, &plain) || !r.parse(plain, p))
            return -1;
        oemid = p["OEMID"].asString();
        return 1;
    }
    long lastError() override { return -99; }
    QString loginErrorText(int code) override { return QStringLiteral("login error %1").arg(code); }
};

struct Case {
    const char *name;
    OemidTabOptions options;
    std::string deviceOemid;
    int getRet;
    bool loginOk;
    int ipResult; // what the IP change returns
    OemidTabSteps::Outcome outcome;
    QStringList statuses; // every status text the row got, in order
    int writes;
    bool settings; // the settings ran
    const char *oemidAfter;
    bool onvif = false; // an ONVIF device
};

class OemidTabStepsTest : public ::testing::TestWithParam<Case>
{
};

TEST_P(OemidTabStepsTest, OneDevice)
{
    const Case &c = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath("oemidupload/unupload"));
    Device device;
    device.oemid = c.deviceOemid;
    device.getRet = c.getRet;
    device.loginOk = c.loginOk;
    device.onvif = c.onvif;
    DEV_INFO rec = MemoryRows::loggedIn(0, 3);
    rec.NetDevInfo.Protocol = c.onvif ? NETSDK_PROTOCOL_ONVIF : NETSDK_PROTOCOL_OWN;
    std::strcpy(rec.szCloudID, device.serial.c_str());
    std::strcpy(rec.NetComm.sMac, "00:12:34:56:78:9a");
    MemoryRows rows({rec});
    BoundRows bound(rows);
    OemidWriterParams p;
    p.assignedOemid = QStringLiteral("ACME01");
    p.appDir = tmp.path();
    p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
    OemidWriter writer(p, device, bound);
    int ipCalls = 0, settingsCalls = 0;
    OemidTabSteps::Hooks hooks;
    hooks.changeIp = [&](int) {
        ++ipCalls;
        return c.ipResult;
    };
    hooks.settings = [&](int row) {
        ++settingsCalls;
        bound.status(row, StatusOutcome::Neutral, QStringLiteral("<settings>"));
    };

    EXPECT_EQ(OemidTabSteps(c.options, writer, bound, hooks).run(0), c.outcome);
    QStringList expected = c.statuses;
    if (c.settings)
        expected << QStringLiteral("<settings>");
    EXPECT_EQ(rows.texts(0), expected);
    // Each text as the steps write it, and what they say it means.
    const QHash<QString, StatusOutcome> said = {
        {QStringLiteral("OTHER9"), StatusOutcome::Neutral}, // the OEMID read: the decision follows
        {QStringLiteral("ACME01"), StatusOutcome::Neutral},
        {QStringLiteral("set IP success"), StatusOutcome::Success},
        {QStringLiteral("Set OEMID Success"), StatusOutcome::Success},
        {QStringLiteral("OEMID Repeat(OTHER9)"), StatusOutcome::Failure},
        {QStringLiteral("OEMID Repeat(ACME01)"), StatusOutcome::Failure},
        {QStringLiteral("OEMID ERROR"), StatusOutcome::Failure},
        {QStringLiteral("login error -11301"), StatusOutcome::Failure},
        {QStringLiteral("dev login failed"), StatusOutcome::Failure},
        {QStringLiteral("<settings>"), StatusOutcome::Neutral},
        {QStringLiteral("Not supported over ONVIF"), StatusOutcome::Unsupported},
    };
    QList<StatusOutcome> expectedSaid;
    for (const QString &text : expected)
        expectedSaid << said.value(text, StatusOutcome::Neutral);
    EXPECT_EQ(rows.outcomes(0), expectedSaid);
    EXPECT_EQ(ipCalls, c.options.modifyIp ? 1 : 0);
    EXPECT_EQ(device.logins, c.outcome == OemidTabSteps::Outcome::IpSkipped ? 0 : 1);
    EXPECT_EQ(device.writes, c.writes);
    EXPECT_EQ(settingsCalls, c.settings ? 1 : 0);
    EXPECT_EQ(device.oemid, c.oemidAfter);
    // A verified write leaves one factory record, and nothing else does.
    const QStringList days = QDir(tmp.path() + "/oemidupload/unupload").entryList(QDir::Files);
    EXPECT_EQ(days.size(), c.writes && std::string(c.oemidAfter) == "ACME01" ? 1 : 0);
}

using O = OemidTabSteps::Outcome;
const OemidTabOptions kNone{false, false, false};
const OemidTabOptions kWrite{true, false, false};
const OemidTabOptions kRepeat{true, true, false};
const OemidTabOptions kMoveFirst{true, false, true};

INSTANTIATE_TEST_SUITE_P(
    Steps, OemidTabStepsTest,
    ::testing::Values(
        // Only settings ticked: the readable OEMID is shown, nothing is written.
        Case{"settingsOnly", kNone, "OTHER9", 0, true, 1, O::Done, {"OTHER9"}, 0, true, "OTHER9"},
        Case{"firstWrite", kWrite, "", 0, true, 1, O::Done, {"Set OEMID Success"}, 1, true, "ACME01"},
        Case{"otherOemidIsARepeat",
             kWrite,
             "OTHER9",
             0,
             true,
             1,
             O::Done,
             {"OTHER9", "OEMID Repeat(OTHER9)"},
             0,
             true,
             "OTHER9"},
        Case{"ownOemidIsARepeat",
             kWrite,
             "ACME01",
             0,
             true,
             1,
             O::Done,
             {"ACME01", "OEMID Repeat(ACME01)"},
             0,
             true,
             "ACME01"},
        Case{"repeatAllowed",
             kRepeat,
             "OTHER9",
             0,
             true,
             1,
             O::Done,
             {"OTHER9", "Set OEMID Success"},
             1,
             true,
             "ACME01"},
        // An unreadable producer information: no write and none of the settings, ticked or not.
        Case{"readError", kWrite, "", 103, true, 1, O::OemidError, {"OEMID ERROR"}, 0, false, ""},
        Case{"readErrorSettingsOnly", kNone, "", 103, true, 1, O::OemidError, {"OEMID ERROR"}, 0, false, ""},
        Case{"loginFails",
             kWrite,
             "",
             0,
             false,
             1,
             O::LoginFailed,
             {"login error -11301", "dev login failed"},
             0,
             false,
             ""},
        Case{"ipChanged",
             kMoveFirst,
             "",
             0,
             true,
             1,
             O::Done,
             {"set IP success", "Set OEMID Success"},
             1,
             true,
             "ACME01"},
        // The IP change wrote its own status; the row is skipped.
        Case{"ipChangeFails", kMoveFirst, "", 0, true, -1, O::IpSkipped, {}, 0, false, ""},
        Case{"ipChangeNothing", kMoveFirst, "", 0, true, 0, O::IpSkipped, {}, 0, false, ""},
        // An ONVIF device: no OEMID, said so, neither way; its clock and zone settings still run.
        Case{"onvifWrite", kWrite, "", 0, true, 1, O::Done, {"Not supported over ONVIF"}, 0, true, "", true},
        Case{"onvifSettingsOnly", kNone, "", 0, true, 1, O::Done, {}, 0, true, "", true},
        Case{"onvifLoginFails",
             kWrite,
             "",
             0,
             false,
             1,
             O::LoginFailed,
             {"login error -11301", "dev login failed"},
             0,
             false,
             "",
             true}),
    [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

} // namespace
