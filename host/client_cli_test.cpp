// SPDX-License-Identifier: MIT
#include "host/client_cli.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int code = runClient(args, "/nonexistent/dir/mailbroker-client", out, err);
    return {code, out.str(), err.str()};
}

TEST(ClientCli, UsageErrorsSayWhatIsWrong) {
    EXPECT_EQ(run({}).err, "mailbroker-client: no command given (see --help)\n");
    EXPECT_EQ(run({"raw"}).code, kExitUsage);
    EXPECT_EQ(run({"raw", "a", "b"}).err,
              "mailbroker-client: usage: mailbroker-client [OPTIONS] raw TEXT\n");
    EXPECT_EQ(run({"--pipe"}).err, "mailbroker-client: --pipe needs a value\n");
    EXPECT_EQ(run({"--timeout", "0", "raw", "x"}).code, kExitUsage);
    EXPECT_EQ(run({"--timeout", "12ms", "raw", "x"}).code, kExitUsage);
    EXPECT_EQ(run({"--frob", "raw", "x"}).err,
              "mailbroker-client: unknown option --frob (see --help)\n");
    EXPECT_EQ(run({"mail"}).err, "mailbroker-client: unknown command mail (see --help)\n");
    EXPECT_EQ(run({"flush", "now"}).err,
              "mailbroker-client: usage: mailbroker-client [OPTIONS] flush\n");
}

TEST(ClientCli, EachCommandHasItsOwnHelp) {
    for (const char* command : {"send", "addrs", "profile", "flush", "raw"}) {
        for (const char* ask : {"--help", "-h"}) {
            const Outcome o = run({command, ask});
            EXPECT_EQ(o.code, kExitOk) << command << " " << ask << ": " << o.err;
            EXPECT_EQ(o.out.rfind(std::string("usage: mailbroker-client [OPTIONS] ") + command, 0),
                      0u)
                << o.out;
        }
        EXPECT_EQ(run({"help", command}).out, run({command, "--help"}).out);
    }
    // A value that looks like help stays a value: this one fails on the next
    // option, before any Broker starts.
    const Outcome subject = run({"send", "--subject", "-h", "--frob"});
    EXPECT_EQ(subject.code, kExitUsage);
    EXPECT_NE(subject.err.find("unknown option --frob"), std::string::npos) << subject.err;
    EXPECT_EQ(run({"help", "mail"}).code, kExitUsage);
    EXPECT_EQ(run({"help"}).code, kExitOk);
    EXPECT_NE(run({"-h"}).out.find("help [COMMAND]"), std::string::npos);
}

TEST(ClientCli, MailCommandsRefuseBadOptionsBeforeStartingABroker) {
    Outcome o = run({"send", "--attach", "/etc/passwd;x"});
    EXPECT_EQ(o.code, kExitUsage);
    EXPECT_NE(o.err.find("mailbroker-client: send: cannot attach /etc/passwd;x"), std::string::npos)
        << o.err;
    EXPECT_EQ(run({"addrs", "--caption"}).err,
              "mailbroker-client: addrs: --caption needs a value\n");
    // A valid request would have reached for the Broker, which does not exist.
    EXPECT_EQ(run({"profile", "--display-name", "x"}).code, kExitStartFailed);
}

TEST(ClientCli, HelpListsTheCommands) {
    Outcome help = run({"--help"});
    EXPECT_EQ(help.code, kExitOk);
    for (const char* usage : {"raw TEXT", "send [--to", "addrs [--to", "profile [", "flush\n",
                              "6 the command failed"}) {
        EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
    }
    EXPECT_EQ(help.err, "");
}

#ifdef _WIN32
// A Windows install keeps the client beside mailbroker.exe.
TEST(ClientCli, DefaultBrokerIsBesideTheClient) {
    Outcome o = run({"raw", "X"});
    EXPECT_EQ(o.code, kExitStartFailed);
    EXPECT_NE(o.err.find("/nonexistent/dir/mailbroker:"), std::string::npos) << o.err;
}
#else
TEST(ClientCli, WithNoBrokerBesideItTheClientStartsTheInstalledOne) {
    ::unsetenv("MAILBROKER_BROKER");
    Outcome o = run({"raw", "X"});
    EXPECT_EQ(o.code, kExitStartFailed);
    EXPECT_NE(o.err.find("/nonexistent/dir/" MB_PRIVATE_FROM_BIN "/mailbroker:"), std::string::npos)
        << o.err;
}
#endif

}  // namespace
