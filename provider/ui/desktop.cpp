// SPDX-License-Identifier: MIT
#include "provider/ui/desktop.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "provider/com/diagnostics.h"
#include "provider/contacts/directory.h"
#include "provider/ui/dialog_requests.h"
#include "provider/ui/mail_handler.h"

namespace mb::provider {
namespace {

namespace fs = std::filesystem;

// xdg-email percent-encodes the body into one argument of the mail program,
// three bytes for one; the kernel takes at most 128 KiB per argument.
constexpr size_t kBodyLimit = 24 * 1024;

bool isSafeByte(unsigned char c) {
    return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || (c != 0 && std::strchr("/._-+@:~()", c) != nullptr);
}

// A blank between two other characters of one name survives every hop.
bool isInnerBlank(const std::string& text, size_t i) {
    const auto word = [&](size_t j) {
        return text[j] != '/' && isSafeByte(static_cast<unsigned char>(text[j]));
    };
    return text[i] == ' ' && i > 0 && i + 1 < text.size() && word(i - 1) && word(i + 1);
}

std::string safeName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const bool keep = (isSafeByte(static_cast<unsigned char>(name[i])) && name[i] != '/') ||
                          isInnerBlank(name, i);
        out += keep ? name[i] : '_';
    }
    return out;
}

// The body cut at a character boundary.
std::string cutBody(const std::string& body) {
    size_t end = kBodyLimit;
    while (end > 0 && (static_cast<unsigned char>(body[end]) & 0xC0) == 0x80) {
        --end;
    }
    return body.substr(0, end);
}

// RFC 6068: every byte but the unreserved ones escaped, line breaks as CRLF.
std::string mailtoEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (c == '\n') {
            out += "%0D%0A";
        } else if ((c < 0x80 && std::isalnum(c)) || (c != 0 && std::strchr("-._~", c) != nullptr)) {
            out += static_cast<char>(c);
        } else {
            out += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

const char* exitMeaning(int code) {
    switch (code) {  // xdg-email's documented exit codes
        case 1:
            return "syntax error";
        case 2:
            return "an attachment file does not exist";
        case 3:
            return "no tool for the job was found";
        case 4:
            return "the mail program failed";
        case 5:
            return "an attachment file cannot be read";
        default:
            return "failed";
    }
}

class DesktopUi final : public Ui {
  public:
    DesktopUi(Profile profile, std::chrono::milliseconds wait)
        : profile_(std::move(profile)), wait_(wait) {}

    HRESULT showForm(const ComposeForm& form) override {
        pruneForms(profile_.storePath + "/forms", kFormLifetime);
        const bool mailer = profile_.compose == ComposeWindow::Mailer ||
                            (profile_.compose == ComposeWindow::Auto && autoComposesWithMailer());
        if (!mailer) {
            const std::shared_ptr<const Directory> book = Directory::load(profile_.addressBooks);
            return applyCompose(runDialog(composeRequest(form, book.get())), form);
        }
        return showInMailer(form);
    }

    HRESULT logon(const UiLogon& logon, std::size_t& chosen) override {
        return applyChooseProfile(runDialog(chooseProfileRequest(logon)), logon, chosen);
    }

    HRESULT resolveName(const UiNameQuery& query, UiNameChoice& choice) override {
        return applyCheckNames(runDialog(checkNamesRequest(query)), query, choice);
    }

    HRESULT address(UiAddressDialog& dialog) override {
        return applySelectNames(runDialog(selectNamesRequest(dialog)), dialog);
    }

  private:
    // The user's own mail program, through xdg-email.
    HRESULT showInMailer(const ComposeForm& form) {
        const std::string kept = "; the message stays in Drafts as " + form.draftPath;
        const std::string program = findOnPath("xdg-email");
        if (program.empty()) {
            reportProblem("cannot open the compose window: xdg-email is not on PATH" + kept);
            return MAPI_E_CALL_FAILED;
        }
        std::vector<std::string> attachments;
        for (size_t i = 0; i < form.attachmentPaths.size(); ++i) {
            const std::string& path = form.attachmentPaths[i];
            const std::string linkRoot = fs::path(path).parent_path().string() + "/mailer";
            std::string given = mailerPathFor(path, linkRoot, i + 1);
            if (given.empty()) {
                reportProblem("cannot hand " + path + " to the mail program" + kept);
                return MAPI_E_CALL_FAILED;
            }
            if (!isPathSafeForMailer(given)) {
                reportProblem("the store's path may reach the mail program garbled: " + given);
            }
            attachments.push_back(std::move(given));
        }
        ComposeForm shown = form;
        if (shown.body.size() > kBodyLimit) {
            shown.body = cutBody(shown.body);
            reportProblem("the compose window shows the body's first " +
                          std::to_string(shown.body.size()) + " bytes" + kept);
        }
        const LaunchResult run =
            launchDetached(program, xdgEmailArguments(shown, attachments), wait_);
        switch (run.kind) {
            case LaunchResult::Kind::StillRunning:  // the mail program has the message
                return S_OK;
            case LaunchResult::Kind::NotStarted:
                reportProblem("cannot run " + program + ": " +
                              std::generic_category().message(run.error) + kept);
                return MAPI_E_CALL_FAILED;
            case LaunchResult::Kind::Exited:
                break;
        }
        if (run.exitCode == 0) {
            return S_OK;
        }
        reportProblem(program + " exited with " + std::to_string(run.exitCode) + " (" +
                      exitMeaning(run.exitCode) + ")" + kept);
        return MAPI_E_CALL_FAILED;
    }

    const Profile profile_;
    const std::chrono::milliseconds wait_;
};

}  // namespace

