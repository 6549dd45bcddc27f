// SPDX-License-Identifier: MIT
// mb_recipients_bench: how SendMail's time grows with the number of
// recipients, host library -> Broker -> real provider, with OutlookGetAddrs
// on the same texts as the reference measured in the same run. Not a test;
// it prints one row per count: the median wall time of a silent SendMail
// (filed in the Outbox of a private profile, transport none) and of
// OutlookGetAddrs, and SendMail's time per recipient, which stays flat when
// the work is linear.
//
//   mb_recipients_bench [REPEATS] [COUNT...]   defaults: 3  2500 10000 20000
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "codec/query_record.h"
#include "host/broker_host.h"
#include "host/host_error.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kReplyMs = 600000;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string recipients(int count) {
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 16);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            text += ';';
        }
        // Short addresses: 20,000 of them must stay within the 512 KiB header
        // block SubmitMessage accepts, or the request is refused (MAPI_E_TOO_BIG).
        text += "u" + std::to_string(i) + "@ex.org";
    }
    return text;
}

std::string encode(const char* command, const std::string& to, bool send) {
    QueryRecord record;
    record.name = KsString(command);
    record.params[KsString("to")] = KsString(to.c_str());
    if (send) {
        record.params[KsString("subject")] = KsString("Many recipients");
        record.params[KsString("silent")] = KsString("1");
    }
    record.escapeOnEncode = 1;
    KsString text = record.encode();
    return text.utf8View();
}

// Seconds for one request on a fresh connection, or a negative number when the
// reply says it failed.
double timed(BrokerHost& broker, const std::string& request, const char* okKey,
             const char* okValue) {
    BrokerConnection c = broker.connect();
    const Clock::time_point start = Clock::now();
    BrokerConnection::Reply reply = c.request(request, kReplyMs);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (reply.value(okKey) != okValue) {
        std::fprintf(stderr, "request failed: %s=%s error=%s\n", okKey, reply.value(okKey).c_str(),
                     reply.value("error").c_str());
        return -1;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) {
        counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty()) {
        counts = {2500, 10000, 20000};
    }
    try {
        mb::test::TempDir root("recipients-bench");
        fs::create_directories(root.path() + "/config/mailbroker");
        std::ofstream(root.path() + "/config/mailbroker/profiles.ini")
            << "[profile Bench]\ndefault = true\ntransport = none\nstore = " << root.path()
            << "/store\n";
        BrokerHost::Options options;
        options.process.environment = {"XDG_CONFIG_HOME=" + root.path() + "/config",
                                       "XDG_DATA_HOME=" + root.path() + "/data"};
        BrokerHost broker = BrokerHost::start(MB_BROKER_PATH, options);

        std::printf("%10s %14s %20s %18s\n", "recipients", "SendMail ms", "OutlookGetAddrs ms",
                    "SendMail us/rcpt");
        for (int count : counts) {
            const std::string to = recipients(count);
            const std::string send = encode("SendMail", to, true);
            const std::string addrs = encode("OutlookGetAddrs", to, false);
            std::vector<double> sendTimes, addrTimes;
            for (int r = 0; r < repeats; ++r) {
                const double s = timed(broker, send, "result", "1");
                const double a = timed(broker, addrs, "error", "0");
                if (s < 0 || a < 0) {
                    return 1;
                }
                sendTimes.push_back(s);
                addrTimes.push_back(a);
                std::error_code ignored;
                fs::remove_all(root.path() + "/store", ignored);
            }
            const double s = median(sendTimes);
            std::printf("%10d %14.1f %20.1f %18.2f\n", count, s * 1e3, median(addrTimes) * 1e3,
                        s * 1e6 / count);
        }
        broker.stop();
    } catch (const HostError& e) {
        std::fprintf(stderr, "mb_recipients_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
