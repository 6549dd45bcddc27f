// SPDX-License-Identifier: MIT
#include "dialogs/dialog_widgets.h"

#include <initializer_list>

#include "dialogs/i18n.h"

namespace mb::dialogs {

GtkWidget* dialogContent(GtkWindow* window) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_window_set_child(window, box);
    return box;
}

GtkWidget* headingLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_widget_add_css_class(label, "heading");
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    gtk_label_set_attributes(GTK_LABEL(label), bold);
    pango_attr_list_unref(bold);
    return label;
}

GtkWidget* quietLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_widget_add_css_class(label, "dim-label");
    return label;
}

GtkWidget* mnemonicLabel(const char* text, GtkWidget* target) {
    GtkWidget* label = gtk_label_new_with_mnemonic(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), target);
    gtk_widget_set_margin_top(label, 6);
    gtk_accessible_update_relation(GTK_ACCESSIBLE(target), GTK_ACCESSIBLE_RELATION_LABELLED_BY, label,
                                   nullptr, -1);
    return label;
}

void appendLabelledRow(GtkListBox* list, GtkWidget* content, const char* label) {
    gtk_list_box_append(list, content);
    GtkWidget* row = gtk_widget_get_parent(content);
    gtk_accessible_update_property(GTK_ACCESSIBLE(row), GTK_ACCESSIBLE_PROPERTY_LABEL, label, -1);
}

GtkWidget* buttonRow(GtkWindow* window, const char* cancelLabel, GtkWidget** cancel, GtkWidget** ok) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    gtk_widget_set_margin_top(row, 10);
    *cancel = gtk_button_new_with_mnemonic(cancelLabel);
    *ok = gtk_button_new_with_mnemonic(_("_OK"));
    for (GtkWidget* button : {*cancel, *ok}) {
        gtk_widget_set_size_request(button, 88, -1);
        gtk_box_append(GTK_BOX(row), button);
    }
    gtk_widget_add_css_class(*ok, "suggested-action");
    gtk_window_set_default_widget(window, *ok);
    return row;
}

}  // namespace mb::dialogs
