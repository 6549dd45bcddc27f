// SPDX-License-Identifier: MIT
#include "broker/send_mail_connection_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "channel/broker_context.h"
#include "broker/broker_test_support.h"
#include "foundation/ks_exception.h"

namespace {

using brokertest::CountingSecurity;
using brokertest::HostProcess;

// Keeps every instance it is given, and can act inside the hand-over.
class RecordingDispatcher : public CSendMailConnectionDispatcher {
  public:
    RecordingDispatcher(CBrokerContext* context, const std::string& name, const std::string& pid)
        : CSendMailConnectionDispatcher(context, KsString(brokertest::pipePath(name).c_str()),
                                        KsString(pid.c_str()), CountingSecurity::policy()),
          expectedContext(context) {}
    ~RecordingDispatcher() override {
        for (HANDLE h : instances) {
            CloseHandle(h);
        }
    }
    int32_t onConnect(HANDLE instance, CBrokerContext* context) override {
        EXPECT_EQ(context, expectedContext);
        instances.push_back(instance);
        count_ = instances.size();
        if (duringHandOver) {
            duringHandOver(instances.size());
        }
        return 0;
    }

    size_t handedOver() const { return count_.load(); }

    CBrokerContext* expectedContext;
    std::vector<HANDLE> instances;
    std::function<void(size_t)> duringHandOver;

  private:
    std::atomic<size_t> count_{0};
};

std::string exceptionText(const std::function<void()>& body) {
    try {
        body();
    } catch (const KsException& e) {
        KsString text(e.getMessage());
        return text.utf8View();
    }
    return "<none>";
}

TEST(Dispatcher, UnwatchableHostEndsListenAtOnce) {
    CBrokerContext context;
    const std::string name = brokertest::uniqueName("nohost");
    for (const char* pid : {"abc", "", "-5"}) {
        RecordingDispatcher dispatcher(&context, name, pid);
        const auto start = std::chrono::steady_clock::now();
        dispatcher.listen();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << pid;
        EXPECT_TRUE(dispatcher.instances.empty());
        EXPECT_EQ(CountingSecurity::created(), 1);
        EXPECT_EQ(CountingSecurity::released(), 1);
    }
    // The instance left waiting was closed with its dispatcher.
    SetLastError(0);
    EXPECT_EQ(CreateFileA(brokertest::pipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                          nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Dispatcher, ClientsAreHandedOverInOrderUntilTheHostEnds) {
    CBrokerContext context;
    HostProcess host;
    const std::string name = brokertest::uniqueName("three");
    RecordingDispatcher dispatcher(&context, name, " " + host.idText() + " trailing words");
    std::vector<HANDLE> clients;
    std::chrono::steady_clock::time_point ended;
    std::thread driver([&] {
        for (int i = 0; i < 3; ++i) {
            clients.push_back(brokertest::connectClient(brokertest::pipePath(name)));
            // Each client writes its index so the server ends can be matched.
            uint8_t index = static_cast<uint8_t>(i);
            DWORD written = 0;
            WriteFile(clients.back(), &index, 1, &written, nullptr);
            // In turn: one instance waits at a time.
            while (dispatcher.handedOver() < static_cast<size_t>(i + 1)) {
                Sleep(5);
            }
        }
        ended = std::chrono::steady_clock::now();
        host.end();
    });
    dispatcher.listen();
    const auto returned = std::chrono::steady_clock::now();
    driver.join();
    EXPECT_LT(returned - ended, std::chrono::seconds(1));
    ASSERT_EQ(dispatcher.instances.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        uint8_t index = 0xFF;
        DWORD got = 0;
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ReadFile(dispatcher.instances[i], &index, 1, &got, &ov)) {
            GetOverlappedResult(dispatcher.instances[i], &ov, &got, TRUE);
        }
        CloseHandle(ov.hEvent);
        EXPECT_EQ(index, i);
    }
    for (HANDLE c : clients) {
        CloseHandle(c);
    }
    EXPECT_EQ(CountingSecurity::released(), 1);
}

TEST(Dispatcher, ClientThatLeftBeforeItWasTakenDoesNotEndTheListener) {
    CBrokerContext context;
    HostProcess host;
    const std::string name = brokertest::uniqueName("nodata");
    const std::string path = brokertest::pipePath(name);
    RecordingDispatcher dispatcher(&context, name, host.idText());
    HANDLE last = INVALID_HANDLE_VALUE;
    std::thread driver;
    dispatcher.duringHandOver = [&](size_t count) {
        if (count != 1) {
            return;
        }
        // The listener's next instance, made before this hand-over, is the
        // name's only free one: it takes this client and finds it gone. (No
        // second free instance: which of two a client reaches, Windows leaves
        // open, and under Wine the later client could land on the one that
        // nobody serves, and the listener waited for good.)
        HANDLE quitter = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(quitter, INVALID_HANDLE_VALUE);
        CloseHandle(quitter);
        driver = std::thread([&] {
            last = brokertest::connectClient(path);
            while (dispatcher.handedOver() < 2) {
                Sleep(5);
            }
            host.end();
        });
    };
    HANDLE first = INVALID_HANDLE_VALUE;
    std::thread starter([&] { first = brokertest::connectClient(path); });
    EXPECT_EQ(exceptionText([&] { dispatcher.listen(); }), "<none>");
    starter.join();
    if (driver.joinable()) {
        driver.join();
    }
    EXPECT_EQ(dispatcher.instances.size(), 2u);
    CloseHandle(first);
    CloseHandle(last);
}

TEST(Dispatcher, UnusablePipeNameFailsTheFirstCycle) {
    CBrokerContext context;
    HostProcess host;
    RecordingDispatcher empty(&context, "", host.idText());
    EXPECT_EQ(exceptionText([&] { empty.listen(); }), "Failed to create connection");
    EXPECT_EQ(CountingSecurity::released(), 1) << "the descriptor is freed on the way out";
    RecordingDispatcher tooLong(&context, std::string(300, 'n'), host.idText());
    EXPECT_EQ(exceptionText([&] { tooLong.listen(); }), "Failed to create connection");
}

}  // namespace
