// Starts the application N times under the offscreen platform and reports the time from spawning the
// process to its event loop (median, min, max), and the whole process's wall time until it has exited.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace
{

long long monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char stampTemplate[] = "/tmp/coldstart-XXXXXX";
    const int fd = mkstemp(stampTemplate);
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    close(fd);
    const std::string stampFile = stampTemplate;

    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string s = *e;
        if (s.rfind("LD_PRELOAD=", 0) != 0 && s.rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(s);
    }
    env.push_back("LD_PRELOAD=" PRELOAD_LIB);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("COLDSTART_STAMP_FILE=" + stampFile);
    std::vector<char *> envp;
    for (auto &s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = TALLOW_EXE;
    char *childArgv[] = {exe.data(), nullptr};

    std::vector<double> toLoop, whole;
    for (int i = 0; i < runs; ++i) {
        std::remove(stampFile.c_str());
        const long long start = monotonicNs();
        pid_t pid = 0;
        if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, childArgv, envp.data()) != 0) {
            std::perror("posix_spawn");
            return 1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const long long end = monotonicNs();
        long long stamp = 0;
        std::ifstream in(stampFile);
        if (!(in >> stamp) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d: the application did not reach its event loop (status %d)\n", i,
                         status);
            return 1;
        }
        toLoop.push_back((stamp - start) / 1e6);
        whole.push_back((end - start) / 1e6);
    }
    std::remove(stampFile.c_str());
    std::printf("runs %d\nto event loop ms: median %.1f min %.1f max %.1f\nwhole process ms: median %.1f\n",
                runs, median(toLoop), *std::min_element(toLoop.begin(), toLoop.end()),
                *std::max_element(toLoop.begin(), toLoop.end()), median(whole));
    return 0;
}
