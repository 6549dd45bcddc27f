// SPDX-License-Identifier: MIT
#include "dialogs/select_names_dialog.h"

#include <string>

#include "dialogs/dialog_widgets.h"
#include "dialogs/entry_item.h"
#include "dialogs/entry_row.h"
#include "dialogs/gobject_ref.h"
#include "dialogs/i18n.h"

namespace mb::dialogs {

namespace {

constexpr const char* kWell = "mb-well";
constexpr const char* kIndex = "mb-index";
constexpr const char* kActivated = "mb-activated";

const char* addLabel(WellType type) {
    switch (type) {
        case WellType::To:
            return _("_To →");
        case WellType::Cc:
            return _("_Cc →");
        case WellType::Bcc:
            return _("_Bcc →");
    }
    return "";
}

const char* wellTitle(WellType type) {
    switch (type) {
        case WellType::To:
            return _("To");
        case WellType::Cc:
            return _("Cc");
        case WellType::Bcc:
            return _("Bcc");
    }
    return "";
}

void bookSetup(GtkSignalListItemFactory*, GtkListItem* item, gpointer) {
    GtkWidget* expander = gtk_tree_expander_new();
    gtk_tree_expander_set_child(GTK_TREE_EXPANDER(expander), newEntryRowContent(false));
    gtk_list_item_set_child(item, expander);
}

bool isDeleteKey(guint key) { return key == GDK_KEY_Delete || key == GDK_KEY_KP_Delete; }

}  // namespace

SelectNamesDialog::SelectNamesDialog(DialogSession& session, const Request& request)
    : session_(session), wells_(request.wells) {
    window_ = session.createWindow(_("Select Names"), request.wells.empty() ? 560 : 880, 560);
    GtkWidget* content = dialogContent(window_);
    if (!request.caption.empty()) {
        gtk_box_append(GTK_BOX(content), headingLabel(request.caption.c_str()));
    }

    GtkWidget* columns = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
    gtk_widget_set_vexpand(columns, TRUE);
    gtk_box_append(GTK_BOX(content), columns);

    // Left: the search and the book.
    GtkWidget* left = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_widget_set_hexpand(left, TRUE);
    gtk_box_append(GTK_BOX(columns), left);

    search_ = gtk_search_entry_new();
    g_object_set(search_, "placeholder-text", _("Name or address"), nullptr);
    GtkWidget* searchRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    GtkWidget* searchLabel = mnemonicLabel(_("_Search:"), search_);
    gtk_widget_set_margin_top(searchLabel, 0);
    gtk_box_append(GTK_BOX(searchRow), searchLabel);
    gtk_widget_set_hexpand(search_, TRUE);
    gtk_box_append(GTK_BOX(searchRow), search_);
    gtk_box_append(GTK_BOX(left), searchRow);

    // Each model takes over the reference to the one below it, the view the
    // selection's and the factory's.
    GListStore* store = newEntryStore(request.book);
    filter_.reset(gtk_custom_filter_new(keepEntry, this, nullptr));
    // The filter model takes a reference of its own; ours is for the destructor.
    GtkFilterListModel* filtered =
        gtk_filter_list_model_new(G_LIST_MODEL(store), GTK_FILTER(g_object_ref(filter_.get())));
    tree_ = gtk_tree_list_model_new(G_LIST_MODEL(filtered), FALSE, FALSE, membersOf, this, nullptr);
    selection_ = gtk_multi_selection_new(G_LIST_MODEL(tree_));
    GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
    g_signal_connect(factory, "setup", G_CALLBACK(bookSetup), nullptr);
    g_signal_connect(factory, "bind", G_CALLBACK(onBind), this);
    g_signal_connect(factory, "unbind", G_CALLBACK(onUnbind), this);
    view_ = gtk_list_view_new(GTK_SELECTION_MODEL(selection_), factory);
    gtk_accessible_update_property(GTK_ACCESSIBLE(view_), GTK_ACCESSIBLE_PROPERTY_LABEL, _("Address book"), -1);
    GtkWidget* bookScroller = framedScroller(view_, 200);
    gtk_widget_set_vexpand(bookScroller, TRUE);
    gtk_box_append(GTK_BOX(left), bookScroller);
    if (!wells_.wells().empty()) {
        gtk_box_append(GTK_BOX(left),
                       quietLabel(_("Return adds the selected entry to the first field; Right shows a "
                                    "list's members.")));
    }

    g_signal_connect(search_, "changed", G_CALLBACK(onSearchChanged), this);
    g_signal_connect(search_, "activate", G_CALLBACK(onSearchActivate), this);
    GtkEventController* searchKeys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(searchKeys, GTK_PHASE_CAPTURE);
    g_signal_connect(searchKeys, "key-pressed", G_CALLBACK(onSearchKey), this);
    gtk_widget_add_controller(search_, searchKeys);
    g_signal_connect(view_, "activate", G_CALLBACK(onBookActivate), this);
    GtkEventController* bookKeys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(bookKeys, GTK_PHASE_CAPTURE);
    g_signal_connect(bookKeys, "key-pressed", G_CALLBACK(onBookKey), this);
    gtk_widget_add_controller(view_, bookKeys);

    // Right: one button and one list per well.
    if (!wells_.wells().empty()) {
        GtkWidget* right = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(right), 10);
        gtk_grid_set_column_spacing(GTK_GRID(right), 10);
        gtk_widget_set_size_request(right, 360, -1);
        gtk_box_append(GTK_BOX(columns), right);
        for (std::size_t i = 0; i < wells_.size(); ++i) {
            WellType type = wells_.well(i).type;
            GtkWidget* button = gtk_button_new_with_mnemonic(addLabel(type));
            gtk_widget_set_valign(button, GTK_ALIGN_START);
            gtk_widget_set_size_request(button, 80, -1);
            g_object_set_data(G_OBJECT(button), kWell, GSIZE_TO_POINTER(i));
            g_signal_connect(button, "activate", G_CALLBACK(onAddActivate), this);
            g_signal_connect(button, "clicked", G_CALLBACK(onAddClicked), this);
            // Named by its well ("Cc", not "Cc →"), described by what it does.
            gchar* tip = g_strdup_printf(_("Add the selected entries to %s"), wellTitle(type));
            gtk_widget_set_tooltip_text(button, tip);
            gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL, wellTitle(type),
                                           GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, tip, -1);
            g_free(tip);

            auto* list = GTK_LIST_BOX(gtk_list_box_new());
            // Nothing is selected until the user goes there: three lit wells
            // would say nothing.
            gtk_list_box_set_selection_mode(list, GTK_SELECTION_SINGLE);
            g_object_set_data(G_OBJECT(list), kWell, GSIZE_TO_POINTER(i));
            GtkWidget* empty = gtk_label_new(_("No recipients"));
            gtk_widget_add_css_class(empty, "dim-label");
            gtk_list_box_set_placeholder(list, empty);
            gchar* name = g_strdup_printf(_("%s recipients"), wellTitle(type));
            gtk_accessible_update_property(GTK_ACCESSIBLE(list), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
            g_free(name);
            GtkEventController* keys = gtk_event_controller_key_new();
            g_signal_connect(keys, "key-pressed", G_CALLBACK(onWellKey), this);
            gtk_widget_add_controller(GTK_WIDGET(list), keys);
            wellLists_.push_back(list);

            GtkWidget* scroller = framedScroller(GTK_WIDGET(list), 60);
            gtk_widget_set_hexpand(scroller, TRUE);
            gtk_widget_set_vexpand(scroller, TRUE);
            if (afterBook_ == nullptr) {
                afterBook_ = button;
            }
            gtk_grid_attach(GTK_GRID(right), button, 0, static_cast<int>(i), 1, 1);
            gtk_grid_attach(GTK_GRID(right), scroller, 1, static_cast<int>(i), 1, 1);
            refreshWell(i, std::nullopt);
        }
    }

