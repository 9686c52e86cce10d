#pragma once

#include <QByteArray>
#include <QString>

/** Pictures are chosen by the operator and may be anything: no picture file is read beyond this.
 *  The largest picture the logo rules advise (800*600) is far below it even as an uncompressed
 *  bitmap. */
constexpr qint64 kMaxPictureFileBytes = qint64(16) << 20;

enum class PictureFile {
    Ok,
    CannotOpen,
    TooLarge, ///< larger than the bound; never read beyond it
    ReadFailed,
    NoMemory
};

/** Reads a whole picture file of at most `maxBytes` bytes into `data`. */
PictureFile readPictureFile(const QString &path, qint64 maxBytes, QByteArray *data);
