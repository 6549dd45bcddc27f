#include "profiles/profiles.h"

#include <fcntl.h>
#include <ini.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/regular_file.h"

namespace mb::provider {
namespace {

constexpr const char* kSectionPrefix = "profile ";
constexpr std::size_t kMaxFileSize = 1024 * 1024;
constexpr const char* kSystemSendmail = "/usr/sbin/sendmail";
// inih keeps at most 49 characters of a section header.
constexpr std::size_t kMaxNameLength = 40;

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

// An XDG base directory: the variable when it holds an absolute path,
// otherwise the fallback under the home directory.
std::string xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return homeDirectory() + "/" + fallback;
}

std::string expandHome(const std::string& path) {
    if (path == "~") {
        return homeDirectory();
    }
    if (path.rfind("~/", 0) == 0) {
        return homeDirectory() + path.substr(1);
    }
    return path;
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool parseBool(const std::string& value, bool& out) {
    std::string lower;
    for (char c : value) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    if (lower == "true" || lower == "yes" || lower == "1") {
        out = true;
        return true;
    }
    if (lower == "false" || lower == "no" || lower == "0") {
        out = false;
        return true;
    }
    return false;
}

// An SMTP URL is scheme://host[:port][/]; credentials belong in their own
// keys, so that an error message quoting the URL never shows them.
bool validSmtpUrl(const std::string& value, std::size_t hostStart) {
    std::string authority = value.substr(hostStart);
    if (!authority.empty() && authority.back() == '/') {
        authority.pop_back();
    }
    if (authority.empty() || authority.find_first_of("@/?# \t") != std::string::npos) {
        return false;
    }
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.back() == ']') {
        return true;
    }
    const std::string port = authority.substr(colon + 1);
    return colon > 0 && !port.empty() && port.size() <= 5 &&
           port.find_first_not_of("0123456789") == std::string::npos && std::stoi(port) > 0 &&
           std::stoi(port) < 65536;
}

// imap://HOST[:PORT]/FOLDER or imaps://...: the same authority rules as an
// SMTP URL, and a folder that is one line.
bool validSentCopy(const std::string& value) {
    const std::size_t hostStart = value.rfind("imap://", 0) == 0    ? 7
                                  : value.rfind("imaps://", 0) == 0 ? 8
                                                                    : 0;
    if (hostStart == 0) {
        return false;
    }
    const std::size_t slash = value.find('/', hostStart);
    if (slash == std::string::npos || slash + 1 == value.size() ||
        !validSmtpUrl(value.substr(0, slash), hostStart)) {
        return false;
    }
    for (std::size_t i = slash + 1; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool validTransport(const std::string& value) {
    return value == "none" || value == "sendmail" ||
           (value.rfind("sendmail:", 0) == 0 && value.size() > 9) ||
           (value.rfind("smtp://", 0) == 0 && validSmtpUrl(value, 7)) ||
           (value.rfind("smtps://", 0) == 0 && validSmtpUrl(value, 8));
}

// The state of one parse. inih reads through lineReader, so the line being
// handled is always the last one handed out.
struct ParseState {
    std::string path;
    std::string text;
    std::size_t offset = 0;
    int line = 0;
    int errorLine = 0;
    std::string error;  // the first problem, "PATH:LINE: ..."
    std::vector<Profile> profiles;
    std::vector<std::set<std::string>> seenKeys;
    bool afterKey = false;  // the last line that was not blank or a comment held a key

    void fail(const std::string& message) {
        if (error.empty()) {
            errorLine = line;
            error = path + ":" + std::to_string(line) + ": " + message;
        }
    }
};

bool startProfile(ParseState& state, const std::string& section);

// inih reports sections only through the keys in them, so an empty or
// misspelt section would go unnoticed; sections are taken here instead, as
// each line is handed to inih, by inih's rules: an indented line after a key
// continues that key's value, and a line without its ']' is left to inih,
// which reports it as a syntax error.
void noteLine(ParseState& state, const std::string& raw) {
    std::string line = trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
        return;
    }
    bool indented = raw[0] == ' ' || raw[0] == '\t';
    if (line[0] != '[' || (indented && state.afterKey)) {
        state.afterKey = true;
        return;
    }
    state.afterKey = false;
    std::size_t close = line.find(']');
    if (close != std::string::npos) {
        startProfile(state, line.substr(1, close - 1));
    }
}

// Hands inih the next whole line of the file.
char* nextLine(ParseState* state, char* buffer, int size) {
    if (state->offset >= state->text.size() || size < 2) {
        return nullptr;
    }
    std::size_t end = state->text.find('\n', state->offset);
    std::size_t stop = end == std::string::npos ? state->text.size() : end + 1;
    std::size_t length = stop - state->offset;
    ++state->line;
    if (length > static_cast<std::size_t>(size - 1)) {
        // inih would split the line and take the rest for a new line.
        state->fail("line longer than " + std::to_string(size - 2) + " characters");
        return nullptr;
    }
    std::memcpy(buffer, state->text.data() + state->offset, length);
    buffer[length] = '\0';
    state->offset = stop;
    noteLine(*state, std::string(buffer, length));
    return buffer;
}

char* lineReader(char* buffer, int size, void* stream) noexcept {
    auto* state = static_cast<ParseState*>(stream);
    try {
        return nextLine(state, buffer, size);
    } catch (...) {
        state->fail("out of memory");
        return nullptr;
    }
}

bool applyKey(ParseState& state, Profile& profile, const std::string& key,
              const std::string& value) {
    if (key == "address_books") {
        std::string item;
        for (char c : value + ",") {
            if (c == ',' || c == ';') {
                std::string entry = trim(item);
                if (!entry.empty()) {
                    profile.addressBooks.push_back(expandHome(entry));
                }
                item.clear();
            } else {
                item.push_back(c);
            }
        }
        return true;
    }
    if (!state.seenKeys.back().insert(key).second) {
        state.fail("key '" + key + "' given twice");
        return false;
    }
    if (key == "display_name") {
        profile.displayName = value;
    } else if (key == "default" || key == "reject_unicode") {
        bool flag = false;
        if (!parseBool(value, flag)) {
            state.fail("'" + key + "' must be true or false, not '" + value + "'");
            return false;
        }
        (key == "default" ? profile.isDefault : profile.rejectUnicode) = flag;
        if (key == "default" && flag) {
            for (const Profile& other : state.profiles) {
                if (&other != &profile && other.isDefault) {
                    state.fail("profile '" + other.name + "' is the default already");
                    return false;
                }
            }
        }
    } else if (key == "sender_address") {
        profile.senderAddress = value;
    } else if (key == "sender_name") {
        profile.senderName = value;
    } else if (key == "store") {
        if (value.empty()) {
            state.fail("'store' is empty");
            return false;
        }
        profile.storePath = expandHome(value);
    } else if (key == "transport") {
        if (!validTransport(value)) {
            const bool url = value.find("://") != std::string::npos;
            state.fail(url ? "bad transport URL (smtp://HOST[:PORT] or smtps://HOST[:PORT], "
                             "credentials in 'username' and 'password')"
                           : "unknown transport '" + value +
                                 "' (smtp://..., smtps://..., sendmail, sendmail:COMMAND or none)");
            return false;
        }
        profile.transport = value;
    } else if (key == "starttls") {
        if (value != "try" && value != "required") {
            state.fail("unknown starttls '" + value + "' (try or required)");
            return false;
        }
        profile.starttlsRequired = value == "required";
    } else if (key == "username") {
        profile.username = value;
    } else if (key == "password") {
        profile.password = value;
    } else if (key == "netrc") {
        if (value.empty()) {
            state.fail("'netrc' is empty (a file, or default)");
            return false;
        }
        profile.netrc = value == "default" ? value : expandHome(value);
    } else if (key == "timeout") {
        if (value.empty() || value.size() > 4 ||
            value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1 ||
            std::stoi(value) > 3600) {
            state.fail("'timeout' must be a number of seconds from 1 to 3600, not '" + value + "'");
            return false;
        }
        profile.timeout = std::stoi(value);
    } else if (key == "sent_copy") {
        if (!validSentCopy(value)) {
            // Not quoted: a URL with a password in it must not reach the log.
            state.fail("bad sent_copy (imap://HOST[:PORT]/FOLDER or imaps://HOST[:PORT]/FOLDER, "
                       "credentials in 'username' and 'password')");
            return false;
        }
        profile.sentCopy = value;
    } else if (key == "ui") {
        if (value == "auto") {
            profile.ui = UiDriver::Auto;
        } else if (value == "headless") {
            profile.ui = UiDriver::Headless;
        } else if (value == "desktop") {
            profile.ui = UiDriver::Desktop;
        } else {
            state.fail("unknown ui '" + value + "' (auto, headless or desktop)");
            return false;
        }
    } else if (key == "compose") {
        if (value == "auto") {
            profile.compose = ComposeWindow::Auto;
        } else if (value == "mailer") {
            profile.compose = ComposeWindow::Mailer;
        } else if (value == "builtin") {
            profile.compose = ComposeWindow::Builtin;
        } else {
            state.fail("unknown compose '" + value + "' (auto, mailer or builtin)");
            return false;
        }
    } else {
        state.fail("unknown key '" + key + "'");
        return false;
    }
    return true;
}

bool startProfile(ParseState& state, const std::string& section) {
    if (section.rfind(kSectionPrefix, 0) != 0) {
        state.fail("unknown section [" + section + "] (expected [profile NAME])");
        return false;
    }
    std::string name = trim(section.substr(std::strlen(kSectionPrefix)));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        state.fail("bad profile name '" + name + "'");
        return false;
    }
    if (name.size() > kMaxNameLength) {
        state.fail("profile name longer than " + std::to_string(kMaxNameLength) + " characters");
        return false;
    }
    for (const Profile& existing : state.profiles) {
        if (existing.name == name) {
            state.fail("profile '" + name + "' defined twice");
            return false;
        }
    }
    Profile profile;
    profile.name = name;
    state.profiles.push_back(profile);
    state.seenKeys.emplace_back();
    return true;
}

int handler(void* user, const char* section, const char* name, const char* value) {
    auto* state = static_cast<ParseState*>(user);
    try {
        if (section == nullptr || section[0] == '\0' || state->profiles.empty()) {
            state->fail("key outside a [profile NAME] section");
            return 0;
        }
        return applyKey(*state, state->profiles.back(), name != nullptr ? name : "",
                        value != nullptr ? value : "")
                   ? 1
                   : 0;
    } catch (...) {
        state->fail("out of memory");
        return 0;
    }
}

void fillDefaults(std::vector<Profile>& profiles) {
    for (Profile& profile : profiles) {
        if (profile.displayName.empty()) {
            profile.displayName = profile.name;
        }
        if (profile.storePath.empty()) {
            profile.storePath = dataRoot() + "/" + profile.name;
        }
    }
}

}  // namespace

