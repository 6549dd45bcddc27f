// SPDX-License-Identifier: MIT
// The dialogs of a logon session: logon, name resolution, the address book
// and the compose window all go through one Ui, chosen by the profile's `ui`
// key. The headless driver answers from the script named by the environment
// variable MAILBROKER_UI_SCRIPT (format in ui/script.h), read when the session
// starts, and without one acts like a user who cancels every dialog, except
// that the compose window leaves the message in Drafts and succeeds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mapi/mapi.h"
#include "profiles/profiles.h"

namespace mb::provider {

struct ComposeForm {  // what the compose window shows
    std::uint64_t parent = 0;  // the host's window (an X11 window id), 0 for none
    std::string profile;       // the profile the message was made in
    struct Recipient {
        ULONG type;               // MAPI_TO, MAPI_CC or MAPI_BCC
        std::string displayName;  // UTF-8
        std::string address;
    };
    std::vector<Recipient> recipients;
    std::string subject, body;  // UTF-8
    std::vector<std::string>
        attachmentPaths;    // files holding each attachment's bytes, named as the attachment
    std::string draftPath;  // the .eml file in Drafts holding the whole message
};

// One address-book entry as a dialog shows it.
struct UiEntry {
    std::string displayName;    // UTF-8
    std::string addressType;    // "SMTP", "EX", "MAPIPDL" for a distribution list, "" unresolved
    std::string address;        // e-mail or X500 address; empty for a list
    std::vector<BYTE> entryId;  // empty for an unresolved name or a new one-off
    std::vector<UiEntry> members;  // a list's own members, one level, for showing only
};

// A name that did not resolve to exactly one entry.
struct UiNameQuery {
    std::uint64_t parent = 0;         // the host's window, 0 for none
    std::string text;                 // what the user typed, UTF-8
    std::vector<UiEntry> candidates;  // empty when nothing matched
};

// The user's answer to a name query: an index into candidates, or a new
// one-off SMTP recipient typed in the dialog.
struct UiNameChoice {
    bool oneOff = false;
    size_t index = 0;     // valid when !oneOff
    UiEntry oneOffEntry;  // valid when oneOff
};

// The address-book dialog: the wells it offers, each with a MAPI recipient
// type (MAPI_TO/CC/BCC) and the entries already in it.
struct UiAddressDialog {
    std::uint64_t parent = 0;  // the host's window, 0 for none
    std::string caption;  // UTF-8
    struct Well {
        ULONG type;
        std::vector<UiEntry> entries;
    };
    std::vector<Well> wells;           // may be empty: browse only
    std::vector<UiEntry> addressBook;  // every entry the dialog can offer
};

// The logon dialog: the profiles to choose from, none of them the default.
struct UiLogon {
    std::uint64_t parent = 0;
    struct Choice {
        std::string name, displayName;
    };
    std::vector<Choice> profiles;  // at least one
};

class Ui {  // one per logon session
  public:
    virtual ~Ui() = default;

    // The compose window. Headless without a script: the message stays in
    // Drafts and S_OK.
    virtual HRESULT showForm(const ComposeForm& form) = 0;

    // The logon dialog: S_OK with `chosen` an index into logon.profiles, or
    // MAPI_E_USER_CANCEL.
    virtual HRESULT logon(const UiLogon& logon, std::size_t& chosen) = 0;

    // Asks the user to settle a name that is ambiguous or unknown: S_OK with
    // choice set, or MAPI_E_USER_CANCEL.
    virtual HRESULT resolveName(const UiNameQuery& query, UiNameChoice& choice) = 0;

    // The address-book dialog: on S_OK dialog.wells holds the user's final
    // choice for each well; otherwise MAPI_E_USER_CANCEL and dialog unchanged.
    virtual HRESULT address(UiAddressDialog& dialog) = 0;
};

// The profile's driver: headless, desktop (ui/desktop.h), or for `auto` the
// desktop when one is present (autoChoosesDesktop). A script that cannot be read
// is reported through reportProblem ("PATH:LINE: what"), and every dialog of the
// driver then fails with MAPI_E_CORRUPT_DATA.
std::unique_ptr<Ui> makeUi(const Profile& profile);

// The headless driver, with the script named by MAILBROKER_UI_SCRIPT if any.
std::unique_ptr<Ui> makeHeadlessUi();

}  // namespace mb::provider
