// SPDX-License-Identifier: MIT
// The pieces every dialog window is made of, so that the three look alike:
// margins, a heading, quiet explanatory text, labels that name the control
// they stand for (mnemonic and accessible name at once), and the button row.
#pragma once

#include <gtk/gtk.h>

namespace mb::dialogs {

// The window's content box, with the dialog margins, set as its child.
GtkWidget* dialogContent(GtkWindow* window);

// A wrapped heading in bold.
GtkWidget* headingLabel(const char* text);

// A wrapped, dimmed explanation.
GtkWidget* quietLabel(const char* text);

// A label with a mnemonic ("_Use this address:") that focuses target and
// gives target its accessible name.
GtkWidget* mnemonicLabel(const char* text, GtkWidget* target);

// Appends content to list as a new row that carries content's accessible
// label (a screen reader announces the row, not what is inside it).
void appendLabelledRow(GtkListBox* list, GtkWidget* content, const char* label);

// The row of Cancel and OK at the bottom right; OK is the window's default,
// so Return confirms from any field that passes Return on.
GtkWidget* buttonRow(GtkWindow* window, const char* cancelLabel, GtkWidget** cancel, GtkWidget** ok);

}  // namespace mb::dialogs
