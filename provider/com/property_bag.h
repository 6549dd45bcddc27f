// SPDX-License-Identifier: MIT
// The property set of a message, an attachment, a folder or the store, and
// the SetProps/GetProps rules they share.
//
// Values are kept by property identifier, so PR_SUBJECT_A and PR_SUBJECT_W
// name one property; reading a text in the other width converts it. 8-bit
// strings are UTF-8 here; bytes that are not well-formed UTF-8 are read as
// Windows-1252, the ANSI code page the Broker's fallback for attachment names
// uses. With reject_unicode the bag refuses PT_UNICODE
// values with MAPI_E_BAD_CHARWIDTH, as a store without Unicode support does.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "provider/com/property.h"

namespace mb::provider {

std::string utf16ToUtf8(std::u16string_view text);
// An 8-bit MAPI string as UTF-8: itself when well-formed, else Windows-1252.
std::string narrowToUtf8(std::string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// Per value a caller may refuse: S_OK to store it, or the problem's code.
using PropertyCheck = std::function<SCODE(const SPropValue&)>;

// Values computed by the object (PR_ENTRYID, PR_OBJECT_TYPE ...): the
// property for an identifier, or nothing.
using ComputedProps = std::function<std::optional<Property>(ULONG propId)>;

class PropertyBag {
  public:
    explicit PropertyBag(bool rejectUnicode = false) : rejectUnicode_(rejectUnicode) {}

    // SetProps: every value is taken or gets a problem; never throws for bad
    // input (only std::bad_alloc).
    HRESULT set(ULONG count, const SPropValue* values, const PropertyCheck& check,
                std::vector<SPropProblem>& problems);
    void put(Property prop);
    void erase(ULONG propId) { values_.erase(propId); }

    const Property* find(ULONG propId) const;
    // The text of a string property in UTF-8, whichever width it was set in.
    std::optional<std::string> text(ULONG propId) const;
    std::optional<LONG> number(ULONG propId) const;
    std::vector<ULONG> tags() const;

    // GetProps into one MAPIAllocateBuffer block; tags null means all.
    HRESULT get(const SPropTagArray* tags, ULONG flags, const ComputedProps& computed, ULONG* count,
                LPSPropValue* out) const;

  private:
    std::optional<Property> lookup(ULONG tag, const ComputedProps& computed) const;

    bool rejectUnicode_;
    std::map<ULONG, Property> values_;  // by property identifier
};

// A Property from a MAPI value, or the reason it cannot be one.
SCODE propertyFromMapi(const SPropValue& value, Property& out);

// Hands problems to the caller as MAPI memory (null when there are none).
HRESULT returnProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out);

// The MAPI array for a row, in one MAPIAllocateBuffer block.
HRESULT copyRowToMapi(const std::vector<Property>& row, ULONG* count, LPSPropValue* out);

}  // namespace mb::provider
