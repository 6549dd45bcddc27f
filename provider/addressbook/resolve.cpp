// SPDX-License-Identifier: MIT
// AddressBook's name resolution and address dialog: the parts that rewrite a
// caller's ADRLIST under MAPI's memory rules.
#include <optional>

#include "provider/addressbook/address_book.h"
#include "provider/com/address_check.h"
#include "provider/com/diagnostics.h"
#include "provider/com/exports.h"
#include "provider/com/property_bag.h"

namespace mb::provider {
namespace {

std::string toUtf8(const WCHAR* text) {
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text)));
}

// The last value with the tag's id, as the Broker reads them.
const SPropValue* findValue(const ADRENTRY& entry, ULONG tag) {
    const SPropValue* found = nullptr;
    for (ULONG i = 0; entry.rgPropVals != nullptr && i < entry.cValues; ++i) {
        if (entry.rgPropVals[i].ulPropTag == tag) {
            found = &entry.rgPropVals[i];
        }
    }
    return found;
}

std::optional<std::string> text8(const ADRENTRY& entry, ULONG tag8, ULONG tagW) {
    const SPropValue* a = findValue(entry, tag8);
    const SPropValue* w = findValue(entry, tagW);
    if (a != nullptr && a->Value.lpszA != nullptr) {
        return std::string(a->Value.lpszA);
    }
    if (w != nullptr && w->Value.lpszW != nullptr) {
        return toUtf8(w->Value.lpszW);
    }
    return std::nullopt;
}

// "Name <address>" or "\"Doe, John\" <address>" as typed in a mail program:
// the quotes are not part of the name; the address is not checked.
bool splitNameAddress(std::string_view text, std::string& name, std::string& address) {
    if (text.empty() || text.back() != '>') {
        return false;
    }
    const std::size_t open = text.rfind('<');
    if (open == std::string_view::npos) {
        return false;
    }
    const std::string_view inner = trimBlanks(text.substr(open + 1, text.size() - open - 2));
    std::string_view shown = trimBlanks(text.substr(0, open));
    const bool quoted = shown.size() >= 2 && shown.front() == '"' && shown.back() == '"';
    if (quoted) {
        shown = shown.substr(1, shown.size() - 2);
    }
    address = std::string(inner);
    name.clear();
    if (quoted) {
        // A quoted name's backslash stands before a '"' or '\\' it keeps.
        for (std::size_t i = 0; i < shown.size(); ++i) {
            i += shown[i] == '\\' && i + 1 < shown.size() ? 1 : 0;
            name += shown[i];
        }
    } else {
        name = shown;
    }
    if (trimBlanks(name).empty()) {
        name = address;
    }
    return true;
}

// Whether an unmatched text was meant as one bare address: one '@', or a
// quoted local part. Two addresses run together (the comma turned off as a
// separator) are a name to resolve in the dialog instead.
bool looksLikeAddress(std::string_view text) {
    const std::size_t at = text.find('@');
    return (at != std::string_view::npos && text.find('@', at + 1) == std::string_view::npos) ||
           (!text.empty() && text.front() == '"');
}

// MAPI's answer for a one-off text the caller typed that cannot be sent to:
// too long for SMTP, or not a one-line address (a line break in it would
// add a recipient nobody chose).
HRESULT refuseOneOff(std::string_view text, AddressProblem problem) {
    reportProblem("recipient " + printableAddress(text) + " refused: it " +
                  describeAddressProblem(problem));
    return problem == AddressProblem::TooLong ? MAPI_E_STRING_TOO_LONG : MAPI_E_INVALID_PARAMETER;
}

UiEntry uiEntryOf(const AbEntry& e) {
    return UiEntry{e.displayName, e.addrType, e.address, e.entryId, {}};
}

// A new value array for an entry: its properties, then recipientType when
// the entry had one. Each array is its own MAPIAllocateBuffer root.
HRESULT makeValues(const Row& props, std::optional<LONG> recipientType, ADRENTRY& out) {
    Row row = props;
    if (recipientType) {
        row.push_back(Property::ofLong(PR_RECIPIENT_TYPE, *recipientType));
    }
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(row.size() * sizeof(SPropValue)), &block);
    if (FAILED(hr)) {
        return hr;
    }
    auto* values = static_cast<SPropValue*>(block);
    for (std::size_t i = 0; i < row.size() && SUCCEEDED(hr); ++i) {
        hr = copyToMapi(row[i], values[i], block);
    }
    if (FAILED(hr)) {
        MAPIFreeBuffer(block);
        return hr;
    }
    out.ulReserved1 = 0;
    out.cValues = static_cast<ULONG>(row.size());
    out.rgPropVals = values;
    return S_OK;
}

