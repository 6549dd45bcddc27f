// SPDX-License-Identifier: MIT
// "Choose Profile": which of the user's profiles a logon uses.
#pragma once

#include <gtk/gtk.h>

#include "dialogs/dialog_session.h"

namespace mb::dialogs {

class ChooseProfileDialog : public ModalDialog {
  public:
    ChooseProfileDialog(DialogSession& session, const Request& request);

  private:
    static void onRowActivated(GtkListBox*, GtkListBoxRow*, gpointer self);
    static void onSelectionChanged(GtkListBox*, gpointer self);
    static void onOk(GtkButton*, gpointer self);
    void confirm();

    DialogSession& session_;
    GtkListBox* list_ = nullptr;
    GtkWidget* ok_ = nullptr;
};

}  // namespace mb::dialogs
