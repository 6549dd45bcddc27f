// SPDX-License-Identifier: MIT
// The IUnknown part that every provider object shares: QueryInterface for
// IUnknown and the one interface the object implements, and a thread-safe
// reference count that starts at one and deletes the object at zero.
#pragma once

#include <atomic>

#include "mapi/mapi.h"

namespace mb::provider {

template <typename Interface, const IID& kInterfaceId>
class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kInterfaceId)) {
            AddRef();
            *ppvObject = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppvObject = nullptr;
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  protected:
    ComObject() = default;
    // Virtual, and after the interface's own methods in the vtable, so the
    // interface's published layout is untouched.
    virtual ~ComObject() = default;

  private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace mb::provider
