// SPDX-License-Identifier: MIT
// Names for new Maildir files, shared by the store and the compose window's
// drafts so that both write names every Maildir reader takes and that never
// collide, across processes and hosts.
#pragma once

#include <string>

namespace mb {

// "SECONDS.MUSECPPIDQN.HOST": N counts the names this process made, and
// '/' and ':' in the host name are written as the usual octal escapes.
std::string uniqueMaildirName();

}  // namespace mb
