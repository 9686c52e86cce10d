#pragma once

// A private scratch directory for fuzz targets whose parser takes a path: one per process, below
// the system's temporary directory (never the source tree), removed at exit.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzztemp
{

inline const std::string &dir()
{
    // The path also lives in a plain array: the clean-up at exit runs after static strings are gone.
    static char path[4096];
    static const std::string made = [] {
        const char *base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/tallow-fuzz.XXXXXX";
        if (templ.size() >= sizeof path || !mkdtemp(&templ[0]))
            std::abort();
        templ.copy(path, templ.size());
        std::atexit([] {
            char command[sizeof path + 16];
            std::snprintf(command, sizeof command, "rm -rf '%s'", path);
            if (std::system(command) != 0)
                std::fprintf(stderr, "could not remove %s\n", path);
        });
        return templ;
    }();
    return made;
}

/// Writes `data` to `name` in the scratch directory and returns its path.
inline std::string write(const char *name, const uint8_t *data, size_t size)
{
    const std::string path = dir() + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    return path;
}

} // namespace fuzztemp
