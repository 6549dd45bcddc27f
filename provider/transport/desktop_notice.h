// SPDX-License-Identifier: MIT
// Telling the user on the desktop that a message they were told was sent has
// not gone: a notification through notify-send, once per message (the
// spooler keeps that it was raised in the message's retry record).
//
// Only on a desktop: DISPLAY, WAYLAND_DISPLAY or DBUS_SESSION_BUS_ADDRESS set
// and not empty. notify-send is run without a shell from PATH, with no
// standard streams, and given 5 seconds; a missing program or a failure is
// logged, never an error of the delivery.
#pragma once

#include <string>

namespace mb::provider {

// Whether this process's environment reaches a desktop.
bool desktopReachable();

// The notification's two texts: summary and body.
struct DesktopNotice {
    std::string summary;
    std::string body;
};

// subject is the message's Subject header as it stands (encoded words are
// decoded here); reason says why it waits or was refused; forGood: refused.
DesktopNotice describeUndelivered(const std::string& subject, const std::string& reason,
                                  bool forGood);

// Raises it; false (and a line in the provider log) when it could not be.
bool raiseDesktopNotice(const DesktopNotice& notice);

}  // namespace mb::provider
