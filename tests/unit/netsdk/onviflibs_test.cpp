// libcurl and libxml2 serve only the ONVIF side, so they are loaded by the first search (or the
// first ONVIF call), not with the program and not by H264_DVR_Init: the application's first window
// needs neither. A process of its own, since any search before would have loaded them.
#include "netsdk/netsdk.h"

#include <gtest/gtest.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

bool loaded(const char *name)
{
    struct Find {
        const char *name;
        bool found;
    } f{name, false};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *p) {
            auto *f = static_cast<Find *>(p);
            if (info->dlpi_name && std::strstr(info->dlpi_name, f->name))
                f->found = true;
            return 0;
        },
        &f);
    return f.found;
}

} // namespace

TEST(OnvifLibraries, LoadedByTheFirstSearchNotBefore)
{
    const char *const libraries[] = {"libcurl.so", "libxml2.so"};
    for (const char *lib : libraries)
        EXPECT_FALSE(loaded(lib)) << lib << " at start";

    ::setenv("TALLOW_NETSDK_SEARCH_SCOPE", "loopback", 1);
    ASSERT_EQ(H264_DVR_Init(nullptr, 0), 1);
    for (const char *lib : libraries)
        EXPECT_FALSE(loaded(lib)) << lib << " after H264_DVR_Init";

    std::vector<char> buf(sizeof(SDK_CONFIG_NET_COMMON_V2) * 4);
    int len = 0;
    H264_DVR_SearchDevice(buf.data(), int(buf.size()), &len, 200);
    for (const char *lib : libraries)
        EXPECT_TRUE(loaded(lib)) << lib << " after the first search";
    H264_DVR_Cleanup();
}
