// SPDX-License-Identifier: MIT
// Silent SendMails through a real Broker, each delivered at submit to a
// loopback SMTP server, beside msmtp sending the same messages straight to
// that server, one process per message as a user's script would.
//
//   broker_delivery_bench [COUNT] [BODY_BYTES]   (defaults 100 2000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/smtp_bench.h"
#include "host/broker_host.h"
#include "host/host_error.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double throughBroker(const std::string& root, int port, int count, std::size_t bodyBytes) {
    fs::create_directories(root + "/config/mailbroker");
    std::ofstream(root + "/config/mailbroker/profiles.ini")
        << "[profile Default]\ndefault = true\nsender_address = me@example.org\n"
           "transport = smtp://127.0.0.1:"
        << port << "\ntimeout = 30\n";
    BrokerHost::Options options;
    options.process.environment = {"XDG_CONFIG_HOME=" + root + "/config",
                                   "XDG_DATA_HOME=" + root + "/data",
                                   "MAILBROKER_PROVIDER_LOG=" + root + "/provider.log"};
    BrokerHost broker = BrokerHost::start(MB_BROKER_PATH, options);
    BrokerConnection connection = broker.connect();
    const std::string text = bench::messageBody(bodyBytes, "%0A");
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const BrokerConnection::Reply reply = connection.request(
            "SendMail?silent=1&to=you%40example.org&subject=message%20" + std::to_string(i) +
                "&message=" + text,
            60000);
        bool ok = false;
        for (const auto& [key, value] : reply.values) {
            KsString k(key), v(value);
            ok = ok || (std::string(k.utf8View()) == "error" && std::string(v.utf8View()) == "0");
        }
        if (!ok) {
            std::fprintf(stderr, "SendMail %d failed: %s\n", i, reply.text.c_str());
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double msmtpAlone(const std::string& root, int port, int count, std::size_t bodyBytes) {
    fs::create_directories(root);
    const std::string text = bench::messageBody(bodyBytes, "\n");
    for (int i = 0; i < count; ++i) {
        std::ofstream(root + "/" + std::to_string(i) + ".eml")
            << "From: me@example.org\nTo: you@example.org\nSubject: message " << i
            << "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n"
            << text;
    }
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        bench::sendWithMsmtp(root + "/" + std::to_string(i) + ".eml", port);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::size_t bodyBytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: broker_delivery_bench [COUNT] [BODY_BYTES]\n");
        return 1;
    }
    char pattern[] = "/tmp/mb_broker_delivery_bench_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string root = pattern;
    const std::string inbox = root + "/received";
    const bench::SmtpServer server = bench::startSmtpServer(inbox);
    int status = 0;
    try {
        const double broker = throughBroker(root + "/broker", server.port, count, bodyBytes);
        const std::size_t viaBroker = bench::receivedMessages(inbox);
        const double msmtp = msmtpAlone(root + "/msmtp", server.port, count, bodyBytes);
        const std::size_t viaMsmtp = bench::receivedMessages(inbox) - viaBroker;
        std::printf("%d messages of about %zu body bytes to a loopback SMTP server\n", count,
                    bodyBytes);
        std::printf("Broker, SendMail silent  %8.3f s  %7.1f messages/s  (%zu received)\n",
                    broker, count / broker, viaBroker);
        std::printf("msmtp, one per message   %8.3f s  %7.1f messages/s  (%zu received)\n", msmtp,
                    count / msmtp, viaMsmtp);
        std::printf("Broker / msmtp           %8.2fx\n", msmtp / broker);
        if (viaBroker != static_cast<std::size_t>(count) ||
            viaMsmtp != static_cast<std::size_t>(count)) {
            std::fprintf(stderr, "the server did not receive every message\n");
            status = 1;
        }
    } catch (const HostError& error) {
        std::fprintf(stderr, "Broker: %s\n", error.what());
        status = 1;
    }
    bench::stopSmtpServer(server);
    fs::remove_all(root);
    return status;
}
