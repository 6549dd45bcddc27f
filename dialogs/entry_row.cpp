// SPDX-License-Identifier: MIT
#include "dialogs/entry_row.h"

#include <initializer_list>

#include "dialogs/i18n.h"

namespace mb::dialogs {

namespace {
constexpr const char* kIcon = "mb-icon";
constexpr const char* kName = "mb-name";
constexpr const char* kAddress = "mb-address";

std::string memberCount(std::size_t count) {
    gchar* text = g_strdup_printf(g_dngettext(GETTEXT_PACKAGE, "%zu member", "%zu members", count), count);
    std::string out = text;
    g_free(text);
    return out;
}
}  // namespace

const char* entryIconName(const Entry& entry) {
    if (entry.isList()) {
        return "system-users-symbolic";
    }
    if (entry.isDirectoryUser()) {
        return "network-workgroup-symbolic";
    }
    return "avatar-default-symbolic";
}

const char* entryKindText(const Entry& entry) {
    if (entry.isList()) {
        return _("list");
    }
    if (entry.isDirectoryUser()) {
        return _("directory user");
    }
    return _("person");
}

std::string entryAccessibleLabel(const Entry& entry) {
    std::string label = entry.name;
    if (!entry.address.empty() && entry.address != entry.name) {
        label += ", " + entry.address;
    }
    label += std::string(", ") + entryKindText(entry);
    if (entry.isList() && !entry.members.empty()) {
        label += ", " + memberCount(entry.members.size());
    }
    return label;
}

GtkWidget* newEntryRowContent(bool compact) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, compact ? 8 : 10);
    GtkWidget* icon = gtk_image_new();
    gtk_image_set_pixel_size(GTK_IMAGE(icon), compact ? 16 : 24);
    gtk_widget_set_valign(icon, GTK_ALIGN_CENTER);
    GtkWidget* name = gtk_label_new(nullptr);
    GtkWidget* address = gtk_label_new(nullptr);
    for (GtkWidget* label : {name, address}) {
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    }
    gtk_widget_add_css_class(address, "dim-label");
    gtk_box_append(GTK_BOX(box), icon);
    if (compact) {
        // One line: wells are short and many entries should fit.
        gtk_widget_set_hexpand(address, TRUE);
        gtk_box_append(GTK_BOX(box), name);
        gtk_box_append(GTK_BOX(box), address);
    } else {
        GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_set_hexpand(lines, TRUE);
        gtk_box_append(GTK_BOX(lines), name);
        gtk_box_append(GTK_BOX(lines), address);
        gtk_box_append(GTK_BOX(box), lines);
        gtk_widget_add_css_class(address, "caption");
    }
    g_object_set_data(G_OBJECT(box), kIcon, icon);
    g_object_set_data(G_OBJECT(box), kName, name);
    g_object_set_data(G_OBJECT(box), kAddress, address);
    gtk_widget_set_margin_top(box, compact ? 2 : 4);
    gtk_widget_set_margin_bottom(box, compact ? 2 : 4);
    gtk_widget_set_margin_start(box, 4);
    gtk_widget_set_margin_end(box, 4);
    return box;
}

void setEntryRowContent(GtkWidget* content, const Entry& entry) {
    auto* icon = GTK_IMAGE(g_object_get_data(G_OBJECT(content), kIcon));
    auto* name = GTK_LABEL(g_object_get_data(G_OBJECT(content), kName));
    auto* address = GTK_LABEL(g_object_get_data(G_OBJECT(content), kAddress));
    gtk_image_set_from_icon_name(icon, entryIconName(entry));
    gtk_widget_set_tooltip_text(GTK_WIDGET(icon), entryKindText(entry));
    gtk_label_set_text(name, entry.name.empty() ? entry.address.c_str() : entry.name.c_str());
    std::string second = entry.address;
    if (entry.isList() && !entry.members.empty()) {
        second = memberCount(entry.members.size());
    }
    gtk_label_set_text(address, second.c_str());
    gtk_widget_set_visible(GTK_WIDGET(address), !second.empty() && second != entry.name);
    gtk_accessible_update_property(GTK_ACCESSIBLE(content), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   entryAccessibleLabel(entry).c_str(), -1);
}

GtkWidget* newEntryRow(const Entry& entry, bool compact) {
    GtkWidget* content = newEntryRowContent(compact);
    setEntryRowContent(content, entry);
    return content;
}

GtkWidget* framedScroller(GtkWidget* child, int minHeight) {
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroller), minHeight);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), child);
    return scroller;
}

}  // namespace mb::dialogs
