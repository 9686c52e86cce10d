/*
 * curllib.cpp - libcurl through dlopen at its first use.
 */
#include "curllib.h"

#include <dlfcn.h>

#include <cstdio>

namespace netsdk
{
namespace detail
{

namespace
{

/* The library's ABI name: the one its development package links against. */
constexpr const char *kCurlSoname = "libcurl.so.4";

template <class F> bool resolve(void *lib, const char *name, F &out)
{
    out = reinterpret_cast<F>(::dlsym(lib, name));
    return out != nullptr;
}

const CurlLib *load()
{
    void *lib = ::dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "netsdk: ONVIF is not available: %s\n", ::dlerror());
        return nullptr;
    }
    static CurlLib c{};
    decltype(&::curl_global_init) globalInit = nullptr;
    const bool ok =
        resolve(lib, "curl_global_init", globalInit) && resolve(lib, "curl_easy_init", c.easy_init) &&
        resolve(lib, "curl_easy_setopt", c.easy_setopt) &&
        resolve(lib, "curl_easy_getinfo", c.easy_getinfo) &&
        resolve(lib, "curl_easy_perform", c.easy_perform) &&
        resolve(lib, "curl_easy_cleanup", c.easy_cleanup) &&
        resolve(lib, "curl_slist_append", c.slist_append) &&
        resolve(lib, "curl_slist_free_all", c.slist_free_all) &&
        resolve(lib, "curl_mime_init", c.mime_init) && resolve(lib, "curl_mime_addpart", c.mime_addpart) &&
        resolve(lib, "curl_mime_data", c.mime_data) && resolve(lib, "curl_mime_type", c.mime_type) &&
        resolve(lib, "curl_mime_headers", c.mime_headers) &&
        resolve(lib, "curl_mime_encoder", c.mime_encoder) && resolve(lib, "curl_mime_free", c.mime_free);
    if (!ok || globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "netsdk: ONVIF is not available: %s cannot be used\n", kCurlSoname);
        return nullptr; /* the library stays loaded: unloading what may have run is not worth it */
    }
    return &c;
}

} // namespace

const CurlLib *curlLib()
{
    /* Once: the global initialisation is not thread-safe, the static's initialisation is. */
    static const CurlLib *const lib = load();
    return lib;
}

} // namespace detail
} // namespace netsdk
