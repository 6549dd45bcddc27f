// SPDX-License-Identifier: MIT
// mb_load: sustained load on one Broker (with no provider beside it, so every
// reply is error=-2147221246 and what is measured is connection handling, the
// pipe and the frame). In one run:
//   clients   64 clients, each sending 1,000 requests on its own connection
//   churn     10,000 connections: connect and close, a valid request on a new
//             connection, a frame with a wrong magic, in turn, from 4 threads
//   steady    --steady-seconds (default 300) of a mix from 16 threads:
//             requests on a kept connection, new connections, bad frames
// For each phase it prints requests answered against requests sent, and p50
// and p99 latency of the answered ones (connect included where the request
// opened its connection). At the end, after one more connection, the Broker's
// descriptor and thread counts must be back where they started. Exits 1 when
// a request went unanswered or the counts differ.
//
//   mb_load [--steady-seconds N] [--broker PATH]
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/frame.h"
#include "host/broker_host.h"
#include "host/host_error.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kRequest = "SendMail?to=a%40b.org&subject=Report&silent=1";
constexpr uint32_t kReplyMs = 30000;
constexpr uint32_t kConnectMs = 5000;  // as long as the host library retries a busy pipe

size_t entries(const std::string& dir) {
    size_t n = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}
size_t fdCount(int pid) { return entries("/proc/" + std::to_string(pid) + "/fd"); }
size_t threadCount(int pid) { return entries("/proc/" + std::to_string(pid) + "/task"); }

// Counts and latencies of one phase, gathered from its threads.
struct Tally {
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> answered{0};
    std::atomic<uint64_t> connections{0};
    std::mutex mutex;
    std::vector<double> latenciesMs;
    std::string firstFailure;

    void add(const std::vector<double>& mine) {
        std::lock_guard<std::mutex> lock(mutex);
        latenciesMs.insert(latenciesMs.end(), mine.begin(), mine.end());
    }
    void fail(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        if (firstFailure.empty()) {
            firstFailure = what;
        }
    }
};

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) {
        return 0;
    }
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(k), v.end());
    return v[k];
}

bool report(const char* phase, Tally& t, double seconds) {
    const double p50 = percentile(t.latenciesMs, 0.50);
    const double p99 = percentile(t.latenciesMs, 0.99);
    std::printf("%-8s answered %llu of %llu requests, %llu connections, %.1f s, %.0f requests/s, "
                "p50 %.3f ms, p99 %.3f ms\n",
                phase, static_cast<unsigned long long>(t.answered.load()),
                static_cast<unsigned long long>(t.sent.load()),
                static_cast<unsigned long long>(t.connections.load()), seconds,
                static_cast<double>(t.answered.load()) / seconds, p50, p99);
    if (!t.firstFailure.empty()) {
        std::printf("         first failure: %s\n", t.firstFailure.c_str());
    }
    std::fflush(stdout);
    return t.answered.load() == t.sent.load();
}

bool answered(const BrokerConnection::Reply& reply) {
    return reply.value("error") == "-2147221246";
}

// One request on `c`, counted and timed from `start`.
void timedRequest(BrokerConnection& c, Tally& t, std::vector<double>& mine, Clock::time_point start) {
    ++t.sent;
    try {
        if (answered(c.request(kRequest, kReplyMs))) {
            ++t.answered;
            mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        } else {
            t.fail("a reply other than error=-2147221246");
        }
    } catch (const HostError& e) {
        t.fail(e.what());
    }
}

// One connection of kind `kind`: 0 connect and close, 1 a request on a new
// connection, 2 a frame with a wrong magic.
void churnOne(const std::string& pipe, int kind, Tally& t, std::vector<double>& mine) {
    const Clock::time_point start = Clock::now();
    try {
        BrokerConnection c = BrokerConnection::open(pipe, kConnectMs);
        ++t.connections;
        if (kind == 1) {
            timedRequest(c, t, mine, start);
        } else if (kind == 2) {
            const codec::FrameWord bad = codec::encodeFrameWord(0xDEADBEEFu);
            c.writeMessage(bad.data(), codec::kFrameWordBytes);
        }
    } catch (const HostError& e) {
        if (kind == 1) {
            ++t.sent;
            t.fail(std::string("connect: ") + e.what());
        } else if (e.kind() != HostError::Kind::Disconnected) {
            t.fail(std::string("churn: ") + e.what());
        }
    }
}

