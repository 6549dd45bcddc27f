// SPDX-License-Identifier: MIT
// Translations: English source strings, text domain "mailbroker", catalogues
// under LOCALEDIR (set by the build).
#pragma once

#ifndef GETTEXT_PACKAGE
#define GETTEXT_PACKAGE "mailbroker"
#endif
#include <glib/gi18n.h>

namespace mb::dialogs {

// Takes the user's locale and binds the text domain; call before any _().
void initTranslations();

}  // namespace mb::dialogs
