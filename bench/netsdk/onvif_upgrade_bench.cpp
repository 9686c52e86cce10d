// ONVIF firmware upgrades of N cameras at once through the SDK (log in, upgrade call, final report),
// against a plain loop of the same HTTP work done at once without the SDK: one StartFirmwareUpgrade
// each and a POST of the same file to the address it names. Against devsim; prints both times and
// their ratio (plain / SDK: 1.0 means the SDK costs nothing over the bare transfers).
//   netsdk_onvif_upgrade_bench [cameras=64] [MiB=4] [rounds=3]
// devsim is taken from TALLOW_DEVSIM or ./bin/devsim. Run it in a network namespace of its own.
#include "netsdk/netsdk.h"
#include "netsdk/onvifwire.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char **environ;
using namespace std::chrono;
using namespace netsdk::onvif;

namespace
{

const int kHttpPort = 35972;

std::string ipOf(int i)
{
    // devsim --count 1 puts the SDK device on .10 and the cameras after it.
    return "127.0.0." + std::to_string(11 + i);
}

size_t collect(char *p, size_t s, size_t n, void *u)
{
    static_cast<std::string *>(u)->append(p, s * n);
    return s * n;
}

size_t discard(char *, size_t s, size_t n, void *)
{
    return s * n;
}

// The bare work: one StartFirmwareUpgrade (token digest, empty password) and one POST of the file.
bool plainUpgrade(const std::string &ip, const std::string &file, size_t size)
{
    UsernameToken t;
    t.user = "admin";
    t.nonce = std::string(16, '\x5a');
    t.nonce[0] = char(std::random_device()());
    t.created = utcText(std::time(nullptr));
    const std::string req = buildRequest(Element(Ns::Device, "StartFirmwareUpgrade"), &t);
    CURL *c = curl_easy_init();
    std::string reply;
    const std::string url = "http://" + ip + ":" + std::to_string(kHttpPort) + "/onvif/device_service";
    curl_slist *h = curl_slist_append(nullptr, "Content-Type: application/soap+xml; charset=utf-8");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, req.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
    bool ok = curl_easy_perform(c) == CURLE_OK;
    curl_slist_free_all(h);
    curl_easy_cleanup(c);
    FirmwareUpload up;
    Fault f;
    if (!ok || parseStartFirmwareUpgrade(reply.data(), reply.size(), up, f) != ReplyStatus::Ok)
        return false;
    FILE *in = std::fopen(file.c_str(), "rb");
    if (!in)
        return false;
    c = curl_easy_init();
    h = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
    h = curl_slist_append(h, "Expect:");
    curl_easy_setopt(c, CURLOPT_URL, up.uri.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_READDATA, in);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(size));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discard);
    ok = curl_easy_perform(c) == CURLE_OK;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(h);
    curl_easy_cleanup(c);
    std::fclose(in);
    return ok && status == 200;
}

struct Finals {
    std::mutex m;
    std::condition_variable cv;
    int done = 0, ok = 0;
};

void onReport(long, long, int total, int sent, void *user)
{
    if (total != -1 || sent > -1)
        return;
    auto *f = static_cast<Finals *>(user);
    std::lock_guard<std::mutex> lk(f->m);
    ++f->done;
    f->ok += sent == -1;
    f->cv.notify_all();
}

double sdkRound(int n, const std::string &file, int &ok)
{
    std::vector<long> logins(size_t(n), 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            for (int tries = 0; tries < 100 && logins[size_t(i)] <= 0; ++tries) {
                int err = 0;
                H264_DVR_DEVICEINFO info{};
                logins[size_t(i)] = H264_DVR_Login(ipOf(i).c_str(), kHttpPort, "admin", "", &info, 0, &err);
                if (logins[size_t(i)] <= 0)
                    std::this_thread::sleep_for(milliseconds(200)); // still restarting from the last round
            }
        });
    for (auto &t : threads)
        t.join();
    Finals f;
    const auto t0 = steady_clock::now();
    std::vector<long> ups;
    for (int i = 0; i < n; ++i)
        if (logins[size_t(i)] > 0)
            ups.push_back(H264_DVR_Upgrade(logins[size_t(i)], file.c_str(), 0, onReport, &f));
    {
        std::unique_lock<std::mutex> lk(f.m);
        f.cv.wait_for(lk, minutes(5), [&] { return f.done >= int(ups.size()); });
    }
    const double s = duration<double>(steady_clock::now() - t0).count();
    for (long u : ups)
        H264_DVR_CloseUpgradeHandle(u);
    ok = f.ok;
    return s;
}

