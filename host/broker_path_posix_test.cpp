// SPDX-License-Identifier: MIT
#include "host/broker_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>
#include <string>

#include "base/temp_dir_test_support.h"

namespace {

// Unsets MAILBROKER_BROKER for one test and puts back what was there.
class BrokerPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* value = ::getenv("MAILBROKER_BROKER")) {
            saved_ = value;
        }
        ::unsetenv("MAILBROKER_BROKER");
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("MAILBROKER_BROKER", saved_->c_str(), 1);
        } else {
            ::unsetenv("MAILBROKER_BROKER");
        }
    }
    std::optional<std::string> saved_;
};

TEST_F(BrokerPathTest, AnInstalledClientFindsThePrivateDirectoryFromItsOwnFolder) {
    mb::test::TempDir bin;
    EXPECT_EQ(defaultBrokerPath(bin.path(), "../lib/mailbroker"),
              bin.path() + "/../lib/mailbroker/mailbroker");
}

TEST_F(BrokerPathTest, ABrokerBesideTheClientComesFirst) {
    mb::test::TempDir bin;
    std::ofstream(bin.path() + "/mailbroker") << "#!/bin/sh\n";
    EXPECT_EQ(defaultBrokerPath(bin.path(), "../lib/mailbroker"), bin.path() + "/mailbroker");
}

TEST_F(BrokerPathTest, TheEnvironmentOverridesBoth) {
    mb::test::TempDir bin;
    std::ofstream(bin.path() + "/mailbroker") << "#!/bin/sh\n";
    ::setenv("MAILBROKER_BROKER", "/opt/other/mailbroker", 1);
    EXPECT_EQ(defaultBrokerPath(bin.path(), "../lib/mailbroker"), "/opt/other/mailbroker");
    // An empty value is no choice at all.
    ::setenv("MAILBROKER_BROKER", "", 1);
    EXPECT_EQ(defaultBrokerPath(bin.path(), "../lib/mailbroker"), bin.path() + "/mailbroker");
}

}  // namespace
