// SPDX-License-Identifier: MIT
#include "dialogs/check_names_choice.h"

namespace mb::dialogs {

std::string_view trimBlanks(std::string_view typed) {
    std::size_t start = typed.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return {};
    }
    std::size_t end = typed.find_last_not_of(" \t");
    return typed.substr(start, end - start + 1);
}

CheckNamesChoice judgeCheckNames(std::string_view typed, std::size_t candidateCount,
                                 std::optional<std::size_t> selected) {
    CheckNamesChoice choice;
    std::string_view address = trimBlanks(typed);
    if (!address.empty()) {
        choice.typed = true;
        choice.problem = provider::checkAddress(address);
        if (choice.problem == provider::AddressProblem::None) {
            // A one-off has no display name of its own: it shows as its address.
            choice.answer = Answer::typed(OneOff{std::string(address), std::string(address)});
        }
        return choice;
    }
    if (selected && *selected < candidateCount) {
        choice.answer = Answer::picked(*selected);
    }
    return choice;
}

}  // namespace mb::dialogs