    GtkWidget* cancel = nullptr;
    GtkWidget* ok = nullptr;
    // Cancel has no mnemonic here: Alt+C belongs to Cc, and Escape cancels.
    gtk_box_append(GTK_BOX(content), buttonRow(window_, _("Cancel"), &cancel, &ok));
    if (afterBook_ == nullptr) {
        afterBook_ = cancel;
    }
    // Return belongs to the search and the book (they add); only Ctrl+Return
    // and the button confirm.
    gtk_window_set_default_widget(window_, nullptr);
    g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(+[](DialogSession* s) { s->cancel(); }),
                             &session_);
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(+[](SelectNamesDialog* d) { d->confirm(); }), this);
    addKeyShortcut(GTK_WIDGET(window_), GDK_KEY_Return, GDK_CONTROL_MASK, onConfirmKey, this);
    addKeyShortcut(GTK_WIDGET(window_), GDK_KEY_KP_Enter, GDK_CONTROL_MASK, onConfirmKey, this);

    selectOnly(0);
    gtk_window_set_focus(window_, search_);
}

SelectNamesDialog::~SelectNamesDialog() {
    // The filter calls back into this object; the model may outlive it
    // (the window is destroyed after the dialog), so cut the tie first.
    gtk_custom_filter_set_filter_func(filter_.get(), nullptr, nullptr, nullptr);
}

