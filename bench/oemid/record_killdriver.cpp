// The process that killrecords.sh kills: it appends factory records with the same code a verified
// OEMID write uses, uploads the day files with the tab's uploader, or both at once.
//
//   record_killdriver APPDIR HOST PORT CAFILE [--write N --tag T --gap MS] [--uploads K]
//
// --write appends N records (serials T0 .. T(N-1)), MS milliseconds apart, on a thread of their own
// and prints
// "written SERIAL" once each record's write has returned; --uploads runs K uploads one after the
// other (0: none; with --write and no count, uploads until the writer is done). Prints
// "upload END loaded failed" after each.

#include "oemid/factoryrecords.h"
#include "oemid/recorduploader.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{

const QString kStation = QStringLiteral("AA:BB:CC:00:11:22");

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s APPDIR HOST PORT CAFILE [--write N --tag T --gap MS] [--uploads K]\n",
                     argv[0]);
        return 2;
    }
    const QString appDir = QString::fromLocal8Bit(argv[1]);
    int writeCount = 0, uploads = -1, gapMs = 0;
    QString tag = QStringLiteral("REC");
    for (int i = 5; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--write"))
            writeCount = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--tag"))
            tag = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--gap"))
            gapMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--uploads"))
            uploads = std::atoi(argv[i + 1]);
    }

    FactoryRecords records({appDir, nullptr, [] { return kStation; }});
    if (!records.makeUploadDirs()) {
        std::fprintf(stderr, "cannot make the record tree below %s\n", argv[1]);
        return 1;
    }

    std::atomic<bool> writing{writeCount > 0};
    std::atomic<int> writeErrors{0};
    std::thread writer;
    if (writeCount > 0) {
        writer = std::thread([&] {
            for (int i = 0; i < writeCount; ++i) {
                const QString serial = tag + QString::number(i);
                const FactoryRecords::WriteResult r = records.writeFactoryRecord(
                    serial, QStringLiteral("00:12:34:56:78:9a"), QStringLiteral("KILL01"));
                if (r.ok) {
                    std::printf("written %s\n", qPrintable(serial));
                    std::fflush(stdout);
                } else {
                    ++writeErrors;
                    std::fprintf(stderr, "write failed: %s\n", qPrintable(r.message));
                }
                if (gapMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            }
            writing = false;
        });
    }

    UploadParams p;
    p.appDir = appDir;
    p.host = QString::fromLocal8Bit(argv[2]);
    p.port = std::atoi(argv[3]);
    p.caFile = QString::fromLocal8Bit(argv[4]);
    p.stationMac = [] { return kStation; };
    bool uploadFailed = false;
    for (int n = 0; uploads < 0 ? writing.load() : n < uploads; ++n) {
        const UploadOutcome out = RecordUploader(p).uploadRecords();
        std::printf("upload %d %d %d\n", int(out.end), out.loaded, out.failed);
        std::fflush(stdout);
        uploadFailed =
            uploadFailed || (out.end != UploadOutcome::End::Done && out.end != UploadOutcome::End::Empty);
    }
    if (writer.joinable())
        writer.join();
    return writeErrors.load() || uploadFailed ? 1 : 0;
}
