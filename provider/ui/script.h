// SPDX-License-Identifier: MIT
// The script of the headless UI driver: what a user would do in each dialog.
//
// One answer per line, consumed in order by the dialogs of its kind (each
// kind keeps its own place). Blank lines and lines starting with '#' are
// ignored. A dialog whose kind has no answer left acts as if cancelled
// (the compose window as if sent to Drafts).
//
//   logon ok | logon cancel     ok takes the first profile offered
//   logon pick N                the Nth profile (from 1)
//   resolve pick N              the Nth candidate (from 1) for an ambiguous name
//   resolve address ADDR [NAME] a one-off SMTP recipient, e.g. for an unknown name
//   resolve cancel
//   address keep                OK with the wells as they are
//   address to: A; B | cc: C | bcc: D
//                               OK with these wells (a well left out ends up
//                               empty); each item an e-mail address, a display
//                               name or a unique prefix of one from the address
//                               book, or an unknown e-mail address (one-off)
//   address cancel
//   form ok | form cancel | form error 0x80004005
//
// Anything else fails the whole script with a message naming the line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapi/mapi.h"

namespace mb::provider {

enum class UiStepKind { Logon, Resolve, Address, Form };

struct UiStep {
    enum class Action { Ok, Cancel, Pick, OneOff, Keep, Choose, Error };
    UiStepKind kind = UiStepKind::Form;
    Action action = Action::Ok;
    std::size_t pick = 0;       // Pick (resolve, logon): from 1
    std::string address, name;  // OneOff
    HRESULT code = S_OK;        // Error
    struct Well {
        ULONG type;
        std::vector<std::string> items;
    };
    std::vector<Well> wells;  // Choose
};

class UiScript {
  public:
    // Parses text; on failure returns nullopt and sets error to "line N: what".
    static std::optional<UiScript> parse(std::string_view text, std::string& error);

    // The next answer of the kind, or nullopt when none is left.
    std::optional<UiStep> next(UiStepKind kind);

  private:
    std::vector<UiStep> steps_;
    std::size_t position_[4] = {0, 0, 0, 0};
};

}  // namespace mb::provider
