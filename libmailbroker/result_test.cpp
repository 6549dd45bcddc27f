// SPDX-License-Identifier: MIT
// Answers read into results, and the accessors of the C interface over them.
#include "libmailbroker/result.h"

#include <mailbroker/mailbroker.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

ParamMap params(std::initializer_list<std::pair<const char*, const char*>> fields) {
    ParamMap map;
    for (const auto& [key, value] : fields) {
        map[KsString(key)] = KsString(value);
    }
    return map;
}

bool neverReadable(const std::string&) {
    return false;
}
bool onlyBReadable(const std::string& path) {
    return path == "/b";
}

struct Free {
    void operator()(mailbroker_result* r) const { mailbroker_result_free(r); }
};
using Result = std::unique_ptr<mailbroker_result, Free>;

Result read(const std::string& command, const ParamMap& values,
            const std::vector<std::string>& sent = {},
            bool (*readable)(const std::string&) = neverReadable) {
    return Result(new mailbroker_result(readResult(command, values, sent, readable)));
}

TEST(Result, SendMailThatComposedAMessage) {
    Result r = read("SendMail", params({{"error", "0"}, {"result", "1"}}), {"/a"});
    EXPECT_STREQ(mailbroker_result_command(r.get()), "SendMail");
    EXPECT_EQ(mailbroker_result_status(r.get()), 0);
    EXPECT_STREQ(mailbroker_result_status_name(r.get()), "SUCCESS_SUCCESS");
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 1);
    EXPECT_EQ(mailbroker_result_result(r.get()), 1);
    EXPECT_STREQ(mailbroker_result_message(r.get()), "");
    EXPECT_EQ(mailbroker_result_failed_attachment_count(r.get()), 0u);
    EXPECT_EQ(mailbroker_result_failed_attachment(r.get(), 0), nullptr);
    EXPECT_EQ(mailbroker_result_display_name(r.get()), nullptr);
    EXPECT_STREQ(mailbroker_result_value(r.get(), "result"), "1");
    EXPECT_EQ(mailbroker_result_value(r.get(), "to"), nullptr);
}

TEST(Result, AnAttachmentTheBrokerCouldNotReadIsNamed) {
    Result one = read("SendMail", params({{"error", "-2147221233"}, {"result", "0"}}), {"/x/y.pdf"});
    EXPECT_STREQ(mailbroker_result_status_name(one.get()), "MAPI_E_NOT_FOUND");
    EXPECT_EQ(mailbroker_result_status(one.get()), static_cast<int32_t>(0x8004010Fu));
    EXPECT_EQ(mailbroker_result_succeeded(one.get()), 0);
    EXPECT_EQ(mailbroker_result_result(one.get()), 0);
    ASSERT_EQ(mailbroker_result_failed_attachment_count(one.get()), 1u);
    EXPECT_STREQ(mailbroker_result_failed_attachment(one.get(), 0), "/x/y.pdf");
    EXPECT_STREQ(mailbroker_result_message(one.get()),
                 "SendMail failed: MAPI_E_NOT_FOUND (0x8004010F): attachment /x/y.pdf cannot be "
                 "read");
    // Of several, those that cannot be read now.
    Result some = read("SendMail", params({{"error", "-2147024891"}, {"result", "0"}}),
                       {"/a", "/b", "/c"}, onlyBReadable);
    ASSERT_EQ(mailbroker_result_failed_attachment_count(some.get()), 2u);
    EXPECT_STREQ(mailbroker_result_failed_attachment(some.get(), 0), "/a");
    EXPECT_STREQ(mailbroker_result_failed_attachment(some.get(), 1), "/c");
    // Another failure names no file.
    Result other = read("SendMail", params({{"error", "-2147221229"}, {"result", "0"}}), {"/a"});
    EXPECT_STREQ(mailbroker_result_status_name(other.get()), "MAPI_E_USER_CANCEL");
    EXPECT_EQ(mailbroker_result_failed_attachment_count(other.get()), 0u);
}

