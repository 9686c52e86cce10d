#pragma once

// Small file fixtures for the simulator's tests: a temporary directory, files, zips and the
// reference tools of the machine (mkfs.cramfs, mkimage).

#include <json/json.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace devsimtest
{

/// The JSON in text; null when it does not parse.
inline Json::Value parse(const std::string &text)
{
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errs;
    std::istringstream in(text);
    Json::parseFromStream(b, in, &v, &errs);
    return v;
}

class TempDir
{
public:
    TempDir()
    {
        char tmpl[] = "/tmp/devsim-test.XXXXXX";
        path_ = ::mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir()
    {
        if (!path_.empty())
            std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void writeFile(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool fileExists(const std::string &path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0;
}

inline std::vector<uint8_t> bytesOf(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline bool haveTool(const std::string &path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

inline int run(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

/// A zip with the given members (name, content), deflated.
inline bool makeZip(const std::string &path, const std::vector<std::pair<std::string, std::string>> &members)
{
    zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!z)
        return false;
    bool ok = true;
    for (const auto &m : members) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip64(z, m.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(z, m.second.data(), unsigned(m.second.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(z) == ZIP_OK;
    }
    return zipClose(z, nullptr) == ZIP_OK && ok;
}

/// mkfs.cramfs of a directory into a string; empty when the tool is missing or fails.
inline std::string mkCramfs(const std::string &dir, const std::string &out)
{
    if (run("/usr/sbin/mkfs.cramfs '" + dir + "' '" + out + "'") != 0)
        return std::string();
    return readFile(out);
}

/// The image wrapped in the 64-byte legacy header by mkimage (logo partition addresses as
/// load address and entry point, as the tool's package builder does).
inline std::string mkImage(const std::string &in, const std::string &out, const char *load = "349E0000",
                           const char *entry = "34A00000")
{
    if (run(std::string("mkimage -A arm -O linux -T kernel -C gzip -a ") + load + " -e " + entry +
            " -n Linux -d '" + in + "' '" + out + "'") != 0)
        return std::string();
    return readFile(out);
}

} // namespace devsimtest
