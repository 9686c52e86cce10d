/*
 * curllib.h - libcurl, loaded at the first ONVIF request rather than with the program: the
 * application's first window needs none of it, and loading it (with the dozen libraries it pulls
 * in) at start cost a noticeable part of the time to the first window.
 */
#pragma once

#include <curl/curl.h>

namespace netsdk
{
namespace detail
{

/* The libcurl functions the ONVIF side uses, under their own types. */
struct CurlLib {
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_perform) easy_perform;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
    decltype(&::curl_mime_init) mime_init;
    decltype(&::curl_mime_addpart) mime_addpart;
    decltype(&::curl_mime_data) mime_data;
    decltype(&::curl_mime_type) mime_type;
    decltype(&::curl_mime_headers) mime_headers;
    decltype(&::curl_mime_encoder) mime_encoder;
    decltype(&::curl_mime_free) mime_free;
};

/* libcurl, loaded and globally initialised on the first call (from any thread); null when it cannot
 * be loaded, and then no ONVIF request can be made. */
const CurlLib *curlLib();

} // namespace detail
} // namespace netsdk
