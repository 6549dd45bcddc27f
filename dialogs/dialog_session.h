// SPDX-License-Identifier: MIT
// One modal dialog's run, from the window's first frame to the one answer.
//
// Every dialog ends in exactly one of three ways: OK or Cancel write their
// result line; the end of stdin (the request's host is gone, and with it the
// Broker's interest) closes the window without a word. Escape and the window
// manager's close button count as Cancel. The session owns the window and the
// main loop; the dialog classes only fill the window and call finish().
#pragma once

#include <cstdint>
#include <gtk/gtk.h>
#include <string>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

// Exit codes of the program.
inline constexpr int kExitAnswered = 0;
inline constexpr int kExitFailed = 1;      // no display, or the window could not open
inline constexpr int kExitBadRequest = 2;  // the request could not be read
inline constexpr int kExitHostGone = 3;    // stdin ended before an answer

// Writes answer's line on stdout; false when nobody reads it any more.
bool writeAnswer(const Answer& answer);

// Calls fn(data) on key+mods anywhere in widget, before the focused child
// sees the key (Escape must cancel even from inside a search field).
void addKeyShortcut(GtkWidget* widget, guint key, GdkModifierType mods, GtkShortcutFunc fn,
                    gpointer data);

class DialogSession {
  public:
    // parent: the host's X11 window, 0 for none. activationToken: the
    // XDG_ACTIVATION_TOKEN this program was started with, "" for none.
    DialogSession(std::uint64_t parent, std::string activationToken);
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    // The dialog's window, with its fixed title and default size; Escape and
    // closing it cancel. The session keeps it.
    GtkWindow* createWindow(const char* title, int width, int height);

    // Ends the dialog with answer: writes it and stops the loop. Only the
    // first call counts.
    void finish(const Answer& answer);
    void cancel();

    // Shows the window and runs until the dialog ends; returns the exit code.
    int run();

  private:
    static gboolean onCloseRequest(GtkWindow*, gpointer self);
    static gboolean onEscape(GtkWidget*, GVariant*, gpointer self);
    static void onRealize(GtkWidget* widget, gpointer self);
    static void onSurfaceMapped(GObject* surface, GParamSpec*, gpointer self);
    static void onAfterPaint(GdkFrameClock* clock, gpointer self);
    static gboolean onStdin(gint fd, GIOCondition condition, gpointer self);
    void hostGone();
    void stop(int exitCode);

    std::uint64_t parent_;
    std::string activationToken_;
    GtkWindow* window_ = nullptr;
    GMainLoop* loop_ = nullptr;
    guint stdinWatch_ = 0;
    GdkFrameClock* frameClock_ = nullptr;
    gulong afterPaint_ = 0;
    bool shownSent_ = false;
    bool done_ = false;
    int exitCode_ = kExitAnswered;
};

// Base of the dialogs, so that main keeps whichever one it made.
class ModalDialog {
  public:
    virtual ~ModalDialog() = default;
};

}  // namespace mb::dialogs
