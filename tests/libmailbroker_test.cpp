// SPDX-License-Identifier: MIT
// libmailbroker.so as a host uses it: the shared library starts a real Broker
// with the real provider (or the MAPI double, for the tests of threads), and
// messages go out to a loopback SMTP server.
#include <mailbroker/mailbroker.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "provider/contacts/directory_test_support.h"
#include "provider/transport/smtp_test_support.h"
#include "tests/support/provider_install.h"

using namespace mbtest;
using mb::provider::test::card;
using mb::provider::test::group;
using mb::provider::test::SmtpServer;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct CloseHandle {
    void operator()(mailbroker* mb) const { mailbroker_close(mb); }
};
using Handle = std::unique_ptr<mailbroker, CloseHandle>;
struct FreeResult {
    void operator()(mailbroker_result* r) const { mailbroker_result_free(r); }
};
using Result = std::unique_ptr<mailbroker_result, FreeResult>;

// The Broker the library starts inherits this process's environment, so the
// provider's folders are set here, one test per process as ctest runs them.
void useInstall(const ProviderInstall& install) {
    ::setenv("XDG_CONFIG_HOME", install.configDir().c_str(), 1);
    ::setenv("XDG_DATA_HOME", install.dataDir().c_str(), 1);
    ::setenv("XDG_STATE_HOME", (install.root() + "/state").c_str(), 1);
    ::setenv("MAILBROKER_UI_SCRIPT", (install.root() + "/ui.script").c_str(), 1);
    ::setenv("MAILBROKER_PROVIDER_LOG", (install.root() + "/provider.log").c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
}

Handle started(const std::string& brokerPath) {
    Handle mb(mailbroker_new());
    const mailbroker_error e = mailbroker_start(mb.get(), brokerPath.c_str());
    EXPECT_EQ(e, MAILBROKER_OK) << mailbroker_last_error_message(mb.get());
    return mb;
}

std::vector<std::string> addresses(const mailbroker_result* r, mailbroker_well well) {
    std::vector<std::string> list;
    for (size_t i = 0; i < mailbroker_result_address_count(r, well); ++i) {
        list.emplace_back(mailbroker_result_address(r, well, i));
    }
    return list;
}

class LibraryMail : public ::testing::Test {
  protected:
    void SetUp() override { useInstall(install_); }
    std::string broker() const { return install_.root() + "/bin/mailbroker"; }

    ProviderInstall install_;
};

TEST_F(LibraryMail, SilentSendWithAnAttachmentReachesTheServer) {
    SmtpServer server(install_.root() + "/smtp", "accept");
    install_.writeProfiles("[profile Default]\ndefault = true\nsender_address = me@example.org\n"
                           "timeout = 10\ntransport = " + server.url() + "\n");
    std::string blob(40000, '\0');
    for (size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<char>((i * 31 + i / 257) % 256);
    }
    const std::string file = install_.writeFile("docs/report.bin", blob);
    Handle mb = started(broker());
    const char* const to[] = {"ann@example.org", "Bob <bob@example.org>", nullptr};
    const char* const cc[] = {"carl@example.org", nullptr};
    const char* const files[] = {file.c_str(), nullptr};
    mailbroker_result* raw = nullptr;
    ASSERT_EQ(mailbroker_send_mail(mb.get(), to, cc, nullptr, "Gr\xC3\xBC\xC3\x9F" "e", "Hello",
                                   files, MAILBROKER_SEND_SILENT, 0, &raw),
              MAILBROKER_OK)
        << mailbroker_last_error_message(mb.get());
    Result r(raw);
    EXPECT_STREQ(mailbroker_result_status_name(r.get()), "SUCCESS_SUCCESS");
    EXPECT_EQ(mailbroker_result_status(r.get()), 0);
    EXPECT_EQ(mailbroker_result_result(r.get()), 1);
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 1);
    const std::vector<std::string> received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(describeMessage(received[0] + ".eml"),
              "subject=Gr\xC3\xBC\xC3\x9F" "e\nbody=Hello\n"
              "to=ann@example.org,bob@example.org\ncc=carl@example.org\nbcc=\n"
              "attachment=report.bin 40000 " + sha256Of(file) + "\n");
}

TEST_F(LibraryMail, AMissingAttachmentIsNamedAndNothingIsSent) {
    SmtpServer server(install_.root() + "/smtp", "accept");
    install_.writeProfiles("[profile Default]\ndefault = true\ntransport = " + server.url() + "\n");
    const std::string present = install_.writeFile("docs/here.txt", "here");
    const std::string missing = install_.root() + "/docs/gone.pdf";
    Handle mb = started(broker());
    const char* const to[] = {"ann@example.org", nullptr};
    const char* const files[] = {present.c_str(), missing.c_str(), nullptr};
    mailbroker_result* raw = nullptr;
    ASSERT_EQ(mailbroker_send_mail(mb.get(), to, nullptr, nullptr, "Lost", nullptr, files,
                                   MAILBROKER_SEND_SILENT, 0, &raw),
              MAILBROKER_OK)
        << mailbroker_last_error_message(mb.get());
    Result r(raw);
    EXPECT_STREQ(mailbroker_result_status_name(r.get()), "MAPI_E_NOT_FOUND");
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 0);
    EXPECT_EQ(mailbroker_result_result(r.get()), 0);
    ASSERT_EQ(mailbroker_result_failed_attachment_count(r.get()), 1u);
    EXPECT_EQ(std::string(mailbroker_result_failed_attachment(r.get(), 0)), missing);
    EXPECT_EQ(std::string(mailbroker_result_message(r.get())),
              "SendMail failed: MAPI_E_NOT_FOUND (0x8004010F): attachment " + missing +
                  " cannot be read");
    EXPECT_TRUE(server.received().empty());
}

