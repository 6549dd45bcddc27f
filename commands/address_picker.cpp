// SPDX-License-Identifier: MIT
#include "commands/address_picker.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "commands/exchange_smtp.h"
#include "commands/mapi_ptr.h"
#include "commands/recipients.h"

namespace {

constexpr int32_t kMaxListDepth = 25;
// Lists that hold each other branch at every level, so the depth alone would
// let a few of them multiply into millions of expansions; past this many in
// one request a list contributes nothing, as past the depth.
constexpr int32_t kMaxListsExpanded = 10000;
constexpr LONG kListBatch = 100;
char kDefaultCaption[] = "Address Book";

struct Slot {
    const char* key;
    ULONG type;
    RecipientSlot text;
    bool passed = false;
};

const char* textOf(const SPropValue* values, ULONG count, ULONG tag) {
    const SPropValue* found = findProp(values, count, tag);
    return found != nullptr ? found->Value.lpszA : nullptr;
}

void appendItem(std::string& text, const std::string& item) {
    if (!text.empty()) {
        text += ';';
    }
    text += item;
}

// Two spellings of one mailbox: the domain is case-blind, the local part
// need not be. Text without '@' (a name left unresolved) is compared whole.
std::string mailboxKey(const std::string& item) {
    std::string key = item;
    const size_t at = key.rfind('@');
    for (size_t i = at == std::string::npos ? key.size() : at + 1; i < key.size(); ++i) {
        key[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
    }
    return key;
}

// The ';'-separated items of text, each mailbox only at its first place:
// lists that share members, or hold each other, would otherwise give the
// host the same address many times.
std::string withoutRepeats(const std::string& text) {
    std::set<std::string> seen;
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(';', start);
        const std::string item =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (item.empty() || seen.insert(mailboxKey(item)).second) {
            if (start != 0) {
                out += ';';
            }
            out += item;
        }
        if (end == std::string::npos) {
            return out;
        }
        start = end + 1;
    }
}

// Counts one level of list nesting for as long as it lives.
class ListLevel {
  public:
    explicit ListLevel(int32_t& depth) : depth_(depth) { ++depth_; }
    ListLevel(const ListLevel&) = delete;
    ListLevel& operator=(const ListLevel&) = delete;
    ~ListLevel() { --depth_; }

  private:
    int32_t& depth_;
};

std::string expandList(MapiSession& session, IAddrBook* addressBook, const SPropValue* values,
                       ULONG count) {
    std::string members;
    if (session.listDepth() >= kMaxListDepth || session.listsExpanded() >= kMaxListsExpanded) {
        return members;
    }
    ++session.listsExpanded();
    ListLevel level(session.listDepth());
    const SPropValue* id = findProp(values, count, PR_ENTRYID);
    if (id == nullptr) {
        return members;
    }
    MapiRef<IDistList> list;
    ULONG objectType = 0;
    if (session.record(addressBook->OpenEntry(id->Value.bin.cb,
                                              reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                                              nullptr, 0, &objectType,
                                              reinterpret_cast<LPUNKNOWN*>(list.out()))) < 0 ||
        !list || objectType != MAPI_DISTLIST) {
        return members;
    }
    MapiRef<IMAPITable> contents;
    if (session.record(list->GetContentsTable(0, contents.out())) < 0) {
        return members;
    }
    MapiRows rows(session.allocator());
    while (session.record(contents->QueryRows(kListBatch, 0, rows.out())) >= 0 &&
           rows.get() != nullptr && rows->cRows > 0) {
        const SRow* row = rows->aRow;  // cRows rows, not MAPI_DIM
        for (ULONG i = 0; i < rows->cRows; ++i) {
            appendRecipientAddress(session, addressBook, row[i].lpProps, row[i].cValues, members);
        }
    }
    return members;
}

struct Picker {
    MapiSession& session;
    IAddrBook* addressBook;
    std::array<Slot, 3>& slots;

    // Each passed slot's text rebuilt from the list, in list order.
    void listToTexts(const ADRLIST* list) {
        std::array<std::string, 3> texts;
        const ADRENTRY* entries = list->aEntries;
        for (ULONG i = 0; i < list->cEntries; ++i) {
            std::string entryText;
            const LONG type = appendRecipientAddress(session, addressBook, entries[i].rgPropVals,
                                                     entries[i].cValues, entryText);
            if (type >= static_cast<LONG>(MAPI_TO) && type <= static_cast<LONG>(MAPI_BCC)) {
                appendItem(texts[static_cast<size_t>(type - 1)], entryText);
            }
        }
        for (size_t k = 0; k < slots.size(); ++k) {
            if (slots[k].passed) {
                slots[k].text = RecipientSlot::fromText(withoutRepeats(texts[k]).c_str());
            }
        }
    }

