// devsim: emulates a fleet of network video devices on loopback addresses.

#include "device.h"
#include "fileutil.h"
#include "fleet.h"
#include "server.h"

#include "recordservice.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace
{

const char kUsage[] =
    "usage: devsim (--count N [--onvif M] | --onvif M | --fleet FILE) [options]\n"
    "  --count N           N devices on consecutive loopback addresses\n"
    "  --onvif M           M ONVIF cameras on the addresses after them (or from the base address)\n"
    "  --fleet FILE        devices described by a JSON fleet file (see devsim/README.md)\n"
    "  --state DIR         state directory (default: a new temporary directory)\n"
    "  --base-ip A         first address (default 127.0.0.10)\n"
    "  --port P            TCP service port of every device (default 34567)\n"
    "  --search-port P     UDP port for search and address changes (default 34569)\n"
    "  --records-port P    also run the factory-record service on 127.0.0.1:P\n"
    "  --upgrade-ms MS     time every device takes to flash (overrides the fleet file)\n"
    "  --reboot-ms MS      time every device stays away after a reboot (overrides the fleet file)\n"
    "  --reboot-after-upgrade 0|1  whether every device restarts after a successful burn (overrides)\n"
    "  --link-mbps N       one link of N Mbit/s that all devices' received data shares (default: none)\n"
    "  --keys-at-start 0|1 derive every device's login key before \"ready\", as a real device stores it\n"
    "  --onvif-port P      HTTP port of the ONVIF devices' service (default 8080)\n"
    "  --discovery-port P  WS-Discovery port of the ONVIF devices (default 3702)\n";

bool parseNumber(const char *text, long lo, long hi, long *out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "devsim: %s\n", message.c_str());
    return 2;
}

const char *typeName(int type)
{
    static const char *const names[] = {"IPC", "DVR", "DVR", "IPC", "NVR", "IPC"};
    return (type >= 0 && type <= 5) ? names[type] : "DVR";
}

} // namespace