void SelectNamesDialog::onBind(GtkSignalListItemFactory*, GtkListItem* item, gpointer data) {
    auto* row = GTK_TREE_LIST_ROW(gtk_list_item_get_item(item));
    auto* expander = GTK_TREE_EXPANDER(gtk_list_item_get_child(item));
    gtk_tree_expander_set_list_row(expander, row);
    GObjectRef<MbEntryItem> entry(MB_ENTRY_ITEM(gtk_tree_list_row_get_item(row)));
    setEntryRowContent(gtk_tree_expander_get_child(expander), entryOf(entry.get()));
    static_cast<SelectNamesDialog*>(data)->bound_.insert(item);
}

void SelectNamesDialog::onUnbind(GtkSignalListItemFactory*, GtkListItem* item, gpointer data) {
    gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(gtk_list_item_get_child(item)), nullptr);
    static_cast<SelectNamesDialog*>(data)->bound_.erase(item);
}

// GTK 4.8 has no call to put the keyboard focus on a row of a list view,
// and the view's own focus starts at its first row, whatever is selected.
// The row's widget (the parent of what the factory made) can take focus
// itself when it is on screen, and the view follows it from there.
bool SelectNamesDialog::focusRow(guint position) {
    gtk_widget_activate_action(view_, "list.scroll-to-item", "u", position);
    for (GtkListItem* item : bound_) {
        if (gtk_list_item_get_position(item) == position) {
            GtkWidget* child = gtk_list_item_get_child(item);
            GtkWidget* row = child != nullptr ? gtk_widget_get_parent(child) : nullptr;
            return row != nullptr && gtk_widget_grab_focus(row);
        }
    }
    return gtk_widget_child_focus(view_, GTK_DIR_TAB_FORWARD);
}

gboolean SelectNamesDialog::keepEntry(gpointer item, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    return self->query_.matchesKey(searchKeyOf(MB_ENTRY_ITEM(item)));
}

GListModel* SelectNamesDialog::membersOf(gpointer item, gpointer) {
    const Entry& entry = entryOf(MB_ENTRY_ITEM(item));
    if (!entry.isList() || entry.members.empty()) {
        return nullptr;  // no expander
    }
    return G_LIST_MODEL(newEntryStore(entry.members));
}

void SelectNamesDialog::onSearchChanged(GtkEditable* editable, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    self->query_ = EntryFilter(gtk_editable_get_text(editable));
    gtk_filter_changed(GTK_FILTER(self->filter_.get()), GTK_FILTER_CHANGE_DIFFERENT);
    // The best match is ready for Return.
    self->selectOnly(0);
}

void SelectNamesDialog::onSearchActivate(GtkSearchEntry*, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    if (self->wells_.size() == 0) {
        return;
    }
    std::vector<Entry> chosen = self->selectedEntries();
    if (chosen.empty()) {
        return;
    }
    self->add(0, chosen);
}

gboolean SelectNamesDialog::onSearchKey(GtkEventControllerKey*, guint key, guint, GdkModifierType mods,
                                        gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    if ((key == GDK_KEY_Down || key == GDK_KEY_KP_Down) && (mods & GDK_MODIFIER_MASK) == 0) {
        // Into the book, at the match that is selected.
        self->focusRow(self->firstSelected().value_or(0));
        return TRUE;
    }
    return FALSE;
}

gboolean SelectNamesDialog::onBookKey(GtkEventControllerKey*, guint key, guint, GdkModifierType mods,
                                      gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    // GTK 4.8's list view takes Tab from row to row, which would hold the
    // keyboard in a book of a thousand entries: Tab leaves it instead.
    if (key == GDK_KEY_Tab || key == GDK_KEY_KP_Tab || key == GDK_KEY_ISO_Left_Tab) {
        bool back = key == GDK_KEY_ISO_Left_Tab || (mods & GDK_SHIFT_MASK) != 0;
        gtk_widget_grab_focus(back ? self->search_ : self->afterBook_);
        return TRUE;
    }
    if ((mods & (GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SHIFT_MASK)) != 0) {
        return FALSE;
    }
    switch (key) {
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right:
        case GDK_KEY_plus:
        case GDK_KEY_KP_Add:
            return self->expandSelected(true);
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left:
        case GDK_KEY_minus:
        case GDK_KEY_KP_Subtract:
            return self->expandSelected(false);
        default:
            return FALSE;
    }
}