bool desktopSessionPresent() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

bool autoChoosesDesktop() {
    return getenv("MAILBROKER_UI_SCRIPT") == nullptr && desktopSessionPresent();
}

std::string findOnPath(const std::string& name) {
    const char* path = getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return "";
        }
        rest.remove_prefix(colon + 1);
    }
}

bool isPathSafeForMailer(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (size_t i = 0; i < path.size(); ++i) {
        if (!isSafeByte(static_cast<unsigned char>(path[i])) && !isInnerBlank(path, i)) {
            return false;
        }
    }
    return true;
}

std::string mailerPathFor(const std::string& path, const std::string& linkRoot, size_t number) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        return "";
    }
    if (isPathSafeForMailer(resolved)) {
        return resolved;
    }
    const std::string dir = linkRoot + "/" + std::to_string(number);
    const std::string link = dir + "/" + safeName(fs::path(resolved).filename().string());
    std::error_code error;
    fs::create_directories(dir, error);
    fs::remove(link, error);
    if (error) {
        return "";
    }
    fs::create_hard_link(resolved, link, error);
    if (error) {  // a file system without hard links
        fs::copy_file(resolved, link, error);
    }
    if (error || ::realpath(link.c_str(), resolved) == nullptr) {
        return "";
    }
    return resolved;
}

std::vector<std::string> xdgEmailArguments(const ComposeForm& form,
                                           const std::vector<std::string>& attachments) {
    std::vector<std::string> args{"--utf8"};
    std::vector<std::string> to;
    for (const ComposeForm::Recipient& r : form.recipients) {
        if (r.address.empty()) {
            continue;
        }
        if (r.type == MAPI_CC || r.type == MAPI_BCC) {
            args.insert(args.end(), {r.type == MAPI_CC ? "--cc" : "--bcc", r.address});
        } else if (r.address.find('@') == std::string::npos || r.address.front() == '-' ||
                   r.address.starts_with("mailto:")) {
            args.insert(args.end(), {"--to", r.address});
        } else {
            to.push_back(r.address);
        }
    }
    if (form.subject.find('\\') != std::string::npos || form.body.find('\\') != std::string::npos) {
        // xdg-email passes --subject and --body through echo, which takes a
        // backslash as an escape; a URI of our own it leaves alone.
        std::string uri = "mailto:?";
        if (!form.subject.empty()) {
            uri += "subject=" + mailtoEncode(form.subject);
        }
        if (!form.body.empty()) {
            uri += (form.subject.empty() ? "body=" : "&body=") + mailtoEncode(form.body);
        }
        args.insert(args.begin() + 1, uri);
    } else {
        if (!form.subject.empty()) {
            args.insert(args.end(), {"--subject", form.subject});
        }
        if (!form.body.empty()) {
            args.insert(args.end(), {"--body", form.body});
        }
    }
    for (const std::string& file : attachments) {
        args.insert(args.end(), {"--attach", file});
    }
    args.insert(args.end(), to.begin(), to.end());
    return args;
}

void pruneForms(const std::string& formsRoot, std::chrono::seconds maxAge) {
    std::error_code error;
    const auto oldest = fs::file_time_type::clock::now() - maxAge;
    for (fs::directory_iterator it(formsRoot, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && it->last_write_time(ignored) < oldest && !ignored) {
            fs::remove_all(it->path(), ignored);
        }
    }
}

std::unique_ptr<Ui> makeDesktopUi(Profile profile, std::chrono::milliseconds wait) {
    return std::make_unique<DesktopUi>(std::move(profile), wait);
}

}  // namespace mb::provider
