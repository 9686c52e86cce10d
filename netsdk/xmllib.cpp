/*
 * xmllib.cpp - libxml2 through dlopen at its first use.
 */
#include "xmllib.h"

#include <dlfcn.h>

#include <cstdio>

namespace netsdk
{
namespace onvif
{

namespace
{

/* The library's ABI name: the one its development package links against. */
constexpr const char *kXmlSoname = "libxml2.so.2";

template <class F> bool resolve(void *lib, const char *name, F &out)
{
    out = reinterpret_cast<F>(::dlsym(lib, name));
    return out != nullptr;
}

const XmlLib *load()
{
    void *lib = ::dlopen(kXmlSoname, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "netsdk: ONVIF is not available: %s\n", ::dlerror());
        return nullptr;
    }
    static XmlLib x{};
    const bool ok =
        resolve(lib, "xmlReadMemory", x.ReadMemory) && resolve(lib, "xmlFreeDoc", x.FreeDoc) &&
        resolve(lib, "xmlNewDoc", x.NewDoc) && resolve(lib, "xmlNewDocNode", x.NewDocNode) &&
        resolve(lib, "xmlDocSetRootElement", x.DocSetRootElement) &&
        resolve(lib, "xmlDocGetRootElement", x.DocGetRootElement) && resolve(lib, "xmlNewNs", x.NewNs) &&
        resolve(lib, "xmlSetNs", x.SetNs) && resolve(lib, "xmlNewChild", x.NewChild) &&
        resolve(lib, "xmlNodeAddContentLen", x.NodeAddContentLen) && resolve(lib, "xmlNewProp", x.NewProp) &&
        resolve(lib, "xmlNewNsProp", x.NewNsProp) && resolve(lib, "xmlNodeGetContent", x.NodeGetContent) &&
        resolve(lib, "xmlGetProp", x.GetProp) && resolve(lib, "xmlDocDumpMemoryEnc", x.DocDumpMemoryEnc) &&
        resolve(lib, "xmlFree", x.FreeHook);
    decltype(&::xmlInitParser) init = nullptr;
    if (!ok || !resolve(lib, "xmlInitParser", init)) {
        std::fprintf(stderr, "netsdk: ONVIF is not available: %s lacks a function\n", kXmlSoname);
        return nullptr; /* the library stays loaded: unloading what may have run is not worth it */
    }
    init(); /* once, before threads share the parser */
    return &x;
}

} // namespace

const XmlLib *xmlLib()
{
    static const XmlLib *const lib = load();
    return lib;
}

} // namespace onvif
} // namespace netsdk
