// SPDX-License-Identifier: MIT
// SendMail end to end: a host's request through a real Broker into the real
// provider's Outbox, each message read back by the independent parser.
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>

#include "tests/support/provider_install.h"

using namespace mbtest;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kReplyMs = 30000;
// For a request whose work grows with its size: ends it must, but a loaded
// machine under the sanitizers may take a while.
constexpr uint32_t kSlowReplyMs = 300000;
constexpr const char* kNotFound = "-2147221233";  // MAPI_E_NOT_FOUND
constexpr const char* kNoAccess = "-2147024891";  // MAPI_E_NO_ACCESS
constexpr const char* kCards =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Example\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n";

class SendMail : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string cards = install_.writeFile("cards.vcf", kCards);
        install_.writeProfiles("[profile Default]\ndefault = true\nsender_address = me@example.org\n"
                               "address_books = " + cards + "\n" + extraProfileLines());
    }
    virtual std::string extraProfileLines() const { return ""; }

    std::string request(const std::string& text, uint32_t replyMs = kReplyMs) {
        BrokerHost broker = install_.start();
        BrokerConnection c = broker.connect();
        return fields(c.request(text, replyMs));
    }
    // The one message in the Outbox, described; "" when there is not exactly one.
    std::string outboxMessage() const {
        const std::vector<std::string> files = install_.messages("Outbox/new");
        return files.size() == 1 ? describeMessage(files[0]) : "";
    }

    ProviderInstall install_;
};

TEST_F(SendMail, SilentMessageCarriesEverythingTheHostSent) {
    const std::string a = install_.writeFile("docs/report.pdf", std::string("%PDF\0\x01\xff", 7));
    const std::string b = install_.writeFile("docs/notes.txt", std::string(10000, 'n'));
    EXPECT_EQ(request("SendMail?silent=1&to=Ann%20Example%3Bbob%40example.org&cc=carl%40example."
                      "org&bcc=dora%40example.org&subject=Report%20%E2%82%AC&message=Hello%0AWorld"
                      "&attachment=" + a + "%3B" + b),
              "error=0;result=1;");
    EXPECT_EQ(outboxMessage(), "subject=Report \xE2\x82\xAC\nbody=Hello\nWorld\n"
                               "to=ann@example.org,bob@example.org\ncc=carl@example.org\n"
                               "bcc=dora@example.org\n"
                               "attachment=report.pdf 7 " + sha256Of(a) + "\n"
                               "attachment=notes.txt 10000 " + sha256Of(b) + "\n"
                               "x:X-Mailbroker-Sent-Folder=Sent Items\n"
                               "x:X-Mailbroker-Submitted=yes\n");
}

TEST_F(SendMail, QuotedNameWithACommaIsOneRecipient) {
    EXPECT_EQ(request("SendMail?silent=1&subject=x&to=%22Doe%2C%20John%22%20%3Cjd%40example.org%3E"
                      "%2C%20Ann%20Example"),
              "error=0;result=1;");
    EXPECT_NE(outboxMessage().find("to=jd@example.org,ann@example.org\n"), std::string::npos)
        << outboxMessage();
    const std::vector<std::string> files = install_.messages("Outbox/new");
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0], std::ios::binary);
    const std::string filed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(filed.find("\"Doe, John\" <jd@example.org>"), std::string::npos) << filed;
}

TEST_F(SendMail, RunsOfSeparatorsGiveExactlyOneAttachment) {
    const std::string a = install_.writeFile("some/dir/a.txt", "alpha");
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&attachment=%3B%3B" + a + "%3B%3B"),
              "error=0;result=1;");
    const std::string message = outboxMessage();
    EXPECT_NE(message.find("attachment=a.txt 5 " + sha256Of(a) + "\n"), std::string::npos)
        << message;
    EXPECT_EQ(message.find("attachment=", message.find("attachment=") + 1), std::string::npos);
}

// A silent message leaves without anyone seeing it: a file it should carry
// that cannot be read fails the request, and nothing is filed or sent.
// On POSIX a '\\' belongs to the file name; only '/' separates.
TEST_F(SendMail, AttachmentNameKeepsABackslash) {
    const std::string a = install_.writeFile("some/dir/back\\slash.txt", "alpha");
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&attachment=" + a),
              "error=0;result=1;");
    const std::string message = outboxMessage();
    EXPECT_NE(message.find("attachment=back\\slash.txt 5 " + sha256Of(a) + "\n"),
              std::string::npos)
        << message;
}

