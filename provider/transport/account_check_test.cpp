// SPDX-License-Identifier: MIT
#include "provider/transport/account_check.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <sstream>

namespace mb::provider {
namespace {

std::string steps(const CheckReport& report) {
    std::string out;
    for (const CheckStep& step : report.steps) {
        out += step.name + (step.state == CheckStep::State::Ok        ? "+"
                            : step.state == CheckStep::State::Skipped ? "~"
                                                                      : "!");
        out += " ";
    }
    return out;
}

CheckTrace upTo(int stage) {
    CheckTrace trace;
    trace.connected = stage >= 1;
    trace.greeted = stage >= 2;
    trace.greeting = "220 smtp.test";
    trace.starttlsSent = stage >= 3;
    trace.tlsUp = stage >= 4;
    trace.authMechanism = stage >= 5 ? "PLAIN" : "";
    trace.authOk = stage >= 6;
    trace.noopSent = stage >= 7;
    trace.noopOk = stage >= 8;
    return trace;
}

TEST(AccountCheck, EachStepThatFailedIsNamed) {
    EXPECT_EQ(steps(readCheck(CheckTrace{}, CURLE_COULDNT_RESOLVE_HOST, false, "x")), "resolve! ");
    EXPECT_EQ(steps(readCheck(upTo(0), CURLE_COULDNT_CONNECT, false, "x")), "resolve+ connect! ");
    EXPECT_EQ(steps(readCheck(upTo(1), CURLE_OPERATION_TIMEDOUT, false, "x")),
              "resolve+ connect+ greeting! ");
    EXPECT_EQ(steps(readCheck(upTo(3), CURLE_PEER_FAILED_VERIFICATION, false, "x")),
              "resolve+ connect+ greeting+ tls! ");
    EXPECT_EQ(steps(readCheck(upTo(2), CURLE_USE_SSL_FAILED, false, "x")),
              "resolve+ connect+ greeting+ tls! ");
    EXPECT_EQ(steps(readCheck(upTo(5), CURLE_LOGIN_DENIED, false, "535")),
              "resolve+ connect+ greeting+ tls+ login! ");
    EXPECT_EQ(steps(readCheck(upTo(8), CURLE_OK, false, "")),
              "resolve+ connect+ greeting+ tls+ login+ noop+ ");
    // No login offered and none given, no STARTTLS: said, not failed.
    CheckTrace plain = upTo(2);
    plain.noopSent = plain.noopOk = true;
    const CheckReport report = readCheck(plain, CURLE_OK, false, "");
    EXPECT_EQ(steps(report), "resolve+ connect+ greeting+ tls~ login~ noop+ ");
    EXPECT_TRUE(report.ok());
    // The reason goes with the failed step.
    const CheckReport refused = readCheck(upTo(5), CURLE_LOGIN_DENIED, false, "535 5.7.8 no");
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.steps.back().detail, "535 5.7.8 no");
}

TEST(AccountCheck, ImplicitTlsComesBeforeTheGreeting) {
    EXPECT_EQ(steps(readCheck(upTo(1), CURLE_SSL_CONNECT_ERROR, true, "x")),
              "resolve+ connect+ tls! ");
    CheckTrace trace = upTo(8);
    trace.starttlsSent = false;
    EXPECT_EQ(steps(readCheck(trace, CURLE_OK, true, "")),
              "resolve+ connect+ tls+ greeting+ login+ noop+ ");
}

TEST(AccountCheck, PrintedReportEndsWithTheVerdict) {
    Profile profile;
    profile.name = "work";
    profile.transport = "none";
    std::ostringstream out;
    EXPECT_EQ(printCheck(profile, checkAccount(profile, std::chrono::seconds(1)), out), 6);
    EXPECT_NE(out.str().find("transport: FAILED: none"), std::string::npos) << out.str();
    profile.transport = "sendmail:/bin/true -t";
    out.str("");
    EXPECT_EQ(printCheck(profile, checkAccount(profile, std::chrono::seconds(1)), out), 0);
    EXPECT_NE(out.str().find("result: the account works; nothing was sent"), std::string::npos);
    profile.transport = "sendmail:no-such-program-here -t";
    out.str("");
    EXPECT_EQ(printCheck(profile, checkAccount(profile, std::chrono::seconds(1)), out), 6);
    EXPECT_NE(out.str().find("no-such-program-here cannot be run"), std::string::npos);
}

}  // namespace
}  // namespace mb::provider
