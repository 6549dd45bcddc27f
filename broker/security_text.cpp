// SPDX-License-Identifier: MIT
#include "broker/security_text.h"

namespace KsSecurityUtilsWin {

KsString buildCurrentUserSddl(const KsString& sidText, uint32_t majorVersion) {
    KsString sddl("O:");
    sddl.append(sidText);
    sddl.append(KsString("D:(A;;GRGW;;;"));
    sddl.append(sidText);
    sddl.append(KsString(")"));
    if (majorVersion >= 6) {
        sddl.append(KsString("S:(ML;;NW;;;LW)"));
    }
    return sddl;
}

}  // namespace KsSecurityUtilsWin
