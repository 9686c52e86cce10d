#include "logo/logocheck.h"

#include "logo/gifdecoder.h"
#include "logo/jpegdecoder.h"

#include <QFileInfo>

QString LogoCheck::message(Result result)
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
    }
    return QString();
}

LogoCheck::Outcome LogoCheck::check(const LogoPaths &paths, int nType)
{
    auto outcome = [](Result r) { return Outcome{r, message(r)}; };

    if (paths.boot.isEmpty())
        return outcome(NoBootLogo);
    // A missing file counts as 0 bytes here and fails to decode below.
    if (QFileInfo(paths.boot).size() > kMaxBootBytes)
        return outcome(BootTooLarge);
    {
        const auto boot = decodeJpegFile(paths.boot, PixelRgb555);
        if (!boot)
            return outcome(BootAbnormal);
        if (boot->width > kMaxBootWidth || boot->height > kMaxBootHeight || boot->width == 0 ||
            boot->height == 0)
            return outcome(BootBadDimensions);
    }
    if (!paths.loss.isEmpty() && !decodeGifFile(paths.loss))
        return outcome(LossAbnormal);
    if (!paths.close.isEmpty() && !decodeJpegFile(paths.close, PixelRgb555))
        return outcome(CloseAbnormal);
    if (!paths.blind.isEmpty() && !decodeGifFile(paths.blind))
        return outcome(BlindAbnormal);
    if (nType == 0)
        return outcome(Ok);
    return Outcome{Ok, QString()};
}
