// SPDX-License-Identifier: MIT
// The read-only IMAPIProp part shared by the address book's objects: the
// address book itself, mail users and distribution lists. Properties are a
// snapshot taken when the object is opened.
#pragma once

#include "provider/com/mapi_prop_base.h"
#include "provider/com/restriction.h"

namespace mb::provider {

// Copies the values of row that tags asks for (all of row when tags is null)
// into one MAPIAllocateBuffer block; a tag row lacks, or whose type differs,
// comes back as PT_ERROR/MAPI_E_NOT_FOUND with MAPI_W_ERRORS_RETURNED.
HRESULT copyProps(const Row& row, const SPropTagArray* tags, ULONG* count, LPSPropValue* values);

// The tags of row in one MAPIAllocateBuffer block.
HRESULT copyPropList(const Row& row, LPSPropTagArray* tags);

template <typename Interface, const IID& kInterfaceId>
class AbProp : public MapiPropBase<Interface, kInterfaceId> {
  public:
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG) override { return MAPI_E_NO_ACCESS; }
    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG, ULONG* count,
                                       LPSPropValue* values) override {
        return copyProps(props_, tags, count, values);
    }
    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray* tags) override {
        return copyPropList(props_, tags);
    }
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* unk) override {
        if (unk != nullptr) {
            *unk = nullptr;
        }
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return MAPI_E_NO_ACCESS;
    }

  protected:
    explicit AbProp(Row props) : props_(std::move(props)) {}
    const Row props_;
};

}  // namespace mb::provider