void freeList(LPADRLIST list) {
    if (list == nullptr) {
        return;
    }
    for (ULONG i = 0; i < list->cEntries; ++i) {
        MAPIFreeBuffer(list->aEntries[i].rgPropVals);
    }
    MAPIFreeBuffer(list);
}

}  // namespace

HRESULT AddressBook::resolveNames(std::uint64_t parent, ULONG ulFlags, ADRLIST& list) {
    // Decide every entry first, so that a failure leaves the list untouched.
    std::vector<std::optional<AbEntry>> decided(list.cEntries);
    for (ULONG i = 0; i < list.cEntries; ++i) {
        const ADRENTRY& entry = list.aEntries[i];
        if (entry.cValues == 0 || entry.rgPropVals == nullptr ||
            findValue(entry, PR_ENTRYID) != nullptr) {
            continue;  // nothing to resolve, or resolved already
        }
        const std::optional<std::string> name = text8(entry, PR_DISPLAY_NAME_A, PR_DISPLAY_NAME_W);
        if (!name) {
            continue;
        }
        const std::string_view text = trimBlanks(*name);
        const std::vector<std::size_t> matches = directory_->match(text);
        std::string shown, address;
        if (matches.size() == 1) {
            decided[i] = directory_->entries()[matches.front()];
            continue;
        }
        if (matches.empty() && checkLineText(text) != AddressProblem::None) {
            return refuseOneOff(text, checkLineText(text));  // no name holds a line break
        }
        if (matches.empty() && splitNameAddress(text, shown, address)) {
            // A known address keeps its card, whatever name was typed with it.
            const std::vector<std::size_t> known = directory_->match(address);
            if (known.size() == 1 && checkLineText(text) == AddressProblem::None) {
                decided[i] = directory_->entries()[known.front()];
                continue;
            }
            AddressProblem problem = checkLineText(shown);
            if (problem == AddressProblem::None) {
                problem = checkAddress(address);
            }
            if (problem != AddressProblem::None) {
                return refuseOneOff(text, problem);
            }
            decided[i] = AbEntry::oneOff(shown, address);
            continue;
        }
        if (matches.empty() && looksLikeAddress(text)) {
            // A bare address that no card has: a one-off, if it is one.
            if (const AddressProblem problem = checkAddress(text); problem != AddressProblem::None) {
                return refuseOneOff(text, problem);
            }
            decided[i] = AbEntry::oneOff(std::string(text), std::string(text));
            continue;
        }
        if ((ulFlags & MAPI_DIALOG) == 0) {
            return matches.empty() ? MAPI_E_NOT_FOUND : MAPI_E_AMBIGUOUS_RECIP;
        }
        UiNameQuery query{parent, std::string(text), {}};
        for (std::size_t m : matches) {
            query.candidates.push_back(uiEntryOf(directory_->entries()[m]));
        }
        UiNameChoice choice;
        const HRESULT hr = ui_->resolveName(query, choice);
        if (FAILED(hr)) {
            return hr;
        }
        if (choice.oneOff) {
            if (const AddressProblem problem = checkAddress(choice.oneOffEntry.address);
                problem != AddressProblem::None) {
                return refuseOneOff(choice.oneOffEntry.address, problem);
            }
            decided[i] =
                AbEntry::oneOff(choice.oneOffEntry.displayName, choice.oneOffEntry.address);
        } else if (choice.index < matches.size()) {
            decided[i] = directory_->entries()[matches[choice.index]];
        } else {
            return MAPI_E_CALL_FAILED;  // the driver chose outside the candidates
        }
    }
    for (ULONG i = 0; i < list.cEntries; ++i) {
        if (!decided[i]) {
            continue;
        }
        ADRENTRY& entry = list.aEntries[i];
        std::optional<LONG> type;
        if (const SPropValue* v = findValue(entry, PR_RECIPIENT_TYPE)) {
            type = v->Value.l;
        }
        ADRENTRY fresh{};
        const HRESULT hr = makeValues(decided[i]->properties(), type, fresh);
        if (FAILED(hr)) {
            return hr;  // entries before this one are resolved; the list stays well formed
        }
        MAPIFreeBuffer(entry.rgPropVals);
        entry = fresh;
    }
    return S_OK;
}

