// SPDX-License-Identifier: MIT
#include "dialogs/dialog_session.h"

#include <cerrno>
#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

#include "dialogs/stdio_line.h"
#include "dialogs/x11_parent.h"

namespace mb::dialogs {

bool writeAnswer(const Answer& answer) { return writeAll(STDOUT_FILENO, encodeAnswer(answer)); }

void addKeyShortcut(GtkWidget* widget, guint key, GdkModifierType mods, GtkShortcutFunc fn,
                    gpointer data) {
    GtkEventController* controller = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(controller),
        gtk_shortcut_new(gtk_keyval_trigger_new(key, mods), gtk_callback_action_new(fn, data, nullptr)));
    gtk_widget_add_controller(widget, controller);
}

DialogSession::DialogSession(std::uint64_t parent, std::string activationToken)
    : parent_(parent), activationToken_(std::move(activationToken)), loop_(g_main_loop_new(nullptr, FALSE)) {}

DialogSession::~DialogSession() {
    if (afterPaint_ != 0) {
        g_signal_handler_disconnect(frameClock_, afterPaint_);
    }
    if (stdinWatch_ != 0) {
        g_source_remove(stdinWatch_);
    }
    if (window_ != nullptr) {
        gtk_window_destroy(window_);
    }
    g_main_loop_unref(loop_);
}

GtkWindow* DialogSession::createWindow(const char* title, int width, int height) {
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window_, title);
    gtk_window_set_default_size(window_, width, height);
    // Modal to the host's window, which the window manager learns from the
    // transient hint set at realize.
    gtk_window_set_modal(window_, parent_ != 0);
    g_signal_connect(window_, "close-request", G_CALLBACK(onCloseRequest), this);
    g_signal_connect(window_, "realize", G_CALLBACK(onRealize), this);
    addKeyShortcut(GTK_WIDGET(window_), GDK_KEY_Escape, GdkModifierType(0), onEscape, this);
    return window_;
}

void DialogSession::finish(const Answer& answer) {
    if (done_) {
        return;
    }
    writeAnswer(answer);
    stop(kExitAnswered);
}

void DialogSession::cancel() { finish(Answer::cancel()); }

int DialogSession::run() {
    if (!activationToken_.empty()) {
        // The compositor raises and focuses a window that shows the token it
        // handed to whoever started us; without it a Wayland dialog may open
        // behind the host.
        gtk_window_set_startup_id(window_, activationToken_.c_str());
    }
    int flags = fcntl(STDIN_FILENO, F_GETFL);
    if (flags >= 0) {
        fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);
    }
    stdinWatch_ = g_unix_fd_add(STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), onStdin, this);
    gtk_window_present(window_);
    if (!done_) {
        g_main_loop_run(loop_);
    }
    // While the dialog that filled the window still exists: destroying the
    // widgets fires their signals into it.
    if (afterPaint_ != 0) {
        g_signal_handler_disconnect(frameClock_, afterPaint_);
        afterPaint_ = 0;
    }
    gtk_window_destroy(window_);
    window_ = nullptr;
    return exitCode_;
}

void DialogSession::stop(int exitCode) {
    done_ = true;
    exitCode_ = exitCode;
    if (window_ != nullptr) {
        // Gone from the screen at once; destroyed when the loop is over.
        gtk_widget_set_visible(GTK_WIDGET(window_), FALSE);
    }
    g_main_loop_quit(loop_);
}

void DialogSession::hostGone() {
    if (!done_) {
        stop(kExitHostGone);
    }
}

gboolean DialogSession::onCloseRequest(GtkWindow*, gpointer self) {
    static_cast<DialogSession*>(self)->cancel();
    return TRUE;
}

gboolean DialogSession::onEscape(GtkWidget*, GVariant*, gpointer self) {
    static_cast<DialogSession*>(self)->cancel();
    return TRUE;
}

void DialogSession::onRealize(GtkWidget* widget, gpointer data) {
    auto* self = static_cast<DialogSession*>(data);
    if (self->parent_ != 0) {
        // Best effort: without the hint the dialog still works, unowned.
        setForeignTransientParent(GTK_WINDOW(widget), self->parent_);
    }
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget));
    g_signal_connect(surface, "notify::mapped", G_CALLBACK(onSurfaceMapped), self);
}

void DialogSession::onSurfaceMapped(GObject* surface, GParamSpec*, gpointer data) {
    auto* self = static_cast<DialogSession*>(data);
    if (self->shownSent_ || self->done_ || !gdk_surface_get_mapped(GDK_SURFACE(surface))) {
        return;
    }
    // Mapped is not yet drawn: "shown" waits for the first frame, so that
    // whoever acts on it (a test's keys, a screenshot) finds a usable window.
    GdkFrameClock* clock = gdk_surface_get_frame_clock(GDK_SURFACE(surface));
    self->afterPaint_ = g_signal_connect(clock, "after-paint", G_CALLBACK(onAfterPaint), self);
    self->frameClock_ = clock;
    gdk_surface_queue_render(GDK_SURFACE(surface));
}

void DialogSession::onAfterPaint(GdkFrameClock* clock, gpointer data) {
    auto* self = static_cast<DialogSession*>(data);
    g_signal_handler_disconnect(clock, self->afterPaint_);
    self->afterPaint_ = 0;
    self->frameClock_ = nullptr;
    if (self->shownSent_ || self->done_) {
        return;
    }
    self->shownSent_ = true;
    writeAnswer(Answer::shown());
}

gboolean DialogSession::onStdin(gint fd, GIOCondition, gpointer data) {
    auto* self = static_cast<DialogSession*>(data);
    // Nothing more is expected after the request; whatever comes is read
    // away, and only the end of the stream means something.
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return G_SOURCE_CONTINUE;
        }
        break;  // end of file, or an error that ends the stream all the same
    }
    self->stdinWatch_ = 0;
    self->hostGone();
    return G_SOURCE_REMOVE;
}

}  // namespace mb::dialogs
