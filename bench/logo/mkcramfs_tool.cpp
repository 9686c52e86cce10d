// Command-line front of the image writer, so whole runs can be timed against mkfs.cramfs.
#include "logo/cramfswriter.h"

#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE_DIR OUTPUT\n", argv[0]);
        return 2;
    }
    QString error;
    const int rc = makeCramfsImage(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), &error);
    if (rc != 0)
        std::fprintf(stderr, "error %d: %s\n", rc, error.toLocal8Bit().constData());
    return rc == 0 ? 0 : 1;
}
