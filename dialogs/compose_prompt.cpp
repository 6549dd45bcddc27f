// SPDX-License-Identifier: MIT
#include "dialogs/compose_prompt.h"

#include "dialogs/compose_i18n.h"

namespace mb::dialogs {
namespace {

struct Prompt {
    std::function<void(int)> done;
    int cancelValue = 0;
    bool answered = false;

    void answer(GtkWindow* window, int value) {
        if (answered) {
            return;
        }
        answered = true;
        // The callback may open the next prompt or destroy the parent, so
        // this window goes first.
        auto callback = std::move(done);
        gtk_window_destroy(window);
        callback(value);
    }
};

}  // namespace

void showPrompt(GtkWindow* parent, const std::string& title, const std::string& text,
                const std::vector<PromptButton>& buttons, int cancelValue, std::size_t defaultButton,
                std::function<void(int)> done) {
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    gtk_window_set_titlebar(GTK_WINDOW(window), gtk_header_bar_new());
    gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(window), TRUE);

    auto* prompt = new Prompt{std::move(done), cancelValue, false};
    g_object_set_data_full(G_OBJECT(window), "mb-prompt", prompt,
                           [](gpointer data) { delete static_cast<Prompt*>(data); });

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 18);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_widget_set_focusable(label, FALSE);
    gtk_box_append(GTK_BOX(box), label);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    GtkWidget* focus = nullptr;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        GtkWidget* button = gtk_button_new_with_mnemonic(buttons[i].label.c_str());
        g_object_set_data(G_OBJECT(button), "mb-value", GINT_TO_POINTER(buttons[i].value));
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* self, gpointer win) {
                             auto* p = static_cast<Prompt*>(g_object_get_data(G_OBJECT(win), "mb-prompt"));
                             p->answer(GTK_WINDOW(win),
                                       GPOINTER_TO_INT(g_object_get_data(G_OBJECT(self), "mb-value")));
                         }),
                         window);
        if (i == defaultButton) {
            gtk_widget_add_css_class(button, "suggested-action");
            focus = button;
        }
        gtk_box_append(GTK_BOX(row), button);
    }
    gtk_box_append(GTK_BOX(box), row);
    gtk_window_set_child(GTK_WINDOW(window), box);
    gtk_accessible_update_property(GTK_ACCESSIBLE(window), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   text.c_str(), -1);

    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, static_cast<GdkModifierType>(0)),
                         gtk_callback_action_new(
                             +[](GtkWidget* win, GVariant*, gpointer) -> gboolean {
                                 auto* p = static_cast<Prompt*>(
                                     g_object_get_data(G_OBJECT(win), "mb-prompt"));
                                 p->answer(GTK_WINDOW(win), p->cancelValue);
                                 return TRUE;
                             },
                             nullptr, nullptr)));
    gtk_widget_add_controller(window, keys);
    g_signal_connect(window, "close-request", G_CALLBACK(+[](GtkWindow* win, gpointer) -> gboolean {
                         auto* p = static_cast<Prompt*>(g_object_get_data(G_OBJECT(win), "mb-prompt"));
                         if (!p->answered) {
                             p->answer(win, p->cancelValue);
                         }
                         return TRUE;
                     }),
                     nullptr);
    gtk_window_present(GTK_WINDOW(window));
    if (focus != nullptr) {
        gtk_widget_grab_focus(focus);
    }
}

void showError(GtkWindow* parent, const std::string& title, const std::string& text) {
    showPrompt(parent, title, text, {{_("_Close"), 0}}, 0, 0, [](int) {});
}

}  // namespace mb::dialogs
