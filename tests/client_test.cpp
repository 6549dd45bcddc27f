// SPDX-License-Identifier: MIT
// mailbroker-client as a user runs it: a real client process, a real Broker.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <optional>

#include "host/child_process.h"
#include "host/client_cli.h"
#include "tests/support/broker_fixture.h"

using namespace mbtest;
namespace fs = std::filesystem;

namespace {

struct Result {
    std::string status;
    std::string output;
};

class Client : public ::testing::Test {
  protected:
    Result run(const std::vector<std::string>& args) {
        ChildProcess::Options options;
        options.outputPath = out_.path() + "/out.txt";
        options.environment = install_.environment();
        ChildProcess child = ChildProcess::start(clientPath_, args, options);
        std::optional<int> status = child.wait(20000);
        std::ifstream in(options.outputPath);
        return {status ? describeExitStatus(*status) : "still running",
                std::string(std::istreambuf_iterator<char>(in), {})};
    }

    BrokerInstall install_{Provider::Double};
    TempDir out_{"client-out"};
    // Beside the Broker copy, so that the default Broker is that copy.
    std::string clientPath_ = [this] {
        std::string path =
            install_.directory() + "/" + fs::path(MB_CLIENT_PATH).filename().string();
        fs::copy_file(MB_CLIENT_PATH, path);
        return path;
    }();
};

TEST_F(Client, RawPrintsTheReplysFieldsDecoded) {
    // The double refuses the stores table, so SendMail composes nothing.
    Result r = run({"raw", "SendMail?to=a%40b.org"});
    EXPECT_EQ(r.status, "exit code 0");
    EXPECT_EQ(r.output, std::string("error=") + kNoSupport + "\nresult=0\n");
}

TEST_F(Client, BrokerPathCanBeGiven) {
    TempDir elsewhere("elsewhere");
    // Windows starts a program by a name ending in .exe only.
    std::string broker = elsewhere.path() + "/broker-copy" +
                         fs::path(install_.brokerPath()).extension().string();
    fs::copy_file(install_.brokerPath(), broker);
    Result r = run({"--broker", broker, "raw", "X"});
    EXPECT_EQ(r.status, "exit code 0");
    // No provider beside that copy.
    EXPECT_EQ(r.output, std::string("error=") + kNoSupport + "\n");
}

TEST_F(Client, MissingBrokerIsAClearFailure) {
    Result r = run({"--broker", out_.path() + "/no-such-broker", "raw", "X"});
    EXPECT_EQ(r.status, "exit code " + std::to_string(kExitStartFailed));
    EXPECT_NE(r.output.find("no-such-broker"), std::string::npos) << r.output;
}

TEST_F(Client, BrokerThatNeverServesIsAClearFailure) {
    Result r = run({"--broker", quickExitProgram(), "raw", "X"});
    EXPECT_EQ(r.status, "exit code " + std::to_string(kExitStartFailed));
    EXPECT_NE(r.output.find("without serving"), std::string::npos) << r.output;
}

TEST_F(Client, UnknownPipeIsUnreachable) {
    Result r = run({"--timeout", "300", "--pipe", BrokerHost::freshPipeName(), "raw", "X"});
    EXPECT_EQ(r.status, "exit code " + std::to_string(kExitUnreachable));
}

#ifndef _WIN32  // Windows keeps its pipes in no folder
// A pipe folder others may use serves no Broker; the client says which
// folder is at fault instead of blaming this user's access.
TEST_F(Client, UnsafePipeFolderIsNamedAndUnreachable) {
    TempDir runtime("unsafe-runtime");
    const std::string folder = runtime.path() + "/winpal";
    ASSERT_TRUE(fs::create_directory(folder));
    fs::permissions(folder, fs::perms::all);
    ChildProcess::Options options;
    options.outputPath = out_.path() + "/out.txt";
    options.environment = install_.environment();
    options.environment.push_back("XDG_RUNTIME_DIR=" + runtime.path());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"raw", "X"},
          std::vector<std::string>{"--timeout", "300", "--pipe", "some-pipe", "raw", "X"}}) {
        ChildProcess child = ChildProcess::start(clientPath_, args, options);
        std::optional<int> status = child.wait(20000);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(describeExitStatus(*status), "exit code " + std::to_string(kExitUnreachable));
        std::ifstream in(options.outputPath);
        const std::string output(std::istreambuf_iterator<char>(in), {});
        EXPECT_NE(output.find("the pipe folder " + folder + " is not safe (owner " +
                              std::to_string(::geteuid()) + ", mode 0777)"),
                  std::string::npos)
            << output;
    }
}
#endif

TEST_F(Client, RequestWithoutAReplyTimesOut) {
    Result r = run({"--timeout", "300", "raw", "X?k=%4"});
    EXPECT_EQ(r.status, "exit code " + std::to_string(kExitUnreachable));
    EXPECT_NE(r.output.find("no reply"), std::string::npos) << r.output;
}

TEST_F(Client, UsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"raw"},
                                                                  {"raw", "a", "b"},
                                                                  {"--broker"},
                                                                  {"--timeout", "x", "raw", "a"},
                                                                  {"--bogus", "raw", "a"},
                                                                  {"bogus"}}) {
        Result r = run(args);
        EXPECT_EQ(r.status, "exit code " + std::to_string(kExitUsage)) << args.size();
        EXPECT_NE(r.output.find("mailbroker-client:"), std::string::npos) << r.output;
    }
    Result help = run({"--help"});
    EXPECT_EQ(help.status, "exit code 0");
    EXPECT_NE(help.output.find("raw TEXT"), std::string::npos);
}

}  // namespace