TEST_F(SendMail, SilentMessageWithAFileThatCannotBeReadIsNotSent) {
    const std::string root = install_.root();
    fs::create_directories(root + "/folder");
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
    fs::create_symlink(root + "/gone", root + "/dangling");
    fs::create_symlink(root + "/loop-b", root + "/loop-a");
    fs::create_symlink(root + "/loop-a", root + "/loop-b");
    const std::string good = install_.writeFile("good.txt", "good");
    const std::pair<std::string, const char*> cases[] = {
        {root + "/missing.txt", kNotFound},  {root + "/no-folder/x.pdf", kNotFound},
        {root + "/dangling", kNotFound},     {root + "/loop-a", kNotFound},
        {root + "/folder", kNoAccess},       {root + "/fifo", kNoAccess},
        {"/dev/zero", kNoAccess},            {"/proc/self/mem", kNoAccess},
        {"/proc/self/status", kNoAccess},    {"/dev/stdin", kNoAccess},
    };
    for (const auto& [path, error] : cases) {
        // The readable file first: one bad file among good ones is enough.
        EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&attachment=" + good + "%3B" +
                          path),
                  std::string("error=") + error + ";result=0;")
            << path;
    }
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
    EXPECT_TRUE(install_.messages("Sent Items/new").empty());
}

// In the compose window the person sees the attachment without data and can
// act on it, so those files still give the message.
TEST_F(SendMail, ComposeWindowKeepsFilesThatCannotBeReadAsAttachmentsWithoutData) {
    const std::string dir = install_.root() + "/folder";
    fs::create_directories(dir);
    const std::string fifo = install_.root() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = install_.root() + "/missing.txt";
    EXPECT_EQ(request("SendMail?to=ann%40example.org&attachment=" + missing + "%3B" + dir +
                      "%3B%2Fdev%2Fzero%3B" + fifo),
              "error=0;result=1;");
    const std::string empty = " 0 " + sha256Of("/dev/null") + "\n";
    const std::vector<std::string> drafts = install_.messages("Drafts/new");
    ASSERT_EQ(drafts.size(), 1u);
    const std::string message = describeMessage(drafts[0]);
    for (const char* name : {"missing.txt", "folder", "zero", "fifo"}) {
        EXPECT_NE(message.find(std::string("attachment=") + name + empty), std::string::npos)
            << name << " in " << message;
    }
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
}

TEST_F(SendMail, UnreadableFileGivesAnAttachmentWithoutData) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    const std::string secret = install_.writeFile("secret.txt", "secret");
    ASSERT_EQ(::chmod(secret.c_str(), 0), 0);
    // Silent: the request fails and nothing is filed.
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&attachment=" + secret),
              std::string("error=") + kNoAccess + ";result=0;");
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    // The compose window: the attachment is there, without data.
    EXPECT_EQ(request("SendMail?to=ann%40example.org&attachment=" + secret), "error=0;result=1;");
    const std::vector<std::string> drafts = install_.messages("Drafts/new");
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_NE(describeMessage(drafts[0]).find("attachment=secret.txt 0 "), std::string::npos);
}

TEST_F(SendMail, WithoutRecipientsNothingIsComposed) {
    // Unknown names: the silent attempt fails, the dialog it falls back to is cancelled.
    EXPECT_EQ(request("SendMail?silent=1&to=nobody%20known&subject=x"),
              "error=-2147221229;result=0;");
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
}

TEST_F(SendMail, OneOffThatIsNoAddressFailsTheRequestAndFilesNothing) {
    // A CR is no separator: the text is one recipient, and not an address.
    for (const std::string to : {"mal%40example.org%0DEvil%20%3Cevil%40example.net%3E",
                                 "Evil%20%3Cevil%40example.net%0A%3E", "a..b%40example.org",
                                 "ann%40example.org%3BBad%20%3Cno%20at%20all%3E"}) {
        EXPECT_EQ(request("SendMail?silent=1&subject=x&to=" + to),
                  "error=-2147024809;result=0;")  // MAPI_E_INVALID_PARAMETER
            << to;
        EXPECT_TRUE(install_.messages("Outbox/new").empty());
        EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
    }
}

