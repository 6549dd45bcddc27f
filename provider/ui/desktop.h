// SPDX-License-Identifier: MIT
// Dialogs on a desktop. Check Names, Select Names and Choose Profile are the
// dialog program's (ui/dialog_program.h). The compose window is, by the
// profile's `compose` key, the user's own mail program, opened through
// xdg-email with the recipients, subject, body and attachment files of the
// form, or the dialog program's own New Message window; the draft already
// sits in Drafts, so a compose window that never opens loses nothing.
//
// xdg-email runs without a shell and without our standard streams, in a
// session of its own. It may return at once or only when the mail program
// closes: after `wait` the call returns S_OK and xdg-email runs on, detached
// (its parent is gone, so init reaps it).
//
// Attachment files stay under <store>/forms/ for the mail program to read
// whenever it likes; each ShowForm removes the form folders older than
// kFormLifetime, long after any compose window has read its files.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "provider/ui/driver.h"

namespace mb::provider {

inline constexpr std::chrono::hours kFormLifetime{24 * 7};
inline constexpr std::chrono::seconds kFormWait{30};

// DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool desktopSessionPresent();

// What `ui = auto` picks: the desktop when a desktop session is present and
// MAILBROKER_UI_SCRIPT is not set at all (a script, even an empty one, means
// a test or a scripted run: headless).
bool autoChoosesDesktop();

// The executable file `name` on PATH, or "" when there is none.
std::string findOnPath(const std::string& name);

// Whether xdg-email and the mail programs it drives take the path as it is:
// a few ASCII punctuation marks, letters, digits, UTF-8 and single inner
// blanks. Commas, quotes, '&', backslashes and the like are split, unquoted or
// re-interpreted by one of them on the way.
bool isPathSafeForMailer(const std::string& path);

// A path the mail program can take for the attachment file `path`: the path
// itself when safe, otherwise a hard link (or copy) named like the file with
// each unsafe character made '_', in a numbered folder under `linkRoot` so
// that names never collide. Empty when no such file could be made.
std::string mailerPathFor(const std::string& path, const std::string& linkRoot, size_t number);

// xdg-email's arguments after the program name: --utf8, --cc, --bcc,
// --subject, --body, then each --attach, then the To addresses. A To address
// xdg-email would not take positionally (no '@', a leading '-', a mailto: URI)
// goes with --to instead. Recipients without an address and an empty subject
// or body are left out, which xdg-email requires. A subject or body with a
// backslash, which xdg-email would unescape, travel instead in a mailto: URI
// of ours right after --utf8.
std::vector<std::string> xdgEmailArguments(const ComposeForm& form,
                                           const std::vector<std::string>& attachments);

// The outcome of running a program for at most a while.
struct LaunchResult {
    enum class Kind { Exited, StillRunning, NotStarted };
    Kind kind = Kind::NotStarted;
    int exitCode = -1;  // Exited: the exit status, or 128 + signal
    int error = 0;      // NotStarted: errno
};

// Runs program with args (no shell), stdin/stdout/stderr on /dev/null, and
// waits for it at most `wait`; a program still running then is left to run on
// its own, never a zombie of ours.
LaunchResult launchDetached(const std::string& program, const std::vector<std::string>& args,
                            std::chrono::milliseconds wait);

// Removes the folders of <forms> whose last change is older than maxAge.
void pruneForms(const std::string& formsRoot, std::chrono::seconds maxAge);

// The desktop driver for the profile; `wait` is how long xdg-email may take
// before it is left to run on its own.
std::unique_ptr<Ui> makeDesktopUi(Profile profile, std::chrono::milliseconds wait = kFormWait);

}  // namespace mb::provider
