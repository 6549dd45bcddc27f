// SPDX-License-Identifier: MIT
// Delivery as a host sees it: SendMail through a real Broker and the real
// provider to a loopback SMTP server, and `mailbroker-client flush` for what
// stayed behind. Each message the server took is read back by the
// independent parser.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "host/child_process.h"
#include "host/host_error.h"
#include "provider/contacts/directory_test_support.h"
#include "provider/transport/smtp_test_support.h"
#include "tests/support/provider_install.h"

using namespace mbtest;
using mb::provider::test::card;
using mb::provider::test::group;
using mb::provider::test::SmtpServer;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kReplyMs = 30000;

struct ClientRun {
    int exitCode = -1;
    std::string output;
};

class DeliveryE2E : public ::testing::Test {
  protected:
    void useTransport(const std::string& url, int timeout, const std::string& extra = "") {
        install_.writeProfiles(
            "[profile Default]\ndefault = true\n"
            "sender_address = me@example.org\ntimeout = " +
            std::to_string(timeout) + "\ntransport = " + url + "\n" + extra);
    }

    std::string sendMail(const std::string& query) {
        BrokerHost broker = install_.start();
        BrokerConnection c = broker.connect();
        return fields(c.request("SendMail?silent=1&" + query, kReplyMs));
    }

    // The built client and the Broker beside it, on this test's profile.
    ClientRun flush() {
        ChildProcess::Options options;
        options.outputPath = install_.root() + "/client.txt";
        options.environment = {"XDG_CONFIG_HOME=" + install_.configDir(),
                               "XDG_DATA_HOME=" + install_.dataDir(),
                               "MAILBROKER_UI_SCRIPT=" + install_.root() + "/ui.script",
                               "MAILBROKER_PROVIDER_LOG=" + install_.root() + "/provider.log"};
        ChildProcess child = ChildProcess::start(MB_CLIENT_PATH, {"flush"}, options);
        const std::optional<int> status = child.wait(30000);
        ClientRun run;
        std::ifstream in(options.outputPath);
        run.output.assign(std::istreambuf_iterator<char>(in), {});
        if (status && WIFEXITED(*status)) {
            run.exitCode = WEXITSTATUS(*status);
        }
        return run;
    }

    std::size_t outbox() const {
        return install_.messages("Outbox/new").size() + install_.messages("Outbox/cur").size();
    }
    std::size_t sent() const { return install_.messages("Sent Items/new").size(); }

    static std::size_t count(const std::string& text, const std::string& word) {
        std::size_t n = 0;
        for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
            ++n;
        }
        return n;
    }

    ProviderInstall install_;
};

TEST_F(DeliveryE2E, WholeMessageReachesTheServerAndIsFiledInSentItems) {
    SmtpServer server(install_.root() + "/smtp", "accept");
    useTransport(server.url(), 10);
    std::string blob(300 * 1024, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<char>((i * 131 + i / 977) % 256);
    }
    const std::string a = install_.writeFile("docs/blob.bin", blob);
    const std::string b = install_.writeFile("docs/notes.txt", "first line\nsecond line\n");
    EXPECT_EQ(sendMail("to=ann%40example.org&cc=carl%40example.org&bcc=dora%40example.org"
                       "&subject=Gr%C3%BC%C3%9Fe%20%E2%82%AC&message=Hello%0A%C3%A4%C3%B6%C3%BC"
                       "&attachment=" + a + "%3B" + b),
              "error=0;result=1;");
    const std::vector<std::string> received = server.received();
    ASSERT_EQ(received.size(), 1u);
    // No Bcc header and no header of ours leaves the machine.
    EXPECT_EQ(describeMessage(received[0] + ".eml"),
              "subject=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\nbody=Hello\n\xC3\xA4\xC3\xB6\xC3\xBC\n"
              "to=ann@example.org\ncc=carl@example.org\nbcc=\n"
              "attachment=blob.bin 307200 " + sha256Of(a) + "\n"
              "attachment=notes.txt 23 " + sha256Of(b) + "\n");
    const std::string envelope = SmtpServer::read(received[0] + ".json");
    EXPECT_NE(envelope.find("\"rcpt_tos\": [\"ann@example.org\", \"carl@example.org\", "
                            "\"dora@example.org\"]"),
              std::string::npos)
        << envelope;
    EXPECT_EQ(outbox(), 0u);
    EXPECT_EQ(sent(), 1u);
}

