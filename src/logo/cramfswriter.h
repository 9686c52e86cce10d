#pragma once

#include <QString>

#include <cstdint>

/** Result codes of the image writer and the image wrapper. */
enum CramfsResult {
    CramfsOk = 0,
    CramfsCannotCreate = -40, ///< the output file cannot be created
    CramfsNoRoot = -41,       ///< the source directory cannot be read as the root
    CramfsBadTree = -42,      ///< a name too long to keep, an unsupported entry or an unreadable directory
    CramfsReadFailed = -43,   ///< a file could not be read whole, or compressing it failed
    CramfsTooLarge = -44,     ///< the image would exceed the format's limits, or no memory for it
};

enum WrapResult {
    WrapOk = 0,
    WrapCannotCreate = -50, ///< the output file cannot be created
    WrapCannotOpen = -51,   ///< the source cannot be opened
    WrapFailed = -52,       ///< the source is too large, unreadable or short, or the write fell short
};

/** Largest payload the wrapper accepts: 32 MiB less its header. */
constexpr qint64 kMaxWrappedBytes = 33554368;

/** Writes a cramfs image (version 2, sorted directories, 4096-byte zlib blocks, CRC) of the
 *  directory tree `sourceDir` to `outputFile`. Any error fails the whole image: the output is then
 *  removed and `errorText`, when given, says why. Prints a listing of the entries to stdout. */
int makeCramfsImage(const QString &sourceDir, const QString &outputFile, QString *errorText = nullptr);

/** Writes the 64-byte legacy boot-loader image header (big-endian, header and data CRC) followed by
 *  the bytes of `sourceFile`. The load address and entry point fields carry the caller's values. */
int wrapImageFile(const QString &sourceFile, const QString &outputFile, uint32_t loadAddress,
                  uint32_t entryPoint, QString *errorText = nullptr);
