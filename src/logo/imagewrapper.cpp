#include "logo/imagewrapper.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace
{

void putBE32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

int wrapImageFile(const QString &sourceFile, const QString &outputFile, uint32_t loadAddress,
                  uint32_t entryPoint, QString *errorText)
{
    auto fail = [errorText](int code, const QString &text) {
        if (errorText)
            *errorText = text;
        return code;
    };
    // The source is opened first so that a missing source leaves no empty output behind.
    QFile src(sourceFile);
    if (!src.open(QIODevice::ReadOnly))
        return fail(WrapCannotOpen, QStringLiteral("cannot open %1").arg(sourceFile));
    const QFileInfo info(sourceFile);
    if (!info.exists())
        return fail(WrapFailed, QStringLiteral("cannot read the status of %1").arg(sourceFile));
    const qint64 size = src.size();
    if (size > kMaxWrappedBytes)
        return fail(WrapFailed,
                    QStringLiteral("%1 is larger than %2 bytes").arg(sourceFile).arg(kMaxWrappedBytes));
    QByteArray buf(int(64 + size), '\0');
    if (size > 0 && src.read(buf.data() + 64, size) != size)
        return fail(WrapFailed, QStringLiteral("cannot read %1").arg(sourceFile));
    src.close();

    auto *h = reinterpret_cast<uint8_t *>(buf.data());
    const uint8_t *data = h + 64;
    putBE32(h + 0, 0x27051956);
    putBE32(h + 8, uint32_t(info.lastModified().toSecsSinceEpoch()));
    putBE32(h + 12, uint32_t(size));
    putBE32(h + 16, loadAddress);
    putBE32(h + 20, entryPoint);
    putBE32(h + 24, uint32_t(crc32(crc32(0L, Z_NULL, 0), data, uInt(size))));
    h[28] = 5; // Linux
    h[29] = 2; // ARM
    h[30] = 2; // kernel
    h[31] = 1; // gzip
    std::memcpy(h + 32, "Linux", 5);
    putBE32(h + 4, uint32_t(crc32(crc32(0L, Z_NULL, 0), h, 64)));

    const QByteArray out = QFile::encodeName(outputFile);
    const int fd = ::open(out.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(WrapCannotCreate, QStringLiteral("cannot create %1").arg(outputFile));
    const ssize_t written = ::write(fd, buf.constData(), size_t(buf.size()));
    const bool closed = ::close(fd) == 0;
    if (written != ssize_t(buf.size()) || !closed) {
        ::unlink(out.constData());
        return fail(WrapFailed, QStringLiteral("cannot write %1").arg(outputFile));
    }
    return WrapOk;
}
