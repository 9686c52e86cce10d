// Uploads N factory records to the record service twice, once with TLS session resumption and once
// with the service refusing it, and compares each rate with a loop of N bare TLS connections, each
// with a full handshake, one request and the answer, in the same run.
//   oemid_upload_bench [N]   (default 2000)

#include "recordservice.h"

#include "oemid/factoryrecords.h"
#include "oemid/httpsclient.h"
#include "oemid/recorduploader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace
{

QStringList makeRecords(const QString &tag, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << FactoryRecords::recordLine(
            tag + QString::number(i), "00:12:34:56:78:9a", "ACME01",
            QDateTime(QDate(2022, 3, 4), QTime(i / 3600 % 24, i / 60 % 60, i % 60)), "AA:BB:CC:00:11:22");
    return out;
}

// One TCP connection, handshake (certificate verified), one request, the answer to the end.
bool bareRequest(SSL_CTX *ctx, uint16_t port, const std::string &request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    SSL *ssl = ok ? SSL_new(ctx) : nullptr;
    if (ssl) {
        SSL_set_fd(ssl, fd);
        SSL_set_tlsext_host_name(ssl, "localhost");
        SSL_set1_host(ssl, "localhost");
        ok = SSL_connect(ssl) == 1 &&
             SSL_write(ssl, request.data(), int(request.size())) == int(request.size());
        char buf[2560];
        int got = 0, n;
        while (ok && (n = SSL_read(ssl, buf, sizeof buf)) > 0)
            got += n;
        ok = ok && got > 0;
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir state;
    devsim::RecordService service(state.path().toStdString());
    std::string error;
    if (!service.start("127.0.0.1", 0, &error)) {
        std::fprintf(stderr, "record service: %s\n", error.c_str());
        return 1;
    }

    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_load_verify_locations(ctx, service.caFile().c_str(), nullptr);

    // Interleaved batches, so that the load of a shared machine falls on all three loops alike.
    const int batches = 10;
    qint64 bareMs = 0, uploadMs = 0, refusedMs = 0;
    int bareOk = 0, loaded = 0, refusedLoaded = 0, total = 0;
    std::size_t resumed = 0, refusedResumed = 0;
    auto uploadRun = [&](const QString &tag, int count, qint64 &ms, int &ok,
                         std::size_t &resumedConnections) {
        QTemporaryDir app;
        UploadParams p;
        p.appDir = app.path();
        p.host = "localhost";
        p.port = service.port();
        p.caFile = QString::fromStdString(service.caFile());
        p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords records({p.appDir, nullptr, p.stationMac});
        records.makeUploadDirs();
        FactoryRecords::appendLines(records.unuploadDir() + QStringLiteral("/AABBCC0011222022-03-04.log"),
                                    makeRecords(tag, count));
        const std::size_t before = service.resumedCount();
        QElapsedTimer t;
        t.start();
        const UploadOutcome out = RecordUploader(p).uploadRecords();
        ms += t.elapsed();
        ok += out.loaded;
        resumedConnections += service.resumedCount() - before;
        return out.total;
    };
    for (int batch = 0; batch < batches; ++batch) {
        const int count = (batch + 1) * n / batches - batch * n / batches;
        const QStringList bare = makeRecords(QStringLiteral("BARE%1_").arg(batch), count);
        QElapsedTimer t;
        t.start();
        for (const QString &line : bare) {
            const QByteArray body = RecordUploader::requestBody(line.split(','));
            bareOk += bareRequest(ctx, service.port(),
                                  HttpsClient::buildRequest("localhost", service.port(),
                                                            RecordUploader::kPath, body.toStdString()))
                          ? 1
                          : 0;
        }
        bareMs += t.elapsed();

        service.setRefuseResumption(false);
        total += uploadRun(QStringLiteral("UP%1_").arg(batch), count, uploadMs, loaded, resumed);
        service.setRefuseResumption(true);
        uploadRun(QStringLiteral("NR%1_").arg(batch), count, refusedMs, refusedLoaded, refusedResumed);
        service.setRefuseResumption(false);
    }
    const double bareRate = bareOk * 1000.0 / std::max<qint64>(1, bareMs);
    const double uploadRate = loaded * 1000.0 / std::max<qint64>(1, uploadMs);
    const double refusedRate = refusedLoaded * 1000.0 / std::max<qint64>(1, refusedMs);
    std::printf("%-34s %9s %8s %10s %10s %7s\n", "loop", "records", "seconds", "records/s", "resumed",
                "ratio");
    std::printf("%-34s %4d/%-4d %8.2f %10.1f %10s %7s\n", "bare TLS, full handshake each", bareOk, n,
                bareMs / 1000.0, bareRate, "-", "1.00");
    std::printf("%-34s %4d/%-4d %8.2f %10.1f %10zu %7.2f  (target >= 1.5)\n", "upload, sessions resumed",
                loaded, total, uploadMs / 1000.0, uploadRate, resumed, uploadRate / std::max(bareRate, 1e-9));
    std::printf("%-34s %4d/%-4d %8.2f %10.1f %10zu %7.2f  (target >= 0.9)\n",
                "upload, service refuses resuming", refusedLoaded, total, refusedMs / 1000.0, refusedRate,
                refusedResumed, refusedRate / std::max(bareRate, 1e-9));
    SSL_CTX_free(ctx);
    service.stop();
    return loaded == total && refusedLoaded == total && bareOk == n ? 0 : 1;
}
