// SPDX-License-Identifier: MIT
// Test fixture: a private XDG config and data directory per test, under a
// fresh temporary folder, and the profiles.ini in it written on request.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/temp_dir_test_support.h"

namespace mb::provider::test {

// A default profile that keeps what is submitted in the Outbox: the built-in
// one would hand it to /usr/sbin/sendmail wherever the machine has one.
inline void writeOutboxOnlyProfile(const std::string& configHome) {
    std::filesystem::create_directories(configHome + "/mailbroker");
    std::ofstream(configHome + "/mailbroker/profiles.ini", std::ios::binary)
        << "[profile Default]\ndefault = true\ntransport = none\n";
}

class ProfilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = home_.path();
        config_ = root_ + "/config";
        data_ = root_ + "/data";
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", config_.c_str(), 1), 0);
        ASSERT_EQ(setenv("XDG_DATA_HOME", data_.c_str(), 1), 0);
        // The provider log's default place, when a test names no log.
        ASSERT_EQ(setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1), 0);
    }

    std::string iniPath() const { return config_ + "/mailbroker/profiles.ini"; }

    void writeProfiles(const std::string& text) {
        std::filesystem::create_directories(config_ + "/mailbroker");
        std::ofstream out(iniPath(), std::ios::binary);
        out << text;
    }

    mb::test::TempDir home_{"provider"};
    std::string root_;
    std::string config_;
    std::string data_;
};

}  // namespace mb::provider::test
