// SPDX-License-Identifier: MIT
#include "provider/store/message_addresses.h"

#include <cstdio>

#include "provider/com/diagnostics.h"
#include "provider/store/message_recipients.h"

namespace mb::provider {
namespace {

const Property* findTag(const Row& row, ULONG tag) {
    for (const Property& prop : row) {
        if (prop.tag == tag) {
            return &prop;
        }
    }
    return nullptr;
}

// The row's entry identifier when it is a distribution list; null otherwise.
const Property* listEntryId(const Row& row) {
    const Property* type = findTag(row, PR_ADDRTYPE_A);
    const Property* object = findTag(row, PR_OBJECT_TYPE);
    const bool list = (type != nullptr && type->text == "MAPIPDL") ||
                      (object != nullptr && object->number == MAPI_DISTLIST);
    const Property* id = findTag(row, PR_ENTRYID);
    return list && id != nullptr && !id->bytes.empty() ? id : nullptr;
}

}  // namespace

const char* MessageAddresses::keep(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back().c_str();
}

HRESULT MessageAddresses::build(const std::vector<Row>& rows, const Profile& profile,
                                const ExpandLists& expand) {
    texts_.clear();
    addresses_.clear();
    envelopeCount_ = 0;
    std::vector<std::vector<BYTE>> listIds;
    for (const Row& row : rows) {
        if (const Property* id = listEntryId(row)) {
            listIds.push_back(id->bytes);
        }
    }
    std::vector<ListMembers> lists;
    if (!listIds.empty()) {
        if (!expand) {
            reportProblem(
                "a message to a distribution list cannot be filed without an address book");
            return MAPI_E_NO_SUPPORT;
        }
        lists = expand(profile, listIds);
        if (lists.size() != listIds.size()) {
            return MAPI_E_CALL_FAILED;
        }
    }
    std::size_t nextList = 0;
    for (const Row& row : rows) {
        const RecipientAddress person = describeRecipient(row);
        if (listEntryId(row) == nullptr) {
            addresses_.push_back({person.type, keep(person.name), keep(person.address), 0});
            envelopeCount_ += person.address.empty() ? 0 : 1;
            continue;
        }
        const ListMembers& list = lists[nextList++];
        if (FAILED(list.result)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(list.result));
            reportProblem("the list \"" + person.name + "\" cannot be expanded (" +
                          (list.result == MAPI_E_UNKNOWN_ENTRYID ? "no longer in the address book"
                                                                 : std::string("error ") + code) +
                          "); the message was not filed");
            return list.result;
        }
        for (const std::string& name : list.unreachable) {
            reportProblem("the list \"" + person.name + "\" holds \"" + name +
                          "\", who has no SMTP address: left out");
        }
        // The members go without their names: the group's name says who they
        // are, and the names in the user's own address book stay private.
        addresses_.push_back({person.type, keep(person.name), nullptr,
                              static_cast<std::uint32_t>(list.addresses.size())});
        for (const std::string& address : list.addresses) {
            addresses_.push_back({person.type, "", keep(address), 0});
        }
        envelopeCount_ += list.addresses.size();
    }
    return S_OK;
}

}  // namespace mb::provider
