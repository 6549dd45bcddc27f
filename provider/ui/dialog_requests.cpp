// SPDX-License-Identifier: MIT
#include "provider/ui/dialog_requests.h"

#include <filesystem>
#include <system_error>

#include "provider/com/diagnostics.h"

namespace mb::provider {
namespace {

dialogs::Entry toWire(const UiEntry& entry) {
    dialogs::Entry out{entry.displayName, entry.addressType, entry.address,
                       dialogs::toHex(entry.entryId), {}};
    for (const UiEntry& member : entry.members) {
        out.members.push_back(toWire(member));
    }
    return out;
}

std::optional<UiEntry> fromWire(const dialogs::Entry& entry) {
    std::optional<std::vector<std::uint8_t>> id = dialogs::fromHex(entry.id);
    if (!id) {
        return std::nullopt;
    }
    return UiEntry{entry.name, entry.type, entry.address, std::move(*id), {}};
}

dialogs::WellType wellOf(ULONG type) {
    return type == MAPI_CC ? dialogs::WellType::Cc
           : type == MAPI_BCC ? dialogs::WellType::Bcc
                              : dialogs::WellType::To;
}

ULONG typeOf(dialogs::WellType type) {
    return type == dialogs::WellType::Cc ? MAPI_CC
           : type == dialogs::WellType::Bcc ? MAPI_BCC
                                            : MAPI_TO;
}

// S_OK for an "ok" (or, for compose, "shown"); the failure otherwise.
HRESULT settle(const DialogOutcome& outcome, const char* dialog) {
    if (!outcome.answered) {
        reportProblem(std::string("cannot show ") + dialog + ": " + outcome.failure);
        return MAPI_E_CALL_FAILED;
    }
    switch (outcome.answer.kind) {
        case dialogs::Answer::Kind::Cancel:
            return MAPI_E_USER_CANCEL;
        case dialogs::Answer::Kind::Error:
            reportProblem(std::string("cannot show ") + dialog + ": " + outcome.answer.message);
            return MAPI_E_CALL_FAILED;
        case dialogs::Answer::Kind::Ok:
        case dialogs::Answer::Kind::Shown:
            break;
    }
    return S_OK;
}

HRESULT unfitting(const char* dialog, const std::string& what) {
    reportProblem(std::string("the answer of ") + dialog + " does not fit its question: " + what);
    return MAPI_E_CALL_FAILED;
}

}  // namespace

dialogs::Request checkNamesRequest(const UiNameQuery& query) {
    dialogs::Request request;
    request.dialog = dialogs::Dialog::CheckNames;
    request.parent = query.parent;
    request.text = query.text;
    for (const UiEntry& candidate : query.candidates) {
        request.candidates.push_back(toWire(candidate));
    }
    return request;
}

HRESULT applyCheckNames(const DialogOutcome& outcome, const UiNameQuery& query,
                        UiNameChoice& choice) {
    constexpr const char* kName = "Check Names";
    if (const HRESULT hr = settle(outcome, kName); FAILED(hr)) {
        return hr;
    }
    const dialogs::Answer& answer = outcome.answer;
    if (answer.oneOff) {
        choice.oneOff = true;
        choice.oneOffEntry = UiEntry{answer.oneOff->name.empty() ? answer.oneOff->address
                                                                 : answer.oneOff->name,
                                     "SMTP", answer.oneOff->address, {}, {}};
        return S_OK;  // the address is checked where it is used, as any typed one
    }
    if (!answer.pick || *answer.pick >= query.candidates.size()) {
        return unfitting(kName, "no candidate picked");
    }
    choice.oneOff = false;
    choice.index = *answer.pick;
    return S_OK;
}

dialogs::Request selectNamesRequest(const UiAddressDialog& dialog) {
    dialogs::Request request;
    request.dialog = dialogs::Dialog::SelectNames;
    request.parent = dialog.parent;
    request.caption = dialog.caption;
    for (const UiAddressDialog::Well& well : dialog.wells) {
        dialogs::Well wire{wellOf(well.type), {}};
        for (const UiEntry& entry : well.entries) {
            wire.entries.push_back(toWire(entry));
        }
        request.wells.push_back(std::move(wire));
    }
    for (const UiEntry& entry : dialog.addressBook) {
        request.book.push_back(toWire(entry));
    }
    return request;
}

HRESULT applySelectNames(const DialogOutcome& outcome, UiAddressDialog& dialog) {
    constexpr const char* kName = "Select Names";
    if (const HRESULT hr = settle(outcome, kName); FAILED(hr)) {
        return hr;
    }
    const std::vector<dialogs::Well>& wells = outcome.answer.wells;
    if (wells.size() != dialog.wells.size()) {
        return unfitting(kName, std::to_string(wells.size()) + " wells for " +
                                    std::to_string(dialog.wells.size()));
    }
    std::vector<UiAddressDialog::Well> chosen;
    for (std::size_t i = 0; i < wells.size(); ++i) {
        if (typeOf(wells[i].type) != dialog.wells[i].type) {
            return unfitting(kName, "the wells are not the ones offered");
        }
        UiAddressDialog::Well well{dialog.wells[i].type, {}};
        for (const dialogs::Entry& entry : wells[i].entries) {
            std::optional<UiEntry> back = fromWire(entry);
            if (!back) {
                return unfitting(kName, "an entry identifier is not hex");
            }
            well.entries.push_back(std::move(*back));
        }
        chosen.push_back(std::move(well));
    }
    dialog.wells = std::move(chosen);
    return S_OK;
}

dialogs::Request chooseProfileRequest(const UiLogon& logon) {
    dialogs::Request request;
    request.dialog = dialogs::Dialog::ChooseProfile;
    request.parent = logon.parent;
    for (const UiLogon::Choice& profile : logon.profiles) {
        request.profiles.push_back({profile.name, profile.displayName});
    }
    return request;
}

HRESULT applyChooseProfile(const DialogOutcome& outcome, const UiLogon& logon,
                           std::size_t& chosen) {
    constexpr const char* kName = "Choose Profile";
    if (const HRESULT hr = settle(outcome, kName); FAILED(hr)) {
        return hr;
    }
    if (!outcome.answer.pick || *outcome.answer.pick >= logon.profiles.size()) {
        return unfitting(kName, "no profile picked");
    }
    chosen = *outcome.answer.pick;
    return S_OK;
}

dialogs::Request composeRequest(const ComposeForm& form, const Directory* book) {
    dialogs::Request request;
    request.dialog = dialogs::Dialog::Compose;
    request.parent = form.parent;
    request.profile = form.profile;
    for (const ComposeForm::Recipient& r : form.recipients) {
        request.recipients.push_back({wellOf(r.type), r.displayName, r.address});
    }
    request.subject = form.subject;
    request.body = form.body;
    for (const std::string& path : form.attachmentPaths) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        request.attachments.push_back(
            {std::filesystem::path(path).filename().string(), path, error ? 0 : size});
    }
    request.draft = form.draftPath;
    for (std::size_t i = 0; book != nullptr && i < book->entries().size(); ++i) {
        const AbEntry& entry = book->entries()[i];
        if (!entry.memberOnly) {
            request.book.push_back(
                {entry.displayName, entry.addrType, entry.address, dialogs::toHex(entry.entryId), {}});
        }
    }
    return request;
}

HRESULT applyCompose(const DialogOutcome& outcome, const ComposeForm& form) {
    const HRESULT hr = settle(outcome, "the compose window");
    if (FAILED(hr) && hr != MAPI_E_USER_CANCEL) {
        reportProblem("the message stays in Drafts as " + form.draftPath);
    }
    return hr;
}

}  // namespace mb::provider
