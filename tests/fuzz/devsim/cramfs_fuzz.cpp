// libFuzzer target: the simulator's cramfs reader, as a device reads a logo image before burning it
// (checks, listing, and extraction below a scratch directory that nothing may leave).
#include "cramfsreader.h"
#include "fuzztemp.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string error;
    devsim::CramfsReader::verify(data, size, &error);
    std::vector<devsim::CramfsEntry> entries;
    if (!devsim::CramfsReader::read(data, size, &entries, &error))
        return 0;
    const std::string dest = fuzztemp::dir() + "/x";
    mkdir(dest.c_str(), 0700);
    std::vector<std::string> written;
    devsim::CramfsReader::extract(data, size, dest, &written, &error);
    for (const std::string &w : written) {
        if (w.empty() || w[0] == '/' || w.find("..") != std::string::npos) {
            std::fprintf(stderr, "extracted outside the directory: %s\n", w.c_str());
            std::abort();
        }
    }
    std::system(("rm -rf '" + dest + "'").c_str());
    return 0;
}
