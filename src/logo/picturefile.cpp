#include "logo/picturefile.h"

#include <QFile>

#include <new>

PictureFile readPictureFile(const QString &path, qint64 maxBytes, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PictureFile::CannotOpen;
    if (file.size() > maxBytes)
        return PictureFile::TooLarge;
    try {
        // One byte more than allowed tells a file that grew since its size was taken.
        *data = file.read(maxBytes + 1);
    } catch (const std::bad_alloc &) {
        return PictureFile::NoMemory;
    }
    if (file.error() != QFileDevice::NoError)
        return PictureFile::ReadFailed;
    if (data->size() > maxBytes) {
        data->clear();
        return PictureFile::TooLarge;
    }
    return PictureFile::Ok;
}
