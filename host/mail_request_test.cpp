// SPDX-License-Identifier: MIT
#include "host/mail_request.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <filesystem>
#include <fstream>

#include "base/temp_dir_test_support.h"

namespace fs = std::filesystem;

namespace {

class MailRequest : public ::testing::Test {
  protected:
    void SetUp() override { write("a.txt", "alpha"); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
        return dir_ + "/" + name;
    }
    std::string send(const std::vector<std::string>& args) { return sendRequest(args, dir_); }
    std::string sendError(const std::vector<std::string>& args) {
        try {
            send(args);
        } catch (const UsageError& e) {
            return e.what();
        }
        return "accepted";
    }

    mb::test::TempDir temp_{"request"};
    std::string dir_ = temp_.path();
};

TEST_F(MailRequest, SendJoinsRepeatedValuesAndEscapesEveryField) {
    std::string request =
        send({"--to", "ann@example.org", "--to", "Bob B", "--cc=c@x.org", "--subject", "Hi & bye",
              "--body", "caf\xc3\xa9", "--silent", "--parent", "7"});
    EXPECT_EQ(request,
              "SendMail?cc=c%40x.org&message=caf%c3%a9&parent=7&silent=1"
              "&subject=Hi%20%26%20bye&to=ann%40example.org%3bBob%20B");
}

TEST_F(MailRequest, AttachmentsBecomeAbsoluteAndJoin) {
    write("b c.pdf", "beta");
    EXPECT_EQ(send({"--attach", "./a.txt", "--attach", dir_ + "/b c.pdf"}),
              "SendMail?attachment=" + dir_ + "/a.txt%3b" + dir_ + "/b%20c.pdf");
    EXPECT_EQ(send({}), "SendMail?");
}

TEST_F(MailRequest, PathsTheProtocolCannotCarryAreRefused) {
    write("x;y.txt", "z");
    EXPECT_NE(
        sendError({"--attach", "x;y.txt"}).find("cannot attach x;y.txt: the request separates"),
        std::string::npos);
    EXPECT_EQ(sendError({"--attach", "missing.txt"}),
              "send: cannot attach missing.txt: No such file or directory");
    EXPECT_EQ(sendError({"--attach", dir_}),
              "send: cannot attach " + dir_ + ": not a regular file");
    EXPECT_EQ(sendError({"--attach", ""}), "send: --attach needs a file, not an empty path");
#ifndef _WIN32  // permissions are ACLs on Windows
    if (::geteuid() != 0) {
        ::chmod((dir_ + "/a.txt").c_str(), 0);
        EXPECT_EQ(sendError({"--attach", "a.txt"}),
                  "send: cannot attach a.txt: the file cannot be read");
    }
#endif
}

TEST_F(MailRequest, BodyFileIsReadAndChecked) {
    std::string body = write("body.txt", "line 1\nline=2\n");
    EXPECT_EQ(send({"--body-file", body}), "SendMail?message=line%201%0aline%3d2%0a");
    EXPECT_EQ(sendError({"--body-file", write("latin1.txt", "caf\xe9")}),
              "send: the body file " + dir_ + "/latin1.txt is not UTF-8 text");
    // Not "nul.txt": Windows takes NUL with any extension for its null device.
    EXPECT_EQ(sendError({"--body-file", write("zero.txt", std::string("a\0b", 3))}),
              "send: the body file " + dir_ + "/zero.txt holds a NUL character");
    EXPECT_EQ(sendError({"--body-file", dir_ + "/none"}),
              "send: cannot read the body file " + dir_ + "/none: No such file or directory");
    EXPECT_EQ(sendError({"--body", "x", "--body-file", body}),
              "send: give --body or --body-file, not both");
    std::string big = write("big.txt", "");
    fs::resize_file(big, kBodyLimit + 1);
    EXPECT_EQ(sendError({"--body-file", big}),
              "send: the body file " + big + " is larger than 16 MiB");
    fs::resize_file(big, kBodyLimit);  // exactly the limit is fine
    EXPECT_EQ(readBodyFile(big).size(), kBodyLimit);
    EXPECT_EQ(sendError({"--body-file", dir_}),
              "send: cannot read the body file " + dir_ + ": not a file");
    EXPECT_EQ(sendError({"--body", std::string(kBodyLimit + 1, 'x')}),
              "send: the --body text is larger than 16 MiB");
}

#ifndef _WIN32  // no FIFOs on Windows
// A FIFO (or standard input) has no size to go by: read in chunks, and the
// limit still holds.

TEST_F(MailRequest, BodyFromAFifoIsReadInChunksUpToTheLimit) {
    ::signal(SIGPIPE, SIG_IGN);  // the writer of a refused body finds no reader
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto feed = [&](size_t bytes) {
        return std::thread([fifo, bytes] {
            const int fd = ::open(fifo.c_str(), O_WRONLY);
            const std::string chunk(100000, 'b');
            for (size_t done = 0; done < bytes;) {
                const size_t n = std::min(chunk.size(), bytes - done);
                if (::write(fd, chunk.data(), n) <= 0) {
                    break;
                }
                done += n;
            }
            ::close(fd);
        });
    };
    std::thread writer = feed(250000);
    EXPECT_EQ(readBodyFile(fifo), std::string(250000, 'b'));
    writer.join();
    writer = feed(kBodyLimit + 1);
    EXPECT_EQ(sendError({"--body-file", fifo}),
              "send: the body file " + fifo + " is larger than 16 MiB");
    writer.join();
}

#endif

TEST_F(MailRequest, ARequestTooLargeForTheBrokerIsRefusedHere) {
    // '%' takes three bytes escaped: a 23 MiB subject makes a 69 MiB request.
    const std::string error = sendError({"--subject", std::string(23u << 20, '%')});
    EXPECT_NE(error.find("SendMail: the request would take"), std::string::npos) << error;
    EXPECT_NE(error.find("more than the 64 MiB a Broker takes"), std::string::npos) << error;
}

TEST(MailRequestHelp, HelpIsAskedWhereAnOptionMayStandNotAsAValue) {
    EXPECT_TRUE(asksForHelp("send", {"--help"}));
    EXPECT_TRUE(asksForHelp("send", {"--to", "a@b.org", "-h"}));
    EXPECT_FALSE(asksForHelp("send", {"--subject", "-h"}));
    EXPECT_FALSE(asksForHelp("send", {"--body", "--help", "--silent"}));
    EXPECT_TRUE(asksForHelp("addrs", {"--show-address-book", "-h"}));
    EXPECT_FALSE(asksForHelp("profile", {"--display-name", "--help"}));
    EXPECT_TRUE(asksForHelp("flush", {"--help"}));
    EXPECT_FALSE(asksForHelp("raw", {"SendMail?x=--help"}));
}

TEST_F(MailRequest, BadOptionsSayWhatIsWrong) {
    EXPECT_EQ(sendError({"--subject"}), "send: --subject needs a value");
    EXPECT_EQ(sendError({"--subject", "a", "--subject", "b"}), "send: --subject given twice");
    EXPECT_EQ(sendError({"--silent=1"}), "send: --silent takes no value");
    EXPECT_EQ(sendError({"--frob"}), "send: unknown option --frob");
    EXPECT_EQ(sendError({"someone@example.org"}), "send: unexpected argument someone@example.org");
    EXPECT_EQ(sendError({"--to", "\xff"}), "send: --to is not UTF-8 text");
    EXPECT_EQ(sendError({"--parent", "4294967296"}),
              "send: --parent needs a number from 0 to 4294967295");
    EXPECT_EQ(sendError({"--parent", "-1"}), "send: --parent needs a number from 0 to 4294967295");
    EXPECT_EQ(send({"--parent", "4294967295"}), "SendMail?parent=4294967295");
}

TEST(MailRequests, AddrsProfileAndFlush) {
    EXPECT_EQ(addrsRequest({"--to", "Ann", "--to", "Team", "--bcc", "", "--show-address-book",
                            "--caption", "Pick", "--parent", "12"}),
              "OutlookGetAddrs?ShowAddressBook=1&bcc=&caption=Pick&parent=12&to=Ann%3bTeam");
    EXPECT_THROW(addrsRequest({"--parent", "2147483648"}), UsageError);
    // The address book alone: one To well to pick into.
    EXPECT_EQ(addrsRequest({"--show-address-book"}), "OutlookGetAddrs?ShowAddressBook=1&to=");
    EXPECT_EQ(addrsRequest({"--show-address-book", "--cc", "Ann"}),
              "OutlookGetAddrs?ShowAddressBook=1&cc=Ann");
    EXPECT_EQ(profileRequest({"--display-name", "Work mail"}),
              "AutoCompleteFileName?displayName=Work%20mail");
    EXPECT_EQ(profileRequest({}), "AutoCompleteFileName?");
    EXPECT_THROW(profileRequest({"--to", "x"}), UsageError);
    EXPECT_EQ(flushRequest(), "AutoCompleteFileName?");
}

}  // namespace
