// SPDX-License-Identifier: MIT
// A command written in a configuration file, split into argv without a shell:
// words are separated by blanks or tabs, and '...' or "..." quote a part of a
// word (blanks included; no escapes inside). The sendmail transport, the
// password and token commands all read their commands this way.
#pragma once

#include <string>
#include <vector>

namespace mb {

// The words of `command`; false (and no words) for an unbalanced quote or a
// command without words.
bool splitCommandWords(const std::string& command, std::vector<std::string>& words);

}  // namespace mb
