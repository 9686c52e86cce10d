/*
 * xmllib.h - libxml2, loaded when the first ONVIF message is built or read rather than with the
 * program: the application's first window needs none of it, and loading it (with what it pulls in)
 * at start cost a noticeable part of the time to the first window.
 */
#pragma once

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

namespace netsdk
{
namespace onvif
{

/* The libxml2 functions the ONVIF messages use, under their own types. */
struct XmlLib {
    decltype(&::xmlReadMemory) ReadMemory;
    decltype(&::xmlFreeDoc) FreeDoc;
    decltype(&::xmlNewDoc) NewDoc;
    decltype(&::xmlNewDocNode) NewDocNode;
    decltype(&::xmlDocSetRootElement) DocSetRootElement;
    decltype(&::xmlDocGetRootElement) DocGetRootElement;
    decltype(&::xmlNewNs) NewNs;
    decltype(&::xmlSetNs) SetNs;
    decltype(&::xmlNewChild) NewChild;
    decltype(&::xmlNodeAddContentLen) NodeAddContentLen;
    decltype(&::xmlNewProp) NewProp;
    decltype(&::xmlNewNsProp) NewNsProp;
    decltype(&::xmlNodeGetContent) NodeGetContent;
    decltype(&::xmlGetProp) GetProp;
    decltype(&::xmlDocDumpMemoryEnc) DocDumpMemoryEnc;
    decltype(&::xmlFree) FreeHook; /* the library's variable xmlFree: what frees its allocations */

    void Free(void *p) const { (*FreeHook)(p); }
};

/* libxml2, loaded and its parser initialised on the first call (from any thread); null when the
 * library cannot be loaded, and then no message can be built or read. */
const XmlLib *xmlLib();

} // namespace onvif
} // namespace netsdk
