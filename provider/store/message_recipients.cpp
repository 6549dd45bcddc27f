// SPDX-License-Identifier: MIT
#include "provider/store/message_recipients.h"

#include <algorithm>

#include "provider/com/property_bag.h"

namespace mb::provider {
namespace {

const Property* findId(const Row& row, ULONG propId) {
    for (const Property& prop : row) {
        if (PROP_ID(prop.tag) == propId) {
            return &prop;
        }
    }
    return nullptr;
}

std::string textOf(const Row& row, ULONG propId) {
    const Property* prop = findId(row, propId);
    if (prop == nullptr) {
        return {};
    }
    if (PROP_TYPE(prop->tag) == PT_STRING8) {
        return narrowToUtf8(prop->text);
    }
    if (PROP_TYPE(prop->tag) == PT_UNICODE) {
        return utf16ToUtf8(prop->wide);
    }
    return {};
}

// The row for one list entry, or false for an entry that cannot be one.
bool rowFromEntry(const ADRENTRY& entry, Row& row) {
    row.clear();
    if (entry.cValues > 0 && entry.rgPropVals == nullptr) {
        return false;
    }
    for (ULONG i = 0; i < entry.cValues; ++i) {
        const SPropValue& value = entry.rgPropVals[i];
        Property prop;
        // Values of types the provider cannot hold (and PT_ERROR stand-ins
        // a resolver leaves) carry nothing to keep.
        if (PROP_TYPE(value.ulPropTag) == PT_ERROR || PROP_ID(value.ulPropTag) == PROP_ID_NULL ||
            propertyFromMapi(value, prop) != S_OK) {
            continue;
        }
        row.erase(
            std::remove_if(row.begin(), row.end(),
                           [&](const Property& p) { return PROP_ID(p.tag) == PROP_ID(prop.tag); }),
            row.end());
        if (PROP_TYPE(prop.tag) == PT_STRING8) {
            Property wide;
            wide.tag = CHANGE_PROP_TYPE(prop.tag, PT_UNICODE);
            wide.wide = utf8ToUtf16(narrowToUtf8(prop.text));
            row.push_back(std::move(prop));
            row.push_back(std::move(wide));
        } else if (PROP_TYPE(prop.tag) == PT_UNICODE) {
            Property narrow =
                Property::ofString8(CHANGE_PROP_TYPE(prop.tag, PT_STRING8), utf16ToUtf8(prop.wide));
            row.push_back(std::move(prop));
            row.push_back(std::move(narrow));
        } else {
            row.push_back(std::move(prop));
        }
    }
    return true;
}

std::optional<LONG> rowIdOf(const Row& row) {
    for (const Property& prop : row) {
        if (prop.tag == PR_ROWID) {
            return static_cast<LONG>(prop.number);
        }
    }
    return std::nullopt;
}

void setRowId(Row& row, ULONG id) {
    row.erase(
        std::remove_if(row.begin(), row.end(), [](const Property& p) { return p.tag == PR_ROWID; }),
        row.end());
    row.insert(row.begin(), Property::ofLong(PR_ROWID, static_cast<LONG>(id)));
}

}  // namespace

HRESULT modifyRecipients(std::vector<Row>& rows, ULONG& nextRowId, ULONG flags,
                         const ADRLIST* list) {
    if (list == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    constexpr ULONG kKnown = MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE;
    if ((flags & ~kKnown) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (flags != 0 && flags != MODRECIP_ADD && flags != MODRECIP_MODIFY &&
        flags != MODRECIP_REMOVE) {
        return MAPI_E_INVALID_PARAMETER;
    }
    std::vector<Row> result = flags == 0 ? std::vector<Row>{} : rows;
    ULONG nextId = nextRowId;
    for (ULONG i = 0; i < list->cEntries; ++i) {
        Row row;
        if (!rowFromEntry(list->aEntries[i], row)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (row.empty()) {
            continue;
        }
        if (flags == 0 || flags == MODRECIP_ADD) {
            setRowId(row, nextId++);
            result.push_back(std::move(row));
            continue;
        }
        const std::optional<LONG> id = rowIdOf(row);
        auto match = std::find_if(result.begin(), result.end(),
                                  [&](const Row& r) { return id && rowIdOf(r) == id; });
        if (match == result.end()) {
            return MAPI_E_NOT_FOUND;
        }
        if (flags == MODRECIP_REMOVE) {
            result.erase(match);
        } else {
            *match = std::move(row);
        }
    }
    rows = std::move(result);
    nextRowId = nextId;
    return S_OK;
}

std::vector<ULONG> recipientColumns(const std::vector<Row>& rows) {
    std::vector<ULONG> columns;
    for (const Row& row : rows) {
        for (const Property& prop : row) {
            if (std::find(columns.begin(), columns.end(), prop.tag) == columns.end()) {
                columns.push_back(prop.tag);
            }
        }
    }
    if (columns.empty()) {
        columns = {PR_ROWID, PR_DISPLAY_NAME_A, PR_RECIPIENT_TYPE, PR_EMAIL_ADDRESS_A};
    }
    return columns;
}

RecipientAddress describeRecipient(const Row& row) {
    RecipientAddress out;
    if (const Property* type = findId(row, PROP_ID(PR_RECIPIENT_TYPE));
        type != nullptr && PROP_TYPE(type->tag) == PT_LONG) {
        // The high bits (MAPI_SUBMITTED, MAPI_P1) are not the type.
        const ULONG value = static_cast<ULONG>(type->number) & 0x0F;
        if (value == MAPI_CC || value == MAPI_BCC) {
            out.type = value;
        }
    }
    out.name = textOf(row, PROP_ID(PR_DISPLAY_NAME_A));
    out.address = textOf(row, PROP_ID(PR_SMTP_ADDRESS_A));
    if (out.address.empty()) {
        const std::string type = textOf(row, PROP_ID(PR_ADDRTYPE_A));
        const std::string email = textOf(row, PROP_ID(PR_EMAIL_ADDRESS_A));
        if (type.empty() || type == "SMTP" || email.find('@') != std::string::npos) {
            out.address = email;
        }
    }
    if (out.address.empty()) {
        // Unresolved: keep what the user typed, so the spooler can report it
        // rather than the recipient silently vanishing.
        out.address = out.name;
    }
    return out;
}

}  // namespace mb::provider
