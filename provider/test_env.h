// Test fixture: a private XDG config and data directory per test, no desktop,
// and MAPI initialised for the test's duration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "provider/exports.h"

namespace mb::provider::test {

// Row i of a row set. SRowSet declares its rows as a one-element array, as
// MAPI does, so constant indexes past 0 must not be written as aRow[i].
inline const SRow& rowAt(const SRowSet* rows, ULONG i) {
    return rows->aRow[i];
}

// A default profile that keeps what is submitted in the Outbox: the built-in
// one would hand it to /usr/sbin/sendmail wherever the machine has one.
inline void writeOutboxOnlyProfile(const std::string& configHome) {
    std::filesystem::create_directories(configHome + "/mailbroker");
    std::ofstream(configHome + "/mailbroker/profiles.ini", std::ios::binary)
        << "[profile Default]\ndefault = true\ntransport = none\n";
}

class ProviderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/mb_provider_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        config_ = root_ + "/config";
        data_ = root_ + "/data";
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", config_.c_str(), 1), 0);
        ASSERT_EQ(setenv("XDG_DATA_HOME", data_.c_str(), 1), 0);
        // ui = auto would open the compose window on the desktop running the tests.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }

    void TearDown() override {
        MAPIUninitialize();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string iniPath() const { return config_ + "/mailbroker/profiles.ini"; }

    void writeProfiles(const std::string& text) {
        std::filesystem::create_directories(config_ + "/mailbroker");
        std::ofstream out(iniPath(), std::ios::binary);
        out << text;
    }

    std::string root_;
    std::string config_;
    std::string data_;
};

}  // namespace mb::provider::test
