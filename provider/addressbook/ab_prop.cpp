// SPDX-License-Identifier: MIT
#include "provider/addressbook/ab_prop.h"

#include "provider/com/exports.h"

namespace mb::provider {
namespace {
constexpr ULONG kAnyType = 0x0000;  // PT_UNSPECIFIED: the caller takes whatever type is held
}  // namespace

HRESULT copyProps(const Row& row, const SPropTagArray* tags, ULONG* count, LPSPropValue* values) {
    if (count == nullptr || values == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *count = 0;
    *values = nullptr;
    const ULONG n = tags != nullptr ? tags->cValues : static_cast<ULONG>(row.size());
    if (n == 0) {
        return MAPI_E_INVALID_PARAMETER;
    }
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(n * sizeof(SPropValue)), &block);
    if (FAILED(hr)) {
        return hr;
    }
    auto* out = static_cast<SPropValue*>(block);
    bool missing = false;
    for (ULONG i = 0; i < n && SUCCEEDED(hr); ++i) {
        if (tags == nullptr) {
            hr = copyToMapi(row[i], out[i], block);
            continue;
        }
        const ULONG tag = tags->aulPropTag[i];
        const Property* found = nullptr;
        for (const Property& p : row) {
            if (PROP_ID(p.tag) == PROP_ID(tag) &&
                (PROP_TYPE(tag) == kAnyType || PROP_TYPE(tag) == PROP_TYPE(p.tag))) {
                found = &p;
            }
        }
        if (found != nullptr) {
            hr = copyToMapi(*found, out[i], block);
        } else {
            out[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            out[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
        }
    }
    if (FAILED(hr)) {
        MAPIFreeBuffer(block);
        return hr;
    }
    *count = n;
    *values = out;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT copyPropList(const Row& row, LPSPropTagArray* tags) {
    if (tags == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *tags = nullptr;
    void* block = nullptr;
    const HRESULT hr =
        MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(row.size())), &block);
    if (FAILED(hr)) {
        return hr;
    }
    auto* out = static_cast<SPropTagArray*>(block);
    out->cValues = static_cast<ULONG>(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
        out->aulPropTag[i] = row[i].tag;
    }
    *tags = out;
    return S_OK;
}

}  // namespace mb::provider
