// SPDX-License-Identifier: MIT
// Tying a dialog to the host's window on X11.
//
// The host names its window by X11 id; GTK 4 has no call for a parent window
// it did not create, so the WM_TRANSIENT_FOR hint is set through Xlib. That
// is what lets a window manager keep the dialog above the host and centre it
// there. The id comes from another process and may be stale or made up: it is
// checked first, and X errors are trapped, so a bad one only loses the hint.
#pragma once

#include <cstdint>
#include <gtk/gtk.h>

namespace mb::dialogs {

// window must be realized. True when the hint now names parent; false on
// another backend than X11, for 0, or for an id that is no window.
bool setForeignTransientParent(GtkWindow* window, std::uint64_t parent);

// Whether window's display is an X11 one.
bool isX11Window(GtkWindow* window);

}  // namespace mb::dialogs
