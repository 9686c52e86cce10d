// Discovery and identification of a fleet of ONVIF cameras through the SDK's search, against devsim:
// for each search time, how many of the cameras the search listed and how many it identified (MAC
// and firmware version read), and the wall time of the search.
//   netsdk_onvif_bench [cameras=256] [rounds=3] [search ms list=500,1000,2000,3000]
// devsim is taken from TALLOW_DEVSIM or ./bin/devsim. Run it in a network namespace of its own.
#include "netsdk/netsdk.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

int main(int argc, char **argv)
{
    const int cameras = argc > 1 ? std::atoi(argv[1]) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::vector<int> times;
    {
        std::stringstream list(argc > 3 ? argv[3] : "500,1000,2000,3000");
        std::string t;
        while (std::getline(list, t, ','))
            times.push_back(std::atoi(t.c_str()));
    }
    const char *env = std::getenv("TALLOW_DEVSIM");
    const std::string devsim = env ? env : "./bin/devsim";
    char dir[] = "/tmp/onvif-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 2;
    const std::string state = std::string(dir) + "/state";
    const std::string log = std::string(dir) + "/devsim.log";
    const std::string cmd =
        "exec " + devsim + " --count 1 --onvif " + std::to_string(cameras) + " --state " + state +
        " --port 35960 --search-port 35961 --onvif-port 35962 --discovery-port 35963 > " + log + " 2>&1";
    pid_t pid = 0;
    const char *args[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(args), environ) != 0)
        return 2;
    bool ready = false;
    for (int i = 0; i < 600 && !ready; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line))
            ready = ready || line.rfind("ready", 0) == 0;
    }
    if (!ready) {
        std::fprintf(stderr, "devsim did not start (%s)\n", log.c_str());
        ::kill(pid, SIGTERM);
        return 2;
    }
    ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
    ::setenv("TALLOW_NETSDK_ONVIF_PORT", "35963", 1);
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetSearchPort(35961);
    std::printf("%d ONVIF cameras (and 1 SDK device); %d rounds per search time\n", cameras, rounds);
    std::printf("%10s %8s %8s %8s %10s\n", "search ms", "round", "listed", "ident.", "wall ms");
    std::vector<SDK_CONFIG_NET_COMMON_V2> buf(size_t(cameras) + 64);
    for (int t : times) {
        for (int r = 0; r < rounds; ++r) {
            int len = 0;
            const auto t0 = std::chrono::steady_clock::now();
            H264_DVR_SearchDevice(reinterpret_cast<char *>(buf.data()), int(buf.size() * sizeof buf[0]), &len,
                                  t);
            const long wall = long(
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
                    .count());
            int listed = 0, identified = 0;
            for (int i = 0; i < len / int(sizeof buf[0]); ++i) {
                if (buf[size_t(i)].Protocol != NETSDK_PROTOCOL_ONVIF)
                    continue;
                ++listed;
                identified += buf[size_t(i)].sSoftWareVersion[0] != 0 && buf[size_t(i)].sMac[0] != 0;
            }
            std::printf("%10d %8d %8d %8d %10ld\n", t, r + 1, listed, identified, wall);
            std::fflush(stdout);
        }
    }
    H264_DVR_Cleanup();
    ::kill(pid, SIGTERM);
    int st = 0;
    ::waitpid(pid, &st, 0);
    return 0;
}
