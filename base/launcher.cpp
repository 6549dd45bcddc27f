// SPDX-License-Identifier: MIT
#include "base/launcher.h"

#include <utility>

namespace mb {

// Moving and ending a Process are the same on every platform: only
// terminate() and closeWaitHandle() differ, and those live beside the
// platform's launcher.
Process::Process(Process&& other) noexcept
    : id_(std::exchange(other.id_, -1)),
      ownGroup_(other.ownGroup_),
      waitHandle_(std::exchange(other.waitHandle_, -1)),
      status_(std::exchange(other.status_, std::nullopt)),
      lost_(std::exchange(other.lost_, false)),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        terminate();
        closeWaitHandle();
        id_ = std::exchange(other.id_, -1);
        ownGroup_ = other.ownGroup_;
        waitHandle_ = std::exchange(other.waitHandle_, -1);
        status_ = std::exchange(other.status_, std::nullopt);
        lost_ = std::exchange(other.lost_, false);
        stdin_ = std::move(other.stdin_);
        stdout_ = std::move(other.stdout_);
        stderr_ = std::move(other.stderr_);
    }
    return *this;
}

Process::~Process() {
    terminate();
    closeWaitHandle();
}


std::string ExitStatus::describe() const {
    return (kind == Kind::Exited ? "exit code " : "signal ") + std::to_string(value);
}

std::string LineCapture::describe() const {
    switch (result) {
        case Result::Line:
            return "a line";
        case Result::NotStarted:
            return "cannot be run: " + error.message();
        case Result::TooLong:
            return "printed a line longer than allowed";
        case Result::TimedOut:
            return "did not finish in time";
        case Result::Failed:
            return "ended with " + exit.describe();
        case Result::NoOutput:
            return "printed nothing";
    }
    return "unknown result";
}

}  // namespace mb
