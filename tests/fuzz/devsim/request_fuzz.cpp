// libFuzzer target: the simulator's side of the protocol. The bytes are what a client sends: a TCP
// stream of request frames (first byte even) or one UDP datagram (odd). Each request is decoded as
// the simulator's connection does and handed to an emulated device, whose handlers read the
// binary records, JSON texts and network blocks inside.
#include "device.h"
#include "fleet.h"
#include "fuzztemp.h"
#include "netsdk/protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace netsdk::proto;

namespace
{

devsim::Device &device()
{
    static std::unique_ptr<devsim::Device> d = [] {
        devsim::DeviceSpec spec;
        spec.ip = "127.0.0.10";
        spec.mac = "00:12:34:56:78:9a";
        spec.stateName = "001234567890a";
        spec.serial = "9f3c0a51d27e4b68";
        spec.password = "pw";
        auto dev = std::make_unique<devsim::Device>(spec, fuzztemp::dir());
        std::string error;
        if (!dev->init(&error))
            std::abort();
        return dev;
    }();
    return *d;
}

void handle(const Frame &f)
{
    devsim::Device &dev = device();
    switch (f.header.type) {
    case MSG_SEARCH:
        dev.searchRecord(34567);
        break;
    case MSG_NET_SET: {
        NetSet m;
        if (decodeNetSet(f, m) == Result::Ok) {
            std::string moveTo;
            dev.netSet(m.block, &moveTo);
            if (!moveTo.empty())
                dev.addressChanged(moveTo);
        }
        break;
    }
    case MSG_LOGIN: {
        Login m;
        if (decodeLogin(f, m) == Result::Ok)
            dev.login(m.user, false);
        break;
    }
    case MSG_CONFIG_GET: {
        ConfigGet m;
        std::vector<uint8_t> out;
        if (decodeConfigGet(f, m) == Result::Ok)
            dev.getConfig(m.command, 34567, &out);
        break;
    }
    case MSG_CONFIG_SET: {
        ConfigSet m;
        if (decodeConfigSet(f, m) == Result::Ok)
            dev.setConfig(m.command, m.data.data(), m.data.size());
        break;
    }
    case MSG_JSON_GET: {
        JsonGet m;
        if (decodeJsonGet(f, m) == Result::Ok)
            dev.getJson(m.name, m.command);
        break;
    }
    case MSG_JSON_SET: {
        JsonSet m;
        if (decodeJsonSet(f, m) == Result::Ok)
            dev.setJson(m.name, m.command, m.text);
        break;
    }
    case MSG_CONTROL: {
        Control m;
        decodeControl(f, m); // a reboot would take the device away; the decoding is what counts
        break;
    }
    case MSG_UPGRADE_BEGIN: {
        UpgradeBegin m;
        decodeUpgradeBegin(f, m);
        break;
    }
    case MSG_UPGRADE_DATA: {
        uint32_t offset;
        const uint8_t *p;
        size_t n;
        decodeUpgradeData(f, offset, p, n);
        break;
    }
    case MSG_UPGRADE_END: {
        UpgradeEnd m;
        decodeUpgradeEnd(f, m);
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool datagram = data[0] & 1;
    ++data;
    --size;
    if (datagram) {
        Frame f;
        if (decodeDatagram(data, size, f) == Result::Ok)
            handle(f);
        return 0;
    }
    FrameReader reader;
    reader.feed(data, size);
    Frame f;
    while (reader.next(f) == Result::Ok) {
        if (!(f.header.type & kAnswerBit))
            handle(f);
    }
    return 0;
}
