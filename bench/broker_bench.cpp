// SPDX-License-Identifier: MIT
// Round trips through a real Broker with no provider beside it, so every reply
// is error=-2147221246 and what is measured is the pipe, the frame, the codec
// and the per-request library load attempt, not MAPI:
//   RoundTrip       one request on an open connection; median and p90 per request
//   ConnectCycle    connect, one request, close
//   Concurrent      32 clients, each on its own connection, all at once
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/broker_host.h"
#include "host/host_error.h"

namespace {

constexpr const char* kRequest = "SendMail?to=a%40b.org&subject=Report&silent=1";
constexpr uint32_t kReplyMs = 10000;

// One Broker for the whole run, copied into a directory with no libmapi32.so.
class BenchBroker {
  public:
    static BenchBroker& get() {
        static BenchBroker broker;
        return broker;
    }
    BrokerConnection connect() { return host_->connect(); }

  private:
    BenchBroker() {
        std::string dir = (std::filesystem::temp_directory_path() / "mb-bench-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            throw HostError(HostError::Kind::StartFailed, "cannot create a directory");
        }
        dir_ = dir;
        std::filesystem::copy_file(MB_BROKER_PATH, dir_ + "/mailbroker");
        host_ = std::make_unique<BrokerHost>(BrokerHost::start(dir_ + "/mailbroker"));
    }
    ~BenchBroker() {
        host_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string dir_;
    std::unique_ptr<BrokerHost> host_;
};

bool answeredNoSupport(const BrokerConnection::Reply& reply) {
    auto it = reply.values.find(KsString("error"));
    if (it == reply.values.end()) {
        return false;
    }
    KsString v(it->second);
    return std::string(v.utf8View()) == "-2147221246" && reply.values.size() == 1;
}

// A connection that has answered once. Clients that connect at the same moment
// can be dropped by the pipe layer before they are served; those try again, so
// that the timed loop starts with all 32 connected.
BrokerConnection servedConnection() {
    for (int attempt = 0;; ++attempt) {
        try {
            BrokerConnection c = BenchBroker::get().connect();
            c.request(kRequest, kReplyMs);
            return c;
        } catch (const HostError& e) {
            if (e.kind() != HostError::Kind::Disconnected || attempt == 20) {
                throw;
            }
        }
    }
}

void RoundTrip(benchmark::State& state) try {
    BrokerConnection c = servedConnection();
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        BrokerConnection::Reply reply = c.request(kRequest, kReplyMs);
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        if (!answeredNoSupport(reply)) {
            state.SkipWithError("unexpected reply");
            break;
        }
    }
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p90_us"] = micros[micros.size() * 9 / 10];
    }
    state.SetItemsProcessed(state.iterations());
} catch (const HostError& e) {
    state.SkipWithError(e.what());
}
BENCHMARK(RoundTrip)->UseRealTime()->MinTime(2.0);

void ConnectCycle(benchmark::State& state) try {
    BenchBroker& broker = BenchBroker::get();
    for (auto _ : state) {
        BrokerConnection c = broker.connect();
        if (!answeredNoSupport(c.request(kRequest, kReplyMs))) {
            state.SkipWithError("unexpected reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
} catch (const HostError& e) {
    state.SkipWithError(e.what());
}
BENCHMARK(ConnectCycle)->UseRealTime()->MinTime(2.0);

void Concurrent(benchmark::State& state) {
    try {
        BrokerConnection c = servedConnection();
        for (auto _ : state) {
            if (!answeredNoSupport(c.request(kRequest, kReplyMs))) {
                state.SkipWithError("unexpected reply");
                break;
            }
        }
    } catch (const HostError& e) {
        state.SkipWithError(e.what());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Concurrent)->Threads(32)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
