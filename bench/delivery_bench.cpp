// SPDX-License-Identifier: MIT
// Delivery of 100 queued messages to a loopback SMTP server: the spooler
// through libcurl, the spooler through msmtp as its sendmail, and msmtp
// alone sending the same files. Prints wall-clock time per message.
//
//   delivery_bench [COUNT] [BODY_BYTES]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/smtp_bench.h"
#include "provider/transport/spooler.h"

namespace fs = std::filesystem;
using mb::provider::Profile;
using Clock = std::chrono::steady_clock;

namespace {

void queue(const std::string& outbox, int count, std::size_t bodyBytes) {
    fs::create_directories(outbox + "/new");
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06d.bench", i);
        std::ofstream(outbox + "/new/" + name)
            << "From: me@example.org\nTo: you@example.org\nBcc: hidden@example.org\n"
               "Subject: message "
            << i << "\nX-Mailbroker-Submitted: yes\n\n"
            << bench::messageBody(bodyBytes, "\n");
    }
}

double spool(const std::string& root, const std::string& transport, int count,
             std::size_t bodyBytes) {
    Profile profile;
    profile.storePath = root;
    profile.transport = transport;
    profile.timeout = 600;
    queue(root + "/Outbox", count, bodyBytes);
    auto start = Clock::now();
    mb::provider::deliverOutbox(profile);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!fs::is_empty(root + "/Outbox/new")) {
        std::fprintf(stderr, "%s: messages left in the Outbox\n", transport.c_str());
    }
    return seconds;
}

double msmtpAlone(const std::string& root, int port, int count, std::size_t bodyBytes) {
    queue(root, count, bodyBytes);
    auto start = Clock::now();
    for (const auto& entry : fs::directory_iterator(root + "/new")) {
        bench::sendWithMsmtp(entry.path(), port);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::size_t bodyBytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;
    char pattern[] = "/tmp/mb_delivery_bench_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string root = pattern;
    const bench::SmtpServer server = bench::startSmtpServer(root + "/received");
    const std::string url = "smtp://127.0.0.1:" + std::to_string(server.port);
    const std::string msmtp =
        "sendmail:/usr/bin/msmtp --host=127.0.0.1 --port=" + std::to_string(server.port) +
        " --from=me@example.org -t";
    struct Row {
        const char* name;
        double seconds;
    } rows[] = {
        {"spooler, smtp:// (libcurl)", spool(root + "/curl", url, count, bodyBytes)},
        {"spooler, sendmail:msmtp", spool(root + "/msmtp", msmtp, count, bodyBytes)},
        {"msmtp alone", msmtpAlone(root + "/alone", server.port, count, bodyBytes)},
    };
    std::printf("%d messages of %zu body bytes to a loopback server\n", count, bodyBytes);
    for (const Row& row : rows) {
        std::printf("%-28s %8.3f s  %7.2f ms/message\n", row.name, row.seconds,
                    1000.0 * row.seconds / count);
    }
    bench::stopSmtpServer(server);
    fs::remove_all(root);
    return 0;
}
