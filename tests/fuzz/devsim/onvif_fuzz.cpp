// libFuzzer target: what an ONVIF client sends to the simulator. The first byte picks the door:
// 0 a WS-Discovery datagram; 1 a SOAP request without credentials; 2 a SOAP request past the
// HTTP Digest check (so every operation's argument reading is reached); 3 a multipart (MTOM) body,
// whose Content-Type is the first line of the rest.
#include "device.h"
#include "fleet.h"
#include "fuzztemp.h"
#include "onvifservice.h"
#include "wsdiscovery.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace
{

devsim::OnvifService &service()
{
    static std::unique_ptr<devsim::Device> d;
    static std::unique_ptr<devsim::OnvifService> s = [] {
        devsim::DeviceSpec spec;
        spec.ip = "127.0.0.10";
        spec.mac = "00:12:34:56:78:9a";
        spec.stateName = "001234567890a";
        spec.serial = "9f3c0a51d27e4b68";
        spec.password = "pw";
        spec.protocol = devsim::Protocol::Onvif;
        d = std::make_unique<devsim::Device>(spec, fuzztemp::dir());
        std::string error;
        if (!d->init(&error))
            std::abort();
        return std::make_unique<devsim::OnvifService>(*d, [](const std::string &) { return true; });
    }();
    return *s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t door = data[0] & 3;
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    devsim::OnvifService &svc = service();
    switch (door) {
    case 0: {
        devsim::Probe probe;
        std::string error;
        if (devsim::parseProbe(rest.data(), rest.size(), &probe, &error) &&
            devsim::probeMatches(probe, devsim::deviceScopes(svc.device())))
            devsim::probeMatchesMessage(probe, svc.device(), "http://127.0.0.10:8080/onvif/device_service");
        break;
    }
    case 1:
    case 2:
        svc.handle("application/soap+xml", rest, door == 2 ? devsim::HttpAuth::Valid : devsim::HttpAuth::None,
                   "127.0.0.10", 8080);
        break;
    default: {
        const size_t eol = rest.find('\n');
        if (eol == std::string::npos)
            break;
        svc.handle(rest.substr(0, eol), rest.substr(eol + 1), devsim::HttpAuth::Valid, "127.0.0.10", 8080);
        break;
    }
    }
    return 0;
}
