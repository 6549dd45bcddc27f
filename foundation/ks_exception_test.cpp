// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "foundation/ks_exception.h"

namespace {

TEST(KsException, InterruptedIsCaughtAsChannelAndAsBaseFailure) {
    int caughtAsChannel = 0;
    try {
        throw CInterruptedExeception();
    } catch (const CMessageException& e) {
        caughtAsChannel = 1;
        EXPECT_TRUE(e.getMessage().equals(KsString("CInterruptedException")));
    }
    EXPECT_EQ(caughtAsChannel, 1);

    int caughtAsBase = 0;
    try {
        throw CInterruptedExeception();
    } catch (const KsException& e) {
        caughtAsBase = 1;
        EXPECT_TRUE(e.getMessage().equals(KsString("CInterruptedException")));
    }
    EXPECT_EQ(caughtAsBase, 1);
}

TEST(KsException, CopyHasEqualMessageInItsOwnStorage) {
    const KsException original("channel closed");
    const KsException copy(original);
    EXPECT_TRUE(copy.getMessage().equals(original.getMessage()));
    EXPECT_NE(copy.getMessage().rawData(), original.getMessage().rawData());

    KsException assigned("other");
    assigned = original;
    EXPECT_TRUE(assigned.getMessage().equals(original.getMessage()));
    EXPECT_NE(assigned.getMessage().rawData(), original.getMessage().rawData());

    const CInterruptedExeception interrupted;
    const CInterruptedExeception interruptedCopy(interrupted);
    EXPECT_TRUE(interruptedCopy.getMessage().equals(KsString("CInterruptedException")));
    EXPECT_NE(interruptedCopy.getMessage().rawData(), interrupted.getMessage().rawData());
}

TEST(KsException, NarrowMessagesAreClassifiedLikeAnyNarrowText) {
    EXPECT_EQ(KsException("plain").getMessage().encoding(), KsString::Encoding::Ansi);
    // "été" as UTF-8, then as single Latin-1 bytes (not well-formed UTF-8).
    EXPECT_EQ(KsException("\xC3\xA9t\xC3\xA9").getMessage().encoding(), KsString::Encoding::Utf8);
    EXPECT_EQ(CMessageException("\xE9t\xE9").getMessage().encoding(), KsString::Encoding::Ansi);
    EXPECT_EQ(KsException("").getMessage().encoding(), KsString::Encoding::Ansi);
}

}  // namespace
