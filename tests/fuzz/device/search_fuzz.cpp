// libFuzzer target: search answers from the wire to the table rows. The first byte picks the form:
// even - a run of datagrams, each as [u16 little-endian length][bytes], decoded as the SDK does and
// collected into its answer buffer; odd - the bytes are the SDK's answer buffer as the search thread
// receives it (fields exactly as a device filled them, unterminated text included). Either way the
// buffer goes through the search's selection and every tab's row fill.
#include "device/searchresults.h"
#include "device/tablevariant.h"
#include "netsdk/protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace netsdk::proto;

namespace
{
volatile qsizetype g_sink = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool raw = data[0] & 1;
    ++data;
    --size;
    std::vector<char> buffer(SearchResults::BufferSize, 0);
    int length = 0;
    if (raw) {
        length = int(std::min<size_t>(size, buffer.size()));
        std::memcpy(buffer.data(), data, size_t(length));
    } else {
        size_t at = 0;
        while (at + 2 <= size && length + SearchResults::RecordSize <= SearchResults::BufferSize) {
            const size_t n = std::min<size_t>(size - at - 2, size_t(data[at]) | size_t(data[at + 1]) << 8);
            Frame f;
            SDK_CONFIG_NET_COMMON_V2 answer;
            if (decodeDatagram(data + at + 2, n, f) == Result::Ok && f.header.type == answerOf(MSG_SEARCH) &&
                decodeSearchAnswer(f, answer) == Result::Ok) {
                std::memcpy(buffer.data() + length, &answer, sizeof answer);
                length += SearchResults::RecordSize;
            }
            at += 2 + n;
        }
    }
    const std::vector<SDK_CONFIG_NET_COMMON_V2> answers =
        SearchResults::select(buffer.data(), int(buffer.size()), length);
    int row = 0;
    for (const SDK_CONFIG_NET_COMMON_V2 &a : answers) {
        for (TabKind kind : {TabKind::Firmware, TabKind::Logo, TabKind::Oemid}) {
            const auto fill = fillFromSearch(tableVariant(kind), a, row);
            if (!fill)
                continue;
            for (const QVariant &cell : fill->cells)
                g_sink = g_sink + cell.toString().size();
        }
        ++row;
    }
    return 0;
}
