#pragma once

#include "logo/decodedimage.h"
#include "logo/picturefile.h"

#include <QString>

#include <optional>

/** Decodes a JPEG held in memory completely. Any fatal library error (bad header, truncated or
 *  corrupt data, unsupported colour space) yields nothing; warnings are not errors. Greyscale
 *  pictures are converted to RGB by the library. `error` receives the library's message. */
std::optional<DecodedImage> decodeJpegData(const uint8_t *data, size_t size, int format,
                                           size_t maxRasterBytes = kMaxLogoRasterBytes,
                                           QString *error = nullptr);

/** Reads and decodes a JPEG file of at most `maxFileBytes`; an unopenable file is reported on
 *  standard error. `status` tells why nothing was read. */
std::optional<DecodedImage> decodeJpegFile(const QString &path, int format,
                                           qint64 maxFileBytes = kMaxPictureFileBytes,
                                           PictureFile *status = nullptr);
