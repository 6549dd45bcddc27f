// SPDX-License-Identifier: MIT
// mailbroker-dialogs: one desktop dialog per run, for the provider's desktop
// driver. One request line comes on stdin, result lines go to stdout
// (provider/ui/dialog_protocol.h); exit codes in dialogs/dialog_session.h.
//
// Check Names, Select Names and Choose Profile are modal: they answer and
// end, or end without an answer when stdin does. The compose window is not:
// it runs detached (dialogs/detach.h) and outlives its request.
#include <csignal>
#include <cstdlib>
#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "dialogs/check_names_dialog.h"
#include "dialogs/compose_window.h"
#include "dialogs/choose_profile_dialog.h"
#include "dialogs/detach.h"
#include "dialogs/dialog_session.h"
#include "dialogs/gobject_ref.h"
#include "dialogs/i18n.h"
#include "dialogs/select_names_dialog.h"
#include "dialogs/stdio_line.h"
#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

void initTranslations() {
    setlocale(LC_ALL, "");
    bindtextdomain(GETTEXT_PACKAGE, LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    textdomain(GETTEXT_PACKAGE);
}

namespace {

// The token that lets a Wayland compositor give our window the focus. Taken
// out of the environment before GTK starts, so that it is used for our window
// only and passed on to nothing we might start.
std::string takeActivationToken() {
    const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
    std::string out = token != nullptr ? token : "";
    unsetenv("XDG_ACTIVATION_TOKEN");
    return out;
}

// A dialog lives for seconds and draws a few lists and buttons: GTK's GL
// renderer costs more to start (a GL context, the driver's libraries) than it
// ever saves in drawing. Measured under Xvfb (bench/dialogs_startup.py, 20
// runs), the cairo renderer shows Check Names in 207 ms instead of 443 and
// peaks at 91 MB instead of 165. A user's own GSK_RENDERER still wins.
void preferCairoRenderer() { g_setenv("GSK_RENDERER", "cairo", FALSE); }

// What the compose window's onShown writes (see onComposeActivate).
[[maybe_unused]] std::string shownLine() { return encodeAnswer(Answer::shown()); }

const char* kNoDisplay = "cannot open the display (DISPLAY or WAYLAND_DISPLAY)";

int runModal(const Request& request, const std::string& token) {
    if (!gtk_init_check()) {
        writeAnswer(Answer::error(kNoDisplay));
        return kExitFailed;
    }
    DialogSession session(request.parent, token);
    std::unique_ptr<ModalDialog> dialog;
    switch (request.dialog) {
        case Dialog::CheckNames:
            dialog = std::make_unique<CheckNamesDialog>(session, request);
            break;
        case Dialog::SelectNames:
            dialog = std::make_unique<SelectNamesDialog>(session, request);
            break;
        case Dialog::ChooseProfile:
            dialog = std::make_unique<ChooseProfileDialog>(session, request);
            break;
        case Dialog::Compose:
            return kExitFailed;  // not modal; runCompose takes it
    }
    return session.run();
}

// The compose window's process, in a session of its own (see detach.h).
struct ComposeRun {
    const Request& request;
    DetachedChild& child;
    int exitCode = kExitAnswered;
};

void onComposeActivate(GtkApplication* app, gpointer data) {
    auto* run = static_cast<ComposeRun*>(data);
    presentComposeWindow(app, run->request, [run] { run->child.shown(shownLine()); });
}

int runComposeChild(const Request& request, const std::string& token, DetachedChild& child) {
    if (!token.empty()) {
        // The compose window is made elsewhere; the token goes back where
        // GTK's start-up and that window can find it.
        setenv("XDG_ACTIVATION_TOKEN", token.c_str(), 1);
    }
    if (!gtk_init_check()) {
        writeAnswer(Answer::error(kNoDisplay));
        child.answered();
        return kExitFailed;
    }
    ComposeRun run{request, child};
    // No application id: nothing to register on the session bus, and every
    // compose window is a process of its own.
    GObjectRef<GtkApplication> app(gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE));
    g_signal_connect(app.get(), "activate", G_CALLBACK(onComposeActivate), &run);
    int status = g_application_run(G_APPLICATION(app.get()), 0, nullptr);
    return status != 0 ? status : run.exitCode;
}

int runCompose(const Request& request, const std::string& token) {
    int code = runDetached([&](DetachedChild& child) { return runComposeChild(request, token, child); },
                           encodeAnswer(Answer::error("the compose window ended before it was shown")));
    if (code < 0) {
        writeAnswer(Answer::error("cannot start the compose window: fork failed"));
        return kExitFailed;
    }
    return code;
}

}  // namespace
}  // namespace mb::dialogs

int main() {
    using namespace mb::dialogs;
    // A driver that is gone must not kill us before the window closes.
    std::signal(SIGPIPE, SIG_IGN);
    initTranslations();

    RequestLine line = readRequestLine(STDIN_FILENO, kMaxLineBytes);
    if (!line.error.empty()) {
        writeAnswer(Answer::error(line.error));
        return kExitBadRequest;
    }
    std::string error;
    std::optional<Request> request = decodeRequest(line.text, error);
    if (!request) {
        writeAnswer(Answer::error("the request cannot be read: " + error));
        return kExitBadRequest;
    }
    std::string token = takeActivationToken();
    preferCairoRenderer();
    if (request->dialog == Dialog::Compose) {
        return runCompose(*request, token);
    }
    if (line.endOfFile) {
        // The host was gone before the dialog could show.
        return kExitHostGone;
    }
    return runModal(*request, token);
}
