#include "oemid/oemidcipher.h"
#include "oemid/oemidwriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <json/json.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace
{

// A device as the procedure sees it through the SDK: it deciphers "Data" with its serial's key.
struct FakeDevice : OemidSdk {
    std::string serial = "9a8b7c6d5e4f3a2b";
    std::string oemid;      // empty: no OEMID yet ("Ret" 109)
    std::string getReply;   // forced reply text of the read; empty: the device's own
    std::string regetReply; // forced reply after a write
    long getResult = 1;     // result of the read
    long regetResult = 1;   // result of the read after a write
    long setResult = 1;
    bool upperCaseOnStore = false;
    int loginResult = 7;
    int loginError = -11301;
    int logins = 0, logouts = 0, writes = 0;
    std::string lastPlain, lastText;

    DeviceSession login(const DEV_INFO &, int *error) override
    {
        ++logins;
        if (loginResult <= 0)
            *error = loginError;
        return session(loginResult);
    }
    /// A login on this device, whose end is counted.
    DeviceSession session(long loginId)
    {
        return DeviceSession(loginId, [this](long) { ++logouts; });
    }
    long getProducerInfo(long, char *buffer, int size, int *returned) override
    {
        const long result = writes ? regetResult : getResult;
        std::string reply = writes && !regetReply.empty() ? regetReply : getReply;
        if (reply.empty())
            reply = oemid.empty() ? "{\"Ret\":109}"
                                  : "{\"Ret\":100,\"ProducerInfo\":{\"OEMID\":\"" + oemid + "\"}}";
        if (result != 0) {
            std::strncpy(buffer, reply.c_str(), std::size_t(size - 1));
            *returned = int(reply.size());
        }
        return result;
    }
    long setProducerInfo(long, const char *text, int length) override
    {
        ++writes;
        lastText.assign(text, std::size_t(length));
        Json::Value v;
        Json::CharReaderBuilder b;
        std::string errs;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        if (!r->parse(text, text + length, &v, &errs) ||
            !oemid::decryptData(v["Data"].asString(), serial, &lastPlain))
            return -1;
        Json::Value p;
        if (!r->parse(lastPlain.data(), lastPlain.data() + lastPlain.size(), &p, &errs))
            return -1;
        if (setResult >= 1) {
            oemid = p["OEMID"].asString();
            if (upperCaseOnStore)
                for (char &c : oemid)
                    c = char(std::toupper(static_cast<unsigned char>(c)));
            getReply.clear();
        }
        return setResult;
    }
    long lastErrorCode = -99;
    long lastError() override { return lastErrorCode; }
    QString loginErrorText(int code) override { return QStringLiteral("login error %1").arg(code); }
};

struct FakeRows : DeviceRows {
    DEV_INFO dev{};
    bool present = true;
    QString status, oemidCell;
    StatusOutcome said = StatusOutcome::Neutral; ///< what the procedure said of `status`
    bool oemidCellIsReport = false;
    quint64 generation() const override { return 0; }
    int rowCount() const override { return 1; }
    DeviceSession session; ///< the row's login
    bool device(quint64, int, DEV_INFO *out) const override
    {
        if (present) {
            *out = dev;
            out->lLoginID = int32_t(session.id());
        }
        return present;
    }
    bool updateDevice(quint64, int, const std::function<void(DEV_INFO &)> &change) override
    {
        change(dev);
        return present;
    }
    DeviceSession takeSession(quint64, int) override
    {
        return present ? std::move(session) : DeviceSession();
    }
    DeviceSession giveSession(quint64, int, DeviceSession s) override
    {
        if (present)
            std::swap(s, session);
        return s;
    }
    void post(const RowEvent &e) override
    {
        if (e.cell == Field::Status) {
            status = e.text;
            said = e.outcome;
        } else if (e.cell == Field::Oemid) {
            oemidCell = e.text;
            oemidCellIsReport = e.isReport;
        }
    }
};

struct Bench {
    QTemporaryDir tmp;
    FakeDevice device;
    FakeRows rows;
    QString stationMac = QStringLiteral("AA:BB:CC:00:11:22");
    QStringList boxes;
    std::unique_ptr<OemidWriter> writer;

    explicit Bench(const OemidVariant &variant, const QString &assigned = QStringLiteral("ACME01"))
    {
        rows.session = device.session(5);
        std::strcpy(rows.dev.szCloudID, device.serial.c_str());
        std::strcpy(rows.dev.NetComm.sMac, "00:12:34:56:78:9a");
        QDir(tmp.path()).mkpath("oemidupload/unupload");
        QDir(tmp.path()).mkpath("oemidupload/upload");
        OemidWriterParams p;
        p.assignedOemid = assigned;
        p.variant = variant;
        p.appDir = tmp.path();
        p.clock = [] { return QDateTime(QDate(2022, 1, 2), QTime(3, 4, 5)); };
        p.stationMac = [this] { return stationMac; };
        p.message = [this](const QString &title, const QString &text) { boxes << title + "/" + text; };
        writer = std::make_unique<OemidWriter>(p, device, BoundRows(rows));
    }
    QByteArray dayFile() const
    {
        QFile f(tmp.path() + "/oemidupload/unupload/AABBCC0011222022-01-02.log");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

struct ReadCase {
    const char *name;
    std::string reply;
    long result;
    long lastError;
    const char *oemidTab; // device OEMID in the OEMID tab
    const char *firmware; // in the firmware/logo tabs
};

class ReadDevOemid : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(ReadDevOemid, SetsDeviceOemid)
{
    const ReadCase &c = GetParam();
    for (const OemidVariant &v : {OemidVariant::oemidTab(), OemidVariant::firmwareTab()}) {
        Bench b(v);
        b.device.getReply = c.reply;
        b.device.getResult = c.result;
        b.device.lastErrorCode = c.lastError;
        b.writer->resetRow();
        b.writer->readDevOEMID(0);
        const bool oemidTab = v.tab == OemidVariant::Tab::Oemid;
        EXPECT_EQ(b.writer->deviceOemid(), oemidTab ? c.oemidTab : c.firmware)
            << c.name << " tab " << int(v.tab);
        EXPECT_TRUE(b.writer->loginOk());
        EXPECT_EQ(b.device.logins, oemidTab ? 1 : 0);
        EXPECT_EQ(b.device.logouts, oemidTab ? 1 : 0) << "the old login is closed before the new one";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadDevOemid,
    ::testing::Values(
        ReadCase{"ret100", R"({"Ret":100,"ProducerInfo":{"OEMID":"XYZ"}})", 1, -99, "XYZ", "XYZ"},
        ReadCase{"ret100text", R"({"Ret":"100","ProducerInfo":{"OEMID":"XYZ"}})", 1, -99, "XYZ", ""},
        ReadCase{"ret100nooemid", R"({"Ret":100})", 1, -99, "", ""},
        ReadCase{"ret109", R"({"Ret":109})", 1, -99, "000", "000"},
        ReadCase{"ret103", R"({"Ret":103})", 1, -99, "err", "err 3 103"},
        ReadCase{"noret", R"({"x":1})", 1, -99, "err", "err 3 0"},
        ReadCase{"garbage", "not json", 1, -99, "err", "err 3 0"},
        ReadCase{"badshape", R"({"Ret":100,"ProducerInfo":[1]})", 1, -99, "", ""},
        ReadCase{"readfails", "", 0, -99, "", "err 2 0"},
        // The SDK reports a device without an OEMID as a failed read with this last error.
        ReadCase{"noOemidCode", "", 0, -11501, "000", "000"}),
    [](const ::testing::TestParamInfo<ReadCase> &i) { return std::string(i.param.name); });

TEST(ReadDevOemid, LoginFailureAndMissingLogin)
{
    Bench b(OemidVariant::oemidTab());
    b.device.loginResult = 0;
    b.writer->readDevOEMID(0);
    EXPECT_FALSE(b.writer->loginOk());
    EXPECT_EQ(b.rows.status, "login error -11301");
    EXPECT_EQ(b.rows.said, StatusOutcome::Failure);
    EXPECT_FALSE(b.rows.session.loggedIn());

    Bench f(OemidVariant::firmwareTab());
    f.rows.session.reset();
    f.writer->readDevOEMID(0);
    EXPECT_EQ(f.writer->deviceOemid(), "err 1 0");
    EXPECT_EQ(f.device.logins, 0);
}

struct WriteCase {
    const char *name;
    long setResult;
    long regetResult;
    bool upper;
    std::string regetReply; // forced reply after the write
    const char *oemidTab, *firmware, *logo;
    bool record;
};

class SetDevOemid : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(SetDevOemid, ResultTexts)
{
    const WriteCase &c = GetParam();
    const OemidVariant variants[] = {OemidVariant::oemidTab(), OemidVariant::firmwareTab(),
                                     OemidVariant::logoTab()};
    const char *expected[] = {c.oemidTab, c.firmware, c.logo};
    for (int i = 0; i < 3; ++i) {
        Bench b(variants[i], "acme01");
        b.device.setResult = c.setResult;
        b.device.regetResult = c.regetResult;
        b.device.upperCaseOnStore = c.upper;
        b.writer->readDevOEMID(0);
        b.device.regetReply = c.regetReply;
        const QString text = b.writer->setDevOEMID(0);
        EXPECT_EQ(b.rows.status, expected[i]) << c.name << " variant " << i;
        EXPECT_EQ(text, b.rows.status);
        EXPECT_EQ(b.rows.said, QString(expected[i]).startsWith("Set OEMID Success") ? StatusOutcome::Success
                                                                                    : StatusOutcome::Failure)
            << c.name << " variant " << i;
        EXPECT_EQ(!b.dayFile().isEmpty(), c.record && QString(expected[i]).startsWith("Set OEMID Success"))
            << c.name << " variant " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SetDevOemid,
    ::testing::Values(WriteCase{"verified", 1, 1, false, "", "Set OEMID Success", "Set OEMID Success(acme01)",
                                "Set OEMID Success(acme01)", true},
                      WriteCase{"refused", -11000, 1, false, "", "Set OEMID Failed ret=-11000,code:-99",
                                "Set OEMID Failed", "Set OEMID Failed ret=-11000,code:-99", false},
                      WriteCase{"zero", 0, 1, false, "", "Set OEMID Failed ret=0,code:-99",
                                "Set OEMID Failed", "Set OEMID Failed ret=0,code:-99", false},
                      WriteCase{"noreread", 2, 0, false, "", "Reget DevOEMID Failed ret=2,code:-99",
                                "Reget DevOEMID Failed", "Reget DevOEMID Failed ret=2,code:-99", false},
                      WriteCase{"lettercase", 1, 1, true, "", "Set OEMID Incorrect ret=1,code:-99",
                                "Set OEMID Incorrect", "Set OEMID Incorrect ret=1,code:-99", false},
                      // The logo tab's re-read insists on "Ret" 100 or 109.
                      WriteCase{"rereadRet103", 1, 1, false,
                                R"({"Ret":103,"ProducerInfo":{"OEMID":"acme01"}})", "Set OEMID Success",
                                "Set OEMID Success(acme01)", "Reget DevOEMID Failed ret=1,code:-99", true}),
    [](const ::testing::TestParamInfo<WriteCase> &i) { return std::string(i.param.name); });

TEST(SetDevOemid, PlainTextAndRecord)
{
    Bench b(OemidVariant::oemidTab(), "ACME01");
    // OEMID tab without an IP change: the record's station MAC field is empty.
    b.writer->readDevOEMID(0);
    EXPECT_EQ(b.writer->deviceOemid(), "000");
    ASSERT_EQ(b.writer->setDevOEMID(0), "Set OEMID Success");
    EXPECT_EQ(b.device.lastPlain, "{\"MAC\":\"\",\"OEMID\":\"ACME01\"}\n");
    EXPECT_EQ(b.device.lastText.back(), '\n');
    EXPECT_EQ(b.device.lastText.rfind("{\"Data\":\"", 0), 0u);
    EXPECT_EQ(b.rows.oemidCell, "ACME01");
    EXPECT_FALSE(b.rows.oemidCellIsReport) << "the OEMID read back is a value, not a result";
    const QByteArray line = b.dayFile();
    EXPECT_TRUE(line.startsWith("9a8b7c6d5e4f3a2b,00123456789a,ACME01,2022-01-02 03-04-05,AABBCC001122,"))
        << line.toStdString();

    // The firmware tab looks the station MAC up and keeps it in the record.
    Bench f(OemidVariant::firmwareTab(), "ACME01");
    f.writer->readDevOEMID(0);
    ASSERT_EQ(f.writer->setDevOEMID(0), "Set OEMID Success(ACME01)");
    EXPECT_EQ(f.device.lastPlain, "{\"MAC\":\"AA:BB:CC:00:11:22\",\"OEMID\":\"ACME01\"}\n");
    EXPECT_STREQ(f.rows.dev.NetComm.sHostMac, "AA:BB:CC:00:11:22");
}

TEST(SetDevOemid, RecordThatCannotBeWrittenStopsOemidWriting)
{
    for (const OemidVariant &v :
         {OemidVariant::oemidTab(), OemidVariant::firmwareTab(), OemidVariant::logoTab()}) {
        Bench b(v);
        ASSERT_TRUE(QDir(b.tmp.path() + "/oemidupload").removeRecursively());
        b.writer->readDevOEMID(0);
        const QString text = b.writer->setDevOEMID(0);
        const char *stopped = "OEMID writing stopped: factory records cannot be saved (";
        if (v.dayFileErrorInStatus) {
            EXPECT_TRUE(text.startsWith("Creat logfile Failed Err ")) << text.toStdString();
            EXPECT_TRUE(b.boxes.isEmpty());
        } else {
            EXPECT_TRUE(text.startsWith("Creat logfile Failed; ")) << text.toStdString();
            ASSERT_EQ(b.boxes.size(), 1);
            EXPECT_TRUE(b.boxes[0].startsWith(QStringLiteral("file/Creat logfile Failed\n") + stopped))
                << b.boxes[0].toStdString();
        }
        EXPECT_TRUE(text.contains(stopped)) << text.toStdString();
        EXPECT_EQ(b.rows.status, text);
        EXPECT_EQ(b.rows.said, StatusOutcome::Failure) << "written, but without its record";
        EXPECT_EQ(b.device.oemid, "ACME01") << "the OEMID stays written";

        // The next device gets no OEMID while the record cannot be written.
        b.device.oemid.clear();
        b.device.writes = 0;
        b.writer->resetRow();
        b.writer->readDevOEMID(0);
        const QString next = b.writer->setDevOEMID(0);
        EXPECT_TRUE(next.startsWith("OEMID not written: 1 factory records cannot be saved ("))
            << next.toStdString();
        EXPECT_EQ(b.rows.status, next);
        EXPECT_EQ(b.rows.said, StatusOutcome::Failure);
        EXPECT_EQ(b.device.writes, 0);
        EXPECT_EQ(b.device.oemid, "");

        // Once the records can be written, the held one goes first and writing goes on.
        ASSERT_TRUE(QDir(b.tmp.path()).mkpath("oemidupload/unupload"));
        b.writer->resetRow();
        b.writer->readDevOEMID(0);
        EXPECT_TRUE(b.writer->setDevOEMID(0).startsWith("Set OEMID Success"));
        EXPECT_EQ(b.device.oemid, "ACME01");
        EXPECT_EQ(b.dayFile().count("\r\n"), 2);
    }
}

TEST(SetDevOemid, RefusesWhatDoesNotFit)
{
    struct Case {
        QString oemid;
        const char *mac;
        std::string serial;
        const char *status; // prefix; empty = written
    } cases[] = {
        {"000", "", "SN1", "No OEMID assigned"},
        {"", "", "SN1", "No OEMID assigned"},
        {QString(64, 'x'), "", "SN1", "OEMID too long: 64 characters, at most 63"},
        {QString::fromUtf8("caf\u00e9\u4e2d"), "", "SN1", "The OEMID may only hold Latin-1"},
        {"A", "", std::string(32, 's'), "Serial number too long: 32 characters, at most 31"},
        // 17-character MAC: 49 OEMID characters fill 88 bytes exactly, 50 are one block too many.
        {QString(49, 'o'), "AA:BB:CC:DD:EE:FF", "SN1", ""},
        {QString(50, 'o'), "AA:BB:CC:DD:EE:FF", "SN1",
         "OEMID and MAC too long for the device: 96 bytes, at most 88"},
        {"A", "AA:BB:CC:DD:EE:FF:00:11:22:33:44", "SN1", "Station MAC too long: 32 characters, at most 31"},
    };
    for (const Case &c : cases) {
        Bench b(OemidVariant::logoTab(), c.oemid);
        b.stationMac = c.mac;
        std::strcpy(b.rows.dev.szCloudID, c.serial.c_str());
        b.device.serial = c.serial;
        const QString text = b.writer->setDevOEMID(0);
        if (*c.status) {
            EXPECT_TRUE(text.startsWith(c.status)) << text.toStdString();
            EXPECT_EQ(b.rows.said, StatusOutcome::Failure);
            EXPECT_EQ(b.device.writes, 0);
        } else {
            EXPECT_EQ(text, "Set OEMID Success(" + c.oemid + ")");
        }
    }
}

TEST(SetDevOemid, FieldsARecordCannotCarryAreRefusedBeforeTheWrite)
{
    struct Case {
        QString oemid;
        std::string serial;
        const char *devMac;
        const char *status;
    } cases[] = {
        {"AC,ME", "SN1", "00:12:34:56:78:9a", "The OEMID may not hold a comma"},
        {"ACME\n", "SN1", "00:12:34:56:78:9a", "The OEMID may not hold a comma"},
        {"ACME", "SN,1", "00:12:34:56:78:9a", "The serial number holds a comma"},
        {"ACME", "SN1", "00:12\r34", "The device MAC holds a comma"},
    };
    for (const Case &c : cases) {
        for (const OemidVariant &v : {OemidVariant::oemidTab(), OemidVariant::firmwareTab()}) {
            Bench b(v, c.oemid);
            std::strcpy(b.rows.dev.szCloudID, c.serial.c_str());
            std::strcpy(b.rows.dev.NetComm.sMac, c.devMac);
            b.device.serial = c.serial;
            b.writer->readDevOEMID(0);
            const QString text = b.writer->setDevOEMID(0);
            EXPECT_TRUE(text.startsWith(QLatin1String(c.status))) << text.toStdString();
            EXPECT_EQ(b.rows.status, text);
            EXPECT_EQ(b.rows.said, StatusOutcome::Failure);
            EXPECT_EQ(b.device.writes, 0) << "nothing reaches the device";
            EXPECT_TRUE(b.dayFile().isEmpty()) << "nothing reaches the day file";
        }
    }
}

TEST(SetDevOemid, ThirtyTwoBytePlainTextIsFourBlocks)
{
    // {"MAC":"","OEMID":"<10 chars>"}\n is 32 bytes: 4 blocks, 44 Base64 characters.
    QString problem;
    const QByteArray text = OemidWriter::writeText("ABCDEFGHIJ", "", "SN1", &problem);
    ASSERT_TRUE(problem.isEmpty());
    Json::Value v;
    Json::Reader().parse(text.toStdString(), v);
    EXPECT_EQ(v["Data"].asString().size(), 44u);
}

TEST(Precheck, ErrorsAndRepeats)
{
    struct Case {
        OemidVariant variant;
        std::string reply;
        bool allowRepeat;
        OemidWriter::Precheck result;
        const char *text;
    } cases[] = {
        {OemidVariant::firmwareTab(), R"({"Ret":104})", false, OemidWriter::Precheck::Error,
         "OEMID ERROR err 3 104"},
        {OemidVariant::logoTab(), R"({"Ret":104})", false, OemidWriter::Precheck::Error,
         "Get Dev OEMID Error err 3 104"},
        {OemidVariant::firmwareTab(), R"({"Ret":100,"ProducerInfo":{"OEMID":"ACME01"}})", false,
         OemidWriter::Precheck::Repeat, "OEMID Repeat(ACME01)"},
        {OemidVariant::firmwareTab(), R"({"Ret":100,"ProducerInfo":{"OEMID":"ACME01"}})", true,
         OemidWriter::Precheck::Write, ""},
        // Another customer's OEMID is a repeat too, not only the assigned one.
        {OemidVariant::firmwareTab(), R"({"Ret":100,"ProducerInfo":{"OEMID":"OTHER9"}})", false,
         OemidWriter::Precheck::Repeat, "OEMID Repeat(OTHER9)"},
        {OemidVariant::logoTab(), R"({"Ret":100,"ProducerInfo":{"OEMID":"OTHER9"}})", true,
         OemidWriter::Precheck::Write, ""},
        {OemidVariant::logoTab(), R"({"Ret":109})", false, OemidWriter::Precheck::Write, ""},
    };
    for (const Case &c : cases) {
        Bench b(c.variant);
        b.device.getReply = c.reply;
        b.writer->readDevOEMID(0);
        QString text;
        EXPECT_EQ(b.writer->precheck(c.allowRepeat, &text), c.result);
        EXPECT_EQ(text, c.text);
    }
}

} // namespace
