// SPDX-License-Identifier: MIT
// Inputs that never deliver (a FIFO named as a configuration file) and channel
// threads stuck in a system call, seen from outside: every request is still
// answered, and the Broker ends with its host whatever its threads are doing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "host/child_process.h"
#include "tests/support/provider_install.h"

using namespace mbtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kReplyMs = 30000;
// How long a Broker may take to be gone before a test calls it stuck: far
// above the second it needs, so that a loaded machine cannot fail the test.
constexpr int kGoneWithinMs = 10000;
constexpr const char* kCorruptData = "-2147221221";  // MAPI_E_CORRUPT_DATA

// The pipe sockets of this test process's Brokers.
std::set<std::string> pipeSockets() {
    std::set<std::string> names;
    const fs::path dir = fs::path(isolatedRuntimeDir()) / "winpal" / "pipe";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class BrokerEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = ChildProcess::start("/bin/sleep", {"600"});
        socketsBefore_ = pipeSockets();
    }
    void TearDown() override {
        if (stuckPid_ > 0) {
            ::kill(stuckPid_, SIGKILL);
        }
    }
    // The profiles file replaced by a FIFO that no one ever writes.
    void profilesAreAFifo() const {
        const std::string path = install_.configDir() + "/mailbroker/profiles.ini";
        fs::create_directories(fs::path(path).parent_path());
        fs::remove(path);
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    BrokerHost start() const { return install_.start(static_cast<uint32_t>(host_.pid()), {}); }
    // Ends the host, then judges the Broker: gone, with exit code 0, its socket removed.
    void expectBrokerEndsWithItsHost(BrokerHost& broker, bool socketGone = true) {
        host_.terminate();
        const std::optional<int> status = broker.process().wait(kGoneWithinMs);
        ASSERT_TRUE(status.has_value()) << "the Broker outlived its host";
        EXPECT_EQ(describeExitStatus(*status), "exit code 0");
        if (socketGone) {
            EXPECT_EQ(pipeSockets(), socketsBefore_) << "the Broker's socket was left behind";
        }
    }

    ProviderInstall install_;
    ChildProcess host_;
    std::set<std::string> socketsBefore_;
    pid_t stuckPid_ = 0;
};

TEST_F(BrokerEnd, ProfilesFileThatIsAFifoIsAnErrorNotAHang) {
    profilesAreAFifo();
    BrokerHost broker = start();
    BrokerConnection c = broker.connect();
    EXPECT_EQ(value(c.request("SendMail?silent=1&to=ann%40example.org", kReplyMs), "error"),
              kCorruptData);
    // The next request is not stuck behind the first.
    EXPECT_EQ(value(c.request("AutoCompleteFileName?displayName=x", kReplyMs), "error"),
              kCorruptData);
    const std::string log = install_.providerLog();
    EXPECT_NE(log.find("profiles.ini: cannot be read: not a regular file"), std::string::npos)
        << log;
    EXPECT_TRUE(install_.messages("Outbox/new").empty());
    expectBrokerEndsWithItsHost(broker);
}

TEST_F(BrokerEnd, UiScriptThatIsAFifoIsAnUnreadableScript) {
    install_.writeProfiles("[profile Default]\ndefault = true\nui = headless\n"
                           "sender_address = me@example.org\n");
    const std::string script = install_.root() + "/ui.script";
    fs::remove(script);
    ASSERT_EQ(::mkfifo(script.c_str(), 0600), 0);
    BrokerHost broker = start();
    BrokerConnection c = broker.connect();
    // The compose window is a dialog: with the script unreadable it fails.
    const BrokerConnection::Reply reply =
        c.request("SendMail?to=ann%40example.org&subject=Draft", kReplyMs);
    EXPECT_EQ(value(reply, "error"), kCorruptData) << fields(reply);
    EXPECT_EQ(value(c.request("AutoCompleteFileName?displayName=x", kReplyMs), "error"), "0");
    const std::string log = install_.providerLog();
    EXPECT_NE(log.find(script + ": cannot read the UI script: not a regular file"),
              std::string::npos)
        << log;
    expectBrokerEndsWithItsHost(broker);
}

// A delivery command that never ends holds its channel thread in a wait that
// nothing interrupts; the host's end still ends the Broker, and the message,
// cut off in the middle of its delivery, stays queued.
TEST_F(BrokerEnd, ChannelStuckInADeliveryDoesNotKeepTheBrokerAlive) {
    const std::string pidFile = install_.root() + "/sendmail.pid";
    install_.writeProfiles("[profile Default]\ndefault = true\nsender_address = me@example.org\n"
                           "timeout = 600\n"
                           "transport = sendmail:/bin/sh -c 'echo $$ > " + pidFile +
                           " && exec sleep 600'\n");
    BrokerHost broker = start();
    BrokerConnection c = broker.connect();
    c.send("SendMail?silent=1&to=ann%40example.org&subject=Stuck");
    for (int i = 0; i < 1000 && readAll(pidFile).empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    const std::string pid = readAll(pidFile);
    ASSERT_FALSE(pid.empty()) << "the delivery command never started";
    stuckPid_ = static_cast<pid_t>(std::stol(pid));
    // The channel thread waits for the command; the Broker must not wait for it.
    expectBrokerEndsWithItsHost(broker, false);
    EXPECT_EQ(install_.messages("Outbox/new").size(), 1u) << "the message left the queue";
}

}  // namespace
