// Uploads N factory records to the record service and compares the rate with a loop of N bare
// TLS connections, each carrying one request and reading the answer, in the same run.
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

    double bestUpload = 0, bestBare = 0;
    for (int round = 0; round < 2; ++round) {
        // Bare loop.
        const QStringList bare = makeRecords(QStringLiteral("BARE%1_").arg(round), n);
        QElapsedTimer t;
        t.start();
        int bareOk = 0;
        for (const QString &line : bare) {
            const QByteArray body = RecordUploader::requestBody(line.split(','));
            bareOk += bareRequest(ctx, service.port(),
                                  HttpsClient::buildRequest("localhost", service.port(),
                                                            RecordUploader::kPath, body.toStdString()))
                          ? 1
                          : 0;
        }
        const double bareRate = bareOk * 1000.0 / std::max<qint64>(1, t.elapsed());

        // The upload of as many records from day files.
        QTemporaryDir app;
        UploadParams p;
        p.appDir = app.path();
        p.host = "localhost";
        p.port = service.port();
        p.caFile = QString::fromStdString(service.caFile());
        p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
        FactoryRecords records({p.appDir, nullptr, p.stationMac});
        records.makeUploadDirs();
        const QStringList lines = makeRecords(QStringLiteral("UP%1_").arg(round), n);
        for (int f = 0; f < 10; ++f)
            FactoryRecords::appendLines(records.unuploadDir() +
                                            QStringLiteral("/AABBCC0011222022-03-%1.log").arg(f + 10),
                                        lines.mid(f * n / 10, (f + 1) * n / 10 - f * n / 10));
        t.restart();
        const UploadOutcome out = RecordUploader(p).uploadRecords();
        const double uploadRate = out.loaded * 1000.0 / std::max<qint64>(1, t.elapsed());
        std::printf(
            "round %d: upload %d/%d records in %.2f s = %.1f records/s; bare TLS %d/%d in %.2f s = %.1f "
            "requests/s; ratio %.2f\n",
            round + 1, out.loaded, out.total, out.loaded / std::max(uploadRate, 1e-9), uploadRate, bareOk, n,
            bareOk / std::max(bareRate, 1e-9), bareRate, uploadRate / std::max(bareRate, 1e-9));
        bestUpload = std::max(bestUpload, uploadRate);
        bestBare = std::max(bestBare, bareRate);
    }
    std::printf("best: upload %.1f records/s, bare TLS %.1f requests/s, ratio %.2f (target >= 0.70)\n",
                bestUpload, bestBare, bestUpload / std::max(bestBare, 1e-9));
    SSL_CTX_free(ctx);
    service.stop();
    return 0;
}