double plainRound(int n, const std::string &file, size_t size, int &ok)
{
    std::atomic<int> good{0};
    const auto t0 = steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] { good += plainUpgrade(ipOf(i), file, size) ? 1 : 0; });
    for (auto &t : threads)
        t.join();
    ok = good;
    return duration<double>(steady_clock::now() - t0).count();
}

// Until every camera answers again after its restart.
void awaitFleet(int n)
{
    for (int i = 0; i < n; ++i) {
        for (int tries = 0; tries < 200; ++tries) {
            CURL *c = curl_easy_init();
            const std::string url =
                "http://" + ipOf(i) + ":" + std::to_string(kHttpPort) + "/onvif/device_service";
            const std::string req = buildRequest(Element(Ns::Device, "GetSystemDateAndTime"), nullptr);
            curl_easy_setopt(c, CURLOPT_URL, url.c_str());
            curl_easy_setopt(c, CURLOPT_PROXY, "");
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, req.c_str());
            curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discard);
            curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 1000L);
            long status = 0;
            const bool up = curl_easy_perform(c) == CURLE_OK &&
                            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                            status == 200;
            curl_easy_cleanup(c);
            if (up)
                break;
            std::this_thread::sleep_for(milliseconds(100));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 64;
    const size_t mib = size_t(argc > 2 ? std::atoi(argv[2]) : 4);
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const char *env = std::getenv("TALLOW_DEVSIM");
    const std::string devsim = env ? env : "./bin/devsim";
    char dir[] = "/tmp/onvif-upbench-XXXXXX";
    if (!::mkdtemp(dir))
        return 2;
    const std::string log = std::string(dir) + "/devsim.log";
    // The package: a zip whose InstallDesc names the cameras' hardware, stored (not deflated) by zip(1).
    const std::string work = std::string(dir) + "/pkg";
    const std::string file = std::string(dir) + "/fw.bin";
    {
        ::mkdir(work.c_str(), 0700);
        std::ofstream(work + "/InstallDesc") << "{\"Hardware\":\"HI3516EV300-IPC\",\"Version\":\"V9.BENCH\"}";
        std::ofstream rom(work + "/romfs", std::ios::binary);
        std::mt19937 rng(1);
        std::string block(1 << 20, '\0');
        for (size_t m = 0; m < mib; ++m) {
            for (char &ch : block)
                ch = char(rng());
            rom.write(block.data(), std::streamsize(block.size()));
        }
    }
    const std::string zipCmd = "cd " + work + " && zip -q -0 " + file + " InstallDesc romfs";
    if (std::system(zipCmd.c_str()) != 0) {
        std::fprintf(stderr, "zip failed\n");
        return 2;
    }
    struct stat st {
    };
    ::stat(file.c_str(), &st);
    const std::string cmd = "exec " + devsim + " --count 1 --onvif " + std::to_string(n) + " --state " + dir +
                            "/state --port 35970 --search-port 35971 --onvif-port " +
                            std::to_string(kHttpPort) + " --discovery-port 35973 > " + log + " 2>&1";
    pid_t pid = 0;
    const char *args[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(args), environ) != 0)
        return 2;
    bool ready = false;
    for (int i = 0; i < 600 && !ready; ++i) {
        std::this_thread::sleep_for(milliseconds(100));
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
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
    ::setenv("TALLOW_NETSDK_ONVIF_PORT", "35973", 1);
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetSearchPort(35971);
    H264_DVR_SetConnectTime(5000, 1);
    std::vector<SDK_CONFIG_NET_COMMON_V2> buf(size_t(n) + 16);
    int len = 0;
    H264_DVR_SearchDevice(reinterpret_cast<char *>(buf.data()), int(buf.size() * sizeof buf[0]), &len, 5000);
    std::printf("%d cameras, package %lld bytes, %d rounds; search listed %d\n", n, (long long)st.st_size,
                rounds, len / int(sizeof buf[0]));
    std::printf("%6s %10s %6s %10s %6s %7s\n", "round", "SDK s", "ok", "plain s", "ok", "ratio");
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        awaitFleet(n);
        int sdkOk = 0, plainOk = 0;
        const double s = sdkRound(n, file, sdkOk);
        awaitFleet(n);
        const double p = plainRound(n, file, size_t(st.st_size), plainOk);
        ratios.push_back(p / s);
        std::printf("%6d %10.2f %6d %10.2f %6d %7.2f\n", r + 1, s, sdkOk, p, plainOk, p / s);
        std::fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio (plain / SDK): %.2f\n", ratios[ratios.size() / 2]);
    H264_DVR_Cleanup();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return 0;
}
