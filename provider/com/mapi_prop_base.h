// SPDX-License-Identifier: MIT
// The IMAPIProp methods no provider object supports: extended error text,
// copying to other objects and named properties. The Broker calls none of
// them; they answer MAPI_E_NO_SUPPORT.
#pragma once

#include "provider/com/com_object.h"

namespace mb::provider {

template <typename Interface, const IID& kInterfaceId>
class MapiPropBase : public ComObject<Interface, kInterfaceId> {
  public:
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR* error) override {
        if (error != nullptr) {
            *error = nullptr;
        }
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS,
                                     LPCIID, LPVOID, ULONG, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID,
                                        ULONG, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*,
                                              LPMAPINAMEID**) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG,
                                              LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }

  protected:
    MapiPropBase() = default;
};

}  // namespace mb::provider
