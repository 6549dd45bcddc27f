// SPDX-License-Identifier: MIT
// What busy or hostile clients must not take from the others: a request whose
// client has gone while it still runs, hundreds of idle connections, a burst
// of connects at once, and a request far larger than any real one.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/frame.h"
#include "host/host_error.h"
#include "tests/support/broker_fixture.h"
#include "tests/support/proc_counts.h"

using namespace mbtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::chrono::milliseconds kSettle = 3s;

constexpr uint32_t kReplyMs = 10000;

bool waitForFile(const std::string& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The descriptor count once it has not changed for 200 ms.
size_t settledFdCount(pid_t pid) {
    size_t last = openFdCount(pid);
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(200ms);
        size_t now = openFdCount(pid);
        if (now == last) {
            break;
        }
        last = now;
    }
    return last;
}

// The double's logon waits while FILE.held exists once the test arms it; the
// test removes it at the end, whatever happened, so that the channel can end.
class HeldLogon {
  public:
    explicit HeldLogon(const BrokerInstall& install)
        : file_(install.directory() + "/hold"), held_(file_ + ".held") {}
    void arm() { std::ofstream(file_).put('h'); }
    ~HeldLogon() { release(); }
    void release() {
        std::error_code ec;
        fs::remove(file_, ec);
        fs::remove(held_, ec);
    }
    std::string environment() const { return "MB_MAPI_DOUBLE_HOLD_FILE=" + file_; }
    const std::string& heldPath() const { return held_; }

  private:
    std::string file_;
    std::string held_;
};

TEST(ConnectionLoad, ARequestWhoseClientHasGoneDoesNotDelayTheNextClient) {
    BrokerInstall install(Provider::Double);
    HeldLogon hold(install);
    BrokerHost broker = startBroker(install, 0, {hold.environment()});
    const pid_t pid = broker.pid();
    {
        BrokerConnection warm = broker.connect();
        EXPECT_EQ(fields(warm.request("Anything?a=0", kReplyMs)), "error=Not Supported;");
    }
    hold.arm();
    const size_t fds = settledFdCount(pid);
    const size_t threads = threadCount(pid);
    {
        BrokerConnection gone = broker.connect();
        gone.send("Anything?slow=1");
        ASSERT_TRUE(waitForFile(hold.heldPath(), 10s)) << "the slow request never started";
        // Its client leaves while the request still runs.
    }
    std::this_thread::sleep_for(100ms);
    // The next client's connect reaps; that must not wait for the held request.
    {
        BrokerConnection next = broker.connect();
        try {
            EXPECT_EQ(fields(next.request("Anything?a=1", 5000)), "error=Not Supported;");
        } catch (const HostError& e) {
            ADD_FAILURE() << "the next client was not served while the request was held: "
                          << e.what();
        }
    }
    EXPECT_TRUE(fs::exists(hold.heldPath())) << "the held request ended before the check";
    hold.release();
    // Once the held request has ended, its channel is reaped without another
    // client: the Broker is back where it started.
    EXPECT_EQ(settleAt([&] { return openFdCount(pid); }, fds, kSettle), fds);
    EXPECT_EQ(settleAt([&] { return threadCount(pid); }, threads, kSettle), threads);
}

}  // namespace

namespace {

// The soft RLIMIT_NOFILE of a process, from /proc; 0 when unknown.
unsigned long long softFileLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind("Max open files", 0) == 0) {
            return std::stoull(line.substr(26));
        }
    }
    return 0;
}

// Starts a Broker whose inherited soft limit is the common 1,024 (or the hard
// limit, if lower); this process keeps its own.
BrokerHost startWithCommonLimit(const BrokerInstall& install, rlimit& given) {
    rlimit own{};
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
    given = own;
    given.rlim_cur = std::min<rlim_t>(1024, own.rlim_max);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &given), 0);
    BrokerHost broker = startBroker(install);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &own), 0);
    return broker;
}

TEST(ConnectionLoad, FiveHundredIdleConnectionsDoNotStopTheHostsRequests) {
    BrokerInstall install(Provider::None);
    rlimit given{};
    BrokerHost broker = startWithCommonLimit(install, given);
    const pid_t pid = broker.pid();
    {
        BrokerConnection warm = broker.connect();
        ASSERT_EQ(value(warm.request("X", kReplyMs), "error"), kNoSupport);
    }
    EXPECT_EQ(softFileLimit(pid), static_cast<unsigned long long>(given.rlim_max));
    const size_t fds = settledFdCount(pid);
    std::vector<BrokerConnection> idle;
    for (int i = 0; i < 500; ++i) {
        idle.push_back(broker.connect());
    }
    // Each idle connection is taken by a channel that waits for its request.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (threadCount(pid) < 500 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    const size_t perConnection = (settledFdCount(pid) - fds + 250) / 500;
    RecordProperty("descriptors_per_idle_connection", static_cast<int>(perConnection));
    std::printf("descriptors per idle connection: %zu\n", perConnection);
    EXPECT_LE(perConnection, 2u);
    for (int i = 0; i < 20; ++i) {
        BrokerConnection host = broker.connect();
        EXPECT_EQ(value(host.request("X", kReplyMs), "error"), kNoSupport) << i;
    }
    // The idle ones are served too.
    EXPECT_EQ(value(idle.front().request("X", kReplyMs), "error"), kNoSupport);
    EXPECT_EQ(value(idle.back().request("X", kReplyMs), "error"), kNoSupport);
    idle.clear();
    EXPECT_EQ(settleAt([&] { return openFdCount(pid); }, fds, kSettle), fds);
}

// Two hundred clients connect at once, each retrying a busy pipe for up to
// 5 s as the host library does: every one is answered.
TEST(ConnectionLoad, ABurstOfTwoHundredConnectsIsServedCompletely) {
    BrokerInstall install(Provider::None);
    BrokerHost broker = startBroker(install);
    {
        BrokerConnection warm = broker.connect();
        ASSERT_EQ(value(warm.request("X", kReplyMs), "error"), kNoSupport);
    }
    constexpr int kClients = 200;
    std::atomic<int> answered{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    std::vector<std::string> failures(kClients);
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            while (!go) {
                std::this_thread::yield();
            }
            try {
                BrokerConnection c = BrokerConnection::open(broker.pipeName(), 5000);
                if (value(c.request("X", kReplyMs), "error") == kNoSupport) {
                    ++answered;
                }
            } catch (const HostError& e) {
                failures[i] = e.what();
            }
        });
    }
    go = true;
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(answered.load(), kClients);
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(failures[i], "") << "client " << i;
    }
}

}  // namespace
