// SPDX-License-Identifier: MIT
#include "provider/initialize.h"

#include <mutex>

namespace {

std::mutex gInitLock;
unsigned long gInitCount = 0;

}  // namespace

namespace mb::provider {

bool mapiInitialized() {
    std::lock_guard<std::mutex> guard(gInitLock);
    return gInitCount > 0;
}

}  // namespace mb::provider

extern "C" HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    if (lpMapiInit != nullptr) {
        const auto* init = static_cast<const MAPIINIT_0*>(lpMapiInit);
        if (init->ulVersion != MAPI_INIT_VERSION) {
            return MAPI_E_VERSION;
        }
        constexpr ULONG kKnownFlags =
            MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NO_COINIT | MAPI_NT_SERVICE;
        if ((init->ulFlags & ~kKnownFlags) != 0) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
    }
    std::lock_guard<std::mutex> guard(gInitLock);
    ++gInitCount;
    return S_OK;
}

extern "C" void MAPIUninitialize(void) {
    std::lock_guard<std::mutex> guard(gInitLock);
    if (gInitCount > 0) {
        --gInitCount;
    }
}
