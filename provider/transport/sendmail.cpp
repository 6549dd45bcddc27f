// SPDX-License-Identifier: MIT
#include "provider/transport/sendmail.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/command_words.h"
#include "base/launcher.h"
#include "base/sigpipe_block.h"
#include "provider/transport/failure_class.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxOutput = 4096;
constexpr int kPollMs = 50;

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool splitCommand(const std::string& command, std::vector<std::string>& words) {
    return mb::splitCommandWords(command, words);
}

SendmailTransport::SendmailTransport(const std::string& transport,
                                     const std::string& envelopeSender) {
    if (transport == "sendmail") {
        argv_ = {kSystemSendmail, "-t", "-oi"};
    } else {
        splitCommand(transport.substr(transport.find(':') + 1), argv_);
    }
    if (!argv_.empty() && !envelopeSender.empty()) {
        argv_.push_back("-f");
        argv_.push_back(envelopeSender);
    }
}

DeliveryOutcome SendmailTransport::deliver(int fd, const Envelope&, std::chrono::seconds timeout) {
    if (argv_.empty()) {
        return DeliveryOutcome::temporary("the profile's sendmail command has an unbalanced quote");
    }
    const std::string program = argv_[0];
    // The command in a process group of its own, with default signal
    // handling, reading the message and writing its explanations to one pipe.
    mb::Command command;
    command.argv = argv_;
    command.searchPath = true;
    command.stdinMode = mb::Stdio::pipe();
    command.stdoutMode = mb::Stdio::pipe();
    command.stderrMode = mb::Stdio::sameAsStdout();
    command.group = mb::Command::Group::OwnGroup;
    mb::SigpipeBlock block;
    std::error_code failed;
    mb::Process child = mb::Process::start(command, failed);
    if (failed) {
        return DeliveryOutcome::temporary("cannot run " + program + ": " + failed.message());
    }
    mb::ScopedFd toCommand = child.takeStdin();
    mb::ScopedFd fromCommand = child.takeStdout();
    setNonBlocking(toCommand.get());
    setNonBlocking(fromCommand.get());

    OutgoingStream stream(fd, true, false);
    std::string pending;
    std::size_t sent = 0;
    std::string said;
    int readError = 0;
    std::optional<mb::ExitStatus> status;
    const auto deadline = Clock::now() + timeout;
    auto drain = [&] {
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(fromCommand.get(), chunk, sizeof chunk)) > 0) {
            const std::size_t room = kMaxOutput - std::min(kMaxOutput, said.size());
            said.append(chunk, std::min(static_cast<std::size_t>(got), room));
        }
        return got == 0;
    };
    bool outputOpen = true;
    while (Clock::now() < deadline && readError == 0) {
        if ((status = child.wait(std::chrono::milliseconds(0)))) {
            break;
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (toCommand.get() >= 0) {
            fds[count++] = {toCommand.get(), POLLOUT, 0};
        }
        if (outputOpen) {
            fds[count++] = {fromCommand.get(), POLLIN, 0};
        }
        // With both pipes closed only the exit is left to wait for.
        ::poll(fds, count, count == 0 ? 1 : kPollMs);
        if (toCommand.get() >= 0) {
            if (sent == pending.size()) {
                pending.resize(65536);
                const ssize_t got = stream.read(pending.data(), pending.size());
                pending.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
                sent = 0;
                if (got < 0) {
                    readError = errno;
                } else if (got == 0) {
                    toCommand.reset();  // end of the message
                }
            }
            if (toCommand.get() >= 0 && sent < pending.size()) {
                const ssize_t wrote =
                    ::write(toCommand.get(), pending.data() + sent, pending.size() - sent);
                if (wrote > 0) {
                    sent += static_cast<std::size_t>(wrote);
                } else if (errno == EPIPE) {
                    toCommand.reset();  // it stopped reading; its status tells why
                }
            }
        }
        if (outputOpen) {
            outputOpen = !drain();
        }
    }
    if (!status) {
        child.terminate();  // the whole group
        if (readError != 0) {
            return DeliveryOutcome::temporary(std::string("cannot read the queued message: ") +
                                              std::strerror(readError));
        }
        return DeliveryOutcome::temporary(program + " did not finish within " +
                                          std::to_string(timeout.count()) + " s");
    }
    drain();
    said = oneLine(said);
    const std::string detail = said.empty() ? "" : ": " + said;
    if (status->kind == mb::ExitStatus::Kind::Signalled) {
        return DeliveryOutcome::temporary(program + " was killed by signal " +
                                          std::to_string(status->value) + detail);
    }
    const int code = status->value;
    if (code == 0) {
        if (toCommand.get() < 0 && sent == pending.size()) {
            return DeliveryOutcome::delivered();
        }
        return DeliveryOutcome::temporary(program + " exited before reading the whole message" +
                                          detail);
    }
    const std::string text = program + " exited with status " + std::to_string(code) + detail;
    return DeliveryOutcome::failed(DeliveryFailure{classifySendmailExit(code), text});
}

}  // namespace mb::provider
