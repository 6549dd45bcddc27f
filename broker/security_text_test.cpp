// SPDX-License-Identifier: MIT
#include "broker/security_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string sddl(const char* sid, uint32_t major) {
    KsString text = KsSecurityUtilsWin::buildCurrentUserSddl(KsString(sid), major);
    return text.utf8View();
}

TEST(SecurityText, BeforeVersionSixThereIsNoLabel) {
    EXPECT_EQ(sddl("S-1-22-1-1000", 5), "O:S-1-22-1-1000D:(A;;GRGW;;;S-1-22-1-1000)");
}

TEST(SecurityText, FromVersionSixALowIntegrityLabelFollows) {
    EXPECT_EQ(sddl("S-1-5-21-1-2-3-1001", 6),
              "O:S-1-5-21-1-2-3-1001D:(A;;GRGW;;;S-1-5-21-1-2-3-1001)S:(ML;;NW;;;LW)");
    EXPECT_EQ(sddl("S-1-22-1-0", 10), "O:S-1-22-1-0D:(A;;GRGW;;;S-1-22-1-0)S:(ML;;NW;;;LW)");
}

}  // namespace
