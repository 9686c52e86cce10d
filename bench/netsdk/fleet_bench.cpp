// Logs in N sessions from 16 threads, then upgrades all N at once with one package, and prints
// the times and the process's peak memory: the package is streamed, so memory must not grow
// with N x package size.
#include "fakedevice.h"
#include "netsdk/netsdk.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;

namespace
{

long peakRssKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Finals {
    std::mutex m;
    std::condition_variable cv;
    int done = 0;
    int ok = 0;
};

void onUpgrade(long, long handle, int, int pos, void *user)
{
    if (pos >= 0)
        return;
    auto *f = static_cast<Finals *>(user);
    H264_DVR_CloseUpgradeHandle(handle);
    std::lock_guard<std::mutex> lk(f->m);
    ++f->done;
    f->ok += pos == -1;
    f->cv.notify_all();
}

double secondsSince(steady_clock::time_point t0)
{
    return duration<double>(steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char **argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 256;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 8;
    std::string pkg = "/tmp/netsdk_fleet_bench_" + std::to_string(::getpid()) + ".bin";
    {
        std::ofstream out(pkg, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char(i * 31 + 7);
        for (int i = 0; i < mib; ++i)
            out.write(block.data(), long(block.size()));
    }

    DeviceScript script;
    script.progress = {50, 100};
    FakeDevice dev(script);
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(5000, 1);
    const long rssStart = peakRssKiB();

    std::vector<long> handles(size_t(devices), 0);
    auto t0 = steady_clock::now();
    std::vector<std::thread> threads;
    std::atomic<int> next{0};
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            for (int i; (i = next++) < devices;) {
                int err = 0;
                H264_DVR_DEVICEINFO info{};
                handles[size_t(i)] = H264_DVR_Login("127.0.0.1", dev.port(), "admin", "pw", &info, 1, &err);
            }
        });
    for (auto &t : threads)
        t.join();
    const double loginS = secondsSince(t0);
    int logged = 0;
    for (long h : handles)
        logged += h > 0;

    Finals finals;
    t0 = steady_clock::now();
    int started = 0;
    for (long h : handles)
        started += h > 0 && H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &finals) > 0;
    {
        std::unique_lock<std::mutex> lk(finals.m);
        finals.cv.wait_for(lk, minutes(10), [&] { return finals.done == started; });
    }
    const double upgradeS = secondsSince(t0);
    const long rssEnd = peakRssKiB();
    const auto seen = dev.seen();

    std::printf("devices %d, package %d MiB\n", devices, mib);
    std::printf("logins: %d/%d in %.3f s\n", logged, devices, loginS);
    std::printf(
        "upgrades: %d started, %d final, %d succeeded, %d verified by the device, in %.3f s (%.1f MiB/s)\n",
        started, finals.done, finals.ok, seen.upgradesOk, upgradeS, started * double(mib) / upgradeS);
    std::printf("peak RSS: %ld KiB before the logins, %ld KiB after the upgrades (%.1f KiB per device)\n",
                rssStart, rssEnd, double(rssEnd - rssStart) / devices);
    H264_DVR_Cleanup();
    std::remove(pkg.c_str());
    return finals.ok == devices && seen.upgradesOk == devices ? 0 : 1;
}
