// SPDX-License-Identifier: MIT
// The SDDL text of the pipe's security descriptor, apart from the platform
// calls that supply its inputs.
#pragma once

#include <cstdint>

#include "foundation/ks_string.h"

namespace KsSecurityUtilsWin {

// Owner and sole grantee (generic read and write) is the user `sidText`; from
// major version 6 on, a low-integrity no-write-up label lets that user's
// sandboxed processes in as well.
KsString buildCurrentUserSddl(const KsString& sidText, uint32_t majorVersion);

}  // namespace KsSecurityUtilsWin
