#pragma once

#include "logo/picturefile.h"

#include <QCoreApplication>
#include <QString>

/** The four pictures of a logo package, as file paths (empty = not chosen). */
struct LogoPaths {
    QString boot;
    QString close; // shutdown logo
    QString loss;  // video-loss ("channel background") logo
    QString blind;
};

/** Decides whether the chosen pictures can go into a logo package. Only the boot logo's file size
 *  and dimensions are limited; every chosen picture must decode. */
class LogoCheck
{
    Q_DECLARE_TR_FUNCTIONS(LogoCheck)
public:
    enum Result {
        Ok = 0,
        NoBootLogo,
        BootTooLarge,
        BootAbnormal,
        BootBadDimensions,
        LossAbnormal,
        CloseAbnormal,
        BlindAbnormal,
        PictureTooLarge ///< a chosen picture is larger than any logo can be
    };

    static constexpr qint64 kMaxBootBytes = 120000;
    static constexpr int kMaxBootWidth = 800;
    static constexpr int kMaxBootHeight = 600;
    /** No picture is read beyond this many bytes (the boot logo not beyond kMaxBootBytes). */
    static constexpr qint64 kMaxPictureBytes = kMaxPictureFileBytes;

    struct Outcome {
        Result result = Ok;
        QString message; // translated; empty when nothing is to be shown
        bool ok() const { return result == Ok; }
    };

    /** nType 0 is the interactive check, which also confirms success; any other value is the
     *  silent pre-check before a package is built. */
    static Outcome check(const LogoPaths &paths, int nType);

    /** The operator text of a result (translated); `path` names the picture where the text has one. */
    static QString message(Result result, const QString &path = QString());
};
