// SPDX-License-Identifier: MIT
#include "provider/com/property_bag.h"

#include <cstring>
#include <new>

#include "provider/com/exports.h"

namespace mb::provider {
namespace {

// GetProps may ask for a property in whatever type it has.
constexpr ULONG kUnspecified = 0x0000;

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                             : lead >= 0xE0                ? 3
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                                                           : 0;
        char32_t c = length == 1   ? lead
                     : length == 2 ? lead & 0x1F
                     : length == 3 ? lead & 0x0F
                                   : lead & 0x07;
        bool ok = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are damage too.
        ok = ok && !(length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
             !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

std::string narrowToUtf8(std::string_view text) {
    const std::u16string wide = utf8ToUtf16(text);
    if (wide.find(u'\uFFFD') == std::u16string::npos || utf16ToUtf8(wide) == text) {
        return std::string(text);
    }
    // 0x80..0x9F of Windows-1252; the five holes map to the C1 controls, as
    // Windows converts them.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string converted;
    converted.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        converted += byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t{byte};
    }
    return utf16ToUtf8(converted);
}

SCODE propertyFromMapi(const SPropValue& value, Property& out) {
    out = Property{};
    out.tag = value.ulPropTag;
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_I2:
            out.number = value.Value.i;
            return S_OK;
        case PT_LONG:
            out.number = value.Value.l;
            return S_OK;
        case PT_BOOLEAN:
            out.number = value.Value.b != 0 ? 1 : 0;
            return S_OK;
        case PT_I8:
            out.number = value.Value.li.QuadPart;
            return S_OK;
        case PT_SYSTIME:
            out.number = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(value.Value.ft.dwHighDateTime) << 32) |
                value.Value.ft.dwLowDateTime);
            return S_OK;
        case PT_STRING8:
            if (value.Value.lpszA == nullptr) {
                return MAPI_E_BAD_VALUE;
            }
            out.text = value.Value.lpszA;
            return S_OK;
        case PT_UNICODE:
            if (value.Value.lpszW == nullptr) {
                return MAPI_E_BAD_VALUE;
            }
            out.wide = reinterpret_cast<const char16_t*>(value.Value.lpszW);
            return S_OK;
        case PT_BINARY:
            if (value.Value.bin.cb > 0 && value.Value.bin.lpb == nullptr) {
                return MAPI_E_BAD_VALUE;
            }
            out.bytes.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
            return S_OK;
        default:
            return MAPI_E_INVALID_TYPE;
    }
}

HRESULT PropertyBag::set(ULONG count, const SPropValue* values, const PropertyCheck& check,
                         std::vector<SPropProblem>& problems) {
    if (count > 0 && values == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& value = values[i];
        const ULONG type = PROP_TYPE(value.ulPropTag);
        // An empty slot (tag 0 or PT_NULL) holds nothing to store: callers
        // pass one when a value they meant to set is unavailable.
        if (value.ulPropTag == 0 || type == PT_NULL) {
            continue;
        }
        SCODE code = S_OK;
        if (PROP_ID(value.ulPropTag) == PROP_ID_NULL ||
            PROP_ID(value.ulPropTag) == PROP_ID_INVALID) {
            code = MAPI_E_INVALID_PARAMETER;
        } else if (type == PT_UNICODE && rejectUnicode_) {
            code = MAPI_E_BAD_CHARWIDTH;
        } else if (check) {
            code = check(value);
        }
        Property prop;
        if (code == S_OK) {
            code = propertyFromMapi(value, prop);
        }
        if (code != S_OK) {
            problems.push_back(SPropProblem{i, value.ulPropTag, code});
            continue;
        }
        put(std::move(prop));
    }
    return S_OK;
}

void PropertyBag::put(Property prop) {
    const ULONG id = PROP_ID(prop.tag);
    values_[id] = std::move(prop);
}

const Property* PropertyBag::find(ULONG propId) const {
    auto it = values_.find(propId);
    return it == values_.end() ? nullptr : &it->second;
}

