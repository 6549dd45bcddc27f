// SPDX-License-Identifier: MIT
#include "commands/recipients.h"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "commands/mapi_session.h"
#include "commands/recipient_splitter.h"

namespace {

constexpr DWORD kModulePathUnits = 260;

// Slots in list order with the recipient type each gives its names.
struct TypedSlot {
    RecipientSlot* slot;
    LONG type;
};

}  // namespace

RecipientSlot RecipientSlot::fromText(const char* text) {
    RecipientSlot slot;
    if (text != nullptr) {
        slot.hasText = true;
        slot.text.assign(text, text + std::strlen(text) + 1);
    }
    return slot;
}

RecipientSlot RecipientSlot::fromParam(const KsString* value) {
    if (value == nullptr) {
        return {};
    }
    KsString copy(*value);
    const char* bytes = copy.utf8View();
    RecipientSlot slot;
    slot.hasText = true;
    // A %00 in the request ends the text here, as it would in a C string.
    slot.text.assign(bytes, bytes + std::strlen(bytes) + 1);
    return slot;
}

bool readSendmailFlag(const WCHAR* valueName) {
    WCHAR path[kModulePathUnits] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, kModulePathUnits);
    // A path that may have been cut short cannot be trusted to hold the marker.
    const bool known = length != 0 && length != kModulePathUnits;
    const bool underTavro =
        known && std::basic_string_view<WCHAR>(path, length).find(WLIT("\\Tavro\\")) !=
                     std::basic_string_view<WCHAR>::npos;
    std::basic_string<WCHAR> key(underTavro ? WLIT("Software\\Varnek\\Pellion Tavro")
                                  : WLIT("Software\\Varnek\\Varnek Pellion"));
    key += WLIT("\\10.0\\Sendmail\\");
    HKEY settings = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ,
                      &settings) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LSTATUS read = RegQueryValueExW(settings, valueName, nullptr, &type,
                                          reinterpret_cast<LPBYTE>(&data), &size);
    RegCloseKey(settings);
    return read == ERROR_SUCCESS && type == REG_DWORD && data != 0;
}

LPADRLIST resolveRecipients(MapiSession& session, IAddrBook* addressBook, ULONG_PTR parent,
                            RecipientSlot* to, RecipientSlot* cc, RecipientSlot* bcc,
                            bool allowDialog) {
    if (to == nullptr && cc == nullptr && bcc == nullptr) {
        return nullptr;
    }
    const bool commaOff = readSendmailFlag(WLIT("bRemoveCommaDelimiter"));
    const TypedSlot slots[] = {{to, MAPI_TO}, {cc, MAPI_CC}, {bcc, MAPI_BCC}};
    uint64_t count = 0;
    for (const TypedSlot& s : slots) {
        if (s.slot != nullptr && s.slot->hasText) {
            count += RecipientSplitter::upperBound(s.slot->chars(), !commaOff);
        }
    }
    const uint64_t bytes = CbNewADRLIST(count);
    if (bytes > std::numeric_limits<ULONG>::max()) {
        session.setStatus(MAPI_E_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    WabOrMapiAllocator* allocator = session.allocator();
    LPVOID block = nullptr;
    if (session.record(allocator->allocateBuffer(static_cast<ULONG>(bytes), &block)) < 0 ||
        block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, bytes);
    auto* list = static_cast<LPADRLIST>(block);
    list->cEntries = static_cast<ULONG>(count);
    ADRENTRY* entries = list->aEntries;  // count entries, not MAPI_DIM
    ULONG next = 0;
    for (const TypedSlot& s : slots) {
        if (s.slot == nullptr || !s.slot->hasText) {
            continue;
        }
        RecipientSplitter split(s.slot->chars(), !commaOff);
        for (char* name = split.next(); name != nullptr; name = split.next()) {
            ADRENTRY& entry = entries[next++];
            entry.ulReserved1 = 0;
            LPVOID values = nullptr;
            // An entry whose values cannot be had stays empty (no values, a count
            // of 0, so nothing reads through it); resolution still runs.
            if (session.record(allocator->allocateBuffer(2 * sizeof(SPropValue), &values)) < 0 ||
                values == nullptr) {
                continue;
            }
            entry.cValues = 2;
            entry.rgPropVals = static_cast<LPSPropValue>(values);
            std::memset(values, 0, 2 * sizeof(SPropValue));
            entry.rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_A;
            entry.rgPropVals[0].Value.lpszA = name;
            entry.rgPropVals[1].ulPropTag = PR_RECIPIENT_TYPE;
            entry.rgPropVals[1].Value.l = s.type;
        }
    }
    const ULONG flags = allowDialog ? MAPI_DIALOG : 0;
    if (session.record(addressBook->ResolveName(parent, flags, nullptr, list)) < 0 &&
        !allowDialog) {
        session.record(addressBook->ResolveName(parent, MAPI_DIALOG, nullptr, list));
    }
    if (session.status() < 0) {
        MapiSession::freeAddressList(allocator, list);
        return nullptr;
    }
    return list;
}
