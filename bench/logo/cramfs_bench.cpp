// Times the image writer against mkfs.cramfs on the same 64 MiB tree of mixed files, alternating the
// two so that drift on a shared machine hits both, and prints the medians and their ratio.
#include "logo/cramfswriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace
{

// Mixed content: incompressible (like the JPEG and GIF logos), text-like, sparse, and duplicates.
QByteArray content(std::mt19937 &rng, int kind, int size)
{
    QByteArray b(size, '\0');
    switch (kind) {
    case 0:
        for (auto &c : b)
            c = char(rng() & 0xFF);
        break;
    case 1: {
        static const char *words[] = {"logo ", "device ",     "channel ", "record ", "picture ",
                                      "\n",    "0x34770000 ", "boot ",    "blind ",  "video "};
        int i = 0;
        while (i < size) {
            const char *w = words[rng() % 10];
            for (const char *p = w; *p && i < size; ++p)
                b[i++] = *p;
        }
        break;
    }
    default:
        for (int i = 0; i < size; i += 512 + int(rng() % 4096))
            b[i] = char(rng() & 0xFF);
        break;
    }
    return b;
}

void makeTree(const QString &root, qint64 total)
{
    std::mt19937 rng(2026);
    qint64 made = 0;
    int n = 0;
    QList<QByteArray> earlier;
    while (made < total) {
        const QString dir = root + QStringLiteral("/d%1/e%2").arg(n % 7).arg(n % 3);
        QDir().mkpath(dir);
        int size = int(rng() % 3 == 0 ? rng() % 4096 : rng() % (1 << 20));
        QByteArray data;
        if (!earlier.isEmpty() && rng() % 10 == 0) {
            data = earlier[int(rng() % uint32_t(earlier.size()))];
        } else {
            const uint32_t pick = rng() % 10;
            data = content(rng, pick < 5 ? 0 : (pick < 8 ? 1 : 2), size);
            if (earlier.size() < 20)
                earlier << data;
        }
        QFile f(dir + QStringLiteral("/file%1.bin").arg(n++));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        made += data.size();
    }
    std::printf("tree: %d files, %lld bytes\n", n, made);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const qint64 bytes = argc > 2 ? std::atoll(argv[2]) << 20 : qint64(64) << 20;
    QTemporaryDir tmp;
    const QString src = tmp.filePath(QStringLiteral("tree"));
    makeTree(src, bytes);
    QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.cramfs"));
    if (mkfs.isEmpty())
        mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.cramfs"),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mkfs.isEmpty()) {
        std::fprintf(stderr, "mkfs.cramfs not found\n");
        return 1;
    }
    // The writer's entry listing would otherwise dominate the terminal.
    std::fflush(stdout);
    const int saved = dup(1);
    const int devnull = open("/dev/null", O_WRONLY);

    std::vector<double> ours, theirs;
    qint64 ourSize = 0, theirSize = 0;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        dup2(devnull, 1);
        t.start();
        const int rc = makeCramfsImage(src, tmp.filePath(QStringLiteral("ours.img")));
        ours.push_back(t.nsecsElapsed() / 1e9);
        std::fflush(stdout);
        dup2(saved, 1);
        if (rc != 0) {
            std::fprintf(stderr, "makeCramfsImage failed: %d\n", rc);
            return 1;
        }
        t.restart();
        QProcess p;
        p.start(mkfs, {src, tmp.filePath(QStringLiteral("ref.img"))});
        p.waitForFinished(-1);
        theirs.push_back(t.nsecsElapsed() / 1e9);
        ourSize = QFile(tmp.filePath(QStringLiteral("ours.img"))).size();
        theirSize = QFile(tmp.filePath(QStringLiteral("ref.img"))).size();
        std::printf("round %d: makeCramfsImage %.3f s, mkfs.cramfs %.3f s\n", r + 1, ours.back(),
                    theirs.back());
        std::fflush(stdout);
    }
    std::printf("image sizes: ours %lld, mkfs.cramfs %lld\n", ourSize, theirSize);
    std::printf("median: makeCramfsImage %.3f s, mkfs.cramfs %.3f s, ratio %.3f (target <= 1.2)\n",
                median(ours), median(theirs), median(ours) / median(theirs));
    return 0;
}
