// SPDX-License-Identifier: MIT
#include "provider/ui/dialog_program.h"  // first: <fcntl.h> defines names MAPI uses

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "base/launcher.h"
#include "base/sigpipe_block.h"
#include "provider/ui/desktop.h"

namespace mb::provider {
namespace {

// How long a program that has answered may take to exit before it is killed.
constexpr std::chrono::seconds kExitGrace{5};

bool executable(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads answer lines until one ends the conversation; the program has no
// deadline, a person is answering.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}

    // The next line without its "\n"; false at end of file, on an error or
    // for a line longer than the protocol allows (`tooLong` then set).
    bool next(std::string& line) {
        while (true) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            if (buffer_.size() > dialogs::kMaxLineBytes) {
                tooLong = true;
                return false;
            }
            char chunk[65536];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    bool tooLong = false;

  private:
    int fd_;
    std::string buffer_;
};

}  // namespace

std::string dialogProgramPath() {
    if (const char* path = getenv("MAILBROKER_DIALOGS"); path != nullptr && *path != '\0') {
        return path;
    }
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&dialogProgramPath), &info) != 0 &&
        info.dli_fname != nullptr) {
        const std::filesystem::path library(info.dli_fname);
        const std::string beside = (library.parent_path() / "mailbroker-dialogs").string();
        if (library.has_parent_path() && executable(beside)) {
            return beside;
        }
    }
    return findOnPath("mailbroker-dialogs");
}

DialogOutcome runDialog(const dialogs::Request& request) {
    DialogOutcome outcome;
    const std::string program = dialogProgramPath();
    if (program.empty()) {
        outcome.failure = "the dialog program mailbroker-dialogs is not installed";
        return outcome;
    }
    mb::Command command;
    command.argv = {program};
    command.stdinMode = mb::Stdio::pipe();
    command.stdoutMode = mb::Stdio::pipe();
    // Its own process group: a terminal's Ctrl+C meant for a client that
    // started the Broker does not reach the dialog behind the Broker's back.
    command.group = mb::Command::Group::OwnGroup;
    mb::SigpipeBlock block;  // the program may die before it reads the request
    std::error_code error;
    mb::Process child = mb::Process::start(command, error);
    if (error) {
        outcome.failure = "cannot run " + program + ": " + error.message();
        return outcome;
    }
    mb::ScopedFd toChild = child.takeStdin();
    mb::ScopedFd fromChild = child.takeStdout();
    const bool sent = writeAll(toChild.get(), dialogs::encodeRequest(request));
    LineReader reader(fromChild.get());
    std::string line;
    std::string problem;
    while (reader.next(line)) {
        std::string why;
        std::optional<dialogs::Answer> answer = dialogs::decodeAnswer(line, request.dialog, why);
        if (!answer) {
            problem = "an answer that cannot be read (" + why + ")";
            break;
        }
        const bool compose = request.dialog == dialogs::Dialog::Compose;
        if (answer->kind == dialogs::Answer::Kind::Shown && !compose) {
            continue;  // a modal dialog is up; its result follows
        }
        outcome.answered = true;
        outcome.answer = std::move(*answer);
        break;
    }
    if (reader.tooLong) {
        problem = "an answer longer than " + std::to_string(dialogs::kMaxLineBytes) + " bytes";
    }
    toChild.reset();  // a modal dialog's program exits; a compose window is on its own
    fromChild.reset();
    const std::optional<mb::ExitStatus> exit = child.wait(kExitGrace);
    if (!exit) {
        child.terminate();  // answered but hanging, or talking nonsense
    }
    if (!outcome.answered) {
        outcome.failure = program + " gave no answer: " +
                          (!problem.empty() ? problem
                           : exit          ? "it ended with " + exit->describe()
                           : !sent         ? std::string("it did not read the request")
                                           : std::string("it did not end"));
    }
    return outcome;
}

}  // namespace mb::provider
