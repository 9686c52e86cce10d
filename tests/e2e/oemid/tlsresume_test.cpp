// TLS session resumption between the records of one upload run, against the record service in
// this process (so that its handshake counters can be read).
#include "recordservice.h"

#include "oemid/factoryrecords.h"
#include "oemid/httpsclient.h"
#include "oemid/recorduploader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace
{

QStringList recordLines(const QString &tag, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << FactoryRecords::recordLine(tag + QString::number(i), "00:12:34:56:78:9a", "ACME01",
                                          QDateTime(QDate(2022, 3, 4), QTime(1, 2, i % 60)),
                                          "AA:BB:CC:00:11:22");
    return out;
}

class Resumption : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(state.isValid());
        service = std::make_unique<devsim::RecordService>(state.path().toStdString());
        std::string error;
        ASSERT_TRUE(service->start("127.0.0.1", 0, &error)) << error;
    }

    // One upload run of `n` records; what the run reports.
    UploadOutcome upload(const QString &tag, int n)
    {
        QTemporaryDir app;
        UploadParams p;
        p.appDir = app.path();
        p.host = QStringLiteral("localhost");
        p.port = service->port();
        p.caFile = QString::fromStdString(service->caFile());
        p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords records({p.appDir, nullptr, p.stationMac});
        records.makeUploadDirs();
        FactoryRecords::appendLines(records.unuploadDir() + QStringLiteral("/AABBCC0011222022-03-04.log"),
                                    recordLines(tag, n));
        return RecordUploader(p).uploadRecords();
    }

    // One record posted with `client`; true when the service accepted it.
    static bool post(HttpsClient &client, const std::string &host, uint16_t port, const QString &serial)
    {
        const QByteArray body = RecordUploader::requestBody(recordLines(serial, 1).first().split(','));
        char response[2560] = {};
        int len = sizeof response;
        return client.post(host, port, RecordUploader::kPath, body.constData(), body.size(), response,
                           &len) == 0 &&
               std::strstr(response, "\"ret\":200") != nullptr;
    }

    HttpsClient::Options options() const
    {
        HttpsClient::Options o;
        o.caFile = service->caFile();
        return o;
    }

    QTemporaryDir state;
    std::unique_ptr<devsim::RecordService> service;
};

TEST_F(Resumption, RecordsAfterTheFirstResumeTheSession)
{
    const UploadOutcome out = upload(QStringLiteral("RES"), 6);
    EXPECT_EQ(out.loaded, 6);
    EXPECT_EQ(service->connectionCount(), 6u);
    EXPECT_EQ(service->resumedCount(), 5u);
    // A new run starts with a full handshake: sessions live as long as their run.
    EXPECT_EQ(upload(QStringLiteral("RES2_"), 2).loaded, 2);
    EXPECT_EQ(service->resumedCount(), 6u);
}

struct RefusalCase {
    const char *what;
    const char *faultLine; // null: refused by the service's setting
};

class ResumptionRefused : public Resumption, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(ResumptionRefused, EveryRecordIsUploadedWithFullHandshakes)
{
    if (GetParam().faultLine) {
        FILE *f = std::fopen(service->faultFile().c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(GetParam().faultLine, f);
        std::fclose(f);
    } else {
        service->setRefuseResumption(true);
    }
    const UploadOutcome out = upload(QStringLiteral("REF"), 6);
    EXPECT_EQ(out.end, UploadOutcome::End::Done);
    EXPECT_EQ(out.loaded, 6);
    EXPECT_EQ(out.failed, 0);
    EXPECT_EQ(service->acceptedCount(), 6u);
    EXPECT_EQ(service->resumedCount(), 0u);
    // Offered until refused twice in a row, then no more in this run.
    EXPECT_EQ(service->resumptionOffers(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Table, ResumptionRefused,
                         ::testing::Values(RefusalCase{"refused by the service's setting", nullptr},
                                           RefusalCase{"refused by the fault switch", "no-resume\n"},
                                           RefusalCase{"handshake ended when a session is offered",
                                                       "resume-abort\n"}));

struct OtherPeerCase {
    const char *what;
    bool otherPort; // else the same port under another name
};

class SessionScope : public Resumption, public ::testing::WithParamInterface<OtherPeerCase>
{
};

TEST_P(SessionScope, ASessionIsNeverOfferedToAnotherHostOrPort)
{
    // A second service with the same CA, on another port.
    devsim::RecordService other(state.path().toStdString());
    std::string error;
    ASSERT_TRUE(other.start("127.0.0.1", 0, &error)) << error;

    HttpsClient client(options());
    ASSERT_TRUE(post(client, "localhost", service->port(), QStringLiteral("A1_")));
    ASSERT_TRUE(post(client, "localhost", service->port(), QStringLiteral("A2_")));
    ASSERT_TRUE(client.lastResumed()) << "the first peer's session is resumed";

    devsim::RecordService &peer = GetParam().otherPort ? other : *service;
    const std::string host = GetParam().otherPort ? "localhost" : "127.0.0.1";
    const std::size_t offersBefore = peer.resumptionOffers();
    ASSERT_TRUE(post(client, host, peer.port(), QStringLiteral("B1_")));
    EXPECT_FALSE(client.lastResumed());
    EXPECT_EQ(peer.resumptionOffers(), offersBefore) << GetParam().what;

    // Each peer keeps its own session.
    ASSERT_TRUE(post(client, host, peer.port(), QStringLiteral("B2_")));
    EXPECT_TRUE(client.lastResumed());
    ASSERT_TRUE(post(client, "localhost", service->port(), QStringLiteral("A3_")));
    EXPECT_TRUE(client.lastResumed());
    EXPECT_EQ(client.stats().fullHandshakes, 2);
    EXPECT_EQ(client.stats().resumedHandshakes, 3);
}

INSTANTIATE_TEST_SUITE_P(Table, SessionScope,
                         ::testing::Values(OtherPeerCase{"another port", true},
                                           OtherPeerCase{"another name for the same port", false}));

TEST_F(Resumption, AFailedResumeFallsBackToAFullHandshake)
{
    HttpsClient client(options());
    ASSERT_TRUE(post(client, "localhost", service->port(), QStringLiteral("F1_")));
    // The service restarts with a new ticket key: the session it gave is worthless now.
    const uint16_t port = service->port();
    service->stop();
    std::string error;
    ASSERT_TRUE(service->start("127.0.0.1", port, &error)) << error;
    EXPECT_TRUE(post(client, "localhost", port, QStringLiteral("F2_")));
    EXPECT_FALSE(client.lastResumed());
    EXPECT_TRUE(post(client, "localhost", port, QStringLiteral("F3_")));
    EXPECT_TRUE(client.lastResumed());
}

} // namespace
