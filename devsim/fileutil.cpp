#include "fileutil.h"

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace devsim
{

bool writeFileAtomic(const std::string &path, const void *data, size_t size, std::string *error)
{
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    const char *p = static_cast<const char *>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool readWholeFile(const std::string &path, std::string *out, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

bool makeDirs(const std::string &path, std::string *error)
{
    std::string cur;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t next = path.find('/', pos);
        cur = path.substr(0, next == std::string::npos ? path.size() : next);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot create " + cur + ": " + std::strerror(errno);
            return false;
        }
        if (next == std::string::npos)
            break;
        pos = next + 1;
    }
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = path + " is not a directory";
        return false;
    }
    return true;
}

bool clearDir(const std::string &dir, std::string *error)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d) {
        *error = "cannot open " + dir;
        return false;
    }
    bool ok = true;
    while (dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string p = dir + "/" + name;
        struct stat st {
        };
        if (::lstat(p.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            ok = clearDir(p, error) && ok;
            if (::rmdir(p.c_str()) != 0)
                ok = false;
        } else if (::unlink(p.c_str()) != 0) {
            ok = false;
        }
    }
    ::closedir(d);
    if (!ok && error->empty())
        *error = "cannot empty " + dir;
    return ok;
}

std::string hexText(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

namespace
{
void collectFiles(const std::string &root, const std::string &rel, std::vector<std::string> &out, int depth)
{
    if (depth > 64)
        return;
    DIR *d = ::opendir((root + (rel.empty() ? "" : "/" + rel)).c_str());
    if (!d)
        return;
    while (dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string r = rel.empty() ? name : rel + "/" + name;
        struct stat st {
        };
        if (::lstat((root + "/" + r).c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            collectFiles(root, r, out, depth + 1);
        else if (S_ISREG(st.st_mode))
            out.push_back(r);
    }
    ::closedir(d);
}
} // namespace

std::vector<std::string> listFiles(const std::string &dir)
{
    std::vector<std::string> out;
    collectFiles(dir, std::string(), out, 0);
    std::sort(out.begin(), out.end());
    return out;
}

int runProgram(const std::vector<std::string> &argv, int timeoutMs)
{
    if (argv.empty())
        return -1;
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace devsim
