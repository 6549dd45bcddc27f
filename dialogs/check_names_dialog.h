// SPDX-License-Identifier: MIT
// "Check Names": the name the user typed matched several entries, or none.
// The user picks one of the candidates or types an address to use instead.
#pragma once

#include <gtk/gtk.h>
#include <optional>

#include "dialogs/dialog_session.h"

namespace mb::dialogs {

class CheckNamesDialog : public ModalDialog {
  public:
    CheckNamesDialog(DialogSession& session, const Request& request);

  private:
    static void onChanged(gpointer self);
    static void onRowActivated(GtkListBox*, GtkListBoxRow* row, gpointer self);
    static void onOk(GtkButton*, gpointer self);
    std::optional<std::size_t> selected() const;
    void update();
    void confirm();

    DialogSession& session_;
    std::size_t candidateCount_;
    GtkListBox* list_ = nullptr;
    GtkWidget* field_ = nullptr;
    GtkWidget* hint_ = nullptr;
    GtkWidget* ok_ = nullptr;
};

}  // namespace mb::dialogs
