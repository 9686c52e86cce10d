#pragma once

#include <QString>

#include <cstdint>

/** Result codes of the image wrapper. */
enum WrapResult {
    WrapOk = 0,
    WrapCannotCreate = -50, ///< the output file cannot be created
    WrapCannotOpen = -51,   ///< the source cannot be opened
    WrapFailed = -52,       ///< the source is too large, unreadable or short, or the write fell short
};

/** Largest payload the wrapper accepts: 32 MiB less its header. */
constexpr qint64 kMaxWrappedBytes = 33554368;

/** Writes the 64-byte legacy boot-loader image header (big-endian, header and data CRC) followed by
 *  the bytes of `sourceFile`. The load address and entry point fields carry the caller's values. */
int wrapImageFile(const QString &sourceFile, const QString &outputFile, uint32_t loadAddress,
                  uint32_t entryPoint, QString *errorText = nullptr);
