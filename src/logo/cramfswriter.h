#pragma once

#include <QString>

#include <cstdint>

/** Result codes of the image writer. */
enum CramfsResult {
    CramfsOk = 0,
    CramfsCannotCreate = -40, ///< the output file cannot be created
    CramfsNoRoot = -41,       ///< the source directory cannot be read as the root
    CramfsBadTree = -42,      ///< a name too long to keep, an unsupported entry or an unreadable directory
    CramfsReadFailed = -43,   ///< a file could not be read whole, or compressing it failed
    CramfsTooLarge = -44,     ///< the image would exceed the format's limits, or no memory for it
};

/** Writes a cramfs image (version 2, sorted directories, 4096-byte zlib blocks, CRC) of the
 *  directory tree `sourceDir` to `outputFile`. Any error fails the whole image: the output is then
 *  removed and `errorText`, when given, says why. Prints a listing of the entries to stdout. */
int makeCramfsImage(const QString &sourceDir, const QString &outputFile, QString *errorText = nullptr);