TEST_F(LibraryMail, AddressesResolveAgainstTheVCardAddressBook) {
    const std::string cards =
        card("FN:Ann Example\r\nEMAIL:ann@example.org\r\n") +
        card("FN:Bob Example\r\nUID:bob\r\nEMAIL:bob@example.org\r\n") +
        group("Team", {"urn:uuid:bob", "mailto:t1@example.org"});
    const std::string path = install_.writeFile("cards.vcf", cards);
    install_.writeProfiles("[profile Default]\ndefault = true\naddress_books = " + path + "\n");
    Handle mb = started(broker());
    const char* const to[] = {"Ann Example", "Team", nullptr};
    const char* const bcc[] = {"someone@example.net", nullptr};
    mailbroker_result* raw = nullptr;
    ASSERT_EQ(mailbroker_get_addrs(mb.get(), to, nullptr, bcc, 0, nullptr, 0, &raw),
              MAILBROKER_OK)
        << mailbroker_last_error_message(mb.get());
    Result r(raw);
    EXPECT_STREQ(mailbroker_result_status_name(r.get()), "SUCCESS_SUCCESS");
    EXPECT_EQ(addresses(r.get(), MAILBROKER_TO),
              (std::vector<std::string>{"ann@example.org", "bob@example.org", "t1@example.org"}));
    EXPECT_EQ(addresses(r.get(), MAILBROKER_CC), std::vector<std::string>{});
    EXPECT_EQ(addresses(r.get(), MAILBROKER_BCC),
              std::vector<std::string>{"someone@example.net"});
    EXPECT_EQ(mailbroker_result_value(r.get(), "cc"), nullptr);
}

TEST_F(LibraryMail, TheDefaultProfilesDisplayName) {
    install_.writeProfiles("[profile Work]\ndisplay_name = Work mail\ndefault = true\n"
                           "transport = none\n");
    Handle mb = started(broker());
    mailbroker_result* raw = nullptr;
    ASSERT_EQ(mailbroker_auto_complete_file_name(mb.get(), &raw), MAILBROKER_OK)
        << mailbroker_last_error_message(mb.get());
    Result r(raw);
    EXPECT_STREQ(mailbroker_result_display_name(r.get()), "Work mail");
    EXPECT_EQ(mailbroker_result_succeeded(r.get()), 1);
    EXPECT_STREQ(mailbroker_result_command(r.get()), "AutoCompleteFileName");
}

TEST_F(LibraryMail, ASecondHandleConnectsToTheFirstOnesBroker) {
    install_.writeProfiles("[profile Work]\ndisplay_name = Work mail\ndefault = true\n"
                           "transport = none\n");
    Handle first = started(broker());
    const char* pipe = mailbroker_pipe_name(first.get());
    ASSERT_NE(pipe, nullptr);
    {
        Handle second(mailbroker_new());
        ASSERT_EQ(mailbroker_connect(second.get(), pipe), MAILBROKER_OK)
            << mailbroker_last_error_message(second.get());
        EXPECT_STREQ(mailbroker_pipe_name(second.get()), pipe);
        EXPECT_EQ(mailbroker_start(second.get(), broker().c_str()), MAILBROKER_E_STATE);
        mailbroker_result* raw = nullptr;
        ASSERT_EQ(mailbroker_auto_complete_file_name(second.get(), &raw), MAILBROKER_OK);
        Result r(raw);
        EXPECT_STREQ(mailbroker_result_display_name(r.get()), "Work mail");
    }
    // Closing a connected handle leaves the Broker serving its starter.
    mailbroker_result* raw = nullptr;
    EXPECT_EQ(mailbroker_auto_complete_file_name(first.get(), &raw), MAILBROKER_OK)
        << mailbroker_last_error_message(first.get());
    mailbroker_result_free(raw);
}

