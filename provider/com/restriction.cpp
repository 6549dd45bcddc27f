// SPDX-License-Identifier: MIT
#include "provider/com/restriction.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace mb::provider {
namespace {

constexpr int kMaxDepth = 64;

const Property* findProp(const Row& row, ULONG tag) {
    for (const Property& prop : row) {
        if (prop.tag == tag) {
            return &prop;
        }
    }
    return nullptr;
}

bool validTaggedValue(const SPropValue* value) {
    return value != nullptr && supportedType(PROP_TYPE(value->ulPropTag)) &&
           PROP_TYPE(value->ulPropTag) != PT_ERROR;
}

HRESULT validate(const SRestriction* res, int depth) {
    if (res == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (depth > kMaxDepth) {
        return MAPI_E_TOO_COMPLEX;
    }
    switch (res->rt) {
        case RES_AND:
        case RES_OR: {
            // The two structures share a layout but not a type.
            ULONG count = res->rt == RES_AND ? res->res.resAnd.cRes : res->res.resOr.cRes;
            const SRestriction* items =
                res->rt == RES_AND ? res->res.resAnd.lpRes : res->res.resOr.lpRes;
            if (count > 0 && items == nullptr) {
                return MAPI_E_INVALID_PARAMETER;
            }
            for (ULONG i = 0; i < count; ++i) {
                HRESULT hr = validate(&items[i], depth + 1);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        }
        case RES_NOT:
            return validate(res->res.resNot.lpRes, depth + 1);
        case RES_EXIST:
            return S_OK;
        case RES_PROPERTY:
            if (res->res.resProperty.relop > RELOP_NE) {
                return MAPI_E_TOO_COMPLEX;
            }
            return validTaggedValue(res->res.resProperty.lpProp) ? S_OK : MAPI_E_INVALID_PARAMETER;
        case RES_COMPAREPROPS:
            return res->res.resCompareProps.relop > RELOP_NE ? MAPI_E_TOO_COMPLEX : S_OK;
        case RES_CONTENT: {
            const SPropValue* value = res->res.resContent.lpProp;
            if (!validTaggedValue(value)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            ULONG type = PROP_TYPE(value->ulPropTag);
            if (type != PT_STRING8 && type != PT_UNICODE && type != PT_BINARY) {
                return MAPI_E_TOO_COMPLEX;
            }
            if ((type == PT_STRING8 && value->Value.lpszA == nullptr) ||
                (type == PT_UNICODE && value->Value.lpszW == nullptr) ||
                (type == PT_BINARY && value->Value.bin.cb > 0 && value->Value.bin.lpb == nullptr)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return (res->res.resContent.ulFuzzyLevel & 0xFFFF) > FL_PREFIX ? MAPI_E_TOO_COMPLEX
                                                                           : S_OK;
        }
        case RES_BITMASK:
            return res->res.resBitMask.relBMR > BMR_NEZ ? MAPI_E_TOO_COMPLEX : S_OK;
        case RES_SIZE:
            return res->res.resSize.relop > RELOP_NE ? MAPI_E_TOO_COMPLEX : S_OK;
        default:
            return MAPI_E_TOO_COMPLEX;
    }
}

// The provider's copy of a caller's value, so both sides compare alike.
std::optional<Property> fromMapi(const SPropValue& value) {
    Property prop;
    prop.tag = value.ulPropTag;
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_I2:
            prop.number = value.Value.i;
            break;
        case PT_LONG:
            prop.number = value.Value.l;
            break;
        case PT_BOOLEAN:
            prop.number = value.Value.b != 0 ? 1 : 0;
            break;
        case PT_I8:
            prop.number = value.Value.li.QuadPart;
            break;
        case PT_SYSTIME:
            prop.number = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(value.Value.ft.dwHighDateTime) << 32) |
                value.Value.ft.dwLowDateTime);
            break;
        case PT_STRING8:
            if (value.Value.lpszA == nullptr) {
                return std::nullopt;
            }
            prop.text = value.Value.lpszA;
            break;
        case PT_UNICODE:
            if (value.Value.lpszW == nullptr) {
                return std::nullopt;
            }
            prop.wide = value.Value.lpszW;
            break;
        case PT_BINARY:
            if (value.Value.bin.cb > 0 && value.Value.bin.lpb == nullptr) {
                return std::nullopt;
            }
            prop.bytes.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
            break;
        default:
            return std::nullopt;
    }
    return prop;
}

// <0, 0 or >0; nullopt when the two cannot be compared.
std::optional<int> compare(const Property& a, const Property& b) {
    if (PROP_TYPE(a.tag) != PROP_TYPE(b.tag)) {
        return std::nullopt;
    }
    switch (PROP_TYPE(a.tag)) {
        case PT_STRING8:
            return a.text.compare(b.text);
        case PT_UNICODE:
            return a.wide.compare(b.wide);
        case PT_BINARY: {
            if (a.bytes == b.bytes)
                return 0;
            return std::lexicographical_compare(a.bytes.begin(), a.bytes.end(), b.bytes.begin(),
                                                b.bytes.end())
                       ? -1
                       : 1;
        }
        case PT_ERROR:
            return std::nullopt;
        default:
            return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    }
}

bool relation(ULONG relop, int order) {
    switch (relop) {
        case RELOP_LT:
            return order < 0;
        case RELOP_LE:
            return order <= 0;
        case RELOP_GT:
            return order > 0;
        case RELOP_GE:
            return order >= 0;
        case RELOP_EQ:
            return order == 0;
        case RELOP_NE:
            return order != 0;
        default:
            return false;
    }
}

template <typename Unit>
std::basic_string<Unit> folded(std::basic_string<Unit> text, bool ignoreCase) {
    if (ignoreCase) {
        for (Unit& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<Unit>(c - 'A' + 'a');
        }
    }
    return text;
}

template <typename Seq>
bool contentMatches(const Seq& haystack, const Seq& needle, ULONG fuzzy) {
    switch (fuzzy & 0xFFFF) {
        case FL_FULLSTRING:
            return haystack == needle;
        case FL_PREFIX:
            return haystack.size() >= needle.size() &&
                   std::equal(needle.begin(), needle.end(), haystack.begin());
        default:
            return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
                   haystack.end();
    }
}

std::size_t sizeOf(const Property& prop) {
    switch (PROP_TYPE(prop.tag)) {
        case PT_STRING8:
            return prop.text.size() + 1;
        case PT_UNICODE:
            return (prop.wide.size() + 1) * sizeof(WCHAR);
        case PT_BINARY:
            return prop.bytes.size();
        case PT_I2:
        case PT_BOOLEAN:
            return 2;
        case PT_I8:
        case PT_SYSTIME:
            return 8;
        default:
            return 4;
    }
}

}  // namespace

HRESULT validateRestriction(const SRestriction* restriction) {
    return validate(restriction, 0);
}

bool rowMatches(const SRestriction& res, const Row& row) {
    switch (res.rt) {
        case RES_AND:
            for (ULONG i = 0; i < res.res.resAnd.cRes; ++i) {
                if (!rowMatches(res.res.resAnd.lpRes[i], row))
                    return false;
            }
            return true;
        case RES_OR:
            for (ULONG i = 0; i < res.res.resOr.cRes; ++i) {
                if (rowMatches(res.res.resOr.lpRes[i], row))
                    return true;
            }
            return false;
        case RES_NOT:
            return !rowMatches(*res.res.resNot.lpRes, row);
        case RES_EXIST:
            return findProp(row, res.res.resExist.ulPropTag) != nullptr;
        case RES_PROPERTY: {
            const Property* prop = findProp(row, res.res.resProperty.ulPropTag);
            std::optional<Property> wanted = fromMapi(*res.res.resProperty.lpProp);
            if (prop == nullptr || !wanted)
                return false;
            std::optional<int> order = compare(*prop, *wanted);
            return order && relation(res.res.resProperty.relop, *order);
        }
        case RES_COMPAREPROPS: {
            const Property* a = findProp(row, res.res.resCompareProps.ulPropTag1);
            const Property* b = findProp(row, res.res.resCompareProps.ulPropTag2);
            if (a == nullptr || b == nullptr)
                return false;
            std::optional<int> order = compare(*a, *b);
            return order && relation(res.res.resCompareProps.relop, *order);
        }
        case RES_CONTENT: {
            const Property* prop = findProp(row, res.res.resContent.ulPropTag);
            std::optional<Property> wanted = fromMapi(*res.res.resContent.lpProp);
            if (prop == nullptr || !wanted || PROP_TYPE(prop->tag) != PROP_TYPE(wanted->tag)) {
                return false;
            }
            ULONG fuzzy = res.res.resContent.ulFuzzyLevel;
            bool fold = (fuzzy & FL_IGNORECASE) != 0;
            switch (PROP_TYPE(prop->tag)) {
                case PT_STRING8:
                    return contentMatches(folded(prop->text, fold), folded(wanted->text, fold),
                                          fuzzy);
                case PT_UNICODE:
                    return contentMatches(folded(prop->wide, fold), folded(wanted->wide, fold),
                                          fuzzy);
                default:
                    return contentMatches(prop->bytes, wanted->bytes, fuzzy);
            }
        }
        case RES_BITMASK: {
            const Property* prop = findProp(row, res.res.resBitMask.ulPropTag);
            if (prop == nullptr)
                return false;
            bool zero = (static_cast<ULONG>(prop->number) & res.res.resBitMask.ulMask) == 0;
            return res.res.resBitMask.relBMR == BMR_EQZ ? zero : !zero;
        }
        case RES_SIZE: {
            const Property* prop = findProp(row, res.res.resSize.ulPropTag);
            if (prop == nullptr)
                return false;
            std::size_t size = sizeOf(*prop);
            std::size_t limit = res.res.resSize.cb;
            return relation(res.res.resSize.relop, size < limit ? -1 : (size > limit ? 1 : 0));
        }
        default:
            return false;
    }
}

}  // namespace mb::provider
