// SPDX-License-Identifier: MIT
// The pipe serves only the user the Broker runs as. Needs root, to run one side
// as nobody; skipped otherwise.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "codec/frame.h"
#include "host/child_process.h"
#include "pal/win32.h"
#include "tests/support/broker_fixture.h"

using namespace mbtest;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
const char* const kSetpriv = "/usr/bin/setpriv";

class Security : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "running one side as another user needs root";
        }
        if (!fs::exists(kSetpriv)) {
            GTEST_SKIP() << kSetpriv << " is missing";
        }
    }

    // Runs `args` under `program` as nobody; returns the exit status and output.
    struct Result {
        int status = -1;
        std::string output;
    };
    Result runAsNobody(const std::string& program, const std::vector<std::string>& args,
                       const std::string& runtimeDir) {
        std::vector<std::string> all = {"--reuid=" + std::to_string(kNobody),
                                        "--regid=" + std::to_string(kNoGroup), "--clear-groups",
                                        program};
        all.insert(all.end(), args.begin(), args.end());
        return run(kSetpriv, all, runtimeDir);
    }
    Result run(const std::string& program, const std::vector<std::string>& args,
               const std::string& runtimeDir) {
        ChildProcess::Options options;
        options.outputPath = output_.path() + "/out.txt";
        options.environment = {"XDG_RUNTIME_DIR=" + runtimeDir};
        ChildProcess child = ChildProcess::start(program, args, options);
        std::optional<int> status = child.wait(20000);
        Result r;
        r.status = status ? *status : -1;
        std::ifstream in(options.outputPath);
        r.output.assign(std::istreambuf_iterator<char>(in), {});
        return r;
    }

    TempDir output_{"security-out"};
};

// The build tree may be closed to other users (a checkout under /root): give
// nobody copies it can run, in the install's directory opened for the purpose.
std::string openToNobody(const BrokerInstall& install) {
    std::string client = install.directory() + "/mailbroker-client";
    fs::copy_file(MB_CLIENT_PATH, client);
    if (::chmod(install.directory().c_str(), 0755) != 0) {
        throw std::runtime_error("cannot open " + install.directory());
    }
    return client;
}

std::string exitText(int status) {
    return status < 0 ? "still running" : describeExitStatus(status);
}

// Connects to a pipe's socket directly, as the wire contract describes it, so
// that only the Broker's own check of the peer can refuse us. Returns what the
// Broker sent before closing, or nullopt when the connect itself failed.
std::optional<std::string> rawExchange(const std::string& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return std::nullopt;
    }
    auto message = [&](const void* bytes, uint32_t n) {
        unsigned char length[4] = {
            static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
        ssize_t a = ::send(fd, length, 4, MSG_NOSIGNAL);
        ssize_t b = n == 0 ? 0 : ::send(fd, bytes, n, MSG_NOSIGNAL);
        (void)a;
        (void)b;
    };
    codec::FrameHeader header;
    header.processId = GetCurrentProcessId();
    header.messageId = 1;
    header.length = 1;
    const codec::FrameBytes frame = codec::encodeFrameHeader(header);
    for (size_t at = 0; at < frame.size(); at += codec::kFrameWordBytes) {
        message(frame.data() + at, codec::kFrameWordBytes);
    }
    message("X", 1);
    std::string received;
    pollfd p{fd, POLLIN, 0};
    char buffer[256];
    while (::poll(&p, 1, 3000) > 0) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return received;
}

TEST_F(Security, ClientOfAnotherUserCannotReachTheBrokersPipe) {
    BrokerInstall install(Provider::None);
    const std::string client = openToNobody(install);
    BrokerHost broker = startBroker(install);
    { BrokerConnection owner = broker.connect(); }  // the pipe exists and serves root
    Result r = runAsNobody(client, {"--pipe", broker.pipeName(), "--timeout", "3000", "raw", "X"},
                           isolatedRuntimeDir());
    EXPECT_EQ(exitText(r.status), "exit code 4") << r.output;
    EXPECT_NE(r.output.find("denied"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("error="), std::string::npos) << r.output;
}

TEST_F(Security, BrokerOfAnOrdinaryUserRefusesARootClient) {
    BrokerInstall install(Provider::None);
    TempDir runtime("nobody-runtime");
    ASSERT_EQ(::chown(runtime.path().c_str(), kNobody, kNoGroup), 0);
    const std::string client = openToNobody(install);
    const std::string name = BrokerHost::freshPipeName();

    ChildProcess::Options options;
    options.environment = {"XDG_RUNTIME_DIR=" + runtime.path()};
    ChildProcess broker = ChildProcess::start(
        kSetpriv,
        {"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNoGroup),
         "--clear-groups", install.brokerPath(), "--ipc=" + name,
         "--proc=" + std::to_string(GetCurrentProcessId())},
        options);

    // Nobody's own client is served: the Broker works.
    Result own =
        runAsNobody(client, {"--pipe", name, "--timeout", "5000", "raw", "X"}, runtime.path());
    ASSERT_EQ(exitText(own.status), "exit code 0") << own.output;
    EXPECT_EQ(own.output, std::string("error=") + kNoSupport + "\n");

    // Root's client, pointed at nobody's pipe folder, is refused: the folder is
    // not root's own, and the client says so rather than blaming root's access.
    Result root = run(client, {"--pipe", name, "--timeout", "3000", "raw", "X"}, runtime.path());
    EXPECT_EQ(exitText(root.status), "exit code 3") << root.output;
    EXPECT_NE(root.output.find("the pipe folder " + runtime.path() + "/winpal is not safe (owner " +
                               std::to_string(kNobody) + ", mode 0700)"),
              std::string::npos)
        << root.output;

    // And root speaking the wire directly gets in at the socket but gets nothing:
    // the Broker drops the connection unread.
    std::optional<std::string> raw = rawExchange(runtime.path() + "/winpal/pipe/" + name);
    ASSERT_TRUE(raw.has_value()) << "the pipe's socket is missing";
    EXPECT_EQ(raw->size(), 0u);

    Result again =
        runAsNobody(client, {"--pipe", name, "--timeout", "5000", "raw", "X"}, runtime.path());
    EXPECT_EQ(exitText(again.status), "exit code 0") << again.output;
    EXPECT_TRUE(broker.running());
}

}  // namespace