TEST_F(SendMail, AddressTooLongForSmtpFailsTheRequestAndFilesNothing) {
    const std::string tooLong = "error=-2147221243;result=0;";  // MAPI_E_STRING_TOO_LONG
    for (const std::string& address :
         {std::string(200000, 'a') + "%40example.org", std::string(3000, 'a') + "%40example.org",
          std::string(65, 'l') + "%40example.org",
          "Long%20%3Cann%40" + std::string(250, 'd') + ".org%3E"}) {
        EXPECT_EQ(request("SendMail?silent=1&subject=x&to=ann%40example.org&cc=" + address),
                  tooLong);
        EXPECT_TRUE(install_.messages("Outbox/new").empty());
    }
    // At the limits: a 64-octet local part, a 254-octet address.
    EXPECT_EQ(request("SendMail?silent=1&subject=x&to=" + std::string(64, 'l') + "%40" +
                      std::string(254 - 65 - 4, 'd') + ".org"),
              "error=0;result=1;");
}

TEST_F(SendMail, SubjectOver16KiBOrHeaderOver512KiBFailsTheRequestAndFilesNothing) {
    const std::string tooBig = "error=-2147220731;result=0;";  // MAPI_E_TOO_BIG
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&subject=" +
                      std::string(16 * 1024 + 1, 's')),
              tooBig);
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&subject=" +
                      std::string(4 << 20, 's')),
              tooBig);
    // 400 recipients named in 1,400 octets each: every one within its
    // limits, the header block not.
    std::string many;
    for (int i = 0; i < 400; ++i) {
        many += std::string(1400, 'n') + "%20%3Cr" + std::to_string(i) + "%40example.org%3E%3B";
    }
    EXPECT_EQ(request("SendMail?silent=1&subject=x&to=" + many), tooBig);
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&subject=" +
                      std::string(16 * 1024, 's')),
              "error=0;result=1;");
}

TEST_F(SendMail, NoHeaderLineReaches998Octets) {
    const std::string longName = "Long%20" + std::string(1500, 'N');
    const std::string longAddress = std::string(64, 'l') + "%40" + std::string(254 - 65 - 4, 'd') +
                                    ".org";
    std::string umlauts;
    for (int i = 0; i < 2000; ++i) {
        umlauts += "%C3%A4";
    }
    for (const std::string& query :
         {"subject=" + std::string(16 * 1024, 's') + "&to=ann%40example.org",
          "subject=" + umlauts + "&to=ann%40example.org",
          "subject=x&to=" + longAddress + "&cc=" + longName + "%20%3C" + longAddress + "%3E"}) {
        ASSERT_EQ(request("SendMail?silent=1&" + query), "error=0;result=1;");
        const std::vector<std::string> files = install_.messages("Outbox/new");
        ASSERT_EQ(files.size(), 1u);
        std::ifstream in(files[0], std::ios::binary);
        std::string line;
        std::size_t lines = 0, bytes = 0;
        while (std::getline(in, line) && !line.empty() && line != "\r") {
            EXPECT_LT(line.size(), 998u) << line.substr(0, 60);
            ++lines;
            bytes += line.size();
        }
        // The long text is in the header block, folded over several lines.
        EXPECT_GT(bytes, 1500u);
        EXPECT_GT(lines, 8u);
        in.close();
        std::filesystem::remove(files[0]);
    }
}

// A hang would end in the request's reply time-out; how long a loaded machine
// takes is not judged here.
TEST_F(SendMail, OnlySeparatorsOrAMegabyteOfCommasGiveAMessageWithoutRecipients) {
    const std::string commas(1 << 20, ',');
    for (const std::string& to : {std::string("%2C%3B%0A%3B%2C"), commas}) {
        EXPECT_EQ(request("SendMail?silent=1&subject=x&to=" + to), "error=0;result=1;");
        const std::string message = outboxMessage();
        EXPECT_NE(message.find("subject=x\nbody=\nto=\ncc=\nbcc=\n"), std::string::npos)
            << message;
        for (const std::string& file : install_.messages("Outbox/new")) {
            std::filesystem::remove(file);
        }
    }
}

