// SPDX-License-Identifier: MIT
// What OK means in Check Names, apart from the widgets that feed it.
//
// A typed address wins over the list: the user typed it because no candidate
// was right. It must pass the provider's own address check, or the provider
// would refuse it later with the dialog long gone. Blanks around it are a
// slip of the hand (paste, mostly) and are dropped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "provider/com/address_check.h"
#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

struct CheckNamesChoice {
    // The answer OK gives now; nullopt while OK must stay disabled.
    std::optional<Answer> answer;
    // For a typed address: what is wrong with it (None when it is fine).
    provider::AddressProblem problem = provider::AddressProblem::None;
    bool typed = false;  // the field holds more than blanks
};

// typed: the "Use this address" field; selected: the candidate chosen in the
// list, if any, out of candidateCount.
CheckNamesChoice judgeCheckNames(std::string_view typed, std::size_t candidateCount,
                                 std::optional<std::size_t> selected);

// typed without the blanks (spaces, tabs) around it.
std::string_view trimBlanks(std::string_view typed);

}  // namespace mb::dialogs
