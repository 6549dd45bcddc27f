// SPDX-License-Identifier: MIT
#include "host/command_outcome.h"

#include <gtest/gtest.h>

namespace {

ParamMap reply(std::initializer_list<std::pair<const char*, const char*>> fields) {
    ParamMap values;
    for (const auto& [k, v] : fields) {
        values[KsString(k)] = KsString(v);
    }
    return values;
}

TEST(CommandOutcome, NegativeStatusIsNamed) {
    CommandOutcome o = judgeReply("SendMail", reply({{"error", "-2147221229"}, {"result", "0"}}));
    EXPECT_EQ(o.kind, CommandOutcome::Kind::Failed);
    EXPECT_EQ(o.message, "SendMail failed: MAPI_E_USER_CANCEL (0x80040113)");
    EXPECT_EQ(judgeReply("OutlookGetAddrs", reply({{"error", "-2147467259"}})).message,
              "OutlookGetAddrs failed: MAPI_E_CALL_FAILED (0x80004005)");
    EXPECT_EQ(mapiCodeText(static_cast<int32_t>(0x80041234u)), "0x80041234");
    EXPECT_EQ(mapiCodeText(static_cast<int32_t>(0x80040111u)), "MAPI_E_LOGON_FAILED (0x80040111)");
}

TEST(CommandOutcome, SuccessNeedsAComposedMessageForSendMail) {
    EXPECT_EQ(judgeReply("SendMail", reply({{"error", "0"}, {"result", "1"}})).kind,
              CommandOutcome::Kind::Done);
    EXPECT_EQ(
        judgeReply("AutoCompleteFileName", reply({{"error", "0"}, {"displayName", "x"}})).kind,
        CommandOutcome::Kind::Done);
    CommandOutcome warned = judgeReply("SendMail", reply({{"error", "263040"}, {"result", "0"}}));
    EXPECT_EQ(warned.kind, CommandOutcome::Kind::Failed);
    EXPECT_EQ(warned.message,
              "SendMail failed: no message was composed (result=0, status MAPI_W_ERRORS_RETURNED "
              "(0x00040380))");
}

TEST(CommandOutcome, NotSupportedFailsAndGarbageIsMalformed) {
    EXPECT_EQ(judgeReply("SendMail", reply({{"error", "Not Supported"}})).message,
              "SendMail failed: the Broker does not support it (error=Not Supported)");
    EXPECT_EQ(judgeReply("X", reply({})).kind, CommandOutcome::Kind::Malformed);
    EXPECT_EQ(judgeReply("X", reply({{"error", "12abc"}})).kind, CommandOutcome::Kind::Malformed);
    EXPECT_EQ(judgeReply("X", reply({{"error", "-2147483649"}})).kind,
              CommandOutcome::Kind::Malformed);
    EXPECT_EQ(judgeReply("X", reply({{"error", ""}})).kind, CommandOutcome::Kind::Malformed);
}

}  // namespace
