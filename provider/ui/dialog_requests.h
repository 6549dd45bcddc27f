// SPDX-License-Identifier: MIT
// The desktop driver's dialogs in terms of the dialog program's protocol:
// each Ui call becomes a request, and the program's outcome becomes the
// call's result. Kept apart from running the program so that what reaches
// the provider from a dialog, a process that may be anything, can be tested
// on its own.
//
// Every outcome maps the same way: no answer (the program is missing,
// crashed or talked nonsense) and "error" are MAPI_E_CALL_FAILED with the
// reason in the provider log; "cancel" is MAPI_E_USER_CANCEL; an "ok" that
// does not fit the request (a pick outside the list, wells that are not the
// ones offered, an identifier that is not hex) is MAPI_E_CALL_FAILED too.
#pragma once

#include <cstddef>
#include <memory>

#include "provider/contacts/directory.h"
#include "provider/ui/dialog_program.h"
#include "provider/ui/driver.h"

namespace mb::provider {

dialogs::Request checkNamesRequest(const UiNameQuery& query);
HRESULT applyCheckNames(const DialogOutcome& outcome, const UiNameQuery& query,
                        UiNameChoice& choice);

dialogs::Request selectNamesRequest(const UiAddressDialog& dialog);
// On S_OK dialog.wells holds the user's choice; otherwise it is unchanged.
HRESULT applySelectNames(const DialogOutcome& outcome, UiAddressDialog& dialog);

dialogs::Request chooseProfileRequest(const UiLogon& logon);
HRESULT applyChooseProfile(const DialogOutcome& outcome, const UiLogon& logon,
                           std::size_t& chosen);

// The compose window's request; `book` (may be null) offers completion.
dialogs::Request composeRequest(const ComposeForm& form, const Directory* book);
// S_OK once the window is up.
HRESULT applyCompose(const DialogOutcome& outcome, const ComposeForm& form);

}  // namespace mb::provider
