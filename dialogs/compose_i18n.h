// SPDX-License-Identifier: MIT
// The compose window's strings go through the project's one text domain,
// whatever text domain the program's main() chose, so this header binds _()
// to "mailbroker" explicitly.
#pragma once

#ifndef GETTEXT_PACKAGE
#define GETTEXT_PACKAGE "mailbroker"
#endif
#include <glib/gi18n-lib.h>
