// SPDX-License-Identifier: MIT
// AutoCompleteFileName end to end, and how the dispatch treats command names.
#include <gtest/gtest.h>

#include "tests/support/provider_install.h"

using namespace mbtest;

namespace {

constexpr uint32_t kReplyMs = 30000;

std::string request(const ProviderInstall& install, const std::string& text) {
    BrokerHost broker = install.start();
    BrokerConnection c = broker.connect();
    return fields(c.request(text, kReplyMs));
}

TEST(ProfileName, DefaultProfilesDisplayNameWinsOverTheRequests) {
    ProviderInstall install;
    install.writeProfiles("[profile home]\ndisplay_name = Home\n"
                          "[profile work]\ndisplay_name = Work mail \xC3\xA9t\xC3\xA9\n"
                          "default = true\n");
    EXPECT_EQ(request(install, "AutoCompleteFileName?displayName=mine"),
              "displayName=Work mail \xC3\xA9t\xC3\xA9;error=0;");
    EXPECT_EQ(request(install, "AutoCompleteFileName"),
              "displayName=Work mail \xC3\xA9t\xC3\xA9;error=0;");
}

TEST(ProfileName, WithoutADefaultProfileTheRequestsNameIsEchoed) {
    ProviderInstall install;
    install.writeProfiles("[profile home]\ndisplay_name = Home\n");
    install.writeUiScript("logon ok\nlogon ok\n");
    EXPECT_EQ(request(install, "AutoCompleteFileName?displayName=mine%20%C3%A9"),
              "displayName=mine \xC3\xA9;error=0;");
    install.writeUiScript("logon ok\n");
    EXPECT_EQ(request(install, "AutoCompleteFileName"), "displayName=;error=0;");
}

TEST(ProfileName, BuiltInProfileIsTheDefault) {
    ProviderInstall install;
    EXPECT_EQ(request(install, "AutoCompleteFileName?displayName=x"),
              "displayName=Default;error=0;");
}

TEST(Dispatch, OnlyExactCommandNamesAreServed) {
    ProviderInstall install;
    BrokerHost broker = install.start();
    BrokerConnection c = broker.connect();
    for (const char* text : {"sendmail?to=a%40b.org", "SendMail%20?to=a%40b.org",
                             "AutoCompleteFileName%20", "outlookgetaddrs", "?to=a"}) {
        EXPECT_EQ(fields(c.request(text, kReplyMs)), "error=Not Supported;") << text;
    }
    EXPECT_TRUE(install.messages("Outbox/new").empty());
}

}  // namespace
