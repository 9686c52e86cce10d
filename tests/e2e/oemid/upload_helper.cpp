// Runs one record upload for the interruption tests:
//   oemid_upload_helper APPDIR HOST PORT CAFILE [DIE_AT_STEP]
// With DIE_AT_STEP n the process ends abruptly (_exit) at the n-th filing step.

#include "oemid/recorduploader.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace
{

struct Dier : UploadObserver {
    int dieAt = 0;
    int steps = 0;
    void step(Step) override
    {
        if (++steps == dieAt)
            _exit(3);
    }
    void message(const QString &title, const QString &text) override
    {
        std::printf("%s/%s\n", qPrintable(title), qPrintable(text));
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s APPDIR HOST PORT CAFILE [DIE_AT_STEP]\n", argv[0]);
        return 2;
    }
    UploadParams p;
    p.appDir = QString::fromLocal8Bit(argv[1]);
    p.host = QString::fromLocal8Bit(argv[2]);
    p.port = std::atoi(argv[3]);
    p.caFile = QString::fromLocal8Bit(argv[4]);
    p.stationMac = [] { return QStringLiteral("AA:BB:CC:00:11:22"); };
    Dier d;
    d.dieAt = argc > 5 ? std::atoi(argv[5]) : 0;
    const UploadOutcome out = RecordUploader(p).uploadRecords(&d);
    return out.end == UploadOutcome::End::Done && out.filed ? 0 : 1;
}
