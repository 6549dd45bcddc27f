// SPDX-License-Identifier: MIT
// The Broker's command line: which texts make it serve, which make it leave at
// once without a pipe, and pipe names that try to leave the pipe directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "host/child_process.h"
#include "host/host_error.h"
#include "pal/win32.h"
#include "tests/support/broker_fixture.h"

using namespace mbtest;
namespace fs = std::filesystem;

namespace {

class CommandLine : public ::testing::Test {
  protected:
    BrokerInstall install{Provider::None};
    TempDir outputDir{"output"};
    std::string outputPath = outputDir.path() + "/output.txt";

    ChildProcess run(const std::vector<std::string>& args) {
        ChildProcess::Options options;
        options.outputPath = outputPath;
        return ChildProcess::start(install.brokerPath(), args, options);
    }
    std::string output() {
        std::ifstream in(outputPath);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string hostPid() { return std::to_string(GetCurrentProcessId()); }
};

bool noPipe(const std::string& name) {
    try {
        BrokerConnection::open(name, 300);
    } catch (const HostError& e) {
        return e.kind() == HostError::Kind::NotFound;
    }
    return false;
}

bool serves(const std::string& name) {
    BrokerConnection c = BrokerConnection::open(name, 5000);
    return value(c.request("X", 10000), "error") == kNoSupport;
}

TEST_F(CommandLine, MissingOrMisorderedMarkersEndTheBrokerAtOnceWithoutAPipe) {
    const std::string name = BrokerHost::freshPipeName();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--ipc=" + name},
        {"--proc=" + hostPid()},
        {"--proc=" + hostPid(), "--ipc=" + name},
        {"--IPC=" + name, "--proc=" + hostPid()},
        {"-ipc=" + name, "--proc=" + hostPid()},
    };
    for (const auto& args : cases) {
        ChildProcess broker = run(args);
        std::optional<int> status = broker.wait(2000);
        ASSERT_TRUE(status.has_value()) << args.size();
        EXPECT_EQ(describeExitStatus(*status), "exit code 0");
        EXPECT_TRUE(noPipe(name));
        EXPECT_EQ(output(), "");
    }
}

TEST_F(CommandLine, EmptyPipeNameEndsTheBrokerQuietly) {
    ChildProcess broker = run({"--ipc=", "--proc=" + hostPid()});
    std::optional<int> status = broker.wait(2000);
    ASSERT_TRUE(status.has_value()) << "a Broker with an empty pipe name kept running";
    EXPECT_EQ(output(), "") << describeExitStatus(*status);
}

TEST_F(CommandLine, TextAfterTheHostPidIsIgnored) {
    const std::string name = BrokerHost::freshPipeName();
    ChildProcess broker = run({"--ipc=" + name, "--proc=" + hostPid(), "and", "more", "words"});
    EXPECT_TRUE(serves(name));
    EXPECT_TRUE(broker.running());
}

TEST_F(CommandLine, ServingGoodAndBadRequestsWritesNothing) {
    const std::string name = BrokerHost::freshPipeName();
    ChildProcess broker = run({"--ipc=" + name, "--proc=" + hostPid()});
    EXPECT_TRUE(serves(name));
    {
        BrokerConnection bad = BrokerConnection::open(name, 5000);
        bad.send("X?k=%zz");
        EXPECT_TRUE(silentButConnected(bad, 200));
    }
    {
        BrokerConnection garbage = BrokerConnection::open(name, 5000);
        garbage.writeMessage("garbage", 7);
        EXPECT_TRUE(waitForBrokerClose(garbage, 3000));
    }
    EXPECT_TRUE(serves(name));
    broker.terminate();
    EXPECT_EQ(output(), "");
}

TEST_F(CommandLine, BlanksBelongToThePipeName) {
    const std::string name = BrokerHost::freshPipeName();
    ChildProcess broker = run({"--ipc=" + name, "x", "--proc=" + hostPid()});
    EXPECT_TRUE(serves(name + " x"));
}

TEST_F(CommandLine, ALaterIpcMarkerStaysInTheHostPidText) {
    const std::string name = BrokerHost::freshPipeName();
    ChildProcess broker = run({"--ipc=" + name, "--proc=" + hostPid(), "--ipc=other"});
    EXPECT_TRUE(serves(name));
    EXPECT_TRUE(noPipe("other"));
}

// Names the ANSI code page cannot hold all stay apart: each Broker gets a
// pipe of its own, and a client naming the pipe in UTF-8 reaches it.
TEST_F(CommandLine, PipeNamesOutsideTheCodePageStayDistinctAndReachable) {
    const std::string base = BrokerHost::freshPipeName();
    const std::vector<std::string> names = {base + "-\u2603", base + "-\u4e2d", base + "-?",
                                            base + "-\u00e9", base + "-\u00e9\u00e9"};
    std::vector<ChildProcess> brokers;
    for (const std::string& name : names) {
        brokers.push_back(run({"--ipc=" + name, "--proc=" + hostPid()}));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        // A Broker that found its socket taken would have ended at once.
        EXPECT_TRUE(serves(names[i])) << names[i];
        EXPECT_TRUE(brokers[i].running()) << names[i];
    }
    // Each serves a pipe of its own: once one ends, only its name is gone.
    brokers[0].terminate();
    EXPECT_THROW(BrokerConnection::open(names[0], 300), HostError);
    for (std::size_t i = 1; i < names.size(); ++i) {
        EXPECT_TRUE(serves(names[i])) << names[i];
    }
}

std::set<std::string> treeBelow(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        entries.insert(e.path().string());
    }
    return entries;
}

TEST_F(CommandLine, PipeNamesNeverEscapeThePipeDirectory) {
    const std::string runtime = isolatedRuntimeDir();
    const std::string pipeDir = runtime + "/winpal/pipe";
    TempDir target("target");
    const std::vector<std::string> names = {"../../escaped",
                                            "a/b/c",
                                            "..\\..\\escaped",
                                            "../../../../../../.." + target.path() + "/x",
                                            "..",
                                            ".",
                                            "/"};
    for (const std::string& name : names) {
        std::set<std::string> before = treeBelow(runtime);
        ChildProcess broker = run({"--ipc=" + name, "--proc=" + hostPid()});
        EXPECT_TRUE(serves(name)) << name;
        for (const auto& entry : treeBelow(runtime)) {
            // The pipe directory itself appears with the first pipe of the process.
            if (before.count(entry) == 0 && entry != runtime + "/winpal" && entry != pipeDir) {
                EXPECT_EQ(fs::path(entry).parent_path().string(), pipeDir) << name << ": " << entry;
            }
        }
        EXPECT_TRUE(fs::is_empty(target.path())) << name;
        broker.terminate();
    }
}

}  // namespace
