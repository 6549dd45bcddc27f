// SPDX-License-Identifier: MIT
// The barrier at the C ABI: no exception leaves a MAPI method or entry point.
#pragma once

#include <new>

#include "mapi/mapi.h"

namespace mb::provider {

// Runs body, which returns an HRESULT; running out of memory becomes
// MAPI_E_NOT_ENOUGH_MEMORY and any other exception MAPI_E_CALL_FAILED.
template <typename Body>
HRESULT abiGuard(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

}  // namespace mb::provider
