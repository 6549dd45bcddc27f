// SPDX-License-Identifier: MIT
#include "dialogs/x11_parent.h"

#include <gdk/x11/gdkx.h>

namespace mb::dialogs {

bool isX11Window(GtkWindow* window) {
    return GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
}

bool setForeignTransientParent(GtkWindow* window, std::uint64_t parent) {
    // X resource ids are 29 bits; anything wider is no window of this server.
    if (parent == 0 || parent > 0x1FFFFFFFu || !isX11Window(window)) {
        return false;
    }
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (surface == nullptr || !GDK_IS_X11_SURFACE(surface)) {
        return false;
    }
    GdkDisplay* display = gdk_surface_get_display(surface);
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    ::Window own = gdk_x11_surface_get_xid(surface);
    auto foreign = static_cast<::Window>(parent);

    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes;
    // The server does not check the hint's value: a window that does not
    // exist would be written into it as readily as one that does.
    bool exists = XGetWindowAttributes(xdisplay, foreign, &attributes) != 0;
    if (exists && foreign != own) {
        XSetTransientForHint(xdisplay, own, foreign);
    }
    int error = gdk_x11_display_error_trap_pop(display);
    return exists && foreign != own && error == 0;
}

}  // namespace mb::dialogs