template <typename Body>
double runThreads(int count, Body body) {
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(body, i);
    }
    for (std::thread& th : threads) {
        th.join();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int run(const std::string& brokerPath, int steadySeconds) {
    std::string dir = (std::filesystem::temp_directory_path() / "mb-load-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr, "mb_load: cannot create a directory\n");
        return 2;
    }
    // A copy alone in its folder: no libmapi32.so beside it.
    std::filesystem::copy_file(brokerPath, dir + "/mailbroker");
    BrokerHost broker = BrokerHost::start(dir + "/mailbroker");
    const int pid = broker.pid();
    const std::string pipe = broker.pipeName();
    {
        BrokerConnection warm = broker.connect();
        warm.request(kRequest, kReplyMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t fdsAtStart = fdCount(pid);
    const size_t threadsAtStart = threadCount(pid);
    std::printf("Broker pid %d at start: %zu descriptors, %zu threads\n", pid, fdsAtStart,
                threadsAtStart);
    bool ok = true;

    {
        Tally t;
        const double seconds = runThreads(64, [&](int) {
            std::vector<double> mine;
            try {
                BrokerConnection c = BrokerConnection::open(pipe, kConnectMs);
                ++t.connections;
                for (int i = 0; i < 1000; ++i) {
                    timedRequest(c, t, mine, Clock::now());
                }
            } catch (const HostError& e) {
                t.sent += 1000;
                t.fail(std::string("connect: ") + e.what());
            }
            t.add(mine);
        });
        ok = report("clients", t, seconds) && ok;
    }
    {
        Tally t;
        std::atomic<int> next{0};
        const double seconds = runThreads(4, [&](int) {
            std::vector<double> mine;
            for (int i; (i = next++) < 10000;) {
                churnOne(pipe, i % 3, t, mine);
            }
            t.add(mine);
        });
        ok = report("churn", t, seconds) && ok;
    }
    {
        Tally t;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(steadySeconds);
        const double seconds = runThreads(16, [&](int id) {
            std::vector<double> mine;
            std::unique_ptr<BrokerConnection> kept;
            for (uint32_t i = static_cast<uint32_t>(id); Clock::now() < end; ++i) {
                // Mostly requests on a kept connection, as a host sends them;
                // every fourth step opens a connection of a churn kind.
                if (i % 4 != 0) {
                    try {
                        if (!kept || !kept->isOpen()) {
                            kept = std::make_unique<BrokerConnection>(
                                BrokerConnection::open(pipe, kConnectMs));
                            ++t.connections;
                        }
                        timedRequest(*kept, t, mine, Clock::now());
                    } catch (const HostError& e) {
                        ++t.sent;
                        t.fail(std::string("connect: ") + e.what());
                    }
                } else {
                    churnOne(pipe, static_cast<int>((i / 4) % 3), t, mine);
                }
            }
            t.add(mine);
        });
        ok = report("steady", t, seconds) && ok;
    }

    // One more connection reaps what the phases left; then the counts settle.
    {
        BrokerConnection last = broker.connect();
        last.request(kRequest, kReplyMs);
    }
    size_t fds = fdCount(pid), threads = threadCount(pid);
    for (int i = 0; i < 100 && (fds != fdsAtStart || threads != threadsAtStart); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        fds = fdCount(pid);
        threads = threadCount(pid);
    }
    std::printf("Broker at end (after one more connection): %zu descriptors, %zu threads "
                "(start: %zu, %zu)\n",
                fds, threads, fdsAtStart, threadsAtStart);
    ok = ok && fds == fdsAtStart && threads == threadsAtStart;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string brokerPath = MB_BROKER_PATH;
    int steadySeconds = 300;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--steady-seconds" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 0 || n > 86400) {
                std::fprintf(stderr, "mb_load: --steady-seconds takes 0 to 86400\n");
                return 2;
            }
            steadySeconds = static_cast<int>(n);
        } else if (arg == "--broker" && i + 1 < argc) {
            brokerPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: mb_load [--steady-seconds N] [--broker PATH]\n");
            return 2;
        }
    }
    try {
        return run(brokerPath, steadySeconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mb_load: %s\n", e.what());
        return 2;
    }
}