HRESULT AddressBook::addressDialog(std::uint64_t parent, const ADRPARM& params,
                                   LPADRLIST* lppAdrList) {
    if ((params.ulFlags & DIALOG_SDI) != 0) {
        return MAPI_E_NO_SUPPORT;  // a modeless dialog needs a window system
    }
    UiAddressDialog dialog;
    dialog.parent = parent;
    if (params.lpszCaption == nullptr) {
        dialog.caption = "Address Book";
    } else if ((params.ulFlags & MAPI_UNICODE) != 0) {
        dialog.caption = toUtf8(reinterpret_cast<const WCHAR*>(params.lpszCaption));
    } else {
        dialog.caption = reinterpret_cast<const char*>(params.lpszCaption);
    }
    if (params.cDestFields > 0 && lppAdrList == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    for (ULONG i = 0; i < params.cDestFields; ++i) {
        const ULONG type = params.lpulDestComps != nullptr ? params.lpulDestComps[i] : MAPI_TO + i;
        if (type != MAPI_TO && type != MAPI_CC && type != MAPI_BCC) {
            return MAPI_E_INVALID_PARAMETER;
        }
        dialog.wells.push_back({type, {}});
    }
    const LPADRLIST old = lppAdrList != nullptr ? *lppAdrList : nullptr;
    for (ULONG i = 0; old != nullptr && i < old->cEntries; ++i) {
        const ADRENTRY& entry = old->aEntries[i];
        const SPropValue* type = findValue(entry, PR_RECIPIENT_TYPE);
        const std::optional<std::string> name = text8(entry, PR_DISPLAY_NAME_A, PR_DISPLAY_NAME_W);
        if (type == nullptr || !name) {
            continue;
        }
        UiEntry shown{*name,
                      text8(entry, PR_ADDRTYPE_A, PR_ADDRTYPE_W).value_or(""),
                      text8(entry, PR_EMAIL_ADDRESS_A, PR_EMAIL_ADDRESS_W).value_or(""),
                      {}, {}};
        if (const SPropValue* id = findValue(entry, PR_ENTRYID); id && id->Value.bin.lpb) {
            shown.entryId.assign(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
        }
        for (UiAddressDialog::Well& well : dialog.wells) {
            if (well.type == static_cast<ULONG>(type->Value.l)) {
                well.entries.push_back(std::move(shown));
                break;
            }
        }
    }
    for (const AbEntry& e : directory_->entries()) {
        if (!e.memberOnly) {
            UiEntry shown = uiEntryOf(e);
            for (std::size_t m : e.members) {
                shown.members.push_back(uiEntryOf(directory_->entries()[m]));
            }
            dialog.addressBook.push_back(std::move(shown));
        }
    }
    HRESULT hr = ui_->address(dialog);
    if (FAILED(hr) || dialog.wells.empty()) {
        return hr;  // cancelled, or a dialog to browse only
    }
    // Turn each chosen entry back into recipient values.
    std::vector<std::pair<Row, LONG>> chosen;
    for (const UiAddressDialog::Well& well : dialog.wells) {
        for (const UiEntry& pick : well.entries) {
            AbEntry entry;
            Row props;
            if (!pick.entryId.empty() &&
                directory_->find(pick.entryId.data(), static_cast<ULONG>(pick.entryId.size()),
                                 entry)) {
                props = entry.properties();
            } else if (pick.addressType == "SMTP" && isEmailAddress(pick.address)) {
                props = AbEntry::oneOff(pick.displayName, pick.address).properties();
            } else if (const auto m = directory_->match(pick.displayName);
                       (params.ulFlags & AB_RESOLVE) != 0 && m.size() == 1) {
                props = directory_->entries()[m.front()].properties();
            } else {
                props = {Property::ofString8(PR_DISPLAY_NAME_A, pick.displayName)};
            }
            chosen.emplace_back(std::move(props), static_cast<LONG>(well.type));
        }
    }
    void* block = nullptr;
    hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(chosen.size())), &block);
    if (FAILED(hr)) {
        return hr;
    }
    auto* fresh = static_cast<LPADRLIST>(block);
    fresh->cEntries = 0;
    for (auto& [props, type] : chosen) {
        hr = makeValues(props, type, fresh->aEntries[fresh->cEntries]);
        if (FAILED(hr)) {
            freeList(fresh);
            return hr;
        }
        ++fresh->cEntries;
    }
    freeList(old);
    *lppAdrList = fresh;
    return S_OK;
}

}  // namespace mb::provider