TEST_F(SendMail, EscapedNulEndsTheRecipientText) {
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org%00bob%40example.org&subject=a%00b"),
              "error=0;result=1;");
    const std::string message = outboxMessage();
    EXPECT_NE(message.find("to=ann@example.org\n"), std::string::npos) << message;
}

std::string attachmentList(const std::string& file, int count) {
    std::string list;
    for (int i = 0; i < count; ++i) {
        list += (i ? "%3B" : "") + file;
    }
    return list;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) {
        ++count;
    }
    return count;
}

TEST_F(SendMail, LongAttachmentListGrowsTheWorkingBuffer) {
    const std::string file = install_.writeFile("a-folder-with-a-longer-name/x.txt", "xyz");
    const std::string list = attachmentList(file, 2000);
    ASSERT_GT(list.size(), 52200u * 2);
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&attachment=" + list),
              "error=0;result=1;");
    EXPECT_EQ(countOf(outboxMessage(), "attachment=x.txt 3 "), 2000u);
}

// How long it takes is the benchmarks' business (it is a second or two, ten
// times that under the sanitizers on a busy machine); here it must end, with
// the whole message.
TEST_F(SendMail, TenThousandAttachmentsEndWithAClearOutcome) {
    const std::string file = install_.writeFile("f/x.txt", "xyz");
    const std::string reply =
        request("SendMail?silent=1&to=ann%40example.org&attachment=" + attachmentList(file, 10000),
                kSlowReplyMs);
    EXPECT_EQ(reply, "error=0;result=1;");
    const std::vector<std::string> files = install_.messages("Outbox/new");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LT(std::filesystem::file_size(files[0]), 10u << 20);
    // The independent parser needs minutes for 10,000 parts; the parts are
    // counted in the raw text, and the 2,000-part message above is parsed.
    std::ifstream in(files[0], std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(countOf(raw, "filename=x.txt\n"), 10000u);
    EXPECT_EQ(countOf(raw, "\neHl6\n"), 10000u);  // "xyz" in base64
    EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
}

// A message that cannot even be queued must not be answered as sent: the
// Broker's file size limit lets the attachment's data in (60,000 bytes) but not
// the rendered message (its base64 alone is 80,000).
TEST_F(SendMail, SubmissionThatCannotQueueTheMessageIsReported) {
    const std::string a = install_.writeFile("big.bin", std::string(60000, 'b'));
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 65536;
    // The Broker inherits both: an ignored SIGXFSZ turns the limit into EFBIG.
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::optional<BrokerHost> broker;
    try {
        broker.emplace(install_.start());
    } catch (...) {
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(broker.has_value());
    BrokerConnection c = broker->connect();
    EXPECT_EQ(fields(c.request("SendMail?silent=1&to=ann%40example.org&attachment=" + a, kReplyMs)),
              "error=-2147221235;result=1;");  // MAPI_E_NOT_ENOUGH_DISK
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
}

TEST_F(SendMail, ComposeWindowLeavesTheMessageInDrafts) {
    EXPECT_EQ(request("SendMail?to=ann%40example.org&subject=Draft"), "error=0;result=1;");
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    const std::vector<std::string> drafts = install_.messages("Drafts/new");
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_NE(describeMessage(drafts[0]).find("subject=Draft\n"), std::string::npos);
}

TEST_F(SendMail, CancelledComposeWindowIsReportedThoughComposed) {
    install_.writeUiScript("form cancel\n");
    EXPECT_EQ(request("SendMail?to=ann%40example.org&subject=Draft"),
              "error=-2147221229;result=1;");
}

class NarrowStore : public SendMail {
  protected:
    std::string extraProfileLines() const override { return "reject_unicode = true\n"; }
};

TEST_F(NarrowStore, TextsFallBackToTheirUtf8Bytes) {
    const std::string a = install_.writeFile("d/plain.txt", "data");
    EXPECT_EQ(request("SendMail?silent=1&to=ann%40example.org&subject=Gr%C3%BC%C3%9Fe"
                      "&message=K%C3%A4se&attachment=" + a),
              "error=0;result=1;");
    const std::string message = outboxMessage();
    EXPECT_NE(message.find("subject=Gr\xC3\xBC\xC3\x9F" "e\nbody=K\xC3\xA4se\n"), std::string::npos)
        << message;
    EXPECT_NE(message.find("attachment=plain.txt 4 "), std::string::npos) << message;
}

}  // namespace