TEST_F(DeliveryE2E, FailedDeliveryWaitsUntilAFlushDeliversItOnce) {
    for (const std::string failure : {"refuse4xx", "drop", "down"}) {
        SCOPED_TRACE(failure);
        const std::string dir = install_.root() + "/smtp-" + failure;
        auto server = std::make_unique<SmtpServer>(dir, failure == "down" ? "accept" : failure);
        const int port = server->port();
        if (failure == "down") {
            server->stop();
        }
        useTransport(server->url(), 3);
        const std::size_t sentBefore = sent();
        EXPECT_EQ(sendMail("to=ann%40example.org&subject=" + failure + "&message=x"),
                  "error=0;result=1;");
        EXPECT_EQ(outbox(), 1u);
        if (failure == "down") {
            server = std::make_unique<SmtpServer>(dir, "accept", port);
        }
        server->setMode("accept");
        // Its retry is not due for a minute: only a flush sends it now.
        const ClientRun run = flush();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(count(run.output, "delivered: "), 1u) << run.output;
        EXPECT_NE(run.output.find("outbox: 0 messages wait"), std::string::npos) << run.output;
        EXPECT_EQ(outbox(), 0u);
        EXPECT_EQ(sent(), sentBefore + 1);
        EXPECT_EQ(flush().exitCode, 0);
        EXPECT_EQ(server->received().size(), 1u);
    }
}

TEST_F(DeliveryE2E, RefusedMessageIsUndeliverableWithItsReasonAndStaysThere) {
    SmtpServer server(install_.root() + "/smtp", "refuse5xx");
    useTransport(server.url(), 3);
    EXPECT_EQ(sendMail("to=ann%40example.org&subject=no&message=x"), "error=0;result=1;");
    EXPECT_EQ(outbox(), 0u);
    const std::vector<std::string> refused = install_.messages("Undeliverable/new");
    ASSERT_EQ(refused.size(), 1u);
    const std::string reason =
        SmtpServer::read(install_.dataDir() + "/mailbroker/Default/Undeliverable/" +
                         fs::path(refused[0]).filename().string() + ".reason");
    EXPECT_NE(reason.find("554 5.7.1"), std::string::npos) << reason;
    server.setMode("accept");
    const ClientRun run = flush();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(install_.messages("Undeliverable/new").size(), 1u);
}

// A server that never answers costs the request that submits, not every later one.
TEST_F(DeliveryE2E, SilentServerDelaysOnlySubmitAndFlush) {
    SmtpServer server(install_.root() + "/smtp", "silent");
    useTransport(server.url(), 4);  // seconds: well above a Broker's start and logon
    auto start = Clock::now();
    EXPECT_EQ(sendMail("to=ann%40example.org&subject=s&message=x"), "error=0;result=1;");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3900));
    start = Clock::now();
    {
        BrokerHost broker = install_.start();
        BrokerConnection c = broker.connect();
        c.request("AutoCompleteFileName?", kReplyMs);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
    start = Clock::now();
    const ClientRun run = flush();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3900));
    EXPECT_NE(run.output.find("outbox: 1 message waits"), std::string::npos) << run.output;
    EXPECT_EQ(outbox(), 1u);
}

TEST_F(DeliveryE2E, BrokerKilledDuringDeliveryLosesNothing) {
    SmtpServer server(install_.root() + "/smtp", "stall");
    useTransport(server.url(), 30);
    BrokerHost broker = install_.start();
    BrokerConnection c = broker.connect();
    std::thread host([&] {
        try {
            c.request("SendMail?silent=1&to=ann%40example.org&subject=k&message=x", kReplyMs);
        } catch (const HostError&) {
            // The Broker is gone: what a host sees then.
        }
    });
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!server.dataStarted() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(server.dataStarted());
    ::kill(broker.pid(), SIGKILL);
    host.join();
    EXPECT_EQ(outbox(), 1u);
    server.setMode("accept");
    const ClientRun run = flush();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(count(run.output, "delivered: "), 1u) << run.output;
    EXPECT_EQ(server.received().size(), 1u);
    EXPECT_EQ(outbox(), 0u);
    EXPECT_EQ(sent(), 1u);
}

