// What busy or hostile clients must not take from the others: a request whose
// client has gone while it still runs, hundreds of idle connections, a burst
// of connects at once, and a request far larger than any real one.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
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

// Polls until `count` settles at `expected` or three seconds pass; returns the last count.
template <typename Count>
size_t settleAt(Count count, size_t expected) {
    size_t n = count();
    for (int i = 0; i < 300 && n != expected; ++i) {
        std::this_thread::sleep_for(10ms);
        n = count();
    }
    return n;
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
    EXPECT_EQ(settleAt([&] { return openFdCount(pid); }, fds), fds);
    EXPECT_EQ(settleAt([&] { return threadCount(pid); }, threads), threads);
}

}  // namespace
