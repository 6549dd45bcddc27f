// SPDX-License-Identifier: MIT
// mb_mail_bench: the mail commands end to end, host library -> Broker -> real
// provider, in a private profile whose store lies under WORKDIR. Not a test;
// it prints two tables:
//
//  1. a silent SendMail with one attachment of 10, 50 and 100 MiB beside
//     coreutils `base64` of the same file to /dev/null, timed in the same run
//     (medians), and the Broker's peak resident size (VmHWM, read from /proc
//     while it still runs; a fresh Broker per size), which should not grow
//     with the attachment;
//  2. AutoCompleteFileName requests per second on one connection, and on
//     8 connections to one Broker served at once by 8 threads.
//
//   mb_mail_bench [WORKDIR] [REPEATS] [SECONDS]   defaults: /var/tmp 3 3
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/query_record.h"
#include "host/broker_host.h"
#include "host/child_process.h"
#include "host/host_error.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kReplyMs = 600000;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Incompressible bytes, as real attachments mostly are.
void writeRandomFile(const std::string& path, uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> block(1 << 16);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (uint64_t done = 0; done < bytes;) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        uint64_t n = std::min<uint64_t>(bytes - done, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
}

// kB of VmHWM in /proc/PID/status, or -1.
long peakKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

class Bench {
  public:
    explicit Bench(const std::string& workdir) {
        root_ = (fs::path(workdir) / "mb-mail-bench-XXXXXX").string();
        if (::mkdtemp(root_.data()) == nullptr) {
            throw HostError(HostError::Kind::StartFailed,
                            "cannot create a directory in " + workdir);
        }
        fs::create_directories(root_ + "/config/mailbroker");
        std::ofstream(root_ + "/config/mailbroker/profiles.ini")
            << "[profile Bench]\ndefault = true\ntransport = none\nstore = " << root_ << "/store\n";
    }
    ~Bench() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    BrokerHost startBroker() const {
        BrokerHost::Options options;
        options.process.environment = {"XDG_CONFIG_HOME=" + root_ + "/config",
                                       "XDG_DATA_HOME=" + root_ + "/data"};
        return BrokerHost::start(MB_BROKER_PATH, options);
    }
    const std::string& root() const { return root_; }
    void clearStore() const {
        std::error_code ec;
        fs::remove_all(root_ + "/store", ec);
    }

  private:
    std::string root_;
};

std::string sendRequest(const std::string& attachment) {
    QueryRecord record;
    record.name = KsString("SendMail");
    record.params[KsString("to")] = KsString("someone@example.org");
    record.params[KsString("subject")] = KsString("Large attachment");
    record.params[KsString("attachment")] = KsString(attachment.c_str());
    record.params[KsString("silent")] = KsString("1");
    record.escapeOnEncode = 1;
    KsString text = record.encode();
    return text.utf8View();
}

bool attachmentTable(const Bench& bench, int repeats) {
    std::printf("%-10s %12s %12s %8s %16s\n", "attachment", "SendMail ms", "base64 ms", "ratio",
                "Broker VmHWM MiB");
    {
        BrokerHost idle = bench.startBroker();
        BrokerConnection c = idle.connect();
        c.request("AutoCompleteFileName", kReplyMs);
        std::printf("%-10s %12s %12s %8s %16.1f\n", "(none)", "-", "-", "-",
                    static_cast<double>(peakKiB(idle.pid())) / 1024.0);
        idle.stop();
    }
    for (int mib : {10, 50, 100}) {
        std::string file = bench.root() + "/attachment-" + std::to_string(mib) + ".bin";
        writeRandomFile(file, static_cast<uint64_t>(mib) << 20);
        std::string request = sendRequest(file);
        std::vector<double> send, base64;
        BrokerHost broker = bench.startBroker();
        BrokerConnection c = broker.connect();
        for (int i = 0; i < repeats; ++i) {
            bench.clearStore();
            ::sync();
            Clock::time_point start = Clock::now();
            BrokerConnection::Reply reply = c.request(request, kReplyMs);
            send.push_back(secondsSince(start) * 1000);
            if (reply.value("error") != "0" || reply.value("result") != "1") {
                std::fprintf(stderr, "mb_mail_bench: SendMail answered error=%s result=%s\n",
                             reply.value("error").c_str(), reply.value("result").c_str());
                return false;
            }
            start = Clock::now();
            ChildProcess b64 = ChildProcess::start("/usr/bin/base64", {file});
            std::optional<int> status = b64.wait(-1);
            base64.push_back(secondsSince(start) * 1000);
            if (!status || *status != 0) {
                std::fprintf(stderr, "mb_mail_bench: base64 failed\n");
                return false;
            }
        }
        long peak = peakKiB(broker.pid());
        broker.stop();
        bench.clearStore();
        fs::remove(file);
        std::printf("%-10s %12.0f %12.0f %8.2f %16.1f\n", (std::to_string(mib) + " MiB").c_str(),
                    median(send), median(base64), median(send) / median(base64),
                    static_cast<double>(peak) / 1024.0);
    }
    return true;
}

// Requests answered by `connections` clients in `seconds`, each on its own thread.
double requestsPerSecond(const Bench& bench, int connections, double seconds) {
    BrokerHost broker = bench.startBroker();
    std::vector<BrokerConnection> clients;
    for (int i = 0; i < connections; ++i) {
        clients.push_back(broker.connect());
        clients.back().request("AutoCompleteFileName", kReplyMs);  // served once before timing
    }
    std::atomic<long> answered{0};
    std::atomic<bool> failed{false};
    Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (auto& client : clients) {
        threads.emplace_back([&, c = &client] {
            try {
                while (secondsSince(start) < seconds) {
                    BrokerConnection::Reply reply = c->request("AutoCompleteFileName", kReplyMs);
                    if (reply.value("error") != "0") {
                        failed = true;
                        return;
                    }
                    ++answered;
                }
            } catch (const HostError&) {
                failed = true;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    double elapsed = secondsSince(start);
    broker.stop();
    return failed ? -1 : static_cast<double>(answered) / elapsed;
}

}  // namespace

int main(int argc, char** argv) try {
    std::string workdir = argc > 1 ? argv[1] : "/var/tmp";
    int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    double seconds = argc > 3 ? std::max(0.5, std::atof(argv[3])) : 3;
    Bench bench(workdir);
    std::printf("silent SendMail with one attachment (median of %d), store in %s\n", repeats,
                workdir.c_str());
    if (!attachmentTable(bench, repeats)) {
        return 1;
    }
    std::printf("\nAutoCompleteFileName round trips (%.1f s each)\n", seconds);
    for (int connections : {1, 8}) {
        double rate = requestsPerSecond(bench, connections, seconds);
        if (rate < 0) {
            std::fprintf(stderr, "mb_mail_bench: a request failed\n");
            return 1;
        }
        std::printf("%d connection%s: %8.0f requests/s\n", connections,
                    connections == 1 ? " " : "s", rate);
    }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "mb_mail_bench: %s\n", e.what());
    return 1;
}
