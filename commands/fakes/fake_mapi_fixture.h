// SPDX-License-Identifier: MIT
// A test that drives code loading the stand-in mapi32: holds its own
// reference to the library, so its record survives the code's loads and
// unloads, and starts each test from a fresh record.
#pragma once

#include <gtest/gtest.h>

#include "commands/fakes/fake_mapi_state.h"
#include "pal/win32.h"

class FakeMapiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = LoadLibraryA("mapi32.dll");
        ASSERT_NE(library_, nullptr);
        auto get = reinterpret_cast<FAKEMAPISTATE*>(
            reinterpret_cast<void*>(GetProcAddress(library_, "fakeMapiState")));
        ASSERT_NE(get, nullptr);
        state_ = get();
        state_->reset();
    }
    void TearDown() override { FreeLibrary(library_); }

    HMODULE library_ = nullptr;
    FakeMapiState* state_ = nullptr;
};
