#include "logo/logocheck.h"

#include "logo/gifdecoder.h"
#include "logo/jpegdecoder.h"

#include <QFileInfo>

#include <new>

QString LogoCheck::message(Result result, const QString &path)
{
    switch (result) {
    case Ok:
        return tr("Logo meets requirements");
    case NoBootLogo:
        return tr("Please select logo first");
    case BootTooLarge:
        return tr("Logo size cannot be greater than 120kb");
    case BootAbnormal:
        return tr("Boot logo is abnormal");
    case BootBadDimensions:
        return tr("Logo cannot be used,please check whether the picture meets the requirements ");
    case LossAbnormal:
        return tr("Channel logo is abnormal");
    case CloseAbnormal:
        return tr("Shutdown logo is abnormal");
    case BlindAbnormal:
        return tr("Blind logo is abnormal");
    case PictureTooLarge:
        return tr("A logo picture cannot be larger than 16 MB: %1").arg(path);
    }
    return QString();
}

LogoCheck::Outcome LogoCheck::check(const LogoPaths &paths, int nType)
{
    auto outcome = [](Result r, const QString &path = QString()) { return Outcome{r, message(r, path)}; };

    if (paths.boot.isEmpty())
        return outcome(NoBootLogo);
    // A missing file counts as 0 bytes here and fails to decode below.
    if (QFileInfo(paths.boot).size() > kMaxBootBytes)
        return outcome(BootTooLarge);
    // The field being checked, for the message should memory run out on the way.
    Result abnormal = BootAbnormal;
    try {
        {
            PictureFile read = PictureFile::Ok;
            // Read no further than the size rule allows, should the file have grown since.
            const auto boot = decodeJpegFile(paths.boot, PixelRgb555, kMaxBootBytes, &read);
            if (read == PictureFile::TooLarge)
                return outcome(BootTooLarge);
            if (!boot)
                return outcome(BootAbnormal);
            if (boot->width > kMaxBootWidth || boot->height > kMaxBootHeight || boot->width == 0 ||
                boot->height == 0)
                return outcome(BootBadDimensions);
        }
        struct Optional {
            const QString &path;
            bool gif;
            Result abnormal;
        };
        const Optional others[] = {{paths.loss, true, LossAbnormal},
                                   {paths.close, false, CloseAbnormal},
                                   {paths.blind, true, BlindAbnormal}};
        for (const Optional &o : others) {
            if (o.path.isEmpty())
                continue;
            abnormal = o.abnormal;
            PictureFile read = PictureFile::Ok;
            const bool decoded =
                o.gif ? decodeGifFile(o.path, kMaxPictureBytes, &read).has_value()
                      : decodeJpegFile(o.path, PixelRgb555, kMaxPictureBytes, &read).has_value();
            if (read == PictureFile::TooLarge)
                return outcome(PictureTooLarge, o.path);
            if (!decoded)
                return outcome(o.abnormal);
        }
    } catch (const std::bad_alloc &) {
        return outcome(abnormal);
    }
    if (nType == 0)
        return outcome(Ok);
    return Outcome{Ok, QString()};
}
