// SPDX-License-Identifier: MIT
#include "dialogs/choose_profile_dialog.h"

#include <string>

#include "dialogs/dialog_widgets.h"
#include "dialogs/entry_row.h"
#include "dialogs/i18n.h"

namespace mb::dialogs {

namespace {

// The display name, and beneath it the profile's name when that differs
// (two profiles may share a display name; their names never clash).
GtkWidget* profileRow(const ProfileItem& profile, std::string& accessible) {
    const std::string& shown = profile.displayName.empty() ? profile.name : profile.displayName;
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_widget_set_margin_top(box, 6);
    gtk_widget_set_margin_bottom(box, 6);
    gtk_widget_set_margin_start(box, 6);
    gtk_widget_set_margin_end(box, 6);
    GtkWidget* icon = gtk_image_new_from_icon_name("x-office-address-book-symbolic");
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 24);
    gtk_box_append(GTK_BOX(box), icon);
    GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* title = gtk_label_new(shown.c_str());
    gtk_label_set_xalign(GTK_LABEL(title), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(title), PANGO_ELLIPSIZE_END);
    gtk_box_append(GTK_BOX(lines), title);
    accessible = shown;
    if (profile.name != shown) {
        gchar* text = g_strdup_printf(_("profile “%s”"), profile.name.c_str());
        GtkWidget* name = gtk_label_new(text);
        gtk_label_set_xalign(GTK_LABEL(name), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(name), PANGO_ELLIPSIZE_END);
        gtk_widget_add_css_class(name, "dim-label");
        gtk_widget_add_css_class(name, "caption");
        gtk_box_append(GTK_BOX(lines), name);
        accessible += std::string(", ") + text;
        g_free(text);
    }
    gtk_box_append(GTK_BOX(box), lines);
    return box;
}

}  // namespace

ChooseProfileDialog::ChooseProfileDialog(DialogSession& session, const Request& request)
    : session_(session) {
    GtkWindow* window = session.createWindow(_("Choose Profile"), 400, 340);
    GtkWidget* content = dialogContent(window);
    gtk_box_append(GTK_BOX(content), headingLabel(_("Which profile should this program use?")));

    list_ = GTK_LIST_BOX(gtk_list_box_new());
    gtk_list_box_set_selection_mode(list_, GTK_SELECTION_BROWSE);
    gtk_list_box_set_activate_on_single_click(list_, FALSE);
    for (const ProfileItem& profile : request.profiles) {
        std::string accessible;
        GtkWidget* row = profileRow(profile, accessible);
        appendLabelledRow(list_, row, accessible.c_str());
    }
    gtk_box_append(GTK_BOX(content), mnemonicLabel(_("_Profiles:"), GTK_WIDGET(list_)));
    GtkWidget* scroller = framedScroller(GTK_WIDGET(list_), 120);
    gtk_widget_set_vexpand(scroller, TRUE);
    gtk_box_append(GTK_BOX(content), scroller);
    if (request.profiles.empty()) {
        gtk_box_append(GTK_BOX(content), quietLabel(_("There is no profile to choose from.")));
    }

    GtkWidget* cancel = nullptr;
    gtk_box_append(GTK_BOX(content), buttonRow(window, _("_Cancel"), &cancel, &ok_));
    g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(+[](DialogSession* s) { s->cancel(); }),
                             &session_);
    g_signal_connect(ok_, "clicked", G_CALLBACK(onOk), this);
    g_signal_connect(list_, "row-activated", G_CALLBACK(onRowActivated), this);
    g_signal_connect(list_, "selected-rows-changed", G_CALLBACK(onSelectionChanged), this);

    if (GtkListBoxRow* first = gtk_list_box_get_row_at_index(list_, 0)) {
        gtk_list_box_select_row(list_, first);
        gtk_window_set_focus(window, GTK_WIDGET(first));
    }
    onSelectionChanged(list_, this);
}

void ChooseProfileDialog::confirm() {
    GtkListBoxRow* row = gtk_list_box_get_selected_row(list_);
    if (row == nullptr) {
        return;
    }
    session_.finish(Answer::picked(static_cast<std::size_t>(gtk_list_box_row_get_index(row))));
}

void ChooseProfileDialog::onRowActivated(GtkListBox*, GtkListBoxRow*, gpointer self) {
    static_cast<ChooseProfileDialog*>(self)->confirm();
}

void ChooseProfileDialog::onSelectionChanged(GtkListBox* list, gpointer data) {
    auto* self = static_cast<ChooseProfileDialog*>(data);
    gtk_widget_set_sensitive(self->ok_, gtk_list_box_get_selected_row(list) != nullptr);
}

void ChooseProfileDialog::onOk(GtkButton*, gpointer self) { static_cast<ChooseProfileDialog*>(self)->confirm(); }

}  // namespace mb::dialogs