// The double's logon waits while FILE.held exists once FILE is made: a
// request held in the Broker for as long as the test wants, as a dialog would.
class HeldRequest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("MB_MAPI_DOUBLE_HOLD_FILE", file_.c_str(), 1);
        ::unsetenv("MB_MAPI_DOUBLE_LOG");
    }
    void TearDown() override { release(); }
    void arm() { std::ofstream(file_).put('h'); }
    void release() {
        std::error_code ec;
        fs::remove(file_, ec);
        fs::remove(held_, ec);
    }
    bool waitHeld() {
        for (int i = 0; i < 3000; ++i) {
            if (fs::exists(held_)) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    bool held() const { return fs::exists(held_); }

    BrokerInstall install_{Provider::Double};
    std::string file_ = install_.directory() + "/hold";
    std::string held_ = file_ + ".held";
};

TEST_F(HeldRequest, ManyThreadsOnOneHandleAreServedOneAtATime) {
    Handle mb = started(install_.brokerPath());
    constexpr int kThreads = 4;
    constexpr int kRequests = 25;
    std::atomic<int> answered{0};
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRequests; ++i) {
                mailbroker_result* raw = nullptr;
                const mailbroker_error e = mailbroker_auto_complete_file_name(mb.get(), &raw);
                Result r(raw);
                if (e != MAILBROKER_OK) {
                    failures[t] = mailbroker_last_error_message(mb.get());
                    return;
                }
                if (mailbroker_result_display_name(r.get()) != nullptr) {
                    ++answered;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], "") << "thread " << t;
    }
    EXPECT_EQ(answered.load(), kThreads * kRequests);
}

TEST_F(HeldRequest, AThreadWaitsForTheOneBeforeItOnTheSameHandle) {
    Handle mb = started(install_.brokerPath());
    arm();
    std::atomic<int> done{0};
    mailbroker_error first = MAILBROKER_E_INTERNAL, second = MAILBROKER_E_INTERNAL;
    std::thread a([&] {
        mailbroker_result* raw = nullptr;
        first = mailbroker_auto_complete_file_name(mb.get(), &raw);
        mailbroker_result_free(raw);
        ++done;
    });
    ASSERT_TRUE(waitHeld()) << "the first request was never held";
    std::thread b([&] {
        mailbroker_result* raw = nullptr;
        second = mailbroker_auto_complete_file_name(mb.get(), &raw);
        mailbroker_result_free(raw);
        ++done;
    });
    // What does not send a request does not wait for the held one.
    EXPECT_EQ(mailbroker_set_timeout(mb.get(), 0), MAILBROKER_OK);
    EXPECT_STREQ(mailbroker_last_error_message(mb.get()), "");
    EXPECT_NE(mailbroker_pipe_name(mb.get()), nullptr);
    EXPECT_TRUE(held());
    EXPECT_EQ(done.load(), 0) << "a request ended while the Broker held the first";
    release();
    a.join();
    b.join();
    EXPECT_EQ(first, MAILBROKER_OK);
    EXPECT_EQ(second, MAILBROKER_OK) << mailbroker_last_error_message(mb.get());
}

TEST_F(HeldRequest, AnotherHandleIsServedWhileOneIsHeld) {
    Handle slow = started(install_.brokerPath());
    Handle quick = started(install_.brokerPath());
    arm();
    std::atomic<bool> slowDone{false};
    mailbroker_error slowCode = MAILBROKER_E_INTERNAL;
    std::thread a([&] {
        mailbroker_result* raw = nullptr;
        slowCode = mailbroker_auto_complete_file_name(slow.get(), &raw);
        mailbroker_result_free(raw);
        slowDone = true;
    });
    ASSERT_TRUE(waitHeld()) << "the first request was never held";
    for (int i = 0; i < 3; ++i) {
        mailbroker_result* raw = nullptr;
        EXPECT_EQ(mailbroker_auto_complete_file_name(quick.get(), &raw), MAILBROKER_OK)
            << mailbroker_last_error_message(quick.get());
        mailbroker_result_free(raw);
    }
    EXPECT_TRUE(held());
    EXPECT_FALSE(slowDone.load());
    release();
    a.join();
    EXPECT_EQ(slowCode, MAILBROKER_OK);
}

TEST_F(HeldRequest, ATimeOutIsAnErrorAndTheNextRequestReconnects) {
    Handle mb = started(install_.brokerPath());
    ASSERT_EQ(mailbroker_set_timeout(mb.get(), 300), MAILBROKER_OK);
    arm();
    mailbroker_result* raw = nullptr;
    EXPECT_EQ(mailbroker_auto_complete_file_name(mb.get(), &raw), MAILBROKER_E_TIMEOUT);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(mailbroker_last_error(mb.get()), MAILBROKER_E_TIMEOUT);
    EXPECT_NE(std::string(mailbroker_last_error_message(mb.get())).find("no reply within 300 ms"),
              std::string::npos)
        << mailbroker_last_error_message(mb.get());
    release();
    ASSERT_EQ(mailbroker_set_timeout(mb.get(), 0), MAILBROKER_OK);
    EXPECT_EQ(mailbroker_auto_complete_file_name(mb.get(), &raw), MAILBROKER_OK)
        << mailbroker_last_error_message(mb.get());
    EXPECT_EQ(mailbroker_last_error(mb.get()), MAILBROKER_OK);
    mailbroker_result_free(raw);
}

}  // namespace