    void pick(ULONG_PTR parent, char* caption, bool showAddressBook) {
        RecipientSlot* passed[3];
        for (size_t k = 0; k < slots.size(); ++k) {
            passed[k] = slots[k].passed ? &slots[k].text : nullptr;
        }
        MapiAddressList list(session.allocator(),
                             resolveRecipients(session, addressBook, parent, passed[0], passed[1],
                                               passed[2], true));
        if (list.get() == nullptr) {
            return;  // the slots keep their split texts
        }
        if (!showAddressBook) {
            listToTexts(list.get());
            return;
        }
        std::vector<ULONG> wells;
        for (const Slot& slot : slots) {
            if (slot.passed) {
                wells.push_back(slot.type);
            }
        }
        ADRPARM parameters{};
        parameters.ulFlags = DIALOG_MODAL | AB_RESOLVE;
        parameters.lpszCaption = caption;
        parameters.cDestFields = static_cast<ULONG>(wells.size());
        parameters.nDestFieldFocus = 0;
        parameters.lpulDestComps = wells.data();
        ULONG_PTR owner = parent;
        if (session.record(addressBook->Address(&owner, &parameters, list.slot())) >= 0 &&
            list.get() != nullptr) {
            listToTexts(list.get());
        }
    }
};

}  // namespace

LONG appendRecipientAddress(MapiSession& session, IAddrBook* addressBook,
                            const SPropValue* values, ULONG count, std::string& text) {
    const SPropValue* type = findProp(values, count, PR_RECIPIENT_TYPE);
    const SPropValue* objectType = findProp(values, count, PR_OBJECT_TYPE);
    if (objectType != nullptr && objectType->Value.ul == MAPI_DISTLIST) {
        const std::string members = expandList(session, addressBook, values, count);
        if (!members.empty()) {
            appendItem(text, members);
        }
        return type != nullptr ? type->Value.l : -1;
    }
    const char* name = textOf(values, count, PR_DISPLAY_NAME_A);
    const char* addressType = textOf(values, count, PR_ADDRTYPE_A);
    const char* email = textOf(values, count, PR_EMAIL_ADDRESS_A);
    const char* chosen = name;
    std::optional<std::string> smtp;
    if (addressType != nullptr && std::strcmp(addressType, "SMTP") == 0) {
        chosen = email;
    } else if (addressType != nullptr && std::strcmp(addressType, "EX") == 0) {
        const char* x500 = email != nullptr ? email : name;
        if (x500 != nullptr && (smtp = exchangeToSmtp(session, x500))) {
            chosen = smtp->c_str();
        }
    }
    if (chosen != nullptr) {
        appendItem(text, chosen);
    }
    return type != nullptr ? type->Value.l : -1;
}

ParamMap outlookGetAddrs(MapiSession& session) {
    ParamMap reply;
    int32_t parent = 0;
    session.readNumber("parent", "%d", &parent);
    const KsString* captionParam = session.param("caption");
    // Held for the whole dialog.
    KsString caption = captionParam != nullptr ? *captionParam : KsString(kDefaultCaption);
    std::vector<char> captionText;
    const char* captionBytes = caption.utf8View();
    captionText.assign(captionBytes, captionBytes + std::strlen(captionBytes) + 1);
    std::array<Slot, 3> slots{Slot{"to", MAPI_TO, {}}, Slot{"cc", MAPI_CC, {}},
                              Slot{"bcc", MAPI_BCC, {}}};
    for (Slot& slot : slots) {
        const KsString* value = session.param(slot.key);
        slot.passed = value != nullptr;
        slot.text = RecipientSlot::fromParam(value);
    }
    int32_t showAddressBook = 0;
    session.readNumber("ShowAddressBook", "%d", &showAddressBook);
    MapiRef<IAddrBook> addressBook;
    if (session.record(session.logonSession()->OpenAddressBook(
            0, nullptr, session.silent() != 0 ? AB_NO_DIALOG : 0, addressBook.out())) < 0) {
        return reply;
    }
    const ULONG_PTR owner = static_cast<ULONG_PTR>(static_cast<intptr_t>(parent));
    Picker{session, addressBook.get(), slots}.pick(owner, captionText.data(),
                                                   showAddressBook != 0);
    addressBook.reset();
    for (Slot& slot : slots) {
        if (slot.passed) {
            reply[KsString(slot.key)] = KsString(slot.text.chars());
        }
    }
    return reply;
}
