// SPDX-License-Identifier: MIT
#include "provider/transport/curl_loader.h"

#include <dlfcn.h>

#include <mutex>

namespace mb::provider {
namespace {

constexpr const char* kLibrary = "libcurl.so.4";

template <typename T>
bool bind(void* library, const char* name, T& out) {
    out = reinterpret_cast<T>(::dlsym(library, name));
    return out != nullptr;
}

}  // namespace

const CurlApi* loadCurl(std::string& error) {
    static std::mutex lock;
    static CurlApi api{};
    static bool loaded = false;
    static std::string failure;
    std::lock_guard<std::mutex> guard(lock);
    if (!loaded && failure.empty()) {
        void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (library == nullptr) {
            const char* why = ::dlerror();
            failure = std::string("cannot load ") + kLibrary + ": " + (why ? why : "unknown error");
        } else if (!bind(library, "curl_easy_init", api.easyInit) ||
                   !bind(library, "curl_easy_setopt", api.easySetopt) ||
                   !bind(library, "curl_easy_perform", api.easyPerform) ||
                   !bind(library, "curl_easy_getinfo", api.easyGetinfo) ||
                   !bind(library, "curl_easy_cleanup", api.easyCleanup) ||
                   !bind(library, "curl_easy_strerror", api.easyStrerror) ||
                   !bind(library, "curl_slist_append", api.slistAppend) ||
                   !bind(library, "curl_slist_free_all", api.slistFreeAll) ||
                   !bind(library, "curl_version_info", api.versionInfo)) {
            failure = std::string(kLibrary) + " lacks a function the SMTP transport needs";
        } else {
            loaded = true;
        }
    }
    error = failure;
    return loaded ? &api : nullptr;
}

}  // namespace mb::provider
