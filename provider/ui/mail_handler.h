// SPDX-License-Identifier: MIT
// Whether the desktop's handler of mailto: links is a mail program or a web
// browser. A browser given a mailto: link opens a web mail page that knows
// nothing of the files xdg-email was asked to attach, so the compose window
// that keeps attachments is then our own.
#pragma once

#include <string>
#include <string_view>

namespace mb::provider {

// The desktop file id (e.g. "mail.desktop") that
// `xdg-mime query default x-scheme-handler/mailto` names; "" when xdg-mime is
// missing, fails, takes longer than a few seconds, or names none.
std::string mailtoHandler();

// The path of the desktop file with that id, looked up in
// $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS' applications
// folders (the XDG defaults when unset); a '-' in the id may stand for a
// sub-folder's '/'. "" when none exists.
std::string findDesktopFile(std::string_view id);

// Whether the [Desktop Entry] of a desktop file's text is a web browser: its
// Categories has WebBrowser, or its MimeType lists x-scheme-handler/http.
bool isWebBrowserEntry(std::string_view desktopFileText);

// What `compose = auto` picks: the user's mail program when the mailto:
// handler exists and is not a web browser (and xdg-email is on PATH);
// otherwise our own window.
bool autoComposesWithMailer();

}  // namespace mb::provider
