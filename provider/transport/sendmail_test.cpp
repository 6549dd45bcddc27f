// SPDX-License-Identifier: MIT
#include "provider/transport/sendmail.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "provider/store/maildir.h"

namespace mb::provider::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class SendmailTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/mb_sendmail_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const std::string path = dir_ + "/queued";
        std::ofstream(path) << "To: a@x\nBcc: b@x\nX-Mailbroker-Submitted: yes\n\nbody\n";
        message_ = ScopedFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A sendmail made of a shell script.
    DeliveryOutcome run(const std::string& script, seconds timeout = seconds(10)) {
        SendmailTransport transport("sendmail:/bin/sh -c '" + script + "' sendmail -t");
        return transport.deliver(message_.get(), Envelope{"me@x", {"a@x"}}, timeout);
    }

    std::string dir_;
    ScopedFd message_;
};

TEST(SplitCommand, QuotesGroupWordsWithoutAShell) {
    std::vector<std::string> words;
    ASSERT_TRUE(splitCommand(" /usr/bin/msmtp  --from='a b' -t \"$HOME\"''", words));
    EXPECT_EQ(words, (std::vector<std::string>{"/usr/bin/msmtp", "--from=a b", "-t", "$HOME"}));
    EXPECT_FALSE(splitCommand("msmtp 'unclosed", words));
    EXPECT_FALSE(splitCommand("   ", words));
}

TEST_F(SendmailTest, MessageGoesToStdinWithBccAndWithoutPrivateHeaders) {
    const DeliveryOutcome outcome = run("echo \"$@\" > " + dir_ + "/args; cat > " + dir_ + "/in");
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Delivered) << outcome.text;
    std::stringstream in, args;
    in << std::ifstream(dir_ + "/in").rdbuf();
    args << std::ifstream(dir_ + "/args").rdbuf();
    EXPECT_EQ(in.str(), "To: a@x\nBcc: b@x\n\nbody\n");
    EXPECT_EQ(args.str(), "-t\n");
}

TEST_F(SendmailTest, EnvelopeSenderFollowsTheCommandsOwnArguments) {
    const std::string script = "echo \"$@\" > " + dir_ + "/args; cat > /dev/null";
    SendmailTransport transport("sendmail:/bin/sh -c '" + script + "' sendmail -t -oi",
                                "ana@example.net");
    DeliveryOutcome outcome =
        transport.deliver(message_.get(), Envelope{"ana@example.net", {"a@x"}}, seconds(10));
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Delivered) << outcome.text;
    std::stringstream args;
    args << std::ifstream(dir_ + "/args").rdbuf();
    EXPECT_EQ(args.str(), "-t -oi -f ana@example.net\n");
}

TEST_F(SendmailTest, ExitStatusDecidesBetweenRetryAndUndeliverable) {
    DeliveryOutcome outcome = run("cat >/dev/null; echo try later; exit 75");
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Temporary);
    EXPECT_EQ(outcome.text, "/bin/sh exited with status 75: try later");
    outcome = run("cat >/dev/null; echo no such user >&2; exit 67");
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Permanent);
    EXPECT_EQ(outcome.text, "/bin/sh exited with status 67: no such user");
    // msmtp without a sender, or another configuration only the user can mend.
    EXPECT_EQ(run("exit 78").kind, DeliveryOutcome::Kind::NeedsAttention);
    EXPECT_EQ(run("kill -9 $$").kind, DeliveryOutcome::Kind::Temporary);
}

TEST_F(SendmailTest, MissingProgramAndBadCommandAreTemporary) {
    SendmailTransport missing("sendmail:" + dir_ + "/no-such-sendmail -t");
    DeliveryOutcome outcome = missing.deliver(message_.get(), {}, seconds(5));
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Temporary);
    EXPECT_NE(outcome.text.find("No such file or directory"), std::string::npos) << outcome.text;
    SendmailTransport unbalanced("sendmail:msmtp 'x");
    outcome = unbalanced.deliver(message_.get(), {}, seconds(5));
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Temporary);
    EXPECT_NE(outcome.text.find("unbalanced quote"), std::string::npos);
}

TEST_F(SendmailTest, HungCommandIsKilledWithItsChildrenAtTheTimeout) {
    const auto start = std::chrono::steady_clock::now();
    const DeliveryOutcome outcome =
        run("sleep 30 & echo $! > " + dir_ + "/pid; cat; sleep 30", seconds(1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.kind, DeliveryOutcome::Kind::Temporary);
    EXPECT_NE(outcome.text.find("did not finish within 1 s"), std::string::npos) << outcome.text;
    EXPECT_LT(took, seconds(3));
    std::ifstream pidFile(dir_ + "/pid");
    pid_t grandchild = 0;
    ASSERT_TRUE(pidFile >> grandchild);
    // Killed with its process group: gone, or a zombie waiting for init.
    std::string state = "gone";
    for (int i = 0; i < 50; ++i) {
        std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
        std::string pid, name;
        if (!(stat >> pid >> name >> state) || state == "Z") {
            break;
        }
        ::usleep(20000);
    }
    EXPECT_TRUE(state == "gone" || state == "Z") << state;
}

}  // namespace
}  // namespace mb::provider::test