bool SelectNamesDialog::expandSelected(bool expand) {
    std::optional<guint> position = firstSelected();
    if (!position) {
        return false;
    }
    GObjectRef<GtkTreeListRow> row(gtk_tree_list_model_get_row(tree_, *position));
    if (!row) {
        return false;
    }
    if (gtk_tree_list_row_is_expandable(row.get())) {
        gtk_tree_list_row_set_expanded(row.get(), expand);
        return true;
    }
    // On a member, Left goes back to its list and closes it.
    GObjectRef<GtkTreeListRow> parent(expand ? nullptr : gtk_tree_list_row_get_parent(row.get()));
    if (!parent) {
        return false;
    }
    guint at = gtk_tree_list_row_get_position(parent.get());
    gtk_tree_list_row_set_expanded(parent.get(), FALSE);
    selectOnly(at);
    focusRow(at);
    return true;
}

void SelectNamesDialog::onBookActivate(GtkListView*, guint position, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    if (self->wells_.size() == 0) {
        return;
    }
    // The activated row, or all the selected ones when it is one of them.
    if (!gtk_selection_model_is_selected(GTK_SELECTION_MODEL(self->selection_), position)) {
        self->selectOnly(position);
    }
    self->add(0, self->selectedEntries());
}

std::vector<Entry> SelectNamesDialog::selectedEntries() const {
    std::vector<Entry> entries;
    GtkBitset* selected = gtk_selection_model_get_selection(GTK_SELECTION_MODEL(selection_));
    GtkBitsetIter iter;
    guint position = 0;
    for (bool more = gtk_bitset_iter_init_first(&iter, selected, &position); more;
         more = gtk_bitset_iter_next(&iter, &position)) {
        GObjectRef<GtkTreeListRow> row(gtk_tree_list_model_get_row(tree_, position));
        if (!row) {
            continue;
        }
        GObjectRef<MbEntryItem> item(MB_ENTRY_ITEM(gtk_tree_list_row_get_item(row.get())));
        entries.push_back(entryOf(item.get()));
    }
    gtk_bitset_unref(selected);
    return entries;
}

std::optional<guint> SelectNamesDialog::firstSelected() const {
    GtkBitset* selected = gtk_selection_model_get_selection(GTK_SELECTION_MODEL(selection_));
    std::optional<guint> first;
    if (!gtk_bitset_is_empty(selected)) {
        first = gtk_bitset_get_minimum(selected);
    }
    gtk_bitset_unref(selected);
    return first;
}

void SelectNamesDialog::selectOnly(guint position) {
    if (position >= g_list_model_get_n_items(G_LIST_MODEL(tree_))) {
        gtk_selection_model_unselect_all(GTK_SELECTION_MODEL(selection_));
        return;
    }
    // Through the view, not the model: the view then also starts Shift+arrow
    // ranges from here.
    if (!gtk_widget_activate_action(view_, "list.select-item", "(ubb)", position, FALSE, FALSE)) {
        gtk_selection_model_select_item(GTK_SELECTION_MODEL(selection_), position, TRUE);
    }
    gtk_widget_activate_action(view_, "list.scroll-to-item", "u", position);
}

void SelectNamesDialog::add(std::size_t well, const std::vector<Entry>& entries) {
    if (well >= wells_.size()) {
        return;
    }
    bool added = false;
    for (const Entry& entry : entries) {
        added = wells_.add(well, entry) || added;
    }
    if (added) {
        refreshWell(well, std::nullopt);
    }
    // Typing a name and sending it off (Return, Alt+T/C/B) leaves the search
    // ready for the next name; browsing the book keeps its view.
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window_));
    if (focus != nullptr && (focus == search_ || gtk_widget_is_ancestor(focus, search_))) {
        gtk_editable_set_text(GTK_EDITABLE(search_), "");
    }
}

void SelectNamesDialog::remove(std::size_t well, std::size_t index, bool keepFocus) {
    if (!wells_.remove(well, index)) {
        return;
    }
    std::size_t count = wells_.well(well).entries.size();
    std::optional<std::size_t> next;
    if (count > 0) {
        next = index < count ? index : count - 1;
    }
    refreshWell(well, next);
    if (keepFocus) {
        GtkListBoxRow* row = next ? gtk_list_box_get_row_at_index(wellLists_[well], static_cast<int>(*next))
                                  : nullptr;
        gtk_widget_grab_focus(row != nullptr ? GTK_WIDGET(row) : search_);
    }
}