TEST(Result, NothingComposedIsAFailureEvenWithStatusZero) {
    Result r = read("SendMail", params({{"error", "0"}, {"result", "0"}}));
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 0);
    EXPECT_NE(std::string(mailbroker_result_message(r.get())).find("no message was composed"),
              std::string::npos);
}

TEST(Result, AddressesPerWell) {
    Result r = read("OutlookGetAddrs",
                    params({{"error", "0"}, {"to", "ann@example.org;bob@example.org"},
                            {"bcc", ""}}));
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 1);
    EXPECT_EQ(mailbroker_result_result(r.get()), -1);
    ASSERT_EQ(mailbroker_result_address_count(r.get(), MAILBROKER_TO), 2u);
    EXPECT_STREQ(mailbroker_result_address(r.get(), MAILBROKER_TO, 0), "ann@example.org");
    EXPECT_STREQ(mailbroker_result_address(r.get(), MAILBROKER_TO, 1), "bob@example.org");
    EXPECT_EQ(mailbroker_result_address(r.get(), MAILBROKER_TO, 2), nullptr);
    EXPECT_EQ(mailbroker_result_address_count(r.get(), MAILBROKER_CC), 0u);
    EXPECT_EQ(mailbroker_result_address_count(r.get(), MAILBROKER_BCC), 0u);
    EXPECT_STREQ(mailbroker_result_value(r.get(), "bcc"), "");
    EXPECT_EQ(mailbroker_result_value(r.get(), "cc"), nullptr);
    EXPECT_EQ(mailbroker_result_address_count(r.get(), static_cast<mailbroker_well>(7)), 0u);
    EXPECT_EQ(mailbroker_result_address(r.get(), static_cast<mailbroker_well>(-1), 0), nullptr);
}

TEST(Result, DisplayName) {
    Result r = read("AutoCompleteFileName", params({{"error", "0"}, {"displayName", "Work mail"}}));
    EXPECT_STREQ(mailbroker_result_display_name(r.get()), "Work mail");
    Result none = read("AutoCompleteFileName", params({{"error", "0"}}));
    EXPECT_STREQ(mailbroker_result_display_name(none.get()), "");
}

TEST(Result, CodesWithoutANameAreShownInHex) {
    Result r = read("AutoCompleteFileName", params({{"error", "-2147205115"}}));
    EXPECT_EQ(mailbroker_result_status(r.get()), static_cast<int32_t>(0x80044005u));
    EXPECT_STREQ(mailbroker_result_status_name(r.get()), "0x80044005");
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 0);
}

TEST(Result, AnAnswerWithoutAStatusIsRefused) {
    EXPECT_THROW(read("AutoCompleteFileName", params({{"displayName", "x"}})), ReplyError);
    EXPECT_THROW(read("SendMail", params({{"error", "zero"}})), ReplyError);
    EXPECT_THROW(read("SendMail", params({{"error", "0"}, {"result", "one"}})), ReplyError);
}

TEST(Result, AccessorsOfNoResultGiveNothing) {
    EXPECT_EQ(mailbroker_result_command(nullptr), nullptr);
    EXPECT_EQ(mailbroker_result_status(nullptr), 0);
    EXPECT_EQ(mailbroker_result_status_name(nullptr), nullptr);
    EXPECT_EQ(mailbroker_result_succeeded(nullptr), 0);
    EXPECT_EQ(mailbroker_result_result(nullptr), -1);
    EXPECT_EQ(mailbroker_result_message(nullptr), nullptr);
    EXPECT_EQ(mailbroker_result_address_count(nullptr, MAILBROKER_TO), 0u);
    EXPECT_EQ(mailbroker_result_address(nullptr, MAILBROKER_TO, 0), nullptr);
    EXPECT_EQ(mailbroker_result_display_name(nullptr), nullptr);
    EXPECT_EQ(mailbroker_result_failed_attachment_count(nullptr), 0u);
    EXPECT_EQ(mailbroker_result_failed_attachment(nullptr, 0), nullptr);
    EXPECT_EQ(mailbroker_result_value(nullptr, "error"), nullptr);
}

}  // namespace
