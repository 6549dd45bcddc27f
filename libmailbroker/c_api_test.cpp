// SPDX-License-Identifier: MIT
// The C interface without a Broker: what it refuses, and how it says so.
#include <mailbroker/mailbroker.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

class Handle {
  public:
    Handle() : mb_(mailbroker_new()) {}
    ~Handle() { mailbroker_close(mb_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    mailbroker* get() const { return mb_; }
    std::string message() const { return mailbroker_last_error_message(mb_); }

  private:
    mailbroker* mb_;
};

const char* const kAnn[] = {"ann@example.org", nullptr};

TEST(CApi, NullHandleIsRefusedByEveryCall) {
    mailbroker_result* result = reinterpret_cast<mailbroker_result*>(0x1);
    EXPECT_EQ(mailbroker_start(nullptr, "/bin/true"), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(mailbroker_connect(nullptr, "x"), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(mailbroker_set_timeout(nullptr, 10), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(mailbroker_last_error(nullptr), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_STREQ(mailbroker_last_error_message(nullptr), "the mailbroker handle is NULL");
    EXPECT_EQ(mailbroker_pipe_name(nullptr), nullptr);
    EXPECT_EQ(mailbroker_send_mail(nullptr, kAnn, nullptr, nullptr, "s", "b", nullptr,
                                   MAILBROKER_SEND_SILENT, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(result, nullptr);  // cleared, so that a caller's free is safe
    result = reinterpret_cast<mailbroker_result*>(0x1);
    EXPECT_EQ(mailbroker_get_addrs(nullptr, kAnn, nullptr, nullptr, 0, nullptr, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(mailbroker_auto_complete_file_name(nullptr, &result), MAILBROKER_E_INVALID_ARGUMENT);
    mailbroker_close(nullptr);
    mailbroker_result_free(nullptr);
}

TEST(CApi, NullPointersAndEmptyEntriesAreInvalidArguments) {
    Handle h;
    EXPECT_EQ(mailbroker_send_mail(h.get(), kAnn, nullptr, nullptr, "s", "b", nullptr, 0, 0,
                                   nullptr),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(mailbroker_last_error(h.get()), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "the result pointer is NULL");
    EXPECT_EQ(mailbroker_connect(h.get(), nullptr), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "the pipe name is NULL");
    EXPECT_EQ(mailbroker_connect(h.get(), ""), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "the pipe name is empty");
    EXPECT_EQ(mailbroker_start(h.get(), ""), MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "the Broker path is empty");

    mailbroker_result* result = nullptr;
    const char* const emptyEntry[] = {"ann@example.org", "", nullptr};
    EXPECT_EQ(mailbroker_send_mail(h.get(), emptyEntry, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, 0, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "SendMail: to recipient 2 is empty");
    const char* const emptyPath[] = {"", nullptr};
    EXPECT_EQ(mailbroker_send_mail(h.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   emptyPath, 0, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "SendMail: an attachment path is empty");
    const char* const semicolon[] = {"/tmp/a;b.pdf", nullptr};
    EXPECT_EQ(mailbroker_send_mail(h.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   semicolon, 0, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_NE(h.message().find("cannot attach /tmp/a;b.pdf: the request separates"),
              std::string::npos)
        << h.message();
    const char* const emptyCc[] = {"", nullptr};
    EXPECT_EQ(mailbroker_get_addrs(h.get(), nullptr, emptyCc, nullptr, 0, nullptr, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "OutlookGetAddrs: cc recipient 1 is empty");
    EXPECT_EQ(result, nullptr);
}

TEST(CApi, TextTheRequestCannotCarryIsRefused) {
    Handle h;
    mailbroker_result* result = nullptr;
    EXPECT_EQ(mailbroker_send_mail(h.get(), kAnn, nullptr, nullptr, "caf\xe9", nullptr, nullptr,
                                   0, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "SendMail: the subject is not UTF-8 text");
    const char* const latin1[] = {"Jos\xe9", nullptr};
    EXPECT_EQ(mailbroker_get_addrs(h.get(), latin1, nullptr, nullptr, 0, nullptr, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "OutlookGetAddrs: to recipients is not UTF-8 text");
    EXPECT_EQ(mailbroker_send_mail(h.get(), kAnn, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   0x4, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "SendMail: unknown flags 4");
    EXPECT_EQ(mailbroker_get_addrs(h.get(), kAnn, nullptr, nullptr, 0, nullptr, 0x80000000u,
                                   &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.message(), "OutlookGetAddrs: the parent window must be at most 2147483647");
    // No well and no dialog: nothing to ask the Broker.
    EXPECT_EQ(mailbroker_get_addrs(h.get(), nullptr, nullptr, nullptr, 0, nullptr, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
    EXPECT_NE(h.message().find("nothing to resolve"), std::string::npos) << h.message();
    // '%' takes three bytes escaped: a 23 MiB subject makes a 69 MiB request.
    const std::string huge(23u << 20, '%');
    EXPECT_EQ(mailbroker_send_mail(h.get(), kAnn, nullptr, nullptr, huge.c_str(), nullptr,
                                   nullptr, 0, 0, &result),
              MAILBROKER_E_TOO_LARGE);
    EXPECT_NE(h.message().find("more than the 64 MiB a Broker takes"), std::string::npos);
    EXPECT_EQ(result, nullptr);
}

TEST(CApi, ARequestBeforeStartIsAStateError) {
    Handle h;
    mailbroker_result* result = nullptr;
    EXPECT_EQ(mailbroker_auto_complete_file_name(h.get(), &result), MAILBROKER_E_STATE);
    EXPECT_NE(h.message().find("neither started nor connected"), std::string::npos);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(mailbroker_pipe_name(h.get()), nullptr);
    // The arguments are checked first: a bad one is named even before start.
    const char* const empty[] = {"", nullptr};
    EXPECT_EQ(mailbroker_get_addrs(h.get(), empty, nullptr, nullptr, 0, nullptr, 0, &result),
              MAILBROKER_E_INVALID_ARGUMENT);
}

TEST(CApi, ABrokerThatDoesNotExistIsAnErrorCode) {
    Handle h;
    EXPECT_EQ(mailbroker_start(h.get(), "/nonexistent/mailbroker"), MAILBROKER_E_START_FAILED);
    EXPECT_NE(h.message().find("/nonexistent/mailbroker"), std::string::npos) << h.message();
    EXPECT_EQ(mailbroker_pipe_name(h.get()), nullptr);
    mailbroker_result* result = nullptr;
    EXPECT_EQ(mailbroker_auto_complete_file_name(h.get(), &result), MAILBROKER_E_STATE);
}

TEST(CApi, AProgramThatIsNoBrokerIsAnErrorCode) {
    Handle directory;
    EXPECT_EQ(mailbroker_start(directory.get(), "/"), MAILBROKER_E_START_FAILED);
    EXPECT_NE(directory.message().find("/"), std::string::npos);
    // Runs, but ends without ever serving a pipe.
    Handle quitter;
    EXPECT_EQ(mailbroker_start(quitter.get(), "/bin/true"), MAILBROKER_E_START_FAILED);
    EXPECT_NE(quitter.message().find("without serving pipe"), std::string::npos)
        << quitter.message();
    EXPECT_EQ(mailbroker_pipe_name(quitter.get()), nullptr);
}

TEST(CApi, TheEnvironmentNamesTheBrokerWhenTheCallerDoesNot) {
    ASSERT_EQ(::setenv("MAILBROKER_BROKER", "/nonexistent/from-environment", 1), 0);
    Handle h;
    EXPECT_EQ(mailbroker_start(h.get(), nullptr), MAILBROKER_E_START_FAILED);
    EXPECT_NE(h.message().find("/nonexistent/from-environment"), std::string::npos)
        << h.message();
    // An empty variable counts as unset: the installed path is tried.
    ASSERT_EQ(::setenv("MAILBROKER_BROKER", "", 1), 0);
    mailbroker_error code = mailbroker_start(h.get(), nullptr);
    if (code != MAILBROKER_OK) {
        EXPECT_NE(h.message().find("/lib/mailbroker/mailbroker"), std::string::npos)
            << h.message();
    }
    ::unsetenv("MAILBROKER_BROKER");
}

TEST(CApi, APipeNobodyServesIsNotFound) {
    Handle h;
    EXPECT_EQ(mailbroker_connect(h.get(), "mailbroker-test-nobody-serves-this"),
              MAILBROKER_E_NOT_FOUND);
    EXPECT_NE(h.message().find("no pipe"), std::string::npos) << h.message();
}

TEST(CApi, ErrorsArePerThreadAndASuccessClearsThem) {
    Handle h;
    mailbroker_result* result = nullptr;
    EXPECT_EQ(mailbroker_auto_complete_file_name(h.get(), &result), MAILBROKER_E_STATE);
    std::string other;
    mailbroker_error otherCode = MAILBROKER_E_INTERNAL;
    std::thread([&] {
        otherCode = mailbroker_last_error(h.get());
        other = mailbroker_last_error_message(h.get());
    }).join();
    EXPECT_EQ(otherCode, MAILBROKER_OK);
    EXPECT_EQ(other, "");
    EXPECT_EQ(mailbroker_last_error(h.get()), MAILBROKER_E_STATE);
    EXPECT_EQ(mailbroker_set_timeout(h.get(), 1000), MAILBROKER_OK);
    EXPECT_EQ(mailbroker_last_error(h.get()), MAILBROKER_OK);
    EXPECT_EQ(h.message(), "");
}

TEST(CApi, NamesOfErrorsAndStatuses) {
    EXPECT_STREQ(mailbroker_error_name(MAILBROKER_OK), "MAILBROKER_OK");
    EXPECT_STREQ(mailbroker_error_name(MAILBROKER_E_TIMEOUT), "MAILBROKER_E_TIMEOUT");
    EXPECT_STREQ(mailbroker_error_name(MAILBROKER_E_INTERNAL), "MAILBROKER_E_INTERNAL");
    EXPECT_STREQ(mailbroker_error_name(static_cast<mailbroker_error>(99)), "MAILBROKER_E_UNKNOWN");
    for (int code = MAILBROKER_OK; code <= MAILBROKER_E_INTERNAL; ++code) {
        EXPECT_STRNE(mailbroker_error_name(static_cast<mailbroker_error>(code)),
                     "MAILBROKER_E_UNKNOWN")
            << code;
    }
    EXPECT_STREQ(mailbroker_status_name(0), "SUCCESS_SUCCESS");
    EXPECT_STREQ(mailbroker_status_name(static_cast<int32_t>(0x80040113u)), "MAPI_E_USER_CANCEL");
    EXPECT_STREQ(mailbroker_status_name(static_cast<int32_t>(0x8004010Fu)), "MAPI_E_NOT_FOUND");
    EXPECT_STREQ(mailbroker_status_name(static_cast<int32_t>(0x80070005u)), "MAPI_E_NO_ACCESS");
    EXPECT_STREQ(mailbroker_status_name(0x00040380), "MAPI_W_ERRORS_RETURNED");
    EXPECT_EQ(mailbroker_status_name(static_cast<int32_t>(0x80044005u)), nullptr);
}

TEST(CApi, VersionMatchesTheHeader) {
    EXPECT_EQ(std::string(mailbroker_version()),
              std::to_string(MAILBROKER_VERSION_MAJOR) + "." +
                  std::to_string(MAILBROKER_VERSION_MINOR) + "." +
                  std::to_string(MAILBROKER_VERSION_PATCH));
}

}  // namespace
