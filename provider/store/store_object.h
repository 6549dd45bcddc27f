// SPDX-License-Identifier: MIT
// The IMAPIProp part shared by the store, its folders, messages and
// attachments: GetProps, SetProps, GetPropList and DeleteProps over a
// PropertyBag, and MAPI_E_NO_SUPPORT for what the Broker never calls.
// Derived objects add computed values (computed) and refusals (check), and
// override the rest. No method lets an exception out.
#pragma once

#include <mutex>
#include <new>
#include <optional>

#include "provider/com/exports.h"
#include "provider/com/mapi_prop_base.h"
#include "provider/com/property_bag.h"

namespace mb::provider {

template <typename Interface, const IID& kInterfaceId>
class PropObject : public MapiPropBase<Interface, kInterfaceId> {
  public:
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags,
                                       ULONG* lpcValues, LPSPropValue* lppPropArray) override {
        try {
            std::lock_guard<std::mutex> guard(lock_);
            return bag_.get(
                lpPropTagArray, ulFlags, [this](ULONG id) { return computed(id); }, lpcValues,
                lppPropArray);
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            return MAPI_E_CALL_FAILED;
        }
    }

    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray* lppPropTagArray) override {
        if (lppPropTagArray == nullptr) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::vector<ULONG> tags;
        try {
            std::lock_guard<std::mutex> guard(lock_);
            tags = bag_.tags();
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        void* buffer = nullptr;
        HRESULT hr =
            MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size() + 1)), &buffer);
        if (FAILED(hr)) {
            return hr;
        }
        auto* array = static_cast<SPropTagArray*>(buffer);
        array->cValues = static_cast<ULONG>(tags.size());
        for (std::size_t i = 0; i < tags.size(); ++i) {
            array->aulPropTag[i] = tags[i];
        }
        *lppPropTagArray = array;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG, LPCIID, ULONG, ULONG,
                                           LPUNKNOWN* lppUnk) override {
        if (lppUnk != nullptr) {
            *lppUnk = nullptr;
        }
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT STDMETHODCALLTYPE SetProps(ULONG cValues, LPSPropValue lpPropArray,
                                       LPSPropProblemArray* lppProblems) override {
        if (lppProblems != nullptr) {
            *lppProblems = nullptr;
        }
        try {
            std::lock_guard<std::mutex> guard(lock_);
            HRESULT hr = writable();
            if (FAILED(hr)) {
                return hr;
            }
            std::vector<SPropProblem> problems;
            hr = bag_.set(
                cValues, lpPropArray, [this](const SPropValue& value) { return check(value); },
                problems);
            if (FAILED(hr)) {
                return hr;
            }
            return returnProblems(problems, lppProblems);
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            return MAPI_E_CALL_FAILED;
        }
    }

    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray lpPropTagArray,
                                          LPSPropProblemArray* lppProblems) override {
        if (lppProblems != nullptr) {
            *lppProblems = nullptr;
        }
        if (lpPropTagArray == nullptr) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::lock_guard<std::mutex> guard(lock_);
        HRESULT hr = writable();
        if (FAILED(hr)) {
            return hr;
        }
        for (ULONG i = 0; i < lpPropTagArray->cValues; ++i) {
            bag_.erase(PROP_ID(lpPropTagArray->aulPropTag[i]));
        }
        return S_OK;
    }

  protected:
    explicit PropObject(bool rejectUnicode = false) : bag_(rejectUnicode) {}

    // Values the object computes; called with lock_ held.
    virtual std::optional<Property> computed(ULONG) const { return std::nullopt; }
    // S_OK to accept a value for SetProps, else the problem's code.
    virtual SCODE check(const SPropValue&) const { return S_OK; }
    // S_OK while the object may change; called with lock_ held.
    virtual HRESULT writable() const { return S_OK; }

    mutable std::mutex lock_;
    PropertyBag bag_;
};

}  // namespace mb::provider
