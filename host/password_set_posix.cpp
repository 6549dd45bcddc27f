// SPDX-License-Identifier: MIT
#include "host/password_set.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/launcher.h"
#include "base/sigpipe_block.h"
#include "host/client_cli.h"
#include "host/client_session.h"
#include "host/mail_request.h"
#include "profiles/profiles.h"

namespace {

constexpr std::size_t kMaxPassword = 16 * 1024;

bool executable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0 &&
           !std::filesystem::is_directory(path);
}

// $MAILBROKER_SECRET, else beside the Broker (the provider runs the one in
// the Broker's folder too, so both use the same program), else on PATH (the
// launcher searches it).
std::string secretProgram(const std::string& brokerPath) {
    if (const char* path = std::getenv("MAILBROKER_SECRET"); path != nullptr && *path != '\0') {
        return path;
    }
    const std::string beside =
        (std::filesystem::path(brokerPath).parent_path() / "mailbroker-secret").string();
    if (executable(beside)) {
        return beside;
    }
    return "mailbroker-secret";
}

// Turns echo off on the terminal for as long as it lives.
class NoEcho {
  public:
    explicit NoEcho(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
            quiet.c_lflag |= ECHONL;
            active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~NoEcho() {
        if (active_) {
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
        }
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// One line from standard input; false at its end before any byte, or for a
// line too long to be a password.
bool readLine(std::string& line) {
    line.clear();
    char c = 0;
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(0, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return any;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() >= kMaxPassword) {
            return false;
        }
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

void wipe(std::string& secret) {
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        bytes[i] = 0;
    }
    secret.clear();
}

}  // namespace

int passwordCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err) {
    if (args.size() != 2 || args[0] != "set") {
        throw UsageError("usage: mailbroker-client password set PROFILE");
    }
    const mb::provider::ProfileLoad load = mb::provider::loadProfiles();
    if (load.result != S_OK) {
        err << "mailbroker-client: " << load.error << '\n';
        return kExitCommandFailed;
    }
    const mb::provider::Profile* profile = nullptr;
    for (const mb::provider::Profile& candidate : load.profiles) {
        if (candidate.name == args[1]) {
            profile = &candidate;
        }
    }
    if (profile == nullptr) {
        throw UsageError("no profile named '" + args[1] + "' in " + mb::provider::profilesPath());
    }
    const std::string host = mb::provider::urlHost(profile->transport);
    if (host.empty() || profile->username.empty()) {
        err << "mailbroker-client: profile '" << profile->name
            << "' needs an smtp:// or smtps:// transport and a username to store a password for\n";
        return kExitCommandFailed;
    }

    std::string password;
    bool read = false;
    if (::isatty(0) != 0) {
        err << "Password for " << profile->username << " at " << host << ": " << std::flush;
        NoEcho quiet(0);
        read = readLine(password);
    } else {
        read = readLine(password);
    }
    if (!read || password.empty()) {
        wipe(password);
        err << "mailbroker-client: no password given; nothing stored\n";
        return kExitUsage;
    }

    // The password goes over a pipe, never in argv or the environment.
    mb::Command command;
    command.argv = {secretProgram(session.settings().brokerPath), "store", host, profile->username};
    command.searchPath = true;
    command.stdinMode = mb::Stdio::pipe();
    mb::SigpipeBlock block;
    std::error_code failed;
    mb::Process helper = mb::Process::start(command, failed);
    if (failed) {
        wipe(password);
        err << "mailbroker-client: cannot run " << command.argv[0] << ": " << failed.message()
            << '\n';
        return kExitCommandFailed;
    }
    {
        mb::ScopedFd toHelper = helper.takeStdin();
        password.push_back('\n');
        std::size_t sent = 0;
        while (sent < password.size()) {
            const ssize_t wrote =
                ::write(toHelper.get(), password.data() + sent, password.size() - sent);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(wrote);
        }
    }
    wipe(password);
    const std::optional<mb::ExitStatus> status = helper.wait(std::chrono::seconds(60));
    if (!status || !status->success()) {
        helper.terminate();
        err << "mailbroker-client: the Secret Service did not store the password ("
            << (status ? status->describe() : std::string("no answer within 60 s")) << ")\n";
        return kExitCommandFailed;
    }
    out << "stored: the password for " << profile->username << " at " << host
        << " in the Secret Service";
    if (!profile->secretService) {
        out << " (set secret_service = yes in profile '" << profile->name << "' to use it)";
    }
    out << '\n';
    return kExitOk;
}
