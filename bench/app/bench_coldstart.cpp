// Starts the application N times under the offscreen platform and reports the time from spawning the
// process to its event loop (median, min, max), and the whole process's wall time until it has exited.
//   bench_coldstart [runs=10] [executable [other executable]]
// With two executables (a change and its baseline, say) they start in turn, A B A B ..., so that a
// machine whose speed drifts weighs on both, and the median of the pairs' ratios A/B is printed too.
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
    std::vector<std::string> exes{argc > 2 ? argv[2] : TALLOW_EXE};
    if (argc > 3)
        exes.push_back(argv[3]);

    // Milliseconds to the event loop and of the whole process, or a negative value on failure.
    auto startOnce = [&](std::string &exe, double &toLoop, double &whole) {
        char *childArgv[] = {exe.data(), nullptr};
        std::remove(stampFile.c_str());
        const long long start = monotonicNs();
        pid_t pid = 0;
        if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, childArgv, envp.data()) != 0) {
            std::perror("posix_spawn");
            return false;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const long long end = monotonicNs();
        long long stamp = 0;
        std::ifstream in(stampFile);
        if (!(in >> stamp) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "%s: the application did not reach its event loop (status %d)\n",
                         exe.c_str(), status);
            return false;
        }
        toLoop = (stamp - start) / 1e6;
        whole = (end - start) / 1e6;
        return true;
    };

    std::vector<std::vector<double>> toLoop(exes.size()), whole(exes.size());
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        for (size_t e = 0; e < exes.size(); ++e) {
            double loop = 0, all = 0;
            if (!startOnce(exes[e], loop, all))
                return 1;
            toLoop[e].push_back(loop);
            whole[e].push_back(all);
        }
        if (exes.size() == 2)
            ratios.push_back(toLoop[0].back() / toLoop[1].back());
    }
    std::remove(stampFile.c_str());
    std::printf("runs %d\n", runs);
    for (size_t e = 0; e < exes.size(); ++e) {
        if (exes.size() > 1)
            std::printf("%s %s\n", e == 0 ? "A" : "B", exes[e].c_str());
        std::printf("to event loop ms: median %.1f min %.1f max %.1f\nwhole process ms: median %.1f\n",
                    median(toLoop[e]), *std::min_element(toLoop[e].begin(), toLoop[e].end()),
                    *std::max_element(toLoop[e].begin(), toLoop[e].end()), median(whole[e]));
    }
    if (!ratios.empty())
        std::printf("to event loop A/B, median of the pairs: %.3f\n", median(ratios));
    return 0;
}
