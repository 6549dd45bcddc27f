// SPDX-License-Identifier: MIT
// mailbroker-client's mail commands as a user runs them: the built client,
// the Broker beside it and the real provider, with private profiles and store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "host/child_process.h"
#include "host/client_cli.h"
#include "tests/support/broker_fixture.h"

using namespace mbtest;
namespace fs = std::filesystem;

namespace {

// The client in the build's bin/, so the Broker it starts loads bin/libmapi32.so.
const std::string kBinDir = fs::path(MB_CLIENT_PATH).parent_path().string();
const std::string kParseEml = (fs::path(__FILE__).parent_path() / "eml/parse_eml.py").string();

struct Outcome {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

class ClientMail : public ::testing::Test {
  protected:
    void SetUp() override {
        isolatedRuntimeDir();
        ASSERT_TRUE(fs::exists(kBinDir + "/libmapi32.so")) << "build the mapi32 and mbmime targets";
        writeProfiles(
            "[profile Test]\ndisplay_name = Test mail\ndefault = true\ntransport = none\n");
    }

    void writeProfiles(const std::string& text) {
        fs::create_directories(root_.path() + "/config/mailbroker");
        std::ofstream(root_.path() + "/config/mailbroker/profiles.ini") << text;
    }

    Outcome run(const std::string& program, const std::vector<std::string>& args) {
        ChildProcess::Options options;
        options.outputPath = root_.path() + "/out.txt";
        options.environment = {"XDG_CONFIG_HOME=" + root_.path() + "/config",
                               "XDG_DATA_HOME=" + root_.path() + "/data",
                               "MAILBROKER_PROVIDER_LOG=" + root_.path() + "/provider.log"};
        ChildProcess child = ChildProcess::start(program, args, options);
        std::optional<int> status = child.wait(30000);
        std::ifstream in(options.outputPath);
        Outcome r;
        r.output.assign(std::istreambuf_iterator<char>(in), {});
        if (status && WIFEXITED(*status)) {
            r.exitCode = WEXITSTATUS(*status);
        }
        return r;
    }
    Outcome client(const std::vector<std::string>& args) { return run(MB_CLIENT_PATH, args); }

    std::string outbox() const { return root_.path() + "/data/mailbroker/Test/Outbox"; }

    // The path after "filed: " up to " (".
    static std::string filedPath(const std::string& output) {
        size_t at = output.find("filed: ");
        if (at == std::string::npos) {
            return {};
        }
        at += 7;
        return output.substr(at, output.find(" (", at) - at);
    }

    TempDir root_{"cli-mail"};
};

TEST_F(ClientMail, SilentSendFilesAMessageThatParsesBackWithItsAttachment) {
    std::string attachment = root_.path() + "/data.bin";
    {
        std::ofstream out(attachment, std::ios::binary);
        for (int i = 0; i < 20000; ++i) {
            out.put(static_cast<char>(i * 7 % 256));
        }
    }
    Outcome r = client({"send", "--silent", "--to", "someone@example.org", "--subject",
                        "Gr\xc3\xbc\xc3\x9f"
                        "e",
                        "--body", "Hello there", "--attach", attachment});
    ASSERT_EQ(r.exitCode, kExitOk) << r.output;
    EXPECT_NE(r.output.find("error=0\nresult=1\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(transport: none: the message waits in the Outbox)"),
              std::string::npos);
    std::string filed = filedPath(r.output);
    ASSERT_EQ(filed.rfind(outbox() + "/new/", 0), 0u) << r.output;

    Outcome parsed = run("/usr/bin/python3", {kParseEml, filed});
    ASSERT_EQ(parsed.exitCode, 0) << parsed.output;
    Outcome hash =
        run("/usr/bin/python3", {"-c",
                                 "import hashlib,sys;"
                                 "print(hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())",
                                 attachment});
    std::string sha = hash.output.substr(0, 64);
    ASSERT_EQ(sha.size(), 64u) << hash.output;
    for (std::string expected :
         {std::string("\"subject\":\"Gr\\u00fc\\u00dfe\""), std::string("\"body\":\"Hello there"),
          std::string("someone@example.org"), std::string("\"filename\":\"data.bin\""),
          std::string("\"size\":20000"), "\"sha256\":\"" + sha + "\""}) {
        EXPECT_NE(parsed.output.find(expected), std::string::npos) << expected << "\n"
                                                                   << parsed.output;
    }
}

TEST_F(ClientMail, FlushListsWhatWaitsInTheOutbox) {
    ASSERT_EQ(client({"send", "--silent", "--to", "a@example.org", "--subject", "First"}).exitCode,
              kExitOk);
    ASSERT_EQ(
        client({"send", "--silent", "--to", "b@example.org", "--subject", "Caf\xc3\xa9"}).exitCode,
        kExitOk);
    Outcome r = client({"flush"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.output;
    EXPECT_NE(r.output.find("outbox: 2 messages wait in " + outbox() + " (transport: none)\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\n  First\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\n  Caf\xc3\xa9\n"), std::string::npos) << r.output;
}

TEST_F(ClientMail, ProfileAndAddrsAnswerFromTheProvider) {
    Outcome profile = client({"profile", "--display-name", "Fallback"});
    EXPECT_EQ(profile.exitCode, kExitOk) << profile.output;
    EXPECT_EQ(profile.output, "displayName=Test mail\nerror=0\n");

    Outcome addrs =
        client({"addrs", "--to", "someone@example.org", "--to", "Bob <bob@example.org>"});
    EXPECT_EQ(addrs.exitCode, kExitOk) << addrs.output;
    EXPECT_EQ(addrs.output, "error=0\nto=someone@example.org;bob@example.org\n");
}

TEST_F(ClientMail, FailedLogonIsNamedAndExitsNonZero) {
    writeProfiles("[profile Test]\ndisplay_name = Test mail\ntransport = none\n");
    Outcome r = client({"send", "--silent", "--to", "someone@example.org", "--subject", "Lost"});
    EXPECT_EQ(r.exitCode, kExitCommandFailed) << r.output;
    EXPECT_NE(r.output.find("mailbroker-client: SendMail failed: MAPI_E_"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("cannot tell where the message went: no default profile"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("filed:"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(outbox() + "/new") && !fs::is_empty(outbox() + "/new"));
}

// A file the client accepts (a readable regular file) that the Broker still
// cannot read whole: the failure names the file the Broker could not read.
TEST_F(ClientMail, AttachmentTheBrokerCannotReadIsNamedAndNothingIsFiled) {
    Outcome r = client({"send", "--silent", "--to", "someone@example.org", "--attach",
                        "/proc/self/status"});
    EXPECT_EQ(r.exitCode, kExitCommandFailed) << r.output;
    EXPECT_NE(r.output.find("error=-2147024891\nresult=0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("mailbroker-client: SendMail failed: MAPI_E_NO_ACCESS (0x80070005): "
                            "attachment /proc/self/status cannot be read\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("filed:"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(outbox() + "/new") && !fs::is_empty(outbox() + "/new"));
}

}  // namespace
