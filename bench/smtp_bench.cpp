// SPDX-License-Identifier: MIT
#include "bench/smtp_bench.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace bench {

SmtpServer startSmtpServer(const std::string& dir) {
    fs::create_directories(dir);
    int out[2];
    if (::pipe(out) != 0) {
        std::exit(1);
    }
    SmtpServer server;
    server.pid = ::fork();
    if (server.pid == 0) {
        ::dup2(out[1], 1);
        ::execl(MB_SYSTEM_PYTHON, MB_SYSTEM_PYTHON, MB_SMTP_SERVER, "--dir", dir.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    // The server prints its port on its first line once it listens.
    char line[32] = {};
    std::size_t at = 0;
    while (at + 1 < sizeof line && ::read(out[0], line + at, 1) == 1 && line[at] != '\n') {
        ++at;
    }
    ::close(out[0]);
    server.port = std::atoi(line);
    return server;
}

void stopSmtpServer(const SmtpServer& server) {
    ::kill(server.pid, SIGKILL);
    ::waitpid(server.pid, nullptr, 0);
}

std::size_t receivedMessages(const std::string& dir) {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        n += entry.path().extension() == ".eml";
    }
    return n;
}

std::string messageBody(std::size_t bodyBytes, const std::string& newline) {
    std::string text;
    for (std::size_t size = 0; size < bodyBytes; size += 73) {
        text += std::string(72, 'x') + newline;
    }
    return text;
}

bool sendWithMsmtp(const std::string& file, int port) {
    const std::string portArg = "--port=" + std::to_string(port);
    const pid_t child = ::fork();
    if (child == 0) {
        if (std::freopen(file.c_str(), "r", stdin) == nullptr) {
            ::_exit(126);
        }
        ::execl("/usr/bin/msmtp", "msmtp", "--host=127.0.0.1", portArg.c_str(),
                "--from=me@example.org", "-t", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "msmtp failed on %s\n", file.c_str());
        return false;
    }
    return true;
}

}  // namespace bench