// Groups of the address book: Team holds Pat and Max, Night Watch only a
// card without an address, Outer holds Inner, which holds Outer back.
class ListDelivery : public DeliveryE2E {
  protected:
    void SetUp() override {
        cards_ = install_.writeFile(
            "cards.vcf",
            card("FN:Pat\r\nUID:pat\r\nEMAIL:pat@example.org\r\n") +
                card("FN:Max\r\nUID:max\r\nEMAIL:max@example.org\r\n") +
                card("FN:Phone Only\r\nUID:phone\r\nTEL:+1 555 0100\r\n") +
                group("Team", {"urn:uuid:pat", "urn:uuid:max"}) +
                card("KIND:group\r\nFN:Night Watch\r\nUID:night\r\nMEMBER:urn:uuid:phone\r\n") +
                group("Outer", {"urn:uuid:Inner", "mailto:o@example.org"}) +
                group("Inner", {"mailto:i@example.org", "urn:uuid:Outer", "urn:uuid:max"}));
    }
    void useServer(const SmtpServer& server) {
        useTransport(server.url(), 10, "address_books = " + cards_ + "\n");
    }

    std::string cards_;
};

TEST_F(ListDelivery, EveryMemberGetsTheMessageOnceAndItIsFiledWithTheGroups) {
    SmtpServer server(install_.root() + "/smtp", "accept");
    useServer(server);
    EXPECT_EQ(sendMail("to=Team%3BNight%20Watch&cc=max%40example.org&bcc=Outer&subject=Lists"),
              "error=0;result=1;");
    const std::vector<std::string> received = server.received();
    ASSERT_EQ(received.size(), 1u);
    const std::string envelope = SmtpServer::read(received[0] + ".json");
    EXPECT_NE(envelope.find("\"rcpt_tos\": [\"pat@example.org\", \"max@example.org\", "
                            "\"i@example.org\", \"o@example.org\"]"),
              std::string::npos)
        << envelope;
    EXPECT_EQ(describeMessage(received[0] + ".eml"),
              "subject=Lists\nbody=\nto=pat@example.org,max@example.org\n"
              "cc=max@example.org\nbcc=\n"
              "group:to=Team: pat@example.org,max@example.org;\ngroup:to=Night Watch: ;\n");
    const std::vector<std::string> filed = install_.messages("Sent Items/new");
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(describeMessage(filed[0]),
              "subject=Lists\nbody=\nto=pat@example.org,max@example.org\n"
              "cc=max@example.org\nbcc=i@example.org,max@example.org,o@example.org\n"
              "group:bcc=Outer: i@example.org,max@example.org,o@example.org;\n"
              "group:to=Team: pat@example.org,max@example.org;\ngroup:to=Night Watch: ;\n"
              "x:X-Mailbroker-Sent-Folder=Sent Items\nx:X-Mailbroker-Submitted=yes\n");
    EXPECT_EQ(outbox(), 0u);
}

TEST_F(ListDelivery, OnlyEmptyGroupsFailTheRequestAndNothingIsFiledOrSent) {
    SmtpServer server(install_.root() + "/smtp", "accept");
    useServer(server);
    EXPECT_EQ(sendMail("to=Night%20Watch&bcc=Night%20Watch&subject=Nobody"),
              "error=-2147219961;result=0;");  // MAPI_E_NO_RECIPIENTS
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(outbox(), 0u);
    EXPECT_TRUE(install_.messages("Outbox/tmp").empty());
    EXPECT_EQ(sent(), 0u);
    EXPECT_TRUE(install_.messages("Undeliverable/new").empty());
}

}  // namespace
