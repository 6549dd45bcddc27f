// mailbroker-dialogs as the compose window's developer runs it: one request
// line on stdin, the window presented, {"event":"shown"} once it is up. The
// program's own main (the modal dialogs, the detaching) replaces this.
#include <gtk/gtk.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "dialogs/compose_window.h"
#include "provider/ui/dialog_protocol.h"

namespace {

std::optional<mb::dialogs::Request> gRequest;

void answer(const mb::dialogs::Answer& reply) {
    std::fputs(mb::dialogs::encodeAnswer(reply).c_str(), stdout);
    std::fflush(stdout);
}

void activate(GtkApplication* app, gpointer) {
    mb::dialogs::presentComposeWindow(app, *gRequest, [] {
        answer(mb::dialogs::Answer::shown());
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::string line;
    std::string error;
    if (!std::getline(std::cin, line)) {
        error = "no request on stdin";
    } else {
        gRequest = mb::dialogs::decodeRequest(line, error);
        if (gRequest && gRequest->dialog != mb::dialogs::Dialog::Compose) {
            error = "only the compose window is served here";
            gRequest.reset();
        }
    }
    if (!gRequest) {
        answer(mb::dialogs::Answer::error(error));
        return 1;
    }
    GtkApplication* app = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(activate), nullptr);
    const int status = g_application_run(G_APPLICATION(app), argc > 0 ? 1 : 0, argv);
    g_object_unref(app);
    return status;
}
