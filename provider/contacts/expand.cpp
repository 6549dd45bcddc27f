// SPDX-License-Identifier: MIT
#include "provider/contacts/expand.h"

#include <set>

#include "provider/contacts/contact_entry_id.h"

namespace mb::provider {
namespace {

void add(const AbEntry& entry, Expansion& out, std::set<std::string>& seen) {
    if (entry.smtp.empty()) {
        out.unreachable.push_back(entry.displayName);
    } else if (seen.insert(mailboxKey(entry.smtp)).second) {
        out.recipients.push_back({entry.displayName, entry.smtp});
    }
}

}  // namespace

std::string mailboxKey(std::string_view address) {
    std::string key(address);
    const std::size_t at = key.rfind('@');
    if (at == std::string::npos) {
        return key;
    }
    for (std::size_t i = at + 1; i < key.size(); ++i) {
        const char c = key[i];
        key[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key;
}

HRESULT expandForDelivery(const Directory& directory, const BYTE* entryId, ULONG size,
                          Expansion& out) {
    ExpansionBudget budget;
    return expandForDelivery(directory, entryId, size, out, budget);
}

HRESULT expandForDelivery(const Directory& directory, const BYTE* entryId, ULONG size,
                          Expansion& out, ExpansionBudget& budget) {
    out = {};
    try {
        AbEntry top;
        if (!directory.find(entryId, size, top)) {
            return MAPI_E_UNKNOWN_ENTRYID;
        }
        std::set<std::string> seen;
        if (!top.list) {
            add(top, out, seen);
            return S_OK;
        }
        if (budget.listsOpened >= kMaxListsOpened) {
            return S_OK;
        }
        ++budget.listsOpened;
        // Depth first with an explicit stack, so that nesting costs no C++
        // stack; the stack's height is the level of the list being read.
        std::set<std::size_t> visited;
        AbEntryIdParts parts;
        if (parseAbEntryId(entryId, size, parts) && !parts.oneOff) {
            visited.insert(parts.index);  // a list that holds itself is not expanded again
        }
        std::vector<std::pair<const std::vector<std::size_t>*, std::size_t>> stack;
        stack.emplace_back(&top.members, 0);
        while (!stack.empty()) {
            auto& [members, next] = stack.back();
            if (next == members->size()) {
                stack.pop_back();
                continue;
            }
            const std::size_t index = (*members)[next++];
            const AbEntry& member = directory.entries()[index];
            if (!member.list) {
                add(member, out, seen);
            } else if (stack.size() < kMaxListDepth && budget.listsOpened < kMaxListsOpened &&
                       visited.insert(index).second) {
                ++budget.listsOpened;
                stack.emplace_back(&member.members, 0);
            }
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        out = {};
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace mb::provider
