// Upgrades N devices at once with one package through the SDK, and in the same run moves the same
// bytes over N plain loopback connections, once to receivers that only read and once to receivers
// that hash what they get (as a verifying device must). The devices and the receivers live in a
// child process, so the peak memory printed is the SDK side's alone.
//   netsdk_fleet_bench [devices=256] [MiB=8] [rounds=3]
#include "fakedevice.h"
#include "netsdk/netsdk.h"
#include "netsdk/packagedigest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;

namespace
{

long statusKiB(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::atol(line.c_str() + n);
    return -1;
}

// Starts a new peak for VmHWM (Linux 4.0 and later).
void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Threads carry their role in their name, so a profile (perf report --sort comm) splits the time
// between the SDK's upgrade threads (which keep the program's name), the plain senders, and the
// receiving side.
void nameThread(const char *name)
{
    ::prctl(PR_SET_NAME, name, 0, 0, 0);
}

// CPU seconds (user and system, every thread, ended ones included) a process has used so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')'); /* the name may hold spaces */
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// Both processes: the sending side (this one) and the receiving one.
double pairCpuSeconds(pid_t receiver)
{
    return cpuSeconds(::getpid()) + cpuSeconds(receiver);
}

double secondsSince(steady_clock::time_point t0)
{
    return duration<double>(steady_clock::now() - t0).count();
}

bool readAll(int fd, void *p, size_t n)
{
    auto *b = static_cast<uint8_t *>(p);
    while (n > 0) {
        const ssize_t k = ::read(fd, b, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        b += k;
        n -= size_t(k);
    }
    return true;
}

bool writeAll(int fd, const void *p, size_t n)
{
    auto *b = static_cast<const uint8_t *>(p);
    while (n > 0) {
        const ssize_t k = ::send(fd, b, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        b += k;
        n -= size_t(k);
    }
    return true;
}

uint16_t listenLoopback(int &fd)
{
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(fd, 512) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

int connectLoopback(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A plain receiver: an 8-byte head (size, hash or not), the bytes, then a one-byte receipt.
void receive(int fd)
{
    nameThread("plain-recv");
    uint32_t head[2];
    if (readAll(fd, head, sizeof head)) {
        netsdk::proto::Sha256 sha;
        std::vector<uint8_t> buf(65536);
        uint64_t left = head[0];
        while (left > 0) {
            const ssize_t k = ::recv(fd, buf.data(), std::min<uint64_t>(left, buf.size()), 0);
            if (k <= 0)
                break;
            if (head[1])
                sha.update(buf.data(), size_t(k));
            left -= uint64_t(k);
        }
        sha.final();
        const uint8_t receipt = left == 0 ? 1 : 0;
        writeAll(fd, &receipt, 1);
    }
    ::close(fd);
}

// The child: the test device and the plain receivers. Tells the parent both ports, serves until
// the parent writes to `cmd`, then answers with how many upgrades the device verified.
[[noreturn]] void deviceHost(int cmd, int answer)
{
    nameThread("device"); /* inherited by the test device's threads */
    DeviceScript script;
    script.progress = {50, 100};
    FakeDevice dev(script);
    int lfd = -1;
    const uint16_t plainPort = listenLoopback(lfd);
    const uint16_t ports[2] = {dev.port(), plainPort};
    if (::write(answer, ports, sizeof ports) != ssize_t(sizeof ports))
        std::_Exit(2);
    std::vector<std::thread> receivers;
    for (;;) {
        pollfd p[2] = {{lfd, POLLIN, 0}, {cmd, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            break;
        if (p[1].revents)
            break;
        if (p[0].revents & POLLIN) {
            const int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                receivers.emplace_back(receive, fd);
        }
        if (receivers.size() > 4096) {
            for (auto &t : receivers)
                t.join();
            receivers.clear();
        }
    }
    for (auto &t : receivers)
        t.join();
    const int ok = dev.seen().upgradesOk;
    if (::write(answer, &ok, sizeof ok) != ssize_t(sizeof ok))
        std::_Exit(2);
    std::_Exit(0);
}

// N connections at once, each sending the whole file (from the page cache) and waiting for its
// receipt. Seconds, or a negative value when a transfer failed.
double plainTransfer(uint16_t port, const std::string &path, uint32_t size, int n, bool hash, pid_t receiver,
                     double &cpu)
{
    const double cpu0 = pairCpuSeconds(receiver);
    std::atomic<int> ok{0};
    std::vector<std::thread> senders;
    const auto t0 = steady_clock::now();
    for (int i = 0; i < n; ++i)
        senders.emplace_back([&] {
            nameThread("plain-send");
            const int fd = connectLoopback(port);
            const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || file < 0) {
                ::close(fd);
                ::close(file);
                return;
            }
            const uint32_t head[2] = {size, hash ? 1u : 0u};
            off_t off = 0;
            bool good = writeAll(fd, head, sizeof head);
            while (good && off < off_t(size)) {
                const ssize_t k = ::sendfile(fd, file, &off, size - size_t(off));
                good = k > 0 || (k < 0 && errno == EINTR);
            }
            uint8_t receipt = 0;
            if (good && readAll(fd, &receipt, 1) && receipt == 1)
                ++ok;
            ::close(file);
            ::close(fd);
        });
    for (auto &t : senders)
        t.join();
    const double s = secondsSince(t0);
    cpu = pairCpuSeconds(receiver) - cpu0;
    return ok == n ? s : -s;
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

struct SdkRound {
    int logged = 0;
    int started = 0;
    int ok = 0;
    double loginS = 0;
    double upgradeS = 0;
    double upgradeCpu = 0; /* both processes, during the upgrades */
    long peakKiB = 0;
};

SdkRound sdkUpgrade(uint16_t port, const std::string &pkg, int devices, pid_t receiver)
{
    SdkRound r;
    resetPeakRss();
    std::vector<long> handles(size_t(devices), 0);
    auto t0 = steady_clock::now();
    std::vector<std::thread> threads;
    std::atomic<int> next{0};
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            nameThread("sdk-login");
            for (int i; (i = next++) < devices;) {
                int err = 0;
                H264_DVR_DEVICEINFO info{};
                handles[size_t(i)] = H264_DVR_Login("127.0.0.1", port, "admin", "pw", &info, 1, &err);
            }
        });
    for (auto &t : threads)
        t.join();
    r.loginS = secondsSince(t0);
    for (long h : handles)
        r.logged += h > 0;

    Finals finals;
    const double cpu0 = pairCpuSeconds(receiver);
    t0 = steady_clock::now();
    for (long h : handles)
        r.started += h > 0 && H264_DVR_Upgrade(h, pkg.c_str(), 0, onUpgrade, &finals) > 0;
    {
        std::unique_lock<std::mutex> lk(finals.m);
        finals.cv.wait_for(lk, minutes(10), [&] { return finals.done == r.started; });
    }
    r.upgradeS = secondsSince(t0);
    r.upgradeCpu = pairCpuSeconds(receiver) - cpu0;
    r.ok = finals.ok;
    r.peakKiB = statusKiB("VmHWM:");
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 256;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 8;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    if (devices < 1 || mib < 1 || mib > 2047) {
        std::fprintf(stderr, "usage: netsdk_fleet_bench [devices=256] [MiB=8] [rounds=3]\n");
        return 2;
    }
    const std::string pkg = "/tmp/netsdk_fleet_bench_" + std::to_string(::getpid()) + ".bin";
    {
        std::ofstream out(pkg, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char(i * 31 + 7);
        for (int i = 0; i < mib; ++i)
            out.write(block.data(), long(block.size()));
    }
    const uint32_t size = uint32_t(mib) << 20;

    // The child starts before any thread of ours exists.
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        return 2;
    const pid_t child = ::fork();
    if (child < 0)
        return 2;
    if (child == 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        deviceHost(toChild[0], fromChild[1]);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    uint16_t ports[2] = {0, 0};
    if (!readAll(fromChild[0], ports, sizeof ports) || !ports[0] || !ports[1]) {
        std::fprintf(stderr, "the device process did not start\n");
        return 2;
    }

    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(5000, 1);
    const uint64_t hashesBefore = netsdk::detail::packageHashCount();

    std::printf("devices %d, package %d MiB, %d rounds; devices and receivers in process %d\n", devices, mib,
                rounds, int(child));
    // Wall times compare the phases on an idle machine; on a shared one the CPU each phase cost (both
    // processes) is the steadier figure, and "cpu vs hash" is hashing CPU / SDK CPU.
    std::printf("%5s %9s %9s %9s %9s %9s %9s %11s %9s %9s %9s\n", "round", "plain s", "hashing s", "login s",
                "SDK s", "vs plain", "vs hash", "SDK peak MiB", "hash cpu", "SDK cpu", "cpu vs hash");
    std::vector<double> vsPlain, vsHash, cpuVsHash;
    long worstPeak = 0;
    int failures = 0, upgradesOk = 0, upgradesStarted = 0;
    for (int round = 1; round <= rounds; ++round) {
        double plainCpu = 0, hashCpu = 0;
        const double plain = plainTransfer(ports[1], pkg, size, devices, false, child, plainCpu);
        const double hashed = plainTransfer(ports[1], pkg, size, devices, true, child, hashCpu);
        const SdkRound sdk = sdkUpgrade(ports[0], pkg, devices, child);
        failures += (plain < 0) + (hashed < 0) + (sdk.ok != devices);
        upgradesOk += sdk.ok;
        upgradesStarted += sdk.started;
        vsPlain.push_back(std::abs(plain) / sdk.upgradeS);
        vsHash.push_back(std::abs(hashed) / sdk.upgradeS);
        cpuVsHash.push_back(hashCpu / sdk.upgradeCpu);
        worstPeak = std::max(worstPeak, sdk.peakKiB);
        std::printf("%5d %9.3f %9.3f %9.3f %9.3f %9.2f %9.2f %11.1f %9.2f %9.2f %9.2f\n", round,
                    std::abs(plain), std::abs(hashed), sdk.loginS, sdk.upgradeS, vsPlain.back(),
                    vsHash.back(), sdk.peakKiB / 1024.0, hashCpu, sdk.upgradeCpu, cpuVsHash.back());
        std::fflush(stdout);
    }
    const char quit = 'q';
    int verified = -1;
    if (::write(toChild[1], &quit, 1) != 1 || !readAll(fromChild[0], &verified, sizeof verified))
        verified = -1;
    int status = 0;
    ::waitpid(child, &status, 0);
    H264_DVR_Cleanup();
    std::remove(pkg.c_str());

    std::sort(vsPlain.begin(), vsPlain.end());
    std::sort(vsHash.begin(), vsHash.end());
    std::sort(cpuVsHash.begin(), cpuVsHash.end());
    std::printf("upgrades: %d started, %d succeeded, %d verified by the devices; package hashed %llu times "
                "by the SDK\n",
                upgradesStarted, upgradesOk, verified,
                static_cast<unsigned long long>(netsdk::detail::packageHashCount() - hashesBefore));
    std::printf("median ratio SDK / plain transfer to hashing receivers: %.2f (target >= 0.9)\n",
                vsHash[vsHash.size() / 2]);
    std::printf("median ratio SDK / plain transfer: %.2f\n", vsPlain[vsPlain.size() / 2]);
    std::printf("median CPU ratio, hashing transfer / SDK upgrades (both processes): %.2f\n",
                cpuVsHash[cpuVsHash.size() / 2]);
    std::printf("SDK-side peak RSS: %.1f MiB (target < 64 MiB)\n", worstPeak / 1024.0);
    return failures == 0 && verified == upgradesOk ? 0 : 1;
}