std::string profilesPath() {
    return xdgDirectory("XDG_CONFIG_HOME", ".config") + "/mailbroker/profiles.ini";
}

std::string dataRoot() {
    return xdgDirectory("XDG_DATA_HOME", ".local/share") + "/mailbroker";
}

ProfileLoad loadProfiles() {
    return loadProfilesFrom(profilesPath());
}

ProfileLoad loadProfilesFrom(const std::string& path) {
    ProfileLoad load;
    ParseState state;
    state.path = path;
    // Never blocks: a FIFO or a device named as the file is refused unopened.
    int failure = readRegularFile(path, kMaxFileSize, state.text);
    if (failure == ENOENT) {
        Profile builtIn;
        builtIn.name = "Default";
        builtIn.isDefault = true;
        builtIn.transport = ::access(kSystemSendmail, X_OK) == 0 ? "sendmail" : "none";
        load.profiles.push_back(builtIn);
        fillDefaults(load.profiles);
        load.builtIn = true;
        return load;
    }
    if (failure != 0) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = path + ": cannot be read: " +
                     (failure == EFBIG ? "larger than " + std::to_string(kMaxFileSize) + " bytes"
                                       : regularFileFailureText(failure));
        return load;
    }
    if (state.text.rfind("\xEF\xBB\xBF", 0) == 0) {
        state.text.erase(0, 3);  // a UTF-8 byte order mark
    }
    if (state.text.find('\0') != std::string::npos) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = path + ": contains a NUL byte; not a text file";
        return load;
    }
    int firstError = ini_parse_stream(lineReader, &state, handler, &state);
    if (firstError > 0 && (state.error.empty() || firstError < state.errorLine)) {
        // inih's own syntax errors do not reach the handler; it reports the
        // line of the first error. It wins when it comes before ours.
        state.error.clear();
        state.line = firstError;
        state.fail("syntax error (expected [profile NAME], key = value or a comment)");
    } else if (firstError < 0 && state.error.empty()) {
        state.fail("cannot be parsed (out of memory)");
    }
    if (!state.error.empty()) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = state.error;
        return load;
    }
    load.profiles = std::move(state.profiles);
    fillDefaults(load.profiles);
    return load;
}

const Profile* defaultProfile(const ProfileLoad& load) {
    for (const Profile& profile : load.profiles) {
        if (profile.isDefault) {
            return &profile;
        }
    }
    return nullptr;
}

}  // namespace mb::provider
