// SPDX-License-Identifier: MIT
// "Select Names": the address book, searched as the user types, and the
// wells (To, Cc, Bcc) the request offers, filled from it.
//
// The book can hold thousands of entries, so it is a list view over a model
// (rows are made only for what is on screen), filtered by EntryFilter. Lists
// expand to their members in place. The wells are short and plain list boxes.
#pragma once

#include <gtk/gtk.h>
#include <optional>
#include <unordered_set>
#include <vector>

#include "dialogs/dialog_session.h"
#include "dialogs/entry_filter.h"
#include "dialogs/gobject_ref.h"
#include "dialogs/well_set.h"

namespace mb::dialogs {

class SelectNamesDialog : public ModalDialog {
  public:
    SelectNamesDialog(DialogSession& session, const Request& request);
    ~SelectNamesDialog() override;

  private:
    // The book.
    static void onBind(GtkSignalListItemFactory*, GtkListItem* item, gpointer self);
    static void onUnbind(GtkSignalListItemFactory*, GtkListItem* item, gpointer self);
    bool focusRow(guint position);
    static gboolean keepEntry(gpointer item, gpointer self);
    static GListModel* membersOf(gpointer item, gpointer self);
    static void onSearchChanged(GtkEditable*, gpointer self);
    static void onSearchActivate(GtkSearchEntry*, gpointer self);
    static gboolean onSearchKey(GtkEventControllerKey*, guint key, guint, GdkModifierType, gpointer self);
    static gboolean onBookKey(GtkEventControllerKey*, guint key, guint, GdkModifierType, gpointer self);
    static void onBookActivate(GtkListView*, guint position, gpointer self);
    std::vector<Entry> selectedEntries() const;
    std::optional<guint> firstSelected() const;
    void selectOnly(guint position);
    bool expandSelected(bool expand);

    // The wells.
    static void onAddActivate(GtkButton* button, gpointer self);
    static void onAddClicked(GtkButton* button, gpointer self);
    static void onRemoveClicked(GtkButton* button, gpointer self);
    static gboolean onWellKey(GtkEventControllerKey* controller, guint key, guint, GdkModifierType,
                              gpointer self);
    void add(std::size_t well, const std::vector<Entry>& entries);
    void remove(std::size_t well, std::size_t index, bool keepFocus);
    void refreshWell(std::size_t well, std::optional<std::size_t> select);

    static gboolean onConfirmKey(GtkWidget*, GVariant*, gpointer self);
    void confirm();

    DialogSession& session_;
    GtkWindow* window_ = nullptr;
    EntryFilter query_;
    GObjectRef<GtkCustomFilter> filter_;
    GtkTreeListModel* tree_ = nullptr;      // owned by the selection
    GtkMultiSelection* selection_ = nullptr;  // owned by the view
    GtkWidget* view_ = nullptr;
    std::unordered_set<GtkListItem*> bound_;  // the rows on screen
    GtkWidget* search_ = nullptr;
    GtkWidget* afterBook_ = nullptr;  // where Tab goes from the book
    WellSet wells_;
    std::vector<GtkListBox*> wellLists_;
};

}  // namespace mb::dialogs
