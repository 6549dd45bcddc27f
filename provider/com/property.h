// SPDX-License-Identifier: MIT
// Property values owned by the provider, and their copies into MAPI memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapi/mapi.h"

namespace mb::provider {

// One property value held in ordinary C++ storage. The tag's type says which
// member holds the value: number (PT_I2, PT_LONG, PT_BOOLEAN, PT_I8,
// PT_SYSTIME, PT_ERROR), text (PT_STRING8: bytes; PT_UNICODE: UTF-16 units
// kept in wide) or bytes (PT_BINARY).
struct Property {
    ULONG tag = PR_NULL;
    std::int64_t number = 0;
    std::string text;
    std::u16string wide;
    std::vector<BYTE> bytes;

    static Property ofLong(ULONG tag, LONG value);
    static Property ofBool(ULONG tag, bool value);
    static Property ofString8(ULONG tag, std::string value);
    static Property ofBinary(ULONG tag, std::vector<BYTE> value);
    static Property ofError(ULONG propId, SCODE code);
};

// True for the property types Property can hold.
bool supportedType(ULONG propType);

// Fills out, a value inside an array allocated with MAPIAllocateBuffer, from
// prop; strings and bytes go into buffers linked to root with
// MAPIAllocateMore, so that freeing root frees them.
HRESULT copyToMapi(const Property& prop, SPropValue& out, void* root);

}  // namespace mb::provider
