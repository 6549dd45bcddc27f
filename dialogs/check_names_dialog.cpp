// SPDX-License-Identifier: MIT
#include "dialogs/check_names_dialog.h"

#include <string>

#include "dialogs/check_names_choice.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/entry_row.h"
#include "dialogs/i18n.h"

namespace mb::dialogs {

namespace {

const char* problemText(provider::AddressProblem problem) {
    switch (problem) {
        case provider::AddressProblem::None:
            return "";
        case provider::AddressProblem::ControlCharacter:
            return _("An address cannot hold a line break or another control character.");
        case provider::AddressProblem::NotUtf8:
            return _("The address is not valid text.");
        case provider::AddressProblem::Malformed:
            return _("This is not an e-mail address (name@example.org).");
        case provider::AddressProblem::TooLong:
            return _("The address is too long for mail.");
    }
    return "";
}

}  // namespace

CheckNamesDialog::CheckNamesDialog(DialogSession& session, const Request& request)
    : session_(session), candidateCount_(request.candidates.size()) {
    GtkWindow* window = session.createWindow(_("Check Names"), 460, candidateCount_ > 0 ? 420 : 240);
    GtkWidget* content = dialogContent(window);

    std::string heading;
    gchar* text = nullptr;
    if (candidateCount_ > 0) {
        text = g_strdup_printf(_("“%s” is ambiguous: several entries match it."), request.text.c_str());
    } else {
        text = g_strdup_printf(_("“%s” is unknown: no entry matches it."),
                               request.text.c_str());
    }
    GtkWidget* title = headingLabel(text);
    g_free(text);
    gtk_box_append(GTK_BOX(content), title);

    field_ = gtk_entry_new();
    if (candidateCount_ > 0) {
        gtk_box_append(GTK_BOX(content),
                       quietLabel(_("Choose the entry you meant, or type an address to use instead.")));
        list_ = GTK_LIST_BOX(gtk_list_box_new());
        gtk_list_box_set_selection_mode(list_, GTK_SELECTION_BROWSE);
        gtk_list_box_set_activate_on_single_click(list_, FALSE);
        for (const Entry& candidate : request.candidates) {
            appendLabelledRow(list_, newEntryRow(candidate, false), entryAccessibleLabel(candidate).c_str());
        }
        GtkWidget* label = mnemonicLabel(_("_Matching entries:"), GTK_WIDGET(list_));
        gtk_box_append(GTK_BOX(content), label);
        GtkWidget* scroller = framedScroller(GTK_WIDGET(list_), 120);
        gtk_widget_set_vexpand(scroller, TRUE);
        gtk_box_append(GTK_BOX(content), scroller);
        GtkListBoxRow* first = gtk_list_box_get_row_at_index(list_, 0);
        gtk_list_box_select_row(list_, first);
        gtk_window_set_focus(window, GTK_WIDGET(first));
        g_signal_connect_swapped(list_, "selected-rows-changed", G_CALLBACK(onChanged), this);
        g_signal_connect(list_, "row-activated", G_CALLBACK(onRowActivated), this);
    } else {
        gtk_box_append(GTK_BOX(content), quietLabel(_("Type the address to send to.")));
        gtk_window_set_focus(window, field_);
    }

    gtk_box_append(GTK_BOX(content), mnemonicLabel(_("_Use this address:"), field_));
    gtk_entry_set_activates_default(GTK_ENTRY(field_), TRUE);
    gtk_entry_set_input_purpose(GTK_ENTRY(field_), GTK_INPUT_PURPOSE_EMAIL);
    gtk_entry_set_placeholder_text(GTK_ENTRY(field_), _("name@example.org"));
    gtk_box_append(GTK_BOX(content), field_);
    g_signal_connect_swapped(field_, "changed", G_CALLBACK(onChanged), this);

    hint_ = quietLabel("");
    gtk_widget_add_css_class(hint_, "error");
    gtk_widget_set_visible(hint_, FALSE);
    gtk_box_append(GTK_BOX(content), hint_);
    gtk_accessible_update_relation(GTK_ACCESSIBLE(field_), GTK_ACCESSIBLE_RELATION_DESCRIBED_BY, hint_,
                                   nullptr, -1);

    GtkWidget* cancel = nullptr;
    gtk_box_append(GTK_BOX(content), buttonRow(window, _("_Cancel"), &cancel, &ok_));
    g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(+[](DialogSession* s) { s->cancel(); }),
                             &session_);
    g_signal_connect(ok_, "clicked", G_CALLBACK(onOk), this);
    update();
}

std::optional<std::size_t> CheckNamesDialog::selected() const {
    if (list_ == nullptr) {
        return std::nullopt;
    }
    GtkListBoxRow* row = gtk_list_box_get_selected_row(list_);
    if (row == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(gtk_list_box_row_get_index(row));
}

void CheckNamesDialog::update() {
    CheckNamesChoice choice =
        judgeCheckNames(gtk_editable_get_text(GTK_EDITABLE(field_)), candidateCount_, selected());
    gtk_widget_set_sensitive(ok_, choice.answer.has_value());
    // A typed address replaces the list's choice; the list says so by
    // going grey.
    if (list_ != nullptr) {
        gtk_widget_set_sensitive(GTK_WIDGET(list_), !choice.typed);
    }
    bool bad = choice.typed && choice.problem != provider::AddressProblem::None;
    gtk_label_set_text(GTK_LABEL(hint_), problemText(choice.problem));
    gtk_widget_set_visible(hint_, bad);
    gtk_accessible_update_state(GTK_ACCESSIBLE(field_), GTK_ACCESSIBLE_STATE_INVALID,
                                bad ? GTK_ACCESSIBLE_INVALID_TRUE : GTK_ACCESSIBLE_INVALID_FALSE, -1);
}

void CheckNamesDialog::confirm() {
    CheckNamesChoice choice =
        judgeCheckNames(gtk_editable_get_text(GTK_EDITABLE(field_)), candidateCount_, selected());
    if (choice.answer) {
        session_.finish(*choice.answer);
    }
}

void CheckNamesDialog::onChanged(gpointer self) { static_cast<CheckNamesDialog*>(self)->update(); }

void CheckNamesDialog::onRowActivated(GtkListBox*, GtkListBoxRow*, gpointer self) {
    static_cast<CheckNamesDialog*>(self)->confirm();
}

void CheckNamesDialog::onOk(GtkButton*, gpointer self) { static_cast<CheckNamesDialog*>(self)->confirm(); }

}  // namespace mb::dialogs