int main(int argc, char **argv)
{
    long count = -1, port = 34567, searchPort = 34569, recordsPort = -1, upgradeMs = -1, rebootMs = -1,
         rebootAfterUpgrade = -1, linkMbps = 0, keysAtStart = 0, onvifPort = 8080, discoveryPort = 3702,
         onvifCount = 0;
    std::string fleetFile, stateDir;
    devsim::FleetOptions fleetOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return fail("missing value after " + arg + "\n" + kUsage);
        const char *value = argv[++i];
        bool ok = true;
        if (arg == "--count")
            ok = parseNumber(value, 1, 4096, &count);
        else if (arg == "--fleet")
            fleetFile = value;
        else if (arg == "--state")
            stateDir = value;
        else if (arg == "--base-ip")
            fleetOptions.baseIp = value;
        else if (arg == "--port")
            ok = parseNumber(value, 1, 65535, &port);
        else if (arg == "--search-port")
            ok = parseNumber(value, 1, 65535, &searchPort);
        else if (arg == "--records-port")
            ok = parseNumber(value, 0, 65535, &recordsPort);
        else if (arg == "--upgrade-ms")
            ok = parseNumber(value, 0, 3600000, &upgradeMs);
        else if (arg == "--reboot-ms")
            ok = parseNumber(value, 0, 3600000, &rebootMs);
        else if (arg == "--keys-at-start")
            ok = parseNumber(value, 0, 1, &keysAtStart);
        else if (arg == "--link-mbps")
            ok = parseNumber(value, 1, 400000, &linkMbps);
        else if (arg == "--onvif")
            ok = parseNumber(value, 0, 4096, &onvifCount);
        else if (arg == "--onvif-port")
            ok = parseNumber(value, 1, 65535, &onvifPort);
        else if (arg == "--discovery-port")
            ok = parseNumber(value, 1, 65535, &discoveryPort);
        else if (arg == "--reboot-after-upgrade")
            ok = parseNumber(value, 0, 1, &rebootAfterUpgrade);
        else
            return fail("unknown option " + arg + "\n" + kUsage);
        if (!ok)
            return fail("bad value for " + arg + ": " + value);
    }
    if (count < 0 && onvifCount > 0)
        count = 0;
    if ((count >= 0) == !fleetFile.empty())
        return fail(std::string("give either --count / --onvif or --fleet\n") + kUsage);
    uint8_t base[4];
    if (!devsim::parseIPv4(fleetOptions.baseIp, base) || base[0] != 127)
        return fail("--base-ip must be a 127.x.x.x address");
    fleetOptions.upgradeMs = int(upgradeMs);
    fleetOptions.rebootMs = int(rebootMs);
    fleetOptions.rebootAfterUpgrade = int(rebootAfterUpgrade);

    std::vector<devsim::DeviceSpec> fleet;
    std::string error;
    if (!fleetFile.empty()) {
        if (!devsim::loadFleetFile(fleetFile, fleetOptions, &fleet, &error))
            return fail(error);
    } else {
        fleet = devsim::makeDefaultFleet(int(count), fleetOptions);
        for (const auto &cam : devsim::makeOnvifCameras(int(onvifCount), int(count), fleetOptions))
            fleet.push_back(cam);
        if (int(fleet.size()) != count + onvifCount)
            return fail("not enough loopback addresses above " + fleetOptions.baseIp);
    }

    if (stateDir.empty()) {
        char tmpl[] = "/tmp/devsim-state.XXXXXX";
        if (!::mkdtemp(tmpl))
            return fail("cannot create a temporary state directory");
        stateDir = tmpl;
    } else if (!devsim::makeDirs(stateDir, &error)) {
        return fail(error);
    }
    std::printf("state %s\n", stateDir.c_str());

    std::vector<std::unique_ptr<devsim::Device>> devices;
    for (const auto &spec : fleet) {
        auto d = std::make_unique<devsim::Device>(spec, stateDir);
        if (!d->init(&error))
            return fail(error);
        devices.push_back(std::move(d));
    }

    // Signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    devsim::ServerOptions serverOptions;
    serverOptions.servicePort = uint16_t(port);
    serverOptions.searchPort = uint16_t(searchPort);
    serverOptions.onvifPort = uint16_t(onvifPort);
    serverOptions.discoveryPort = uint16_t(discoveryPort);
    if (linkMbps > 0) {
        const uint64_t bits = uint64_t(linkMbps) * 1000000u;
        serverOptions.link =
            std::make_shared<devsim::LinkBucket>(bits, devsim::LinkBucket::defaultBurst(bits));
    }
    devsim::Server server(std::move(devices), serverOptions);
    if (!server.start(&error))
        return fail(error);
    for (size_t i = 0; i < server.deviceCount(); ++i) {
        devsim::Device &d = server.device(i);
        const devsim::DeviceSpec &s = d.spec();
        std::printf("device %zu %s:%ld mac=%s serial=%s type=%s hardware=%s dir=%s", i + 1, d.ip().c_str(),
                    s.speaksSdk() ? port : onvifPort, s.mac.c_str(), s.serial.c_str(), typeName(s.deviceType),
                    s.hardware.c_str(), d.dir().c_str());
        if (s.speaksOnvif())
            std::printf(" onvif=http://%s:%ld/onvif/device_service", d.ip().c_str(), onvifPort);
        std::printf("\n");
    }

    std::unique_ptr<devsim::RecordService> records;
    if (recordsPort >= 0) {
        records = std::make_unique<devsim::RecordService>(stateDir);
        if (!records->start("127.0.0.1", uint16_t(recordsPort), &error)) {
            server.stop();
            return fail("factory-record service: " + error);
        }
        std::printf("records https://127.0.0.1:%u ca=%s\n", unsigned(records->port()),
                    records->caFile().c_str());
    }

    if (keysAtStart) {
        // A real device stores its derived key when its password is set; deriving 256 of them at the
        // first logins would put the whole fleet's key work on the station's own CPU at once.
        std::vector<std::thread> workers;
        std::atomic<size_t> next{0};
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                std::array<uint8_t, 32> key;
                for (size_t i; (i = next++) < server.deviceCount();)
                    server.device(i).loginKey(&key);
            });
        for (auto &w : workers)
            w.join();
    }
    std::printf("ready %zu devices search-port=%ld\n", server.deviceCount(), searchPort);
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    std::printf("stopping (signal %d)\n", sig);
    std::fflush(stdout);
    if (records)
        records->stop();
    server.stop();
    return 0;
}
