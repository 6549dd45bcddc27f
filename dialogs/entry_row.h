// SPDX-License-Identifier: MIT
// How an entry looks in every list of the dialogs: an icon for what it is (a
// person, a list, a directory user), its display name, and its address in a
// quieter second line, with one accessible label that says all three.
#pragma once

#include <gtk/gtk.h>
#include <string>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

const char* entryIconName(const Entry& entry);
// "person", "list", "directory user", translated.
const char* entryKindText(const Entry& entry);
// "Ann Example, ann@example.org, person", for screen readers.
std::string entryAccessibleLabel(const Entry& entry);

// An empty row content for a list view to fill again and again.
GtkWidget* newEntryRowContent(bool compact);
void setEntryRowContent(GtkWidget* content, const Entry& entry);

// A filled one, for list boxes.
GtkWidget* newEntryRow(const Entry& entry, bool compact);

// Adds the style classes that GTK themes use for a framed list.
GtkWidget* framedScroller(GtkWidget* child, int minHeight);

}  // namespace mb::dialogs