std::optional<std::string> PropertyBag::text(ULONG propId) const {
    const Property* prop = find(propId);
    if (prop == nullptr) {
        return std::nullopt;
    }
    if (PROP_TYPE(prop->tag) == PT_STRING8) {
        return narrowToUtf8(prop->text);
    }
    if (PROP_TYPE(prop->tag) == PT_UNICODE) {
        return utf16ToUtf8(prop->wide);
    }
    return std::nullopt;
}

std::optional<LONG> PropertyBag::number(ULONG propId) const {
    const Property* prop = find(propId);
    if (prop == nullptr || (PROP_TYPE(prop->tag) != PT_LONG && PROP_TYPE(prop->tag) != PT_I2 &&
                            PROP_TYPE(prop->tag) != PT_BOOLEAN)) {
        return std::nullopt;
    }
    return static_cast<LONG>(prop->number);
}

std::vector<ULONG> PropertyBag::tags() const {
    std::vector<ULONG> out;
    out.reserve(values_.size());
    for (const auto& [id, prop] : values_) {
        out.push_back(prop.tag);
    }
    return out;
}

std::optional<Property> PropertyBag::lookup(ULONG tag, const ComputedProps& computed) const {
    const ULONG id = PROP_ID(tag);
    std::optional<Property> found;
    if (computed) {
        found = computed(id);
    }
    if (!found) {
        const Property* stored = find(id);
        if (stored == nullptr) {
            return std::nullopt;
        }
        found = *stored;
    }
    const ULONG want = PROP_TYPE(tag);
    const ULONG have = PROP_TYPE(found->tag);
    if (want == kUnspecified || want == have) {
        return found;
    }
    if (want == PT_UNICODE && have == PT_STRING8) {
        found->wide = utf8ToUtf16(narrowToUtf8(found->text));
    } else if (want == PT_STRING8 && have == PT_UNICODE) {
        found->text = utf16ToUtf8(found->wide);
    } else {
        return std::nullopt;
    }
    found->tag = tag;
    return found;
}

HRESULT PropertyBag::get(const SPropTagArray* tags, ULONG, const ComputedProps& computed,
                         ULONG* count, LPSPropValue* out) const {
    if (count == nullptr || out == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *count = 0;
    *out = nullptr;
    std::vector<ULONG> wanted;
    if (tags == nullptr) {
        wanted = this->tags();
    } else {
        if (tags->cValues == 0) {
            return MAPI_E_INVALID_PARAMETER;
        }
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    }
    std::vector<Property> row;
    row.reserve(wanted.size());
    bool missing = false;
    for (ULONG tag : wanted) {
        std::optional<Property> prop = lookup(tag, computed);
        if (!prop) {
            missing = true;
            row.push_back(Property::ofError(PROP_ID(tag), MAPI_E_NOT_FOUND));
        } else {
            row.push_back(std::move(*prop));
        }
    }
    HRESULT hr = copyRowToMapi(row, count, out);
    if (FAILED(hr)) {
        return hr;
    }
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT returnProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out) {
    if (out == nullptr) {
        return S_OK;
    }
    *out = nullptr;
    if (problems.empty()) {
        return S_OK;
    }
    void* buffer = nullptr;
    HRESULT hr =
        MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(problems.size())), &buffer);
    if (FAILED(hr)) {
        return hr;
    }
    auto* array = static_cast<SPropProblemArray*>(buffer);
    array->cProblem = static_cast<ULONG>(problems.size());
    std::memcpy(array->aProblem, problems.data(), problems.size() * sizeof(SPropProblem));
    *out = array;
    return S_OK;
}

HRESULT copyRowToMapi(const std::vector<Property>& row, ULONG* count, LPSPropValue* out) {
    *count = 0;
    *out = nullptr;
    void* buffer = nullptr;
    const std::size_t slots = row.empty() ? 1 : row.size();
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(slots * sizeof(SPropValue)), &buffer);
    if (FAILED(hr)) {
        return hr;
    }
    auto* values = static_cast<SPropValue*>(buffer);
    for (std::size_t i = 0; i < row.size(); ++i) {
        hr = copyToMapi(row[i], values[i], buffer);
        if (FAILED(hr)) {
            MAPIFreeBuffer(buffer);
            return hr;
        }
    }
    *count = static_cast<ULONG>(row.size());
    *out = values;
    return S_OK;
}

}  // namespace mb::provider
