// SPDX-License-Identifier: MIT
// The MAPI session of each request, watched through the test double's call log:
// what is loaded, initialised, logged on, logged off and unloaded, and when.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "host/host_error.h"

#include "tests/support/broker_fixture.h"

using namespace mbtest;

namespace {

constexpr uint32_t kReplyMs = 10000;

using Lines = std::vector<std::string>;

Lines loggedOnRequest(const char* ui) {
    return {"load",
            "MAPIInitialize init=null",
            std::string("MAPILogonEx ui=") + ui + " profile=null password=null flags=0x63",
            "Logoff ui=0 flags=0x0 reserved=0",
            "Release refs=0",
            "MAPIUninitialize",
            "unload"};
}

TEST(Session, EachRequestLogsOnAndOffOnceAndUnloadsTheLibrary) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install);
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("Anything?a=1", kReplyMs)), "error=Not Supported;");
    EXPECT_EQ(install.calls(), loggedOnRequest("0"));
    EXPECT_EQ(fields(c.request("Anything?a=2", kReplyMs)), "error=Not Supported;");
    Lines two = loggedOnRequest("0");
    Lines second = loggedOnRequest("0");
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_EQ(install.calls(), two);
}

TEST(Session, MissingEntryPointIsNoSupportWithoutInitialisingMapi) {
    BrokerInstall install(Provider::DoubleWithoutLogon);
    BrokerHost broker = startBroker(install);
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("SendMail?to=a", kReplyMs)), "error=-2147221246;");
    EXPECT_EQ(install.calls(), (Lines{"load", "unload"}));
}

TEST(Session, FailingInitialiseIsReportedAndStillUninitialised) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install, 0, {"MB_MAPI_DOUBLE_INIT_RESULT=0x80004005"});
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("SendMail?to=a", kReplyMs)), "error=-2147467259;");
    EXPECT_EQ(install.calls(),
              (Lines{"load", "MAPIInitialize init=null", "MAPIUninitialize", "unload"}));
}

TEST(Session, FailingLogonIsReportedWithNoSessionToLogOff) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install, 0, {"MB_MAPI_DOUBLE_LOGON_RESULT=0x80040111"});
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("SendMail?to=a", kReplyMs)), "error=-2147221231;");
    EXPECT_EQ(install.calls(), (Lines{"load", "MAPIInitialize init=null",
                                      "MAPILogonEx ui=0 profile=null password=null flags=0x63",
                                      "MAPIUninitialize", "unload"}));
}

TEST(Session, WarningFromLogonCountsAsSuccess) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install, 0, {"MB_MAPI_DOUBLE_LOGON_RESULT=0x00040380"});
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("Anything", kReplyMs)), "error=Not Supported;");
}

TEST(Session, ParentIsPassedAsTheUiParameter) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install);
    BrokerConnection c = broker.connect();
    const std::pair<const char*, const char*> cases[] = {
        {"X", "0"},
        {"X?parent=abc", "0"},
        {"X?parent=132456", "132456"},
        {"X?parent=77x", "77"},
        {"X?parent=4294967295", "4294967295"},
    };
    for (const auto& [request, ui] : cases) {
        install.clearCalls();
        c.request(request, kReplyMs);
        EXPECT_EQ(install.calls(), loggedOnRequest(ui)) << request;
    }
}

TEST(Session, ConcurrentConnectionsEachRunWholeSessions) {
    BrokerInstall install(Provider::Double);
    BrokerHost broker = startBroker(install);
    constexpr int kClients = 4;
    constexpr int kRequests = 10;
    std::vector<BrokerConnection> clients;
    // Each served once before the next connects, so that all are in place.
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(broker.connect());
        clients.back().request("Anything", kReplyMs);
    }
    install.clearCalls();
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (auto& c : clients) {
        threads.emplace_back([&c, &answered] {
            for (int r = 0; r < kRequests; ++r) {
                try {
                    if (fields(c.request("Anything", kReplyMs)) == "error=Not Supported;") {
                        ++answered;
                    }
                } catch (const HostError&) {
                    return;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(answered.load(), kClients * kRequests);
    std::map<std::string, int> counts;
    for (const auto& line : install.calls()) {
        ++counts[line.substr(0, line.find(' '))];
    }
    for (const char* call : {"MAPIInitialize", "MAPILogonEx", "Logoff", "MAPIUninitialize"}) {
        EXPECT_EQ(counts[call], answered.load()) << call;
    }
    // Sessions may overlap and share one loaded copy, but every load is undone.
    EXPECT_EQ(counts["load"], counts["unload"]);
    EXPECT_GE(counts["load"], 1);
}

TEST(Session, WithoutAProviderEveryRequestIsNoSupport) {
    BrokerInstall install(Provider::None);
    BrokerHost broker = startBroker(install);
    BrokerConnection c = broker.connect();
    for (const char* request : {"SendMail?to=a", "OutlookGetAddrs", "AutoCompleteFileName", "Y"}) {
        EXPECT_EQ(fields(c.request(request, kReplyMs)), "error=-2147221246;") << request;
    }
}

}  // namespace
