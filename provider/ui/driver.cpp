// SPDX-License-Identifier: MIT
#include "provider/ui/driver.h"

#include <stdlib.h>

#include <cstdio>
#include <mutex>
#include <optional>

#include "base/regular_file.h"
#include "provider/contacts/directory.h"
#include "provider/com/address_check.h"
#include "provider/com/diagnostics.h"
#include "provider/ui/desktop.h"
#include "provider/ui/script.h"

namespace mb::provider {
namespace {

// Far more than any dialog sequence needs; a larger file is not a script.
constexpr std::size_t kMaxScriptBytes = 16 * 1024 * 1024;

// The entry of the address book a script item names, or a one-off for an
// unknown e-mail address.
HRESULT pickEntry(const std::vector<UiEntry>& book, std::string_view item, UiEntry& out) {
    const auto level = [&](auto&& predicate) {
        std::vector<const UiEntry*> found;
        for (const UiEntry& e : book) {
            if (predicate(e)) {
                found.push_back(&e);
            }
        }
        return found;
    };
    std::vector<const UiEntry*> found = level([&](const UiEntry& e) {
        return !e.address.empty() && equalsIgnoringCase(e.address, item);
    });
    if (found.empty()) {
        found = level([&](const UiEntry& e) { return equalsIgnoringCase(e.displayName, item); });
    }
    if (found.empty()) {
        found =
            level([&](const UiEntry& e) { return startsWithIgnoringCase(e.displayName, item); });
    }
    if (found.size() > 1) {
        return MAPI_E_AMBIGUOUS_RECIP;
    }
    if (found.size() == 1) {
        out = *found.front();
        return S_OK;
    }
    if (const AddressProblem bad = checkAddress(item); bad != AddressProblem::None) {
        if (item.find('@') != std::string_view::npos) {
            reportProblem("UI script: address " + printableAddress(item) + " left out: it " +
                          describeAddressProblem(bad));
        }
        return MAPI_E_NOT_FOUND;
    }
    out = UiEntry{std::string(item), "SMTP", std::string(item), {}, {}};
    return S_OK;
}

class HeadlessUi final : public Ui {
  public:
    HeadlessUi(std::optional<UiScript> script, HRESULT failure)
        : script_(std::move(script)), failure_(failure) {}

    HRESULT showForm(const ComposeForm&) override {
        std::lock_guard guard(lock_);
        if (FAILED(failure_)) {
            return failure_;
        }
        const std::optional<UiStep> step = next(UiStepKind::Form);
        if (!step || step->action == UiStep::Action::Ok) {
            return S_OK;  // the message stays in Drafts
        }
        return step->action == UiStep::Action::Error ? step->code : MAPI_E_USER_CANCEL;
    }

    HRESULT logon(const UiLogon& logon, std::size_t& chosen) override {
        std::lock_guard guard(lock_);
        const std::optional<UiStep> step = next(UiStepKind::Logon);
        if (FAILED(failure_)) {
            return failure_;
        }
        if (!step || step->action == UiStep::Action::Cancel) {
            return MAPI_E_USER_CANCEL;
        }
        chosen = step->action == UiStep::Action::Pick ? step->pick - 1 : 0;
        // A script that picks a profile the dialog did not offer.
        return chosen < logon.profiles.size() ? S_OK : MAPI_E_NOT_FOUND;
    }

    HRESULT resolveName(const UiNameQuery& query, UiNameChoice& choice) override {
        std::lock_guard guard(lock_);
        if (FAILED(failure_)) {
            return failure_;
        }
        const std::optional<UiStep> step = next(UiStepKind::Resolve);
        if (!step || step->action == UiStep::Action::Cancel) {
            return MAPI_E_USER_CANCEL;
        }
        if (step->action == UiStep::Action::OneOff) {
            choice.oneOff = true;
            choice.oneOffEntry =
                UiEntry{step->name.empty() ? step->address : step->name, "SMTP", step->address, {}, {}};
            return S_OK;
        }
        if (step->pick > query.candidates.size()) {
            return MAPI_E_NOT_FOUND;  // the script picks a candidate the dialog did not offer
        }
        choice.oneOff = false;
        choice.index = step->pick - 1;
        return S_OK;
    }

    HRESULT address(UiAddressDialog& dialog) override {
        std::lock_guard guard(lock_);
        if (FAILED(failure_)) {
            return failure_;
        }
        const std::optional<UiStep> step = next(UiStepKind::Address);
        if (!step || step->action == UiStep::Action::Cancel) {
            return MAPI_E_USER_CANCEL;
        }
        if (step->action == UiStep::Action::Keep) {
            return S_OK;
        }
        std::vector<UiAddressDialog::Well> chosen = dialog.wells;
        for (UiAddressDialog::Well& well : chosen) {
            well.entries.clear();
        }
        for (const UiStep::Well& wanted : step->wells) {
            UiAddressDialog::Well* well = nullptr;
            for (UiAddressDialog::Well& w : chosen) {
                well = w.type == wanted.type ? &w : well;
            }
            if (well == nullptr) {
                return MAPI_E_INVALID_PARAMETER;  // the dialog has no such well
            }
            for (const std::string& item : wanted.items) {
                UiEntry entry;
                const HRESULT hr = pickEntry(dialog.addressBook, item, entry);
                if (FAILED(hr)) {
                    return hr;
                }
                well->entries.push_back(std::move(entry));
            }
        }
        dialog.wells = std::move(chosen);
        return S_OK;
    }

  private:
    std::optional<UiStep> next(UiStepKind kind) {
        return script_ ? script_->next(kind) : std::nullopt;
    }

    std::mutex lock_;
    std::optional<UiScript> script_;
    const HRESULT failure_;
};

}  // namespace

std::unique_ptr<Ui> makeHeadlessUi() {
    const char* path = getenv("MAILBROKER_UI_SCRIPT");
    if (path == nullptr || *path == '\0') {
        return std::make_unique<HeadlessUi>(std::nullopt, S_OK);
    }
    // Read without blocking: a FIFO or a device named as the script is
    // refused unopened instead of holding the request for good.
    std::string text;
    if (const int failure = readRegularFile(path, kMaxScriptBytes, text); failure != 0) {
        reportProblem(std::string(path) + ": cannot read the UI script: " +
                      regularFileFailureText(failure));
        return std::make_unique<HeadlessUi>(std::nullopt, MAPI_E_CORRUPT_DATA);
    }
    if (text.empty()) {
        return std::make_unique<HeadlessUi>(UiScript(), S_OK);  // an empty script
    }
    std::string error;
    std::optional<UiScript> script = UiScript::parse(text, error);
    if (!script) {
        reportProblem(std::string(path) + ":" + error.substr(5));
        return std::make_unique<HeadlessUi>(std::nullopt, MAPI_E_CORRUPT_DATA);
    }
    return std::make_unique<HeadlessUi>(std::move(script), S_OK);
}

std::unique_ptr<Ui> makeUi(const Profile& profile) {
    const bool desktop = profile.ui == UiDriver::Desktop ||
                         (profile.ui != UiDriver::Headless && autoChoosesDesktop());
    return desktop ? makeDesktopUi(profile) : makeHeadlessUi();
}

}  // namespace mb::provider
