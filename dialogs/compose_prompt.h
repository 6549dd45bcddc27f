// SPDX-License-Identifier: MIT
// The compose window's small modal questions and error messages.
//
// Built by hand rather than with GtkMessageDialog, which later GTK releases
// deprecate: a transient window, a text, a row of buttons. Escape answers
// with the cancel choice, as does closing it.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace mb::dialogs {

struct PromptButton {
    std::string label;  // with a mnemonic: "_Keep"
    int value = 0;
};

// Shows the prompt and calls done with the chosen button's value, or with
// cancelValue on Escape or close. defaultButton has the focus at first.
void showPrompt(GtkWindow* parent, const std::string& title, const std::string& text,
                const std::vector<PromptButton>& buttons, int cancelValue, std::size_t defaultButton,
                std::function<void(int)> done);

// A message with one "_Close" button.
void showError(GtkWindow* parent, const std::string& title, const std::string& text);

}  // namespace mb::dialogs
