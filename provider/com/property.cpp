// SPDX-License-Identifier: MIT
#include "provider/com/property.h"

#include <cstring>

#include "provider/com/allocation.h"

namespace mb::provider {

Property Property::ofLong(ULONG tag, LONG value) {
    Property prop;
    prop.tag = tag;
    prop.number = value;
    return prop;
}

Property Property::ofBool(ULONG tag, bool value) {
    Property prop;
    prop.tag = tag;
    prop.number = value ? 1 : 0;
    return prop;
}

Property Property::ofString8(ULONG tag, std::string value) {
    Property prop;
    prop.tag = tag;
    prop.text = std::move(value);
    return prop;
}

Property Property::ofBinary(ULONG tag, std::vector<BYTE> value) {
    Property prop;
    prop.tag = tag;
    prop.bytes = std::move(value);
    return prop;
}

Property Property::ofError(ULONG propId, SCODE code) {
    Property prop;
    prop.tag = PROP_TAG(PT_ERROR, propId);
    prop.number = code;
    return prop;
}

bool supportedType(ULONG propType) {
    switch (propType) {
        case PT_I2:
        case PT_LONG:
        case PT_BOOLEAN:
        case PT_I8:
        case PT_SYSTIME:
        case PT_ERROR:
        case PT_STRING8:
        case PT_UNICODE:
        case PT_BINARY:
            return true;
        default:
            return false;
    }
}

HRESULT copyToMapi(const Property& prop, SPropValue& out, void* root) {
    out.ulPropTag = prop.tag;
    out.dwAlignPad = 0;
    switch (PROP_TYPE(prop.tag)) {
        case PT_I2:
            out.Value.i = static_cast<short>(prop.number);
            return S_OK;
        case PT_LONG:
            out.Value.l = static_cast<LONG>(prop.number);
            return S_OK;
        case PT_BOOLEAN:
            out.Value.b = static_cast<unsigned short>(prop.number != 0 ? 1 : 0);
            return S_OK;
        case PT_I8:
            out.Value.li.QuadPart = prop.number;
            return S_OK;
        case PT_SYSTIME: {
            auto bits = static_cast<std::uint64_t>(prop.number);
            out.Value.ft.dwLowDateTime = static_cast<DWORD>(bits & 0xFFFFFFFFu);
            out.Value.ft.dwHighDateTime = static_cast<DWORD>(bits >> 32);
            return S_OK;
        }
        case PT_ERROR:
            out.Value.err = static_cast<SCODE>(prop.number);
            return S_OK;
        case PT_STRING8: {
            void* buffer = nullptr;
            HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(prop.text.size() + 1), root, &buffer);
            if (FAILED(hr)) {
                return hr;
            }
            std::memcpy(buffer, prop.text.c_str(), prop.text.size() + 1);
            out.Value.lpszA = static_cast<LPSTR>(buffer);
            return S_OK;
        }
        case PT_UNICODE: {
            void* buffer = nullptr;
            ULONG size = static_cast<ULONG>((prop.wide.size() + 1) * sizeof(WCHAR));
            HRESULT hr = MAPIAllocateMore(size, root, &buffer);
            if (FAILED(hr)) {
                return hr;
            }
            std::memcpy(buffer, prop.wide.c_str(), size);
            out.Value.lpszW = static_cast<LPWSTR>(buffer);
            return S_OK;
        }
        case PT_BINARY: {
            out.Value.bin.cb = static_cast<ULONG>(prop.bytes.size());
            out.Value.bin.lpb = nullptr;
            if (prop.bytes.empty()) {
                return S_OK;
            }
            void* buffer = nullptr;
            HRESULT hr = MAPIAllocateMore(out.Value.bin.cb, root, &buffer);
            if (FAILED(hr)) {
                return hr;
            }
            std::memcpy(buffer, prop.bytes.data(), prop.bytes.size());
            out.Value.bin.lpb = static_cast<LPBYTE>(buffer);
            return S_OK;
        }
        default:
            out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(prop.tag));
            out.Value.err = MAPI_E_NOT_FOUND;
            return S_OK;
    }
}

}  // namespace mb::provider
