// SPDX-License-Identifier: MIT
#include "provider/transport/desktop_notice.h"

#include <cstdlib>

#include "base/header_text.h"
#include "base/launcher.h"
#include "profiles/retry_record.h"
#include "provider/com/diagnostics.h"

namespace mb::provider {
namespace {

constexpr auto kNoticeTime = std::chrono::seconds(5);
// Notification servers show a few lines; the rest only clutters.
constexpr std::size_t kMaxSubject = 200;
constexpr std::size_t kMaxReason = 400;

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

bool desktopReachable() {
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("DBUS_SESSION_BUS_ADDRESS");
}

DesktopNotice describeUndelivered(const std::string& subject, const std::string& reason,
                                  bool forGood) {
    std::string shown = oneLineText(decodeHeaderText(subject), kMaxSubject);
    if (shown.empty()) {
        shown = "(no subject)";
    }
    DesktopNotice notice;
    notice.summary = (forGood ? "Mail not delivered: " : "Mail waits for you: ") + shown;
    notice.body = oneLineText(reason, kMaxReason);
    notice.body += forGood ? " The message was moved to Undeliverable."
                           : " It stays in the Outbox: fix the account, then run "
                             "mailbroker-client flush.";
    return notice;
}

bool raiseDesktopNotice(const DesktopNotice& notice) {
    mb::Command command;
    // A summary starting with '-' must not read as an option.
    command.argv = {"notify-send", "--app-name=mailbroker", "--", notice.summary, notice.body};
    command.searchPath = true;
    command.stdinMode = mb::Stdio::null();
    command.stdoutMode = mb::Stdio::null();
    command.stderrMode = mb::Stdio::null();
    command.group = mb::Command::Group::OwnGroup;
    std::error_code failed;
    mb::Process child = mb::Process::start(command, failed);
    if (failed) {
        reportProblem("cannot raise a desktop notification: notify-send: " + failed.message());
        return false;
    }
    const std::optional<mb::ExitStatus> status = child.wait(kNoticeTime);
    if (!status) {
        child.terminate();
        reportProblem("cannot raise a desktop notification: notify-send did not finish in time");
        return false;
    }
    if (!status->success()) {
        reportProblem("cannot raise a desktop notification: notify-send ended with " +
                      status->describe());
        return false;
    }
    return true;
}

}  // namespace mb::provider
