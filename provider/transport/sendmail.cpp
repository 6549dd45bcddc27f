#include "provider/transport/sendmail.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "provider/store/maildir.h"
#include "provider/transport/queued_message.h"

extern char** environ;

namespace mb::provider {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxOutput = 4096;
constexpr int kPollMs = 50;

// Writing to a pipe whose reader has gone raises SIGPIPE, which would kill
// the host process: it is blocked in this thread while the child is fed, and
// any left pending is taken before the old mask returns.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1 && sigismember(&old_, SIGPIPE) == 0) {
            const timespec zero{};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t pipe_;
    sigset_t old_;
};

struct Pipe {
    ScopedFd read, write;
    bool open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        read = ScopedFd(ends[0]);
        write = ScopedFd(ends[1]);
        return true;
    }
};

// Starts argv with stdin from input and stdout and stderr into output, in a
// process group of its own and with default signal handling. 0 or an errno.
int spawn(const std::vector<std::string>& words, int input, int output, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int result =
        words[0].find('/') != std::string::npos
            ? ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ)
            : ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result;
}

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

bool permanentStatus(int status) {
    return status == 65 || status == 67 || status == 68;  // EX_DATAERR, EX_NOUSER, EX_NOHOST
}

}  // namespace

bool splitCommand(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : command) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word.push_back(c);
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    if (quote != 0 || words.empty()) {
        words.clear();
        return false;
    }
    return true;
}

SendmailTransport::SendmailTransport(const std::string& transport) {
    if (transport == "sendmail") {
        argv_ = {kSystemSendmail, "-t", "-oi"};
    } else {
        splitCommand(transport.substr(transport.find(':') + 1), argv_);
    }
}

DeliveryOutcome SendmailTransport::deliver(int fd, const Envelope&, std::chrono::seconds timeout) {
    if (argv_.empty()) {
        return DeliveryOutcome::temporary("the profile's sendmail command has an unbalanced quote");
    }
    const std::string program = argv_[0];
    Pipe input, output;
    if (!input.open() || !output.open()) {
        return DeliveryOutcome::temporary(std::string("cannot make a pipe: ") +
                                          std::strerror(errno));
    }
    SigpipeBlock block;
    pid_t pid = 0;
    if (const int failed = spawn(argv_, input.read.get(), output.write.get(), pid); failed != 0) {
        return DeliveryOutcome::temporary("cannot run " + program + ": " + std::strerror(failed));
    }
    input.read = ScopedFd();
    output.write = ScopedFd();
    setNonBlocking(input.write.get());
    setNonBlocking(output.read.get());

    OutgoingStream stream(fd, true, false);
    std::string pending;
    std::size_t sent = 0;
    std::string said;
    int readError = 0;
    int status = 0;
    bool exited = false;
    const auto deadline = Clock::now() + timeout;
    auto drain = [&] {
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(output.read.get(), chunk, sizeof chunk)) > 0) {
            const std::size_t room = kMaxOutput - std::min(kMaxOutput, said.size());
            said.append(chunk, std::min(static_cast<std::size_t>(got), room));
        }
        return got == 0;
    };
    bool outputOpen = true;
    while (Clock::now() < deadline && readError == 0) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            break;
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (input.write.get() >= 0) {
            fds[count++] = {input.write.get(), POLLOUT, 0};
        }
        if (outputOpen) {
            fds[count++] = {output.read.get(), POLLIN, 0};
        }
        // With both pipes closed only the exit is left to wait for.
        ::poll(fds, count, count == 0 ? 1 : kPollMs);
        if (input.write.get() >= 0) {
            if (sent == pending.size()) {
                pending.resize(65536);
                const ssize_t got = stream.read(pending.data(), pending.size());
                pending.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
                sent = 0;
                if (got < 0) {
                    readError = errno;
                } else if (got == 0) {
                    input.write = ScopedFd();  // end of the message
                }
            }
            if (input.write.get() >= 0 && sent < pending.size()) {
                const ssize_t wrote =
                    ::write(input.write.get(), pending.data() + sent, pending.size() - sent);
                if (wrote > 0) {
                    sent += static_cast<std::size_t>(wrote);
                } else if (errno == EPIPE) {
                    input.write = ScopedFd();  // it stopped reading; its status tells why
                }
            }
        }
        if (outputOpen) {
            outputOpen = !drain();
        }
    }
    if (!exited) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
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
    if (WIFSIGNALED(status)) {
        return DeliveryOutcome::temporary(program + " was killed by signal " +
                                          std::to_string(WTERMSIG(status)) + detail);
    }
    const int code = WEXITSTATUS(status);
    if (code == 0) {
        if (input.write.get() < 0 && sent == pending.size()) {
            return DeliveryOutcome::delivered();
        }
        return DeliveryOutcome::temporary(program + " exited before reading the whole message" +
                                          detail);
    }
    const std::string text = program + " exited with status " + std::to_string(code) + detail;
    return permanentStatus(code) ? DeliveryOutcome::permanent(text)
                                 : DeliveryOutcome::temporary(text);
}

}  // namespace mb::provider
