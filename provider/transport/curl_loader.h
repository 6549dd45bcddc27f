// SPDX-License-Identifier: MIT
// libcurl, opened on first use and never unloaded.
//
// The provider is loaded and unloaded for every request; linking libcurl (and
// its TLS library) into it would load them every time, and unloading them
// is not safe. Only the SMTP transport needs them, so they are opened here,
// pinned, and reached through this table.
#pragma once

#include <curl/curl.h>

#include <string>

namespace mb::provider {

struct CurlApi {
    decltype(&curl_easy_init) easyInit;
    decltype(&curl_easy_setopt) easySetopt;
    decltype(&curl_easy_perform) easyPerform;
    decltype(&curl_easy_getinfo) easyGetinfo;
    decltype(&curl_easy_cleanup) easyCleanup;
    decltype(&curl_easy_strerror) easyStrerror;
    decltype(&curl_slist_append) slistAppend;
    decltype(&curl_slist_free_all) slistFreeAll;
    decltype(&curl_version_info) versionInfo;
};

// The table, or null with the reason in error.
const CurlApi* loadCurl(std::string& error);

}  // namespace mb::provider
