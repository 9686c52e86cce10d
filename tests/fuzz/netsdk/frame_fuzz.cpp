// libFuzzer target for the device protocol's parsers: the first byte picks datagram or stream mode
// (and how the stream is split); every frame that passes the header check goes through the decoder
// of its type.
#include "netsdk/protocol.h"

#include <cstddef>
#include <cstdint>

using namespace netsdk::proto;

namespace
{

void decodePayload(const Frame &f)
{
    switch (f.header.type) {
    case answerOf(MSG_SEARCH): {
        SDK_CONFIG_NET_COMMON_V2 m;
        decodeSearchAnswer(f, m);
        break;
    }
    case MSG_NET_SET: {
        NetSet m;
        decodeNetSet(f, m);
        break;
    }
    case answerOf(MSG_NET_SET): {
        std::string m;
        decodeNetSetAnswer(f, m);
        break;
    }
    case answerOf(MSG_LOGIN_CHALLENGE): {
        LoginChallengeAnswer m;
        decodeLoginChallengeAnswer(f, m);
        break;
    }
    case MSG_LOGIN: {
        Login m;
        decodeLogin(f, m);
        break;
    }
    case answerOf(MSG_LOGIN): {
        H264_DVR_DEVICEINFO m;
        decodeLoginAnswer(f, m);
        break;
    }
    case MSG_CONFIG_GET: {
        ConfigGet m;
        decodeConfigGet(f, m);
        break;
    }
    case MSG_CONFIG_SET: {
        ConfigSet m;
        decodeConfigSet(f, m);
        break;
    }
    case MSG_JSON_GET: {
        JsonGet m;
        decodeJsonGet(f, m);
        break;
    }
    case MSG_JSON_SET: {
        JsonSet m;
        decodeJsonSet(f, m);
        break;
    }
    case answerOf(MSG_JSON_GET):
    case answerOf(MSG_JSON_SET): {
        std::string m;
        decodeJsonText(f, m);
        break;
    }
    case MSG_CONTROL: {
        Control m;
        decodeControl(f, m);
        break;
    }
    case MSG_UPGRADE_BEGIN: {
        UpgradeBegin m;
        decodeUpgradeBegin(f, m);
        break;
    }
    case MSG_UPGRADE_DATA: {
        uint32_t off;
        const uint8_t *p;
        size_t n;
        if (decodeUpgradeData(f, off, p, n) == Result::Ok && n > 0) {
            volatile uint8_t sink = p[0] ^ p[n - 1];
            (void)sink;
        }
        break;
    }
    case MSG_UPGRADE_END: {
        UpgradeEnd m;
        decodeUpgradeEnd(f, m);
        break;
    }
    case EVT_UPGRADE_PROGRESS: {
        int32_t m;
        decodeUpgradeProgress(f, m);
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
    const uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1) {
        Frame f;
        if (decodeDatagram(data, size, f) == Result::Ok)
            decodePayload(f);
        return 0;
    }
    const size_t step = 1 + (mode >> 1) * 97;
    FrameReader reader;
    for (size_t i = 0; i < size; i += step) {
        reader.feed(data + i, size - i < step ? size - i : step);
        Frame f;
        Result r;
        while ((r = reader.next(f)) == Result::Ok)
            decodePayload(f);
        if (r != Result::Incomplete)
            break;
    }
    return 0;
}
