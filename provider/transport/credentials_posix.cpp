// SPDX-License-Identifier: MIT
#include "provider/transport/credentials.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/command_words.h"
#include "base/launcher.h"

namespace mb::provider {
namespace {

bool executable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0 &&
           !std::filesystem::is_directory(path);
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        const std::string dir = list.substr(start, end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (executable(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return "";
}

// Runs a command from profiles.ini and takes the first line it prints. Its
// standard input is empty and its errors go nowhere: the Broker has no
// terminal, and what the program says may hold the secret.
mb::LineCapture runForLine(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    mb::Command command;
    command.argv = argv;
    command.searchPath = true;
    command.stdinMode = mb::Stdio::null();
    command.stderrMode = mb::Stdio::null();
    return mb::captureFirstLine(command, kMaxSecretLength, timeout);
}

std::string stripCr(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

CredentialLookup failed(DeliveryFailure failure) {
    return CredentialLookup{std::nullopt, std::move(failure)};
}

CredentialLookup fromPasswordCommand(const Profile& profile, Credentials credentials,
                                     std::chrono::milliseconds timeout) {
    std::vector<std::string> argv;
    if (!mb::splitCommandWords(profile.passwordCommand, argv)) {
        return failed(DeliveryFailure::needsAttention("the password_command cannot be read"));
    }
    const mb::LineCapture answer = runForLine(argv, timeout);
    if (!answer.ok()) {
        // A password manager that is locked or busy may answer next time.
        return failed(DeliveryFailure::temporary("the password_command " + argv[0] + " " +
                                                 answer.describe()));
    }
    credentials.password = stripCr(answer.line);
    return CredentialLookup{std::move(credentials), {}};
}

CredentialLookup fromSecretService(const Profile& profile, Credentials credentials,
                                   std::chrono::milliseconds timeout) {
    const std::string program = secretProgramPath();
    if (program.empty()) {
        return failed(DeliveryFailure::needsAttention(
            "secret_service = yes, but the helper mailbroker-secret is not installed"));
    }
    const std::string host = urlHost(profile.transport);
    mb::Command command;
    command.argv = {program, "lookup", host, profile.username};
    command.stdinMode = mb::Stdio::null();
    command.stderrMode = mb::Stdio::null();
    const mb::LineCapture answer = mb::captureFirstLine(command, kMaxSecretLength, timeout);
    if (answer.ok()) {
        credentials.password = stripCr(answer.line);
        return CredentialLookup{std::move(credentials), {}};
    }
    // mailbroker-secret exits 1 when nothing is stored: only the user can
    // store it. Anything else (no session bus, a locked keyring that was not
    // unlocked, a time-out) may pass.
    const bool missing = answer.result == mb::LineCapture::Result::Failed &&
                         answer.exit == mb::ExitStatus::exited(1);
    if (missing) {
        return failed(DeliveryFailure::needsAttention(
            "no password for " + profile.username + " at " + host +
            " in the Secret Service (store one with: mailbroker-client password set " +
            profile.name + ")"));
    }
    return failed(DeliveryFailure::temporary("the Secret Service lookup " + answer.describe()));
}

CredentialLookup fromTokenCommand(const Profile& profile, Credentials credentials,
                                  std::chrono::milliseconds timeout) {
    std::vector<std::string> argv;
    if (!mb::splitCommandWords(profile.oauth2TokenCommand, argv)) {
        return failed(DeliveryFailure::needsAttention("the oauth2_token_command cannot be read"));
    }
    const mb::LineCapture answer = runForLine(argv, timeout);
    if (answer.result == mb::LineCapture::Result::TimedOut) {
        return failed(DeliveryFailure::temporary("the oauth2_token_command " + argv[0] + " " +
                                                 answer.describe()));
    }
    if (!answer.ok()) {
        // No token: the grant expired or was revoked, or the program is not
        // set up. Sending without one would only be refused.
        return failed(DeliveryFailure::needsAttention("no OAuth2 token: the oauth2_token_command " +
                                                      argv[0] + " " + answer.describe()));
    }
    credentials.bearer = stripCr(answer.line);
    return CredentialLookup{std::move(credentials), {}};
}

}  // namespace

std::string secretProgramPath() {
    if (const char* path = std::getenv("MAILBROKER_SECRET"); path != nullptr && *path != '\0') {
        return path;
    }
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&secretProgramPath), &info) != 0 &&
        info.dli_fname != nullptr) {
        const std::filesystem::path library(info.dli_fname);
        const std::string beside = (library.parent_path() / "mailbroker-secret").string();
        if (library.has_parent_path() && executable(beside)) {
            return beside;
        }
    }
    return findOnPath("mailbroker-secret");
}

CredentialLookup lookupCredentials(const Profile& profile, std::chrono::milliseconds timeout) {
    Credentials credentials;
    credentials.username = profile.username;
    if (!profile.oauth2TokenCommand.empty()) {
        return fromTokenCommand(profile, std::move(credentials), timeout);
    }
    if (!profile.passwordCommand.empty()) {
        return fromPasswordCommand(profile, std::move(credentials), timeout);
    }
    if (profile.secretService) {
        return fromSecretService(profile, std::move(credentials), timeout);
    }
    if (!profile.netrc.empty() && profile.username.empty()) {
        const char* home = std::getenv("HOME");
        credentials.netrcFile = profile.netrc != "default"
                                    ? profile.netrc
                                    : std::string(home != nullptr ? home : "") + "/.netrc";
    }
    credentials.password = profile.password;
    return CredentialLookup{std::move(credentials), {}};
}

}  // namespace mb::provider
