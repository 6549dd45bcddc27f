// SPDX-License-Identifier: MIT
// Test fixture for the provider: a private XDG config and data directory per
// test, no desktop, and MAPI initialised for the test's duration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include "profiles/profiles_test_support.h"
#include "provider/com/exports.h"

namespace mb::provider::test {

// Row i of a row set. SRowSet declares its rows as a one-element array, as
// MAPI does, so constant indexes past 0 must not be written as aRow[i].
inline const SRow& rowAt(const SRowSet* rows, ULONG i) {
    return rows->aRow[i];
}

// Frees a row set the way MAPI's callers do: each row's values, then the set.
inline void freeRows(SRowSet* rows) {
    if (rows == nullptr)
        return;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        MAPIFreeBuffer(rows->aRow[i].lpProps);
    }
    MAPIFreeBuffer(rows);
}

// ProfilesTest's private XDG folders, no desktop, and MAPI initialised for
// the test's duration.
class ProviderTest : public ProfilesTest {
  protected:
    void SetUp() override {
        ProfilesTest::SetUp();
        // ui = auto would open the compose window on the desktop running the tests.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        // Nor should a message that waits raise a notification there.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }

    void TearDown() override { MAPIUninitialize(); }
};

}  // namespace mb::provider::test
