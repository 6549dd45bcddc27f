// SPDX-License-Identifier: MIT
#include "provider/transport/credentials.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/temp_dir_test_support.h"

namespace mb::provider::test {
namespace {

using std::chrono::milliseconds;
using Kind = DeliveryFailure::Kind;

class CredentialsTest : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("MAILBROKER_SECRET"); }
    void TearDown() override { unsetenv("MAILBROKER_SECRET"); }

    std::string script(const std::string& name, const std::string& body) {
        const std::string path = dir_.path() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
    static Profile account() {
        Profile profile;
        profile.name = "work";
        profile.transport = "smtp://mail.example.org:587";
        profile.username = "ann";
        return profile;
    }

    mb::test::TempDir dir_;
};

TEST_F(CredentialsTest, PlainPasswordAndNetrcAsWritten) {
    Profile profile = account();
    profile.password = "pw";
    CredentialLookup found = lookupCredentials(profile, milliseconds(1000));
    ASSERT_TRUE(found.credentials);
    EXPECT_EQ(found.credentials->username, "ann");
    EXPECT_EQ(found.credentials->password, "pw");
    EXPECT_TRUE(found.credentials->netrcFile.empty());
    // A netrc serves only without a username, as it always did.
    profile = account();
    profile.username.clear();
    profile.netrc = "/etc/some-netrc";
    found = lookupCredentials(profile, milliseconds(1000));
    ASSERT_TRUE(found.credentials);
    EXPECT_EQ(found.credentials->netrcFile, "/etc/some-netrc");
}

TEST_F(CredentialsTest, PasswordCommandGivesItsFirstLineOrATemporaryFailure) {
    Profile profile = account();
    profile.passwordCommand = script("pw", "printf 'first line\\r\\nsecond\\n'") + " 'an arg'";
    CredentialLookup found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_TRUE(found.credentials) << found.failure.reason;
    EXPECT_EQ(found.credentials->password, "first line");

    profile.passwordCommand = script("locked", "echo secret-but-failed; exit 3");
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::Temporary);
    EXPECT_NE(found.failure.reason.find("ended with exit code 3"), std::string::npos)
        << found.failure.reason;
    EXPECT_EQ(found.failure.reason.find("secret-but-failed"), std::string::npos);

    profile.passwordCommand = script("slow", "sleep 30");
    const auto start = std::chrono::steady_clock::now();
    found = lookupCredentials(profile, milliseconds(300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::Temporary);
    EXPECT_NE(found.failure.reason.find("did not finish in time"), std::string::npos);

    // An endless line is cut off, never held whole.
    profile.passwordCommand = script("endless", "yes x | tr -d '\\n'");
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_NE(found.failure.reason.find("longer than allowed"), std::string::npos)
        << found.failure.reason;

    profile.passwordCommand = dir_.path() + "/missing";
    found = lookupCredentials(profile, milliseconds(1000));
    ASSERT_FALSE(found.credentials);
    EXPECT_NE(found.failure.reason.find("cannot be run"), std::string::npos);
}

TEST_F(CredentialsTest, TokenCommandGivesABearerAndNoTokenNeedsAttention) {
    Profile profile = account();
    profile.oauth2TokenCommand = script("token", "echo ya29.abc");
    CredentialLookup found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_TRUE(found.credentials) << found.failure.reason;
    EXPECT_EQ(found.credentials->bearer, "ya29.abc");
    EXPECT_TRUE(found.credentials->password.empty());

    profile.oauth2TokenCommand = script("expired", "echo 'grant expired' >&2; exit 1");
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::NeedsAttention);
    EXPECT_NE(found.failure.reason.find("no OAuth2 token"), std::string::npos);
    profile.oauth2TokenCommand = script("silent", "true");
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::NeedsAttention);
    EXPECT_NE(found.failure.reason.find("printed nothing"), std::string::npos);
}

TEST_F(CredentialsTest, SecretServiceHelperIsAskedForHostAndUser) {
    // A stand-in for mailbroker-secret: knows one password, exits 1 for
    // anything else (nothing stored), 2 when the service fails.
    const std::string args = dir_.path() + "/args";
    setenv("MAILBROKER_SECRET",
           script("helper", "echo \"$@\" > " + args +
                                "\n[ \"$3\" = ann ] && { echo s3cret; exit 0; }\n"
                                "[ \"$3\" = broken ] && exit 2\nexit 1")
               .c_str(),
           1);
    Profile profile = account();
    profile.secretService = true;
    CredentialLookup found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_TRUE(found.credentials) << found.failure.reason;
    EXPECT_EQ(found.credentials->password, "s3cret");
    std::ifstream written(args);
    std::string line;
    std::getline(written, line);
    EXPECT_EQ(line, "lookup mail.example.org ann");

    profile.username = "bob";
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::NeedsAttention);
    EXPECT_EQ(found.failure.reason,
              "no password for bob at mail.example.org in the Secret Service (store one with: "
              "mailbroker-client password set work)");
    profile.username = "broken";
    found = lookupCredentials(profile, milliseconds(5000));
    ASSERT_FALSE(found.credentials);
    EXPECT_EQ(found.failure.kind, Kind::Temporary);
}

}  // namespace
}  // namespace mb::provider::test
