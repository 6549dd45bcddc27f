// SPDX-License-Identifier: MIT
#include "provider/store/mime_loader.h"

#include <dlfcn.h>
#include <errno.h>

#include <mutex>
#include <string>

#include "provider/store/maildir.h"

namespace mb::provider {
namespace {

std::once_flag gLoad;
MbMimeRenderFn gRender = nullptr;

void* openBeside(const std::string& path) {
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void load() {
    void* handle = nullptr;
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&renderMime), &self) != 0 && self.dli_fname != nullptr) {
        std::string dir = self.dli_fname;
        const auto slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : dir.substr(0, slash);
        handle = openBeside(dir + "/" MB_MIME_LIBRARY);
    }
#ifdef MB_MIME_BUILD_PATH
    if (handle == nullptr) {
        handle = openBeside(MB_MIME_BUILD_PATH);
    }
#endif
    if (handle == nullptr) {
        handle = openBeside(MB_MIME_LIBRARY);
    }
    if (handle != nullptr) {
        gRender = reinterpret_cast<MbMimeRenderFn>(::dlsym(handle, MB_MIME_RENDER_SYMBOL));
    }
}

}  // namespace

HRESULT renderMime(const MbMimeMessage& message, int fd) {
    std::call_once(gLoad, load);
    if (gRender == nullptr) {
        return MAPI_E_CALL_FAILED;
    }
    const std::int32_t error = gRender(&message, fd);
    if (error == 0) {
        return S_OK;
    }
    return error == EINVAL ? MAPI_E_INVALID_PARAMETER : mapiFromErrno(error);
}

}  // namespace mb::provider