void SelectNamesDialog::refreshWell(std::size_t well, std::optional<std::size_t> select) {
    GtkListBox* list = wellLists_[well];
    while (GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, 0)) {
        gtk_list_box_remove(list, GTK_WIDGET(row));
    }
    const Well& w = wells_.well(well);
    for (std::size_t i = 0; i < w.entries.size(); ++i) {
        const Entry& entry = w.entries[i];
        GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
        GtkWidget* shown = newEntryRow(entry, true);
        gtk_widget_set_hexpand(shown, TRUE);
        gtk_box_append(GTK_BOX(line), shown);
        // For the mouse; the keyboard has Delete, so the button takes no focus.
        GtkWidget* removeButton = gtk_button_new_from_icon_name("window-close-symbolic");
        gtk_widget_add_css_class(removeButton, "flat");
        gtk_widget_set_focusable(removeButton, FALSE);
        gtk_widget_set_tooltip_text(removeButton, _("Remove (Delete)"));
        gchar* label = g_strdup_printf(_("Remove %s from %s"), entry.name.c_str(), wellTitle(w.type));
        gtk_accessible_update_property(GTK_ACCESSIBLE(removeButton), GTK_ACCESSIBLE_PROPERTY_LABEL, label, -1);
        g_free(label);
        g_object_set_data(G_OBJECT(removeButton), kWell, GSIZE_TO_POINTER(well));
        g_object_set_data(G_OBJECT(removeButton), kIndex, GSIZE_TO_POINTER(i));
        g_signal_connect(removeButton, "clicked", G_CALLBACK(onRemoveClicked), this);
        gtk_box_append(GTK_BOX(line), removeButton);
        appendLabelledRow(list, line, entryAccessibleLabel(entry).c_str());
    }
    if (select) {
        if (GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, static_cast<int>(*select))) {
            gtk_list_box_select_row(list, row);
        }
    }
}

// A button activated from the keyboard (its mnemonic, Space) says "clicked"
// only after its pressed look has shown for a quarter second; a quick Ctrl+
// Return would confirm before the entries were added. So the keyboard adds
// at once, and the late "clicked" that follows is let pass.
void SelectNamesDialog::onAddActivate(GtkButton* button, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    auto well = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kWell));
    self->add(well, self->selectedEntries());
    g_object_set_data(G_OBJECT(button), kActivated, GINT_TO_POINTER(1));
}

void SelectNamesDialog::onAddClicked(GtkButton* button, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    if (g_object_get_data(G_OBJECT(button), kActivated) != nullptr) {
        g_object_set_data(G_OBJECT(button), kActivated, nullptr);
        return;
    }
    auto well = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kWell));
    self->add(well, self->selectedEntries());
}

void SelectNamesDialog::onRemoveClicked(GtkButton* button, gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    auto well = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kWell));
    auto index = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kIndex));
    // The button goes with its row; GTK holds it until its signal is over.
    self->remove(well, index, false);
}

gboolean SelectNamesDialog::onWellKey(GtkEventControllerKey* controller, guint key, guint, GdkModifierType,
                                      gpointer data) {
    auto* self = static_cast<SelectNamesDialog*>(data);
    if (!isDeleteKey(key)) {
        return FALSE;
    }
    GtkWidget* list = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    // The row with the keyboard focus, which need not be selected yet.
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self->window_));
    GtkWidget* focused = focus != nullptr ? gtk_widget_get_ancestor(focus, GTK_TYPE_LIST_BOX_ROW) : nullptr;
    GtkListBoxRow* row = focused != nullptr && gtk_widget_is_ancestor(focused, list)
                             ? GTK_LIST_BOX_ROW(focused)
                             : gtk_list_box_get_selected_row(GTK_LIST_BOX(list));
    if (row == nullptr) {
        return FALSE;
    }
    auto well = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(list), kWell));
    self->remove(well, static_cast<std::size_t>(gtk_list_box_row_get_index(row)), true);
    return TRUE;
}

gboolean SelectNamesDialog::onConfirmKey(GtkWidget*, GVariant*, gpointer self) {
    static_cast<SelectNamesDialog*>(self)->confirm();
    return TRUE;
}

void SelectNamesDialog::confirm() {
    session_.finish(Answer::chosen(wells_.wells()));
}

}  // namespace mb::dialogs
