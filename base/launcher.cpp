// SPDX-License-Identifier: MIT
#include "base/launcher.h"

namespace mb {

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
