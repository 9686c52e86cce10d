// libFuzzer target: the factory-record service's answer to an upload, as the uploader reads it.
#include "oemid/recorduploader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The uploader keeps at most its 2560-byte answer buffer; larger inputs exercise nothing new.
    if (size > 4096)
        return 0;
    const RecordUploader::Reply reply =
        RecordUploader::readReply(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (reply.kind != RecordUploader::Reply::Code && (reply.ret != 0 || reply.integral))
        std::abort();
    return 0;
}
