// SPDX-License-Identifier: MIT
#include "provider/list_expansion.h"

#include "provider/contacts/expand.h"

namespace mb::provider {

std::vector<ListMembers> expandMessageLists(const Profile& profile,
                                            const std::vector<std::vector<BYTE>>& entryIds) {
    const std::shared_ptr<const Directory> directory = Directory::load(profile.addressBooks);
    ExpansionBudget budget;
    std::vector<ListMembers> lists;
    lists.reserve(entryIds.size());
    for (const std::vector<BYTE>& id : entryIds) {
        Expansion expansion;
        ListMembers& list = lists.emplace_back();
        list.result = expandForDelivery(*directory, id.data(), static_cast<ULONG>(id.size()),
                                        expansion, budget);
        for (SmtpRecipient& member : expansion.recipients) {
            list.addresses.push_back(std::move(member.address));
        }
        list.unreachable = std::move(expansion.unreachable);
    }
    return lists;
}

}  // namespace mb::provider
